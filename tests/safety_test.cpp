// The user's files through the real binary: outputs behind descriptors, protected and
// foreign-owned files, termination signals, special and changing inputs, odd paths.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/xattr.h>

#include <csignal>
#include <cstring>

#include "binary.h"
#include "driver/converter.h"
#include "testutil.h"

namespace {

using tessloom::test::Driver;
using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

class Safety : public Driver {
  protected:
    void SetUp() override {
        Driver::SetUp();
        ASSERT_EQ(run("box.ase reference.obj"), 0) << err_;
        mesh_ = readFile(dir_ / "reference.obj");
        fs::remove(dir_ / "reference.obj");
    }

    std::string mesh_;  // box.ase converted to a plain file
};

// Outputs that lead to an open descriptor are written there, at its offset, with its flags.
TEST_F(Safety, DescriptorsAreWrittenInPlace) {
    struct Case {
        const char* script;
        const char* file;  // what the descriptor leads to
        std::string before;
        int copies;
    };
    const Case cases[] = {
        {R"({ "$T" box.ase /dev/stdout; "$T" box.ase /dev/stdout; } > both.bin)", "both.bin", "",
         2},
        {R"(echo important > log; "$T" box.ase /dev/stdout >> log)", "log", "important\n", 1},
        {R"(exec 3>>log; echo x >&3; "$T" box.ase /dev/fd/3)", "log", "x\n", 1},
        {R"("$T" box.ase /proc/self/fd/1 > fd1)", "fd1", "", 1},
        {R"(echo y > log; exec "$T" box.ase /proc/$$/fd/1 >> log)", "log", "y\n", 1},
        {R"(ln -s /dev/stderr err.obj; "$T" box.ase err.obj 2> log)", "log", "", 1},
        {R"("$T" box.ase /dev/stdout | cat > piped)", "piped", "", 1},
        {R"(mkfifo f; cat f > read & "$T" box.ase f; wait)", "read", "", 1},
        // standard input opened for writing too, after what was read from it
        {R"(echo z > f; { cat > /dev/null; "$T" box.ase /dev/stdin; } 0<> f)", "f", "z\n", 1},
        {R"("$T" box.ase /dev/stdin 0>&1 | cat > piped)", "piped", "", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sh(c.script), 0) << c.script;
        EXPECT_EQ(err_, "") << c.script;
        std::string expected = c.before;
        for (int i = 0; i < c.copies; ++i) expected += mesh_;
        EXPECT_EQ(readFile(dir_ / c.file), expected) << c.script;
        EXPECT_FALSE(temporaryLeft()) << c.script;
        for (const char* name : {"both.bin", "log", "fd1", "err.obj", "piped", "f", "read"})
            fs::remove(dir_ / name);
    }
    EXPECT_EQ(sh(R"("$T" box.ase /dev/null)"), 0);
    EXPECT_EQ(err_, "");
}

// The output's owner, group, mode and attributes survive; a file the caller may not write
// is refused as the shell's `>` would refuse it.
TEST_F(Safety, ProtectedAndForeignOutputs) {
    writeFile(dir_ / "prot.obj", "keep");
    fs::permissions(dir_ / "prot.obj", fs::perms(0444));
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(root_.c_str(), 0711), 0);
        ASSERT_EQ(::chown(dir_.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((dir_ / "prot.obj").c_str(), kNobody, kNobody), 0);
        expectRejection(sh(as(kNobody) + R"("$T" box.ase prot.obj)"), "as nobody",
                        "tessloom: box.ase: the output prot.obj is not writable\n");
    } else {
        expectRejected("box.ase prot.obj", "is not writable");
    }
    EXPECT_EQ(readFile(dir_ / "prot.obj"), "keep");

