// Merging the conversions of a scene's meshes into the records of one mesh file.
#include "merge.h"

#include <string>
#include <utility>

#include "encode_scene.h"

namespace tessloom {

namespace {

meshfile::Position positionOf(const Normal& n) {
    return {n.x, n.y, n.z};
}

// A corner shifted by the elements before its mesh; indices the scene gave out of range
// stay out of range, wrapping as 32-bit values do.
std::int32_t shifted(std::int32_t index, std::size_t before) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) +
                                     static_cast<std::uint32_t>(before));
}

}  // namespace

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
    for (const Face& f : mesh.faces) {
        meshfile::FaceRecord r;
        if (!material) {
            r.material = -1;
        } else if (entries.subCount != 0) {
            const std::int32_t sub = f.mtlId % entries.subCount;
            r.material = sub < 0 ? sub : entries.first + sub;
        } else {
            r.material = entries.first;
        }
        r.a = shifted(f.a, vertexBase);
        r.b = shifted(f.b, vertexBase);
        r.c = shifted(f.c, vertexBase);
        r.ta = shifted(f.ta, texBase);
        r.tb = shifted(f.tb, texBase);
        r.tc = shifted(f.tc, texBase);
        r.faceNormal = positionOf(f.faceNormal);
        r.normalA = positionOf(f.normalA);
        r.normalB = positionOf(f.normalB);
        r.normalC = positionOf(f.normalC);
        merged_.faces.push_back(r);
    }
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
