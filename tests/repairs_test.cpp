// What the plain conversion loses (texture coordinates under a tiling no line gave, normals
// listed apart or not given) and the repairs that keep it: tables worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "binary.h"
#include "testutil.h"

namespace tessloom {
namespace {

using test::bits;

std::unique_ptr<MeshConverter> convertWith(std::string_view text, Repairs repairs,
                                           std::size_t blockSize = kDefaultBlockSize) {
    test::TextFile file(text);
    return std::make_unique<MeshConverter>(file.get(), "unused.obj",
                                           ReadSetup{.blockSize = blockSize, .repairs = repairs});
}

void expectVec(const Normal& n, const Normal& want, const std::string& what) {
    EXPECT_EQ(bits(n.x), bits(want.x)) << what << " x " << n.x;
    EXPECT_EQ(bits(n.y), bits(want.y)) << what << " y " << n.y;
    EXPECT_EQ(bits(n.z), bits(want.z)) << what << " z " << n.z;
}

// Two texture vertices, used by one face of material 0 or of its sub-material 1.
std::string tiledScene(const std::string& material) {
    return "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n" + material +
           "}\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 2\n*MESH_NUMTVFACES 1\n"
           "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 1\n*MESH_TVERT 0 0.5 0.25 0\n"
           "*MESH_TVERT 1 0.75 -0.5 0\n*MESH_TFACE 0 0 1 1\n*MATERIAL_REF 0\n";
}

TEST(Repairs, KeepUvStartsTilingAtOneAndOnlyAnEntryWithoutTilingLoses) {
    struct Case {
        const char* name;
        std::string material;
        bool keepUv;
        float stored[6];  // the texture vertices (u0, v0, u1, v1), then the entry's tiling
        std::uint64_t lostEntries, lostCoordinates;
    };
    const std::string sub =
        "*NUMSUBMTLS 2\n*SUBMATERIAL 0 {\n*UVW_U_TILING 3\n*UVW_V_TILING 3\n}\n"
        "*SUBMATERIAL 1 {\n*BITMAP \"a.tga\"\n}\n";
    const Case cases[] = {
        {"no tiling", "*BITMAP \"a.tga\"\n", false, 0, 0, 0, -0.0f, 0, 0, 1, 2},
        {"no tiling, kept", "*BITMAP \"a.tga\"\n", true, 0.5f, 0.25f, 0.75f, -0.5f, 1, 1, 0, 0},
        {"U only", "*UVW_U_TILING 2\n", false, 1, 0, 1.5f, -0.0f, 2, 0, 1, 2},
        {"U only, kept", "*UVW_U_TILING 2\n", true, 1, 0.25f, 1.5f, -0.5f, 2, 1, 0, 0},
        {"both", "*UVW_U_TILING 2\n*UVW_V_TILING 4\n", false, 1, 1, 1.5f, -2, 2, 4, 0, 0},
        {"both, kept", "*UVW_U_TILING 2\n*UVW_V_TILING 4\n", true, 1, 1, 1.5f, -2, 2, 4, 0, 0},
        {"an unreadable tiling gives none", "*UVW_U_TILING x\n*UVW_V_TILING 4\n", false, 0, 1, 0,
         -2, 0, 4, 1, 2},
        // the face's sub-material 1 gives none; sub-material 0 is not used
        {"sub-material", sub, false, 0, 0, 0, -0.0f, 0, 0, 1, 2},
        {"sub-material, kept", sub, true, 0.5f, 0.25f, 0.75f, -0.5f, 1, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const auto m = convertWith(tiledScene(c.material), {.keepUv = c.keepUv});
        const Material& mat = m->materials[0];
        const float u = mat.subCount > 0 ? mat.subMaterials[1].uTiling : mat.uTiling;
        const float v = mat.subCount > 0 ? mat.subMaterials[1].vTiling : mat.vTiling;
        const TexVertex* t = m->texVertices.data();
        const float got[] = {t[0].u, t[0].v, t[1].u, t[1].v, u, v};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(bits(got[i]), bits(c.stored[i])) << c.name << " " << i;
        EXPECT_EQ(m->losses().untiledEntries.size(), c.lostEntries) << c.name;
        EXPECT_EQ(m->losses().untiledCoordinates, c.lostCoordinates) << c.name;
    }
}

// Three faces over four vertices whose normals are listed apart: the face normals first, then
// one vertex normal per vertex. (p, q, r) is stored as (p, r, -q).
const std::string kApart =
    "*MESH_NUMVERTEX 4\n*MESH_NUMFACES 3\n"
    "*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n*MESH_VERTEX 3 1 1 0\n"
    "*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
    "*MESH_FACE 1: A: 1 B: 3 C: 2 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
    "*MESH_FACE 2: A: 0 B: 2 C: 3 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
    "*MESH_NORMALS {\n*MESH_FACENORMAL 0 0 0 1\n*MESH_FACENORMAL 1 0 0 1\n"
    "*MESH_FACENORMAL 2 0 0 1\n*MESH_VERTEXNORMAL 0 1 0 0\n*MESH_VERTEXNORMAL 1 0 1 0\n"
    "*MESH_VERTEXNORMAL 2 0 0 1\n*MESH_VERTEXNORMAL 3 1 1 1\n}\n";

TEST(Repairs, NormalsListedApartReachTheCornersOfTheirVertices) {
    const Normal vn[] = {{1, 0, -0.0f}, {0, 0, -1}, {0, 1, -0.0f}, {1, 1, -1}};
    const Normal up{0, 1, -0.0f};
    for (const std::size_t block : {std::size_t{7}, kDefaultBlockSize}) {
        // plainly, face 0's search for its corners passes over the other face normals
        const auto plain = convertWith(kApart, {}, block);
        expectVec(plain->faces[0].normalC, vn[2], "plain corner c of face 0");
        expectVec(plain->faces[1].faceNormal, {}, "plain face 1");
        EXPECT_TRUE(plain->losses().normalsApart);
        EXPECT_EQ(plain->losses().zeroNormalFaces, 2u);
        EXPECT_EQ(plain->losses().faces, 3u);

        const auto fixed = convertWith(kApart, {.fixNormals = true}, block);
        const std::int32_t corners[3][3] = {{0, 1, 2}, {1, 3, 2}, {0, 2, 3}};
        for (int f = 0; f < 3; ++f) {
            const Face& face = fixed->faces[static_cast<std::size_t>(f)];
            const std::string what = "face " + std::to_string(f);
            expectVec(face.faceNormal, up, what);
            expectVec(face.normalA, vn[corners[f][0]], what + " a");
            expectVec(face.normalB, vn[corners[f][1]], what + " b");
            expectVec(face.normalC, vn[corners[f][2]], what + " c");
        }
        EXPECT_EQ(fixed->losses().zeroNormalFaces, 0u);
    }
}

// Output positions (x, y, z) are written as p = x, q = -z, r = y. Face 0 lies flat, A (0,0,0),
// B (1,0,0), C (0,0,-1): winding (B-A) x (C-A) = (0,1,0), area 1/2. Face 1 = B, A, D with
// D (0,2,2): winding (A-B) x (D-B) = (0,2,-2), area sqrt(2).
std::string roof(const std::string& groups0, const std::string& groups1,
                 const std::string& more = "") {
    return std::string("*MESH_NUMVERTEX 4\n*MESH_NUMFACES ") + (more.empty() ? "2" : "3") +
           "\n*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
           "*MESH_VERTEX 3 0 -2 2\n"
           "*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1 *MESH_SMOOTHING " +
           groups0 + " \t*MESH_MTLID 0\n*MESH_FACE 1: A: 1 B: 0 C: 3 *MESH_SMOOTHING " + groups1 +
           " *MESH_MTLID 0\n" + more;
}

TEST(Repairs, MissingNormalsComeFromTheWindingAndTheSmoothingGroups) {
    const float r2 = static_cast<float>(1 / std::sqrt(2.0));
    // F0 and F1: each face's own normal; S: the edge A-B smoothed, (0,1,0) + (0,2,-2) =
    // (0,3,-2) at unit length; G: a vertex normal given, (1 0 0)
    const Normal F0{0, 1, 0}, F1{0, r2, -r2}, G{1, 0, -0.0f};
    const Normal S{0, static_cast<float>(3 / std::sqrt(13.0)),
                   static_cast<float>(-2 / std::sqrt(13.0))};
    struct Case {
        const char* name;
        std::string scene;
        Normal corners[6];  // a, b and c of face 0, then of face 1
    };
    const std::string degenerate = "*MESH_FACE 2: A: 0 B: 0 C: 1 *MESH_SMOOTHING 1 *MESH_MTLID 0\n";
    const Case cases[] = {
        {"one group", roof("1", "1"), {S, S, F0, S, S, F1}},
        {"a shared group among others", roof("1,2", "2,3"), {S, S, F0, S, S, F1}},
        {"a group list with blanks", roof("4, 1", "1"), {S, S, F0, S, S, F1}},
        {"groups 1 and 33 fall together", roof("1", "33"), {S, S, F0, S, S, F1}},
        {"different groups", roof("1", "2"), {F0, F0, F0, F1, F1, F1}},
        // only the face's own line gives its groups, though its *MESH_MTLID comes later
        {"groups on a later line", roof("2\n*MESH_SMOOTHING 1", "1"), {F0, F0, F0, F1, F1, F1}},
        // a line longer than the look-ahead is read to its end, across blanks
        {"groups far along a long line",
         roof(std::string(300, ' ') + "1", "1"),
         {S, S, F0, S, S, F1}},
        {"a list across a long line",
         roof("2" + std::string(300, '\t') + ",1", "1"),
         {S, S, F0, S, S, F1}},
        {"no group", roof("0", "0"), {F0, F0, F0, F1, F1, F1}},
        {"no number", roof("", ""), {F0, F0, F0, F1, F1, F1}},
        // a face of no area in the group adds nothing to its neighbours
        {"a degenerate neighbour", roof("1", "1", degenerate), {S, S, F0, S, S, F1}},
        // a given corner stays; the others are computed
        {"one corner given",
         roof("1", "1", "*MESH_FACENORMAL 0 0 0 1\n*MESH_VERTEXNORMAL 0 1 0 0\n"),
         {G, S, F0, S, S, F1}},
    };
    // groups are read from the rest of a line that a refill may cut
    for (const std::size_t block : {std::size_t{5}, std::size_t{64}, kDefaultBlockSize})
        for (const Case& c : cases) {
            const auto m = convertWith(c.scene, {.fixNormals = true}, block);
            const Face& f0 = m->faces[0];
            const Face& f1 = m->faces[1];
            const std::string name = c.name;
            // the given face normal (0 0 1) is stored as (0, 1, -0)
            expectVec(f0.faceNormal, name == "one corner given" ? Normal{0, 1, -0.0f} : F0,
                      name + ": face 0");
            expectVec(f1.faceNormal, F1, name + ": face 1");
            const Normal got[] = {f0.normalA, f0.normalB, f0.normalC,
                                  f1.normalA, f1.normalB, f1.normalC};
            for (int i = 0; i < 6; ++i) {
                expectVec(got[i], c.corners[i], name + ": corner " + std::to_string(i));
            }
            EXPECT_EQ(m->losses().zeroNormalFaces, 0u) << c.name;
        }
}

TEST(Repairs, AFaceWithoutADirectionGetsUpAndNoNormalStaysZero) {
    // face 0 has no area, face 1 a corner past the vertices, face 2 was never given: all up,
    // in a group or not
    const auto m = convertWith(
        "*MESH_NUMVERTEX 2\n*MESH_NUMFACES 3\n*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 1 1\n"
        "*MESH_FACE 0: A: 0 B: 1 C: 1 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
        "*MESH_FACE 1: A: 0 B: 1 C: 9 *MESH_SMOOTHING 1 *MESH_MTLID 0\n",
        {.fixNormals = true});
    for (const Face& f : m->faces) {
        for (const Normal* n : {&f.faceNormal, &f.normalA, &f.normalB, &f.normalC}) {
            expectVec(*n, {0, 1, 0}, "face " + std::to_string(&f - &m->faces[0]));
        }
    }
}

TEST(Repairs, CompleteCornerNormalsConvertToTheSameBytes) {
    const std::string box =
        test::readFile(std::filesystem::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase");
    const std::string corner =
        "*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n"
        "*MESH_VERTEX 2 0 1 0\n*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
        "*MESH_FACENORMAL 0 0 0 -1\n*MESH_VERTEXNORMAL 0 0 0.6 0.8\n"
        "*MESH_VERTEXNORMAL 1 0.6 0 0.8\n*MESH_VERTEXNORMAL 2 0.8 0.6 0\n";
    // the corners' search passes over other lines and unreadable numbers, as without the repair
    const std::string lineBetween = corner.substr(0, corner.rfind("*MESH_VERTEXNORMAL 1")) +
                                    "# a note\n" +
                                    corner.substr(corner.rfind("*MESH_VERTEXNORMAL 1"));
    const std::string unreadable = std::string(corner).replace(corner.find("0.6 0.8"), 7, "0.6 x");
    // a vertex normal line the corners do not take is skipped as without the repair, also
    // where it runs into a keyword or its numbers into the next line
    const std::string glued = corner + "*MESH_VERTEXNORMAL 0 0 1 0*MESH_VERTEX 1 5 5 5\n";
    const std::string spilt = corner + "*MESH_VERTEXNORMAL 0\n1 2 3 *MESH_VERTEX 1 5 5 5\n";
    for (const std::string* scene : {&box, &corner, &lineBetween, &unreadable, &glued, &spilt}) {
        const auto plain = convertWith(*scene, {});
        EXPECT_EQ(plain->losses().zeroNormalFaces, 0u);
        EXPECT_EQ(encodeMeshFile(*convertWith(*scene, {.fixNormals = true})),
                  encodeMeshFile(*plain));
    }
}

class LossWarnings : public test::Driver {};

TEST_F(LossWarnings, AreToldRepairedOrRefusedUnderStrict) {
    test::writeFile(dir_ / "uv.ase", tiledScene("*BITMAP \"a.tga\"\n"));
    test::writeFile(dir_ / "apart.ase", kApart);
    test::writeFile(dir_ / "roof.ase", roof("1", "1"));
    // two meshes of the same material entry, which counts once
    const std::string sub = "*NUMSUBMTLS 2\n*SUBMATERIAL 1 {\n*BITMAP \"a.tga\"\n}\n";
    const std::string mesh = "*GEOMOBJECT {\n*MESH {\n" + tiledScene(sub) + "}\n}\n";
    test::writeFile(dir_ / "twice.ase", mesh + mesh);
    const std::string uv =
        "tessloom: uv.ase: 1 material entry gives no tiling; 2 texture coordinates are scaled by "
        "0 (--keep-uv keeps them)\n";
    const std::string uvNormals =
        "tessloom: uv.ase: 1 of 1 face has a zero normal (no normals given; --fix-normals "
        "computes them)\n";
    const std::string apart =
        "tessloom: apart.ase: 2 of 3 faces have a zero normal (vertex normals listed apart from "
        "their faces; --fix-normals computes them)\n";
    struct Case {
        std::string args;
        int status;
        std::string err;
        const char* written;  // nullptr: nothing
    };
    const Case cases[] = {
        {"uv.ase", 0, uv + uvNormals, "uv.obj"},
        {"--keep-uv uv.ase", 0, uvNormals, "uv.obj"},
        {"--fix-normals uv.ase", 0, uv, "uv.obj"},
        {"--fix uv.ase", 0, "", "uv.obj"},
        {"--strict uv.ase", 1,
         uv + uvNormals + "tessloom: uv.ase: --strict: nothing written, 2 warnings\n", nullptr},
        {"--strict --fix uv.ase", 0, "", "uv.obj"},
        {"apart.ase", 0, apart, "apart.obj"},
        {"--fix-normals --merge apart.ase", 0, "", "apart.obj"},
        {"--strict --each apart.ase", 1,
         apart + "tessloom: apart.ase: --strict: nothing written, 1 warning\n", nullptr},
        {"--fix-normals --strict --mesh 0 roof.ase", 0, "", "roof.0.obj"},
        {"--merge twice.ase", 0,
         "tessloom: twice.ase: 1 material entry gives no tiling; 4 texture coordinates are scaled "
         "by 0 (--keep-uv keeps them)\ntessloom: twice.ase: 2 of 2 faces have a zero normal (no "
         "normals given; --fix-normals computes them)\n",
         "twice.obj"},
    };
    for (const Case& c : cases) {
        for (const char* name : {"uv.obj", "apart.obj", "apart.0.obj", "roof.0.obj", "twice.obj"}) {
            std::filesystem::remove(dir_ / name);
        }
        EXPECT_EQ(run(c.args), c.status) << c.args;
        EXPECT_EQ(out_, "") << c.args;
        EXPECT_EQ(err_, c.err) << c.args;
        std::set<std::string> want = {"box.ase", "uv.ase", "apart.ase", "roof.ase", "twice.ase"};
        if (c.written) want.insert(c.written);
        EXPECT_EQ(files(), want) << c.args;
    }
}

}  // namespace
}  // namespace tessloom
