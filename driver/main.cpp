// tessloom: converts one ASE scene into a binary mesh file, or many into a folder.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
// after a C library header, which defines __GLIBC__ where it applies
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "driver/batch.h"
#include "driver/converter.h"

namespace {

constexpr const char* kUsage = "Usage: tessloom <inputfile> [<outputfile>]";

constexpr const char* kOptions =
    "\n"
    "Converts an ASE scene into a binary mesh file; the output defaults to the input's path\n"
    "with its last four characters replaced by \".obj\". A scene of several meshes gives the\n"
    "last one, with a warning; these options take the others:\n"
    "  --mesh N|NAME  only mesh N (counted from 0) or the mesh of that node name; without\n"
    "                 an output path, to the file --each gives that mesh\n"
    "  --each         every mesh to its own file: OUT.obj gives OUT.0.obj, OUT.1.obj, ...\n"
    "  --merge        every mesh in one file\n"
    "  --keep-uv      tiling starts at 1: a material without tiling keeps its texture coordinates\n"
    "  --fix-normals  vertex normals listed apart reach their corners; missing normals are\n"
    "                 computed from the faces and their smoothing groups\n"
    "  --fix          --keep-uv and --fix-normals\n"
    "  --strict       any warning fails the conversion: nothing is written\n"
    "  --quiet        no progress line on a terminal (warnings still show)\n"
    "Many scenes in one run: tessloom --out-dir DIR [-j N] [options] SCENE...\n"
    "  --out-dir DIR  every scene to DIR, named as above from its file name (DIR is made\n"
    "                 when missing); with --each or --merge as above, not with --mesh.\n"
    "                 One line per failed scene, then \"N converted, M failed\"; scenes\n"
    "                 whose outputs would share a name are refused before any work\n"
    "  -j, --jobs N   N scenes at once (default: one per core)\n"
    "  --from FILE    the scenes' paths from FILE too, one a line (- reads standard input)\n"
    "  -0             --from's paths end in a NUL byte instead (find -print0)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "  --             ends the options\n";

// The input must open for reading, as the conversion opens it, and be a regular file.
// `reason` says why not, unless the path is simply missing: the missing-input message says
// all there is then.
bool inputExists(const char* path, std::string& reason) {
    try {
        const tessloom::meshfile::InputFile input(path);
        return true;
    } catch (const tessloom::meshfile::InputFile::OpenError& e) {
        struct stat st {};
        if (e.notRegular() || (::stat(path, &st) == 0 && !S_ISREG(st.st_mode))) {
            reason = "not a regular file";  // a socket, which no open() takes, too
        } else if (e.error() != ENOENT && e.error() != ENOTDIR) {
            reason = e.what();
        }
        return false;
    }
}

// One line on standard error, then the usage line on standard output as it always was.
int usage(std::string_view reason) {
    std::fputs(("tessloom: " + tessloom::output::escaped(reason) + "\n").c_str(), stderr);
    std::fputs(kUsage, stdout);
    return 1;
}

constexpr unsigned kMaxJobs = 1024;

bool jobsOf(std::string_view text, unsigned& jobs) {
    unsigned n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc{} || end != text.data() + text.size() || n == 0 || n > kMaxJobs)
        return false;
    jobs = n;
    return true;
}

// The paths of a --from list ("-": standard input) added to `scenes`, one a line or ending
// in a NUL byte; empty ones skipped. Returns why the list cannot be read, or nothing.
std::string readList(const std::string& list, bool nulSeparated, std::vector<std::string>& scenes) {
    const std::string shown = tessloom::output::escaped(list);
    std::FILE* file = list == "-" ? stdin : std::fopen(list.c_str(), "rb");
    if (!file) return "cannot read --from " + shown + ": " + std::strerror(errno);
    const char end = nulSeparated ? '\0' : '\n';
    std::string path;
    int c = 0;
    while ((c = getc_unlocked(file)) != EOF) {
        if (static_cast<char>(c) != end) {
            path += static_cast<char>(c);
        } else if (!path.empty()) {
            scenes.push_back(std::move(path));
            path.clear();
        }
    }
    if (!path.empty()) scenes.push_back(std::move(path));
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    if (file != stdin) std::fclose(file);
    if (failed) return "cannot read --from " + shown + ": " + std::strerror(error);
    return {};
}

