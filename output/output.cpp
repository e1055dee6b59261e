// Outputs: links resolved, the destination checked, a temporary file beside it written with
// checked writes and renamed into place; descriptors and devices written where they stand.
#include "output/output.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace tessloom::output {

namespace {

// Links followed before the output is taken for a loop, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw OutputError(what + " " + path + ": " + std::strerror(errno));
}

struct SplitPath {
    std::string directory;  // "." for a bare name
    std::string name;
};

SplitPath splitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// N when `path` is an entry of this process's descriptor directory, where /dev/stdout,
// /dev/fd/N and /proc/self/fd/N lead; -1 otherwise.
int descriptorEntry(const std::string& path) {
    const SplitPath split = splitPath(path);
    int fd = -1;
    const char* first = split.name.data();
    const char* last = first + split.name.size();
    if (split.name.empty() || std::from_chars(first, last, fd).ptr != last || fd < 0) return -1;
    struct stat directory {
    }, own{};
    if (::stat(split.directory.c_str(), &directory) != 0 || ::stat("/proc/self/fd", &own) != 0 ||
        directory.st_dev != own.st_dev || directory.st_ino != own.st_ino) {
        return -1;
    }
    return fd;
}

// Where the output really goes: a path that need not exist yet, or one of our own
// descriptors.
struct Destination {
    std::string path;
    int descriptor = -1;
};

// Follows symbolic links until the path names no link, or one of our descriptors: such a
// link's text names the file behind the descriptor, and a rename over that name would
// destroy what the descriptor's owner wrote before (a shell's `>>` or `{ ...; } >`).
Destination resolveLinks(const std::string& outputPath) {
    std::string path = outputPath;
    for (int hops = 0;; ++hops) {
        if (const int fd = descriptorEntry(path); fd >= 0) return {path, fd};
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {path, -1};
        if (hops == kMaxLinkHops) {
            throw OutputError("too many levels of symbolic links at " + outputPath);
        }
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n < 0) fail("cannot read the link", path);
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2);  // the text outgrew lstat's size, as /proc's do
        }
        if (!target.empty() && target[0] == '/') {
            path = target;
        } else {
            const std::size_t slash = path.rfind('/');
            path =
                (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
    }
}

// The temporary files as a termination signal's handler sees them. The handler may run on
// one thread while others record and forget files, so it reads lock-free atomics only, in
// blocks of slots that never move and are never freed; everything else here changes under
// the lock, with the signals held on the thread that holds it.
struct LiveSlot {
    std::atomic<int> directory{-1};           // -1: the slot is free
    std::atomic<std::uint64_t> name[2] = {};  // the 16 characters of the name
};
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::uint64_t>::is_always_lock_free);
struct LiveBlock {
    static constexpr std::size_t kSlots = 64;
    LiveSlot slots[kSlots];
    std::atomic<LiveBlock*> next{nullptr};
};
LiveBlock gLive;  // the first block; further ones hang from it
// Outputs on several threads at once take turns at the records below (the slots handed out
// and the shared directories).
std::mutex gRecords;
LiveBlock* gLastBlock = &gLive;
std::size_t gTakenInLast = 0;       // slots of gLastBlock handed out so far
std::vector<LiveSlot*> gFreeSlots;  // slots handed out and free again

// A thread that creates a temporary file or puts one in place is busy: the handler waits
// for it (a file created but not yet recorded would stay; a set half in place would stay
// broken), and once the handler has begun, no thread starts such work. A busy thread holds
// the signals, so the handler never waits for the thread it runs on.
std::atomic<int> gBusy{0};
std::atomic<bool> gDying{false};
// How long the handler waits for busy threads (a rename on a hung network file system)
// before it removes what it can and ends the process all the same.
constexpr int kBusyWaitMilliseconds = 5000;

