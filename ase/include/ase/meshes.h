// The meshes of a scene, and the byte ranges that present one of them alone to the passes.
//
// On the text as the converter reads it (the input up to a control-Z), a *GEOMOBJECT token
// outside double-quoted strings opens a block, which runs to the } closing the first { after
// the token, or to the end of the text when no brace closes it. A string runs from a " to the
// next " or to the line's end; braces count only outside strings; a token is a run of bytes
// that are not white space. While a block is open, a further *GEOMOBJECT token is part of it.
// A block holding the token *MESH is a mesh; a scene with no such block is one mesh, the
// whole text. Meshes are numbered from 0 in file order.
//
//   SceneMeshes scene = findMeshes(file);  // one streamed read through a fixed buffer
//   scene.count()        how many meshes (1 for a scene without mesh blocks)
//   scene.mesh(n)        mesh n: begin/end byte offsets of its block, its name
//   scene.blocks         every *GEOMOBJECT block, mesh or not, in file order
//   scene.restricted(n)  the byte ranges of mesh n's restricted scene: the text without
//                        every other block (from its token's first byte to its closing
//                        brace); a Scanner given these ranges as pieces reads exactly that
//                        text
//
// The search looks at little more than the quotes and braces of mesh data. It reads every
// byte; the count pass notes cheaply whether a scene may hold two or more (its
// Scanner::objectMarks(), found as the search finds them, by findGeomObject()), so a scene
// with one mesh is never read for this. The lines and the counts a mesh declares are what
// the passes hear (a Diagnostics listener), not the search's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessloom {

// The bytes that make a *GEOMOBJECT token.
inline constexpr std::string_view kGeomObject = "*GEOMOBJECT";

// Where the first bytes *GEOMOBJECT that lie wholly in [first, last) begin, or null. They
// are found by their 'J', rare in scenes, which the C library finds fast.
inline const char* findGeomObject(const char* first, const char* last) {
    constexpr std::size_t kJ = kGeomObject.find('J');
    constexpr std::size_t kAfterJ = kGeomObject.size() - 1 - kJ;
    if (last - first < static_cast<std::ptrdiff_t>(kGeomObject.size())) return nullptr;
    for (const char* p = first + kJ; p < last - kAfterJ;) {
        const auto* j = static_cast<const char*>(
            std::memchr(p, 'J', static_cast<std::size_t>(last - kAfterJ - p)));
        if (!j) return nullptr;
        if (std::memcmp(j - kJ, kGeomObject.data(), kGeomObject.size()) == 0) return j - kJ;
        p = j + 1;
    }
    return nullptr;
}

// Bytes [begin, end) of the input.
struct ByteRange {
    std::uint64_t begin = 0, end = 0;
    bool operator==(const ByteRange&) const = default;
};

struct GeomBlock {
    std::uint64_t begin = 0;  // the first byte of its *GEOMOBJECT token
    std::uint64_t end = 0;    // one past its closing brace, or the end of the text
    bool closed = false;      // a brace closed it
    bool isMesh = false;      // it holds the token *MESH
    // The string after its first *NODE_NAME (same line, up to the next " or the line's end,
    // a carriage return before the line feed left out); none when that *NODE_NAME is not
    // followed by a string. At most kMaxName bytes are kept.
    std::optional<std::string> name;
    bool nameCut = false;  // the name was longer than what is kept
};

struct SceneMeshes {
    static constexpr std::size_t kMaxName = 4096;

    std::uint64_t textSize = 0;           // bytes up to a control-Z or the end of the input
    std::vector<GeomBlock> blocks;        // every block, mesh or not, in file order
    std::vector<std::size_t> meshBlocks;  // the meshes' positions in `blocks`

    // At least 1: a scene without mesh blocks is one mesh.
    std::size_t count() const { return meshBlocks.empty() ? 1 : meshBlocks.size(); }
    // Mesh n < count(); without mesh blocks, the whole text (begin 0, end textSize, no
    // name).
    GeomBlock mesh(std::size_t n) const;
    // The ranges of mesh n's restricted scene, in order, none empty; the whole text for a
    // scene without mesh blocks.
    std::vector<ByteRange> restricted(std::size_t n) const;
};

