// tessloom: converts one ASE scene into a binary mesh file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/converter.h"

namespace {

constexpr const char* kUsage = "Usage: tessloom <inputfile> [<outputfile>]";

constexpr const char* kOptions =
    "\n"
    "Converts an ASE scene into a binary mesh file; the output defaults to the input's path\n"
    "with its last four characters replaced by \".obj\". A scene of several meshes gives the\n"
    "last one, with a warning; these options take the others:\n"
    "  --mesh N|NAME  only mesh N (counted from 0) or the mesh of that node name\n"
    "  --each         every mesh to its own file: OUT.obj gives OUT.0.obj, OUT.1.obj, ...\n"
    "  --merge        every mesh in one file\n"
    "  --quiet        no progress line on a terminal (warnings still show)\n"
    "  --help         this text\n"
    "  --version      the version\n"
    "  --             ends the options\n";

// The input must open for reading and not be a directory. O_NONBLOCK: a FIFO that nobody
// writes to opens at once, to be rejected by the converter instead of waited on.
bool inputExists(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return !directory;
}

int usage() {
    std::fputs(kUsage, stdout);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit or a closed pipe then fails the write, which is reported and cleaned
    // up, instead of killing the process with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    using tessloom::MeshChoice;
    std::optional<MeshChoice> choice;
    int i = 1;
    // options come first; "-" alone is a path
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help") {
            std::printf("%s%s", kUsage, kOptions);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        }
        if (arg == "--version") {
            std::printf("tessloom %s\n", TESSLOOM_VERSION);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        }
        if (arg == "--quiet") {
            tessloom::ProgressLine::quiet();
            continue;
        }
        MeshChoice next;
        if (arg == "--each") {
            next.kind = MeshChoice::Kind::kEach;
        } else if (arg == "--merge") {
            next.kind = MeshChoice::Kind::kMerge;
        } else if (arg == "--mesh" && i + 1 < argc) {
            next.selector = argv[++i];
        } else if (arg.starts_with("--mesh=")) {
            next.selector = arg.substr(7);
        } else {
            return usage();
        }
        if (choice) return usage();  // one of --mesh, --each, --merge
        choice = next;
    }
    const int positional = argc - i;
    if (positional != 1 && positional != 2) return usage();
    const char* input = argv[i];
    if (!inputExists(input)) {
        std::printf("# %s not found!\n", input);
        return 1;
    }
    const std::optional<std::string> output =
        positional == 2 ? std::optional<std::string>(argv[i + 1]) : std::nullopt;
    if (choice) return tessloom::convertMeshes(input, output, *choice);
    return tessloom::convertScene(input, output);
}
