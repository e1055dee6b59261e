// Scenes of several meshes: the warning, --mesh, --each and --merge, through the real binary,
// against plain conversions of hand-cut scenes and bytes worked out by hand.
#include <fstream>
#include <map>
#include <regex>
#include <tuple>

#include "ase/meshes.h"
#include "binary.h"
#include "driver/converter.h"
#include "meshfile/reader.h"
#ifdef TESSLOOM_INSPECT_BINARY
#include "inspect/checks.h"
#include "inspect/report.h"
#endif

namespace {

using tessloom::test::Bytes;
using tessloom::test::Driver;
using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

// Three materials: 0 and 2 plain, 1 with two sub-materials.
const std::string kHead =
    "*MATERIAL_LIST {\n*MATERIAL_COUNT 3\n*MATERIAL 0 {\n*MATERIAL_DIFFUSE 0.5 0 0\n}\n"
    "*MATERIAL 1 {\n*NUMSUBMTLS 2\n*SUBMATERIAL 0 {\n*MATERIAL_DIFFUSE 0 1 0\n}\n"
    "*SUBMATERIAL 1 {\n*MATERIAL_DIFFUSE 0 0 1\n}\n}\n"
    "*MATERIAL 2 {\n*MATERIAL_DIFFUSE 1 0 0\n*MATERIAL_SHINE 0.25\n}\n}\n";
// "a" uses material 2; "b" material 1, with material ids 3 and -1; the second "a" uses
// material 2 again.
const std::string kA =
    "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n"
    "*MESH_VERTEX 0 1 2 3\n*MESH_VERTEX 1 -4 0 0\n*MESH_VERTEX 2 0 0 2\n"
    "*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_MTLID 5\n}\n*MATERIAL_REF 2\n}";
const std::string kB =
    "*GEOMOBJECT {\n*NODE_NAME \"b\"\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 2\n"
    "*MESH_VERTEX 0 0 8 0\n*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 3\n"
    "*MESH_FACE 1: A: 0 B: 7 C: 0 *MESH_MTLID -1\n}\n*MATERIAL_REF 1\n}";
const std::string kC =
    "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n"
    "*MESH_VERTEX 0 0 0 -1\n*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n}\n*MATERIAL_REF 2\n}";

std::string scene(const std::string& a, const std::string& b, const std::string& c) {
    return kHead + a + "\n" + b + "\n" + c + "\n";
}

Bytes& entry(Bytes& b, std::initializer_list<float> diffuse, float shine) {
    b.f32s({0, 0, 0}).f32s(diffuse).f32s({0, 0, 0}).f32(shine).f32s({0, 0, 0, 0});
    return b.i32(0).i32(0).i32(0);  // reflect/refract, bitmap, name length
}

Bytes& face(Bytes& b, std::int32_t material, std::int32_t a, std::int32_t bb, std::int32_t c) {
    return b.i32s({material, a, bb, c, 0, 0, 0}).zeros(12);  // no texture corners nor normals
}

// The warning for `faces` faces without normals, as the hand-made meshes here have none.
std::string withoutNormals(const std::string& path, int faces) {
    const std::string n = std::to_string(faces);
    return "tessloom: " + path + ": " + n + " of " + n +
           (faces == 1 ? " face has" : " faces have") +
           " a zero normal (no normals given; --fix-normals computes them)\n";
}

class Several : public Driver {
  protected:
    void SetUp() override {
        Driver::SetUp();
        writeFile(dir_ / "scene.ase", scene(kA, kB, kC));
    }
    std::vector<std::uint8_t> bytesOf(const std::string& name) {
        const std::string s = readFile(dir_ / name);
        return {s.begin(), s.end()};
    }
};

TEST_F(Several, APlainConversionWarnsAndEachMeshIsThePlainConversionOfItsCutScene) {
    ASSERT_EQ(run("scene.ase"), 0);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(err_,
              "tessloom: scene.ase holds 3 meshes; the output holds the last one, 2 \"a\" (--each "
              "or --merge keep them all)\n" +
                  withoutNormals("scene.ase", 1));
    // the scene with every other block cut out by hand, converted plainly
    const std::string cuts[] = {scene(kA, "", ""), scene("", kB, ""), scene("", "", kC)};
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::size_t n = 0; n < 3; ++n) {
        writeFile(dir_ / "cut.ase", cuts[n]);
        ASSERT_EQ(run("cut.ase"), 0);
        // one mesh: no several-meshes warning (face 1 of "b" has a corner outside its vertices)
        EXPECT_EQ(err_, withoutNormals("cut.ase", 1));
        expected.push_back(bytesOf("cut.obj"));
        ASSERT_EQ(run("--mesh " + std::to_string(n) + " scene.ase m.obj"), 0) << err_;
        EXPECT_EQ(out_ + err_, withoutNormals("scene.ase", 1));
        EXPECT_EQ(bytesOf("m.obj"), expected[n]) << n;
    }
    ASSERT_EQ(run("--each scene.ase"), 0) << err_;
    EXPECT_EQ(out_ + err_, withoutNormals("scene.ase", 3));
    for (std::size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(bytesOf("scene." + std::to_string(n) + ".obj"), expected[n]) << n;
    }
    // --mesh without an output path: the name --each gives that mesh, never the plain
    // conversion's scene.obj
    const std::string plain = readFile(dir_ / "scene.obj");
    for (const auto& [args, name, n] :
         {std::tuple{"--mesh=b scene.ase", "scene.1.obj", std::size_t{1}},
          std::tuple{"--mesh 0 -- scene.ase", "scene.0.obj", std::size_t{0}}}) {
        fs::remove(dir_ / name);
        ASSERT_EQ(run(args), 0) << args << err_;
        EXPECT_EQ(bytesOf(name), expected[n]) << args;
    }
    EXPECT_EQ(readFile(dir_ / "scene.obj"), plain);
    ASSERT_EQ(run("--each scene.ase out.bin"), 0);
    ASSERT_EQ(run("--each scene.ase ab"), 0);
    for (const char* name : {"out.0.bin", "out.2.bin", "ab.0", "ab.2"}) {
        EXPECT_TRUE(fs::exists(dir_ / name)) << name;
    }
}

