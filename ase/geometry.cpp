// The geometry pass: vertices, texture vertices, faces and normals, in the output's axes.
#include <string_view>

#include "ase/keywords.h"
#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"

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

}  // namespace

template <class W>
void MeshConverter::readGeometryWith(W& watch) {
    Scanner& in = *input;
    in.rewind();
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
            if (!watch.readInt(in, index, at, token, true)) continue;
            Face& face = entry(faces, index, scratchFace, watch, at, token);
            readConverted(in, face.faceNormal.x, face.faceNormal.y, face.faceNormal.z, watch, at,
                          token);
            // the three vertex normals that follow belong to corners a, b, c in their order
            for (Normal* n : {&face.normalA, &face.normalB, &face.normalC}) {
                if (!in.findToken(kMeshVertexNormal)) break;
                const std::uint64_t normalAt = watch.start(in, kMeshVertexNormal);
                std::int32_t vertexIndex = 0;
                watch.readInt(in, vertexIndex, normalAt, kMeshVertexNormal);
                readConverted(in, n->x, n->y, n->z, watch, normalAt, kMeshVertexNormal);
            }
        } else if (token == kMeshFace) {
            watch.acting(at, token);
            if (!watch.readInt(in, index, at, token, true, ':')) continue;
            in.literal(':');
            Face& face = entry(faces, index, scratchFace, watch, at, token);
            if (readCorner(in, 'A', face.a, watch, at) && readCorner(in, 'B', face.b, watch, at)) {
                readCorner(in, 'C', face.c, watch, at);
            }
            watch.corners(at, token, index, face.a, face.b, face.c, faces.size(), vertices.size());
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
            // lines this pass skips come in runs: the rest of the run goes in bulk
            watch.skipLine(in);
            watch.skipInBulk(in, [&] { return in.skipPlainLines(kMayMatter); });
        }
    }
    watch.geometryRead(*this);
}

void MeshConverter::readGeometry() {
    if (watch_) return readGeometryWith(*watch_);
    Unwatched plain;
    readGeometryWith(plain);
}

}  // namespace tessloom
