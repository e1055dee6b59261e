// Batch runs: the scenes' outputs named and checked for clashes first, then the scenes
// taken in turn by worker threads, while the main thread prints what each one reports.
#include "driver/batch.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "ase/scene.h"
#include "driver/progress.h"
#include "output/output.h"

namespace tessloom {

namespace {

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Refuses two scenes with the same output: both named, and how many more clashes there are,
// on one line. Under --each the outputs are OUT.N.obj, which only the same OUT gives.
bool outputsClash(const std::vector<std::string>& scenes, const std::string& outDir) {
    std::unordered_map<std::string, std::size_t> first;
    first.reserve(scenes.size());
    std::size_t clashes = 0;
    std::string line;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        std::string out = batchOutputPath(outDir, scenes[i]);
        if (out.empty()) continue;  // fails on its own: it names no file
        const auto [at, added] = first.emplace(std::move(out), i);
        if (added) continue;
        if (clashes++ == 0) {
            const std::string& other = scenes[at->second];
            line = "tessloom: " + output::escaped(other) + " and " + output::escaped(scenes[i]) +
                   (other == scenes[i] ? " are the same scene"
                                       : " give the same output " + output::escaped(at->first));
        }
    }
    if (clashes == 0) return false;
    if (clashes > 1)
        line += " (and " + output::counted(clashes - 1, "more clash", "more clashes") + ")";
    line += "; nothing converted\n";
    std::fputs(line.c_str(), stderr);
    return true;
}

// Refuses a scene that is, by another name (a symbolic link, or a numbered --each name),
// the entry another scene's output replaces: it would be read before or after the
// replacement as the threads happen to run. Both are taken to the path that remains once
// every link is followed; a hard link keeps the replaced file and is no such scene. Only
// outputs that exist can be scenes; under --each, the numbered files that exist.
bool scenesThatAreOutputs(const std::vector<std::string>& scenes, const std::string& outDir,
                          bool each) {
    // first by file (a stat each), then, for the few that match, by the path links lead to
    using Id = std::pair<std::uint64_t, std::uint64_t>;
    struct IdHash {
        std::size_t operator()(const Id& id) const {
            return std::hash<std::uint64_t>()(id.second * 1000003u ^ id.first);
        }
    };
    auto idOf = [](const std::string& path) -> std::optional<Id> {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return Id{st.st_dev, st.st_ino};
    };
    auto resolved = [](const std::string& path) {
        char* real = ::realpath(path.c_str(), nullptr);
        std::string text = real ? real : "";
        std::free(real);
        return text;
    };
    struct Output {
        std::string path;
        std::size_t scene;
    };
    std::unordered_multimap<Id, Output, IdHash> outputs;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        const std::string out = batchOutputPath(outDir, scenes[i]);
        if (out.empty()) continue;
        for (std::size_t n = 0;; ++n) {
            std::string path = each ? eachOutputPath(out, n) : out;
            const auto id = idOf(path);
            if (id) outputs.emplace(*id, Output{std::move(path), i});
            if (!id || !each) break;
        }
    }
    if (outputs.empty()) return false;
    std::size_t found = 0;
    std::string line;
    for (std::size_t j = 0; j < scenes.size(); ++j) {
        const auto id = idOf(scenes[j]);
        if (!id) continue;
        const auto [first, last] = outputs.equal_range(*id);
        for (auto at = first; at != last; ++at) {
            // a scene that is its own output fails on its own, as in the one-scene run
            if (at->second.scene == j) continue;
            const std::string real = resolved(scenes[j]);
            if (real.empty() || real != resolved(at->second.path)) continue;
            if (found++ == 0) {
                line = "tessloom: " + output::escaped(scenes[j]) + " is an output of " +
                       output::escaped(scenes[at->second.scene]);
            }
            break;
        }
    }
    if (found == 0) return false;
    if (found > 1) line += " (and " + output::counted(found - 1, "more", "more") + ")";
    line += "; nothing converted\n";
    std::fputs(line.c_str(), stderr);
    return true;
}

