// Bakes each material's UV tiling into the texture vertices its faces use.
#include <algorithm>
#include <vector>

#include "ase/scene.h"
#include "ase/watch.h"

namespace tessloom {

template <class W>
void MeshConverter::applyTilingWith(W& watch) {
    const Material* material = referencedMaterial();
    if (!material) return;
    // a texture vertex takes the tiling of the first face, in face order, that uses it
    std::vector<std::uint8_t> seen(texVertices.size(), 0);
    const std::size_t faceLimit =
        std::min(faces.size(), static_cast<std::size_t>(std::max(numTVFaces, 0)));
    // Per entry, the texture vertices scaled by one that gives no U or V tiling: its start
    // value 0 loses them. Kept texture coordinates start at 1 and lose nothing.
    const bool counting = !repairs_.keepUv;
    std::vector<std::uint64_t> untiled(
        counting ? std::max<std::size_t>(material->subMaterials.size(), 1) : 0);
    for (std::size_t f = 0; f < faceLimit; ++f) {
        const Face& face = faces[f];
        float uTiling = material->uTiling;
        float vTiling = material->vTiling;
        bool given = material->uTilingGiven && material->vTilingGiven;
        std::size_t entry = 0;
        if (material->subCount > 0) {
            // truncating remainder: a negative mtlId names no sub-material
            const std::int32_t s = face.mtlId % material->subCount;
            if (!inRange(s, material->subMaterials.size())) continue;
            entry = static_cast<std::size_t>(s);
            const SubMaterial& sub = material->subMaterials[entry];
            uTiling = sub.uTiling;
            vTiling = sub.vTiling;
            given = sub.uTilingGiven && sub.vTilingGiven;
        }
        for (std::int32_t t : {face.ta, face.tb, face.tc}) {
            if (!inRange(t, texVertices.size())) continue;
            if (seen[static_cast<std::size_t>(t)]) {
                watch.reused(t, f, uTiling, vTiling);
                continue;
            }
            TexVertex& tv = texVertices[static_cast<std::size_t>(t)];
            tv.u *= uTiling;
            tv.v *= vTiling;
            seen[static_cast<std::size_t>(t)] = 1;
            if (counting && !given) ++untiled[entry];
            watch.scaled(t, f, uTiling, vTiling);
        }
    }
    for (std::size_t e = 0; e < untiled.size(); ++e) {
        if (untiled[e] == 0) continue;
        const std::int32_t sub = material->subCount > 0 ? static_cast<std::int32_t>(e) : -1;
        losses_.untiledEntries.emplace(materialRef, sub);
        losses_.untiledCoordinates += untiled[e];
        watch.untiled(sub, untiled[e]);
    }
}

void MeshConverter::applyTiling() {
    if (watch_) return applyTilingWith(*watch_);
    Unwatched plain;
    applyTilingWith(plain);
}

}  // namespace tessloom
