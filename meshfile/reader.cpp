// Reading mesh files: lengths checked against what remains, values decoded little-endian.
#include "meshfile/reader.h"

#include <algorithm>
#include <cstring>

#include "meshfile/input.h"

namespace tessloom::meshfile {

namespace {

// Records are read this many bytes at a time.
constexpr std::size_t kChunk = 64 * 1024;

// A cursor that never moves past the end: each read first checks what remains.
std::string bytes(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

class Cursor {
  public:
    explicit Cursor(const ByteSource& source) : source_(source), size_(source.size()) {}

    std::uint64_t at() const { return at_; }
    void need(std::uint64_t n, const std::string& what) const {
        if (size_ - at_ < n) {
            throw ReadError(at_, what + " (" + bytes(n) + "), but " + std::to_string(size_ - at_) +
                                     (size_ - at_ == 1 ? " remains" : " remain"));
        }
    }
    void skip(std::uint64_t n, const std::string& what) {
        need(n, what);
        at_ += n;
    }
    std::int32_t count(const std::string& what) {
        need(4, what);
        std::uint8_t bytes[4];
        source_.read(at_, bytes, 4);
        const std::int32_t value = loadI32(bytes);
        if (value < 0) {
            throw ReadError(at_, what + " of 0 or more, not " + std::to_string(value));
        }
        at_ += 4;
        return value;
    }

  private:
    const ByteSource& source_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

// Calls each(index, record bytes) for `count` records of `size` bytes from `offset`.
template <class Each>
void forEachRecord(const ByteSource& source, std::uint64_t offset, std::int32_t count,
                   std::size_t size, std::vector<std::uint8_t>& buffer, Each each) {
    const std::size_t perChunk = std::max<std::size_t>(1, kChunk / size);
    buffer.resize(perChunk * size);
    for (std::size_t first = 0; first < static_cast<std::size_t>(count); first += perChunk) {
        const std::size_t n = std::min(perChunk, static_cast<std::size_t>(count) - first);
        source.read(offset + first * size, buffer.data(), n * size);
        for (std::size_t i = 0; i < n; ++i) each(first + i, buffer.data() + i * size);
    }
}

}  // namespace

ReadError::ReadError(std::uint64_t offset, const std::string& expected)
    : std::runtime_error("at byte " + std::to_string(offset) + ": expected " + expected),
      offset_(offset) {}

void SpanSource::read(std::uint64_t offset, void* out, std::size_t n) const {
    std::memcpy(out, bytes_.data() + offset, n);
}

FileSource::FileSource(const std::string& path) {
    try {
        file_ = std::make_unique<const InputFile>(path);
    } catch (const InputFile::OpenError& e) {
        throw ReadError(0, e.notRegular() ? std::string("a regular file")
                                          : std::string("a readable file: ") + e.what());
    }
}

FileSource::~FileSource() = default;

std::uint64_t FileSource::size() const {
    return file_->size();
}

void FileSource::read(std::uint64_t offset, void* out, std::size_t n) const {
    file_->read(offset, out, n);
}

Sections locateSections(const ByteSource& source, Layout layout) {
    Sections s;
    s.layout = layout;
    Cursor at(source);
    if (layout == Layout::kWithMaterials) {
        s.materialEntries = at.count("a material entry count");
        s.materialsAt = at.at();
        // each entry takes at least 68 bytes, so a lying count ends at the file's end
        for (std::int32_t e = 0; e < s.materialEntries; ++e) {
            const std::string what = "material entry " + std::to_string(e);
            at.need(kMaterialEntryBytes, what);
            at.skip(kMaterialEntryBytes - 4, what);
            const std::int32_t length = at.count("the name length of " + what);
            at.skip(static_cast<std::uint64_t>(length), "the bitmap name of " + what);
        }
    }
    s.numVertex = at.count("a vertex count");
    s.verticesAt = at.at();
    at.skip(kVertexBytes * static_cast<std::uint64_t>(s.numVertex),
            std::to_string(s.numVertex) + (s.numVertex == 1 ? " vertex" : " vertices"));
    s.numTVertex = at.count("a texture-vertex count");
    s.texVerticesAt = at.at();
    at.skip(kTexVertexBytes * static_cast<std::uint64_t>(s.numTVertex),
            std::to_string(s.numTVertex) +
                (s.numTVertex == 1 ? " texture vertex" : " texture vertices"));
    s.numFaces = at.count("a face count");
    s.facesAt = at.at();
    at.skip(kFaceBytes * static_cast<std::uint64_t>(s.numFaces),
            std::to_string(s.numFaces) + (s.numFaces == 1 ? " face" : " faces"));
    s.boundsAt = at.at();
    at.skip(kBoundsBytes, "the bounds");
    if (at.at() != source.size()) {
        const std::uint64_t more = source.size() - at.at();
        throw ReadError(at.at(), "the end of the file, but " + bytes(more) +
                                     (more == 1 ? " follows" : " follow"));
    }
    return s;
}

std::optional<Sections> LayoutGuess::only() const {
    if (withMaterials.has_value() == withoutMaterials.has_value()) return std::nullopt;
    return withMaterials ? withMaterials : withoutMaterials;
}

LayoutGuess inferLayout(const ByteSource& source) {
    LayoutGuess guess;
    try {
        guess.withMaterials = locateSections(source, Layout::kWithMaterials);
    } catch (const ReadError& e) {
        guess.withMaterialsError = e.what();
        guess.withMaterialsStop = e.offset();
    }
    try {
        guess.withoutMaterials = locateSections(source, Layout::kWithoutMaterials);
    } catch (const ReadError& e) {
        guess.withoutMaterialsError = e.what();
        guess.withoutMaterialsStop = e.offset();
    }
    return guess;
}

void visitMeshFile(const ByteSource& source, const Sections& s, MeshVisitor& visitor) {
    std::vector<std::uint8_t> buffer(kMaterialEntryBytes);
    std::uint64_t at = s.materialsAt;
    const std::uint64_t namesEnd = s.verticesAt - kCountBytes;
    for (std::int32_t e = 0; e < s.materialEntries; ++e) {
        source.read(at, buffer.data(), kMaterialEntryBytes);
        MaterialEntry m = loadEntryFields(buffer.data());
        // read again, so checked again: the name must end where the sections said it would
        const std::int32_t length = loadI32(buffer.data() + kNameLengthAt);
        const std::uint64_t nameAt = at + kMaterialEntryBytes;
        if (length < 0 || nameAt > namesEnd ||
            namesEnd - nameAt < static_cast<std::uint64_t>(length)) {
            throw ReadError(at + kNameLengthAt, "the name length of material entry " +
                                                    std::to_string(e) + " found before, not " +
                                                    std::to_string(length) +
                                                    ": the file changed while it was read");
        }
        m.name.resize(static_cast<std::size_t>(length));
        source.read(nameAt, m.name.data(), m.name.size());
        at = nameAt + m.name.size();
        visitor.material(static_cast<std::size_t>(e), m);
    }
    if (at != namesEnd) {
        throw ReadError(at,
                        "the vertex count where the names found before ended: the file "
                        "changed while it was read");
    }
    forEachRecord(
        source, s.verticesAt, s.numVertex, kVertexBytes, buffer,
        [&](std::size_t i, const std::uint8_t* p) { visitor.vertex(i, loadPosition(p)); });
    forEachRecord(
        source, s.texVerticesAt, s.numTVertex, kTexVertexBytes, buffer,
        [&](std::size_t i, const std::uint8_t* p) { visitor.texVertex(i, loadTexCoord(p)); });
    forEachRecord(source, s.facesAt, s.numFaces, kFaceBytes, buffer,
                  [&](std::size_t i, const std::uint8_t* p) { visitor.face(i, loadFace(p)); });
    std::uint8_t b[kBoundsBytes];
    source.read(s.boundsAt, b, kBoundsBytes);
    visitor.bounds(loadBounds(b));
}

MeshFile readMeshFile(const ByteSource& source, Layout layout) {
    const Sections s = locateSections(source, layout);
    struct Collect : MeshVisitor {
        MeshFile mesh;
        void material(std::size_t, const MaterialEntry& m) override { mesh.materials.push_back(m); }
        void vertex(std::size_t, const Position& v) override { mesh.vertices.push_back(v); }
        void texVertex(std::size_t, const TexCoord& t) override { mesh.texVertices.push_back(t); }
        void face(std::size_t, const FaceRecord& f) override { mesh.faces.push_back(f); }
        void bounds(const Bounds& b) override { mesh.bounds = b; }
    } collect;
    collect.mesh.layout = layout;
    // the counts were checked against the size: reserving them costs at most the file's size
    collect.mesh.materials.reserve(static_cast<std::size_t>(s.materialEntries));
    collect.mesh.vertices.reserve(static_cast<std::size_t>(s.numVertex));
    collect.mesh.texVertices.reserve(static_cast<std::size_t>(s.numTVertex));
    collect.mesh.faces.reserve(static_cast<std::size_t>(s.numFaces));
    visitMeshFile(source, s, collect);
    return std::move(collect.mesh);
}

MeshFile load(const std::string& path) {
    const FileSource source(path);
    const LayoutGuess guess = inferLayout(source);
    if (const std::optional<Sections> sections = guess.only())
        return readMeshFile(source, sections->layout);
    if (guess.withMaterials) {
        throw ReadError(0,
                        "a size that fits one layout, not both (with and without a material "
                        "section)");
    }
    throw ReadError(std::max(guess.withMaterialsStop, guess.withoutMaterialsStop),
                    "a mesh file of either layout; with a material section, " +
                        guess.withMaterialsError + "; without, " + guess.withoutMaterialsError);
}

}  // namespace tessloom::meshfile
