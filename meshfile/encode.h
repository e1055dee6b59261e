// Encoding the binary mesh file: sizes, little-endian values, and the sections in order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ase/scene.h"

namespace tessloom {

// A fixed-size output buffer handed to a sink whenever it fills, so memory stays flat
// whatever the mesh's size. The sink throws Rejected when it cannot take the bytes.
class OutBuffer {
  public:
    using Sink = void (*)(void* context, const std::uint8_t* data, std::size_t size);

    static constexpr std::size_t kMaxCapacity = std::size_t{1} << 20;

    OutBuffer(Sink sink, void* context, std::size_t capacity = kMaxCapacity);

    // Makes room for `size` bytes (at most the capacity) for the unchecked puts below.
    void reserve(std::size_t size) {
        if (capacity_ - used_ < size) flush();
    }
    void putU32(std::uint32_t value) {
        std::uint8_t* p = data_ + used_;
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
        p[2] = static_cast<std::uint8_t>(value >> 16);
        p[3] = static_cast<std::uint8_t>(value >> 24);
        used_ += 4;
    }
    void putI32(std::int32_t value) { putU32(static_cast<std::uint32_t>(value)); }
    void putF32(float value) { putU32(std::bit_cast<std::uint32_t>(value)); }
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

// The mesh file's size in bytes, from the counts and the name lengths.
std::uint64_t meshFileSize(const MeshConverter& mesh);

// Puts every section into `out` and flushes it.
void encodeMeshFile(const MeshConverter& mesh, OutBuffer& out);

// The whole file in memory: for tests and small meshes.
std::vector<std::uint8_t> encodeMeshFile(const MeshConverter& mesh);

}  // namespace tessloom
