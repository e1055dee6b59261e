// A line on standard error that shows a person at a terminal how far a long run has come.
#pragma once

#include <cstdint>
#include <string>

namespace tessloom {

// Shows "LABEL 42%" on standard error from construction on, rewritten in place as the
// share grows, and erases it when destroyed (or on INT, TERM or HUP, before the process
// ends as the signal would). Shows nothing when standard error is not a terminal, while
// the process is not in its terminal's foreground (a background job writing to the
// terminal may be stopped for it), or after quiet(). The line is cut to the terminal's
// width, so it never wraps; its label is escaped as every message is. One at a time.
class ProgressLine {
  public:
    explicit ProgressLine(std::string label);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the line when the whole percentage changed (share from 0 to 1).
    void update(double share);
    // Another label, from 0% again.
    void relabel(std::string label);
    // Erases the line now, before other text goes to the terminal; update() shows it again.
    void done();

    // Whether a line would be shown: standard error is a terminal and quiet() was not called.
    static bool wanted();
    // --quiet: no progress line from here on (warnings and errors still print).
    static void quiet();

  private:
    void draw(int percent);
    void erase();

    std::string label_;
    int percent_ = -1;  // on the line now; -1: nothing shown
};

// Counts bytes read against an expected total on a ProgressLine, never past 99% (the total
// is an estimate; the line is erased when the work ends).
class ByteProgress {
  public:
    ByteProgress(std::string label, std::uint64_t expected)
        : line_(std::move(label)), expected_(expected) {}
    void add(std::uint64_t bytes) {
        done_ += bytes;
        const double share = expected_ ? double(done_) / double(expected_) : 0;
        line_.update(share < 0.99 ? share : 0.99);
    }
    // Bytes that were expected and will not be read after all.
    void skip(std::uint64_t bytes) { expected_ -= bytes < expected_ ? bytes : expected_; }

  private:
    ProgressLine line_;
    std::uint64_t expected_, done_ = 0;
};

}  // namespace tessloom
