// The keywords each reading pass acts on.
#pragma once

#include <string_view>

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

}  // namespace materialKeywords

// The count pass's keywords: the element counts and the material reference.
namespace countKeywords {

inline constexpr std::string_view kMeshNumVertex = "*MESH_NUMVERTEX";
inline constexpr std::string_view kMeshNumFaces = "*MESH_NUMFACES";
inline constexpr std::string_view kMeshNumTVertex = "*MESH_NUMTVERTEX";
inline constexpr std::string_view kMeshNumTVFaces = "*MESH_NUMTVFACES";
inline constexpr std::string_view kMaterialCount = "*MATERIAL_COUNT";
inline constexpr std::string_view kMaterialRef = "*MATERIAL_REF";

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

}  // namespace geometryKeywords

}  // namespace tessloom
