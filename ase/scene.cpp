// Sizing the tables from the counts, and the converter's lifetime.
#include "ase/scene.h"

#include <string>

#include "ase/scanner.h"
#include "ase/watch.h"

namespace tessloom {

std::string MeshConverter::countProblem(const char* keyword, std::int32_t value,
                                        std::uint64_t alreadyHeld) const {
    // a negative count would size the table with a huge unsigned value
    if (value < 0) return std::string(keyword) + " is " + std::to_string(value);
    // a few bytes must not ask for gigabytes of memory and disk
    if (static_cast<std::uint64_t>(value) + alreadyHeld > inputBytes_) {
        return std::string(keyword) + " " + std::to_string(value) + " exceeds what a " +
               std::to_string(inputBytes_) + "-byte scene can hold";
    }
    return {};
}

void MeshConverter::allocateTables() {
    // A listener hears of every count the tables cannot take before the first is rejected.
    std::string rejection;
    auto check = [&](const char* keyword, std::int32_t value, CountKind kind) {
        std::string problem = countProblem(keyword, value);
        if (problem.empty()) return;
        if (!watch_) throw Rejected(problem);
        watch_->sink.countRejected(watch_->countAt[static_cast<int>(kind)], keyword, value,
                                   inputBytes_);
        if (rejection.empty()) rejection = std::move(problem);
    };
    check("*MESH_NUMVERTEX", numVertex, CountKind::kVertex);
    check("*MESH_NUMFACES", numFaces, CountKind::kFaces);
    check("*MESH_NUMTVERTEX", numTVertex, CountKind::kTVertex);
    check("*MESH_NUMTVFACES", numTVFaces, CountKind::kTVFaces);
    check("*MATERIAL_COUNT", materialCount, CountKind::kMaterials);
    if (materialCount > 0 && !inRange(materialRef, static_cast<std::size_t>(materialCount))) {
        std::string problem = "*MATERIAL_REF " + std::to_string(materialRef) +
                              " names no material; the scene has " + std::to_string(materialCount);
        if (!watch_) throw Rejected(problem);
        watch_->sink.materialRefUnknown(watch_->countAt[static_cast<int>(CountKind::kRef)],
                                        materialRef, materialCount);
        if (rejection.empty()) rejection = std::move(problem);
    }
    if (!rejection.empty()) throw Rejected(rejection);
    // Every entry starts zeroed, so the same input always gives the same bytes.
    vertices.assign(static_cast<std::size_t>(numVertex), Vertex{});
    faces.assign(static_cast<std::size_t>(numFaces), Face{});
    texVertices.assign(static_cast<std::size_t>(numTVertex), TexVertex{});
    Material start;
    start.uTiling = start.vTiling = tilingStart(repairs_);
    materials.assign(static_cast<std::size_t>(materialCount), start);
    if (watch_) watch_->tablesSized(*this);
}

const Material* MeshConverter::referencedMaterial() const {
    if (materialCount <= 0 || !inRange(materialRef, materials.size())) return nullptr;
    return &materials[static_cast<std::size_t>(materialRef)];
}

MeshConverter::~MeshConverter() = default;

std::string defaultOutputPath(std::string_view inputPath) {
    // the last four characters go whatever they are; a shorter path keeps all of them
    if (inputPath.size() >= 4) inputPath.remove_suffix(4);
    return std::string(inputPath) + ".obj";
}

}  // namespace tessloom
