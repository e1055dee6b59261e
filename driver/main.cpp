// tessloom: converts one ASE scene into a binary mesh file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "driver/converter.h"

namespace {

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
