// A converted scene as mesh-file records: the converter's tables streamed through the
// record encoder, with no copy of them.
#pragma once

#include <cstdint>
#include <vector>

#include "ase/scene.h"
#include "meshfile/encode.h"

namespace tessloom {

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
