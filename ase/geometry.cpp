// The geometry pass: vertices, texture vertices, faces and normals, in the output's axes.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"
#include "keywords.h"

namespace tessloom {

namespace {

using namespace geometryKeywords;

// "%f %f %f" into x, z, y, then z negated: the input's p, q, r become p, r, -q. The flip
// happens even when a number was unreadable.
template <class W>
void readConverted(Scanner& in, float& x, float& y, float& z, W& watch, std::uint64_t at,
                   std::string_view keyword) {
    if (watch.readFloat(in, x, at, keyword) && watch.readFloat(in, z, at, keyword)) {
        watch.readFloat(in, y, at, keyword);
    }
    z = -z;
}

// One corner of "\tA:\t%d B:\t%d C:\t%d".
template <class W>
[[gnu::always_inline]] inline bool readCorner(Scanner& in, char label, std::int32_t& out, W& watch,
                                              std::uint64_t at) {
    in.skipWhite();
    return in.literal(label) && in.literal(':') && watch.readInt(in, out, at, kMeshFace);
}

// Where an element's values go: its table entry, or scratch when the index names none, so
// that the reads still happen and the input advances as it would for a valid index.
template <class Record, class W>
Record& entry(Table<Record>& table, std::int32_t index, Record& scratch, W& watch, std::uint64_t at,
              std::string_view keyword) {
    if (inRange(index, table.size())) return table[static_cast<std::size_t>(index)];
    watch.outOfRange(at, keyword, index, table.size());
    return scratch;
}

// The bit of smoothing group n: groups 1 to 32 take bits 0 to 31, higher numbers wrap onto
// them; 0 (no group) takes none.
constexpr std::uint32_t groupBit(std::uint64_t n) {
    return n == 0 ? 0 : std::uint32_t{1} << ((n - 1) % 32);
}

// Adds the numbers at the start of `list`, apart by commas or blanks, to `groups`; false
// when a character of another kind ends the list.
bool readGroupList(std::string_view list, std::uint32_t& groups) {
    std::uint64_t n = 0;
    bool digits = false;
    bool ended = false;
    for (const char c : list) {
        if (c >= '0' && c <= '9') {
            n = std::min<std::uint64_t>(n * 10 + static_cast<std::uint64_t>(c - '0'), 1u << 30);
            digits = true;
        } else if (c == ',' || Scanner::isWhite(c)) {
            if (digits) groups |= groupBit(n);
            n = 0;
            digits = false;
        } else {
            ended = true;
            break;
        }
    }
    if (digits) groups |= groupBit(n);
    return !ended;
}

// The smoothing groups of a face: the comma-separated numbers after *MESH_SMOOTHING on the
// rest of its line, `line`; none when the keyword is not there.
std::uint32_t smoothingGroups(std::string_view line) {
    // the keyword as a token of its own: its star is looked for, then its bytes
    const char* const first = line.data();
    const char* const last = first + line.size();
    for (const char* p = first;; ++p) {
        p = static_cast<const char*>(std::memchr(p, '*', static_cast<std::size_t>(last - p)));
        if (!p) return 0;
        const char* after = p + kMeshSmoothing.size();
        if (after <= last && std::memcmp(p, kMeshSmoothing.data(), kMeshSmoothing.size()) == 0 &&
            (p == first || Scanner::isWhite(p[-1])) &&
            (after == last || Scanner::isWhite(*after))) {
            std::uint32_t groups = 0;
            readGroupList(std::string_view(after, static_cast<std::size_t>(last - after)), groups);
            return groups;
        }
    }
}

// The smoothing groups on the rest of the line of the face whose corners were just read.
// A line that ends within the look-ahead is read in place. A longer one is read token by
// token, never past its end nor past a *MESH_MTLID (which the search after the face takes):
// that search then goes on from a token's start and ends where it would have.
std::uint32_t readSmoothingGroups(Scanner& in) {
    const std::string_view rest = in.peekLine(Scanner::kMaxPeek);
    if (rest.size() < Scanner::kMaxPeek) return smoothingGroups(rest);
    std::uint32_t groups = 0;
    bool listing = false;  // the keyword came
    std::string_view token;
    while (in.skipBlanksInLine() && !in.nextTokenIs(kMeshMtlId) && in.nextToken(token)) {
        if (!listing) {
            listing = token == kMeshSmoothing;
        } else if (token.size() > Scanner::kMaxToken) {
            // a longer word comes back cut: its first bytes count, but for the number the
            // cut ends in
            std::string_view head = token.substr(0, Scanner::kMaxToken);
            while (!head.empty() && head.back() >= '0' && head.back() <= '9') head.remove_suffix(1);
            readGroupList(head, groups);
            break;
        } else if (!readGroupList(token, groups)) {
            break;
        }
    }
    return groups;
}

// Whether `text` holds `count` words apart by white space. Reads of numbers each skip white
// space and take characters of one word at most: `count` of them never pass the end of such
// a text.
bool wordsAtLeast(std::string_view text, int count) {
    bool inWord = false;
    for (const char c : text) {
        const bool white = Scanner::isWhite(c);
        if (!white && !inWord && --count == 0) return true;
        inWord = !white;
    }
    return false;
}

// With Repairs::fixNormals: the normals of one *GEOMOBJECT block (or of a scene without
// blocks) as they come. A block is in the corner layout when each *MESH_FACENORMAL is
// followed directly by *MESH_VERTEXNORMAL lines, which are then read as without the repair;
// otherwise its vertex normals are listed apart, each for the vertex its line names, and
// every face of the block takes its corners' normals from its vertices.
class BlockNormals {
  public:
    explicit BlockNormals(Table<Normal>& vertexNormals) : vertexNormals_(vertexNormals) {}

