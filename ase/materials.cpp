// The material pass: materials, one level of sub-materials, and their map properties.
#include <algorithm>
#include <string>
#include <string_view>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"
#include "keywords.h"

namespace tessloom {

namespace {

using namespace materialKeywords;

// The class token with its quotes, as the exporters write it.
constexpr std::string_view kReflectRefractClass = "\"Reflect/Refract\"";

template <class W>
void readColor(Scanner& in, Color& color, W& watch, std::uint64_t at, std::string_view keyword) {
    if (watch.readFloat(in, color.r, at, keyword) && watch.readFloat(in, color.g, at, keyword)) {
        watch.readFloat(in, color.b, at, keyword);
    }
}

// Reads the values of a property keyword into `target`; false when `token` is none.
template <class Record, class W>
bool readProperty(Scanner& in, std::string_view token, Record& target, std::string& word,
                  W& watch) {
    const std::uint64_t at = watch.start(in, token);
    auto readFloat = [&](float& out) { watch.readFloat(in, out, at, token); };
    if (token == kMaterialAmbient) {
        readColor(in, target.ambient, watch, at, token);
    } else if (token == kMaterialDiffuse) {
        readColor(in, target.diffuse, watch, at, token);
    } else if (token == kMaterialSpecular) {
        readColor(in, target.specular, watch, at, token);
    } else if (token == kMaterialShine) {
        readFloat(target.shine);
    } else if (token == kBitmap) {
        in.skipWhite();
        // the token normally ends with the closing quote; its last character goes either way
        if (in.literal('"') && in.readWord(word)) {
            word.pop_back();
            target.name = baseName(word);
            target.hasBitmap = 1;
        }
    } else if (token == kUvwUTiling) {
        if (watch.readFloat(in, target.uTiling, at, token)) target.uTilingGiven = true;
    } else if (token == kUvwVTiling) {
        if (watch.readFloat(in, target.vTiling, at, token)) target.vTilingGiven = true;
    } else if (token == kUvwUOffset) {
        readFloat(target.uOffset);
    } else if (token == kUvwVOffset) {
        readFloat(target.vOffset);
    } else if (token == kMapClass) {
        if (in.readWord(word) && word == kReflectRefractClass) target.reflectRefract = 1;
    } else {
        return false;
    }
    watch.acting(at, token);
    return true;
}

}  // namespace

std::string baseName(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

template <class W>
void MeshConverter::readMaterialsWith(W& watch) {
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
    while (in.nextToken(token)) {
        if (token.starts_with("*MESH_")) {
            // geometry, most of the lines: no material keyword starts so
            if (done(watch.skipLine(in))) break;
            continue;
        }
        Material* material = inRange(currentMaterial, materials.size())
                                 ? &materials[static_cast<std::size_t>(currentMaterial)]
                                 : nullptr;
        const std::uint64_t at = watch.start(in, token);
        if (token == kMaterial) {
            watch.acting(at, token);
            watch.readInt(in, currentMaterial, at, token);
            subMode = false;
            watch.entryLine(currentMaterial, -1, at);
        } else if (token == kSubMaterial) {
            watch.acting(at, token);
            watch.readInt(in, currentSub, at, token);
            subMode = true;
            if (material && inRange(currentSub, material->subMaterials.size())) {
                watch.entryLine(currentMaterial, currentSub, at);
            }
        } else if (token == kNumSubMtls) {
            watch.acting(at, token);
            std::int32_t count = 0;
            if (watch.readInt(in, count, at, token) && count >= 0 && material) {
                if (subMode) {
                    // a nested multi-material would replace the table being filled
                    watch.nestedSubMaterials(at, count);
                } else {
                    // bounded together, since every material may make a table
                    subTotal -= material->subMaterials.size();
                    if (std::string problem = countProblem("*NUMSUBMTLS", count, subTotal);
                        !problem.empty()) {
                        watch.countRejected(at, token, count,
                                            inputBytes_ - std::min(subTotal, inputBytes_));
                        throw Rejected(problem);
                    }
                    SubMaterial start;
                    start.uTiling = start.vTiling = tilingStart(repairs_);
                    material->subMaterials.assign(static_cast<std::size_t>(count), start);
                    material->subCount = count;
                    subTotal += material->subMaterials.size();
                }
            }
        } else {
            bool known = false;
            if (material && !subMode) {
                known = readProperty(in, token, *material, word, watch);
            } else if (material && inRange(currentSub, material->subMaterials.size())) {
                known = readProperty(in, token,
                                     material->subMaterials[static_cast<std::size_t>(currentSub)],
                                     word, watch);
            } else {
                known = readProperty(in, token, scratch, word, watch);
            }
            if (!known && done(watch.skipLine(in))) break;
        }
    }
}

void MeshConverter::readMaterials() {
    if (watch_) return readMaterialsWith(*watch_);
    Unwatched plain;
    readMaterialsWith(plain);
}

}  // namespace tessloom
