// The count pass: the element counts and the material reference that size the tables.
#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"
#include "keywords.h"

namespace tessloom {

namespace {

// Lines of a mesh's elements, most of a scene, begin with "*MESH_" and no "NUM" after it: no
// keyword this pass knows does.
constexpr std::string_view kElementStart = "*MESH_";
constexpr std::string_view kCountStart = "*MESH_NUM";
static_assert(std::ranges::none_of(materialKeywords::kAll, [](std::string_view k) {
    return k.starts_with(kElementStart);
}));
static_assert(std::ranges::all_of(
    std::initializer_list<std::string_view>{
        countKeywords::kMeshNumVertex, countKeywords::kMeshNumFaces, countKeywords::kMeshNumTVertex,
        countKeywords::kMeshNumTVFaces, countKeywords::kMaterialCount, countKeywords::kMaterialRef},
    [](std::string_view k) {
        return !k.starts_with(kElementStart) || k.starts_with(kCountStart);
    }));

}  // namespace

// Besides the counts, this pass finds where the material pass may stop: past the end of the
// line of the last token that pass would act on. Every line's first token after that point
// comes to both passes alike (this one reads a count's number only when nothing follows it
// on its line), and the material pass skips every one of them.
template <class W>
void MeshConverter::readCountsWith(W& watch) {
    using namespace countKeywords;
    using materialKeywords::isMaterialKeyword;
    Scanner& in = *input;
    in.rewind();
    materialsEnd_ = 0;
    std::string_view token;
    while (in.nextToken(token)) {
        if (token.starts_with(kElementStart) && !token.starts_with(kCountStart)) {
            watch.skipLine(in);
            continue;
        }
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
            if (watch.readInt(in, *target, at, token)) watch.countRead(at, token, *target);
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
