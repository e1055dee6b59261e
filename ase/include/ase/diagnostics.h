// A listener for what a conversion drops, skips or wraps while it follows its reading rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessloom {

// The passes call these where they leave something out or read it otherwise than it is
// written; with no listener they call nothing. Each does nothing unless overridden. Every position
// `at` is a byte offset in the input (line feeds, carriage returns and all), taken at the keyword
// the event belongs to. Nothing here changes what the conversion stores.
// The parameters are named for what they carry, though the empty defaults use none.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
class Diagnostics {
  public:
    virtual ~Diagnostics() = default;

    // A count the tables cannot take (negative, or more elements than the scene has bytes,
    // `limit`); the conversion is rejected after every such count has been told.
    virtual void countRejected(std::uint64_t at, std::string_view keyword, std::int32_t value,
                               std::uint64_t limit) {}
    // *MATERIAL_REF names no material of the `count`; the conversion is rejected.
    virtual void materialRefUnknown(std::uint64_t at, std::int32_t ref, std::int32_t count) {}
    // An element line whose index lies outside its table of `size`: read, then dropped.
    virtual void indexOutOfRange(std::uint64_t at, std::string_view keyword, std::int32_t index,
                                 std::size_t size) {}
    // `missing` of the `size` elements the count at `at` declares were given by no
    // `elementKeyword` line, the first of them `first`; they stay zero.
    virtual void elementsMissing(std::uint64_t at, std::string_view elementKeyword,
                                 std::size_t missing, std::size_t size, std::size_t first) {}
    // A face (or texture face) line with a corner outside the `size` entries it points into.
    virtual void cornerOutOfRange(std::uint64_t at, std::string_view keyword, std::int32_t face,
                                  const std::int32_t (&corners)[3], std::size_t size) {}
    // The *MESH_FACE at `at` found its *MESH_MTLID only at `found`, past a line end, or at
    // no place when `found` is kNowhere; `lostFace` is the first *MESH_FACE it passed over.
    virtual void mtlIdSearch(std::uint64_t at, std::int32_t face, std::uint64_t found,
                             std::uint64_t lostFace) {}
    // A face whose material id is not a sub-material number of the `subCount`: it stands
    // for `entry` (negative: none) as the remainder of the division.
    virtual void mtlIdWraps(std::uint64_t at, std::int32_t face, std::int32_t mtlId,
                            std::int32_t subCount, std::int32_t entry) {}
    // Texture vertex `texVertex`, scaled for face `firstFace` by the first tiling, is used
    // by face `face` (its *MESH_TFACE at `at`), whose material tiles by the second.
    virtual void tilingConflict(std::uint64_t at, std::int32_t texVertex, std::int32_t face,
                                std::int32_t firstFace, const float (&kept)[2],
                                const float (&own)[2]) {}
    // *MESH_NUMTVFACES above *MESH_NUMFACES: the texture faces past the faces are dropped.
    virtual void tvFacesBeyondFaces(std::uint64_t at, std::int32_t tvFaces, std::int32_t faces) {}
    // A value read as a number that is not one as written (`text`): when `partial`, the
    // number at its start was taken as `value`; otherwise none was, and the field keeps
    // `value` (for an index, nothing is stored).
    virtual void unreadableNumber(std::uint64_t at, std::string_view keyword, std::string_view text,
                                  bool partial, bool isIndex, double value) {}
    // A *NUMSUBMTLS inside a sub-material: passed over.
    virtual void nestedSubMaterials(std::uint64_t at, std::int32_t count) {}
    // The control-Z at `at` ends the input; the bytes after it are not read.
    virtual void textAfterEnd(std::uint64_t at) {}
    // A keyword that a pass acts on only because a line longer than it reads in one piece
    // was cut before it.
    virtual void longLine(std::uint64_t at, std::string_view keyword) {}

    // The count pass read `value` for the count `keyword` (one of *MESH_NUMVERTEX,
    // *MESH_NUMFACES, *MESH_NUMTVERTEX, *MESH_NUMTVFACES, *MATERIAL_COUNT, *MATERIAL_REF) at
    // `at`; a later one of the same keyword overwrites it.
    virtual void countRead(std::uint64_t at, std::string_view keyword, std::int32_t value) {}
    // The face table holds `faces` entries, as the *MESH_NUMFACES at `at` (kNowhere: none)
    // declares.
    virtual void facesDeclared(std::uint64_t at, std::size_t faces) {}
    // A *MESH_FACENORMAL at `at`; when not followed directly by *MESH_VERTEXNORMAL lines, the
    // conversion takes its corners' normals from the lines after it, wherever they stand.
    virtual void faceNormal(std::uint64_t at, bool followedDirectly) {}
    // The entry of the referenced material whose *MATERIAL line (sub < 0) or *SUBMATERIAL
    // line is at `at` gives no U or V tiling, and its tiling's start value scaled
    // `coordinates` texture vertices.
    virtual void tilingMissing(std::uint64_t at, std::int32_t material, std::int32_t sub,
                               std::uint64_t coordinates) {}

    static constexpr std::uint64_t kNowhere = UINT64_MAX;
};
#pragma GCC diagnostic pop

}  // namespace tessloom
