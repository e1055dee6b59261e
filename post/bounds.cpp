// Bounding radius and box of the converted vertices.
#include "ase/scene.h"
#include "meshfile/format.h"

namespace tessloom {

// Every bound starts at 0, so the box always holds the origin and an empty mesh gives
// seven zeros.
void MeshConverter::computeBounds() {
    meshfile::Bounds b;
    for (const Vertex& v : vertices) meshfile::extendBounds(b, {v.x, v.y, v.z});
    radius = b.radius;
    minX = b.minX;
    maxX = b.maxX;
    minY = b.minY;
    maxY = b.maxY;
    minZ = b.minZ;
    maxZ = b.maxZ;
}

}  // namespace tessloom
