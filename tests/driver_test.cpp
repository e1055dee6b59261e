// The real binary in a temporary directory: messages, statuses, output naming and faults.
#include <regex>

#include "binary.h"

namespace {

using tessloom::test::Driver;
using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

// Usage errors: the usage line on standard output as ever (no line feed), after one line on
// standard error saying what was wrong; a missing input: its message alone; an input that
// is there but cannot be read: the same message, after the reason on standard error.
TEST_F(Driver, UsageAndMissingInputMessages) {
    const std::string usage = "Usage: tessloom <inputfile> [<outputfile>]";
    const struct {
        std::string args, out, err;
    } rows[] = {
        {"", usage, "tessloom: no input path\n"},
        {"--", usage, "tessloom: no input path\n"},
        {"a b c", usage, "tessloom: too many paths\n"},
        {"box.ase -o b.obj", usage, "tessloom: too many paths\n"},  // -o after a path is a path
        {"-o b.obj box.ase", usage, "tessloom: unknown option -o\n"},
        {"--output=b.obj box.ase", usage, "tessloom: unknown option --output=b.obj\n"},
        {"--each=2 box.ase", usage, "tessloom: unknown option --each=2\n"},
        {"\"$(printf -- '-\\033[2J\\nx')\" box.ase", usage,
         "tessloom: unknown option -\\x1b[2J\\nx\n"},
        {"--merge --each box.ase", usage, "tessloom: --merge and --each exclude each other\n"},
        {"--mesh=1 --merge box.ase", usage, "tessloom: --mesh and --merge exclude each other\n"},
        {"--each --each box.ase", usage, "tessloom: --each is given twice\n"},
        {"--mesh 0 --mesh=1 box.ase", usage, "tessloom: --mesh is given twice\n"},
        {"--mesh", usage, "tessloom: --mesh needs a mesh number or name\n"},
        {"--each --mesh", usage, "tessloom: --mesh needs a mesh number or name\n"},
        {"--mesh box.ase", usage, "tessloom: no input path\n"},  // box.ase was its value
        {"-- -- out.obj", "# -- not found!\n", ""},  // after --, "--" is a path like any other
        {"none.ase", "# none.ase not found!\n", ""},
        {"-- -h", "# -h not found!\n", ""},
        {"none/x.ase", "# none/x.ase not found!\n", ""},
        {"box.ase/x.ase", "# box.ase/x.ase not found!\n", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(run(row.args), 1) << row.args;
        EXPECT_EQ(out_, row.out) << row.args;
        EXPECT_EQ(err_, row.err) << row.args;
    }
    EXPECT_EQ(files(), (std::set<std::string>{"box.ase"}));
    for (const char* help : {"-h", "--help", "-h box.ase", "--each -h"}) {
        EXPECT_EQ(run(help), 0) << help;
        EXPECT_EQ(out_.rfind(usage + "\n", 0), 0u) << help;
        EXPECT_NE(out_.find("-h, --help"), std::string::npos) << help;
        EXPECT_EQ(err_, "") << help;
    }
    ASSERT_EQ(run("--version"), 0);
    EXPECT_TRUE(std::regex_match(out_, std::regex("tessloom [0-9]+\\.[0-9]+\\.[0-9]+\n")));
}

TEST_F(Driver, OutputNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"scene.ase", "scene.obj"}, {"C:\\data\\ship.ASE", "C:\\data\\ship.obj"},
        {"model.txt", "model.obj"}, {"a.b.ase", "a.b.obj"},
        {"ab", "ab.obj"},           {".ase", ".obj"},
    };
    for (const auto& [input, output] : cases) {
        fs::copy_file(dir_ / "box.ase", dir_ / input);
        EXPECT_EQ(run("'" + input + "'"), 0) << input << err_;
        EXPECT_EQ(fs::file_size(dir_ / output), 1225u) << input;
    }
    EXPECT_EQ(run("box.ase plain"), 0);
    EXPECT_EQ(fs::file_size(dir_ / "plain"), 1225u);
    EXPECT_EQ(run("box.ase --each"), 0);  // a word after the first path is a path
    EXPECT_EQ(fs::file_size(dir_ / "--each"), 1225u);
    EXPECT_EQ(out_ + err_, "");
    fs::copy_file(dir_ / "box.ase", dir_ / "-");
    EXPECT_EQ(run("--each - out.obj"), 0) << err_;  // "-" alone is a path
    EXPECT_EQ(fs::file_size(dir_ / "out.0.obj"), 1225u);
}

