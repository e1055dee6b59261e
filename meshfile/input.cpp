// The input file: opened once, read in place, its stamp taken and compared.
#include "meshfile/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessloom::meshfile {

namespace {

FileStamp stampFrom(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size), st.st_mtim, st.st_ctim};
}

}  // namespace

std::optional<FileStamp> stampOf(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return stampFrom(st);
}

InputFile::OpenError::OpenError(int error)
    : std::runtime_error(error == 0 ? "not a regular file" : std::strerror(error)), error_(error) {}

InputFile::InputFile(const std::string& path) {
    // Without O_NONBLOCK a FIFO that nobody writes to would hold the open forever; it is
    // refused below with every other file that is not a regular one.
    // a path holding a NUL byte would open the file named by its part before the NUL
    if (path.find('\0') != std::string::npos) throw OpenError(EINVAL);
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw OpenError(errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw OpenError(0);
    }
    stamp_ = stampFrom(st);
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

int InputFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void InputFile::read(std::uint64_t offset, void* out, std::size_t n) const {
    auto* bytes = static_cast<char*>(out);
    while (n != 0) {
        const ssize_t got = ::pread(fd_, bytes, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            throw ReadError(offset, got < 0 ? std::string("readable bytes: ") + std::strerror(errno)
                                            : std::string("bytes the file had when opened"));
        }
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
}

}  // namespace tessloom::meshfile
