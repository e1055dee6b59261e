// Several meshes of one scene as one mesh file: each mesh's own conversion, concatenated.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "ase/scene.h"
#include "meshfile/format.h"

namespace tessloom {

// Takes the conversions of a scene's meshes in order (each that of the scene restricted to
// that mesh) and makes the records of the merged file:
// - material section: the entries of each distinct material reference, in order of first
//   use, as the mesh's own file would carry them (its sub-materials, or itself);
// - vertices, texture vertices and faces concatenated, a face's corners shifted by the
//   counts of the meshes before it;
// - a face's material index: the position of its entry in the merged section (the
//   sub-material's by the truncating remainder, as in the mesh's own file); a negative
//   remainder stays as it is, and without materials every face has -1;
// - the bounds over all vertices, by the converter's rule.
class MeshMerger {
  public:
    // `limit`: more elements of one kind in all than this is refused (the input's size:
    // every element takes a line of its own, so no real scene holds more).
    explicit MeshMerger(std::uint64_t limit) : limit_(limit) {}

    // Throws Rejected when this mesh has a material section and the first did not, or the
    // reverse, or when the totals would pass the limit; nothing is added then.
    void add(const MeshConverter& mesh);

    // The merged records; the merger is empty afterwards.
    meshfile::MeshFile finish();

  private:
    struct Entries {
        std::int32_t first = 0;     // position of the material's first entry
        std::int32_t subCount = 0;  // 0: one entry for the material itself
    };

    std::uint64_t limit_;
    std::optional<bool> withMaterials_;
    std::map<std::int32_t, Entries> byReference_;
    meshfile::MeshFile merged_;
};

}  // namespace tessloom
