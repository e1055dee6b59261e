// The progress line: what a terminal shows of it (a pseudo-terminal of the test's own, and
// the programs under `script`, which gives them one), and that nothing else ever sees it.
#include "driver/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "binary.h"
#include "meshfile/encode.h"
#include "output/output.h"
#include "testutil.h"

namespace {

namespace fs = std::filesystem;

struct PtyShown {
    std::string text;  // every byte the terminal received
    int status = 0;    // as waitpid gives it
};

// Runs `body` in a child process whose standard error is a new pseudo-terminal of
// `columns` columns, which is the child's controlling terminal with the child in its
// foreground, unless `controlling` is false (then the terminal is only a file the child
// writes to, as for a job that is not in the terminal's foreground). The child then exits 0.
PtyShown onPty(int columns, bool controlling, const std::function<void()>& body) {
    PtyShown shown;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return shown;
    const std::string slaveName = ::ptsname(master);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int slave = ::open(slaveName.c_str(), O_RDWR | (controlling ? 0 : O_NOCTTY));
        if (slave < 0) ::_exit(90);
        if (controlling) ::ioctl(slave, TIOCSCTTY, 0);
        termios mode{};
        ::tcgetattr(slave, &mode);
        mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // bytes as written: no \n to \r\n
        ::tcsetattr(slave, TCSANOW, &mode);
        winsize size{};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = 24;
        ::ioctl(slave, TIOCSWINSZ, &size);
        ::dup2(slave, 2);
        ::close(slave);
        ::close(master);
        body();
        ::_exit(0);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            shown.text.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the child and every copy of the terminal are gone
        }
    }
    ::waitpid(pid, &shown.status, 0);
    ::close(master);
    return shown;
}

// "\r" + n spaces + "\r": a line of n columns blanked.
std::string blanked(std::size_t n) {
    return "\r" + std::string(n, ' ') + "\r";
}