// Where the first carriage return of the text (up to a control-Z) stands when the text holds
// no line feed at all, and so reads as one line; none otherwise, or when it cannot be read.
// Most texts have a line feed in their first bytes: one read of them answers.
std::optional<std::uint64_t> carriageReturnsOnly(std::FILE* file);

// A piece of a text the passes read: bytes [begin, end) of the input, or bytes in memory.
struct TextPiece {
    std::uint64_t begin = 0, end = 0;  // of the input, when `memory` is null
    const char* memory = nullptr;      // else end - begin bytes here (begin 0)
};

// Every mesh's restricted scene, made once for all, so that converting each mesh of a scene
// costs its block and what of the outside text matters, not the whole outside text again.
//
// The outside text (every byte outside the blocks, in order) is read once and kept without
// the lines whose absence no pass can tell, taken as whole lines (after a line feed, up to
// and with the next one):
// - a blank line (white space only): every read skips white space whatever its length, and
//   no line is skipped from its start (a pass skips the rest of a line only after a token);
// - an inert line (at most 200 bytes, no token that a pass acts on) where every pass stands
//   at the line's first token or searches past tokens: then it is one token and a skipped
//   rest, or tokens the search passes, as if it were not there. The passes stand so at the
//   text's start; after a resetting line (an inert line whose first byte cannot continue a
//   pending read: no digit, sign, point, quote, A, B or C); and after inert lines of eight
//   tokens in all (none with a '*' inside), since a keyword's pending reads take seven at
//   most, with only blank or inert lines since.
// The lines around a block's place, where the kept text cannot know the block, are kept as
// they are. When the outside text is larger than `limit`, nothing is kept and pieces() gives
// the plain restricted ranges.
class RestrictedScenes {
  public:
    static constexpr std::size_t kMaxInertLine = 200;

    // Throws Rejected when the stream cannot be read.
    RestrictedScenes(std::FILE* file, const SceneMeshes& scene, std::uint64_t limit);

    // The pieces of mesh n's restricted scene: the passes read them as they read the whole.
    std::vector<TextPiece> pieces(std::size_t n) const;
    // The bytes of mesh n's restricted scene in full, which bound its counts.
    std::uint64_t size(std::size_t n) const;

  private:
    struct Line;
    // What is known, after a line, of where the passes stand.
    struct Flow {
        // At the next line's first token (or searching past tokens): inert lines are left out.
        bool chain = false;
        // Tokens of the inert lines since the last line that matters: a pending read takes
        // seven at most, so eight put the passes back at a line's first token.
        std::size_t inertTokens = 0;

        static constexpr std::size_t kPastPendingReads = 8;
        Flow after(const Line& kept) const;
    };
    struct Line {
        std::uint64_t begin = 0, end = 0;  // in outside_, the end past its line feed
        std::uint64_t keptBefore = 0;      // bytes of kept_ before it
        bool blank = false, inert = false, resetting = false;
        bool starInside = false;  // a token with a '*' past its first byte
        std::size_t tokens = 0;
        Flow flowAfter;  // in the kept text
    };

    const SceneMeshes& scene_;
    bool compact_ = false;
    std::string outside_;                 // the whole outside text
    std::string kept_;                    // its lines less those left out
    std::vector<Line> lines_;             // of outside_; the last may lack a line feed
    std::vector<std::size_t> nonBlank_;   // for each line, the first non-blank one from it
    std::vector<std::uint64_t> placeOf_;  // each mesh block's place in outside_
    std::uint64_t blockBytes_ = 0;        // bytes of every block together
};

inline constexpr std::size_t kSearchBlock = std::size_t{1} << 16;

// Reads the stream from its start to a control-Z or its end, `blockSize` bytes at a time
// (a file's size rounded up to a page, when that is less). Throws Rejected when the stream
// cannot be read.
SceneMeshes findMeshes(std::FILE* file, std::size_t blockSize = kSearchBlock);
// The same over text in memory, fed `blockSize` bytes at a time (tests vary it).
SceneMeshes findMeshes(std::string_view text, std::size_t blockSize = kSearchBlock);

}  // namespace tessloom
