// Synthetic ASE scenes of any size, and the mesh file each must convert to.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tessloom::bench {

struct SceneOptions {
    std::int64_t faces = 200000;
    bool crlf = false;
    int subMaterials = 0;  // 0: one material with a bitmap; n: a multi-material of n
    bool normals = true;   // false: no *MESH_NORMALS block, as some exporters write
};

// Writes a subdivided grid in the usual exporter layout to `scene`. When `expected` is not
// null, also writes the mesh file the scene converts to, computed from the generated
// numbers themselves rather than by reading the scene back.
void generateScene(const SceneOptions& options, std::FILE* scene, std::FILE* expected);

}  // namespace tessloom::bench
