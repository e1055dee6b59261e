// Finding the *GEOMOBJECT blocks of a scene: one streamed read, strings and braces tracked.
#include "ase/meshes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ase/scanner.h"
#include "ase/scene.h"

namespace tessloom {

namespace {

constexpr std::string_view kMesh = "*MESH";
constexpr std::string_view kNodeName = "*NODE_NAME";

// Bytes readable past the part being looked at: every token looked for and the white byte
// after it fit, so a token is always judged whole.
constexpr std::size_t kLook = 64;
constexpr std::size_t kPadding = 64;  // the event searches load up to 63 bytes past a byte

using Read = std::function<std::size_t(char*, std::size_t)>;

bool isWhite(char c) {
    return Scanner::isWhite(c);
}

// The first of up to five byte values at or after p, or `end`; reads up to 15 bytes past
// `end`, which the padding makes readable.
template <std::size_t N>
const char* findEvent(const char* p, const char* end, const char (&events)[N]) {
#if defined(__SSE2__)
    __m128i wanted[N];
    for (std::size_t k = 0; k < N; ++k) wanted[k] = _mm_set1_epi8(events[k]);
    for (; p < end; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_cmpeq_epi8(v, wanted[0]);
        for (std::size_t k = 1; k < N; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, wanted[k]));
        if (const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(hit))) {
            return std::min(p + __builtin_ctz(m), end);
        }
    }
    return end;
#else
    for (; p < end; ++p) {
        for (const char e : events) {
            if (*p == e) return p;
        }
    }
    return end;
#endif
}

#if defined(__SSE2__)
inline __m128i load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m128i equal(__m128i v, char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
}

// Goes through [p, end) 64 bytes a step. In a step where `hits(q)`, for the 16 bytes from q,
// marks a byte, calls `found(step, bits)` (bit i for the byte step + i), which returns where
// the search ends, or null to go on. Returns that, or `end`. Reads up to 64 bytes past `end`.
template <class Hits, class Found>
inline const char* scan64(const char* p, const char* end, Hits hits, Found found) {
    auto bits = [](__m128i hit) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)));
    };
    for (; p < end; p += 64) {
        const __m128i h0 = hits(p), h1 = hits(p + 16), h2 = hits(p + 32), h3 = hits(p + 48);
        // most steps hold none: one test for the four
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) == 0)
            continue;
        if (const char* stop =
                found(p, bits(h0) | bits(h1) << 16 | bits(h2) << 32 | bits(h3) << 48))
            return stop;
    }
    return end;
}
#endif

// Outside blocks and strings: the first quote or *G at or after p,
// or `end`. Reads up to 64 bytes past `end`.
const char* nextQuoteOrMark(const char* p, const char* end) {
#if defined(__SSE2__)
    auto hits = [](const char* q) {
        const __m128i v = load16(q);
        const __m128i mark = _mm_and_si128(equal(v, '*'), equal(load16(q + 1), 'G'));
        return _mm_or_si128(equal(v, '"'), mark);
    };
    return scan64(p, end, hits, [end](const char* step, std::uint64_t bits) {
        return std::min(step + __builtin_ctzll(bits), end);
    });
#else
    for (; p < end; ++p) {
        if (*p == '"' || (*p == '*' && p[1] == 'G')) return p;
    }
    return end;
#endif
}

// In a block, outside strings: passes the braces that do not close the
// block, counting them in `depth` as the plain state would, and returns the first quote, the
// brace that closes the block (with `depth` left at 1), with kStars a '*' followed by `a` or
// `b`, or `end`. The bytes looked at are quotes, those stars, and the bytes b with
// b | 6 == 0x7F ('y', '{', '}', DEL); mesh data, the bulk of a scene, holds few. Reads up to
// 64 bytes past `end`.
template <bool kStars>
const char* passBraces(const char* p, const char* end, std::uint64_t& depth, char a = 0,
                       char b = 0) {
    // false when the byte ends the search
    auto pass = [&depth](char c) {
        if (c == '"' || c == '*') return false;
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (depth == 1) return false;
            if (depth > 1) --depth;  // before the block's first opening brace it counts for nothing
        }
        return true;
    };
