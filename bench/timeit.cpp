// timeit: runs whole commands alternately and reports median wall time, MB/s and peak memory.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Command {
    std::string label, line;
    std::vector<double> seconds;
    long peakKiB = 0;
};

// Runs `line` through the shell; false when it fails.
bool runOnce(Command& c) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", c.line.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return false;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c.seconds.push_back(elapsed);
    c.peakKiB = std::max(c.peakKiB, usage.ru_maxrss);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string input;
    std::vector<Command> commands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--input" && i + 1 < argc) {
            input = argv[++i];
        } else if (const auto eq = arg.find('='); eq != std::string::npos) {
            commands.push_back({arg.substr(0, eq), "exec " + arg.substr(eq + 1), {}, 0});
        }
    }
    struct stat st {};
    if (commands.empty() || input.empty() || ::stat(input.c_str(), &st) != 0) {
        std::fputs("usage: timeit --input FILE [--runs N] LABEL=COMMAND...\n", stderr);
        return 2;
    }
    for (Command& c : commands) {  // warm-up, also brings the input into the page cache
        if (!runOnce(c)) {
            std::fprintf(stderr, "timeit: %s failed\n", c.label.c_str());
            return 1;
        }
        c.seconds.clear();
    }
    for (int r = 0; r < runs; ++r) {
        for (Command& c : commands) {
            if (!runOnce(c)) {
                std::fprintf(stderr, "timeit: %s failed\n", c.label.c_str());
                return 1;
            }
        }
    }
    const double megabytes = static_cast<double>(st.st_size) / 1e6;
    std::printf("%s: %.1f MB, %d runs each\n", input.c_str(), megabytes, runs);
    const double base = median(commands[0].seconds);
    for (const Command& c : commands) {
        const double m = median(c.seconds);
        std::printf(
            "  %-10s median %7.3f s  %7.1f MB/s  peak %7.1f MiB  tessloom time / this %.2f\n",
            c.label.c_str(), m, megabytes / m, static_cast<double>(c.peakKiB) / 1024, base / m);
    }
    return 0;
}