    writeFile(dir_ / "theirs.obj", "theirs");
    ASSERT_EQ(::chmod((dir_ / "theirs.obj").c_str(), 0640), 0);
    const bool attributes =
        ::setxattr((dir_ / "theirs.obj").c_str(), "user.origin", "x", 1, 0) == 0;
    const bool foreign =
        ::geteuid() == 0 && ::chown((dir_ / "theirs.obj").c_str(), kNobody, kNobody) == 0;
    EXPECT_EQ(run("box.ase theirs.obj"), 0) << err_;
    EXPECT_EQ(readFile(dir_ / "theirs.obj"), mesh_);
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "theirs.obj").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (foreign) {
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
    }
    if (attributes) {
        char value[8] = {};
        EXPECT_EQ(::getxattr((dir_ / "theirs.obj").c_str(), "user.origin", value, sizeof value), 1);
        EXPECT_STREQ(value, "x");
    }
}

// A termination signal during the write removes the temporary file and ends the process
// as that signal does; the previous output stays. An ignored signal stays ignored.
TEST_F(Safety, TerminationSignalsLeaveNoTemporaryFile) {
    // 3 million faces of zeros: a 228 MB mesh from a 3 MB scene, long enough to catch
    writeFile(dir_ / "big.ase", "*MESH_NUMFACES 3000000\n" + std::string(3'000'000, ' '));
    for (const bool ignored : {false, true}) {
        writeFile(dir_ / "big.obj", "PREVIOUS");
        const int signal = ignored ? SIGHUP : SIGTERM;
        const int status = signalWhenWriting(
            spawn(std::string(ignored ? "trap '' HUP && " : "") + "exec \"$T\" big.ase"), signal);
        ASSERT_NE(status, -1) << "the run ended before its temporary file was seen";
        if (ignored) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(fs::file_size(dir_ / "big.obj"), 4u + 4 + 4 + 76u * 3'000'000 + 28);
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
            EXPECT_EQ(readFile(dir_ / "big.obj"), "PREVIOUS");
        }
        EXPECT_FALSE(temporaryLeft());
    }
}

// Inputs that are not regular files are refused at once, with the missing-input message and
// the reason; /proc's files, whose size reads as 0, still convert.
TEST_F(Safety, SpecialInputs) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir_ / "dir.ase");
    fs::create_directory_symlink("dir.ase", dir_ / "link.ase");
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (dir_ / "sock").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    for (const char* input : {"/dev/zero", "fifo", "dir.ase", "link.ase", "sock"}) {
        EXPECT_EQ(sh("timeout 10 \"$T\" " + std::string(input) + " out.obj"), 1) << input;
        EXPECT_EQ(out_, "# " + std::string(input) + " not found!\n");
        EXPECT_EQ(err_, "tessloom: " + std::string(input) + ": not a regular file\n");
    }
    // a file the caller may not read (root may read any: then run as nobody)
    writeFile(dir_ / "locked.ase", "");
    ASSERT_EQ(::chmod((dir_ / "locked.ase").c_str(), 0), 0);
    ASSERT_EQ(::chmod(root_.c_str(), 0711), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0711), 0);
    EXPECT_EQ(sh((::geteuid() == 0 ? as(kNobody) : "") + "\"$T\" locked.ase"), 1);
    EXPECT_EQ(out_, "# locked.ase not found!\n");
    EXPECT_EQ(err_, "tessloom: locked.ase: Permission denied\n");
    fs::remove(dir_ / "locked.ase");
    EXPECT_EQ(run("/proc/version out.obj"), 0) << err_;
    EXPECT_EQ(fs::file_size(dir_ / "out.obj"), 40u);
    ::close(socket);
    EXPECT_EQ(files(),
              (std::set<std::string>{"box.ase", "dir.ase", "fifo", "link.ase", "out.obj", "sock"}));
}