#if defined(__SSE2__)
    const __m128i six = _mm_set1_epi8(6), brace = _mm_set1_epi8(0x7F), quote = _mm_set1_epi8('"');
    auto hits = [&](const char* q) {
        const __m128i v = load16(q);
        const __m128i hit =
            _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(v, six), brace), _mm_cmpeq_epi8(v, quote));
        if constexpr (!kStars) return hit;
        const __m128i next = load16(q + 1);
        const __m128i ours = _mm_or_si128(equal(next, a), equal(next, b));
        return _mm_or_si128(hit, _mm_and_si128(equal(v, '*'), ours));
    };
    return scan64(p, end, hits, [&](const char* step, std::uint64_t bits) -> const char* {
        for (; bits != 0; bits &= bits - 1) {
            const char* at = step + __builtin_ctzll(bits);
            if (at >= end) return end;  // the look-ahead is looked at in the next part
            if (!pass(*at)) return at;
        }
        return nullptr;
    });
#else
    for (; p < end; ++p) {
        if (*p == '*') {
            if (kStars && (p[1] == a || p[1] == b)) return p;
        } else if ((*p == '"' || *p == '{' || *p == '}') && !pass(*p)) {
            return p;
        }
    }
    return end;
#endif
}

class Finder {
  public:
    Finder(Read read, std::size_t blockSize)
        : read_(std::move(read)),
          capacity_(std::max<std::size_t>(blockSize, 1) + kLook),
          buffer_(std::make_unique_for_overwrite<char[]>(capacity_ + kPadding)) {
        scene_.blocks.reserve(8);  // most scenes of several meshes hold a few
    }

    SceneMeshes run() {
        std::size_t have = 0;
        bool eof = false;
        std::size_t pos = 0;
        for (;;) {
            while (!eof && have < capacity_) {
                const std::size_t n = read_(buffer_.get() + have, capacity_ - have);
                if (n == 0) {
                    eof = true;
                    break;
                }
                if (const void* stop = std::memchr(buffer_.get() + have, 26, n)) {
                    have = static_cast<std::size_t>(static_cast<const char*>(stop) - buffer_.get());
                    eof = true;  // the text ends at a control-Z
                    break;
                }
                have += n;
            }
            std::memset(buffer_.get() + have, 0, kPadding);
            end_ = buffer_.get() + have;
            textEnds_ = eof;
            const std::size_t own = eof ? have : have - kLook;
            pos = process(pos, own);
            if (eof) break;
            // the look-ahead, and anything a token made us step past, goes to the front
            before_ = buffer_[own - 1];
            const std::size_t keep = have - own;
            std::memmove(buffer_.get(), buffer_.get() + own, keep);
            base_ += own;
            have = keep;
            pos -= own;
        }
        scene_.textSize = base_ + have;
        if (open_) {
            block_.end = scene_.textSize;
            closeBlock();
        }
        return std::move(scene_);
    }

  private:
    enum class State { kPlain, kString, kAfterNodeName, kName };

    // Handles the events in [pos, own) and returns where the next one may start (it may lie
    // past `own`, after a token that reaches into the look-ahead).
    std::size_t process(std::size_t pos, std::size_t own) {
        const char* const b = buffer_.get();
        markKnown_ = false;  // the buffer holds other bytes
        static constexpr char kStringEvents[] = {'"', '\n'};
        while (pos < own) {
            if (state_ == State::kAfterNodeName) {
                const char c = b[pos];
                if (c == '"') {
                    block_.name.emplace();
                    state_ = State::kName;
                    ++pos;
                } else if (c != '\n' && isWhite(c)) {
                    ++pos;
                } else {
                    state_ = State::kPlain;  // no string: the mesh has no name
                }
                continue;
            }
            if (state_ != State::kPlain) {
                const char* e = findEvent(b + pos, b + own, kStringEvents);
                if (state_ == State::kName) keepName(b + pos, e);
                pos = static_cast<std::size_t>(e - b);
                if (pos == own) break;
                if (state_ == State::kName) endName(*e == '\n');
                state_ = State::kPlain;
                ++pos;
                continue;
            }
            if (!open_) pos = markLine(pos, own);
            const char* e = plainEvent(b + pos, b + own);
            pos = static_cast<std::size_t>(e - b);
            if (pos == own) break;
            switch (*e) {
                case '"':
                    state_ = State::kString;
                    break;
                case '{':
                    if (open_) ++depth_;
                    break;
                case '}':
                    if (open_ && depth_ > 0 && --depth_ == 0) {
                        block_.end = base_ + pos + 1;
                        block_.closed = true;
                        closeBlock();
                    }
                    break;
                case '*': {
                    const char prev = pos > 0 ? b[pos - 1] : before_;
                    if (isWhite(prev)) {
                        if (const std::size_t n = token(pos)) {
                            pos += n;
                            continue;
                        }
                    }
                    break;
                }
            }
            ++pos;
        }
        return pos;
    }