class Busy {
  public:
    Busy() {
        gBusy.fetch_add(1);
        if (gDying.load()) {
            // the handler is at work on another thread and ends the process: wait for it
            gBusy.fetch_sub(1);
            for (;;) ::pause();
        }
    }
    ~Busy() { gBusy.fetch_sub(1); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};

// SIGPIPE too, for a program that lets a closed pipe end it (one that ignores it gets EPIPE)
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void removeTemporariesAndDie(int signal) {
    gDying.store(true);
    for (int waited = 0; gBusy.load() != 0 && waited < kBusyWaitMilliseconds; ++waited) {
        ::poll(nullptr, 0, 1);  // async-signal-safe, as everything here
    }
    for (const LiveBlock* block = &gLive; block; block = block->next.load()) {
        for (const LiveSlot& slot : block->slots) {
            const int directory = slot.directory.load();
            if (directory < 0) continue;
            const std::uint64_t words[2] = {slot.name[0].load(), slot.name[1].load()};
            char name[17];
            std::memcpy(name, words, 16);
            name[16] = '\0';
            ::unlinkat(directory, name, 0);
        }
    }
    // then end as the signal would have ended us, so the caller sees 128 + signal
    dieBySignal(signal);
}

using SignalsHeld = TerminationSignalsHeld;

// Takes a slot for a temporary file about to be created, before the file exists: a signal
// that comes to another thread meanwhile waits for the creation instead of ending the
// process at once. Called with the signals held and busy.
LiveSlot* reserveLive() {
    const std::lock_guard lock(gRecords);
    LiveSlot* slot = nullptr;
    if (!gFreeSlots.empty()) {
        slot = gFreeSlots.back();
        gFreeSlots.pop_back();
    } else {
        if (gTakenInLast == LiveBlock::kSlots) {
            auto* block = new LiveBlock;  // reachable from gLive for good
            gLastBlock->next.store(block);
            gLastBlock = block;
            gTakenInLast = 0;
        }
        slot = &gLastBlock->slots[gTakenInLast++];
    }
    return slot;
}

// Shows the handler the file created for a slot.
void publishLive(LiveSlot* slot, int directory, const char (&name)[17]) {
    std::uint64_t words[2];
    std::memcpy(words, name, 16);
    slot->name[0].store(words[0]);
    slot->name[1].store(words[1]);
    slot->directory.store(directory);  // the name is complete before the handler takes it
}

// Forgets a slot; the last one gives the signals their previous actions back. Called with
// the signals held.
void removeLive(LiveSlot* slot) {
    const std::lock_guard lock(gRecords);
    slot->directory.store(-1);
    gFreeSlots.push_back(slot);
}

// Directories open for pending outputs, one descriptor for all the outputs in the same one
// (by the path that names it): a run that writes any number of files into a folder holds one.
struct OpenDirectory {
    int fd = -1;
    std::size_t users = 0;
};
using DirectoryKey = std::string;
std::map<DirectoryKey, OpenDirectory> gDirectories;

// The directory at `path`, opened or shared; -1 with errno set when it cannot be opened.
int openDirectory(const std::string& path, DirectoryKey& key) {
    const SignalsHeld held;  // as every holder of the lock, which the handler may wait behind
    const std::lock_guard lock(gRecords);
    key = path;
    OpenDirectory& shared = gDirectories[key];
    if (shared.users == 0) {
        shared.fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (shared.fd < 0) {
            const int error = errno;
            gDirectories.erase(key);
            errno = error;
            return -1;
        }
    }
    ++shared.users;
    return shared.fd;
}

void releaseDirectory(const DirectoryKey& key) {
    const SignalsHeld held;
    const std::lock_guard lock(gRecords);
    const auto at = gDirectories.find(key);
    if (at == gDirectories.end() || --at->second.users != 0) return;
    ::close(at->second.fd);
    gDirectories.erase(at);
}

#ifdef TESSLOOM_TEST_HOOKS
// Test builds only: the signal TESSLOOM_TEST_SIGNAL_IN_RENAMES names arrives right after the
// first rename of a set, as one sent from outside at that moment would.
void afterRename(std::size_t done) {
    const char* signal = std::getenv("TESSLOOM_TEST_SIGNAL_IN_RENAMES");
    if (done == 0 && signal) ::kill(::getpid(), std::atoi(signal));
}
#else
void afterRename(std::size_t) {}
#endif

void randomName(char (&name)[17], unsigned& fallback) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const auto mix = static_cast<unsigned>(::getpid()) * 2654435761u + ++fallback;
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(mix >> (4 * i));
    }
    std::memcpy(name, ".tessloom-", 10);
    for (std::size_t i = 0; i < sizeof bytes; ++i) name[10 + i] = kLetters[bytes[i] % 62];
    name[16] = '\0';
}