    void faceNormal(std::int32_t face, std::size_t faceCount, bool followedDirectly) {
        apart_ = apart_ || !followedDirectly;
        if (inRange(face, faceCount)) faces_.push_back(face);
    }
    // Every *MESH_VERTEXNORMAL line of the block, those read as corners included: in a
    // block found apart later, they too give their vertices' normals.
    void vertexNormal(std::int32_t vertex, const Normal& n) {
        if (!inRange(vertex, vertexNormals_.size())) return;
        vertexNormals_[static_cast<std::size_t>(vertex)] = n;
        // past as many lines as vertices, the whole table is cleared instead
        if (touched_.size() <= vertexNormals_.size()) touched_.push_back(vertex);
    }
    // The block ends: in the layout apart, its faces take their vertices' normals. The table
    // is cleared where this block wrote it, so that a later block starts from nothing.
    void blockEnded(Table<Face>& faces) {
        if (apart_) {
            for (const std::int32_t f : faces_) {
                Face& face = faces[static_cast<std::size_t>(f)];
                for (auto [vertex, normal] :
                     {std::pair{face.a, &face.normalA}, std::pair{face.b, &face.normalB},
                      std::pair{face.c, &face.normalC}}) {
                    if (inRange(vertex, vertexNormals_.size())) {
                        *normal = vertexNormals_[static_cast<std::size_t>(vertex)];
                    }
                }
            }
        }
        if (touched_.size() > vertexNormals_.size()) {
            std::fill(vertexNormals_.begin(), vertexNormals_.end(), Normal{});
        } else {
            for (const std::int32_t v : touched_) vertexNormals_[static_cast<std::size_t>(v)] = {};
        }
        faces_.clear();
        touched_.clear();
        apart_ = false;
    }

