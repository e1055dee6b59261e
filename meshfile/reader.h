// Reading a mesh file back: which layout it has, where its sections lie, and its records.
// A damaged or hostile file never costs more than its size: every count and length is
// checked against the bytes that remain before anything is allocated or read.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessloom::meshfile {

// The file has no header: it begins with the material section only when the scene had
// materials.
enum class Layout { kWithMaterials, kWithoutMaterials };

const char* layoutName(Layout layout);

// Sizes of the fixed records, in bytes; a material entry's name follows its 68 bytes.
inline constexpr std::uint64_t kMaterialEntryBytes = 68;
inline constexpr std::uint64_t kVertexBytes = 12;
inline constexpr std::uint64_t kTexVertexBytes = 8;
inline constexpr std::uint64_t kFaceBytes = 76;
inline constexpr std::uint64_t kBoundsBytes = 28;

struct MaterialEntry {
    float ambient[3] = {}, diffuse[3] = {}, specular[3] = {};
    float shine = 0, uTiling = 0, vTiling = 0, uOffset = 0, vOffset = 0;
    std::int32_t reflectRefract = 0, hasBitmap = 0;
    std::string name;  // bytes, as stored
};

struct Position {
    float x = 0, y = 0, z = 0;
};

struct TexCoord {
    float u = 0, v = 0;
};

struct FaceRecord {
    std::int32_t material = 0;
    std::int32_t a = 0, b = 0, c = 0;
    std::int32_t ta = 0, tb = 0, tc = 0;
    Position faceNormal, normalA, normalB, normalC;
};

struct Bounds {
    float radius = 0, minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
};

// A file that is not a mesh file of the layout asked for: the byte offset where reading
// stopped and what was expected there.
class ReadError : public std::runtime_error {
  public:
    ReadError(std::uint64_t offset, const std::string& expected);
    std::uint64_t offset() const { return offset_; }

  private:
    std::uint64_t offset_;
};

// Random access to a file's bytes.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies n bytes at offset; the caller has made sure they lie within size().
    virtual void read(std::uint64_t offset, void* out, std::size_t n) const = 0;
};

class SpanSource : public ByteSource {
  public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    void read(std::uint64_t offset, void* out, std::size_t n) const override;

  private:
    std::span<const std::uint8_t> bytes_;
};

// Reads the file at a path as needed, never whole. Throws ReadError (offset 0) when it
// cannot be opened or is not a regular file.
class FileSource : public ByteSource {
  public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, void* out, std::size_t n) const override;

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Where the sections of a file of one layout lie; found from its counts and lengths,
// which account for the size exactly.
struct Sections {
    Layout layout = Layout::kWithoutMaterials;
    std::int32_t materialEntries = 0;  // 0 without a material section
    std::int32_t numVertex = 0, numTVertex = 0, numFaces = 0;
    std::uint64_t materialsAt = 0, verticesAt = 0, texVerticesAt = 0, facesAt = 0, boundsAt = 0;
};

// Throws ReadError when the file is not of that layout.
Sections locateSections(const ByteSource& source, Layout layout);

// Both layouts tried: each that fits, and why each that does not fit fails.
struct LayoutGuess {
    std::optional<Sections> withMaterials, withoutMaterials;
    std::string withMaterialsError, withoutMaterialsError;

    // The one layout that fits, or none when both or neither do.
    std::optional<Sections> only() const;
};

LayoutGuess inferLayout(const ByteSource& source);

// Receives the records in file order; memory stays flat however large the file.
class MeshVisitor {
  public:
    virtual ~MeshVisitor() = default;
    virtual void material(std::size_t, const MaterialEntry&) {}
    virtual void vertex(std::size_t, const Position&) {}
    virtual void texVertex(std::size_t, const TexCoord&) {}
    virtual void face(std::size_t, const FaceRecord&) {}
    virtual void bounds(const Bounds&) {}
};

void visitMeshFile(const ByteSource& source, const Sections& sections, MeshVisitor& visitor);

// A whole mesh file in memory.
struct MeshFile {
    Layout layout = Layout::kWithoutMaterials;
    std::vector<MaterialEntry> materials;
    std::vector<Position> vertices;
    std::vector<TexCoord> texVertices;
    std::vector<FaceRecord> faces;
    Bounds bounds;
};

MeshFile readMeshFile(const ByteSource& source, Layout layout);

// The bytes of a mesh file holding these records: reading them back gives the same.
std::vector<std::uint8_t> encodeMeshFile(const MeshFile& mesh);

// Bounds as the converter computes them: each starts at 0 (a default Bounds), so the box
// holds the origin; the radius is the largest distance from it, in double precision.
inline void extendBounds(Bounds& b, const Position& v) {
    if (v.x > b.maxX) b.maxX = v.x;
    if (v.x < b.minX) b.minX = v.x;
    if (v.y > b.maxY) b.maxY = v.y;
    if (v.y < b.minY) b.minY = v.y;
    if (v.z > b.maxZ) b.maxZ = v.z;
    if (v.z < b.minZ) b.minZ = v.z;
    const double x = v.x, y = v.y, z = v.z;
    const double distance = std::sqrt(x * x + y * y + z * z);
    if (distance > b.radius) b.radius = static_cast<float>(distance);
}

}  // namespace tessloom::meshfile
