// The keywords the material pass reads. The count pass knows them too: where the last of
// them stands tells the material pass where it may stop.
#pragma once

#include <cstddef>
#include <string_view>

namespace tessloom::materialKeywords {

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

// True when `filter` holds for every keyword in `keywords`, each given as it starts a line's
// first token; a filter reading past a keyword's end fails to compile.
template <class Filter, std::size_t N>
constexpr bool holdsForAll(Filter filter, const std::string_view (&keywords)[N]) {
    for (std::string_view keyword : keywords) {
        if (!filter(keyword.data())) return false;
    }
    return true;
}

// True for every keyword above, by the two letters after the asterisk; `t` has at least
// three readable bytes.
constexpr bool mayBeMaterial(const char* t) {
    if (t[0] != '*') return false;
    switch (t[1]) {
        case 'M':
            return t[2] == 'A';  // *MATERIAL..., *MAP_CLASS
        case 'S':
        case 'N':
            return t[2] == 'U';  // *SUBMATERIAL, *NUMSUBMTLS
        case 'B':
            return t[2] == 'I';
        case 'U':
            return t[2] == 'V';
        default:
            return false;
    }
}

// True when `token` is one of the keywords above, which the material pass acts on.
inline bool isMaterialKeyword(std::string_view token) {
    for (std::string_view keyword : kAll) {
        if (token == keyword) return true;
    }
    return false;
}

static_assert(holdsForAll(mayBeMaterial, kAll));

}  // namespace tessloom::materialKeywords