    // Outside blocks, in the plain state at pos: where the search may go on. A
    // string ends at a line's end, so at the start of a line the state is the plain one again:
    // the lines before that of the next bytes *GEOMOBJECT starting before `own` change
    // nothing. With no such bytes, it is the start of the last line before `own`.
    // Until pos passes the bytes found, the answer is kept: a long line of many strings asks
    // again after each, and must not be searched again each time.
    std::size_t markLine(std::size_t pos, std::size_t own) {
        const char* const b = buffer_.get();
        if (!markKnown_ || pos > mark_) {
            // a mark starting before `own` ends within the look-ahead, or at the text's end
            const char* last = std::min(b + own + kGeomObject.size() - 1, end_);
            const char* mark = findGeomObject(b + pos, last);
            mark_ = mark ? static_cast<std::size_t>(mark - b) : own;
            const auto* lineFeed = static_cast<const char*>(::memrchr(b + pos, '\n', mark_ - pos));
            markLineStart_ = lineFeed ? static_cast<std::size_t>(lineFeed - b) + 1 : 0;
            markKnown_ = true;
        }
        // the last line feed before the mark, when it lies at or after pos
        return std::max(pos, markLineStart_);
    }

    // The next byte in [p, end) that the plain state acts on, or end. The braces of an open
    // block are counted on the way (up to the closing one), and only the stars that may
    // start a token that changes something are looked at: outside a block *GEOMOBJECT; in
    // one *MESH and *NODE_NAME until seen (a further *GEOMOBJECT there changes nothing), and
    // then none at all.
    const char* plainEvent(const char* p, const char* end) {
        if (!open_) return nextQuoteOrMark(p, end);
        if (block_.isMesh && nameSeen_) return passBraces<false>(p, end, depth_);
        return passBraces<true>(p, end, depth_, block_.isMesh ? 'N' : 'M', nameSeen_ ? 'M' : 'N');
    }

    // True when the token at pos is `keyword`: the bytes, then white space or the text's end.
    bool tokenIs(std::size_t pos, std::string_view keyword) const {
        const char* p = buffer_.get() + pos;
        const std::size_t room = static_cast<std::size_t>(end_ - p);
        if (room < keyword.size() || std::memcmp(p, keyword.data(), keyword.size()) != 0)
            return false;
        return room == keyword.size() ? textEnds_ : isWhite(p[keyword.size()]);
    }

    // Acts on the token starting at pos; returns its length when it was one of ours,
    // 0 otherwise (it is then looked through byte by byte, braces and quotes included).
    std::size_t token(std::size_t pos) {
        if (tokenIs(pos, kGeomObject)) {
            if (!open_) {
                open_ = true;
                depth_ = 0;
                block_ = GeomBlock{};
                block_.begin = base_ + pos;
                nameSeen_ = false;
            }
            return kGeomObject.size();
        }
        if (!open_) return 0;
        if (tokenIs(pos, kMesh)) {
            block_.isMesh = true;
            return kMesh.size();
        }
        if (tokenIs(pos, kNodeName)) {
            if (!nameSeen_) {
                nameSeen_ = true;
                nameSeenBytes_ = 0;
                state_ = State::kAfterNodeName;
            }
            return kNodeName.size();
        }
        return 0;
    }

    // One byte past the limit is kept until the string ends, so that a carriage return
    // before its line feed can still be told apart and left out.
    void keepName(const char* first, const char* last) {
        const std::size_t n = static_cast<std::size_t>(last - first);
        const std::size_t room =
            SceneMeshes::kMaxName + 1 - std::min(block_.name->size(), SceneMeshes::kMaxName + 1);
        block_.name->append(first, std::min(n, room));
        nameSeenBytes_ += n;
    }

    void endName(bool atLineFeed) {
        std::string& name = *block_.name;
        if (atLineFeed && nameSeenBytes_ == name.size() && !name.empty() && name.back() == '\r')
            name.pop_back();
        if (name.size() > SceneMeshes::kMaxName) {
            name.resize(SceneMeshes::kMaxName);
            block_.nameCut = true;
        }
    }

    void closeBlock() {
        if (state_ == State::kName) endName(false);
        if (state_ == State::kAfterNodeName || state_ == State::kName) state_ = State::kPlain;
        if (block_.isMesh) scene_.meshBlocks.push_back(scene_.blocks.size());
        scene_.blocks.push_back(std::move(block_));
        open_ = false;
    }