// Each row: what the child does, and exactly what its terminal shows.
TEST(ProgressLine, ATerminalShowsTheLineAndThenNothing) {
    using tessloom::ProgressLine;
    struct Case {
        const char* what;
        int columns;
        bool controlling;
        std::function<void()> body;
        std::string shown;
    };
    const Case cases[] = {
        {"shown from the start, redrawn as the percentage changes, erased at the end", 80, true,
         [] {
             ProgressLine line("tessloom: converting a.ase");
             line.update(0.001);  // still 0%: not redrawn
             line.update(0.5);
             line.update(1.0);
         },
         "\rtessloom: converting a.ase 0%\rtessloom: converting a.ase 50%"
         "\rtessloom: converting a.ase 100%" +
             blanked(31)},
        // a shorter line covers what the longer one left with spaces
        {"relabelled", 80, true,
         [] {
             ProgressLine line("long label");
             line.update(0.42);
             line.relabel("short");
         },
         "\rlong label 0%\rlong label 42%\rshort 0%      " + blanked(14)},
        // 20 columns: 19 at most, the label cut with "..." and the percentage kept
        {"cut to the terminal's width", 20, true,
         [] {
             ProgressLine line("tessloom: converting a-long-name.ase");
             line.update(0.07);
         },
         "\rtessloom: con... 0%\rtessloom: con... 7%" + blanked(19)},
        // control bytes escaped, as in every message
        {"escaped", 80, true, [] { ProgressLine line("a\nb\x1b[2J"); },
         "\ra\\nb\\x1b[2J 0%" + blanked(14)},
        {"not the foreground of its terminal", 80, false,
         [] {
             ProgressLine line("tessloom: converting a.ase");
             line.update(0.5);
         },
         ""},
        {"quiet", 80, true,
         [] {
             ProgressLine::quiet();
             ProgressLine line("tessloom: converting a.ase");
             line.update(0.5);
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PtyShown shown = onPty(c.columns, c.controlling, c.body);
        EXPECT_TRUE(WIFEXITED(shown.status) && WEXITSTATUS(shown.status) == 0) << shown.status;
        EXPECT_EQ(shown.text, c.shown);
    }
}

// A termination signal while the line is shown blanks it and then ends the process as the
// signal does; with outputs pending, every temporary file is removed as well.
TEST(ProgressLine, ASignalBlanksTheLineAndStillEndsTheProcess) {
    using tessloom::ProgressLine;
    tessloom::output::catchTerminationSignals();  // as the programs do
    const tessloom::test::TempDir dir;
    const std::string target = (dir / "out.png").string(), other = (dir / "other").string();
    struct Case {
        const char* what;
        int signal;
        std::function<void()> body;
    };
    const Case cases[] = {
        {"TERM, nothing pending", SIGTERM,
         [] {
             ProgressLine line("work");
             line.update(0.5);
             ::raise(SIGTERM);
         }},
        {"HUP, two outputs opened before the line", SIGHUP,
         [&] {
             tessloom::output::Output out(target), second(other);
             out.write("x", 1);
             second.write("y", 1);
             ProgressLine line("work");
             line.update(0.5);
             ::raise(SIGHUP);
         }},
        {"INT, an output opened after the line", SIGINT,
         [&] {
             ProgressLine line("work");
             tessloom::output::Output out(target);
             out.write("x", 1);
             line.update(0.5);
             ::raise(SIGINT);
         }},
        // no draw since the output came: the line is blanked all the same
        {"TERM, an output opened after the line's last draw", SIGTERM,
         [&] {
             ProgressLine line("work");
             line.update(0.5);
             tessloom::output::Output out(target);
             out.write("x", 1);
             ::raise(SIGTERM);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PtyShown shown = onPty(80, true, c.body);
        EXPECT_TRUE(WIFSIGNALED(shown.status) && WTERMSIG(shown.status) == c.signal)
            << shown.status;
        EXPECT_EQ(shown.text, "\rwork 0%\rwork 50%" + blanked(8));
        EXPECT_TRUE(fs::is_empty(dir.path())) << "a temporary file was left";
    }
}

// The programs: a progress line on a terminal (standard error under `script`) for a scene
// of more than 50 MB and for exports of meshes of 100,000 faces or more; never for smaller
// work, with --quiet, or when standard error is not a terminal. Standard output and the
// files written are the same in every case.
class ProgressRun : public tessloom::test::Driver {
  protected:
    void SetUp() override {
        if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script";
        Driver::SetUp();
    }
    // The run under `script`: standard output and standard error both go to its terminal,
    // and from there to the file `shown`.
    int onTerminal(const std::string& command) {
        return sh("script -qec \"" + command + "\" /dev/null > shown");
    }
};

TEST_F(ProgressRun, LongWorkShowsALineOnATerminalOnly) {
    // a scene just over 50 MB: the box and 51,000,000 bytes of lines no pass acts on
    ASSERT_EQ(sh("cp box.ase big.ase && yes '*COMMENT' | head -c 51000000 >> big.ase && "
                 "cat box.ase big.ase > two.ase"),
              0);
    struct Case {
        std::string command;
        std::string first;  // how the terminal's text begins; "" for no progress line
        std::string end;    // how it ends: the line blanked and what was printed after it,
                            // or without a line all of it
    };
    std::vector<Case> cases = {
        {"$T big.ase", "\rtessloom: converting big.ase 0%\rtessloom: converting big.ase 1%",
         blanked(32)},
        {"$T --quiet big.ase", "", ""},
        {"$T box.ase", "", ""},
        // each mesh reads its own part of the scene: the estimate stays low
        {"$T --each big.ase", "\rtessloom: converting big.ase 0%", blanked(31)},
        // the line goes before the warning is printed
        {"$T two.ase", "\rtessloom: converting two.ase 0%",
         blanked(32) +
             "tessloom: two.ase holds 2 meshes; the output holds the last one, 1 \"Box01\" "
             "(--each or --merge keep them all)\r\n"},
    };
#ifdef TESSLOOM_INSPECT_BINARY
    // 100,000 faces side by side: face i has the corners (x, y), (x + 1, y) and (x, y + 1)
    // of a 401 x 251 grid of vertices, where x = i % 400 and y = i / 400
    tessloom::meshfile::MeshFile many;
    for (int y = 0; y <= 250; ++y)
        for (int x = 0; x <= 400; ++x)
            many.vertices.push_back({static_cast<float>(x), static_cast<float>(y), 0});
    for (const auto& v : many.vertices) tessloom::meshfile::extendBounds(many.bounds, v);
    for (int i = 0; i < 100'000; ++i) {
        tessloom::meshfile::FaceRecord face;
        face.material = -1;
        const int a = i / 400 * 401 + i % 400;
        std::tie(face.a, face.b, face.c) = std::tuple(a, a + 1, a + 401);
        many.faces.push_back(face);
    }
    const auto bytes = tessloom::meshfile::encodeMeshFile(many);
    tessloom::test::writeFile(dir_ / "many.obj", std::string(bytes.begin(), bytes.end()));
    many.faces.pop_back();
    const auto fewer = tessloom::meshfile::encodeMeshFile(many);
    tessloom::test::writeFile(dir_ / "fewer.obj", std::string(fewer.begin(), fewer.end()));
    const std::string inspect = "$I";
    const std::string drawn = "p.png: 1600x1200, 100000 faces drawn, 0 not drawable\r\n";
    // "tessloom-inspect: reading many.obj 0%" is the longest line: 37 columns
    cases.push_back({inspect + " many.obj --png p.png",
                     "\rtessloom-inspect: reading many.obj 0%\rtessloom-inspect: drawing p.png 0%",
                     blanked(37) + drawn});
#ifdef TESSLOOM_HTML
    cases.push_back({inspect + " many.obj --html h.html", "\rtessloom-inspect: writing h.html 0%",
                     " bytes, 100000 faces\r\n"});
#endif
    cases.push_back({inspect + " --quiet many.obj --png p.png", "", drawn});
    cases.push_back({inspect + " fewer.obj --png p.png", "",
                     "p.png: 1600x1200, 99999 faces drawn, 0 not drawable\r\n"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(onTerminal(c.command), 0) << err_;
        const std::string shown = tessloom::test::readFile(dir_ / "shown");
        if (c.first.empty()) {
            EXPECT_EQ(shown, c.end);
        } else {
            EXPECT_EQ(shown.substr(0, c.first.size()), c.first) << shown.substr(0, 200);
            ASSERT_GE(shown.size(), c.end.size());
            EXPECT_EQ(shown.substr(shown.size() - c.end.size()), c.end) << shown;
        }
        // standard error not a terminal: the same run prints no line at all
        EXPECT_EQ(sh(c.command), 0) << err_;
        EXPECT_EQ(err_.find('\r'), std::string::npos) << err_;
    }
}

}  // namespace
