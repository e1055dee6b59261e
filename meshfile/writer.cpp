// Puts the mesh file in place: a temporary file beside the output, checked writes, rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <string>

#include "ase/scene.h"
#include "meshfile/encode.h"

namespace tessloom {

namespace {

// Links followed before the output is taken for a loop, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

std::string errorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links to the file that the output really names, which need not exist yet.
std::string resolveLinks(const std::string& outputPath) {
    std::string path = outputPath;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
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
            target.resize(target.size() * 2);  // the link grew since lstat
        }
        path = !target.empty() && target[0] == '/' ? target : directoryOf(path) + target;
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

// Owns the descriptor and, until committed, the temporary file's name.
class OutputFile {
  public:
    OutputFile(int fd, std::string temporary) : fd_(fd), temporary_(std::move(temporary)) {}
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    void close(const std::string& path) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throw Rejected(errorText("cannot write", path));
    }
    void commit(const std::string& target) {
        if (::rename(temporary_.c_str(), target.c_str()) != 0) {
            throw Rejected(errorText("cannot replace", target));
        }
        temporary_.clear();
    }

  private:
    int fd_;
    std::string temporary_;
};

void encodeInto(const MeshConverter& mesh, int fd, const std::string& path) {
    FileSink sink{fd, &path};
    OutBuffer out(writeToFile, &sink);
    encodeMeshFile(mesh, out);
    assert(out.written() == meshFileSize(mesh));
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
    const std::string target = resolveLinks(outputPath);

    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) throw Rejected(errorText("cannot write", outputPath));
    if (exists && S_ISDIR(st.st_mode))
        throw Rejected("the output " + outputPath + " is a directory");
    if (exists && inputIdentity_ && inputIdentity_->first == st.st_dev &&
        inputIdentity_->second == st.st_ino) {
        throw Rejected("the output " + outputPath + " is the input itself");
    }

    if (exists && !S_ISREG(st.st_mode)) {
        // a pipe or a device cannot be replaced by a rename: write it in place
        const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) throw Rejected(errorText("cannot open", outputPath));
        OutputFile file(fd, std::string());
        encodeInto(*this, file.fd(), outputPath);
        file.close(outputPath);
        return;
    }

    // Readers never see a partial file: the bytes go to a temporary file in the same
    // directory, which is renamed over the output once complete.
    std::string temporary = directoryOf(target) + ".tessloom-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw Rejected(errorText("cannot create a file beside", outputPath));
    OutputFile file(fd, temporary);
    if (::fchmod(fd, exists ? (st.st_mode & 07777) : newFileMode()) != 0) {
        throw Rejected(errorText("cannot set the mode of", outputPath));
    }
    encodeInto(*this, file.fd(), outputPath);
    file.close(outputPath);
    file.commit(target);
}

}  // namespace tessloom