// Outputs refused and writes that fail: one line each, and every path as it was.
TEST_F(Driver, OutputRejectionsAndWriteFaultsLeaveEveryPathAsItWas) {
    writeFile(dir_ / "box.obj", "PREVIOUS");
    fs::create_directory(dir_ / "d");
    fs::create_symlink("loop", dir_ / "loop");
    ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
    // a 152 KB mesh, more than a pipe holds: its write waits for the reader
    writeFile(dir_ / "faces.ase", "*MESH_NUMFACES 2000\n" + std::string(2000, ' '));
    const struct {
        std::string prefix, args, message;
    } rows[] = {
        {"", "box.ase box.ase", "is the input itself"},
        {"", "box.ase ''", "empty"},
        {"", "box.ase out/", "ends in a slash"},
        {"", "box.ase d", "is a directory"},
        {"", "box.ase missing/box.obj", "No such file or directory"},
        {"", "box.ase loop", "symbolic links"},
        // the file-size limit makes write() fail part-way with EFBIG, not kill the process
        {"ulimit -f 1;", "box.ase", "File too large"},
        {"", "box.ase /dev/full", "No space left on device"},
        // a reader that leaves at once: the write fails with EPIPE
        {"(exec 3<pipe; exec 3<&-) & ", "faces.ase pipe", "Broken pipe"},
    };
    const std::set<std::string> before = files();
    for (const auto& row : rows) {
        expectRejected(row.args, row.message, row.prefix);
        EXPECT_EQ(files(), before) << row.args;
    }
    EXPECT_EQ(readFile(dir_ / "box.obj"), "PREVIOUS");
    EXPECT_TRUE(fs::is_empty(dir_ / "d"));
    ::chmod(dir_.c_str(), 0500);
    if (::access((dir_ / "x").c_str(), W_OK) != 0 && ::geteuid() != 0) {
        expectRejected("box.ase", "cannot create");
    }
    ::chmod(dir_.c_str(), 0700);
}

// A bitmap path loses what comes before its last backslash, and nothing else: forward
// slashes are no folders to it. (More names: the material pass's table.)
TEST_F(Driver, BitmapNamesLoseOnlyBackslashFolders) {
    const std::pair<std::string, std::string> rows[] = {
        {R"(a\b/c.PNG)", "b/c.PNG"},
        {R"(maps\)", ""},
    };
    for (const auto& [path, stored] : rows) {
        writeFile(dir_ / "m.ase", "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*BITMAP \"" + path +
                                      "\"\n}\n*MATERIAL_REF 0\n");
        ASSERT_EQ(run("m.ase"), 0) << path << err_;
        const auto mesh = tessloom::meshfile::load((dir_ / "m.obj").string());
        ASSERT_EQ(mesh.materials.size(), 1u) << path;
        EXPECT_EQ(mesh.materials[0].name, stored) << path;
        EXPECT_EQ(mesh.materials[0].hasBitmap, 1) << path;
    }
}

// A dangling link's target is created, and replaced the second time with the link kept; a
// new file takes its mode from the umask.
TEST_F(Driver, LinksAndModes) {
    fs::create_directory(dir_ / "real");
    fs::create_symlink("real/mesh.obj", dir_ / "link.obj");
    EXPECT_EQ(run("box.ase link.obj"), 0) << err_;  // a dangling link: its target is created
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.obj"));
    EXPECT_EQ(fs::file_size(dir_ / "real/mesh.obj"), 1225u);
    EXPECT_EQ(run("box.ase link.obj"), 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.obj"));
    EXPECT_EQ(run("box.ase new.obj", "umask 027;"), 0);
    EXPECT_EQ(fs::status(dir_ / "new.obj").permissions(), fs::perms(0640));
}

}  // namespace
