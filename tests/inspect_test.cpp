// tessloom-inspect with the user's files, through the real binary: every output written
// through the output module, failures reported with the file and the reason, standard
// output checked; and the inspector's library parts it rests on.
#include <limits>
#include <tuple>

#include "binary.h"
#include "inspect/checks.h"
#include "inspect/report.h"
#include "meshfile/encode.h"
#include "testutil.h"

namespace {

using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;
namespace inspect = tessloom::inspect;

class InspectFiles : public tessloom::test::Driver {
  protected:
    void SetUp() override {
        Driver::SetUp();
        ASSERT_EQ(run("box.ase box.obj"), 0) << err_;
        box_ = readFile(dir_ / "box.obj");
    }
    std::string box_;
};

// Each row: a command, its status, a text standard error must hold (empty: nothing may
// be printed there), and a file with what it must hold afterwards ("" for absent).
TEST_F(InspectFiles, ExportsAndReportsAreWrittenSafely) {
    writeFile(dir_ / "old.png", "PREVIOUS");
    fs::create_directory(dir_ / "d");
    struct Case {
        const char* script;
        int status;
        const char* error;
        const char* file;
        std::string content;  // "*PNG" / "*GLB": a complete file of that kind
    };
    const Case cases[] = {
        // the input as the output, by name or through a link
        {"cp box.obj m.obj; \"$I\" m.obj --png m.obj", 1, "the output m.obj is the input itself",
         "m.obj", box_},
        {"cp box.obj m.obj; ln -s m.obj l; \"$I\" m.obj --gltf l", 1, "is the input itself",
         "m.obj", box_},
        // a write that fails keeps what the path held, and says why
        {"ulimit -f 20; \"$I\" box.obj --png old.png --size 3000x3000", 1,
         "cannot write old.png: File too large", "old.png", "PREVIOUS"},
        {"\"$I\" box.obj --gltf /dev/full", 1, "cannot write /dev/full: No space left", "", ""},
        {"\"$I\" box.obj --gltf d", 1, "the output d is a directory", "", ""},
        {"\"$I\" box.obj --gltf nodir/x.glb", 1, "cannot write nodir/x.glb: No such file", "", ""},
        {"ulimit -f 1; \"$I\" box.obj --gltf t.glb", 1, "cannot write t.glb: File too large",
         "t.glb", ""},
        // an export on standard output: nothing else there; `>>` appends
        {"\"$I\" box.obj --png /dev/stdout > s.png", 0, "/dev/stdout: 1600x1200, 12 faces drawn",
         "s.png", "*PNG"},
        {"echo kept > app; \"$I\" box.obj --gltf /dev/stdout >> app", 0, "/dev/stdout: 24 vertices",
         "app", "kept\n*GLB"},
        // reports: every write checked
        {"\"$I\" box.obj --dump > /dev/full", 1, "cannot write the standard output", "", ""},
        {"ulimit -f 1; \"$I\" box.obj --dump > dump", 1, "File too large", "", ""},
        {"\"$I\" box.obj --json > /dev/full", 1, "cannot write the standard output", "", ""},
        // options that cannot both be honoured
        {"\"$I\" box.obj --json --dump --png x.png", 2, "--dump and --png cannot be combined",
         "x.png", ""},
        {"\"$I\" box.obj --json --gltf x.glb", 2, "--json and --gltf", "x.glb", ""},
        {"\"$I\" box.obj --png same --gltf same", 2, "name the same file same", "same", ""},
        {"\"$I\" box.obj --size 100x100", 2, "--size needs --png", "", ""},
        {"\"$I\" missing.obj --png x.png --size 10x10", 2, "each side 64 to 8192", "", ""},
        // a scene has nothing to dump, draw or export; nothing written, the option named
        {"\"$I\" --gltf x.glb box.ase", 2, "--gltf reads a mesh file, and box.ase is a scene",
         "x.glb", ""},
        {"\"$I\" box.ase --png x.png --size 64x64", 2, "--png reads a mesh file", "x.png", ""},
        {"\"$I\" --dump box.ase", 2, "--dump reads a mesh file", "", ""},
        {"\"$I\" --json --layout with box.ase", 2, "--layout reads a mesh file", "", ""},
        {"\"$I\" --scene --gltf x.glb box.obj", 2,
         "--gltf reads a mesh file; --scene reads a scene", "x.glb", ""},
        // paths shown escaped, messages naming the file and the reason
        {"\"$I\" box.obj --png \"$(printf 'nodir\\n\\033[31m/x.png')\"", 1,
         "cannot write nodir\\n\\x1b[31m/x.png: No such file or directory\n", "", ""},
        {"\"$I\" missing.obj", 1, "missing.obj: cannot open: No such file or directory", "", ""},
        {"\"$I\" d", 1, "d: not a regular file", "", ""},
    };
    for (const Case& c : cases) {
        const int status = sh(c.script);
        EXPECT_EQ(status, c.status) << c.script << "\n" << err_;
        if (*c.error == '\0') {
            EXPECT_EQ(err_, "") << c.script;
        } else {
            EXPECT_NE(err_.find(c.error), std::string::npos) << c.script << "\n" << err_;
            if (c.status == 1) {
                EXPECT_EQ(err_.rfind("tessloom-inspect: ", 0), 0u) << c.script << "\n" << err_;
                EXPECT_EQ(err_.find("\ntessloom-inspect: "), std::string::npos) << err_;
            }
        }
        if (*c.file) {
            const bool exists = fs::exists(dir_ / c.file);
            const std::string held = exists ? readFile(dir_ / c.file) : "";
            if (c.content == "*PNG") {
                EXPECT_EQ(held.substr(0, 8), "\x89PNG\r\n\x1a\n") << c.script;
                EXPECT_EQ(held.substr(held.size() - 8, 4), "IEND") << c.script;
            } else if (c.content.ends_with("*GLB")) {
                const std::string before = c.content.substr(0, c.content.size() - 4);
                EXPECT_EQ(held.substr(0, before.size()), before) << c.script;
                EXPECT_EQ(held.substr(before.size(), 4), "glTF") << c.script;
            } else {
                EXPECT_EQ(held, c.content) << c.script;
                EXPECT_EQ(exists, !c.content.empty()) << c.script;
            }
        }
        EXPECT_FALSE(temporaryLeft()) << c.script;
        for (const char* name : {"m.obj", "l", "t.glb", "s.png", "app", "dump", "x.png", "x.glb"})
            fs::remove(dir_ / name);
    }

    // write-protected outputs as a user who may not write them
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(root_.c_str(), 0711), 0);
        ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
        ASSERT_EQ(::chmod((dir_ / "box.obj").c_str(), 0644), 0);
        writeFile(dir_ / "ro.glb", "keep");
        ASSERT_EQ(::chmod((dir_ / "ro.glb").c_str(), 0444), 0);
        fs::create_directory(dir_ / "rodir");
        ASSERT_EQ(::chmod((dir_ / "rodir").c_str(), 0555), 0);
        for (const char* args : {"--gltf ro.glb", "--gltf rodir/x.glb", "--png ro.glb"}) {
            EXPECT_EQ(sh(as(65534) + "\"$I\" box.obj " + args), 1) << args;
            EXPECT_EQ(err_.rfind("tessloom-inspect: ", 0), 0u) << err_;
            EXPECT_TRUE(err_.find("is not writable") != std::string::npos ||
                        err_.find("Permission denied") != std::string::npos)
                << args << "\n"
                << err_;
        }
        EXPECT_EQ(readFile(dir_ / "ro.glb"), "keep");
        EXPECT_FALSE(fs::exists(dir_ / "rodir/x.glb"));
    }
}