// Gives the replacement what the replaced file had: owner and group where we may set them
// (root may; others may set a group they belong to), mode, and extended attributes, which
// carry the ACLs. The owner goes first: changing it clears set-user-ID bits.
void carryOver(const struct stat& old, int fd, int directory, const std::string& name,
               const std::string& shownPath) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    if (::fchmod(fd, old.st_mode & 07777) != 0) fail("cannot set the mode of", shownPath);
    const int source = ::openat(directory, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (source < 0) return;  // unreadable: its attributes stay behind, as in a copy
    std::vector<char> names(1024);
    ssize_t length = ::flistxattr(source, names.data(), names.size());
    if (length < 0 && errno == ERANGE) {
        length = ::flistxattr(source, nullptr, 0);
        if (length > 0) names.resize(static_cast<std::size_t>(length));
        length = ::flistxattr(source, names.data(), names.size());
    }
    std::vector<char> value;
    for (ssize_t at = 0; at < length;) {
        const char* attribute = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(attribute)) + 1;
        const ssize_t size = ::fgetxattr(source, attribute, nullptr, 0);
        if (size < 0) continue;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(source, attribute, value.data(), value.size());
        // some attributes (a security label, say) are not ours to set: they are left alone
        if (got >= 0) ::fsetxattr(fd, attribute, value.data(), static_cast<std::size_t>(got), 0);
    }
    ::close(source);
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

struct Output::State {
    // How commitAll() put the file in place, so that it can be undone.
    enum class Swap {
        kNone,
        kExchanged,  // the temporary name now holds the replaced file
        kRenamed,    // the path held nothing before
        kLinked,     // the replaced file is kept under `backup`
        kReplaced,   // renamed over the old file, which is gone: cannot be undone
    };

    std::string path;    // as given, for messages
    int own = -1;        // one of our descriptors, written in place and never closed
    int file = -1;       // what we opened: a device or pipe, or the temporary file
    int directory = -1;  // the output's directory (shared), for the temporary file
    DirectoryKey directoryKey;
    std::string name;  // the output's name in it
    char temporary[17] = {};
    char backup[17] = {};
    LiveSlot* slot = nullptr;
    bool live = false;  // the temporary file exists and is ours to remove
    bool inPlace = false;
    bool finished = false;
    Swap swap = Swap::kNone;
    unsigned fallback = 0;

    ~State() {
        if (file >= 0) ::close(file);
        if (live) {
            const SignalsHeld held;
            ::unlinkat(directory, temporary, 0);
            removeLive(slot);
        }
        if (directory >= 0) releaseDirectory(directoryKey);
    }
    void forget() {
        live = false;
        removeLive(slot);
    }
    int target() const { return own >= 0 ? own : file; }
};