// Paths that are hard to print or to reach: one line always, every path the kernel takes.
TEST_F(Safety, OddPaths) {
    writeFile(dir_ / "n\neg\x1b.ase", "*MESH_NUMVERTEX -3\n");
    expectRejected("'n\neg\x1b.ase'", "tessloom: n\\neg\\x1b.ase: *MESH_NUMVERTEX is -3\n");
    expectRejected("box.ase 'a\rb/x.obj'",
                   "tessloom: box.ase: cannot write a\\rb/x.obj: No such file or directory\n");

    // the temporary file's whole path would be longer than PATH_MAX; the test reaches the
    // folder by relative paths too
    std::string deep;
    while (deep.size() + 250 < 4086 - 8) deep += std::string(249, 'd') + "/";
    deep += std::string(4086 - 8 - deep.size(), 'e');
    EXPECT_EQ(sh("mkdir -p " + deep + " && \"$T\" box.ase " + deep + "/box.obj && cat " + deep +
                 "/box.obj && rm -r ddd*"),
              0)
        << err_;
    EXPECT_TRUE(out_ == mesh_);

    // another process's descriptor is followed to its file's name, a link text longer
    // than lstat says (as /proc's are): read whole
    const std::string longName(100, 'l');
    fs::create_directory(dir_ / longName);
    writeFile(dir_ / longName / "theirs.obj", "old");
    const int theirs = ::open((dir_ / longName / "theirs.obj").c_str(), O_RDONLY);
    ASSERT_GE(theirs, 0);
    EXPECT_EQ(run("box.ase /proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(theirs)),
              0)
        << err_;
    ::close(theirs);
    EXPECT_EQ(readFile(dir_ / longName / "theirs.obj"), mesh_);
    // with standard input closed the scene opens as descriptor 0, and is still itself
    expectRejected("box.ase box.ase", "the output box.ase is the input itself", "exec 0<&-;");
    expectRejected("box.ase /dev/stdin", "the output /dev/stdin is the input itself",
                   "exec 0<box.ase;");
}

}  // namespace

// A file that changes between passes would give each pass other bytes: rejected.
TEST(ChangingInput, IsRejected) {
    const std::string scene =
        "*MATERIAL_COUNT 1\n*MESH_NUMVERTEX 2\n*MESH_VERTEX 0 1 2 3\n"
        "*MESH_VERTEX 1 4 5 6\n";
    for (const bool grow : {false, true}) {
        for (int changedAfter = 0; changedAfter <= 3; ++changedAfter) {
            tessloom::test::TextFile file(scene);
            int passes = 0;
            auto change = [&] {
                if (++passes != changedAfter) return;
                if (grow) {
                    std::fseek(file.get(), 0, SEEK_END);
                    std::fputs("*MESH_VERTEX 1 7 8 9\n", file.get());
                    std::fflush(file.get());
                } else {
                    ASSERT_EQ(::ftruncate(::fileno(file.get()), 30), 0);
                }
            };
            try {
                const tessloom::InputGuard guard(file.get());
                tessloom::ReadSetup setup = guard.setup({.blockSize = 16});
                setup.passEnded = [&, check = setup.passEnded](std::uint64_t bytes, bool whole) {
                    change();
                    check(bytes, whole);
                };
                tessloom::MeshConverter mesh(file.get(), "unused.obj", std::move(setup));
                EXPECT_EQ(changedAfter, 0) << "changed after pass " << changedAfter;
            } catch (const tessloom::Rejected& e) {
                EXPECT_NE(changedAfter, 0);
                EXPECT_STREQ(e.what(), "the input changed while it was read");
            }
        }
    }
    // A stream without a descriptor has no stamp: the bytes each whole pass read are all there
    // is to compare. A control-Z written over the last line after the count pass shortens
    // the geometry pass (the material pass stops early, so it may read less anyway).
    std::string bytes = scene;
    std::FILE* memory = ::fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(memory, nullptr);
    const tessloom::InputGuard guard(memory);
    tessloom::ReadSetup setup = guard.setup({.blockSize = 16});
    int passes = 0;
    setup.passEnded = [&, check = setup.passEnded](std::uint64_t read, bool whole) {
        if (++passes == 1) bytes[bytes.size() - 3] = '\x1a';
        check(read, whole);
    };
    EXPECT_THROW(tessloom::MeshConverter(memory, "unused.obj", std::move(setup)),
                 tessloom::Rejected);
    std::fclose(memory);
}
