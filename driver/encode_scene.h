// A converted scene as mesh-file records: the converter's tables streamed through the
// record encoder, with no copy of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ase/scene.h"
#include "meshfile/encode.h"

namespace tessloom {

// The material index a face's record carries, by where its material's entries lie in the
// material section.
struct FaceMaterial {
    bool none = true;  // no material section: every face carries -1
    // Without sub-materials, the index every face carries; with them, the index of the first,
    // from which a face's sub-material (its id's truncating remainder by subCount) counts. A
    // negative remainder is carried as it is.
    std::int32_t first = 0;
    std::int32_t subCount = 0;  // 0: no sub-materials

    std::int32_t indexOf(std::int32_t mtlId) const {
        if (none) return -1;
        if (subCount == 0) return first;
        const std::int32_t sub = mtlId % subCount;
        return sub < 0 ? sub : first + sub;
    }
};

// A face as a record, in a mesh's own file or in a merged one: its material index, its
// corners shifted by the vertices and texture vertices of the meshes before it (none in a
// mesh's own file; indices out of range stay out of range, wrapping as 32-bit values do),
// and its normals.
inline meshfile::FaceRecord faceRecord(const Face& f, const FaceMaterial& material,
                                       std::size_t vertexBase = 0, std::size_t texBase = 0) {
    auto shifted = [](std::int32_t index, std::size_t before) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) +
                                         static_cast<std::uint32_t>(before));
    };
    auto position = [](const Normal& n) { return meshfile::Position{n.x, n.y, n.z}; };
    return {material.indexOf(f.mtlId), shifted(f.a, vertexBase), shifted(f.b, vertexBase),
            shifted(f.c, vertexBase),  shifted(f.ta, texBase),   shifted(f.tb, texBase),
            shifted(f.tc, texBase),    position(f.faceNormal),   position(f.normalA),
            position(f.normalB),       position(f.normalC)};
}

// The entry a material, or a sub-material, makes in the material section.
meshfile::MaterialEntry entryOf(const Material& m);
meshfile::MaterialEntry entryOf(const SubMaterial& m);

// The mesh file's size in bytes, from the counts and the name lengths.
std::uint64_t meshFileSize(const MeshConverter& mesh);

// Puts every section into `out` and flushes it.
void encodeMeshFile(const MeshConverter& mesh, OutBuffer& out);

// The whole file in memory: for tests and small meshes.
std::vector<std::uint8_t> encodeMeshFile(const MeshConverter& mesh);

}  // namespace tessloom
