// Bakes each material's UV tiling into the texture vertices its faces use.
#include <algorithm>
#include <vector>

#include "ase/scene.h"

namespace tessloom {

void MeshConverter::applyTiling() {
    const Material* material = referencedMaterial();
    if (!material) return;
    // a texture vertex takes the tiling of the first face, in face order, that uses it
    std::vector<std::uint8_t> seen(texVertices.size(), 0);
    const std::size_t faceLimit =
        std::min(faces.size(), static_cast<std::size_t>(std::max(numTVFaces, 0)));
    for (std::size_t f = 0; f < faceLimit; ++f) {
        const Face& face = faces[f];
        for (std::int32_t t : {face.ta, face.tb, face.tc}) {
            if (!inRange(t, texVertices.size()) || seen[static_cast<std::size_t>(t)]) continue;
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
            TexVertex& tv = texVertices[static_cast<std::size_t>(t)];
            tv.u *= uTiling;
            tv.v *= vTiling;
            seen[static_cast<std::size_t>(t)] = 1;
        }
    }
}

}  // namespace tessloom
