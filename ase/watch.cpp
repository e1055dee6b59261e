// The checks behind a Diagnostics listener: each beside the read or rule it watches.
#include "ase/watch.h"

#include <algorithm>
#include <bit>
#include <string>
#include <utility>

#include "ase/scene.h"

namespace tessloom {

namespace {

// Enough of a bad value to recognise it in a message.
constexpr std::size_t kShown = 32;

constexpr std::string_view kMeshFace = "*MESH_FACE";

}  // namespace

bool Watch::readInt(Scanner& in, std::int32_t& out, std::uint64_t at, std::string_view keyword,
                    bool isIndex, char after) {
    in.skipWhite();
    const std::string text = in.upcoming(kShown);
    const std::int32_t before = out;
    if (!in.readInt(out)) {
        sink.unreadableNumber(at, keyword, text, false, isIndex, before);
        return false;
    }
    if (!in.atWhiteOrEnd() && (after == 0 || in.upcoming(1) != std::string(1, after))) {
        sink.unreadableNumber(at, keyword, text, true, isIndex, out);
    }
    return true;
}

bool Watch::readFloat(Scanner& in, float& out, std::uint64_t at, std::string_view keyword) {
    in.skipWhite();
    const std::string text = in.upcoming(kShown);
    const float before = out;
    if (!in.readFloat(out)) {
        sink.unreadableNumber(at, keyword, text, false, false, before);
        return false;
    }
    if (!in.atWhiteOrEnd()) sink.unreadableNumber(at, keyword, text, true, false, out);
    return true;
}

bool Watch::findAfterFace(Scanner& in, std::string_view keyword, std::uint64_t at,
                          std::int32_t face) {
    bool lineEnd = false;
    std::uint64_t lostFace = Diagnostics::kNowhere;
    std::string_view token;
    for (;;) {
        lineEnd = in.skipWhiteAcrossLines() || lineEnd;
        if (!in.nextToken(token)) {
            sink.mtlIdSearch(at, face, Diagnostics::kNowhere, lostFace);
            return false;
        }
        if (token == keyword) {
            if (lineEnd) sink.mtlIdSearch(at, face, start(in, std::as_const(token)), lostFace);
            return true;
        }
        if (token == kMeshFace && lostFace == Diagnostics::kNowhere) {
            lostFace = start(in, std::as_const(token));
        }
    }
}

void Watch::tablesSized(const MeshConverter& mesh) {
    materialRef = mesh.materialRef;
    sink.facesDeclared(countAt[static_cast<int>(CountKind::kFaces)], mesh.faces.size());
    lineAt[static_cast<int>(ElementKind::kVertex)].assign(mesh.vertices.size(),
                                                          Diagnostics::kNowhere);
    lineAt[static_cast<int>(ElementKind::kTVertex)].assign(mesh.texVertices.size(),
                                                           Diagnostics::kNowhere);
    lineAt[static_cast<int>(ElementKind::kFace)].assign(mesh.faces.size(), Diagnostics::kNowhere);
    lineAt[static_cast<int>(ElementKind::kTFace)].assign(mesh.faces.size(), Diagnostics::kNowhere);
    scaledFor_.assign(mesh.texVertices.size(), -1);
    keptTiling_.assign(2 * mesh.texVertices.size(), 0.0f);
    conflictTold_.assign(mesh.texVertices.size(), 0);
    if (mesh.numTVFaces > mesh.numFaces) {
        sink.tvFacesBeyondFaces(countAt[static_cast<int>(CountKind::kTVFaces)], mesh.numTVFaces,
                                mesh.numFaces);
    }
}

void Watch::corners(std::uint64_t at, std::string_view keyword, std::int32_t face, std::int32_t a,
                    std::int32_t b, std::int32_t c, std::size_t faces, std::size_t size) {
    if (!inRange(face, faces)) return;
    if (!inRange(a, size) || !inRange(b, size) || !inRange(c, size)) {
        sink.cornerOutOfRange(at, keyword, face, {a, b, c}, size);
    }
}

void Watch::geometryRead(const MeshConverter& mesh) {
    struct Followed {
        ElementKind kind;
        CountKind count;
        std::string_view keyword;
        std::size_t size;
    };
    // texture corners are read for the faces below *MESH_NUMTVFACES
    const std::size_t texFaces =
        std::min(mesh.faces.size(), static_cast<std::size_t>(std::max(mesh.numTVFaces, 0)));
    for (const Followed& t :
         {Followed{ElementKind::kVertex, CountKind::kVertex, "*MESH_VERTEX", mesh.vertices.size()},
          Followed{ElementKind::kTVertex, CountKind::kTVertex, "*MESH_TVERT",
                   mesh.texVertices.size()},
          Followed{ElementKind::kFace, CountKind::kFaces, kMeshFace, mesh.faces.size()},
          Followed{ElementKind::kTFace, CountKind::kTVFaces, "*MESH_TFACE", texFaces}}) {
        const std::vector<std::uint64_t>& lines = lineAt[static_cast<int>(t.kind)];
        const auto given = [](std::uint64_t line) { return line != Diagnostics::kNowhere; };
        const auto end = lines.begin() + static_cast<std::ptrdiff_t>(t.size);
        const auto first = std::find_if_not(lines.begin(), end, given);
        if (first == end) continue;
        const auto missing = static_cast<std::size_t>(
            std::count_if(first, end, [&](std::uint64_t line) { return !given(line); }));
        sink.elementsMissing(countAt[static_cast<int>(t.count)], t.keyword, missing, t.size,
                             static_cast<std::size_t>(first - lines.begin()));
    }
    // the mesh file gives each face the sub-material at the remainder of its material id
    const Material* material = mesh.referencedMaterial();
    if (!material || material->subCount <= 0) return;
    const std::vector<std::uint64_t>& faceLines = lineAt[static_cast<int>(ElementKind::kFace)];
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
        const std::int32_t mtlId = mesh.faces[f].mtlId;
        if (inRange(mtlId, static_cast<std::size_t>(material->subCount))) continue;
        if (faceLines[f] == Diagnostics::kNowhere) continue;
        sink.mtlIdWraps(faceLines[f], static_cast<std::int32_t>(f), mtlId, material->subCount,
                        mtlId % material->subCount);
    }
}