Output::Output(const std::string& path, std::span<const FileId> notThese, Accept accept)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = path;
    if (path.empty()) throw OutputError("the output path is empty");
    if (path.back() == '/') throw OutputError("the output path " + path + " ends in a slash");
    // the system would take the part before the NUL for the whole path
    if (path.find('\0') != std::string::npos) {
        throw OutputError("the output path " + escaped(path) + " holds a NUL byte");
    }
    const Destination destination = resolveLinks(path);
    auto refuseOthers = [&](const struct stat& st) {
        const FileId id{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
        for (const FileId& other : notThese) {
            if (other == id) throw OutputError("the output " + path + " is the input itself");
        }
    };

    if (destination.descriptor >= 0) {
        // One of our descriptors: written in place at its offset, with its flags, never
        // truncated or replaced, so a shell's `>>` appends and `{ a; b; } >` concatenates.
        struct stat st {};
        if (::fstat(destination.descriptor, &st) != 0) fail("cannot write", path);
        refuseOthers(st);
        if (accept == Accept::kFilesOnly) {
            throw OutputError("the output " + path + " is a descriptor, not a file");
        }
        s.own = destination.descriptor;
        s.inPlace = true;
        return;
    }

    // Everything below is relative to the directory, opened once: the temporary file's
    // path may be longer than any path the kernel takes whole, and the directory cannot be
    // swapped for another between the checks and the rename.
    const SplitPath split = splitPath(destination.path);
    if (split.name.empty()) throw OutputError("the output " + path + " is a directory");
    s.directory = openDirectory(split.directory, s.directoryKey);
    if (s.directory < 0) fail("cannot write", path);
    s.name = split.name;
    const char* name = split.name.c_str();

    struct stat st {};
    const bool exists = ::fstatat(s.directory, name, &st, 0) == 0;
    if (!exists && errno != ENOENT) fail("cannot write", path);
    if (exists && S_ISDIR(st.st_mode)) throw OutputError("the output " + path + " is a directory");
    if (exists) refuseOthers(st);

    if (exists && !S_ISREG(st.st_mode) && accept == Accept::kFilesOnly) {
        throw OutputError("the output " + path + " is not a regular file");
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // a pipe or a device cannot be replaced by a rename: write it in place
        s.file = ::openat(s.directory, name, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
        if (s.file < 0) fail("cannot open", path);
        s.inPlace = true;
        return;
    }
    // as the shell's `>` would refuse it, a file we may not write is not replaced either
    if (exists && ::faccessat(s.directory, name, W_OK, AT_EACCESS) != 0) {
        throw OutputError("the output " + path + " is not writable");
    }

    // Readers never see a partial file: the bytes go to a temporary file in the same
    // directory, which is renamed over the output once complete.
    {
        const SignalsHeld held;
        const Busy busy;
        LiveSlot* slot = reserveLive();
        for (int attempt = 0; s.file < 0; ++attempt) {
            randomName(s.temporary, s.fallback);
            s.file =
                ::openat(s.directory, s.temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (s.file < 0 && (errno != EEXIST || attempt == 100)) {
                const int error = errno;
                removeLive(slot);
                errno = error;
                fail("cannot create a file beside", path);
            }
        }
        publishLive(slot, s.directory, s.temporary);
        s.slot = slot;
        s.live = true;
    }
    if (exists) {
        carryOver(st, s.file, s.directory, s.name, path);
    } else if (::fchmod(s.file, newFileMode()) != 0) {
        fail("cannot set the mode of", path);
    }
}

Output::~Output() = default;

void Output::write(const void* data, std::size_t size) {
    const State& s = *state_;
    const auto* bytes = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t n = ::write(s.target(), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            fail("cannot write", s.path);
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

void Output::finish() {
    State& s = *state_;
    if (s.finished) return;
    s.finished = true;
    if (s.file < 0) return;
    const int fd = s.file;
    s.file = -1;
    if (::close(fd) != 0) fail("cannot write", s.path);
}

void Output::commit() {
    finish();
    State& s = *state_;
    if (!s.live) return;
    const SignalsHeld held;
    const Busy busy;
    if (::renameat(s.directory, s.temporary, s.directory, s.name.c_str()) != 0) {
        fail("cannot replace", s.path);
    }
    s.forget();
}

void Output::swapIn() {
    State& s = *state_;
    if (!s.live) return;  // in place, or committed already
    const char* name = s.name.c_str();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::renameat2(s.directory, s.temporary, s.directory, name, RENAME_EXCHANGE) == 0) {
            struct stat old {};
            if (::fstatat(s.directory, s.temporary, &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(old.st_mode)) {
                // a directory came where the file was: it goes back, as a rename would refuse
                ::renameat2(s.directory, s.temporary, s.directory, name, RENAME_EXCHANGE);
                errno = EISDIR;
                fail("cannot replace", s.path);
            }
            s.swap = State::Swap::kExchanged;
            return;
        }
        if (errno != ENOENT) break;
        // nothing there: a rename that replaces nothing, since something may have come
        if (::renameat2(s.directory, s.temporary, s.directory, name, RENAME_NOREPLACE) == 0) {
            s.swap = State::Swap::kRenamed;
            s.forget();
            return;
        }
        if (errno != EEXIST) break;
    }
    if (errno != EINVAL && errno != ENOSYS) fail("cannot replace", s.path);
    // A file system without exchanges: the old file is kept under a second name until the
    // whole set is in place, where hard links are allowed.
    randomName(s.backup, s.fallback);
    const bool linked = ::linkat(s.directory, name, s.directory, s.backup, 0) == 0;
    if (::renameat(s.directory, s.temporary, s.directory, name) != 0) {
        const int error = errno;
        if (linked) ::unlinkat(s.directory, s.backup, 0);
        errno = error;
        fail("cannot replace", s.path);
    }
    s.swap = linked ? State::Swap::kLinked : State::Swap::kReplaced;
    s.forget();
}

void Output::swapBack() noexcept {
    State& s = *state_;
    const char* name = s.name.c_str();
    switch (s.swap) {
        case State::Swap::kExchanged:
            // the new file goes back under the temporary name, removed with it
            ::renameat2(s.directory, s.temporary, s.directory, name, RENAME_EXCHANGE);
            break;
        case State::Swap::kRenamed:
            ::unlinkat(s.directory, name, 0);
            break;
        case State::Swap::kLinked:
            ::renameat(s.directory, s.backup, s.directory, name);
            break;
        case State::Swap::kNone:
        case State::Swap::kReplaced:
            break;
    }
    s.swap = State::Swap::kNone;
}

void Output::dropOld() noexcept {
    State& s = *state_;
    if (s.swap == State::Swap::kExchanged) {
        ::unlinkat(s.directory, s.temporary, 0);
        s.forget();
    } else if (s.swap == State::Swap::kLinked) {
        ::unlinkat(s.directory, s.backup, 0);
    }
    s.swap = State::Swap::kNone;
}

const std::string& Output::path() const {
    return state_->path;
}

bool Output::inPlace() const {
    return state_->inPlace;
}

int Output::ownDescriptor() const {
    return state_->own;
}

void commitAll(std::span<Output* const> outputs) {
    for (Output* o : outputs) o->finish();
    // Termination signals wait until the set is in place, or back as it was: a signal
    // during the renames then ends the process with every path holding the new file.
    const SignalsHeld held;
    const Busy busy;
    std::size_t done = 0;
    try {
        for (; done < outputs.size(); ++done) {
            outputs[done]->swapIn();
            afterRename(done);
        }
    } catch (...) {
        while (done > 0) outputs[--done]->swapBack();
        throw;
    }
    for (Output* o : outputs) o->dropOld();
}

void requireFileOrNothing(const std::string& path, const std::string& option) {
    const Destination destination = resolveLinks(path);
    struct stat st {};
    const bool file = destination.descriptor < 0 && (::stat(destination.path.c_str(), &st) != 0 ||
                                                     S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
    if (!file) {
        throw OutputError(option + " writes files only: the output " + path +
                          " is a device, a pipe or a descriptor");
    }
}

void writeFile(const std::string& path, std::span<const std::uint8_t> bytes,
               std::span<const FileId> notThese) {
    Output out(path, notThese);
    out.write(bytes.data(), bytes.size());
    out.commit();
}

std::string counted(std::uint64_t n, std::string_view one, std::string_view many) {
    std::string text = std::to_string(n);
    text += ' ';
    text += n == 1 ? one : many;
    return text;
}

std::string escaped(std::string_view text, Escape how) {
    static constexpr char kHex[] = "0123456789abcdef";
    const bool quoted = how == Escape::kQuoted;
    std::string out = quoted ? "\"" : "";
    out.reserve(text.size() + 2);
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (quoted && (c == '"' || c == '\\')) {
            out += '\\';
            out += c;
        } else if (u >= 0x20 && u != 0x7f && (!quoted || u < 0x80)) {
            out += c;
        } else if (!quoted && c == '\n') {
            out += "\\n";
        } else if (!quoted && c == '\r') {
            out += "\\r";
        } else if (!quoted && c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return quoted ? out + "\"" : out;
}

void dieBySignal(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t self;
    ::sigemptyset(&self);
    ::sigaddset(&self, signal);
    ::sigprocmask(SIG_UNBLOCK, &self, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: the default action of a termination signal ends us
}

TerminationSignalsHeld::TerminationSignalsHeld() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int s : kTerminationSignals) ::sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

TerminationSignalsHeld::~TerminationSignalsHeld() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void catchTerminationSignals() {
    // Installed once, for good: a handler that came and went with the temporary files
    // would take the place of any handler put in front of it meanwhile (the progress
    // line's, which blanks the line first), and one installed on a worker thread while
    // the main thread puts its own in front could be lost. With nothing pending it only
    // ends the process as the signal would.
    for (const int signal : kTerminationSignals) {
        struct sigaction handler {
        }, previous{};
        handler.sa_handler = removeTemporariesAndDie;
        ::sigemptyset(&handler.sa_mask);  // one handler at a time
        for (const int s : kTerminationSignals) ::sigaddset(&handler.sa_mask, s);
        ::sigaction(signal, nullptr, &previous);
        // an ignored signal stays ignored
        if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &handler, nullptr);
    }
}

}  // namespace tessloom::output
