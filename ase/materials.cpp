// The material pass: materials, one level of sub-materials, and their map properties.
#include <string>
#include <string_view>

#include "ase/material_keywords.h"
#include "ase/scanner.h"
#include "ase/scene.h"

namespace tessloom {

namespace {

using namespace materialKeywords;

// The class token with its quotes, as the exporters write it.
constexpr std::string_view kReflectRefractClass = "\"Reflect/Refract\"";

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
    // Past the line that holds the last token this pass acts on, it stops at a line's end
    // (see readCounts): what follows would all be skipped.
    auto done = [&](bool atLineStart) { return atLineStart && in.offset() > materialsEnd_; };
    for (;;) {
        if (done(in.skipPlainLines(mayBeMaterial, materialsEnd_))) break;
        if (!in.nextToken(token)) break;
        if (token.starts_with("*MESH_")) {
            // geometry, most of the lines: no material keyword starts so
            if (done(in.skipLine())) break;
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
            if (!known && done(in.skipLine())) break;
        }
    }
}

}  // namespace tessloom