// Standard output a pipe whose reader has gone: the run ends at once by SIGPIPE, as any
// filter's, with nothing on standard error and no temporary file left behind.
TEST_F(InspectFiles, AClosedPipeEndsTheRunQuietly) {
    writeFile(dir_ / "p.png", "PREVIOUS");
    // the last: the picture complete in its temporary file when the glTF file meets the pipe
    for (const char* args :
         {"--dump box.obj", "--json box.obj", "box.obj", "box.ase", "box.obj --png /dev/stdout",
          "box.obj --png p.png --gltf /dev/stdout"}) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        ::close(pipeEnds[0]);
        // a caller that ignores SIGPIPE does not change how the run ends
        const pid_t pid = spawn(std::string("trap '' PIPE && exec \"$I\" ") + args, pipeEnds[1]);
        ::close(pipeEnds[1]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << args << " " << status;
        EXPECT_EQ(readFile(root_ / "err"), "") << args;
        EXPECT_EQ(readFile(dir_ / "p.png"), "PREVIOUS") << args;
        EXPECT_FALSE(temporaryLeft()) << args;
    }
}

// A file that fails a check exits 1 whatever was asked, with one line on standard error;
// the export is still written, as a view of what the file holds.
TEST_F(InspectFiles, ChecksAlwaysDecideTheStatus) {
    std::string bad = box_;
    bad[bad.size() - 28] ^= 0x40;  // the stored radius no longer matches the vertices
    writeFile(dir_ / "bad.obj", bad);
    for (const char* args : {"", "--dump", "--json", "--png p.png", "--gltf g.glb"}) {
        EXPECT_EQ(inspect(std::string("bad.obj ") + args), 1) << args;
        EXPECT_NE(err_.find("tessloom-inspect: bad.obj: failed checks: bounds\n"),
                  std::string::npos)
            << args << "\n"
            << err_;
    }
    EXPECT_TRUE(fs::exists(dir_ / "p.png"));
    EXPECT_TRUE(fs::exists(dir_ / "g.glb"));
}

