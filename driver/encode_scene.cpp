// The converter's tables as the records of a mesh file.
#include "driver/encode_scene.h"

#include <ranges>

namespace tessloom {

namespace {

template <class Record>
meshfile::MaterialEntry fieldsOf(const Record& m) {
    meshfile::MaterialEntry e;
    for (int i = 0; i < 3; ++i) {
        const Color& c = i == 0 ? m.ambient : i == 1 ? m.diffuse : m.specular;
        float* to = i == 0 ? e.ambient : i == 1 ? e.diffuse : e.specular;
        to[0] = c.r;
        to[1] = c.g;
        to[2] = c.b;
    }
    e.shine = m.shine;
    e.uTiling = m.uTiling;
    e.vTiling = m.vTiling;
    e.uOffset = m.uOffset;
    e.vOffset = m.vOffset;
    e.reflectRefract = m.reflectRefract;
    e.hasBitmap = m.hasBitmap;
    e.name = m.name;
    return e;
}

meshfile::Position positionOf(const Normal& n) {
    return {n.x, n.y, n.z};
}

// Calls use(records) with views over the converter's tables.
template <class Use>
auto withRecords(const MeshConverter& mesh, Use use) {
    const Material* material = mesh.referencedMaterial();
    // the entries: a material's sub-materials, or the material itself
    const std::size_t entryCount = !material                 ? 0
                                   : material->subCount != 0 ? material->subMaterials.size()
                                                             : 1;
    const auto entries = std::views::iota(std::size_t{0}, entryCount) |
                         std::views::transform([material](std::size_t i) {
                             return material->subCount != 0 ? entryOf(material->subMaterials[i])
                                                            : entryOf(*material);
                         });
    const auto vertices = mesh.vertices | std::views::transform([](const Vertex& v) {
                              return meshfile::Position{v.x, v.y, v.z};
                          });
    const auto texVertices = mesh.texVertices | std::views::transform([](const TexVertex& t) {
                                 return meshfile::TexCoord{t.u, t.v};
                             });
    // The material index a face carries: -1 without materials, the sub-material by the
    // truncating remainder (so with the sign of mtlId), or else materialRef itself.
    const std::int32_t subCount = material ? material->subCount : 0;
    const std::int32_t fixedIndex = !material ? -1 : mesh.materialRef;
    const auto faces =
        mesh.faces | std::views::transform([subCount, fixedIndex](const Face& f) {
            return meshfile::FaceRecord{subCount != 0 ? f.mtlId % subCount : fixedIndex,
                                        f.a,
                                        f.b,
                                        f.c,
                                        f.ta,
                                        f.tb,
                                        f.tc,
                                        positionOf(f.faceNormal),
                                        positionOf(f.normalA),
                                        positionOf(f.normalB),
                                        positionOf(f.normalC)};
        });
    const meshfile::Bounds bounds{mesh.radius, mesh.minX, mesh.maxX, mesh.minY,
                                  mesh.maxY,   mesh.minZ, mesh.maxZ};
    return use(meshfile::Records{
        material ? meshfile::Layout::kWithMaterials : meshfile::Layout::kWithoutMaterials, entries,
        vertices, texVertices, faces, bounds});
}

}  // namespace

meshfile::MaterialEntry entryOf(const Material& m) {
    return fieldsOf(m);
}

meshfile::MaterialEntry entryOf(const SubMaterial& m) {
    return fieldsOf(m);
}

std::uint64_t meshFileSize(const MeshConverter& mesh) {
    return withRecords(mesh, [](const auto& records) { return meshfile::encodedSize(records); });
}

void encodeMeshFile(const MeshConverter& mesh, OutBuffer& out) {
    withRecords(mesh, [&](const auto& records) { meshfile::encodeRecords(records, out); });
}

std::vector<std::uint8_t> encodeMeshFile(const MeshConverter& mesh) {
    return withRecords(mesh, [](const auto& records) { return meshfile::encodeRecords(records); });
}

}  // namespace tessloom
