// Runs the real binary in a temporary directory and captures what it printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "testutil.h"

namespace tessloom::test {

namespace fs = std::filesystem;

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "tessloom-XXXXXX").string();
        root_ = ::mkdtemp(tmpl.data());
        dir_ = root_ / "work";
        fs::create_directory(dir_);
        fs::copy_file(fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase", dir_ / "box.ase");
    }
    void TearDown() override { fs::remove_all(root_); }

    // Runs a shell script in the work directory, with the binary's path in $T.
    int sh(const std::string& script) {
        const std::string command = "cd '" + dir_.string() + "' && T='" + TESSLOOM_BINARY +
                                    "' && { " + script + "; } >'" + (root_ / "out").string() +
                                    "' 2>'" + (root_ / "err").string() + "'";
        const int status = std::system(command.c_str());
        out_ = readFile(root_ / "out");
        err_ = readFile(root_ / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Runs `prefix tessloom args`, so limits can be set first.
    int run(const std::string& args, const std::string& prefix = "") {
        return sh(prefix + " exec \"$T\" " + args);
    }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
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

    fs::path root_, dir_;
    std::string out_, err_;
};

}  // namespace tessloom::test