    Read read_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    const char* end_ = nullptr;  // the end of the bytes in the buffer
    bool textEnds_ = false;      // ... which is the end of the text
    std::uint64_t base_ = 0;     // the input offset of the buffer's first byte
    char before_ = ' ';          // the byte before the buffer's first (the text's start: white)
    State state_ = State::kPlain;
    bool open_ = false;
    std::uint64_t depth_ = 0;
    bool nameSeen_ = false;
    std::size_t nameSeenBytes_ = 0;
    GeomBlock block_;
    SceneMeshes scene_;
    // markLine()'s last answer in this buffer: where the mark it found starts (or `own`), and
    // the start of the line before it (0 when no line feed lies between).
    bool markKnown_ = false;
    std::size_t mark_ = 0;
    std::size_t markLineStart_ = 0;
};

}  // namespace

GeomBlock SceneMeshes::mesh(std::size_t n) const {
    if (meshBlocks.empty()) {
        GeomBlock whole;
        whole.end = textSize;
        return whole;
    }
    return blocks.at(meshBlocks.at(n));
}

std::vector<ByteRange> SceneMeshes::restricted(std::size_t n) const {
    std::vector<ByteRange> ranges;
    auto keep = [&](std::uint64_t begin, std::uint64_t end) {
        if (begin >= end) return;
        if (!ranges.empty() && ranges.back().end == begin) {
            ranges.back().end = end;
        } else {
            ranges.push_back({begin, end});
        }
    };
    if (meshBlocks.empty()) {
        keep(0, textSize);
        return ranges;
    }
    const std::size_t kept = meshBlocks.at(n);
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (i == kept) continue;
        keep(at, blocks[i].begin);
        at = blocks[i].end;
    }
    keep(at, textSize);
    return ranges;
}

SceneMeshes findMeshes(std::FILE* file, std::size_t blockSize) {
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        throw Rejected(std::string("cannot rewind the input: ") + std::strerror(errno));
    }
    std::clearerr(file);
    auto failed = [] {
        return Rejected(std::string("cannot read the input: ") + std::strerror(errno));
    };
    if (const int fd = ::fileno(file); fd >= 0) {
        // A block no larger than the file, as the passes read it: a small scene's buffer then
        // fits where the heap has room, instead of growing it for pages never touched.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            constexpr std::uint64_t kPage = 4096;
            const auto size = static_cast<std::uint64_t>(st.st_size);
            blockSize = static_cast<std::size_t>(
                std::min<std::uint64_t>(blockSize, (size + kPage - 1) / kPage * kPage));
        }
        // Straight from the descriptor at offsets from 0, where the stream stands now: one
        // system call a block, where the stream's own small buffer would add one more.
        return Finder(
                   [fd, at = off_t{0}, failed](char* out, std::size_t size) mutable {
                       for (;;) {
                           const ssize_t n = ::pread(fd, out, size, at);
                           if (n >= 0) {
                               at += n;
                               return static_cast<std::size_t>(n);
                           }
                           if (errno != EINTR) throw failed();
                       }
                   },
                   blockSize)
            .run();
    }
    return Finder(
               [file, failed](char* out, std::size_t size) {
                   const std::size_t n = std::fread(out, 1, size, file);
                   if (n < size && std::ferror(file)) throw failed();
                   return n;
               },
               blockSize)
        .run();
}

SceneMeshes findMeshes(std::string_view text, std::size_t blockSize) {
    const std::size_t step = std::max<std::size_t>(blockSize, 1);
    return Finder(
               [&text, step](char* out, std::size_t size) {
                   const std::size_t n = std::min({size, step, text.size()});
                   std::memcpy(out, text.data(), n);
                   text.remove_prefix(n);
                   return n;
               },
               blockSize)
        .run();
}

std::optional<std::uint64_t> carriageReturnsOnly(std::FILE* file) {
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    const int fd = ::fileno(file);
    std::optional<std::uint64_t> firstReturn;
    std::unique_ptr<char[]> buffer;
    char small[4096];
    for (std::uint64_t at = 0;;) {
        char* bytes = small;
        std::size_t room = sizeof small;
        if (at != 0) {
            // past the first bytes: a text without a line feed so far, read in larger blocks
            if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kBlock);
            bytes = buffer.get();
            room = kBlock;
        }
        const ssize_t n = ::pread(fd, bytes, room, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 ? firstReturn : std::nullopt;
        auto size = static_cast<std::size_t>(n);
        bool ends = false;
        if (const void* stop = std::memchr(bytes, 26, size)) {
            size = static_cast<std::size_t>(static_cast<const char*>(stop) - bytes);
            ends = true;
        }
        if (std::memchr(bytes, '\n', size)) return std::nullopt;
        if (!firstReturn) {
            if (const void* cr = std::memchr(bytes, '\r', size))
                firstReturn = at + static_cast<std::uint64_t>(static_cast<const char*>(cr) - bytes);
        }
        if (ends) return firstReturn;
        at += size;
    }
}

}  // namespace tessloom

