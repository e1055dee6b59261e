// The mesh file's layout, in one place: its sections in order, each record's fields in order
// (a store and a load for each, which the encoder and the reader both use), the size a file
// of given counts has, and how the bounds are computed from the vertices.
//
// A file has no header. In order:
//   material section (only when the scene had materials): entry count, then the entries,
//     each 68 bytes of fixed fields and its bitmap name (length from the last fixed field);
//   vertex count, then the vertices;
//   texture-vertex count, then the texture vertices;
//   face count, then the faces;
//   the bounds.
// Every value is 4 bytes, little-endian: counts and indices signed, the rest IEEE floats.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessloom::meshfile {

enum class Layout { kWithMaterials, kWithoutMaterials };

inline const char* layoutName(Layout layout) {
    return layout == Layout::kWithMaterials ? "with a material section"
                                            : "without a material section";
}

// Sizes of the fixed records, in bytes; a material entry's name follows its 68 bytes.
inline constexpr std::uint64_t kCountBytes = 4;
inline constexpr std::uint64_t kMaterialEntryBytes = 68;
inline constexpr std::uint64_t kVertexBytes = 12;
inline constexpr std::uint64_t kTexVertexBytes = 8;
inline constexpr std::uint64_t kFaceBytes = 76;
inline constexpr std::uint64_t kBoundsBytes = 28;

struct MaterialEntry {
    float ambient[3] = {}, diffuse[3] = {}, specular[3] = {};
    float shine = 0, uTiling = 0, vTiling = 0, uOffset = 0, vOffset = 0;
    std::int32_t reflectRefract = 0, hasBitmap = 0;
    std::string name;  // bytes, as stored
};

struct Position {
    float x = 0, y = 0, z = 0;
};

struct TexCoord {
    float u = 0, v = 0;
};

struct FaceRecord {
    std::int32_t material = 0;
    std::int32_t a = 0, b = 0, c = 0;
    std::int32_t ta = 0, tb = 0, tc = 0;
    Position faceNormal, normalA, normalB, normalC;
};

struct Bounds {
    float radius = 0, minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
};

// A whole mesh file's records in memory.
struct MeshFile {
    Layout layout = Layout::kWithoutMaterials;
    std::vector<MaterialEntry> materials;
    std::vector<Position> vertices;
    std::vector<TexCoord> texVertices;
    std::vector<FaceRecord> faces;
    Bounds bounds;
};

// The size of a file with these counts; nameBytes is the sum of the entries' name lengths.
inline std::uint64_t fileSize(Layout layout, std::uint64_t entries, std::uint64_t nameBytes,
                              std::uint64_t vertices, std::uint64_t texVertices,
                              std::uint64_t faces) {
    std::uint64_t size = 0;
    if (layout == Layout::kWithMaterials)
        size += kCountBytes + kMaterialEntryBytes * entries + nameBytes;
    size += kCountBytes + kVertexBytes * vertices;
    size += kCountBytes + kTexVertexBytes * texVertices;
    size += kCountBytes + kFaceBytes * faces;
    return size + kBoundsBytes;
}

// Single values. The stores write through a pointer with room for them; written byte by
// byte, the compiler makes each one move.
inline void storeU32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}
inline void storeI32(std::uint8_t* p, std::int32_t value) {
    storeU32(p, static_cast<std::uint32_t>(value));
}
inline void storeF32(std::uint8_t* p, float value) {
    storeU32(p, std::bit_cast<std::uint32_t>(value));
}
inline std::uint32_t loadU32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
inline std::int32_t loadI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(loadU32(p));
}
inline float loadF32(const std::uint8_t* p) {
    return std::bit_cast<float>(loadU32(p));
}

// Records: each store writes exactly the record's bytes, each load reads them back.

inline void storePosition(std::uint8_t* p, const Position& v) {
    storeF32(p, v.x);
    storeF32(p + 4, v.y);
    storeF32(p + 8, v.z);
}
inline Position loadPosition(const std::uint8_t* p) {
    return {loadF32(p), loadF32(p + 4), loadF32(p + 8)};
}

inline void storeTexCoord(std::uint8_t* p, const TexCoord& t) {
    storeF32(p, t.u);
    storeF32(p + 4, t.v);
}
inline TexCoord loadTexCoord(const std::uint8_t* p) {
    return {loadF32(p), loadF32(p + 4)};
}

// The material index and the vertex and texture-vertex indices; then the face normal
// leads the three vertex normals. Where each field starts in the record, in bytes: the
// readers of other languages (the inspector's page) take these too.
struct FaceFieldsAt {
    std::size_t material, corners, texCorners, normal, cornerNormals;
};
inline constexpr FaceFieldsAt kFaceAt{0, 4, 16, 28, 40};
static_assert(kFaceAt.cornerNormals + 3 * kVertexBytes == kFaceBytes);