void Watch::entryLine(std::int32_t material, std::int32_t sub, std::uint64_t at) {
    if (material != materialRef) return;
    if (sub < 0) {
        if (materialAt_ == Diagnostics::kNowhere) materialAt_ = at;
        return;
    }
    const auto i = static_cast<std::size_t>(sub);
    if (subAt_.size() <= i) subAt_.resize(i + 1, Diagnostics::kNowhere);
    if (subAt_[i] == Diagnostics::kNowhere) subAt_[i] = at;
}

void Watch::untiled(std::int32_t sub, std::uint64_t coordinates) {
    std::uint64_t at = materialAt_;
    if (sub >= 0 && static_cast<std::size_t>(sub) < subAt_.size()) {
        at = subAt_[static_cast<std::size_t>(sub)];
    }
    if (at == Diagnostics::kNowhere) at = countAt[static_cast<int>(CountKind::kMaterials)];
    sink.tilingMissing(at, materialRef, sub, coordinates);
}

void Watch::scaled(std::int32_t t, std::size_t f, float uTiling, float vTiling) {
    const auto i = static_cast<std::size_t>(t);
    scaledFor_[i] = static_cast<std::int32_t>(f);
    keptTiling_[2 * i] = uTiling;
    keptTiling_[2 * i + 1] = vTiling;
}

void Watch::reused(std::int32_t t, std::size_t f, float uTiling, float vTiling) {
    const auto i = static_cast<std::size_t>(t);
    const float kept[2] = {keptTiling_[2 * i], keptTiling_[2 * i + 1]};
    // compared as bits: a tiling that multiplies differently is a different one
    if (conflictTold_[i] ||
        (std::bit_cast<std::uint32_t>(kept[0]) == std::bit_cast<std::uint32_t>(uTiling) &&
         std::bit_cast<std::uint32_t>(kept[1]) == std::bit_cast<std::uint32_t>(vTiling))) {
        return;
    }
    const std::uint64_t at = lineAt[static_cast<int>(ElementKind::kTFace)][f];
    if (at == Diagnostics::kNowhere) return;
    conflictTold_[i] = 1;
    sink.tilingConflict(at, t, static_cast<std::int32_t>(f), scaledFor_[i], kept,
                        {uTiling, vTiling});
}

}  // namespace tessloom
