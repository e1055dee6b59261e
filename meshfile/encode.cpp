// The output buffer, and encoding a mesh file held in memory.
#include "meshfile/encode.h"

#include <algorithm>
#include <cstring>

namespace tessloom {

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

}  // namespace tessloom

namespace tessloom::meshfile {

namespace {

Records<std::vector<MaterialEntry>, std::vector<Position>, std::vector<TexCoord>,
        std::vector<FaceRecord>>
recordsOf(const MeshFile& mesh) {
    return {mesh.layout, mesh.materials, mesh.vertices, mesh.texVertices, mesh.faces, mesh.bounds};
}

}  // namespace

std::uint64_t encodedSize(const MeshFile& mesh) {
    return encodedSize(recordsOf(mesh));
}

void encodeMeshFile(const MeshFile& mesh, OutBuffer& out) {
    encodeRecords(recordsOf(mesh), out);
}

std::vector<std::uint8_t> encodeMeshFile(const MeshFile& mesh) {
    return encodeRecords(recordsOf(mesh));
}

}  // namespace tessloom::meshfile
