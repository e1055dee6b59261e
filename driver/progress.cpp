// The progress line: drawn with one write each time the percentage changes, erased with
// spaces (which every terminal understands) when the work ends or a termination signal
// arrives.
#include "driver/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <utility>

#include "output/output.h"

namespace tessloom {

namespace {

bool gQuiet = false;

// What a signal handler needs: how many columns to blank, and the handlers it stands in
// front of. Changed only by the one line in the main flow.
volatile std::sig_atomic_t gShownColumns = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gNext[std::size(kSignals)];
bool gInstalled[std::size(kSignals)] = {};

void writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(2, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a terminal gone away: nothing to show it on
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void blank(int columns) {
    static const char kSpaces[] =
        "                                                                ";
    writeAll("\r", 1);
    while (columns > 0) {
        const int n = columns < 64 ? columns : 64;
        writeAll(kSpaces, static_cast<std::size_t>(n));
        columns -= n;
    }
    writeAll("\r", 1);
}

// Blanks the line, then does what the signal would have done without this handler: the
// handler it was installed in front of (the output module's, which removes temporary
// files), or the default action.
extern "C" void eraseAndPassOn(int signal, siginfo_t* info, void* context) {
    const int saved = errno;
    if (gShownColumns > 0) blank(gShownColumns);
    gShownColumns = 0;
    errno = saved;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (kSignals[i] != signal) continue;
        const struct sigaction& next = gNext[i];
        if ((next.sa_flags & SA_SIGINFO) != 0 && next.sa_sigaction) {
            next.sa_sigaction(signal, info, context);
            return;
        }
        if (next.sa_handler != SIG_DFL && next.sa_handler != SIG_IGN) {
            next.sa_handler(signal);
            return;
        }
    }
    output::dieBySignal(signal);
}

bool isOurs(const struct sigaction& a) {
    return (a.sa_flags & SA_SIGINFO) != 0 && a.sa_sigaction == eraseAndPassOn;
}

// Puts the eraser in front of whatever handles each signal now (the output module's
// handler, in the programs), unless it is there already or the signal is ignored. Done at
// each draw: cheap when it is there.
void installEraser() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || isOurs(current) ||
            ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN)) {
            continue;
        }
        struct sigaction eraser {};
        eraser.sa_sigaction = eraseAndPassOn;
        eraser.sa_flags = SA_SIGINFO;
        ::sigemptyset(&eraser.sa_mask);  // one handler at a time, as the output module's
        for (const int s : kSignals) ::sigaddset(&eraser.sa_mask, s);
        // the signals wait while the handler to pass on to changes
        sigset_t held, before;
        ::sigemptyset(&held);
        for (const int s : kSignals) ::sigaddset(&held, s);
        ::sigprocmask(SIG_BLOCK, &held, &before);
        gNext[i] = current;
        ::sigaction(kSignals[i], &eraser, nullptr);
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        gInstalled[i] = true;
    }
}

// Gives each signal back the handler the eraser stood in front of, where the eraser is
// still the one installed.
void removeEraser() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (!gInstalled[i]) continue;
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) == 0 && isOurs(current)) {
            ::sigaction(kSignals[i], &gNext[i], nullptr);
        }
        gInstalled[i] = false;
    }
}

bool inForeground() {
    const pid_t group = ::tcgetpgrp(2);
    return group != -1 && group == ::getpgrp();
}

int terminalColumns() {
    struct winsize size {};
    if (::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// Columns a byte of an escaped label may take: a UTF-8 lead byte counts for a wide
// character, any other byte above 127 for one, so the line never wraps.
int columnsOf(unsigned char c) {
    return c >= 0xc0 ? 2 : 1;
}

}  // namespace

ProgressLine::ProgressLine(std::string label) : label_(output::escaped(label)) {
    if (wanted()) draw(0);
}

ProgressLine::~ProgressLine() {
    erase();
    removeEraser();
}

void ProgressLine::update(double share) {
    const int percent = share <= 0 ? 0 : share >= 1 ? 100 : static_cast<int>(share * 100);
    if (percent == percent_ || !wanted()) return;
    draw(percent);
}

void ProgressLine::relabel(std::string label) {
    label_ = output::escaped(label);
    if (wanted()) draw(0);
}

void ProgressLine::done() {
    erase();
}

bool ProgressLine::wanted() {
    return !gQuiet && ::isatty(2) == 1;
}

void ProgressLine::quiet() {
    gQuiet = true;
}

void ProgressLine::draw(int percent) {
    if (!inForeground()) return;
    installEraser();
    // built by appending: g++ 12 warns falsely on '+' of short strings here
    std::string tail(1, ' ');
    tail += std::to_string(percent);
    tail += '%';
    const int room = terminalColumns() - 1 - static_cast<int>(tail.size());
    std::string line;
    int columns = 0;
    if (room >= 4) {
        // the label, cut where it would not fit, and never inside a UTF-8 sequence
        std::size_t end = 0;
        int used = 0;
        for (; end < label_.size(); ++end) {
            const auto c = static_cast<unsigned char>(label_[end]);
            if (c >= 0x80 && c < 0xc0) continue;  // part of the character before
            if (used + columnsOf(c) > room) break;
            used += columnsOf(c);
        }
        if (end < label_.size()) {
            // room for "..." after a shorter cut
            end = 0;
            used = 0;
            for (; end < label_.size(); ++end) {
                const auto c = static_cast<unsigned char>(label_[end]);
                if (c >= 0x80 && c < 0xc0) continue;
                if (used + columnsOf(c) > room - 3) break;
                used += columnsOf(c);
            }
            line.assign(label_, 0, end);
            line += "...";
            columns = used + 3;
        } else {
            line = label_;
            columns = used;
        }
        line += tail;
        columns += static_cast<int>(tail.size());
    } else {
        line = tail.substr(1);
        columns = static_cast<int>(line.size());
    }
    std::string text(1, '\r');
    text += line;
    const int before = gShownColumns;
    if (before > columns) text.append(static_cast<std::size_t>(before - columns), ' ');
    gShownColumns = 0;  // while the line changes, a signal leaves it as it is
    writeAll(text.data(), text.size());
    gShownColumns = std::max(columns, before);
    percent_ = percent;
}

void ProgressLine::erase() {
    const int shown = gShownColumns;
    gShownColumns = 0;
    if (shown > 0 && inForeground()) blank(shown);
    percent_ = -1;
}

}  // namespace tessloom