  private:
    Table<Normal>& vertexNormals_;
    Table<std::int32_t> faces_;    // faces whose *MESH_FACENORMAL came in this block
    Table<std::int32_t> touched_;  // vertices whose normal this block gave
    bool apart_ = false;
};

}  // namespace

template <class W, bool kFix>
void MeshConverter::readGeometryWith(W& watch) {
    Scanner& in = *input;
    in.rewind();
    constexpr bool fix = kFix;
    if (fix) {
        vertexNormals_.assign(vertices.size(), Normal{});
        smoothing_.assign(faces.size(), 0);
    }
    BlockNormals block(vertexNormals_);
    Vertex scratchVertex;
    TexVertex scratchTexVertex;
    Face scratchFace;
    std::string_view token;
    while (in.nextToken(token)) {
        std::int32_t index = 0;
        const std::uint64_t at = watch.start(in, token);
        if (token == kMeshVertex) {
            watch.acting(at, token);
            if (!watch.readInt(in, index, at, token, true)) continue;
            Vertex& v = entry(vertices, index, scratchVertex, watch, at, token);
            readConverted(in, v.x, v.y, v.z, watch, at, token);
            watch.given(ElementKind::kVertex, index, at);
        } else if (token == kMeshTVert) {
            watch.acting(at, token);
            if (!watch.readInt(in, index, at, token, true)) continue;
            TexVertex& t = entry(texVertices, index, scratchTexVertex, watch, at, token);
            if (watch.readFloat(in, t.u, at, token)) watch.readFloat(in, t.v, at, token);
            watch.given(ElementKind::kTVertex, index, at);
        } else if (token == kMeshFaceNormal) {
            watch.acting(at, token);
            faceNormalsSeen_ = true;
            if (!watch.readInt(in, index, at, token, true)) continue;
            Face& face = entry(faces, index, scratchFace, watch, at, token);
            readConverted(in, face.faceNormal.x, face.faceNormal.y, face.faceNormal.z, watch, at,
                          token);
            const bool direct = in.nextTokenIs(kMeshVertexNormal);
            if (!direct) losses_.normalsApart = true;
            watch.faceNormal(at, direct);
            if (fix) {
                block.faceNormal(index, faces.size(), direct);
                // listed apart, the vertex normals come to this loop one by one
                if (!direct) continue;
            }
            // the three vertex normals that follow belong to corners a, b, c in their order
            for (Normal* n : {&face.normalA, &face.normalB, &face.normalC}) {
                if (!in.findToken(kMeshVertexNormal)) break;
                const std::uint64_t normalAt = watch.start(in, kMeshVertexNormal);
                std::int32_t vertexIndex = 0;
                const bool indexRead = watch.readInt(in, vertexIndex, normalAt, kMeshVertexNormal);
                readConverted(in, n->x, n->y, n->z, watch, normalAt, kMeshVertexNormal);
                if (fix && indexRead) block.vertexNormal(vertexIndex, *n);
            }
        } else if (fix && token == kMeshVertexNormal) {
            // Without the repair this line is skipped, and the input goes on where that skip
            // ends: the normal is read only when its four numbers can stand before the end of
            // a line short enough for the skip, whose rest is then skipped.
            watch.acting(at, token);
            const std::string_view rest = in.peekLine(Scanner::kMaxSkip);
            if (rest.size() < Scanner::kMaxSkip && wordsAtLeast(rest, 4) &&
                watch.readInt(in, index, at, token, true)) {
                Normal n;
                readConverted(in, n.x, n.y, n.z, watch, at, token);
                block.vertexNormal(index, n);
            }
            watch.skipLine(in);
        } else if (token == kMeshFace) {
            watch.acting(at, token);
            if (!watch.readInt(in, index, at, token, true, ':')) continue;
            in.literal(':');
            Face& face = entry(faces, index, scratchFace, watch, at, token);
            if (readCorner(in, 'A', face.a, watch, at) && readCorner(in, 'B', face.b, watch, at)) {
                readCorner(in, 'C', face.c, watch, at);
            }
            watch.corners(at, token, index, face.a, face.b, face.c, faces.size(), vertices.size());
            // the repair of normals reads the smoothing groups on the rest of the line
            if (fix && inRange(index, smoothing_.size())) {
                smoothing_[static_cast<std::size_t>(index)] = readSmoothingGroups(in);
            }
            // edge flags and smoothing groups are passed over, across lines if need be
            if (watch.findAfterFace(in, kMeshMtlId, at, index) &&
                watch.readInt(in, face.mtlId, at, kMeshMtlId, false, ':')) {
                in.literal(':');
            }
            watch.given(ElementKind::kFace, index, at);
        } else if (token == kMeshTFace) {
            watch.acting(at, token);
            if (!watch.readInt(in, index, at, token, true)) continue;
            Face& face = entry(faces, index, scratchFace, watch, at, token);
            if (watch.readInt(in, face.ta, at, token) && watch.readInt(in, face.tb, at, token)) {
                watch.readInt(in, face.tc, at, token);
            }
            watch.corners(at, token, index, face.ta, face.tb, face.tc, faces.size(),
                          texVertices.size());
            watch.given(ElementKind::kTFace, index, at);
        } else {
            // each mesh block's normals are laid out on their own
            if (fix && token == kGeomObject) block.blockEnded(faces);
            watch.skipLine(in);
        }
    }
    if (fix) block.blockEnded(faces);
    watch.geometryRead(*this);
}

void MeshConverter::readGeometry() {
    const bool fix = repairs_.fixNormals;
    if (watch_) {
        return fix ? readGeometryWith<Watch, true>(*watch_)
                   : readGeometryWith<Watch, false>(*watch_);
    }
    Unwatched plain;
    fix ? readGeometryWith<Unwatched, true>(plain) : readGeometryWith<Unwatched, false>(plain);
}

}  // namespace tessloom
