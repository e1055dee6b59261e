// The count pass: the element counts and the material reference that size the tables.
#include <string_view>

#include "ase/material_keywords.h"
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

// True for every keyword above: "*MESH_NUM..." and "*MATERIAL_...". Geometry lines, most
// of a scene, are "*MESH_" and another letter.
bool mayBeCount(const char* t) {
    return t[0] == '*' && t[1] == 'M' && (t[2] == 'A' || t[6] == 'N');
}

}  // namespace

// Besides the counts, this pass finds where the material pass may stop: past the end of the
// line of the last token that pass would act on. Every line's first token after that point
// comes to both passes alike (this one reads a count's number only when nothing follows it
// on its line), and the material pass skips every one of them.
void MeshConverter::readCounts() {
    using materialKeywords::isMaterialKeyword;
    using materialKeywords::mayBeMaterial;
    Scanner& in = *input;
    in.rewind();
    materialsEnd_ = 0;
    std::string_view token;
    for (;;) {
        in.skipPlainLines([](const char* t) { return mayBeCount(t) || mayBeMaterial(t); });
        if (!in.nextToken(token)) break;
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
            if (!in.lineEndsHere()) materialsEnd_ = in.offset();
        } else {
            if (isMaterialKeyword(token)) materialsEnd_ = in.offset();
            in.skipLine();
        }
    }
    inputBytes_ = in.bytesRead();
}

}  // namespace tessloom