inline void storeFace(std::uint8_t* p, const FaceRecord& f) {
    storeI32(p + kFaceAt.material, f.material);
    storeI32(p + kFaceAt.corners, f.a);
    storeI32(p + kFaceAt.corners + 4, f.b);
    storeI32(p + kFaceAt.corners + 8, f.c);
    storeI32(p + kFaceAt.texCorners, f.ta);
    storeI32(p + kFaceAt.texCorners + 4, f.tb);
    storeI32(p + kFaceAt.texCorners + 8, f.tc);
    storePosition(p + kFaceAt.normal, f.faceNormal);
    storePosition(p + kFaceAt.cornerNormals, f.normalA);
    storePosition(p + kFaceAt.cornerNormals + kVertexBytes, f.normalB);
    storePosition(p + kFaceAt.cornerNormals + 2 * kVertexBytes, f.normalC);
}
inline FaceRecord loadFace(const std::uint8_t* p) {
    return {loadI32(p + kFaceAt.material),
            loadI32(p + kFaceAt.corners),
            loadI32(p + kFaceAt.corners + 4),
            loadI32(p + kFaceAt.corners + 8),
            loadI32(p + kFaceAt.texCorners),
            loadI32(p + kFaceAt.texCorners + 4),
            loadI32(p + kFaceAt.texCorners + 8),
            loadPosition(p + kFaceAt.normal),
            loadPosition(p + kFaceAt.cornerNormals),
            loadPosition(p + kFaceAt.cornerNormals + kVertexBytes),
            loadPosition(p + kFaceAt.cornerNormals + 2 * kVertexBytes)};
}

// A material entry's 68 fixed bytes, the name's length last; the name's bytes follow.
inline constexpr std::size_t kNameLengthAt = 64;
inline void storeEntryFields(std::uint8_t* p, const MaterialEntry& m, std::int32_t nameLength) {
    for (int i = 0; i < 3; ++i) {
        storeF32(p + 4 * i, m.ambient[i]);
        storeF32(p + 12 + 4 * i, m.diffuse[i]);
        storeF32(p + 24 + 4 * i, m.specular[i]);
    }
    storeF32(p + 36, m.shine);
    storeF32(p + 40, m.uTiling);
    storeF32(p + 44, m.vTiling);
    storeF32(p + 48, m.uOffset);
    storeF32(p + 52, m.vOffset);
    storeI32(p + 56, m.reflectRefract);
    storeI32(p + 60, m.hasBitmap);
    storeI32(p + kNameLengthAt, nameLength);
}
// The fixed fields, with an empty name; the name's length is loadI32(p + kNameLengthAt).
inline MaterialEntry loadEntryFields(const std::uint8_t* p) {
    MaterialEntry m;
    for (int i = 0; i < 3; ++i) {
        m.ambient[i] = loadF32(p + 4 * i);
        m.diffuse[i] = loadF32(p + 12 + 4 * i);
        m.specular[i] = loadF32(p + 24 + 4 * i);
    }
    m.shine = loadF32(p + 36);
    m.uTiling = loadF32(p + 40);
    m.vTiling = loadF32(p + 44);
    m.uOffset = loadF32(p + 48);
    m.vOffset = loadF32(p + 52);
    m.reflectRefract = loadI32(p + 56);
    m.hasBitmap = loadI32(p + 60);
    return m;
}

inline void storeBounds(std::uint8_t* p, const Bounds& b) {
    storeF32(p, b.radius);
    storeF32(p + 4, b.minX);
    storeF32(p + 8, b.maxX);
    storeF32(p + 12, b.minY);
    storeF32(p + 16, b.maxY);
    storeF32(p + 20, b.minZ);
    storeF32(p + 24, b.maxZ);
}
inline Bounds loadBounds(const std::uint8_t* p) {
    return {loadF32(p),      loadF32(p + 4),  loadF32(p + 8), loadF32(p + 12),
            loadF32(p + 16), loadF32(p + 20), loadF32(p + 24)};
}

// The bounds of a mesh: each starts at 0 (a default Bounds), so the box holds the origin;
// the radius is the largest distance from it, computed in double precision.
inline void extendBounds(Bounds& b, const Position& v) {
    if (v.x > b.maxX) b.maxX = v.x;
    if (v.x < b.minX) b.minX = v.x;
    if (v.y > b.maxY) b.maxY = v.y;
    if (v.y < b.minY) b.minY = v.y;
    if (v.z > b.maxZ) b.maxZ = v.z;
    if (v.z < b.minZ) b.minZ = v.z;
    const double x = v.x, y = v.y, z = v.z;
    const double distance = std::sqrt(x * x + y * y + z * z);
    if (distance > b.radius) b.radius = static_cast<float>(distance);
}

}  // namespace tessloom::meshfile
