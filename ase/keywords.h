// The keywords each reading pass acts on, and the filters made from them that let a pass
// skip in bulk the lines whose first token cannot be one of its keywords.
#pragma once

#include <string_view>

#include "prefilter.h"

namespace tessloom {

// The material pass's keywords. The count pass knows them too: where the last of them
// stands tells the material pass where it may stop.
namespace materialKeywords {

inline constexpr std::string_view kMaterial = "*MATERIAL";
inline constexpr std::string_view kNumSubMtls = "*NUMSUBMTLS";
inline constexpr std::string_view kSubMaterial = "*SUBMATERIAL";
inline constexpr std::string_view kMaterialAmbient = "*MATERIAL_AMBIENT";
inline constexpr std::string_view kMaterialDiffuse = "*MATERIAL_DIFFUSE";
inline constexpr std::string_view kMaterialSpecular = "*MATERIAL_SPECULAR";
inline constexpr std::string_view kMaterialShine = "*MATERIAL_SHINE";
inline constexpr std::string_view kBitmap = "*BITMAP";
inline constexpr std::string_view kUvwUTiling = "*UVW_U_TILING";
inline constexpr std::string_view kUvwVTiling = "*UVW_V_TILING";
inline constexpr std::string_view kUvwUOffset = "*UVW_U_OFFSET";
inline constexpr std::string_view kUvwVOffset = "*UVW_V_OFFSET";
inline constexpr std::string_view kMapClass = "*MAP_CLASS";

// All of them, for the pass that only needs to know whether a token is one.
inline constexpr std::string_view kAll[] = {
    kMaterial,         kNumSubMtls,    kSubMaterial, kMaterialAmbient, kMaterialDiffuse,
    kMaterialSpecular, kMaterialShine, kBitmap,      kUvwUTiling,      kUvwVTiling,
    kUvwUOffset,       kUvwVOffset,    kMapClass};

// True when `token` is one of the keywords above, which the material pass acts on.
inline bool isMaterialKeyword(std::string_view token) {
    for (std::string_view keyword : kAll) {
        if (token == keyword) return true;
    }
    return false;
}

// Keys of seven bytes, as many as *BITMAP has: *MATERI, *NUMSUB, *SUBMAT, *BITMAP, *UVW_U_,
// *UVW_V_, *MAP_CL.
inline constexpr Prefilter kMayMatter({kAll}, 0, 7);
static_assert(passesAll(kMayMatter, {kAll}));

}  // namespace materialKeywords

// The count pass's keywords: the element counts and the material reference.
namespace countKeywords {

inline constexpr std::string_view kMeshNumVertex = "*MESH_NUMVERTEX";
inline constexpr std::string_view kMeshNumFaces = "*MESH_NUMFACES";
inline constexpr std::string_view kMeshNumTVertex = "*MESH_NUMTVERTEX";
inline constexpr std::string_view kMeshNumTVFaces = "*MESH_NUMTVFACES";
inline constexpr std::string_view kMaterialCount = "*MATERIAL_COUNT";
inline constexpr std::string_view kMaterialRef = "*MATERIAL_REF";

inline constexpr std::string_view kAll[] = {kMeshNumVertex,  kMeshNumFaces,  kMeshNumTVertex,
                                            kMeshNumTVFaces, kMaterialCount, kMaterialRef};

// The count pass also notes where the material keywords stand, so the lines it may not skip
// are those of both tables; seven bytes again, for *BITMAP. Geometry lines, most of a scene,
// are "*MESH_" and a letter other than N.
inline constexpr Prefilter kMayMatter({kAll, materialKeywords::kAll}, 0, 7);
static_assert(passesAll(kMayMatter, {kAll, materialKeywords::kAll}));

}  // namespace countKeywords

// The geometry pass's keywords.
namespace geometryKeywords {

inline constexpr std::string_view kMeshVertex = "*MESH_VERTEX";
inline constexpr std::string_view kMeshTVert = "*MESH_TVERT";
inline constexpr std::string_view kMeshFaceNormal = "*MESH_FACENORMAL";
inline constexpr std::string_view kMeshVertexNormal = "*MESH_VERTEXNORMAL";
inline constexpr std::string_view kMeshFace = "*MESH_FACE";
inline constexpr std::string_view kMeshMtlId = "*MESH_MTLID";
inline constexpr std::string_view kMeshTFace = "*MESH_TFACE";
// Read only by the repair of normals: a face's smoothing groups, on its *MESH_FACE line.
inline constexpr std::string_view kMeshSmoothing = "*MESH_SMOOTHING";

// Those that start a line (*MESH_MTLID stands inside a face's line).
inline constexpr std::string_view kLineStarts[] = {kMeshVertex,       kMeshTVert, kMeshFaceNormal,
                                                   kMeshVertexNormal, kMeshFace,  kMeshTFace};

// Keys from byte 3 to 9, as far as *MESH_FACE goes: SH_VERT, SH_TVER, SH_FACE, SH_TFAC; byte
// 10 then keeps out *MESH_VERTCOL, whose lines come in runs as long as the vertices'. "*ME"
// goes unchecked: the other lines this pass skips are animation samples and colour faces.
inline constexpr Prefilter kMayMatter({kLineStarts}, 3, 7);
static_assert(passesAll(kMayMatter, {kLineStarts}));

}  // namespace geometryKeywords

}  // namespace tessloom
