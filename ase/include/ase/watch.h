// What the passes keep for a Diagnostics listener, and the empty stand-in they use without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ase/diagnostics.h"
#include "ase/scanner.h"

namespace tessloom {

class MeshConverter;

// The counts whose positions findings point at.
enum class CountKind : std::uint8_t { kVertex, kFaces, kTVertex, kTVFaces, kMaterials, kRef };
// The element lines whose indices are followed: vertices, texture vertices, faces, and the
// texture corners of faces.
enum class ElementKind : std::uint8_t { kVertex, kTVertex, kFace, kTFace };

// Each pass is a template over its watcher. This one does nothing, inline, so the pass
// built with it is the plain conversion and costs what it did.
struct Unwatched {
    static std::uint64_t start(const Scanner&, std::string_view) { return 0; }
    [[gnu::always_inline]] static bool readInt(Scanner& in, std::int32_t& out, std::uint64_t,
                                               std::string_view, bool = false, char = 0) {
        return in.readInt(out);
    }
    static bool readFloat(Scanner& in, float& out, std::uint64_t, std::string_view) {
        return in.readFloat(out);
    }
    static bool skipLine(Scanner& in) { return in.skipLine(); }
    static bool findAfterFace(Scanner& in, std::string_view keyword, std::uint64_t, std::int32_t) {
        return in.findToken(keyword);
    }
    static void acting(std::uint64_t, std::string_view) {}
    static void count(CountKind, std::uint64_t) {}
    static void countRead(std::uint64_t, std::string_view, std::int32_t) {}
    static void countRejected(std::uint64_t, std::string_view, std::int32_t, std::uint64_t) {}
    static void nestedSubMaterials(std::uint64_t, std::int32_t) {}
    static void inputEnded(const Scanner&) {}
    static void given(ElementKind, std::int32_t, std::uint64_t) {}
    static void outOfRange(std::uint64_t, std::string_view, std::int32_t, std::size_t) {}
    static void corners(std::uint64_t, std::string_view, std::int32_t, std::int32_t, std::int32_t,
                        std::int32_t, std::size_t, std::size_t) {}
    static void geometryRead(const MeshConverter&) {}
    static void faceNormal(std::uint64_t, bool) {}
    static void entryLine(std::int32_t, std::int32_t, std::uint64_t) {}
    static void untiled(std::int32_t, std::uint64_t) {}
    static void scaled(std::int32_t, std::size_t, float, float) {}
    static void reused(std::int32_t, std::size_t, float, float) {}
};

// With a listener: positions, the checks of every number read, and what each table got.
// The reads and searches take the same input and store the same values as the plain ones.
class Watch {
  public:
    explicit Watch(Diagnostics& listener) : sink(listener) {}

