// The count pass: the element counts and the material reference that size the tables.
#include <string_view>

#include "ase/scanner.h"
#include "ase/scene.h"

namespace tessloom {

namespace {

constexpr std::string_view kMeshNumVertex = "*MESH_NUMVERTEX";
constexpr std::string_view kMeshNumFaces = "*MESH_NUMFACES";
constexpr std::string_view kMeshNumTVertex = "*MESH_NUMTVERTEX";
constexpr std::string_view kMeshNumTVFaces = "*MESH_NUMTVFACES";
constexpr std::string_view kMaterialCount = "*MATERIAL_COUNT";
constexpr std::string_view kMaterialRef = "*MATERIAL_REF";

}  // namespace

void MeshConverter::readCounts() {
    Scanner& in = *input;
    in.rewind();
    std::string_view token;
    while (in.nextToken(token)) {
        std::int32_t* target = nullptr;
        if (token == kMeshNumVertex) {
            target = &numVertex;
        } else if (token == kMeshNumFaces) {
            target = &numFaces;
        } else if (token == kMeshNumTVertex) {
            target = &numTVertex;
        } else if (token == kMeshNumTVFaces) {
            target = &numTVFaces;
        } else if (token == kMaterialCount) {
            target = &materialCount;
        } else if (token == kMaterialRef) {
            target = &materialRef;
        }
        if (target) {
            in.readInt(*target);  // each occurrence overwrites: the last mesh's counts win
        } else {
            in.skipLine();
        }
    }
    inputBytes_ = in.bytesRead();
}

}  // namespace tessloom