// Makes the folder and its missing parents, as `mkdir -p` does; errno tells why not.
bool makeFolders(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    if (errno != ENOENT) return false;
    const std::size_t slash = path.find_last_not_of('/');
    const std::size_t parent = slash == std::string::npos ? slash : path.rfind('/', slash);
    if (parent != std::string::npos && parent != 0 && !makeFolders(path.substr(0, parent))) {
        return false;
    }
    return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// The output folder, created when missing with its parents, and open for new files. Prints
// the one line of a failure.
bool readyFolder(const std::string& outDir) {
    const std::string shown = output::escaped(outDir);
    const bool made = makeFolders(outDir);
    const int error = errno;
    struct stat st {};
    if (!made || ::stat(outDir.c_str(), &st) != 0) {
        const std::string reason = std::strerror(made ? errno : error);
        std::fputs(
            ("tessloom: cannot create the output folder " + shown + ": " + reason + "\n").c_str(),
            stderr);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::fputs(("tessloom: the output folder " + shown + " is not a directory\n").c_str(),
                   stderr);
        return false;
    }
    // otherwise every scene would fail alike, each with a line of its own
    if (::faccessat(AT_FDCWD, outDir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        std::fputs(("tessloom: cannot write in the output folder " + shown + ": " +
                    std::strerror(errno) + "\n")
                       .c_str(),
                   stderr);
        return false;
    }
    return true;
}

// The workers the descriptor limit leaves room for: each holds its scene and an output
// open at once, with room to spare, besides the standard streams and the output folder.
// More would fail scenes for want of descriptors that the run itself took.
std::size_t workersTheDescriptorsAllow(std::size_t wanted) {
    constexpr rlim_t kReserved = 8, kPerWorker = 4;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
    const rlim_t room = limit.rlim_cur > kReserved ? (limit.rlim_cur - kReserved) / kPerWorker : 0;
    return std::max<std::size_t>(1, std::min<rlim_t>(wanted, room));
}

// What the workers hand the main thread: each scene's messages as one piece, and the count.
class Reports {
  public:
    void add(Conversion done) {
        {
            const std::lock_guard lock(mutex_);
            pending_.push_back(std::move(done));
        }
        ready_.notify_one();
    }

    // The reports that came since the last call, waiting for one when there is none.
    std::deque<Conversion> take() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !pending_.empty(); });
        return std::exchange(pending_, {});
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Conversion> pending_;
};

}  // namespace

std::string batchOutputPath(const std::string& outDir, const std::string& scenePath) {
    const std::string name = fileNameOf(scenePath);
    if (name.empty() || name == "." || name == "..") return {};
    std::string path = outDir;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + defaultOutputPath(name);
}

int convertBatch(const std::vector<std::string>& scenes, const BatchOptions& options) {
    const bool each = options.choice && options.choice->kind == MeshChoice::Kind::kEach;
    if (outputsClash(scenes, options.outDir) ||
        scenesThatAreOutputs(scenes, options.outDir, each) || !readyFolder(options.outDir)) {
        return 1;
    }

    std::atomic<std::size_t> next{0};
    Reports reports;
    auto convertOne = [&](std::size_t i) {
        const std::string& scene = scenes[i];
        const std::string out = batchOutputPath(options.outDir, scene);
        try {
            return convertFile(scene, out.empty() ? std::nullopt : std::optional(out),
                               options.choice, options.run, false);
        } catch (...) {  // a report that could not be made: the scene counts as failed
            return Conversion{.ok = false,
                              .messages = "tessloom: " + output::escaped(scene) +
                                          ": out of memory for the scene's tables\n"};
        }
    };
    auto work = [&] {
        for (std::size_t i = next++; i < scenes.size(); i = next++) reports.add(convertOne(i));
    };

    std::vector<std::thread> workers;
    {
        // The workers start with the termination signals held, which they keep: a signal
        // goes to this thread, whose only work is to wait and print, and the output
        // module's handler removes every temporary file there.
        const output::TerminationSignalsHeld held;
        const std::size_t jobs =
            workersTheDescriptorsAllow(std::min<std::size_t>(options.jobs, scenes.size()));
        workers.reserve(jobs);
        for (std::size_t n = 0; n < jobs; ++n) {
            try {
                workers.emplace_back(work);
            } catch (const std::system_error&) {
                break;  // those started do the work
            }
        }
    }
    if (workers.empty()) work();  // no thread to be had: the scenes one after another here

    std::size_t finished = 0, failed = 0;
    std::optional<ProgressLine> progress;
    if (ProgressLine::wanted()) {
        progress.emplace("tessloom: converting " +
                         output::counted(scenes.size(), "scene", "scenes"));
    }
    while (finished < scenes.size()) {
        for (const Conversion& done : reports.take()) {
            ++finished;
            failed += done.ok ? 0 : 1;
            if (done.messages.empty()) continue;
            if (progress) progress->done();
            std::fwrite(done.messages.data(), 1, done.messages.size(), stderr);
        }
        if (progress) progress->update(double(finished) / double(scenes.size()));
    }
    for (std::thread& worker : workers) worker.join();
    progress.reset();
    std::fprintf(stderr, "%zu converted, %zu failed\n", scenes.size() - failed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace tessloom
