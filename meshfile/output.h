// Writing a file so that what the path held is never lost: the bytes go to a temporary
// file beside the output, renamed over it once complete; an output that leads to one of
// our own descriptors, a pipe or a device is written where it stands. Both programs write
// every file through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessloom::output {

// Every failure: the message names the output path as given (not escaped) and the reason.
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A file an output must never be (device and inode), such as the input being read.
struct FileId {
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FileId&) const = default;
};

// The identity of an open descriptor; nullopt-like {0, 0} when fstat fails.
FileId fileIdOf(int fd);

// One output in progress. The constructor resolves the path and refuses what may not be
// written (an empty path, a directory, a write-protected file, one of `notThese`), then
// opens the temporary file or the file written in place. write() checks every byte.
// finish() completes the bytes; commit() then puts a temporary file in place. Destroyed
// without commit(), the temporary file is removed and the path keeps what it held.
//
// Several outputs may be pending at once: construct and write each, finish() them all,
// then commit() them all (or use commitAll), so that no file is renamed into place before
// every one is complete. A termination signal (SIGINT, SIGTERM, SIGHUP) removes every
// temporary file still pending and ends the process as the signal would. Outputs written
// in place (inPlace()) cannot be held back: their bytes are there as they are written.
class Output {
  public:
    explicit Output(const std::string& path, std::span<const FileId> notThese = {});
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void write(const void* data, std::size_t size);
    // Closes the file, reporting what the close reports (on some file systems the last
    // write). Called by commit() when not called before.
    void finish();
    // Renames the temporary file over the path; nothing to do for an output in place.
    void commit();

    const std::string& path() const;
    // Written straight into a descriptor, pipe or device: no temporary file.
    bool inPlace() const;
    // The descriptor of ours the path leads to (/dev/stdout is 1), or -1.
    int ownDescriptor() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Finishes every output, then commits each: a failure before the first rename leaves
// every path as it was.
void commitAll(std::span<Output* const> outputs);

// The whole of `bytes` to `path`, safely as above.
void writeFile(const std::string& path, std::span<const std::uint8_t> bytes,
               std::span<const FileId> notThese = {});

// How text from outside (a path, a name from a file) is shown.
enum class Escape {
    // one line of a message: control bytes become \n, \r, \t or \xNN; other bytes pass,
    // so UTF-8 stays readable
    kLine,
    // a quoted name that reads back unambiguously: also quotes and backslashes behind a
    // backslash, every byte outside printable ASCII as \xNN, and the quotes around it
    kQuoted,
};

std::string escaped(std::string_view text, Escape how = Escape::kLine);

// A count with its noun for a message: "1 face", "2 faces", "0 faces".
std::string counted(std::uint64_t n, std::string_view one, std::string_view many);

}  // namespace tessloom::output
