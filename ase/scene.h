// Scene records and the converter that owns them, fills them pass by pass and writes them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ase/meshes.h"
#include "ase/table.h"

namespace tessloom {

class Scanner;
class Diagnostics;
class Watch;

// A conversion that cannot go on: the reason, without the "tessloom: <input>: " prefix.
class Rejected : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// True when i is a valid position in a table of `count` entries.
inline bool inRange(std::int64_t i, std::size_t count) {
    return i >= 0 && static_cast<std::uint64_t>(i) < count;
}

struct Vertex {
    float x = 0, y = 0, z = 0;
};

struct TexVertex {
    float u = 0, v = 0;
};

struct Normal {
    float x = 0, y = 0, z = 0;
};

struct Face {
    std::int32_t a = 0, b = 0, c = 0;
    std::int32_t ta = 0, tb = 0, tc = 0;
    Normal normalA, normalB, normalC;
    Normal faceNormal;
    std::int32_t mtlId = 0;
};

struct Color {
    float r = 0, g = 0, b = 0;
};

struct SubMaterial {
    std::string name;
    std::int32_t hasBitmap = 0;
    std::int32_t reflectRefract = 0;
    float uTiling = 0, vTiling = 0;
    float uOffset = 0, vOffset = 0;
    Color ambient, diffuse, specular;
    float shine = 0;
};

struct Material {
    std::string name;
    std::int32_t hasBitmap = 0;
    std::int32_t reflectRefract = 0;
    std::int32_t subCount = 0;  // always the size of subMaterials
    float uTiling = 0, vTiling = 0;
    float uOffset = 0, vOffset = 0;
    Color ambient, diffuse, specular;
    float shine = 0;
    std::vector<SubMaterial> subMaterials;
};

// Default size of one read from the input; tests pass tiny sizes to exercise refills.
inline constexpr std::size_t kDefaultBlockSize = std::size_t{1} << 18;

// How a converter reads its input, besides the stream itself.
struct ReadSetup {
    // Bytes of one read; tests pass tiny sizes to exercise refills.
    std::size_t blockSize = kDefaultBlockSize;
    // Only these bytes of the input, as if nothing else were there; those that lie in
    // `outside` (which outlives the converter) are taken from it.
    std::optional<std::vector<ByteRange>> ranges = std::nullopt;
    const OutsideText* outside = nullptr;
    // Hears what the passes drop, skip or wrap; the tables come out the same without one.
    Diagnostics* diagnostics = nullptr;
    // Called as each reading pass ends, with the bytes it read and whether it read the whole
    // input (the material pass may stop early); it may throw Rejected to end the run. The
    // driver checks there that the input did not change between passes.
    std::function<void(std::uint64_t bytesRead, bool wholeInput)> passEnded = nullptr;
    // Called after each block read from the input, with its size: for a progress line.
    std::function<void(std::uint64_t bytes)> blockRead = nullptr;
};

// Converts one ASE scene. Construction runs every reading pass and the post-processing;
// writeMeshFile() then puts the binary mesh in place. Any failure throws Rejected (or
// std::bad_alloc when a table does not fit in memory) and leaves no output behind.
class MeshConverter {
  public:
    // Reads the file at inputPath, which must be a regular file that does not change while it
    // is read; the output goes to outputPath, or next to the input with its last four
    // characters replaced by ".obj", and may not be the input itself.
    MeshConverter(const std::string& inputPath, const std::optional<std::string>& outputPath);
    // Reads an already-open stream, which stays owned by the caller and must be seekable.
    MeshConverter(std::FILE* inputFile, std::string outputPath, ReadSetup setup = {});
    virtual ~MeshConverter();

    MeshConverter(const MeshConverter&) = delete;
    MeshConverter& operator=(const MeshConverter&) = delete;

    std::int32_t numVertex = 0;
    std::int32_t numFaces = 0;
    std::int32_t numTVFaces = 0;
    std::int32_t numTVertex = 0;
    std::int32_t materialCount = 0;
    std::int32_t materialRef = 0;
    Table<Vertex> vertices;
    Table<TexVertex> texVertices;
    Table<Face> faces;
    std::vector<Material> materials;
    float radius = 0;
    float minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
    std::string outputPath;
    std::unique_ptr<Scanner> input;

    void readCounts();
    void allocateTables();
    void readMaterials();
    void readGeometry();
    void applyTiling();
    void computeBounds();
    // Writes outputPath through a temporary file in its directory, renamed into place. It
    // knows nothing of the file that was read: the driver's run writes with
    // writeMeshFile(converter, input), which never replaces the input.
    void writeMeshFile() const;

    // The material whose entries the mesh file carries, or null when it has none.
    const Material* referencedMaterial() const;

    // Occurrences of the bytes *GEOMOBJECT in the text the count pass read: below 2, the
    // scene holds one mesh and need not be searched for more.
    std::uint64_t objectMarks() const { return objectMarks_; }

  private:
    // The passes in their fixed order, then the post-processing.
    void readAll(std::FILE* inputFile, ReadSetup setup);
    // Each pass, built once plainly (Unwatched) and once for a listener (Watch).
    template <class W>
    void readCountsWith(W& watch);
    template <class W>
    void readMaterialsWith(W& watch);
    template <class W>
    void readGeometryWith(W& watch);
    template <class W>
    void applyTilingWith(W& watch);
    // Why a count is rejected, or nothing: negative, or with `alreadyHeld` elements of its
    // kind more than the input has bytes (every element takes a line of its own, so no
    // real scene declares more).
    std::string countProblem(const char* keyword, std::int32_t value,
                             std::uint64_t alreadyHeld = 0) const;

    // Bytes of the input the count pass read; no count may exceed it.
    std::uint64_t inputBytes_ = 0;
    // Offset after which the material pass may stop at a line's end, found by the count pass.
    std::uint64_t materialsEnd_ = 0;
    std::uint64_t objectMarks_ = 0;
    // Set only while a listener is given.
    std::unique_ptr<Watch> watch_;
};

// Output path for an input path: its last four characters replaced by ".obj"; a path of
// fewer than four characters keeps all of them.
std::string defaultOutputPath(std::string_view inputPath);

// The part of a bitmap path after its last backslash; the whole path when it has none.
std::string baseName(std::string_view path);

}  // namespace tessloom