// Two faces of a square, of material indices 0 and 1 of three entries, every normal (0 0 1),
// no texture corner at (0, 0). Texture vertices: 0 (0, 0), 1 (-0, -0), 2 (0.5, 0), 3 (0, 1).
tessloom::meshfile::MeshFile squareToCheck() {
    tessloom::meshfile::MeshFile m;
    m.layout = tessloom::meshfile::Layout::kWithMaterials;
    m.materials.resize(3);
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    m.texVertices = {{0, 0}, {-0.0f, -0.0f}, {0.5f, 0}, {0, 1}};
    m.faces.resize(2);
    for (int i = 0; i < 2; ++i) {
        auto& f = m.faces[static_cast<std::size_t>(i)];
        f.material = i;
        f.faceNormal = f.normalA = f.normalB = f.normalC = {0, 0, 1};
        std::tie(f.a, f.b, f.c, f.ta, f.tb, f.tc) = std::tuple(0, 1 + i, 2 + i, 2 + i, 2, 3);
    }
    return m;
}

// Every texture corner of face f, or of every face, at texture vertex 0, (0, 0).
tessloom::meshfile::FaceRecord& zeroTex(tessloom::meshfile::MeshFile& m, std::size_t f) {
    m.faces[f].ta = m.faces[f].tb = m.faces[f].tc = 0;
    return m.faces[f];
}
tessloom::meshfile::MeshFile& zeroTex(tessloom::meshfile::MeshFile& m) {
    for (std::size_t f = 0; f < m.faces.size(); ++f) zeroTex(m, f);
    return m;
}

