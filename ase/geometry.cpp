// The geometry pass: vertices, texture vertices, faces and normals, in the output's axes.
#include <cstring>
#include <string_view>

#include "ase/scanner.h"
#include "ase/scene.h"

namespace tessloom {

namespace {

constexpr std::string_view kMeshVertex = "*MESH_VERTEX";
constexpr std::string_view kMeshTVert = "*MESH_TVERT";
constexpr std::string_view kMeshFaceNormal = "*MESH_FACENORMAL";
constexpr std::string_view kMeshVertexNormal = "*MESH_VERTEXNORMAL";
constexpr std::string_view kMeshFace = "*MESH_FACE";
constexpr std::string_view kMeshMtlId = "*MESH_MTLID";
constexpr std::string_view kMeshTFace = "*MESH_TFACE";

// True for every keyword above: "*MESH_" and VERTEX..., TVERT, TFACE, FACE... Most lines
// this pass skips are animation samples, colour faces and vertex colours.
bool mayBeGeometry(const char* t) {
    if (std::memcmp(t, "*MESH_", 6) != 0) return false;
    switch (t[6]) {
        case 'V':
            return t[10] == 'E';  // not *MESH_VERTCOL
        case 'T':
            return t[7] == 'V' || t[7] == 'F';
        case 'F':
            return true;
        default:
            return false;
    }
}

// "%f %f %f" into x, z, y, then z negated: the input's p, q, r become p, r, -q. The flip
// happens even when a number was unreadable.
void readConverted(Scanner& in, float& x, float& y, float& z) {
    if (in.readFloat(x) && in.readFloat(z)) in.readFloat(y);
    z = -z;
}

// One corner of "\tA:\t%d B:\t%d C:\t%d".
[[gnu::always_inline]] inline bool readCorner(Scanner& in, char label, std::int32_t& out) {
    in.skipWhite();
    return in.literal(label) && in.literal(':') && in.readInt(out);
}

// Where an element's values go: its table entry, or scratch when the index names none, so
// that the reads still happen and the input advances as it would for a valid index.
template <class Record>
Record& entry(Table<Record>& table, std::int32_t index, Record& scratch) {
    return inRange(index, table.size()) ? table[static_cast<std::size_t>(index)] : scratch;
}

}  // namespace

void MeshConverter::readGeometry() {
    Scanner& in = *input;
    in.rewind();
    Vertex scratchVertex;
    TexVertex scratchTexVertex;
    Face scratchFace;
    std::string_view token;
    while (in.nextToken(token)) {
        std::int32_t index = 0;
        if (token == kMeshVertex) {
            if (!in.readInt(index)) continue;
            Vertex& v = entry(vertices, index, scratchVertex);
            readConverted(in, v.x, v.y, v.z);
        } else if (token == kMeshTVert) {
            if (!in.readInt(index)) continue;
            TexVertex& t = entry(texVertices, index, scratchTexVertex);
            if (in.readFloat(t.u)) in.readFloat(t.v);
        } else if (token == kMeshFaceNormal) {
            if (!in.readInt(index)) continue;
            Face& face = entry(faces, index, scratchFace);
            readConverted(in, face.faceNormal.x, face.faceNormal.y, face.faceNormal.z);
            // the three vertex normals that follow belong to corners a, b, c in their order
            for (Normal* n : {&face.normalA, &face.normalB, &face.normalC}) {
                if (!in.findToken(kMeshVertexNormal)) break;
                std::int32_t vertexIndex = 0;
                in.readInt(vertexIndex);
                readConverted(in, n->x, n->y, n->z);
            }
        } else if (token == kMeshFace) {
            if (!in.readInt(index)) continue;
            in.literal(':');
            Face& face = entry(faces, index, scratchFace);
            if (readCorner(in, 'A', face.a) && readCorner(in, 'B', face.b)) {
                readCorner(in, 'C', face.c);
            }
            // edge flags and smoothing groups are passed over, across lines if need be
            if (in.findToken(kMeshMtlId) && in.readInt(face.mtlId)) in.literal(':');
        } else if (token == kMeshTFace) {
            if (!in.readInt(index)) continue;
            Face& face = entry(faces, index, scratchFace);
            if (in.readInt(face.ta) && in.readInt(face.tb)) in.readInt(face.tc);
        } else {
            // lines this pass skips come in runs: the rest of the run goes in bulk
            in.skipLine();
            in.skipPlainLines(mayBeGeometry);
        }
    }
}

}  // namespace tessloom
