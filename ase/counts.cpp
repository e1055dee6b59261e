// The count pass: the element counts and the material reference that size the tables.
#include <string_view>

#include "ase/material_keywords.h"
#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"

namespace tessloom {

namespace {

constexpr std::string_view kMeshNumVertex = "*MESH_NUMVERTEX";
constexpr std::string_view kMeshNumFaces = "*MESH_NUMFACES";
constexpr std::string_view kMeshNumTVertex = "*MESH_NUMTVERTEX";
constexpr std::string_view kMeshNumTVFaces = "*MESH_NUMTVFACES";
constexpr std::string_view kMaterialCount = "*MATERIAL_COUNT";
constexpr std::string_view kMaterialRef = "*MATERIAL_REF";

constexpr std::string_view kCountKeywords[] = {kMeshNumVertex,  kMeshNumFaces,  kMeshNumTVertex,
                                               kMeshNumTVFaces, kMaterialCount, kMaterialRef};

// True for every keyword above: "*MESH_NUM..." and "*MATERIAL_...". Geometry lines, most
// of a scene, are "*MESH_" and another letter.
constexpr bool mayBeCount(const char* t) {
    return t[0] == '*' && t[1] == 'M' && (t[2] == 'A' || t[6] == 'N');
}
static_assert(materialKeywords::holdsForAll(mayBeCount, kCountKeywords));

}  // namespace

// Besides the counts, this pass finds where the material pass may stop: past the end of the
// line of the last token that pass would act on. Every line's first token after that point
// comes to both passes alike (this one reads a count's number only when nothing follows it
// on its line), and the material pass skips every one of them.
template <class W>
void MeshConverter::readCountsWith(W& watch) {
    using materialKeywords::isMaterialKeyword;
    using materialKeywords::mayBeMaterial;
    Scanner& in = *input;
    in.rewind();
    materialsEnd_ = 0;
    std::string_view token;
    for (;;) {
        watch.skipInBulk(in, [&] {
            return in.skipPlainLines(
                [](const char* t) { return mayBeCount(t) || mayBeMaterial(t); });
        });
        if (!in.nextToken(token)) break;
        std::int32_t* target = nullptr;
        CountKind kind{};
        if (token == kMeshNumVertex) {
            target = &numVertex;
            kind = CountKind::kVertex;
        } else if (token == kMeshNumFaces) {
            target = &numFaces;
            kind = CountKind::kFaces;
        } else if (token == kMeshNumTVertex) {
            target = &numTVertex;
            kind = CountKind::kTVertex;
        } else if (token == kMeshNumTVFaces) {
            target = &numTVFaces;
            kind = CountKind::kTVFaces;
        } else if (token == kMaterialCount) {
            target = &materialCount;
            kind = CountKind::kMaterials;
        } else if (token == kMaterialRef) {
            target = &materialRef;
            kind = CountKind::kRef;
        }
        if (target) {
            const std::uint64_t at = watch.start(in, token);
            watch.acting(at, token);
            watch.count(kind, at);
            // each occurrence overwrites: the last mesh's counts win
            watch.readInt(in, *target, at, token);
            if (!in.lineEndsHere()) materialsEnd_ = in.offset();
        } else {
            if (isMaterialKeyword(token)) materialsEnd_ = in.offset();
            watch.skipLine(in);
        }
    }
    inputBytes_ = in.bytesRead();
    watch.inputEnded(in);
}

void MeshConverter::readCounts() {
    if (watch_) return readCountsWith(*watch_);
    Unwatched plain;
    readCountsWith(plain);
}

}  // namespace tessloom
