// Texture tiling and bounds.
#include <gtest/gtest.h>

#include "testutil.h"

namespace tessloom {
namespace {

using test::bits;
using test::convert;

const char* const kTwoSubs =
    "*MATERIAL_COUNT 1\n*NUMSUBMTLS 3\n"
    "*SUBMATERIAL 0\n*UVW_U_TILING 2\n*UVW_V_TILING 2\n"
    "*SUBMATERIAL 1\n*UVW_U_TILING 4\n*UVW_V_TILING 4\n"
    "*SUBMATERIAL 2\n*UVW_U_TILING 10\n*UVW_V_TILING 100\n";

TEST(Tiling, FirstFaceInFaceOrderWinsWithinTheTextureFaceCount) {
    auto m = convert(std::string(kTwoSubs) +
                     "*MESH_NUMFACES 4\n*MESH_NUMTVERTEX 6\n*MESH_NUMTVFACES 3\n"
                     "*MESH_TVERT 0 1.5 -0.5\n*MESH_TVERT 1 1 1\n*MESH_TVERT 2 1 1\n"
                     "*MESH_TVERT 3 1 1\n*MESH_TVERT 4 1 1\n*MESH_TVERT 5 1 1\n"
                     "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n"
                     "*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID 1\n"
                     "*MESH_FACE 2: A: 0 B: 0 C: 0 *MESH_MTLID -1\n"
                     "*MESH_FACE 3: A: 0 B: 0 C: 0 *MESH_MTLID 5\n"
                     "*MESH_TFACE 0 0 0 -1\n"   // shared corner scaled once; -1 names nothing
                     "*MESH_TFACE 1 0 1 9\n"    // 9 is outside the table
                     "*MESH_TFACE 2 2 3 3\n"    // negative sub-material: passed over
                     "*MESH_TFACE 3 4 4 4\n");  // beyond *MESH_NUMTVFACES
    const auto& t = m->texVertices;
    EXPECT_EQ(std::make_pair(t[0].u, t[0].v), std::make_pair(3.0f, -1.0f));
    EXPECT_EQ(std::make_pair(t[1].u, t[1].v), std::make_pair(4.0f, 4.0f));
    EXPECT_EQ(std::make_pair(t[2].u, t[3].u), std::make_pair(1.0f, 1.0f));
    EXPECT_EQ(t[4].u, 1.0f);

    // mtlId 5 with 3 sub-materials takes sub-material 2
    auto five = convert(std::string(kTwoSubs) +
                        "*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 2\n"
                        "*MESH_TVERT 0 1 1\n*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 5\n");
    EXPECT_EQ(std::make_pair(five->texVertices[0].u, five->texVertices[0].v),
              std::make_pair(10.0f, 100.0f));
}

// (A tiling that no line gives scales by 0: repairs_test.cpp.)
TEST(Tiling, UntiledFacesLeaveCoordinatesAlone) {
    // without materials
    auto plain = convert(
        "*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n*MESH_TVERT 0 0.5 -0.5\n");
    EXPECT_EQ(std::make_pair(plain->texVertices[0].u, plain->texVertices[0].v),
              std::make_pair(0.5f, -0.5f));
    // without a *MESH_NUMTVFACES line no face counts as textured
    auto uncounted = convert(
        "*MATERIAL_COUNT 1\n*UVW_U_TILING 2\n*UVW_V_TILING 3\n*MESH_NUMFACES 1\n"
        "*MESH_NUMTVERTEX 1\n*MESH_TVERT 0 0.5 -0.5\n*MESH_TFACE 0 0 0 0\n");
    EXPECT_EQ(std::make_pair(uncounted->texVertices[0].u, uncounted->texVertices[0].v),
              std::make_pair(0.5f, -0.5f));
}

TEST(Bounds, StartAtTheOriginAndEnclosePositions) {
    auto m = convert("*MESH_NUMVERTEX 2\n*MESH_VERTEX 0 1 -2 2\n*MESH_VERTEX 1 -3 0 0\n");
    EXPECT_EQ(m->radius, 3.0f);
    EXPECT_EQ(std::make_tuple(m->minX, m->maxX, m->minY, m->maxY, m->minZ, m->maxZ),
              std::make_tuple(-3.0f, 1.0f, 0.0f, 2.0f, 0.0f, 2.0f));
    auto empty = convert("");
    EXPECT_EQ(std::make_tuple(empty->radius, empty->minX, empty->maxX, empty->minY, empty->maxY,
                              empty->minZ, empty->maxZ),
              std::make_tuple(0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    // 2^64 squared is beyond every float: in double the radius is 2^64 exactly
    auto far = convert("*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 18446744073709551616 0 0\n");
    EXPECT_EQ(far->radius, 18446744073709551616.0f);
}

}  // namespace
}  // namespace tessloom