// The warnings on zero normals and on entries whose faces all have their texture corners at
// (0, 0): how many offenders, and the first.
TEST(Checks, ZeroNormalsAndZeroTextureCoordinatesWarn) {
    using tessloom::meshfile::MeshFile;
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        void (*change)(MeshFile&);
        std::uint64_t normals;  // offenders, and the first
        const char* firstNormal;
        std::uint64_t texCoords;
        const char* firstTexCoords;
    };
    const Case cases[] = {
        {"every normal given, texture corners off (0, 0)", [](MeshFile&) {}, 0, "none", 0, "none"},
        {"a zero face normal", [](MeshFile& m) { m.faces[1].faceNormal = {}; }, 1,
         "face 1 face normal", 0, "none"},
        {"zero corner normals, -0 too",
         [](MeshFile& m) {
             m.faces[0].normalB = {};
             m.faces[1].normalC = {-0.0f, 0, -0.0f};
         },
         2, "face 0 corner b normal", 0, "none"},
        {"tiny, infinite and not-a-number normals have a length",
         [](MeshFile& m) {
             m.faces[0].normalA = {1e-45f, 0, 0};
             m.faces[0].faceNormal = {kNan, 0, 0};
             m.faces[1].normalB = {0, -kInf, 0};
         },
         0, "none", 0, "none"},
        {"a face naming no vertex is not counted",
         [](MeshFile& m) {
             m.faces[1].c = 4;
             m.faces[1].faceNormal = m.faces[1].normalA = {};
         },
         0, "none", 0, "none"},
        {"a degenerate face is",
         [](MeshFile& m) {
             m.faces[0].b = 0;
             m.faces[0].normalC = {};
         },
         1, "face 0 corner c normal", 0, "none"},
        {"entry 1's face at (0, 0) and (-0, -0)", [](MeshFile& m) { zeroTex(m, 1).tb = 1; }, 0,
         "none", 1, "material entry 1, 1 face all at (0, 0)"},
        {"one corner off (0, 0) is enough", [](MeshFile& m) { zeroTex(m, 1).tc = 2; }, 0, "none", 0,
         "none"},
        {"a face of no entry does not count", [](MeshFile& m) { zeroTex(m, 1).material = 3; }, 0,
         "none", 0, "none"},
        {"a texture corner naming no texture vertex is not at (0, 0)",
         [](MeshFile& m) { zeroTex(m, 1).tc = 4; }, 0, "none", 0, "none"},
        {"both entries", [](MeshFile& m) { zeroTex(m); }, 0, "none", 2,
         "material entry 0, 1 face all at (0, 0)"},
        {"one entry serves every face, whatever the index",
         [](MeshFile& m) {
             zeroTex(m).materials.resize(1);
             m.faces[0].material = m.faces[1].material = 7;
         },
         0, "none", 1, "material entry 0, 2 faces all at (0, 0)"},
        {"no material section: the mesh",
         [](MeshFile& m) {
             zeroTex(m).layout = tessloom::meshfile::Layout::kWithoutMaterials;
             m.materials.clear();
             m.faces[0].material = m.faces[1].material = -1;
         },
         0, "none", 1, "the mesh, 2 faces all at (0, 0)"},
        {"no texture vertices", [](MeshFile& m) { zeroTex(m).texVertices.clear(); }, 0, "none", 0,
         "no texture vertices: nothing to check"},
    };
    for (const Case& c : cases) {
        MeshFile mesh = squareToCheck();
        c.change(mesh);
        const auto bytes = tessloom::meshfile::encodeMeshFile(mesh);
        const tessloom::meshfile::SpanSource source(bytes);
        const auto sections = tessloom::meshfile::locateSections(source, mesh.layout);
        inspect::Checker checker(sections);
        tessloom::meshfile::visitMeshFile(source, sections, checker);
        const auto results = checker.results();
        const auto named = [&](const char* name) {
            const auto at = std::find_if(results.begin(), results.end(),
                                         [&](const inspect::Check& k) { return k.name == name; });
            return at == results.end() ? inspect::Check{} : *at;
        };
        for (const auto& [name, offenders, first] :
             {std::tuple{"normals", c.normals, c.firstNormal},
              std::tuple{"texture coordinates", c.texCoords, c.firstTexCoords}}) {
            const inspect::Check check = named(name);
            EXPECT_EQ(check.name, name) << c.name;
            EXPECT_EQ(check.offenders, offenders) << c.name << ": " << name;
            EXPECT_EQ(check.first, first) << c.name << ": " << name;
            EXPECT_EQ(check.outcome,
                      offenders ? inspect::Outcome::kWarning : inspect::Outcome::kPassed)
                << c.name << ": " << name;
        }
    }
}

TEST(PictureSize, BoundedAndWhole) {
    struct Case {
        const char* text;
        int width, height;  // 0: refused
    };
    const Case cases[] = {
        {"1600x1200", 1600, 1200}, {"64x8192", 64, 8192},   {"63x100", 0, 0},
        {"8193x100", 0, 0},        {"100x", 0, 0},          {"x100", 0, 0},
        {"100x100x", 0, 0},        {"+100x100", 0, 0},      {"100X100", 0, 0},
        {"-64x64", 0, 0},          {"4294967360x64", 0, 0}, {"", 0, 0},
    };
    for (const Case& c : cases) {
        const auto size = inspect::parseSize(c.text);
        EXPECT_EQ(size.has_value(), c.width != 0) << c.text;
        if (size) {
            EXPECT_EQ(std::make_pair(size->width, size->height), std::make_pair(c.width, c.height))
                << c.text;
        }
    }
}

// The input is compared with what it was when opened, as the converter compares its own: a
// change to the file itself counts, and so does another file moved over its name (the file
// opened loses that name, which changes its stamp).
TEST(InputFile, NoticesAChangeToTheFile) {
    const tessloom::test::TempDir temp;
    const fs::path path = temp / "in.obj";
    writeFile(path, "12345678");
    const inspect::InputFile file(path.string());
    char bytes[4];
    file.read(4, bytes, 4);
    EXPECT_EQ(std::string(bytes, 4), "5678");
    EXPECT_NO_THROW(file.requireUnchanged());
    writeFile(path.string() + ".new", "other");
    fs::rename(path.string() + ".new", path);
    EXPECT_THROW(file.requireUnchanged(), inspect::InputError);
    const inspect::InputFile second(path.string());
    std::ofstream(path, std::ios::app) << "more";
    EXPECT_THROW(second.requireUnchanged(), inspect::InputError);
}

}  // namespace
