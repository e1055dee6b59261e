// Test helpers: scenes from strings, converters over them, and expected bytes by hand.
#pragma once

#include <stdlib.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ase/scene.h"
#include "driver/encode_scene.h"
#include "meshfile/reader.h"

namespace tessloom::test {

namespace fs = std::filesystem;

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// A new folder under the system's temporary folder, removed with all it holds.
class TempDir {
  public:
    TempDir() {
        std::string name = (fs::temp_directory_path() / "tessloom-XXXXXX").string();
        path_ = ::mkdtemp(name.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// An anonymous temporary file holding `text`, positioned at its start.
class TextFile {
  public:
    explicit TextFile(std::string_view text) : file_(std::tmpfile()) {
        std::fwrite(text.data(), 1, text.size(), file_);
        std::rewind(file_);
    }
    ~TextFile() { std::fclose(file_); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    std::FILE* get() const { return file_; }

  private:
    std::FILE* file_;
};

// Runs every pass over `text`; nothing is written.
inline std::unique_ptr<MeshConverter> convert(std::string_view text,
                                              std::size_t blockSize = kDefaultBlockSize) {
    TextFile file(text);
    return std::make_unique<MeshConverter>(file.get(), "unused.obj",
                                           ReadSetup{.blockSize = blockSize});
}

inline std::vector<std::uint8_t> meshBytes(std::string_view text,
                                           std::size_t blockSize = kDefaultBlockSize) {
    return encodeMeshFile(*convert(text, blockSize));
}

inline std::string meshText(std::string_view text) {
    const auto bytes = meshBytes(text);
    return {bytes.begin(), bytes.end()};
}

inline std::uint32_t bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

// Expected file contents, written field by field.
struct Bytes {
    std::vector<std::uint8_t> data;
    Bytes& u32(std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            data.push_back(static_cast<std::uint8_t>(v >> shift));
        return *this;
    }
    Bytes& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    Bytes& i32s(std::initializer_list<std::int32_t> vs) {
        for (std::int32_t v : vs) i32(v);
        return *this;
    }
    Bytes& f32(float v) { return u32(bits(v)); }
    Bytes& f32s(std::initializer_list<float> vs) {
        for (float v : vs) f32(v);
        return *this;
    }
    Bytes& zeros(std::size_t words) {  // 32-bit fields of 0, integers or floats
        data.resize(data.size() + 4 * words, 0);
        return *this;
    }
    Bytes& text(std::string_view s) {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
};

// The bundled example converted and read back as records.
inline meshfile::MeshFile exampleMesh() {
    TextFile scene(readFile(std::filesystem::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase"));
    const auto bytes = encodeMeshFile(MeshConverter(scene.get(), "unused.obj"));
    return meshfile::readMeshFile(meshfile::SpanSource(bytes), meshfile::Layout::kWithMaterials);
}

}  // namespace tessloom::test
