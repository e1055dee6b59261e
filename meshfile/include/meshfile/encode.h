// Encoding mesh files: a flat output buffer, and the records written section by section in
// the layout meshfile/format.h defines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "meshfile/format.h"

namespace tessloom {

// A fixed-size output buffer handed to a sink whenever it fills, so memory stays flat
// whatever the mesh's size. The sink throws when it cannot take the bytes.
class OutBuffer {
  public:
    using Sink = void (*)(void* context, const std::uint8_t* data, std::size_t size);

    static constexpr std::size_t kMaxCapacity = std::size_t{1} << 20;

    OutBuffer(Sink sink, void* context, std::size_t capacity = kMaxCapacity);

    // Room for `size` bytes (at most 128, or the capacity), to be written at the pointer.
    std::uint8_t* claim(std::size_t size) {
        if (capacity_ - used_ < size) flush();
        std::uint8_t* p = data_ + used_;
        used_ += size;
        return p;
    }
    // Any length: copies through the buffer.
    void putBytes(const void* data, std::size_t size);
    void flush();
    std::uint64_t written() const { return flushed_ + used_; }

  private:
    Sink sink_;
    void* context_;
    std::unique_ptr<std::uint8_t[]> buffer_;  // never zero-filled: pages cost when used
    std::uint8_t* data_;  // page-aligned inside buffer_: the kernel copies from there fastest
    std::size_t capacity_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
};

}  // namespace tessloom

namespace tessloom::meshfile {

// Records that no mesh file can hold: a count or a name length beyond the 32-bit fields.
class EncodeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The records to encode, as ranges with size() whose elements are (or convert to) the record
// types: a MeshFile's vectors, or views that make the records from a producer's own tables
// as they are written, so nothing is copied. Without materials, `entries` is not read.
template <class Entries, class Vertices, class TexVertices, class Faces>
struct Records {
    Layout layout;
    const Entries& entries;
    const Vertices& vertices;
    const TexVertices& texVertices;
    const Faces& faces;
    const Bounds& bounds;
};

template <class E, class V, class T, class F>
Records(Layout, const E&, const V&, const T&, const F&, const Bounds&) -> Records<E, V, T, F>;

namespace detail {

template <class Range>
std::int32_t countOf(const Range& range, const char* what) {
    const auto n = static_cast<std::uint64_t>(range.size());
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw EncodeError(std::to_string(n) + " " + what + " do not fit the file's count field");
    }
    return static_cast<std::int32_t>(n);
}

inline std::int32_t nameLength(const std::string& name) {
    if (name.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw EncodeError("a bitmap name of " + std::to_string(name.size()) +
                          " bytes does not fit the file's length field");
    }
    return static_cast<std::int32_t>(name.size());
}

}  // namespace detail

// The size in bytes of the file these records make.
template <class E, class V, class T, class F>
std::uint64_t encodedSize(const Records<E, V, T, F>& r) {
    std::uint64_t entries = 0, nameBytes = 0;
    if (r.layout == Layout::kWithMaterials) {
        for (const MaterialEntry& m : r.entries) {
            ++entries;
            nameBytes += m.name.size();
        }
    }
    return fileSize(r.layout, entries, nameBytes, r.vertices.size(), r.texVertices.size(),
                    r.faces.size());
}

// Puts every section into `out`, in order, and flushes it. Throws EncodeError, or what the
// sink throws.
template <class E, class V, class T, class F>
void encodeRecords(const Records<E, V, T, F>& r, OutBuffer& out) {
    if (r.layout == Layout::kWithMaterials) {
        storeI32(out.claim(kCountBytes), detail::countOf(r.entries, "material entries"));
        for (const MaterialEntry& m : r.entries) {
            storeEntryFields(out.claim(kMaterialEntryBytes), m, detail::nameLength(m.name));
            out.putBytes(m.name.data(), m.name.size());
        }
    }
    storeI32(out.claim(kCountBytes), detail::countOf(r.vertices, "vertices"));
    for (const Position& v : r.vertices) storePosition(out.claim(kVertexBytes), v);
    storeI32(out.claim(kCountBytes), detail::countOf(r.texVertices, "texture vertices"));
    for (const TexCoord& t : r.texVertices) storeTexCoord(out.claim(kTexVertexBytes), t);
    storeI32(out.claim(kCountBytes), detail::countOf(r.faces, "faces"));
    for (const FaceRecord& f : r.faces) storeFace(out.claim(kFaceBytes), f);
    storeBounds(out.claim(kBoundsBytes), r.bounds);
    out.flush();
}

// The whole file in memory: for tests and small meshes.
template <class E, class V, class T, class F>
std::vector<std::uint8_t> encodeRecords(const Records<E, V, T, F>& r) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(encodedSize(r));
    OutBuffer out(
        [](void* context, const std::uint8_t* data, std::size_t size) {
            auto* v = static_cast<std::vector<std::uint8_t>*>(context);
            v->insert(v->end(), data, data + size);
        },
        &bytes, 4096);
    encodeRecords(r, out);
    return bytes;
}

// A MeshFile's records, in its layout.
std::uint64_t encodedSize(const MeshFile& mesh);
void encodeMeshFile(const MeshFile& mesh, OutBuffer& out);
std::vector<std::uint8_t> encodeMeshFile(const MeshFile& mesh);

}  // namespace tessloom::meshfile