    // The offset where `token`, just read, starts. The token is viewed anew in a copy: the
    // scanner's view of it ends with the next read, which may refill the buffer, and the
    // messages about the values read after it name it.
    std::uint64_t start(const Scanner& in, std::string_view& token) {
        const std::uint64_t at = start(in, std::as_const(token));
        if (token.data() != token_.data()) token_.assign(token);
        token = token_;
        return at;
    }
    // The offset where `keyword`, just read, starts.
    static std::uint64_t start(const Scanner& in, const std::string_view& keyword) {
        return in.offset() - keyword.size();
    }
    // The reads, telling the listener when the text there is no number or more than one;
    // `after` is a character the format expects right after the number.
    bool readInt(Scanner& in, std::int32_t& out, std::uint64_t at, std::string_view keyword,
                 bool isIndex = false, char after = 0);
    bool readFloat(Scanner& in, float& out, std::uint64_t at, std::string_view keyword);
    // skipLine(), remembering a line cut before its end.
    bool skipLine(Scanner& in) {
        cut_ = !in.skipLine();
        return !cut_;
    }
    // Scanner::findToken() token by token, telling the listener when the search for the
    // face at `at` passes a line end, and which face line it passes over.
    bool findAfterFace(Scanner& in, std::string_view keyword, std::uint64_t at, std::int32_t face);
    // A pass acts on `keyword`: a long line when it stands in the rest of a cut line.
    void acting(std::uint64_t at, std::string_view keyword) {
        if (cut_) sink.longLine(at, keyword);
        cut_ = false;
    }
    void count(CountKind kind, std::uint64_t at) { countAt[static_cast<int>(kind)] = at; }
    void countRead(std::uint64_t at, std::string_view keyword, std::int32_t value) {
        sink.countRead(at, keyword, value);
    }
    void countRejected(std::uint64_t at, std::string_view keyword, std::int32_t value,
                       std::uint64_t limit) {
        sink.countRejected(at, keyword, value, limit);
    }
    void nestedSubMaterials(std::uint64_t at, std::int32_t count) {
        sink.nestedSubMaterials(at, count);
    }
    void inputEnded(const Scanner& in) {
        if (in.textAfterControlZ()) sink.textAfterEnd(in.bytesRead());
    }
    // The tables are sized: the per-element records follow them.
    void tablesSized(const MeshConverter& mesh);
    // A line gave element `index` of its table, when that is in range.
    void given(ElementKind kind, std::int32_t index, std::uint64_t at) {
        std::vector<std::uint64_t>& lines = lineAt[static_cast<int>(kind)];
        if (index >= 0 && static_cast<std::size_t>(index) < lines.size()) {
            lines[static_cast<std::size_t>(index)] = at;
        }
    }
    void outOfRange(std::uint64_t at, std::string_view keyword, std::int32_t index,
                    std::size_t size) {
        sink.indexOutOfRange(at, keyword, index, size);
    }
    // The corners of face `face` as its line left them, against the `size` entries they
    // point into; nothing when the face itself was out of range.
    void corners(std::uint64_t at, std::string_view keyword, std::int32_t face, std::int32_t a,
                 std::int32_t b, std::int32_t c, std::size_t faces, std::size_t size);
    // After the geometry pass: elements no line gave, and material ids that wrap.
    void geometryRead(const MeshConverter& mesh);
    // A *MESH_FACENORMAL at `at`, followed directly by its vertex normals or not.
    void faceNormal(std::uint64_t at, bool followedDirectly) {
        sink.faceNormal(at, followedDirectly);
    }
    // The *MATERIAL line (sub < 0) or *SUBMATERIAL line at `at` makes entry (material, sub)
    // current, sub being an entry of its table; the first line of each entry of the
    // referenced material is kept.
    void entryLine(std::int32_t material, std::int32_t sub, std::uint64_t at);
    // The tiling pass scaled `coordinates` texture vertices by an entry that gives no U or V
    // tiling: sub-material `sub`, or the material itself when sub < 0.
    void untiled(std::int32_t sub, std::uint64_t coordinates);
    // The tiling pass scaled texture vertex t for face f, or found it scaled already.
    void scaled(std::int32_t t, std::size_t f, float uTiling, float vTiling);
    void reused(std::int32_t t, std::size_t f, float uTiling, float vTiling);

    Diagnostics& sink;
    std::uint64_t countAt[6] = {Diagnostics::kNowhere, Diagnostics::kNowhere,
                                Diagnostics::kNowhere, Diagnostics::kNowhere,
                                Diagnostics::kNowhere, Diagnostics::kNowhere};
    // Per element kind and index: where the last line that gave it starts, or kNowhere.
    std::vector<std::uint64_t> lineAt[4];

    // Set once the tables are sized: the material whose entries the file carries.
    std::int32_t materialRef = 0;

  private:
    std::string token_;  // the last token start() was given
    bool cut_ = false;
    // Where the referenced material's line and its sub-materials' lines start.
    std::uint64_t materialAt_ = Diagnostics::kNowhere;
    std::vector<std::uint64_t> subAt_;
    // Per texture vertex: the face whose tiling it took, that tiling, and whether a
    // conflict was told.
    std::vector<std::int32_t> scaledFor_;
    std::vector<float> keptTiling_;
    std::vector<std::uint8_t> conflictTold_;
};

}  // namespace tessloom
