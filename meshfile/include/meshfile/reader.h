// Reading a mesh file back: which layout it has, where its sections lie, and its records.
// A damaged or hostile file never costs more than its size: every count and length is
// checked against the bytes that remain before anything is allocated or read.
//
// Most programs need one call, load(path); the rest is for reading a file in parts, from
// memory, or in a layout chosen by the caller. Needs C++20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "format.h"  // beside it, where it is installed too

namespace tessloom::meshfile {

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

class InputFile;

// Reads the file at a path as needed, never whole. Throws ReadError (offset 0) when it
// cannot be opened or is not a regular file.
class FileSource : public ByteSource {
  public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    std::uint64_t size() const override;
    void read(std::uint64_t offset, void* out, std::size_t n) const override;

  private:
    std::unique_ptr<const InputFile> file_;  // opened as the converter opens its input
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
    std::uint64_t withMaterialsStop = 0, withoutMaterialsStop = 0;  // the errors' offsets

    // The one layout that fits, or none when both or neither do.
    std::optional<Sections> only() const;
};

LayoutGuess inferLayout(const ByteSource& source);

// Receives the records in file order; memory stays flat however large the file. Each name
// length is read again with its entry and must agree with the sections: a file that changed
// since they were located gives a ReadError, never a length taken on trust.
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

MeshFile readMeshFile(const ByteSource& source, Layout layout);

// The whole mesh file at `path`, its layout inferred from its size. Throws ReadError when
// the file cannot be opened or is not a regular file (offset 0), when its size fits both
// layouts (offset 0; readMeshFile then takes the layout from the caller), when it fits
// neither (the offset where the layout that read further stopped, the message saying why
// each failed), and when it changed while it was read.
MeshFile load(const std::string& path);

}  // namespace tessloom::meshfile
