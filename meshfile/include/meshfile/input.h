// The input file, opened and watched one way by every program that reads one: a regular
// file opened for reading without waiting on a FIFO, read in place at any offset, with what
// fstat said of it when opened, so that a file changed while it was read is noticed. Part
// of the reader library, whose public FileSource is this file; not installed.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>

#include "meshfile/reader.h"

namespace tessloom::meshfile {

// What fstat says of an open file: which file it is (device and inode), its size and its
// times. A write whose modification time was put back still changes `changed`; so do a
// change of mode and a rename over the file's name (its link count drops).
struct FileStamp {
    std::uint64_t device = 0, inode = 0, size = 0;
    timespec modified{}, changed{};

    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

// The stamp of the file open as `fd`; nothing when fstat fails (a stream without a
// descriptor has -1).
std::optional<FileStamp> stampOf(int fd);

class InputFile : public ByteSource {
  public:
    // Why a path was not opened: the open failed (error() is its errno, what() its text), or
    // the path leads to something other than a regular file (error() is 0).
    class OpenError : public std::runtime_error {
      public:
        explicit OpenError(int error);
        int error() const { return error_; }
        bool notRegular() const { return error_ == 0; }

      private:
        int error_;
    };

    // Throws OpenError.
    explicit InputFile(const std::string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t size() const override { return stamp_.size; }
    // Throws ReadError when the bytes cannot be read or are no longer there.
    void read(std::uint64_t offset, void* out, std::size_t n) const override;

    int descriptor() const { return fd_; }
    // As it was when opened.
    const FileStamp& stamp() const { return stamp_; }
    // Whether fstat still gives the stamp the file had when opened.
    bool unchanged() const { return stampOf(fd_) == stamp_; }
    // Hands the descriptor over: the caller closes it, and this no longer reads.
    int release();

  private:
    int fd_ = -1;
    FileStamp stamp_;
};

}  // namespace tessloom::meshfile
