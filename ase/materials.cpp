// The material pass: materials, one level of sub-materials, and their map properties.
#include <string>
#include <string_view>

#include "ase/scanner.h"
#include "ase/scene.h"

namespace tessloom {

namespace {

constexpr std::string_view kMaterial = "*MATERIAL";
constexpr std::string_view kNumSubMtls = "*NUMSUBMTLS";
constexpr std::string_view kSubMaterial = "*SUBMATERIAL";
constexpr std::string_view kMaterialAmbient = "*MATERIAL_AMBIENT";
constexpr std::string_view kMaterialDiffuse = "*MATERIAL_DIFFUSE";
constexpr std::string_view kMaterialSpecular = "*MATERIAL_SPECULAR";
constexpr std::string_view kMaterialShine = "*MATERIAL_SHINE";
constexpr std::string_view kBitmap = "*BITMAP";
constexpr std::string_view kUvwUTiling = "*UVW_U_TILING";
constexpr std::string_view kUvwVTiling = "*UVW_V_TILING";
constexpr std::string_view kUvwUOffset = "*UVW_U_OFFSET";
constexpr std::string_view kUvwVOffset = "*UVW_V_OFFSET";
constexpr std::string_view kMapClass = "*MAP_CLASS";
// The class token with its quotes, as the exporters write it.
constexpr std::string_view kReflectRefractClass = "\"Reflect/Refract\"";

// True for every keyword above, by the two letters after the asterisk.
bool mayBeMaterial(const char* t) {
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

void readColor(Scanner& in, Color& color) {
    if (in.readFloat(color.r) && in.readFloat(color.g)) in.readFloat(color.b);
}

// Reads the values of a property keyword into `target`; false when `token` is none.
template <class Record>
bool readProperty(Scanner& in, std::string_view token, Record& target, std::string& word) {
    if (token == kMaterialAmbient) {
        readColor(in, target.ambient);
    } else if (token == kMaterialDiffuse) {
        readColor(in, target.diffuse);
    } else if (token == kMaterialSpecular) {
        readColor(in, target.specular);
    } else if (token == kMaterialShine) {
        in.readFloat(target.shine);
    } else if (token == kBitmap) {
        in.skipWhite();
        // the token normally ends with the closing quote; its last character goes either way
        if (in.literal('"') && in.readWord(word)) {
            word.pop_back();
            target.name = baseName(word);
            target.hasBitmap = 1;
        }
    } else if (token == kUvwUTiling) {
        in.readFloat(target.uTiling);
    } else if (token == kUvwVTiling) {
        in.readFloat(target.vTiling);
    } else if (token == kUvwUOffset) {
        in.readFloat(target.uOffset);
    } else if (token == kUvwVOffset) {
        in.readFloat(target.vOffset);
    } else if (token == kMapClass) {
        if (in.readWord(word) && word == kReflectRefractClass) target.reflectRefract = 1;
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string baseName(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void MeshConverter::readMaterials() {
    Scanner& in = *input;
    in.rewind();
    std::int32_t currentMaterial = 0;
    std::int32_t currentSub = 0;
    bool subMode = false;
    SubMaterial scratch;         // takes the values of properties that name no entry
    std::uint64_t subTotal = 0;  // entries in all the sub-material tables
    std::string word;
    std::string_view token;
    for (;;) {
        in.skipPlainLines(mayBeMaterial);
        if (!in.nextToken(token)) break;
        if (token.starts_with("*MESH_")) {
            in.skipLine();  // geometry, most of the lines: no material keyword starts so
            continue;
        }
        Material* material = inRange(currentMaterial, materials.size())
                                 ? &materials[static_cast<std::size_t>(currentMaterial)]
                                 : nullptr;
        if (token == kMaterial) {
            in.readInt(currentMaterial);
            subMode = false;
        } else if (token == kSubMaterial) {
            in.readInt(currentSub);
            subMode = true;
        } else if (token == kNumSubMtls) {
            std::int32_t count = 0;
            // a nested multi-material would replace the table being filled: it is passed over
            if (in.readInt(count) && count >= 0 && material && !subMode) {
                // bounded together, since every material may make a table
                subTotal -= material->subMaterials.size();
                requireCount("*NUMSUBMTLS", count, subTotal);
                material->subMaterials.assign(static_cast<std::size_t>(count), SubMaterial{});
                material->subCount = count;
                subTotal += material->subMaterials.size();
            }
        } else {
            bool known = false;
            if (material && !subMode) {
                known = readProperty(in, token, *material, word);
            } else if (material && inRange(currentSub, material->subMaterials.size())) {
                known = readProperty(
                    in, token, material->subMaterials[static_cast<std::size_t>(currentSub)], word);
            } else {
                known = readProperty(in, token, scratch, word);
            }
            if (!known) in.skipLine();
        }
    }
}

}  // namespace tessloom