int printed(int written) {
    return written >= 0 && std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit or a closed pipe then fails the write, which is reported and cleaned
    // up, instead of killing the process with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // a termination signal removes the temporary files of the outputs still pending
    tessloom::output::catchTerminationSignals();
#if defined(__GLIBC__)
    // The read buffer of a large scene (a quarter MiB) comes from the heap, where the C
    // library itself moves it once a first such buffer is freed, rather than from a mapping
    // of its own: freed, its pages serve the mesh search and the output buffer without new
    // page faults, and no system calls map and unmap it. Tables of a MiB or more are still
    // mapped.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 2 << 20);
#endif
    using tessloom::MeshChoice;
    std::optional<MeshChoice> choice;
    tessloom::RunOptions options;
    std::string_view chosen;  // the option that made the choice, for a second one
    tessloom::BatchOptions batch;
    bool batched = false, jobsGiven = false, nulSeparated = false;
    std::vector<std::string> lists;  // --from files
    int i = 1;
    // options come first; "-" alone is a path, and so is every word after the first path
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help" || arg == "-h") return printed(std::printf("%s%s", kUsage, kOptions));
        if (arg == "--version") return printed(std::printf("tessloom %s\n", TESSLOOM_VERSION));
        // a switch of its own is one more branch here; a mesh choice sets `next`
        std::optional<MeshChoice> next;
        if (arg == "--keep-uv") {
            options.repairs.keepUv = true;
        } else if (arg == "--fix-normals") {
            options.repairs.fixNormals = true;
        } else if (arg == "--fix") {
            options.repairs = {.keepUv = true, .fixNormals = true};
        } else if (arg == "--strict") {
            options.strict = true;
        } else if (arg == "--quiet") {
            tessloom::ProgressLine::quiet();
        } else if (arg == "--each") {
            next = MeshChoice{MeshChoice::Kind::kEach, ""};
        } else if (arg == "--merge") {
            next = MeshChoice{MeshChoice::Kind::kMerge, ""};
        } else if (arg == "--out-dir" || arg.starts_with("--out-dir=")) {
            if (batched) return usage("--out-dir is given twice");
            if (arg == "--out-dir" && i + 1 == argc) return usage("--out-dir needs a folder");
            batch.outDir = arg == "--out-dir" ? argv[++i] : std::string(arg.substr(10));
            if (batch.outDir.empty()) return usage("--out-dir needs a folder");
            batched = true;
        } else if (arg == "-j" || arg == "--jobs" || arg.starts_with("--jobs=") ||
                   (arg.starts_with("-j") && !arg.starts_with("--"))) {
            const bool apart = arg == "-j" || arg == "--jobs";
            if (apart && i + 1 == argc) return usage(std::string(arg) + " needs a number");
            const std::string_view value =
                apart ? std::string_view(argv[++i]) : arg.substr(arg[1] == 'j' ? 2 : 7);
            if (!jobsOf(value, batch.jobs)) {
                return usage(std::string(arg.substr(0, arg[1] == 'j' ? 2 : 6)) +
                             " needs a number of threads from 1 to " + std::to_string(kMaxJobs) +
                             ", not " + std::string(value));
            }
            jobsGiven = true;
        } else if (arg == "--from" || arg.starts_with("--from=")) {
            if (arg == "--from" && i + 1 == argc) return usage("--from needs a file");
            lists.emplace_back(arg == "--from" ? argv[++i] : std::string(arg.substr(7)));
        } else if (arg == "-0") {
            nulSeparated = true;
        } else if (arg == "--mesh" || arg.starts_with("--mesh=")) {
            if (arg == "--mesh" && i + 1 == argc)
                return usage("--mesh needs a mesh number or name");
            next = MeshChoice{MeshChoice::Kind::kOne,
                              arg == "--mesh" ? argv[++i] : std::string(arg.substr(7))};
        } else {
            return usage("unknown option " + std::string(arg));
        }
        if (!next) continue;
        const std::string_view name = arg.substr(0, arg.find('='));
        if (choice) {
            return usage(name == chosen ? std::string(name) + " is given twice"
                                        : std::string(chosen) + " and " + std::string(name) +
                                              " exclude each other");
        }
        choice = next;
        chosen = name;
    }
    const int positional = argc - i;
    if (!batched) {
        if (jobsGiven) return usage("-j needs --out-dir");
        if (!lists.empty()) return usage("--from needs --out-dir");
        if (nulSeparated) return usage("-0 needs --out-dir");
    } else {
        if (choice && choice->kind == MeshChoice::Kind::kOne)
            return usage("--mesh and --out-dir exclude each other");
        if (nulSeparated && lists.empty()) return usage("-0 needs --from");
        std::vector<std::string> scenes(argv + i, argv + argc);
        for (const std::string& list : lists) {
            if (const std::string failure = readList(list, nulSeparated, scenes); !failure.empty())
                return usage(failure);
        }
        if (scenes.empty()) return usage("no scene to convert");
        if (!jobsGiven) batch.jobs = std::max(1u, std::thread::hardware_concurrency());
        batch.choice = choice;
        batch.run = options;
        return tessloom::convertBatch(scenes, batch);
    }
    if (positional == 0) return usage("no input path");
    if (positional > 2) return usage("too many paths");
    const char* input = argv[i];
    if (std::string reason; !inputExists(input, reason)) {
        if (!reason.empty()) {
            std::fputs(
                ("tessloom: " + tessloom::output::escaped(input) + ": " + reason + "\n").c_str(),
                stderr);
        }
        std::printf("# %s not found!\n", input);
        return 1;
    }
    const std::optional<std::string> output =
        positional == 2 ? std::optional<std::string>(argv[i + 1]) : std::nullopt;
    if (choice) return tessloom::convertMeshes(input, output, *choice, options);
    return tessloom::convertScene(input, output, options);
}