TEST_F(Several, AMergeConcatenatesTheMeshesWithOneEntryPerMaterialUsed) {
    ASSERT_EQ(run("--merge scene.ase"), 0) << err_;
    EXPECT_EQ(out_ + err_, withoutNormals("scene.ase", 3));
    Bytes want;
    want.i32(3);  // material 2, first used, then material 1's two sub-materials
    entry(want, {1, 0, 0}, 0.25f);
    entry(want, {0, 1, 0}, 0);
    entry(want, {0, 0, 1}, 0);
    // p, q, r become p, r, -q
    want.i32(5).f32s({1, 3, -2}).f32s({-4, 0, -0.0f}).f32s({0, 2, -0.0f});
    want.f32s({0, 0, -8}).f32s({0, -1, -0.0f}).i32(0).i32(4);  // no texture vertices; 4 faces
    face(want, 0, 0, 1, 2);                                    // material 2: its one entry
    face(want, 2, 3, 3, 3);    // 3 % 2 = 1: the second sub-material, after material 2's entry
    face(want, -1, 3, 10, 3);  // -1 % 2 = -1 stays; corners shifted by the 3 vertices before
    face(want, 0, 4, 4, 4);    // material 2 again: the same entry
    want.f32s({8, -4, 1, -1, 3, -8, 0});
    EXPECT_EQ(bytesOf("scene.obj"), want.data);

    // one mesh whose material is the first: the plain conversion's bytes
    ASSERT_EQ(run("box.ase plain.obj"), 0);
    ASSERT_EQ(run("--merge box.ase merged.obj"), 0);
    EXPECT_EQ(bytesOf("merged.obj"), bytesOf("plain.obj"));
}

TEST_F(Several, ARejectedMeshLeavesNothingAndIsNamed) {
    std::string broken = kB;
    broken.replace(broken.find("NUMVERTEX 1"), 11, "NUMVERTEX -1");
    writeFile(dir_ / "broken.ase", scene(kA, broken, kC));
    writeFile(dir_ / "broken.0.obj", "OLD");
    std::string noMaterials = kB;
    noMaterials.insert(noMaterials.find("*MATERIAL_REF"), "*MATERIAL_COUNT 0\n");
    writeFile(dir_ / "mixed.ase", scene(kA, noMaterials, kC));
    const std::string list = "the scene holds 3 meshes: 0 \"a\", 1 \"b\", 2 \"a\"";
    const std::pair<std::string, std::string> cases[] = {
        {"--each broken.ase", "tessloom: broken.ase: mesh 1 \"b\": *MESH_NUMVERTEX is -1\n"},
        {"--merge broken.ase", "mesh 1 \"b\": *MESH_NUMVERTEX is -1"},
        {"--merge mixed.ase", "mesh 1 \"b\": it has no materials and the meshes before it have"},
        {"--mesh 99999999999999999999999 scene.ase", "no mesh 99999999999999999999999; " + list},
        {"--mesh a scene.ase", "2 meshes are named \"a\"; " + list},
        {"--mesh '' scene.ase", "no mesh is named \"\"; " + list},
    };
    for (const auto& [args, message] : cases) expectRejected(args, message);
    EXPECT_EQ(files(), (std::set<std::string>{"box.ase", "scene.ase", "broken.ase", "broken.0.obj",
                                              "mixed.ase"}));
    EXPECT_EQ(readFile(dir_ / "broken.0.obj"), "OLD");
}

