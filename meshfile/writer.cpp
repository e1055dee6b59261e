// Puts the mesh file in place without ever losing what the output held: a temporary file
// beside it, checked writes, a rename; descriptors and devices are written where they stand.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "ase/scene.h"
#include "driver/encode_scene.h"

namespace tessloom {

namespace {

// Links followed before the output is taken for a loop, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

std::string errorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
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
int ownDescriptor(const std::string& path) {
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
        if (const int fd = ownDescriptor(path); fd >= 0) return {path, fd};
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {path, -1};
        if (hops == kMaxLinkHops) {
            throw Rejected("too many levels of symbolic links at " + outputPath);
        }
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n < 0) throw Rejected(errorText("cannot read the link", path));
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

struct FileSink {
    int fd = -1;
    const std::string* path = nullptr;
};

void writeToFile(void* context, const std::uint8_t* data, std::size_t size) {
    auto* sink = static_cast<FileSink*>(context);
    while (size != 0) {
        const ssize_t n = ::write(sink->fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            throw Rejected(errorText("cannot write", *sink->path));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void encodeInto(const MeshConverter& mesh, int fd, const std::string& path) {
    FileSink sink{fd, &path};
    // no bigger than the file: a small mesh touches a few pages, not a megabyte
    const std::uint64_t size = meshFileSize(mesh);
    OutBuffer out(writeToFile, &sink,
                  static_cast<std::size_t>(std::min<std::uint64_t>(size, OutBuffer::kMaxCapacity)));
    encodeMeshFile(mesh, out);
    assert(out.written() == size);
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now, reporting what the close reports: on some file systems the last write.
    void close(const std::string& path) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throw Rejected(errorText("cannot write", path));
    }

  private:
    int fd_;
};

// The temporary file as a termination signal's handler sees it: a directory descriptor and
// a short name in fixed storage, since a handler may only make async-signal-safe calls.
volatile std::sig_atomic_t gTemporaryLive = 0;
int gTemporaryDirectory = -1;
char gTemporaryName[32];

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporaryAndDie(int signal) {
    if (gTemporaryLive) ::unlinkat(gTemporaryDirectory, gTemporaryName, 0);
    // then end as the signal would have ended us, so the caller sees 128 + signal
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t self;
    ::sigemptyset(&self);
    ::sigaddset(&self, signal);
    ::sigprocmask(SIG_UNBLOCK, &self, nullptr);
    ::raise(signal);
}

// Holds the termination signals back for its lifetime, so the temporary file and its
// record in the handler's storage come and go together.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        ::sigemptyset(&set);
        for (const int s : kTerminationSignals) ::sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// A new file with a random name in the output's directory. Until it is renamed into place,
// it is removed when anything fails and when a termination signal arrives; the signals'
// previous actions come back with it (an ignored signal stays ignored throughout).
class TemporaryFile {
  public:
    TemporaryFile(int directory, const std::string& shownPath) : directory_(directory) {
        const SignalsHeld held;
        for (int attempt = 0; file_.get() < 0; ++attempt) {
            randomName();
            file_.reset(::openat(directory, name_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (file_.get() < 0 && (errno != EEXIST || attempt == 100)) {
                throw Rejected(errorText("cannot create a file beside", shownPath));
            }
        }
        std::memcpy(gTemporaryName, name_, sizeof name_);
        gTemporaryDirectory = directory;
        gTemporaryLive = 1;
        for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i) {
            struct sigaction handler {};
            handler.sa_handler = removeTemporaryAndDie;
            ::sigemptyset(&handler.sa_mask);  // one handler at a time
            for (const int s : kTerminationSignals) ::sigaddset(&handler.sa_mask, s);
            ::sigaction(kTerminationSignals[i], &handler, &previous_[i]);
            if (previous_[i].sa_handler == SIG_IGN) {
                ::sigaction(kTerminationSignals[i], &previous_[i], nullptr);
            }
        }
    }
    ~TemporaryFile() {
        const SignalsHeld held;
        if (gTemporaryLive) ::unlinkat(directory_, name_, 0);
        release();
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return file_.get(); }
    void close(const std::string& shownPath) { file_.close(shownPath); }
    void renameTo(const std::string& name, const std::string& shownPath) {
        const SignalsHeld held;
        if (::renameat(directory_, name_, directory_, name.c_str()) != 0) {
            throw Rejected(errorText("cannot replace", shownPath));
        }
        release();
    }

  private:
    void randomName() {
        static constexpr char kLetters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        unsigned char bytes[6] = {};
        if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
            const auto mix = static_cast<unsigned>(::getpid()) * 2654435761u + ++fallback_;
            for (std::size_t i = 0; i < sizeof bytes; ++i)
                bytes[i] = static_cast<unsigned char>(mix >> (4 * i));
        }
        std::memcpy(name_, ".tessloom-", 10);
        for (std::size_t i = 0; i < sizeof bytes; ++i) name_[10 + i] = kLetters[bytes[i] % 62];
        name_[16] = '\0';
    }
    // Called with the signals held.
    void release() {
        if (!gTemporaryLive) return;
        gTemporaryLive = 0;
        for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i) {
            ::sigaction(kTerminationSignals[i], &previous_[i], nullptr);
        }
    }

    int directory_;
    Descriptor file_{-1};
    char name_[17] = {};
    unsigned fallback_ = 0;
    struct sigaction previous_[std::size(kTerminationSignals)]{};
};

// Gives the replacement what the replaced file had: owner and group where we may set them
// (root may; others may set a group they belong to), mode, and extended attributes, which
// carry the ACLs. The owner goes first: changing it clears set-user-ID bits.
void carryOver(const struct stat& old, int fd, int directory, const std::string& name,
               const std::string& shownPath) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        throw Rejected(errorText("cannot set the mode of", shownPath));
    }
    const int source = ::openat(directory, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (source < 0) return;  // unreadable: its attributes stay behind, as in a copy
    const Descriptor owned(source);
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
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void MeshConverter::writeMeshFile() const {
    if (outputPath.empty()) throw Rejected("the output path is empty");
    if (outputPath.back() == '/')
        throw Rejected("the output path " + outputPath + " ends in a slash");
    const Destination destination = resolveLinks(outputPath);
    auto isInput = [&](const struct stat& st) {
        return inputIdentity_ && inputIdentity_->first == st.st_dev &&
               inputIdentity_->second == st.st_ino;
    };
    auto rejectInput = [&] { throw Rejected("the output " + outputPath + " is the input itself"); };

    if (destination.descriptor >= 0) {
        // One of our descriptors: written in place at its offset, with its flags, never
        // truncated or replaced, so a shell's `>>` appends and `{ a; b; } >` concatenates.
        struct stat st {};
        if (::fstat(destination.descriptor, &st) != 0) {
            throw Rejected(errorText("cannot write", outputPath));
        }
        if (isInput(st)) rejectInput();
        encodeInto(*this, destination.descriptor, outputPath);
        return;
    }

    // Everything below is relative to the directory, opened once: the temporary file's
    // path may be longer than any path the kernel takes whole, and the directory cannot be
    // swapped for another between the checks and the rename.
    const SplitPath split = splitPath(destination.path);
    if (split.name.empty()) throw Rejected("the output " + outputPath + " is a directory");
    const int directory = ::open(split.directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) throw Rejected(errorText("cannot write", outputPath));
    const Descriptor directoryOwner(directory);
    const char* name = split.name.c_str();

    struct stat st {};
    const bool exists = ::fstatat(directory, name, &st, 0) == 0;
    if (!exists && errno != ENOENT) throw Rejected(errorText("cannot write", outputPath));
    if (exists && S_ISDIR(st.st_mode))
        throw Rejected("the output " + outputPath + " is a directory");
    if (exists && isInput(st)) rejectInput();

    if (exists && !S_ISREG(st.st_mode)) {
        // a pipe or a device cannot be replaced by a rename: write it in place
        Descriptor file(::openat(directory, name, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
        if (file.get() < 0) throw Rejected(errorText("cannot open", outputPath));
        encodeInto(*this, file.get(), outputPath);
        file.close(outputPath);
        return;
    }
    // as the shell's `>` would refuse it, a file we may not write is not replaced either
    if (exists && ::faccessat(directory, name, W_OK, AT_EACCESS) != 0) {
        throw Rejected("the output " + outputPath + " is not writable");
    }

    // Readers never see a partial file: the bytes go to a temporary file in the same
    // directory, which is renamed over the output once complete.
    TemporaryFile file(directory, outputPath);
    if (exists) {
        carryOver(st, file.fd(), directory, split.name, outputPath);
    } else if (::fchmod(file.fd(), newFileMode()) != 0) {
        throw Rejected(errorText("cannot set the mode of", outputPath));
    }
    encodeInto(*this, file.fd(), outputPath);
    file.close(outputPath);
    file.renameTo(split.name, outputPath);
}

}  // namespace tessloom
