// Many scenes in one run (--out-dir): each output as the one-scene run writes it, failures one
// line each, clashes and usage errors refused before any work, a signal leaving no
// temporary file.
#include <algorithm>
#include <map>
#include <sstream>

#include "binary.h"

namespace {

using tessloom::test::Driver;
using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

std::multiset<std::string> linesOf(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        files[e.path().filename().string()] = readFile(e.path());
    return files;
}

class Batch : public Driver {
  protected:
    void SetUp() override {
        Driver::SetUp();
        fs::create_directory(dir_ / "in");
        box_ = readFile(dir_ / "box.ase");
        writeFile(dir_ / "in/box.ase", box_);
        writeFile(dir_ / "in/twice.ase", box_ + box_);  // two meshes: a warning
        writeFile(dir_ / "in/bad.ase", "*MATERIAL_COUNT 2\n*MATERIAL_REF 7\n");
    }
    std::string box_;
};

// Good scenes give the one-scene run's bytes and warnings; each failing one gives one line
// and keeps its previous output; then the count; exit 1 as one failed.
TEST_F(Batch, EachSceneAsTheOneSceneRunConvertsIt) {
    const std::string missing = "tessloom: in/missing.ase: No such file or directory";
    const struct {
        std::string options;
        std::string summary, mesh;  // mesh: how the failure names the mesh
    } rows[] = {
        {"", "2 converted, 2 failed", ""},
        {"--each", "2 converted, 2 failed", "mesh 0: "},
        {"--merge --fix", "2 converted, 2 failed", "mesh 0: "},
        {"--strict -j 1", "1 converted, 3 failed", ""},  // twice.ase warns
    };
    for (const auto& row : rows) {
        const std::string bad = "tessloom: in/bad.ase: " + row.mesh +
                                "*MATERIAL_REF 7 names no material; the scene has 2";
        fs::remove_all(dir_ / "out");
        fs::remove_all(dir_ / "one");
        fs::create_directory(dir_ / "out");
        fs::create_directory(dir_ / "one");
        const std::string previous = row.options.starts_with("--each") ? "bad.0.obj" : "bad.obj";
        writeFile(dir_ / "out" / previous, "PREVIOUS");
        // what the one-scene run prints and writes, scene by scene
        std::multiset<std::string> expected = {bad, missing, row.summary};
        for (const char* scene : {"box", "twice", "bad"}) {
            const std::string name = scene;
            sh("\"$T\" " + row.options.substr(0, row.options.find(" -j")) + " in/" + name +
               ".ase one/" + name + ".obj");
            if (name != "bad") expected.merge(linesOf(err_));
        }
        EXPECT_EQ(err_, bad + "\n");  // the last one: the batch prints the same line
        writeFile(dir_ / "one" / previous, "PREVIOUS");

        EXPECT_EQ(run("--out-dir out " + row.options +
                      " in/box.ase in/twice.ase in/bad.ase in/missing.ase"),
                  1)
            << row.options;
        EXPECT_EQ(out_, "");
        EXPECT_EQ(linesOf(err_), expected) << row.options << "\n" << err_;
        EXPECT_TRUE(err_.ends_with("\n" + row.summary + "\n")) << err_;
        EXPECT_EQ(contents(dir_ / "out"), contents(dir_ / "one")) << row.options;
        EXPECT_EQ(readFile(dir_ / "out" / previous), "PREVIOUS");
    }
    // all good: exit 0, and the folder made with its parents
    EXPECT_EQ(run("--out-dir new/deep/ in/box.ase"), 0) << err_;
    EXPECT_EQ(err_, "1 converted, 0 failed\n");
    EXPECT_EQ(readFile(dir_ / "new/deep/box.obj").size(), 1225u);
}

// Scenes whose outputs share a name are refused before any work, both named: no folder made.
TEST_F(Batch, OutputsThatClashAreRefused) {
    fs::create_directory(dir_ / "b");
    writeFile(dir_ / "b/box.ase", box_);
    writeFile(dir_ / "b/box.txt", box_);
    const std::pair<std::string, std::string> rows[] = {
        {"in/box.ase b/box.ase",
         "tessloom: in/box.ase and b/box.ase give the same output out/box.obj; nothing "
         "converted\n"},
        {"in/box.ase in/bad.ase b/box.txt",
         "tessloom: in/box.ase and b/box.txt give the same output out/box.obj; nothing "
         "converted\n"},
        {"--each in/box.ase in/twice.ase in/box.ase",
         "tessloom: in/box.ase and in/box.ase are the same scene; nothing converted\n"},
        {"in/box.ase b/box.ase b/box.txt in/twice.ase in/twice.ase",
         "tessloom: in/box.ase and b/box.ase give the same output out/box.obj (and 2 more "
         "clashes); nothing converted\n"},
    };
    for (const auto& [scenes, message] : rows) {
        EXPECT_EQ(run("--out-dir out " + scenes), 1) << scenes;
        EXPECT_EQ(out_, "");
        EXPECT_EQ(err_, message);
        EXPECT_FALSE(fs::exists(dir_ / "out"));
    }
    // a scene that reaches another's output by another name would be read before or after
    // the replacement, as the threads run: refused too; a hard link keeps the old file
    ASSERT_EQ(run("--out-dir out --each in/twice.ase"), 0) << err_;
    ASSERT_EQ(run("--out-dir out in/box.ase"), 0) << err_;
    fs::create_symlink("out/box.obj", dir_ / "link.ase");
    fs::create_hard_link(dir_ / "out/box.obj", dir_ / "hard.ase");
    const struct {
        std::string scenes, message;
        int status;
    } outputs[] = {
        {"in/box.ase link.ase",
         "tessloom: link.ase is an output of in/box.ase; nothing converted\n", 1},
        {"--each in/twice.ase out/twice.1.obj link.ase",
         "tessloom: out/twice.1.obj is an output of in/twice.ase; nothing converted\n", 1},
        {"in/box.ase hard.ase", "2 converted, 0 failed\n", 0},
    };
    for (const auto& row : outputs) {
        const std::string before = readFile(dir_ / "out/box.obj");
        EXPECT_EQ(run("--out-dir out " + row.scenes), row.status) << row.scenes;
        EXPECT_EQ(err_, row.message);
        EXPECT_EQ(readFile(dir_ / "out/box.obj"), before);
    }
}

// --from: one path a line, or NUL-separated with -0, from a file or standard input, with the
// scenes given as words; empty entries skipped. A list that cannot be read: a usage error.
TEST_F(Batch, ScenesFromAList) {
    writeFile(dir_ / "in/with space.ase", box_);
    writeFile(dir_ / "in/new\nline.ase", box_);
    const struct {
        std::string command;
        std::set<std::string> outputs;
    } rows[] = {
        {"printf 'in/with space.ase\\n\\nin/twice.ase\\n' >list && \"$T\" --out-dir out --from "
         "list",
         {"with space.obj", "twice.obj"}},
        {"printf 'in/with space.ase\\n' | \"$T\" --out-dir out --from - in/box.ase",
         {"with space.obj", "box.obj"}},
        {"find in -name '*e.ase' -print0 | \"$T\" --out-dir out -0 --from=-",
         {"with space.obj", "new\nline.obj", "twice.obj"}},
        {"printf 'in/new\\nline.ase\\0\\0in/box.ase' >list && \"$T\" --out-dir out -0 --from "
         "list",
         {"new\nline.obj", "box.obj"}},
    };
    for (const auto& row : rows) {
        fs::remove_all(dir_ / "out");
        EXPECT_EQ(sh(row.command), 0) << row.command << err_;
        std::set<std::string> made;
        for (const auto& [name, bytes] : contents(dir_ / "out")) {
            made.insert(name);
            EXPECT_EQ(bytes.size(), name == "twice.obj" ? bytes.size() : 1225u) << name;
        }
        EXPECT_EQ(made, row.outputs) << row.command;
    }
    // a NUL inside a line names no file of its own: never the one named before it
    fs::remove_all(dir_ / "out");
    EXPECT_EQ(sh("printf 'in/box.ase\\0x\\n' | \"$T\" --out-dir out --from -"), 1);
    EXPECT_EQ(err_,
              "tessloom: in/box.ase\\x00x: Invalid argument\n"
              "0 converted, 1 failed\n");
    EXPECT_TRUE(fs::is_empty(dir_ / "out"));
    for (const char* list : {"nothere", "in"}) {
        EXPECT_EQ(run("--out-dir out --from " + std::string(list)), 1);
        EXPECT_EQ(out_, "Usage: tessloom <inputfile> [<outputfile>]");
        EXPECT_EQ(err_.rfind("tessloom: cannot read --from " + std::string(list) + ": ", 0), 0u)
            << err_;
    }
}

// One thread or four, or eight where the descriptor limit leaves room for one worker only
// (fewer workers then, not scenes failed for want of descriptors): the same files, the
// same lines.
TEST_F(Batch, ThreadsChangeNothingButTheOrder) {
    const fs::path corpus = TESSLOOM_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    const std::string scenes = "'" + corpus.string() + "'/*.[aA][sS][eE] in/*.ase";
    ASSERT_EQ(run("--out-dir one -j 1 " + scenes), 1);  // bad.ase fails
    const std::string one = err_;
    EXPECT_GE(contents(dir_ / "one").size(), 33u);
    const std::pair<std::string, std::string> rows[] = {
        {"--jobs=4", ""},
        {"-j 8", "ulimit -n 10;"},
    };
    for (const auto& [jobs, limits] : rows) {
        fs::remove_all(dir_ / "many");
        ASSERT_EQ(run("--out-dir many " + jobs + " " + scenes, limits), 1) << jobs;
        EXPECT_EQ(linesOf(err_), linesOf(one)) << jobs;
        EXPECT_EQ(contents(dir_ / "many"), contents(dir_ / "one")) << jobs;
    }
}

// The folder: a file in its place, or one that cannot be made or written in, is one line
// before any work.
TEST_F(Batch, OutputFolderThatCannotTakeTheFiles) {
    writeFile(dir_ / "file", "");
    fs::create_directory(dir_ / "locked");
    ASSERT_EQ(::chmod((dir_ / "locked").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((dir_ / "in").c_str(), 0755), 0);
    const std::string asNobody = ::geteuid() == 0 ? as(65534) : "";
    const std::pair<std::string, std::string> rows[] = {
        {"file", "tessloom: the output folder file is not a directory\n"},
        {"file/sub", "tessloom: cannot create the output folder file/sub: Not a directory\n"},
        {"locked", "tessloom: cannot write in the output folder locked: Permission denied\n"},
        {"locked/sub", "tessloom: cannot create the output folder locked/sub: Permission denied\n"},
    };
    for (const auto& [folder, message] : rows) {
        EXPECT_EQ(sh(asNobody + "\"$T\" --out-dir " + folder + " in/box.ase"), 1) << folder;
        EXPECT_EQ(out_, "");
        EXPECT_EQ(err_, message);
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "locked"));
}

// Usage errors: one line, the usage line on standard output, nothing written.
TEST_F(Batch, UsageErrors) {
    const std::pair<std::string, std::string> rows[] = {
        {"--out-dir out", "no scene to convert"},
        {"--out-dir out -- ", "no scene to convert"},
        {"--out-dir", "--out-dir needs a folder"},
        {"--out-dir= box.ase", "--out-dir needs a folder"},
        {"--out-dir a --out-dir=b box.ase", "--out-dir is given twice"},
        {"--out-dir out --mesh 0 box.ase", "--mesh and --out-dir exclude each other"},
        {"--mesh=x --out-dir=out box.ase", "--mesh and --out-dir exclude each other"},
        {"--out-dir out -j 0 box.ase", "-j needs a number of threads from 1 to 1024, not 0"},
        {"--out-dir out -jx box.ase", "-j needs a number of threads from 1 to 1024, not x"},
        {"--out-dir out --jobs=-2 box.ase",
         "--jobs needs a number of threads from 1 to 1024, not -2"},
        {"--out-dir out -j", "-j needs a number"},
        {"-j 2 box.ase", "-j needs --out-dir"},
        {"--from list box.ase", "--from needs --out-dir"},
        {"-0 box.ase", "-0 needs --out-dir"},
        {"--out-dir out -0 box.ase", "-0 needs --from"},
        {"--out-dir out --each --merge box.ase", "--each and --merge exclude each other"},
    };
    for (const auto& [args, reason] : rows) {
        EXPECT_EQ(run(args), 1) << args;
        EXPECT_EQ(out_, "Usage: tessloom <inputfile> [<outputfile>]") << args;
        EXPECT_EQ(err_, "tessloom: " + reason + "\n") << args;
    }
    EXPECT_EQ(files(), (std::set<std::string>{"box.ase", "in"}));
}

// A termination signal during a batch: every output already in place whole, none half
// written, no temporary file; the process ends by the signal.
TEST_F(Batch, ASignalLeavesFinishedOutputsWhole) {
    // 3 million faces of zeros: a 228 MB mesh from a 3 MB scene, long enough to catch
    writeFile(dir_ / "in/big.ase", "*MESH_NUMFACES 3000000\n" + std::string(3'000'000, ' '));
    std::string scenes = " in/box0.ase in/big.ase";  // one finished before the big one
    writeFile(dir_ / "in/box0.ase", box_);
    for (int n = 1; n < 8; ++n) {
        writeFile(dir_ / "in" / ("box" + std::to_string(n) + ".ase"), box_);
        scenes += " in/box" + std::to_string(n) + ".ase";
    }
    for (const int signal : {SIGINT, SIGTERM}) {
        for (const auto& e : fs::directory_iterator(dir_)) {
            if (e.path().extension() == ".obj") fs::remove(e.path());
        }
        const int status =
            signalWhenWriting(spawn("exec \"$T\" --out-dir . -j 2" + scenes), signal);
        ASSERT_NE(status, -1) << "the run ended before a temporary file was seen: " << err_;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_FALSE(temporaryLeft());
        EXPECT_FALSE(fs::exists(dir_ / "big.obj"));
        for (const auto& e : fs::directory_iterator(dir_)) {
            if (e.path().extension() == ".obj") {
                EXPECT_EQ(fs::file_size(e.path()), 1225u) << e.path();
            }
        }
    }
}

}  // namespace