namespace tessloom {

namespace {

// The tokens some pass acts on: an inert line holds none of them.
constexpr std::string_view kPassKeywords[] = {
    "*MESH_NUMVERTEX", "*MESH_NUMFACES",    "*MESH_NUMTVERTEX",   "*MESH_NUMTVFACES",
    "*MATERIAL_COUNT", "*MATERIAL_REF",     "*MATERIAL",          "*NUMSUBMTLS",
    "*SUBMATERIAL",    "*MATERIAL_AMBIENT", "*MATERIAL_DIFFUSE",  "*MATERIAL_SPECULAR",
    "*MATERIAL_SHINE", "*BITMAP",           "*UVW_U_TILING",      "*UVW_V_TILING",
    "*UVW_U_OFFSET",   "*UVW_V_OFFSET",     "*MAP_CLASS",         "*MESH_VERTEX",
    "*MESH_TVERT",     "*MESH_FACENORMAL",  "*MESH_VERTEXNORMAL", "*MESH_FACE",
    "*MESH_MTLID",     "*MESH_TFACE"};

bool isPassKeyword(std::string_view token) {
    if (token.size() < 7 || token[0] != '*') return false;
    return std::find(std::begin(kPassKeywords), std::end(kPassKeywords), token) !=
           std::end(kPassKeywords);
}

// A first byte that no pending read takes: not a number's, the bitmap's quote or a corner's
// label.
// White space longer than a line skip reaches: this much of it stands for any more.
constexpr std::uint64_t kLongWhite = Scanner::kMaxSkip + 46;

bool endsPendingReads(char c) {
    return std::string_view("+-.0123456789\"ABC").find(c) == std::string_view::npos;
}

}  // namespace

RestrictedScenes::RestrictedScenes(std::FILE* file, const SceneMeshes& scene, std::uint64_t limit)
    : scene_(scene) {
    for (const GeomBlock& b : scene.blocks) {
        // blocks do not overlap: the outside text before this one is all but the blocks before
        if (b.isMesh) placeOf_.push_back(b.begin - blockBytes_);
        blockBytes_ += b.end - b.begin;
    }
    const std::uint64_t outsideBytes = scene.textSize - blockBytes_;
    if (scene.meshBlocks.empty() || outsideBytes > limit) return;
    compact_ = true;
    outside_.resize(static_cast<std::size_t>(outsideBytes));
    std::size_t filled = 0;
    auto read = [&](std::uint64_t begin, std::uint64_t end) {
        const auto size = static_cast<std::size_t>(end - begin);
        if (size == 0) return;
        if (::fseeko(file, static_cast<off_t>(begin), SEEK_SET) != 0 ||
            std::fread(outside_.data() + filled, 1, size, file) != size) {
            throw Rejected(std::string("cannot read the input: ") +
                           (std::ferror(file) ? std::strerror(errno) : "it became shorter"));
        }
        filled += size;
    };
    std::uint64_t at = 0;
    for (const GeomBlock& b : scene.blocks) {
        read(at, b.begin);
        at = b.end;
    }
    read(at, scene.textSize);
    // the lines, each classed and kept or left out
    // At the text's start every pass stands at a line's first token.
    Flow flow{.chain = true};
    for (std::size_t begin = 0; begin < outside_.size();) {
        const std::size_t lf = outside_.find('\n', begin);
        const std::size_t end = lf == std::string::npos ? outside_.size() : lf + 1;
        Line line;
        line.begin = begin;
        line.end = end;
        line.keptBefore = kept_.size();
        const std::string_view text(outside_.data() + begin, end - begin);
        const bool whole = lf != std::string::npos;
        line.blank = whole && std::all_of(text.begin(), text.end(), Scanner::isWhite);
        if (whole && !line.blank && text.size() <= kMaxInertLine) {
            line.inert = true;
            for (std::size_t p = 0; p < text.size();) {
                while (p < text.size() && Scanner::isWhite(text[p])) ++p;
                std::size_t q = p;
                while (q < text.size() && !Scanner::isWhite(text[q])) ++q;
                if (q == p) break;
                if (line.tokens++ == 0) line.resetting = endsPendingReads(text[p]);
                const std::string_view token = text.substr(p, q - p);
                if (isPassKeyword(token)) {
                    line.inert = line.resetting = false;
                    break;
                }
                // a number read may take the bytes before it and leave a keyword
                if (token.find('*', 1) != std::string_view::npos) line.starInside = true;
                p = q;
            }
        }
        if (!line.blank && !(line.inert && flow.chain)) {
            kept_.append(text);
            flow = flow.after(line);
        }
        line.flowAfter = flow;
        lines_.push_back(line);
        begin = end;
    }
    nonBlank_.resize(lines_.size());
    for (std::size_t k = lines_.size(); k-- > 0;) {
        nonBlank_[k] = lines_[k].blank && k + 1 < lines_.size() ? nonBlank_[k + 1]
                       : lines_[k].blank                        ? lines_.size()
                                                                : k;
    }
}

RestrictedScenes::Flow RestrictedScenes::Flow::after(const Line& kept) const {
    if (!kept.inert) return {};
    if (chain || kept.resetting) return {.chain = true};
    const std::size_t tokens = kept.starInside ? 0 : inertTokens + kept.tokens;
    if (tokens >= kPastPendingReads) return {.chain = true};
    return {.inertTokens = tokens};
}

std::uint64_t RestrictedScenes::size(std::size_t n) const {
    const GeomBlock mesh = scene_.mesh(n);
    if (scene_.meshBlocks.empty()) return scene_.textSize;
    return scene_.textSize - blockBytes_ + (mesh.end - mesh.begin);
}

std::vector<TextPiece> RestrictedScenes::pieces(std::size_t n) const {
    std::vector<TextPiece> out;
    if (!compact_) {
        for (const ByteRange& r : scene_.restricted(n)) out.push_back({r.begin, r.end});
        return out;
    }
    auto memory = [&](const std::string& text, std::uint64_t begin, std::uint64_t end) {
        if (begin < end) out.push_back({0, end - begin, text.data() + begin});
    };
    const GeomBlock mesh = scene_.mesh(n);
    const std::uint64_t place = placeOf_[n];
    // the line that holds the block's place: its first byte at or before it
    const auto after = std::upper_bound(
        lines_.begin(), lines_.end(), place,
        [](std::uint64_t offset, const Line& line) { return offset < line.begin; });
    const std::size_t j =
        after == lines_.begin() ? 0 : static_cast<std::size_t>(after - lines_.begin()) - 1;
    if (j >= lines_.size() || place >= lines_[j].end) {
        // after every line: the kept text, then the block
        memory(kept_, 0, kept_.size());
        out.push_back({mesh.begin, mesh.end});
        return out;
    }
    const Line& line = lines_[j];
    memory(kept_, 0, line.keptBefore);
    if (!line.blank) {
        memory(outside_, line.begin, place);
        out.push_back({mesh.begin, mesh.end});
        memory(outside_, place, line.end);
    } else {
        // A white line around the block (blocks one after another on one line): the white
        // before the block's first token changes nothing, and after its last token only
        // whether a skip of at most kMaxSkip bytes reaches the line feed.
        static const std::string kWhiteLine = std::string(kLongWhite, ' ') + '\n';
        out.push_back({mesh.begin, mesh.end});
        if (line.end - place > kLongWhite + 1) {
            memory(kWhiteLine, 0, kWhiteLine.size());
        } else {
            memory(outside_, place, line.end);
        }
    }
    // The lines after, read from an unknown state (the block's end stands before them): the
    // kept text's state is at least as far on as that one, and so may have left out lines
    // that must be taken again, until both states agree.
    std::size_t k = j + 1;
    const Flow& keptFlow = line.flowAfter;
    if (keptFlow.chain || keptFlow.inertTokens != 0) {
        Flow flow;
        for (k = k < lines_.size() ? nonBlank_[k] : k; k < lines_.size();
             k = k + 1 < lines_.size() ? nonBlank_[k + 1] : lines_.size()) {
            const Line& next = lines_[k];
            if (!next.inert) break;  // kept in both, where both states become the same
            memory(outside_, next.begin, next.end);
            flow = flow.after(next);
            if (flow.chain) {
                ++k;
                break;
            }
        }
    }
    if (k < lines_.size()) memory(kept_, lines_[k].keptBefore, kept_.size());
    return out;
}

}  // namespace tessloom
