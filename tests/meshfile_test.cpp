// The mesh file's bytes, against layouts worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "driver/encode_scene.h"
#include "testutil.h"

namespace tessloom {
namespace {

using test::Bytes;
using test::meshBytes;

TEST(MeshFile, OneFaceWithoutMaterialsIs152Bytes) {
    const auto bytes = meshBytes(
        "*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n"
        "*MESH_VERTEX 0 1 2 3\n*MESH_VERTEX 1 -1 0 0\n*MESH_VERTEX 2 0 0 0.5\n"
        "*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_SMOOTHING 1 *MESH_MTLID 2\n"
        "*MESH_TFACE 0 3 4 5\n"
        "*MESH_FACENORMAL 0 0 0 1\n\t*MESH_VERTEXNORMAL 0 1 0 0\n"
        "\t*MESH_VERTEXNORMAL 1 0 1 0\n\t*MESH_VERTEXNORMAL 2 0 0 1\n");
    Bytes expected;  // the vertex count, then (1, 2, 3) in the output axes and the others
    expected.i32(3).f32s({1, 3, -2, -1, 0, -0.0f, 0, 0.5f, -0.0f});
    // no texture vertices; one face of no material: its corners and texture corners
    expected.i32s({0, 1, -1, 0, 1, 2, 3, 4, 5});
    // the face normal first, then the corners' normals; sqrt(14), then the box
    expected.f32s({0, 1, -0.0f, 1, 0, -0.0f, 0, 0, -1, 0, 1, -0.0f});
    expected.f32s({3.7416574f, -1, 1, 0, 3, -2, 0});
    ASSERT_EQ(bytes.size(), 152u);
    EXPECT_EQ(bytes, expected.data);
}

TEST(MeshFile, SingleMaterialEntryIs81Bytes) {
    const auto bytes = meshBytes(
        "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n"
        "\t*MATERIAL_AMBIENT 0.1 0.2 0.3\n\t*MATERIAL_DIFFUSE 0.4 0.5 0.6\n"
        "\t*MATERIAL_SPECULAR 0.7 0.8 0.9\n\t*MATERIAL_SHINE 0.25\n"
        "\t*MAP_DIFFUSE {\n\t\t*BITMAP \"C:\\maps\\brick.tga\"\n\t\t*UVW_U_OFFSET 0.5\n"
        "\t\t*UVW_V_OFFSET 0.75\n\t\t*UVW_U_TILING 1.5\n\t\t*UVW_V_TILING 2.5\n\t}\n}\n");
    Bytes expected;  // the entry: colours, shine, tiling, offsets; no reflect/refract, a bitmap
    expected.i32(1).f32s({0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f});
    expected.f32s({0.25f, 1.5f, 2.5f, 0.5f, 0.75f}).i32s({0, 1, 9}).text("brick.tga");
    expected.zeros(3 + 7);  // no vertices, texture vertices, faces; the box
    EXPECT_EQ(bytes, expected.data);
}

TEST(MeshFile, FaceMaterialIndices) {
    // one material: the index is materialRef itself, not 0
    auto single = meshBytes(
        "*MATERIAL_COUNT 3\n*MATERIAL_REF 2\n*MESH_NUMFACES 2\n"
        "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 5\n");
    ASSERT_EQ(single.size(), 4u + 68 + 4 + 4 + 4 + 2 * 76 + 28);
    EXPECT_EQ(single[0], 1);
    EXPECT_EQ(single[84], 2);
    EXPECT_EQ(single[84 + 76], 2);

    // sub-materials: mtlId modulo their count, with the sign of mtlId
    auto subs = meshBytes(
        "*MATERIAL_COUNT 1\n*NUMSUBMTLS 3\n*MESH_NUMFACES 3\n"
        "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 7\n"
        "*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID -7\n"
        "*MESH_FACE 2: A: 0 B: 0 C: 0 *MESH_MTLID -2147483648\n");
    auto word = [&](std::size_t offset) {
        std::int32_t v;
        std::memcpy(&v, subs.data() + offset, 4);
        return v;
    };
    EXPECT_EQ(word(0), 3);
    const std::size_t firstFace = 4 + 3 * 68 + 12;
    const std::int32_t indices[] = {1, -1, -2};  // 7 % 3, -7 % 3 and -2147483648 % 3
    for (std::size_t f = 0; f < 3; ++f) EXPECT_EQ(word(firstFace + 76 * f), indices[f]) << f;
}

// Random scenes: the size always follows from the counts and the name lengths.
TEST(MeshFile, SizeFollowsTheCountsAndNames) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const int vertices = static_cast<int>(rng() % 20), faces = static_cast<int>(rng() % 20);
        // the first round's material section outgrows the in-memory encoder's 4 KiB buffer
        const int tvertices = static_cast<int>(rng() % 20);
        const int subs = round == 0 ? 100 : static_cast<int>(rng() % 4);
        const bool materials = round == 0 || rng() % 2;
        std::string text = "*MESH_NUMVERTEX " + std::to_string(vertices) + "\n*MESH_NUMFACES " +
                           std::to_string(faces) + "\n*MESH_NUMTVERTEX " +
                           std::to_string(tvertices) + "\n*MESH_NUMTVFACES " +
                           std::to_string(faces) + "\n";
        std::size_t names = 0;
        if (materials) {
            text += "*MATERIAL_COUNT 1\n*NUMSUBMTLS " + std::to_string(subs) + "\n";
            for (int s = 0; s < std::max(subs, 1); ++s) {
                const std::string name(rng() % 30, 'n');
                names += name.size();
                if (subs) text += "*SUBMATERIAL " + std::to_string(s) + "\n";
                if (!name.empty()) text += "*BITMAP \"x\\" + name + "\"\n";
            }
        }
        const std::size_t entries = materials ? std::max(subs, 1) : 0;
        const std::size_t expected = (materials ? 4 : 0) + 68 * entries + names + 4 +
                                     12 * static_cast<std::size_t>(vertices) + 4 +
                                     8 * static_cast<std::size_t>(tvertices) + 4 +
                                     76 * static_cast<std::size_t>(faces) + 28;
        auto mesh = test::convert(text);
        EXPECT_EQ(encodeMeshFile(*mesh).size(), expected) << text;
        EXPECT_EQ(meshFileSize(*mesh), expected);
    }
}

}  // namespace
}  // namespace tessloom
