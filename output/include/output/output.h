// Writing a file so that what the path held is never lost: the bytes go to a temporary
// file beside the output, renamed over it once complete; an output that leads to one of
// our own descriptors, a pipe or a device is written where it stands. Both programs write
// every file through here.
#pragma once

#include <signal.h>

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

// One output in progress. The constructor resolves the path and refuses what may not be
// written (an empty path, a directory, a write-protected file, one of `notThese`), then
// opens the temporary file or the file written in place. write() checks every byte.
// finish() completes the bytes; commit() then puts a temporary file in place. Destroyed
// without commit(), the temporary file is removed and the path keeps what it held.
//
// Several outputs may be pending at once: construct and write each, then commitAll() them,
// so that no file is renamed into place before every one is complete, and a rename that
// fails undoes those before it. In a program that called catchTerminationSignals(), a
// termination signal (SIGINT, SIGTERM, SIGHUP, and SIGPIPE unless it is ignored) removes
// every temporary file still pending and ends the process as the signal would. Outputs may
// be made on several threads at once. Outputs written
// in place (inPlace()) cannot be held back: their bytes are there as they are written.
// Pending outputs in the same directory share one descriptor, whatever their number.
class Output {
  public:
    // What the path may lead to.
    enum class Accept {
        kAny,        // a file, or a descriptor, pipe or device written in place
        kFilesOnly,  // a file only: a descriptor, pipe or device is refused
    };

    explicit Output(const std::string& path, std::span<const FileId> notThese = {},
                    Accept accept = Accept::kAny);
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
    friend void commitAll(std::span<Output* const> outputs);
    // commitAll()'s steps: the file put in place, keeping what the path held (exchanged
    // with the temporary file, or under a second name); that undone; what it held removed.
    void swapIn();
    void swapBack() noexcept;
    void dropOld() noexcept;

    struct State;
    std::unique_ptr<State> state_;
};

// Finishes every output, then puts each in place with the termination signals held back.
// All or nothing: when one cannot be put in place, those before it get back what they held
// and the error is thrown. A signal that comes meanwhile ends the process once the whole set
// is in place. (A power cut or SIGKILL meanwhile can still leave some paths new and others
// old, the replaced files under hidden ".tessloom-" names beside them.)
void commitAll(std::span<Output* const> outputs);

// From now on, a termination signal removes every temporary file pending and ends the
// process as it would have (the handler is installed here, once, where the signal is not
// ignored). For programs: a library leaves the signals to its caller.
void catchTerminationSignals();

// Holds the termination signals back on the calling thread for its lifetime. Threads
// started meanwhile keep them held: a program whose workers make outputs starts them under
// one, so that the signals reach the thread that only waits, where the handler removes
// every pending temporary file (it waits for a worker's file being created or put in
// place, so none is left behind and a set of commitAll() stays whole).
class TerminationSignalsHeld {
  public:
    TerminationSignalsHeld();
    ~TerminationSignalsHeld();
    TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
    TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// Throws OutputError, naming `option`, when `path` leads to one of our descriptors or to an
// existing file that is neither a regular file nor a directory (a device, pipe or socket).
void requireFileOrNothing(const std::string& path, const std::string& option);

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

// Ends the process by `signal` with its default action, as if nothing had caught it (the
// caller sees 128 + signal); safe in a signal handler.
[[noreturn]] void dieBySignal(int signal);

}  // namespace tessloom::output
