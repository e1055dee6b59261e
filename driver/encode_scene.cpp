// The converter's tables as the records of a mesh file.
#include "encode_scene.h"

#include <cstddef>

#include "driver/converter.h"

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

// A sized range of the records made by `make` from the positions 0 to size - 1, as they are
// read: the converter's tables reach the encoder with nothing copied. (Hand-made rather
// than std::views, which clang 14 cannot compile with this standard library.)
template <class Make>
class Made {
  public:
    Made(std::size_t size, Make make) : size_(size), make_(make) {}

    class Iterator {
      public:
        Iterator(const Made* range, std::size_t at) : range_(range), at_(at) {}
        auto operator*() const { return range_->make_(at_); }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return at_ != other.at_; }

      private:
        const Made* range_;
        std::size_t at_;
    };

    std::size_t size() const { return size_; }
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size_}; }

  private:
    std::size_t size_;
    Make make_;
};

// Calls use(records) with views over the converter's tables.
template <class Use>
auto withRecords(const MeshConverter& mesh, Use use) {
    const Material* material = mesh.referencedMaterial();
    // the entries: a material's sub-materials, or the material itself
    const std::size_t entryCount = !material                 ? 0
                                   : material->subCount != 0 ? material->subMaterials.size()
                                                             : 1;
    const Made entries(entryCount, [material](std::size_t i) {
        return material->subCount != 0 ? entryOf(material->subMaterials[i]) : entryOf(*material);
    });
    const Made vertices(mesh.vertices.size(), [&mesh](std::size_t i) {
        const Vertex& v = mesh.vertices[i];
        return meshfile::Position{v.x, v.y, v.z};
    });
    const Made texVertices(mesh.texVertices.size(), [&mesh](std::size_t i) {
        const TexVertex& t = mesh.texVertices[i];
        return meshfile::TexCoord{t.u, t.v};
    });
    // a material without sub-materials gives its faces materialRef itself
    const FaceMaterial faceMaterial{
        .none = !material,
        .first = material && material->subCount == 0 ? mesh.materialRef : 0,
        .subCount = material ? material->subCount : 0};
    const Made faces(mesh.faces.size(), [&mesh, faceMaterial](std::size_t i) {
        return faceRecord(mesh.faces[i], faceMaterial);
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

meshfile::MeshFile meshFileOf(const MeshConverter& mesh) {
    return withRecords(mesh, [](const auto& records) {
        meshfile::MeshFile file;
        file.layout = records.layout;
        if (records.layout == meshfile::Layout::kWithMaterials) {
            file.materials.reserve(records.entries.size());
            for (meshfile::MaterialEntry e : records.entries)
                file.materials.push_back(std::move(e));
        }
        file.vertices.reserve(records.vertices.size());
        for (const meshfile::Position& v : records.vertices) file.vertices.push_back(v);
        file.texVertices.reserve(records.texVertices.size());
        for (const meshfile::TexCoord& t : records.texVertices) file.texVertices.push_back(t);
        file.faces.reserve(records.faces.size());
        for (const meshfile::FaceRecord& f : records.faces) file.faces.push_back(f);
        file.bounds = records.bounds;
        return file;
    });
}

}  // namespace tessloom
