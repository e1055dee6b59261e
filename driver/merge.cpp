// Merging the conversions of a scene's meshes into the records of one mesh file.
#include "merge.h"

#include <string>
#include <utility>

#include "encode_scene.h"

namespace tessloom {

void MeshMerger::add(const MeshConverter& mesh) {
    const Material* material = mesh.referencedMaterial();
    const bool withMaterials = material != nullptr;
    if (withMaterials_ && *withMaterials_ != withMaterials) {
        throw Rejected(withMaterials ? "it has materials and the meshes before it have none"
                                     : "it has no materials and the meshes before it have");
    }
    auto check = [&](std::size_t held, std::size_t adding, const char* what) {
        if (static_cast<std::uint64_t>(held) + adding > limit_) {
            throw Rejected("the merged meshes would hold more " + std::string(what) + " than a " +
                           std::to_string(limit_) + "-byte scene can");
        }
    };
    check(merged_.vertices.size(), mesh.vertices.size(), "vertices");
    check(merged_.texVertices.size(), mesh.texVertices.size(), "texture vertices");
    check(merged_.faces.size(), mesh.faces.size(), "faces");
    withMaterials_ = withMaterials;

    Entries entries;
    if (material) {
        auto [at, added] = byReference_.try_emplace(mesh.materialRef);
        if (added) {
            at->second.first = static_cast<std::int32_t>(merged_.materials.size());
            at->second.subCount = material->subCount;
            if (material->subCount != 0) {
                for (const SubMaterial& s : material->subMaterials)
                    merged_.materials.push_back(entryOf(s));
            } else {
                merged_.materials.push_back(entryOf(*material));
            }
        }
        entries = at->second;
    }

    const std::size_t vertexBase = merged_.vertices.size();
    const std::size_t texBase = merged_.texVertices.size();
    for (const Vertex& v : mesh.vertices) merged_.vertices.push_back({v.x, v.y, v.z});
    for (const TexVertex& t : mesh.texVertices) merged_.texVertices.push_back({t.u, t.v});
    const FaceMaterial faceMaterial{
        .none = !material, .first = entries.first, .subCount = entries.subCount};
    for (const Face& f : mesh.faces)
        merged_.faces.push_back(faceRecord(f, faceMaterial, vertexBase, texBase));
}

meshfile::MeshFile MeshMerger::finish() {
    merged_.layout = withMaterials_.value_or(false) ? meshfile::Layout::kWithMaterials
                                                    : meshfile::Layout::kWithoutMaterials;
    merged_.bounds = {};
    for (const meshfile::Position& v : merged_.vertices) meshfile::extendBounds(merged_.bounds, v);
    withMaterials_.reset();
    byReference_.clear();
    return std::exchange(merged_, {});
}

}  // namespace tessloom
