// Several meshes under attack: a rename that fails part-way, signals during the renames, a
// low descriptor limit, counts that point at the shared text, outputs that are no files,
// many meshes; and the restricted scenes read from the kept text as from the whole.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ase/meshes.h"
#include "binary.h"
#include "driver/converter.h"
#include "inspect/findings.h"

namespace {

using tessloom::test::Driver;
using tessloom::test::readFile;
using tessloom::test::TextFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

// A tiny mesh whose only vertex is (x, 0, 0), named m<x>.
std::string tinyMesh(int x) {
    return "*GEOMOBJECT {\n*NODE_NAME \"m" + std::to_string(x) +
           "\"\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n*MESH_VERTEX 0 " + std::to_string(x) +
           " 0 0\n*MESH_FACE 0: A: 0 B: 0 C: 0\n}\n}\n";
}

std::string manyMeshes(int count) {
    std::string text = "*3DSMAX_ASCIIEXPORT 200\n";
    for (int i = 0; i < count; ++i) text += tinyMesh(i);
    return text;
}

// Each mesh converted from the pieces the restricted scenes give, as from the hand-cut text
// (the scene with every other block taken out), for scenes whose outside text has lines that
// are left out, lines that must stay, and reads that run on across lines.
TEST(Restricted, ThePiecesConvertAsTheCutText) {
    const std::string a =
        "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 2\n*MESH_NUMFACES 1\n*MESH_VERTEX 0 1 2 3\n"
        "*MESH_FACE 0: A: 0 B: 1 C: 1\n}\n*MATERIAL_REF 0\n}";
    const std::string b = "*GEOMOBJECT { *MESH { *MESH_NUMVERTEX 1 *MESH_VERTEX 0 4 5 6\n} }";
    const std::string head =
        "*MATERIAL_LIST {\n*MATERIAL_COUNT 2\n*MATERIAL 0 {\n*MATERIAL_DIFFUSE 1 0 0\n}\n"
        "*MATERIAL 1 {\n*MAP_CLASS\n}\n}\n";
    const std::string rows[] = {
        // blank lines and helper objects between the blocks
        head + a + "\n\n  \t\n*HELPEROBJECT {\n*NODE_NAME \"h\"\n}\n" + b + "\n\n",
        // a count with its number after resetting and number lines
        head + a + "\n*MESH_NUMVERTEX\n*JUNK\n3\n*JUNK\n5 5 5\n" + b + "\n*X\n4\n",
        // a face normal outside, its vertex normals after junk lines
        head + "*MESH_FACENORMAL 0 1 1 1\n*A\n*B\nfoo\n" + a + "\n*C\nbar\n" + b +
            "\n*MESH_VERTEXNORMAL 0 1 0 0\n",
        // blocks sharing a line with other text, and no line feed at the end
        head + "x " + a + " y " + b + " *MESH_NUMFACES 2",
        // number lines between the blocks: a face's corners read across them, and a number
        // with a keyword right after it
        head + "*MESH_FACE 0:\n1 A:\n5 B: 6\nC: 7\n" + a + "\n5 5\n5 5 5\n5\n" + b +
            "\n5 5 5 5\n5 5 5 5\n5\n*MESH_TFACE 0\n1 2\n3\n",
        head + "*MESH_NUMVERTEX\n4*MESH_VERTEX 0 1 1 1\n" + a + "\n2 2 2 2 2 2 2 2\n" + b +
            "\n*MESH_VERTEX\n0 3 3 3\n1 2\n",
        // blocks on one line with white space between, more than a line skip reaches
        head + std::string(300, ' ') + a + std::string(600, ' ') + b + std::string(250, '\t') +
            "\r\n*MATERIAL_REF 1\n",
        head + a + " " + b + std::string(254, ' ') + "\r\n*MATERIAL_REF 1\n",
        // a bitmap whose quote comes after inert lines, CR LF line ends
        "*MATERIAL_COUNT 1\r\n*MATERIAL 0 {\r\n*BITMAP\r\n" + a + "\r\n*Q\r\n\"x.png\"\r\n" + b +
            "\r\nA: 1\r\n",
        // a pending bitmap read, a digit line after a resetting line after the block
        head + "*MATERIAL 1 {\n*BITMAP\n" + b + "\n*R\n7\n*MESH_NUMFACES 3\n\"a.png\"\n" + a + "\n",
        // a lone carriage return before a cut, and a block that is no mesh
        head + a + "\r" + b + "\n*GEOMOBJECT { *MESH_NUMFACES 9 }\r\n",
    };
    for (const std::string& text : rows) {
        const tessloom::SceneMeshes scene = tessloom::findMeshes(std::string_view(text));
        ASSERT_EQ(scene.count(), 2u) << text;
        TextFile file(text);
        for (std::size_t n = 0; n < 2; ++n) {
            std::string cut;
            for (const tessloom::ByteRange& r : scene.restricted(n))
                cut += text.substr(r.begin, r.end - r.begin);
            const auto expected = tessloom::test::meshBytes(cut);
            // the text outside the blocks read from the file each time, or once into memory
            for (const std::uint64_t limit : {std::uint64_t{0}, UINT64_MAX}) {
                const tessloom::RestrictedScenes restricted(file.get(), scene, limit);
                EXPECT_EQ(restricted.size(n), cut.size());
                for (const std::size_t blockSize : {1, 7, 64, 1 << 18}) {
                    const tessloom::MeshConverter viaPieces(file.get(), "unused.obj",
                                                            {.blockSize = blockSize,
                                                             .pieces = restricted.pieces(n),
                                                             .countBound = cut.size()});
                    EXPECT_EQ(tessloom::encodeMeshFile(viaPieces), expected)
                        << n << ", blocks of " << blockSize << ", limit " << limit << "\n"
                        << text;
                }
            }
        }
    }
}

class Attacked : public Driver {};

// In a sticky folder the third file belongs to another user: the rename of the set fails
// there, and the files before it hold what they held.
TEST_F(Attacked, ARenameThatFailsPartWayLeavesEveryPathAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as other users through setpriv";
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(::chmod(dir_.c_str(), 01777), 0);
    writeFile(dir_ / "s.ase", tinyMesh(1) + tinyMesh(2) + tinyMesh(3));
    ASSERT_EQ(run("s.ase"), 0);
    ASSERT_EQ(::chmod((dir_ / "s.obj").c_str(), 0644), 0);
    struct Row {
        std::string command;            // run as user 65533
        std::vector<std::string> mine;  // the runner's files, to be kept as they are
        std::string theirs;             // user 65534's file, mode 0666
    };
    const Row rows[] = {
        {"\"$T\" --each s.ase o.obj", {"o.0.obj", "o.1.obj"}, "o.2.obj"},
#ifdef TESSLOOM_INSPECT_BINARY
        {"\"$I\" --png v.png --gltf v.glb s.obj", {"v.png"}, "v.glb"},
#endif
    };
    for (const Row& row : rows) {
        for (const std::string& name : row.mine) {
            writeFile(dir_ / name, "old " + name);
            ASSERT_EQ(::chown((dir_ / name).c_str(), 65533, 65533), 0);
        }
        writeFile(dir_ / row.theirs, "theirs");
        ASSERT_EQ(::chown((dir_ / row.theirs).c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod((dir_ / row.theirs).c_str(), 0666), 0);
        EXPECT_NE(sh(as(65533) + row.command), 0) << row.command;
        EXPECT_NE(err_.find("Operation not permitted"), std::string::npos) << err_;
        for (const std::string& name : row.mine)
            EXPECT_EQ(readFile(dir_ / name), "old " + name) << row.command;
        EXPECT_EQ(readFile(dir_ / row.theirs), "theirs") << row.command;
        EXPECT_FALSE(temporaryLeft()) << row.command;
    }
}

// A termination signal that comes once the renames have begun (the test build sends it
// after the first) waits until the whole set is in place, then ends the process.
TEST_F(Attacked, ASignalDuringTheRenamesLeavesTheNewSet) {
    writeFile(dir_ / "s.ase", manyMeshes(5));
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        for (int n = 0; n < 5; ++n) writeFile(dir_ / ("s." + std::to_string(n) + ".obj"), "old");
        sh("TESSLOOM_TEST_SIGNAL_IN_RENAMES=" + std::to_string(signal) + " '" +
           TESSLOOM_HOOKED_BINARY + "' --each s.ase; echo status $?");
        // the shell reports a death by signal s as 128 + s
        EXPECT_EQ(out_, "status " + std::to_string(128 + signal) + "\n") << err_;
        for (int n = 0; n < 5; ++n) {
            EXPECT_NE(readFile(dir_ / ("s." + std::to_string(n) + ".obj")), "old") << signal;
        }
        EXPECT_FALSE(temporaryLeft()) << signal;
    }
}

// Rejections before anything is written: counts that only the shared text could fill, and
// outputs that are no files.
TEST_F(Attacked, WhatEachRefusesLeavesNothing) {
    // each mesh declares as many vertices as the whole scene has bytes, less a little
    std::string shared = "*COMMENT \"" + std::string(4000, 'x') + "\"\n";
    std::string text = shared;
    for (int i = 0; i < 4; ++i) text += "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 3000\n}\n}\n";
    writeFile(dir_ / "wide.ase", text);
    writeFile(dir_ / "s.ase", manyMeshes(3));
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/stdout", dir_ / "o.1.obj");  // a device under a name --each gives
    fs::create_directory(dir_ / "x");
    const std::pair<std::string, std::string> rows[] = {
        {"--each wide.ase w.obj", "mesh 1: the separate meshes would hold more vertices than a"},
        {"--each s.ase /dev/null", "--each writes files only: the output /dev/null is"},
        {"--each s.ase fifo", "--each writes files only: the output fifo is"},
        {"--each s.ase o.obj", "--each writes files only: the output o.1.obj is"},
        {"--each s.ase x/", "the output path x/ ends in a slash"},
    };
    const std::set<std::string> before = files();
    for (const auto& [args, message] : rows) {
        expectRejected(args, message);
        EXPECT_EQ(files(), before) << args;
    }
    // a selection error lists twenty meshes, then a count
    writeFile(dir_ / "many.ase", manyMeshes(25));
    expectRejected("--mesh 25 many.ase",
                   "no mesh 25; the scene holds 25 meshes: 0 \"m0\", 1 "
                   "\"m1\", ");
    EXPECT_NE(err_.find(", 19 \"m19\" and 5 more\n"), std::string::npos) << err_;
}

// A scene whose lines end in a lone carriage return reads as one line: converted as such,
// with a warning; one line feed anywhere (a CR LF scene, say) and there is none.
TEST_F(Attacked, CarriageReturnsWithoutLineFeedsAreWarnedOf) {
    const std::string lines[] = {"*MESH_NUMVERTEX 1", "*MESH_VERTEX 0 1 2 3"};
    writeFile(dir_ / "cr.ase", lines[0] + "\r" + lines[1] + "\r");
    writeFile(dir_ / "crlf.ase", lines[0] + "\r\n" + lines[1] + "\r\n");
    writeFile(dir_ / "one.ase", lines[0] + "\r" + lines[1] + "\n");
    const std::string warning =
        ": the scene's lines end in a carriage return without a line feed: it is read as one "
        "line\n";
    const std::pair<std::string, std::string> rows[] = {
        {"cr.ase", "tessloom: cr.ase" + warning},
        {"--merge cr.ase", "tessloom: cr.ase" + warning},
        {"crlf.ase", ""},
        {"one.ase", ""},
    };
    for (const auto& [args, message] : rows) {
        EXPECT_EQ(run(args + " out.obj"), 0) << args;
        EXPECT_EQ(err_, message) << args;
        EXPECT_TRUE(fs::exists(dir_ / "out.obj")) << args;
        fs::remove(dir_ / "out.obj");
    }
    for (const char* name : {"cr.ase", "crlf.ase"}) {
        TextFile file(readFile(dir_ / name));
        const auto found = tessloom::inspect::findScene(file.get());
        EXPECT_EQ(found.heard.count("cr-line-ends"), name == std::string("cr.ase") ? 1u : 0u);
    }
#ifdef TESSLOOM_INSPECT_BINARY
    // the listing takes no count from a block that the conversion reads as part of one line
    const std::string block = "*GEOMOBJECT {\r*MESH {\r*MESH_NUMVERTEX 3\r*MESH_NUMFACES 1\r}\r}";
    for (const auto& [ends, vertices] :
         {std::pair{std::string("\r"), std::string("null")}, {std::string("\r\n"), "3"}}) {
        std::string text = block;
        for (std::size_t at = 0; (at = text.find('\r', at)) != std::string::npos;) {
            text.replace(at, 1, ends);
            at += ends.size();
        }
        writeFile(dir_ / "block.ase", text + ends);
        inspect("--json block.ase");
        EXPECT_NE(out_.find("\"vertices\": " + vertices), std::string::npos) << out_;
    }
#endif
}

#ifdef TESSLOOM_INSPECT_BINARY
// The inspector on scenes: a name longer than what is kept is said to be cut; a scene that
// cannot be read ends with status 2.
TEST_F(Attacked, TheInspectorSaysWhatItCutAndWhatItCannotRead) {
    writeFile(dir_ / "long.ase", "*GEOMOBJECT {\n*NODE_NAME \"" + std::string(5000, 'n') +
                                     "\"\n*MESH {\n}\n}\n" + tinyMesh(1));
    fs::create_directory(dir_ / "folder.ase");
    struct Row {
        std::string args;
        int status;
        std::string said;  // on standard output, or else on standard error
    };
    const Row rows[] = {
        {"long.ase", 1, "\" (cut: only its first 4096 bytes are kept)\n"},
        {"long.ase", 1, "mesh 0 \"" + std::string(4096, 'n') + "\" (cut) is not kept"},
        {"folder.ase", 2, "folder.ase: not a regular file"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(inspect(row.args), row.status) << row.args;
        EXPECT_NE((out_ + err_).find(row.said), std::string::npos) << row.args << "\n" << err_;
    }
}
#endif

// Ten thousand meshes: every one in its own file, the outputs of one folder sharing a
// descriptor under a limit of 64; and all of them in one.
TEST_F(Attacked, TenThousandMeshes) {
    writeFile(dir_ / "s.ase", manyMeshes(10000));
    ASSERT_EQ(run("--each s.ase o.obj", "ulimit -n 64 &&"), 0) << err_;
    EXPECT_EQ(files().size(), 2u + 10000u);
    // mesh 9999's one vertex, its x kept
    const std::string last = readFile(dir_ / "o.9999.obj");
    ASSERT_GE(last.size(), 12u);
    float x = 0;
    std::memcpy(&x, last.data() + 4, 4);
    EXPECT_EQ(x, 9999.0f);
    ASSERT_EQ(run("--merge s.ase m.obj"), 0) << err_;
    std::int32_t vertices = 0;
    std::memcpy(&vertices, readFile(dir_ / "m.obj").data(), 4);
    EXPECT_EQ(vertices, 10000);
}

}  // namespace

namespace {

// Thirty findings of one per-element kind in one mesh: twenty told, then one line for the
// other ten; all thirty counted.
TEST(FindingsUnderAttack, EveryPerElementKindIsCappedPerMesh) {
    auto repeated = [](const std::string& line, int times) {
        std::string text;
        for (int i = 0; i < times; ++i) {
            std::string l = line;
            for (std::size_t at; (at = l.find('#')) != std::string::npos;)
                l.replace(at, 1, std::to_string(i));
            text += l;
        }
        return text;
    };
    const std::string subs = "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 2\n";
    const std::pair<std::string, std::string> rows[] = {
        {"index-out-of-range", "*MESH_NUMVERTEX 1\n" + repeated("*MESH_VERTEX 9# 0 0 0\n", 30)},
        {"mtlid-wraps", subs + "}\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 30\n" +
                            repeated("*MESH_FACE #: A: 0 B: 0 C: 0 *MESH_MTLID 1#\n", 30)},
        {"nested-submaterials",
         subs + "*SUBMATERIAL 0 {\n" + repeated("*NUMSUBMTLS #\n", 30) + "}\n}\n"},
        {"unreadable-number", "*MESH_NUMVERTEX 30\n" + repeated("*MESH_VERTEX # 1 x 0\n", 30)},
    };
    for (const auto& [id, text] : rows) {
        TextFile file(text);
        const tessloom::inspect::SceneFindings found = tessloom::inspect::findScene(file.get());
        std::vector<std::string> messages;
        for (const auto& f : found.findings) {
            if (f.id == id) messages.push_back(f.message);
        }
        ASSERT_EQ(messages.size(), 21u) << id;
        EXPECT_EQ(messages.back().rfind("10 more ", 0), 0u) << id << ": " << messages.back();
        EXPECT_EQ(found.heard.at(id), 30u) << id;
    }
}

// A write of the same size with the modification time put back still changes the stamp.
TEST(InputStampOf, ChangesWithAWriteWhoseTimeWasPutBack) {
    TextFile file("*MESH_NUMVERTEX 1\n");
    const auto before = tessloom::meshfile::stampOf(::fileno(file.get()));
    ASSERT_TRUE(before);
    ::usleep(20000);  // a later change time, on clocks of coarse steps too
    ASSERT_EQ(::pwrite(::fileno(file.get()), "2", 1, 16), 1);
    const timespec times[] = {before->modified, before->modified};
    ASSERT_EQ(::futimens(::fileno(file.get()), times), 0);
    const auto after = tessloom::meshfile::stampOf(::fileno(file.get()));
    EXPECT_EQ(after->size, before->size);
    EXPECT_EQ(after->modified.tv_nsec, before->modified.tv_nsec);
    EXPECT_FALSE(after == before);
}

}  // namespace
