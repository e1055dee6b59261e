// Sizing the tables from the counts, and the converter's lifetime.
#include "ase/scene.h"

#include <string>

#include "ase/scanner.h"

namespace tessloom {

void MeshConverter::requireCount(const char* keyword, std::int32_t value,
                                 std::uint64_t alreadyHeld) const {
    // a negative count would size the table with a huge unsigned value
    if (value < 0) throw Rejected(std::string(keyword) + " is " + std::to_string(value));
    // a few bytes must not ask for gigabytes of memory and disk
    if (static_cast<std::uint64_t>(value) + alreadyHeld > inputBytes_) {
        throw Rejected(std::string(keyword) + " " + std::to_string(value) + " exceeds what a " +
                       std::to_string(inputBytes_) + "-byte scene can hold");
    }
}

void MeshConverter::allocateTables() {
    requireCount("*MESH_NUMVERTEX", numVertex);
    requireCount("*MESH_NUMFACES", numFaces);
    requireCount("*MESH_NUMTVERTEX", numTVertex);
    requireCount("*MESH_NUMTVFACES", numTVFaces);
    requireCount("*MATERIAL_COUNT", materialCount);
    if (materialCount > 0 && !inRange(materialRef, static_cast<std::size_t>(materialCount))) {
        throw Rejected("*MATERIAL_REF " + std::to_string(materialRef) +
                       " names no material; the scene has " + std::to_string(materialCount));
    }
    // Every entry starts zeroed, so the same input always gives the same bytes.
    vertices.assign(static_cast<std::size_t>(numVertex), Vertex{});
    faces.assign(static_cast<std::size_t>(numFaces), Face{});
    texVertices.assign(static_cast<std::size_t>(numTVertex), TexVertex{});
    materials.assign(static_cast<std::size_t>(materialCount), Material{});
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
