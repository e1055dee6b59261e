// The count, geometry and material passes on small handwritten scenes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "ase/scene.h"
#include "testutil.h"

namespace tessloom {
namespace {

using test::bits;
using test::convert;
using test::meshBytes;

template <class Xyz>  // a normal or a vertex, bit for bit
void expectNormal(const Xyz& n, float x, float y, float z, const char* what) {
    EXPECT_EQ(bits(n.x), bits(x)) << what;
    EXPECT_EQ(bits(n.y), bits(y)) << what;
    EXPECT_EQ(bits(n.z), bits(z)) << what;
}

TEST(CountPass, KeywordsAreSeenOnlyAsALinesFirstTokenAndTheLastOneWins) {
    using Case = std::pair<const char*, std::int32_t>;
    const Case cases[] = {
        {"*MESH_NUMVERTEX 8", 8},
        {"*MESH_NUMVERTEX 8\n*MESH_NUMVERTEX 3\n", 3},
        {"{ *MESH_NUMVERTEX 8\n", 0},
        {"*mesh_numvertex 8\n", 0},
        {"*MESH_NUMVERTEXES 8\n", 0},
        {"*MESH_NUMVERTEX\n\n 8", 8},
        {"*MESH_NUMVERTEX x8\n", 0},
        {"*MESH_NUMVERTEX 4 *MESH_NUMVERTEX 5\n",
         5},  // a handled keyword's values end; the next token is seen
        {"", 0},
    };
    for (const auto& [text, numVertex] : cases) {
        auto m = convert(text);
        EXPECT_EQ(m->numVertex, numVertex) << text;
        EXPECT_EQ(m->numFaces, 0);
    }
    auto m = convert(
        "*MESH_NUMVERTEX 1\n*MESH_NUMFACES 2\n*MESH_NUMTVERTEX 3\n*MESH_NUMTVFACES 4\n"
        "*MATERIAL_COUNT 5\n*MATERIAL_REF 4\n");
    EXPECT_EQ(std::make_tuple(m->vertices.size(), m->faces.size(), m->texVertices.size(),
                              m->numTVFaces, m->materials.size(), m->materialRef),
              std::make_tuple(1u, 2u, 3u, 4, 5u, 4));
}

TEST(CountPass, NegativeCountsAndAnUnknownMaterialAreRejected) {
    const std::pair<const char*, const char*> cases[] = {
        {"*MESH_NUMVERTEX -3", "*MESH_NUMVERTEX is -3"},
        {"*MESH_NUMFACES 1\n*MESH_NUMFACES -1", "*MESH_NUMFACES is -1"},
        {"*MESH_NUMTVERTEX -2147483648", "*MESH_NUMTVERTEX is -2147483648"},
        {"*MESH_NUMTVFACES -1", "*MESH_NUMTVFACES is -1"},
        {"*MATERIAL_COUNT -1", "*MATERIAL_COUNT is -1"},
        {"*MATERIAL_COUNT 2\n*MATERIAL_REF 2",
         "*MATERIAL_REF 2 names no material; the scene has 2"},
        {"*MATERIAL_COUNT 2\n*MATERIAL_REF -1",
         "*MATERIAL_REF -1 names no material; the scene has 2"},
    };
    for (const auto& [text, message] : cases) {
        try {
            convert(text);
            ADD_FAILURE() << text;
        } catch (const Rejected& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    EXPECT_NO_THROW(convert("*MATERIAL_REF 7\n"));  // without materials the reference is unused
}

TEST(GeometryPass, PositionsAndNormalsTakeTheOutputAxes) {
    auto m = convert(
        "*MESH_NUMVERTEX 4\n*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 6\n"
        "*MESH_VERTEX 3 1.0 2.0 3.0\n"
        "*MESH_VERTEX 0 1 x\n"  // an unreadable number: the flip of z happens all the same
        "*MESH_TVERT 5 0.25 0.75 0.0\n"
        "*MESH_FACENORMAL 0 0 0 1\n"
        "\t*MESH_VERTEXNORMAL 7 1 0 0\n"
        "\t*MESH_VERTEXNORMAL 8 0 1 0\n"
        "\t*MESH_VERTEXNORMAL - 0 0 1\n");  // a malformed vertex index: the numbers are still read
    expectNormal(m->vertices[3], 1, 3, -2, "vertex 3");
    EXPECT_EQ(bits(m->vertices[0].x), bits(1.0f));
    EXPECT_EQ(bits(m->vertices[0].z), bits(-0.0f));
    EXPECT_EQ(std::make_tuple(m->texVertices[5].u, m->texVertices[5].v),
              std::make_tuple(0.25f, 0.75f));
    const Face& f = m->faces[0];
    expectNormal(f.faceNormal, 0, 1, -0.0f, "face");
    expectNormal(f.normalA, 1, 0, -0.0f, "a");
    expectNormal(f.normalB, 0, 0, -1, "b");
    expectNormal(f.normalC, 0, 1, -0.0f, "c");
}

TEST(GeometryPass, FaceLinesAndTheirSearches) {
    auto m = convert(
        "*MESH_NUMFACES 4\n"
        "*MESH_FACE    0:    A:    0 B:    1 C:    2 AB:    1 BC:    1 CA:    0\t *MESH_SMOOTHING "
        "1 \t*MESH_MTLID 4\n"
        "*MESH_FACE 1\tA:\t5 B:\t6 C:\t7\n"  // no colon after the index, no *MESH_MTLID on the line
        "*MESH_FACE 2: A: 8 B: 9 C: 10 *MESH_MTLID 3\n"  // lost to face 1's search
        "*MESH_FACE 3: A: 11 B: 12 C: 13 *MESH_MTLID\n"
        "*MESH_TFACE 3 4 5 6\n"
        "*MESH_FACEX 0: A: 99 B: 99 C: 99\n"
        "*MESH_VERTEXNORMAL 0 5 5 5\n");
    const Face* f = m->faces.data();
    EXPECT_EQ(std::make_tuple(f[0].a, f[0].b, f[0].c, f[0].mtlId), std::make_tuple(0, 1, 2, 4));
    EXPECT_EQ(std::make_tuple(f[1].a, f[1].b, f[1].c, f[1].mtlId), std::make_tuple(5, 6, 7, 3));
    EXPECT_EQ(std::make_tuple(f[2].a, f[2].mtlId), std::make_tuple(0, 0));
    // face 3's mtlId read finds *MESH_TFACE, not a number; the tface line is then seen
    EXPECT_EQ(std::make_tuple(f[3].a, f[3].b, f[3].c, f[3].mtlId), std::make_tuple(11, 12, 13, 0));
    EXPECT_EQ(std::make_tuple(f[3].ta, f[3].tb, f[3].tc), std::make_tuple(4, 5, 6));
    expectNormal(f[0].normalA, 0, 0, 0, "a vertex normal without a face normal is passed over");
}

TEST(GeometryPass, MissingVertexNormalsAreTakenFromTheNextFace) {
    auto m = convert(
        "*MESH_NUMFACES 2\n"
        "*MESH_FACENORMAL 0 0 0 1\n\t*MESH_VERTEXNORMAL 0 1 0 0\n"
        "*MESH_FACENORMAL 1 0 1 0\n\t*MESH_VERTEXNORMAL 1 0 1 0\n\t*MESH_VERTEXNORMAL 2 0 0 1\n"
        "\t*MESH_VERTEXNORMAL 3 1 1 1\n");
    const Face* f = m->faces.data();
    expectNormal(f[0].normalB, 0, 0, -1, "b");
    expectNormal(f[0].normalC, 0, 1, -0.0f, "c");
    expectNormal(f[1].faceNormal, 0, 0, 0, "next face's normal is lost");
    expectNormal(f[1].normalA, 0, 0, 0, "next face's corners are lost");
}

TEST(GeometryPass, BadIndicesStoreNothingButKeepTheReads) {
    auto m = convert(
        "*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n"
        "*MESH_VERTEX -1 9 9 9\n*MESH_VERTEX 1 9 9 9\n*MESH_VERTEX 2147483647 9 9 9\n"
        "*MESH_TVERT 0 9 9\n"             // no texture-vertex table at all
        "*MESH_FACE 5: A: 9 B: 9 C: 9\n"  // its *MESH_MTLID search consumes the next line
        "*MESH_FACE 0: A: 1 B: 2 C: 3 *MESH_MTLID 7\n"
        "*MESH_FACENORMAL -2147483648 9 9 9\n\t*MESH_VERTEXNORMAL 0 9 9 9\n"
        "\t*MESH_VERTEXNORMAL 0 9 9 9\n\t*MESH_VERTEXNORMAL 0 9 9 9\n"
        "*MESH_TFACE 1 9 9 9\n"
        "*MESH_TFACE - 9 9 9\n"  // no index: nothing stored, and the lines after it are read
        "*MESH_VERTEX *MESH_VERTEX 0 1 2 3\n"  // the failed index leaves its stopper for the loop
        "*MESH_FACE 0: A: 4 B: 5 C: 6\n");     // end of input during the search: corners stay
    EXPECT_TRUE(m->texVertices.empty());
    EXPECT_EQ(std::make_tuple(m->vertices[0].x, m->vertices[0].y, m->vertices[0].z),
              std::make_tuple(1.0f, 3.0f, -2.0f));
    const Face& f = m->faces[0];
    EXPECT_EQ(std::make_tuple(f.a, f.b, f.c, f.mtlId, f.ta), std::make_tuple(4, 5, 6, 0, 0));
    expectNormal(f.normalA, 0, 0, 0, "normals of an out-of-range face");
}

TEST(MaterialPass, TargetsModesAndMaps) {
    auto m = convert(
        "*MATERIAL_COUNT 3\n"
        "*MATERIAL_SHINE 0.5\n"  // before any *MATERIAL: material 0
        "*MATERIAL 1 {\n"
        "\t*MATERIAL_DIFFUSE 0.1 0.2 x\n"
        "\t*MAP_DIFFUSE {\n\t\t*MAP_CLASS \"Bitmap\"\n"
        "\t\t*BITMAP \"C:\\maps\\brick.tga\"\n\t\t*UVW_U_TILING 2.0\n\t\t*UVW_V_TILING 3.0\n\t}\n"
        "\t*MAP_REFLECT {\n\t\t*MAP_CLASS \"Reflect/Refract\"\n\t\t*UVW_U_TILING 5.0\n"
        "\t\t*UVW_V_TILING y\n\t}\n"  // unreadable: the old value stays
        "\t*MATERIAL_SHINEX 9\n"
        "\t*NUMSUBMTLS 2\n"
        "\t*SUBMATERIAL 1 {\n\t\t*MATERIAL_AMBIENT 1 1 1\n\t\t*NUMSUBMTLS 5\n"
        "\t\t*BITMAP \"C:\\my maps\\wall.tga\"\n\t}\n"
        "\t*SUBMATERIAL 2 {\n\t\t*MATERIAL_SHINE 7\n\t}\n"  // no sub-material 2
        "*MATERIAL 2 {\n\t*MATERIAL_SPECULAR 0.3 0.3 0.3\n"
        "\t*MATERIAL_SHINE 0.25 *MATERIAL_DIFFUSE 0.4 0.5 0.6\n"  // two properties on one line
        "\t*MAP_CLASS \"Reflect/Refract\"x\n\t*BITMAP noquote\n\t*BITMAP \"maps/plain.tga\"\n}\n"
        "*MATERIAL 3 {\n\t*MATERIAL_SHINE 8\n}\n"
        "*MATERIAL_REF 1\n");
    const Material& m0 = m->materials[0];
    const Material& m1 = m->materials[1];
    const Material& m2 = m->materials[2];
    EXPECT_EQ(m0.shine, 0.5f);
    EXPECT_EQ(std::make_tuple(m1.diffuse.r, m1.diffuse.g, m1.diffuse.b),
              std::make_tuple(0.1f, 0.2f, 0.0f));
    EXPECT_EQ(std::make_tuple(m1.name, m1.hasBitmap, m1.reflectRefract),
              std::make_tuple("brick.tga", 1, 1));
    EXPECT_EQ(std::make_tuple(m1.uTiling, m1.vTiling, m1.shine), std::make_tuple(5.0f, 3.0f, 0.0f));
    ASSERT_EQ(m1.subCount, 2);  // the nested *NUMSUBMTLS 5 is passed over
    ASSERT_EQ(m1.subMaterials.size(), 2u);
    const SubMaterial& s1 = m1.subMaterials[1];
    EXPECT_EQ(std::make_tuple(s1.ambient.r, s1.name, s1.hasBitmap), std::make_tuple(1.0f, "m", 1));
    EXPECT_EQ(m1.subMaterials[0].shine, 0.0f);
    EXPECT_EQ(std::make_tuple(m2.specular.g, m2.reflectRefract, m2.name),
              std::make_tuple(0.3f, 0, "maps/plain.tga"));
    EXPECT_EQ(std::make_tuple(m2.uTiling, m2.vTiling), std::make_tuple(0.0f, 0.0f));
    EXPECT_EQ(std::make_tuple(m2.shine, m2.diffuse.b), std::make_tuple(0.25f, 0.6f));
}

TEST(MaterialPass, SubMaterialTablesAndModeChanges) {
    auto m = convert(
        "*MATERIAL_COUNT 2\n"
        "*MATERIAL 0 {\n\t*NUMSUBMTLS 3\n\t*SUBMATERIAL 0 {\n\t\t*MATERIAL_SHINE 1\n\t}\n"
        "\t*NUMSUBMTLS -1\n\t*NUMSUBMTLS x\n"  // neither changes the table
        "\t*SUBMATERIAL 1 {\n\t\t*MATERIAL_SHINE 2\n\t}\n"
        "*MATERIAL 1 {\n\t*MATERIAL_SHINE 3\n\t*NUMSUBMTLS 1\n\t*NUMSUBMTLS 0\n"
        "\t*SUBMATERIAL 0 {\n\t\t*MATERIAL_SHINE 4\n\t}\n"  // the table is empty now
        "\t*MATERIAL x\n\t*MATERIAL_SHINE 5\n"  // the number stays, the mode goes back to top-level
        "*MATERIAL -1\n\t*MATERIAL_SHINE 6\n\t*NUMSUBMTLS 2\n"
        "*BITMAP \"");
    const Material& m0 = m->materials[0];
    ASSERT_EQ(m0.subCount, 3);
    EXPECT_EQ(std::make_tuple(m0.subMaterials[0].shine, m0.subMaterials[1].shine),
              std::make_tuple(1.0f, 2.0f));
    const Material& m1 = m->materials[1];
    EXPECT_EQ(std::make_tuple(m1.subCount, m1.subMaterials.size(), m1.shine),
              std::make_tuple(0, 0u, 5.0f));
    EXPECT_EQ(m1.hasBitmap, 0);
}

// The material pass stops at the first line end past the last line the count pass saw it
// act on. Each tail below hides a property where only the material pass itself reaches it;
// a last "*MATERIAL 99" line, which changes nothing, makes the pass read to the end, and
// both runs must give the same material entry. With line feeds and with CR LF.
TEST(MaterialPass, StoppingEarlyChangesNothing) {
    const std::string head =
        "*MATERIAL_COUNT 1\n*MATERIAL_REF 0\n*MATERIAL 0 {\n\t*MATERIAL_AMBIENT 0.1 0.2 0.3\n}\n"
        "*GEOMOBJECT {\n";
    std::string filler;
    for (int i = 0; i < 12; ++i) filler += "\t\t*MESH_VERTEX 0 1.0 2.0 3.0\n";
    const std::string y252(252, 'y');
    const std::string tails[] = {
        // values that run over lines, and a property after them
        "*MATERIAL_DIFFUSE\n0.5\n0.6\n0.7 *MATERIAL_SHINE 0.25\n",
        // a count whose number stands on the next line: this pass reads that line itself,
        // from its first token, and a cut after 254 characters lands on the property
        "*MESH_NUMVERTEX\n3 " + y252 + " *MATERIAL_SHINE 0.5\n",
        // a property's line that goes on past a cut
        "*MATERIAL_SHINE 0.75 " + std::string(260, 'z') + " " + std::string(252, 'w') +
            " *UVW_U_TILING 4.0\n",
        // a name that starts on the next line, a property after it
        "*BITMAP\n\"a\\b.tga\" *MATERIAL_SPECULAR 0.1 0.1 0.1\n",
    };
    for (const std::string& tail : tails) {
        for (bool crlf : {false, true}) {
            std::string scene = head + filler + tail + "\n" + filler;
            for (std::size_t at = 0; crlf && (at = scene.find('\n', at)) != std::string::npos;
                 at += 2) {
                scene.insert(at, 1, '\r');
            }
            const auto early = meshBytes(scene);
            const auto whole = meshBytes(scene + "*MATERIAL 99\n");
            EXPECT_EQ(early, whole) << tail.substr(0, 40) << (crlf ? " CR LF" : "");
        }
    }
}

TEST(MaterialPass, BitmapNames) {
    EXPECT_EQ(baseName("C:\\maps\\brick.tga"), "brick.tga");
    EXPECT_EQ(baseName("\\\\base\\\\\\lamp.png"), "lamp.png");
    EXPECT_EQ(baseName("/models/a/b.tga"), "/models/a/b.tga");
    EXPECT_EQ(baseName(""), "");
    const std::string longPath = "C:\\" + std::string(300, 'p') + ".tga";
    auto m = convert("*MATERIAL_COUNT 1\n*BITMAP \"" + longPath + "\"\n");
    EXPECT_EQ(m->materials[0].name, std::string(300, 'p') + ".tga");
    auto n = convert(std::string("*MATERIAL_COUNT 1\n*BITMAP \"a\0b.tga\"", 35));
    EXPECT_EQ(n->materials[0].name, std::string("a\0b.tga", 7));
}

}  // namespace
}  // namespace tessloom
