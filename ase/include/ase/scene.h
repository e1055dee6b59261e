// Scene records and the converter that owns them, fills them pass by pass and writes them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ase/meshes.h"
#include "ase/table.h"

namespace tessloom::meshfile {
struct FileStamp;
}

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
    // Whether a line gave the U or the V tiling: without one, the tiling keeps its start value.
    bool uTilingGiven = false, vTilingGiven = false;
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
    bool uTilingGiven = false, vTilingGiven = false;
};

// What the scene holds that the conversion's rules do not carry into the mesh file, counted
// as the passes go: the warnings are made from it.
struct Losses {
    // Material entries that give no U or V tiling, yet scale texture vertices by the start
    // value (0): each as its material's number and sub-material (-1: the material itself),
    // once however many meshes use it; and the texture vertices they scale.
    std::set<std::pair<std::int32_t, std::int32_t>> untiledEntries;
    std::uint64_t untiledCoordinates = 0;
    // Faces whose corners are vertices, and those of them with a zero face or corner normal.
    std::uint64_t faces = 0;
    std::uint64_t zeroNormalFaces = 0;
    // Some *MESH_FACENORMAL is not followed directly by its *MESH_VERTEXNORMAL lines: the
    // vertex normals are listed apart, by vertex.
    bool normalsApart = false;
    // Faces with a zero normal, and not one *MESH_FACENORMAL line.
    bool noNormals = false;

    // The losses of several conversions together.
    Losses& operator+=(const Losses& o) {
        untiledEntries.insert(o.untiledEntries.begin(), o.untiledEntries.end());
        untiledCoordinates += o.untiledCoordinates;
        faces += o.faces;
        zeroNormalFaces += o.zeroNormalFaces;
        normalsApart = normalsApart || o.normalsApart;
        noNormals = noNormals || o.noNormals;
        return *this;
    }
};

// Repairs that keep what the scene holds, where the conversion's rules would lose it; the
// plain conversion makes none.
struct Repairs {
    // Tiling starts at 1 instead of 0: a material that gives none leaves its texture
    // coordinates as they are.
    bool keepUv = false;
    // Vertex normals listed apart are given to the corners of their vertex, and every normal
    // the scene does not give (or gives as zero) is computed from the faces' winding and
    // smoothing groups.
    bool fixNormals = false;

    bool operator==(const Repairs&) const = default;
};

// The value tiling starts at: 0 by the conversion's rules, 1 when texture coordinates are kept.
inline float tilingStart(const Repairs& repairs) {
    return repairs.keepUv ? 1.0f : 0.0f;
}

// Default size of one read from the input; tests pass tiny sizes to exercise refills.
inline constexpr std::size_t kDefaultBlockSize = std::size_t{1} << 18;

// How a converter reads its input, besides the stream itself.
struct ReadSetup {
    // Bytes of one read; tests pass tiny sizes to exercise refills.
    std::size_t blockSize = kDefaultBlockSize;
    // Only these pieces, in order, as the whole text (their memory outlives the converter).
    std::optional<std::vector<TextPiece>> pieces = std::nullopt;
    // When set, the bytes that bound the counts, instead of those the count pass read.
    std::optional<std::uint64_t> countBound = std::nullopt;
    // Hears what the passes drop, skip or wrap; the tables come out the same without one.
    Diagnostics* diagnostics = nullptr;
    // Called as each reading pass ends, with the bytes it read and whether it read the whole
    // input (the material pass may stop early); it may throw Rejected to end the run. The
    // driver checks there that the input did not change between passes.
    std::function<void(std::uint64_t bytesRead, bool wholeInput)> passEnded = nullptr;
    Repairs repairs = {};
    // Called after each block read from the input, with its size: for a progress line.
    std::function<void(std::uint64_t bytes)> blockRead = nullptr;
    // The input's stamp as the run found it (meshfile/input.h): writeMeshFile() never
    // replaces that file.
    std::shared_ptr<const meshfile::FileStamp> inputStamp = nullptr;
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
    // With Repairs::fixNormals: every zero normal replaced by one computed from the faces.
    void fixNormals();
    void computeBounds();
    // Writes outputPath through a temporary file in its directory, renamed into place; never
    // over the input the converter read, when it was given its stamp (ReadSetup::inputStamp,
    // which the driver's guard sets, for the converter made from paths too).
    void writeMeshFile() const;

    // The material whose entries the mesh file carries, or null when it has none.
    const Material* referencedMaterial() const;

    // Occurrences of the bytes *GEOMOBJECT in the text the count pass read: below 2, the
    // scene holds one mesh and need not be searched for more.
    std::uint64_t objectMarks() const { return objectMarks_; }
    // The text holds a carriage return and no line feed: it reads as one line.
    bool returnsWithoutLineFeed() const { return returnsOnly_; }

    // What the conversion could not keep; complete once construction ends.
    const Losses& losses() const { return losses_; }

  private:
    // The passes in their fixed order, then the post-processing.
    void readAll(std::FILE* inputFile, ReadSetup setup);
    // Each pass, built once plainly (Unwatched) and once for a listener (Watch).
    template <class W>
    void readCountsWith(W& watch);
    template <class W>
    void readMaterialsWith(W& watch);
    // kFix: with Repairs::fixNormals, built apart so that the plain pass carries none of it.
    template <class W, bool kFix>
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
    bool returnsOnly_ = false;
    // Set only while a listener is given.
    std::unique_ptr<Watch> watch_;
    Repairs repairs_;
    std::shared_ptr<const meshfile::FileStamp> inputStamp_;
    Losses losses_;
    bool faceNormalsSeen_ = false;
    // With Repairs::fixNormals, filled by the geometry pass: each vertex's normal as the
    // scene lists it apart, and each face's smoothing groups (one bit per group).
    Table<Normal> vertexNormals_;
    Table<std::uint32_t> smoothing_;
    // Counts the faces left with a zero normal, into losses_.
    void countZeroNormals();
};

// Output path for an input path: its last four characters replaced by ".obj"; a path of
// fewer than four characters keeps all of them.
std::string defaultOutputPath(std::string_view inputPath);

// The part of a bitmap path after its last backslash; the whole path when it has none.
std::string baseName(std::string_view path);

}  // namespace tessloom
