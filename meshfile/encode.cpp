// The binary mesh file's sections, written value by value in little-endian order.
#include "meshfile/encode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "meshfile/reader.h"

namespace tessloom {

namespace {

using meshfile::kBoundsBytes;
using meshfile::kFaceBytes;
using meshfile::kMaterialEntryBytes;
using meshfile::kTexVertexBytes;
using meshfile::kVertexBytes;

template <class Record>
void putMaterialEntry(OutBuffer& out, const Record& m) {
    if (m.name.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw Rejected("a bitmap name of " + std::to_string(m.name.size()) +
                       " bytes does not fit the file's length field");
    }
    out.reserve(kMaterialEntryBytes);
    for (const Color& c : {m.ambient, m.diffuse, m.specular}) {
        out.putF32(c.r);
        out.putF32(c.g);
        out.putF32(c.b);
    }
    out.putF32(m.shine);
    out.putF32(m.uTiling);
    out.putF32(m.vTiling);
    out.putF32(m.uOffset);
    out.putF32(m.vOffset);
    out.putI32(m.reflectRefract);
    out.putI32(m.hasBitmap);
    out.putI32(static_cast<std::int32_t>(m.name.size()));
    out.putBytes(m.name.data(), m.name.size());
}

void putNormal(OutBuffer& out, const Normal& n) {
    out.putF32(n.x);
    out.putF32(n.y);
    out.putF32(n.z);
}

// The material index a face carries: -1 without materials, the sub-material by the
// truncating remainder (so with the sign of mtlId), or else materialRef itself.
std::int32_t faceMaterialIndex(const Material* m, std::int32_t materialRef, const Face& face) {
    if (!m) return -1;
    if (m->subCount != 0) return face.mtlId % m->subCount;
    return materialRef;
}

void appendToVector(void* context, const std::uint8_t* data, std::size_t size) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(context);
    bytes->insert(bytes->end(), data, data + size);
}

}  // namespace

OutBuffer::OutBuffer(Sink sink, void* context, std::size_t capacity)
    : sink_(sink), context_(context), capacity_(std::max<std::size_t>(capacity, 128)) {
    constexpr std::size_t kPage = 4096;
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_ + kPage - 1);
    const auto address = reinterpret_cast<std::uintptr_t>(buffer_.get());
    data_ = buffer_.get() + (kPage - address % kPage) % kPage;
}

void OutBuffer::putBytes(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size != 0) {
        if (used_ == capacity_) flush();
        const std::size_t n = std::min(size, capacity_ - used_);
        std::memcpy(data_ + used_, bytes, n);
        used_ += n;
        bytes += n;
        size -= n;
    }
}

void OutBuffer::flush() {
    if (used_ == 0) return;
    sink_(context_, data_, used_);
    flushed_ += used_;
    used_ = 0;
}

std::uint64_t meshFileSize(const MeshConverter& mesh) {
    std::uint64_t size = 0;
    if (const Material* m = mesh.referencedMaterial()) {
        size += 4;
        if (m->subCount != 0) {
            for (const SubMaterial& s : m->subMaterials)
                size += kMaterialEntryBytes + s.name.size();
        } else {
            size += kMaterialEntryBytes + m->name.size();
        }
    }
    size += 4 + kVertexBytes * mesh.vertices.size();
    size += 4 + kTexVertexBytes * mesh.texVertices.size();
    size += 4 + kFaceBytes * mesh.faces.size();
    return size + kBoundsBytes;
}

void encodeMeshFile(const MeshConverter& mesh, OutBuffer& out) {
    const Material* material = mesh.referencedMaterial();
    if (const Material* m = material) {
        out.reserve(4);
        if (m->subCount != 0) {
            out.putI32(m->subCount);
            for (const SubMaterial& s : m->subMaterials) putMaterialEntry(out, s);
        } else {
            out.putI32(1);
            putMaterialEntry(out, *m);
        }
    }

    out.reserve(4);
    out.putI32(mesh.numVertex);
    for (const Vertex& v : mesh.vertices) {
        out.reserve(kVertexBytes);
        out.putF32(v.x);
        out.putF32(v.y);
        out.putF32(v.z);
    }

    out.reserve(4);
    out.putI32(mesh.numTVertex);
    for (const TexVertex& t : mesh.texVertices) {
        out.reserve(kTexVertexBytes);
        out.putF32(t.u);
        out.putF32(t.v);
    }

    out.reserve(4);
    out.putI32(mesh.numFaces);
    for (const Face& f : mesh.faces) {
        out.reserve(kFaceBytes);
        out.putI32(faceMaterialIndex(material, mesh.materialRef, f));
        out.putI32(f.a);
        out.putI32(f.b);
        out.putI32(f.c);
        out.putI32(f.ta);
        out.putI32(f.tb);
        out.putI32(f.tc);
        // the face normal leads, the reverse of the record's order
        putNormal(out, f.faceNormal);
        putNormal(out, f.normalA);
        putNormal(out, f.normalB);
        putNormal(out, f.normalC);
    }

    out.reserve(kBoundsBytes);
    for (float b :
         {mesh.radius, mesh.minX, mesh.maxX, mesh.minY, mesh.maxY, mesh.minZ, mesh.maxZ}) {
        out.putF32(b);
    }
    out.flush();
}

std::vector<std::uint8_t> encodeMeshFile(const MeshConverter& mesh) {
    std::vector<std::uint8_t> bytes;
    OutBuffer out(appendToVector, &bytes, 4096);
    encodeMeshFile(mesh, out);
    return bytes;
}

}  // namespace tessloom
