// tessloom: converts one ASE scene into a binary mesh file.
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "driver/converter.h"

namespace {

// The input must open for reading and be a file, not a directory.
bool inputExists(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    struct stat st {};
    const bool directory = ::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
    std::fclose(file);
    return !directory;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit or a closed pipe then fails the write, which is reported and cleaned
    // up, instead of killing the process with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 2 && argc != 3) {
        std::fputs("Usage: tessloom <inputfile> [<outputfile>]", stdout);
        return 1;
    }
    if (!inputExists(argv[1])) {
        std::printf("# %s not found!\n", argv[1]);
        return 1;
    }
    const std::optional<std::string> output =
        argc == 3 ? std::optional<std::string>(argv[2]) : std::nullopt;
    return tessloom::convertScene(argv[1], output);
}
