// Bounding radius and box of the converted vertices.
#include <cmath>

#include "ase/scene.h"

namespace tessloom {

// Every bound starts at 0, so the box always holds the origin and an empty mesh gives
// seven zeros.
void MeshConverter::computeBounds() {
    radius = minX = maxX = minY = maxY = minZ = maxZ = 0.0f;
    for (const Vertex& v : vertices) {
        if (v.x > maxX) maxX = v.x;
        if (v.x < minX) minX = v.x;
        if (v.y > maxY) maxY = v.y;
        if (v.y < minY) minY = v.y;
        if (v.z > maxZ) maxZ = v.z;
        if (v.z < minZ) minZ = v.z;
        const double x = v.x, y = v.y, z = v.z;
        const double distance = std::sqrt(x * x + y * y + z * z);
        if (distance > radius) radius = static_cast<float>(distance);
    }
}

}  // namespace tessloom
