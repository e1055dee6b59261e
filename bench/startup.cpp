// startup: what one process per scene costs. Runs each program once per file, interleaved
// file by file and round by round, and prints per-file and total medians with their ratios:
// wall time, and CPU time (user and system), which waiting for a busy machine's cores leaves
// out. Which program reads a file first changes its time, so the programs that read it take
// turns at that: each round starts with the next one, and every other run of
// rounds goes the other way round (two programs: AB, BA; three: all six orders); the floor
// comes last.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Program {
    std::string label, path;
    bool takesOutput;                          // writes a mesh: gets an output path after the input
    std::vector<std::vector<double>> seconds;  // per file, per round
    std::vector<std::vector<double>> cpu;      // the same, user and system time
    std::vector<long> faults;                  // minor page faults, per run
    int failures = 0;
};

double secondsOf(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Wall time of one run, negative when it failed; `cpu` gets its user and system time.
double runOnce(Program& p, const std::string& input, const std::string& output, double& cpu) {
    std::vector<const char*> argv = {p.path.c_str()};
    if (!input.empty()) argv.push_back(input.c_str());
    if (p.takesOutput) argv.push_back(output.c_str());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, p.path.c_str(), nullptr, nullptr, const_cast<char**>(argv.data()),
                      environ) != 0) {
        return -1;
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid) return -1;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    p.faults.push_back(usage.ru_minflt);
    cpu = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -elapsed;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 11;
    // each output removed before its run: a first conversion, not a replacement (on ext4 a
    // rename over an existing file also starts writing the new one back)
    bool fresh = false;
    std::string outDir = std::filesystem::temp_directory_path().string();
    std::vector<Program> programs;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rounds" && hasValue) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--fresh") {
            fresh = true;
        } else if (arg == "--out" && hasValue) {
            outDir = argv[++i];
        } else if ((arg == "--converter" || arg == "--floor" || arg == "--peer") && hasValue) {
            // --converter LABEL=PATH, repeatable: the first is the one the ratios are about
            const std::string value = argv[++i];
            const auto eq = value.find('=');
            const std::string label = eq == std::string::npos ? arg.substr(2) : value.substr(0, eq);
            const std::string path = eq == std::string::npos ? value : value.substr(eq + 1);
            programs.push_back({label, path, arg == "--converter", {}, {}, {}});
        } else {
            files.push_back(arg);
        }
    }
    auto has = [&](const char* label) {
        return std::any_of(programs.begin(), programs.end(),
                           [&](const Program& p) { return p.label == label; });
    };
    if (files.empty() || programs.empty() || !programs[0].takesOutput || !has("floor")) {
        std::fputs(
            "usage: startup [--rounds N] [--out DIR] [--fresh] --converter [LABEL=]PATH... --floor "
            "PATH "
            "[--peer PATH] FILE...\n",
            stderr);
        return 2;
    }
    for (Program& p : programs) {
        p.seconds.assign(files.size(), {});
        p.cpu.assign(files.size(), {});
    }
    std::vector<std::size_t> readers;  // the programs that read the file, by index
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (programs[i].label != "floor") readers.push_back(i);
    }
    // round 0 warms the page cache and is not counted
    for (int r = 0; r <= rounds; ++r) {
        const std::size_t n = readers.size(), turn = static_cast<std::size_t>(r);
        std::vector<std::size_t> order;
        for (std::size_t k = 0; k < n; ++k) order.push_back(readers[(k + turn) % n]);
        if (turn / n % 2 == 1) std::reverse(order.begin(), order.end());
        for (std::size_t i = 0; i < programs.size(); ++i) {
            if (programs[i].label == "floor") order.push_back(i);
        }
        for (std::size_t f = 0; f < files.size(); ++f) {
            for (const std::size_t k : order) {
                Program& p = programs[k];
                const std::string output = outDir + "/startup-" + p.label + ".obj";
                if (fresh) std::filesystem::remove(output);
                double cpu = 0;
                double t = runOnce(p, p.label == "floor" ? "" : files[f], output, cpu);
                if (t < 0) {
                    // a converter must succeed; a peer that fails (or crashes) is timed anyway
                    std::fprintf(stderr, "startup: %s failed on %s\n", p.label.c_str(),
                                 files[f].c_str());
                    if (p.takesOutput) return 1;
                    t = -t;
                    if (r > 0) ++p.failures;
                }
                if (r > 0) {
                    p.seconds[f].push_back(t);
                    p.cpu[f].push_back(cpu);
                }
            }
        }
    }

    std::printf("%zu files, %d rounds, median ms per run\n%-44s %9s", files.size(), rounds, "file",
                "KB");
    for (const Program& p : programs) std::printf(" %9s", p.label.c_str());
    std::printf("\n");
    std::vector<double> totals(programs.size(), 0), cpuTotals(programs.size(), 0);
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(files[f], ec);
        std::printf("%-44s %9.1f", std::filesystem::path(files[f]).filename().string().c_str(),
                    ec ? 0.0 : static_cast<double>(size) / 1e3);
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const double m = median(programs[i].seconds[f]);
            totals[i] += m;
            cpuTotals[i] += median(programs[i].cpu[f]);
            std::printf(" %9.3f", m * 1e3);
        }
        std::printf("\n");
    }
    std::printf("%-44s %9s", "total", "");
    for (const double t : totals) std::printf(" %9.3f", t * 1e3);
    std::printf("\n");
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::vector<double> faults(programs[i].faults.begin(), programs[i].faults.end());
        std::printf("%-10s total %8.3f ms  cpu %8.3f ms  median page faults %5.0f",
                    programs[i].label.c_str(), totals[i] * 1e3, cpuTotals[i] * 1e3, median(faults));
        if (i != 0) {
            std::printf("  %s / %s %.3f (cpu %.3f)", programs[0].label.c_str(),
                        programs[i].label.c_str(), totals[0] / totals[i],
                        cpuTotals[0] / cpuTotals[i]);
        }
        if (programs[i].failures) std::printf("  (%d failed runs)", programs[i].failures);
        std::printf("\n");
    }
    return 0;
}
