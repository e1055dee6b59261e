// inprocess: what converting many scenes costs through the library, in one process, against
// the tessloom tool started once per scene. The scenes of a folder (*.ase, any case) are read
// into memory first; a library round converts each one from memory and encodes it, a tool
// round runs the tool on each file with its output in a temporary folder. The rounds of the
// two alternate, each going first every other round, after one warm-up round of each that
// also checks that both give the same bytes. Prints the medians of the totals and their
// ratio.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "tessloom/convert.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Scene {
    fs::path path;
    std::string text;
};

std::vector<Scene> scenesIn(const fs::path& folder) {
    std::vector<Scene> scenes;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        std::string ext = e.path().extension().string();
        for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (ext != ".ase" || !e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        scenes.push_back({e.path(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(scenes.begin(), scenes.end(),
              [](const Scene& a, const Scene& b) { return a.path < b.path; });
    return scenes;
}

// The encoded bytes of every scene that converts, an empty entry for one that fails.
std::vector<std::vector<std::byte>> libraryRound(const std::vector<Scene>& scenes) {
    std::vector<std::vector<std::byte>> files;
    for (const Scene& s : scenes) {
        try {
            const tessloom::MeshFile mesh =
                tessloom::convert(std::as_bytes(std::span(s.text)), {.name = s.path.string()});
            files.push_back(tessloom::encode(mesh));
        } catch (const tessloom::ConvertError&) {
            files.emplace_back();
        }
    }
    return files;
}

// Runs the tool once per scene, output to `out`, its messages to /dev/null; whether each
// succeeded, or nothing when a process could not be started.
std::vector<bool> toolRound(const std::string& tool, const std::vector<Scene>& scenes,
                            const std::string& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<bool> converted;
    for (const Scene& s : scenes) {
        const std::string input = s.path.string();
        char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>(input.c_str()),
                        const_cast<char*>(out.c_str()), nullptr};
        pid_t pid = 0;
        int status = 0;
        if (::posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid) {
            converted.clear();
            break;
        }
        converted.push_back(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    return converted;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

template <class Run>
double secondsOf(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 9;
    double minRatio = 0;
    std::string tool = TESSLOOM_BINARY;
    fs::path folder = TESSLOOM_CORPUS_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--tool" && i + 1 < argc) {
            tool = argv[++i];
        } else if (arg == "--min-ratio" && i + 1 < argc) {
            minRatio = std::atof(argv[++i]);
        } else if (!arg.starts_with("-")) {
            folder = arg;
        } else {
            std::fputs("usage: inprocess [--rounds N] [--tool PATH] [--min-ratio R] [FOLDER]\n",
                       stderr);
            return 2;
        }
    }
    const std::vector<Scene> scenes = scenesIn(folder);
    if (scenes.empty()) {
        std::printf("inprocess: no scenes in %s: skipped\n", folder.c_str());
        return 0;
    }
    // in memory where there is such a folder: the tool's writes cost no disk
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string dir = (base / "inprocess-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::fprintf(stderr, "inprocess: cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string out = dir + "/out.obj";

    // the warm-up: both convert the same scenes to the same bytes
    const std::vector<std::vector<std::byte>> files = libraryRound(scenes);
    bool same = true;
    for (std::size_t i = 0; i < scenes.size() && same; ++i) {
        const std::vector<bool> converted = toolRound(tool, {scenes[i]}, out);
        const std::string bytes = converted.size() == 1 && converted[0] ? readAll(out) : "";
        const auto* first = reinterpret_cast<const char*>(files[i].data());
        same = converted.size() == 1 && bytes == std::string(first, files[i].size());
        if (!same) std::fprintf(stderr, "inprocess: %s differs\n", scenes[i].path.c_str());
    }
    std::vector<double> library, processes;
    for (int r = 0; r < rounds && same; ++r) {
        auto libraryRun = [&] {
            std::vector<std::vector<std::byte>> got;  // freed after the timing
            library.push_back(secondsOf([&] { got = libraryRound(scenes); }));
            same = got == files;
        };
        auto toolRun = [&] {
            processes.push_back(
                secondsOf([&] { same = toolRound(tool, scenes, out).size() == scenes.size(); }));
        };
        if (r % 2 == 0) {
            libraryRun();
            if (same) toolRun();
        } else {
            toolRun();
            if (same) libraryRun();
        }
    }
    fs::remove_all(dir);
    if (!same) {
        std::fputs("inprocess: the library and the tool differ, or the tool did not run\n", stderr);
        return 1;
    }

    std::size_t bytes = 0, converted = 0;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        bytes += scenes[i].text.size();
        converted += !files[i].empty();
    }
    const double lib = median(library), tools = median(processes);
    std::printf("%zu scenes (%zu convert), %.1f KB, %d rounds, median ms per round\n",
                scenes.size(), converted, static_cast<double>(bytes) / 1e3, rounds);
    std::printf("  library, from memory, one process  %9.3f ms\n", lib * 1e3);
    std::printf("  tool, one process per scene        %9.3f ms\n", tools * 1e3);
    std::printf("  tool / library %.2f\n", tools / lib);
    if (tools / lib < minRatio) {
        std::fprintf(stderr, "inprocess: the library is %.2f times as fast as the tool, not %.2f\n",
                     tools / lib, minRatio);
        return 1;
    }
    return 0;
}