#ifdef TESSLOOM_INSPECT_BINARY
TEST_F(Several, TheInspectorListsASceneMeshes) {
    auto line = [&](const std::string& block) {
        const std::string text = scene(kA, kB, kC);
        const std::size_t at = text.find(block);
        return std::to_string(1 + std::count(text.begin(), text.begin() + at, '\n'));
    };
    // 1: the meshes a plain conversion does not keep are findings
    ASSERT_EQ(inspect("scene.ase"), 1) << err_;
    EXPECT_NE(out_.find("3 meshes; a plain conversion keeps the last, mesh 2"), std::string::npos)
        << out_;
    const std::string rows[] = {"0 " + line(kA) + " 3 1 2 \"a\"", "1 " + line(kB) + " 1 2 1 \"b\"",
                                "2 " + line(kC) + " 1 1 2 \"a\""};
    std::string squeezed = std::regex_replace(out_, std::regex(" +"), " ");
    for (const std::string& row : rows) {
        EXPECT_NE(squeezed.find("\n " + row + "\n"), std::string::npos) << row << "\n" << out_;
    }
    ASSERT_EQ(inspect("--json scene.ase"), 1);
    EXPECT_NE(out_.find("\"plainConversionKeeps\": 2"), std::string::npos) << out_;
}

// Every corpus scene of several meshes through --each and --merge: every file passes the
// inspector's checks, and the merged counts are the sums of the separate ones.
TEST_F(Several, CorpusScenesOfSeveralMeshes) {
    const fs::path corpus = TESSLOOM_CORPUS_DIR;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    namespace meshfile = tessloom::meshfile;
    auto checked = [](const fs::path& path) {
        const std::string s = readFile(path);
        const meshfile::SpanSource source(
            {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
        const auto sections = meshfile::inferLayout(source).only();
        EXPECT_TRUE(sections) << path;
        if (!sections) return meshfile::Sections{};
        tessloom::inspect::Checker checker(*sections);
        meshfile::visitMeshFile(source, *sections, checker);
        EXPECT_EQ(tessloom::inspect::failedChecks(checker.results()), "") << path;
        return *sections;
    };
    int several = 0;
    for (const auto& e : fs::directory_iterator(corpus)) {
        const std::string ext = e.path().extension().string();
        if (ext != ".ase" && ext != ".ASE") continue;
        // every block of these scenes is a mesh, and each starts its own line
        std::ifstream in(e.path());
        std::size_t blocks = 0;
        for (std::string l; std::getline(in, l);) {
            blocks += l.find_first_not_of(" \t") == l.find("*GEOMOBJECT") &&
                      l.find("*GEOMOBJECT") != std::string::npos;
        }
        if (blocks < 2) continue;
        ++several;
        fs::copy_file(e.path(), dir_ / "s.ase", fs::copy_options::overwrite_existing);
        ASSERT_EQ(run("s.ase"), 0);
        EXPECT_NE(err_.find("holds " + std::to_string(blocks) + " meshes"), std::string::npos)
            << e.path() << err_;
        ASSERT_EQ(run("--each s.ase each.obj"), 0) << e.path() << err_;
        ASSERT_EQ(run("--merge s.ase merged.obj"), 0) << e.path() << err_;
        std::int64_t vertices = 0, faces = 0;
        for (std::size_t n = 0; n < blocks; ++n) {
            const fs::path each = dir_ / ("each." + std::to_string(n) + ".obj");
            const meshfile::Sections s = checked(each);
            vertices += s.numVertex;
            faces += s.numFaces;
            fs::remove(each);
        }
        EXPECT_FALSE(fs::exists(dir_ / ("each." + std::to_string(blocks) + ".obj")));
        const meshfile::Sections merged = checked(dir_ / "merged.obj");
        EXPECT_EQ(merged.numVertex, vertices) << e.path();
        EXPECT_EQ(merged.numFaces, faces) << e.path();
    }
    EXPECT_EQ(several, 17);
}
#endif

}  // namespace
