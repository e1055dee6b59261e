// The one runner of the built programs: a temporary folder, the programs run there by a shell
// script, and what they printed read back.
//
// A fixture derives from Driver: its work folder dir_ holds a copy of examples/box.ase; sh()
// runs a script there with the converter's path in $T and the inspector's in $I (empty when
// the inspector is not built), run() and inspect() run one of them, spawn() starts a script
// without waiting for it. A test that is no fixture takes a TempDir (testutil.h).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "testutil.h"

extern char** environ;

namespace tessloom::test {

namespace fs = std::filesystem;

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = root_ / "work";
        fs::create_directory(dir_);
        fs::copy_file(fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase", dir_ / "box.ase");
    }

    // `cd` to the work folder and the programs' variables, the start of every script.
    std::string prologue() const {
#ifdef TESSLOOM_INSPECT_BINARY
        const std::string inspector = TESSLOOM_INSPECT_BINARY;
#else
        const std::string inspector;
#endif
        return "cd '" + dir_.string() + "' && T='" + TESSLOOM_BINARY + "' && I='" + inspector +
               "' && ";
    }

    // Runs a shell script in the work folder; out_ and err_ take what it printed.
    int sh(const std::string& script) {
        const std::string command = prologue() + "{ " + script + "; } >'" +
                                    (root_ / "out").string() + "' 2>'" + (root_ / "err").string() +
                                    "'";
        const int status = std::system(command.c_str());
        out_ = readFile(root_ / "out");
        err_ = readFile(root_ / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The start of a command run as the user and group `id`, for checks that root would pass.
    static std::string as(int id) {
        const std::string n = std::to_string(id);
        return "setpriv --reuid=" + n + " --regid=" + n + " --clear-groups ";
    }

    // `prefix tessloom args` and `prefix tessloom-inspect args`, so limits can be set first.
    int run(const std::string& args, const std::string& prefix = "") {
        return sh(prefix + " exec \"$T\" " + args);
    }
    int inspect(const std::string& args, const std::string& prefix = "") {
        return sh(prefix + " exec \"$I\" " + args);
    }

    // Starts a script in the work folder without waiting: its standard output goes to the
    // descriptor `out` if one is given, its standard error to the file err_ is read from.
    pid_t spawn(const std::string& script, int out = -1) {
        const std::string command =
            prologue() + "exec 2>'" + (root_ / "err").string() + "'; " + script;
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        if (out >= 0) ::posix_spawn_file_actions_adddup2(&actions, out, 1);
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawnp(&pid, "sh", &actions, nullptr, const_cast<char**>(argv), environ),
                  0);
        ::posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // Waits for a spawned process, sending it `signal` once a temporary output file shows in
    // the work folder; the wait status, or -1 when the run ended before one showed.
    int signalWhenWriting(pid_t pid, int signal) {
        int status = 0;
        bool signalled = false;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (!signalled && temporaryLeft()) signalled = ::kill(pid, signal) == 0;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        err_ = readFile(root_ / "err");
        return signalled ? status : -1;
    }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }

    // Whether the folder holds a temporary output file, or a file named after a deleted one
    // (as a descriptor's link in /proc reads).
    bool temporaryLeft() const {
        for (const auto& name : files()) {
            if (name.find(".tessloom-") != std::string::npos ||
                name.find("(deleted)") != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // A rejection: status 1, one "tessloom: " line on standard error, nothing on stdout.
    void expectRejected(const std::string& args, const std::string& message,
                        const std::string& prefix = "") {
        expectRejection(run(args, prefix), args, message);
    }
    void expectRejection(int status, const std::string& what, const std::string& message) {
        EXPECT_EQ(status, 1) << what;
        EXPECT_EQ(out_, "") << what;
        EXPECT_EQ(err_.rfind("tessloom: ", 0), 0u) << err_;
        EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
        EXPECT_NE(err_.find(message), std::string::npos) << err_;
    }

    TempDir temp_;
    fs::path root_ = temp_.path(), dir_;
    std::string out_, err_;
};

}  // namespace tessloom::test
