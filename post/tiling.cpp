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
    for (std::size_t f = 0; f < faceLimit; ++f) {
        const Face& face = faces[f];
        float uTiling = material->uTiling;
        float vTiling = material->vTiling;
        if (material->subCount > 0) {
            // truncating remainder: a negative mtlId names no sub-material
            const std::int32_t s = face.mtlId % material->subCount;
            if (!inRange(s, material->subMaterials.size())) continue;
            const SubMaterial& sub = material->subMaterials[static_cast<std::size_t>(s)];
            uTiling = sub.uTiling;
            vTiling = sub.vTiling;
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
            watch.scaled(t, f, uTiling, vTiling);
        }
    }
}

void MeshConverter::applyTiling() {
    if (watch_) return applyTilingWith(*watch_);
    Unwatched plain;
    applyTilingWith(plain);
}

}  // namespace tessloom
