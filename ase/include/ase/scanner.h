// Token scanner: streams an ASE file through one fixed buffer and offers the reads the passes use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ase/bytes.h"
#include "ase/meshes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessloom {

// Reads the input as text: a carriage return right before a line feed reads as if it were
// not there (it is white space, and takes no room in a line), a lone one is kept, and a
// control-Z (byte 26) ends the input. Memory stays at the buffer whatever the
// input's size. Reads that fail leave their target unchanged; read errors throw Rejected.
class Scanner {
  public:
    static constexpr std::size_t kMaxToken = 255;  // longer tokens never equal a keyword
    static constexpr std::size_t kMaxSkip = 254;   // skipLine() discards at most this many

    // The stream stays owned by the caller. Blocks are at most `blockSize` bytes, and no
    // larger than a regular file's size needs.
    explicit Scanner(std::FILE* file, std::size_t blockSize);
    // Reads these pieces in order, as if they were the whole file: the passes then see a
    // scene restricted to one mesh exactly as a file holding only those bytes.
    Scanner(std::FILE* file, std::size_t blockSize, std::vector<TextPiece> pieces);

    // Back to the start of the input for a new pass.
    void rewind();

    // Bytes taken from the input in the pass, up to a control-Z.
    std::uint64_t bytesRead() const { return bytesRead_; }
    // Calls `heard` after each block read, with its size.
    void onBlockRead(std::function<void(std::uint64_t)> heard) { blockRead_ = std::move(heard); }

    // How often the bytes *GEOMOBJECT occur, anywhere, in what the first pass read: fewer
    // than two, and the scene holds at most one mesh. One search for a rare byte per block.
    std::uint64_t objectMarks() const { return marks_; }

    // Skips white space and reads one token. The view lives until the next call on the
    // scanner. A token longer than kMaxToken is consumed whole and comes back longer than
    // kMaxToken, so it never equals a keyword. False at end of input.
    bool nextToken(std::string_view& token);

    // Discards up to and including the next line feed, at most kMaxSkip characters; true
    // when a line feed ended it.
    bool skipLine();

    // Where the next read starts, in bytes from the start of the input.
    std::uint64_t offset() const { return bytesRead_ - static_cast<std::uint64_t>(end_ - pos_); }

    // True when nothing but white space stands between here and the next line feed, within
    // what the buffer holds (or when the input ends here).
    bool lineEndsHere() const;

    // Skips any amount of white space, none included (a blank, tab or line feed in a format).
    void skipWhite() {
        // most values are preceded by a single separator; the sentinel sends pos_ == end_ on
        if (!isWhite(*pos_)) return;
        if (pos_ + 1 < end_ && !isWhite(pos_[1])) {
            ++pos_;
            return;
        }
        skipWhiteRun();
    }

    // Discards tokens, across line ends, up to and including the first that equals
    // `keyword` (which begins with a non-white character); false at end of input.
    bool findToken(std::string_view keyword);

    // Skips white space, across lines, and tells whether the next token is `keyword`, which
    // stays unread.
    bool nextTokenIs(std::string_view keyword);

    // Skips white space up to the next line feed, which stays unread; true when a token
    // follows on this line.
    bool skipBlanksInLine();

    // The text from here to the next line feed or the input's end, of at most `limit` bytes
    // and at most kMaxPeek; nothing is consumed. Valid until the next read.
    static constexpr std::size_t kMaxPeek = 256;  // what a refill keeps of the last block
    std::string_view peekLine(std::size_t limit);

    // Blank, tab, line feed, vertical tab, form feed, carriage return: one bit test.
    static constexpr bool isWhite(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= ' ' && ((std::uint64_t{0x100003E00} >> u) & 1) != 0;
    }

    // Consumes c when it is the next character; otherwise leaves the input as it is.
    bool literal(char c);

    // "%d": white space, an optional sign and decimal digits, saturated to the int32 range.
    [[gnu::always_inline]] bool readInt(std::int32_t& out);

    // "%f": white space, then [sign] digits [. digits] with at least one digit, then an
    // optional exponent; rounded to the nearest float, overflow to infinity.
    bool readFloat(float& out);

    // "%s": white space, then one whole token of any length.
    bool readWord(std::string& out);

    // For a listener that reports what the passes do; the passes themselves never call
    // these, so they cost the plain conversion nothing.
    // The next characters up to white space, at most `limit` of them; nothing is consumed.
    std::string upcoming(std::size_t limit);
    // True when the next character is white space or the input ends here.
    bool atWhiteOrEnd();
    // skipWhite(), telling whether it passed a line feed.
    bool skipWhiteAcrossLines();
    // True when the input was ended by a control-Z that more bytes follow.
    bool textAfterControlZ() const { return textAfterControlZ_; }
    // True when what the first pass read holds a carriage return and no line feed: the whole
    // text is one line. The first block of most texts has a line feed near its start.
    bool returnsWithoutLineFeed() const { return returnSeen_ && !lineFeedSeen_; }

  private:
    // The common cases above are inline, since every line of a scene takes several of them;
    // these take the rest: the block's end near, long tokens, unusual numbers.
    bool nextTokenSlow(std::string_view& token);
    bool nextTokenIsSlow(std::string_view keyword);
    bool findTokenSlow(std::string_view keyword);
    bool skipLineSlow();
    void setSentinel();
    void skipWhiteRun();
    bool refill();
    std::size_t readBlock();
    std::size_t readPieces();
    std::size_t readFileAt(std::uint64_t at, std::size_t want, std::size_t n);
    void countMarks(const char* first, const char* last);
    bool ensure(std::size_t count);
    int peek();
    bool longToken(std::string_view& token, std::size_t length);
    bool readIntSlow(std::int32_t& out);
    bool readFloatText(float& out);
    bool readSpilledFloat(float& out);

    std::FILE* file_;
    std::size_t blockSize_;
    std::unique_ptr<char[]> buffer_;  // never zero-filled: each page costs only when used
    char* blockStart_;
    char* pos_;
    char* end_;
    bool fileExhausted_ = false;  // the file (or the last range) has given its last byte
    bool inputEnded_ = false;     // nothing more comes into the buffer: file end or control-Z
    std::uint64_t bytesRead_ = 0;
    std::function<void(std::uint64_t)> blockRead_;
    char* wholeEnd_ = nullptr;  // set when the whole input is in the buffer from its start
    std::string spill_;         // the head of a token that outgrew the buffer, or a whole number
    std::vector<TextPiece> pieces_;  // with `inPieces_`, the text read
    bool inPieces_ = false;
    std::uint64_t filePos_ = UINT64_MAX;  // where the file stands, when known
    std::size_t range_ = 0;               // the piece being read, and how far
    std::uint64_t rangeDone_ = 0;
    bool marking_ = true;  // counting marks: until the first pass ends
    bool rewound_ = false;
    std::uint64_t marks_ = 0;
    char markTail_[16] = {};  // the last bytes before the block, for a mark across it
    std::size_t markTailSize_ = 0;
    bool textAfterControlZ_ = false;
    bool lineFeedSeen_ = false, returnSeen_ = false;
};

inline bool Scanner::nextToken(std::string_view& token) {
#if defined(__SSE2__)
    // Usually the white space before the token and the token itself lie in the next 32
    // bytes: one mask gives both ends.
    if (end_ - pos_ >= 32) {
        const std::uint32_t white =
            scan::whiteMask(pos_) | (std::uint32_t{scan::whiteMask(pos_ + 16)} << 16);
        if (white != 0xffffffffu) {
            const unsigned start = static_cast<unsigned>(__builtin_ctz(~white));
            if (const std::uint32_t after = white & (0xffffffffu << start)) {
                const unsigned stop = static_cast<unsigned>(__builtin_ctz(after));
                token = std::string_view(pos_ + start, stop - start);
                pos_ += stop;
                return true;
            }
        }
    }
#endif
    return nextTokenSlow(token);
}

inline bool Scanner::skipLine() {
    // the whole allowance is here, and the byte after it: a line feed there still ends the
    // line when a carriage return, which takes no room, stands before it
    if (static_cast<std::size_t>(end_ - pos_) > kMaxSkip) {
        char* lf = scan::findLineFeed(pos_, kMaxSkip + 1);
        if (lf && (lf - pos_ < static_cast<std::ptrdiff_t>(kMaxSkip) || lf[-1] == '\r')) {
            pos_ = lf + 1;
            return true;
        }
        pos_ += kMaxSkip;
        return false;
    }
    return skipLineSlow();
}

// Most searches end within the next line: the keyword's first character is looked for 16
// bytes at a time among the next 128, each place checked as the token loop would see it
// (white space or the search's start before, white space after). Farther searches, and
// those near the block's end, go on in findTokenSlow() from the same place.
inline bool Scanner::findToken(std::string_view keyword) {
    skipWhite();
#if defined(__SSE2__)
    constexpr std::ptrdiff_t kNear = 128;
    if (end_ - pos_ > kNear + static_cast<std::ptrdiff_t>(keyword.size())) {
        const __m128i first = _mm_set1_epi8(keyword[0]);
        for (char* p = pos_; p != pos_ + kNear; p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            for (unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, first)));
                 m != 0; m &= m - 1) {
                char* hit = p + __builtin_ctz(m);
                if ((hit == pos_ || isWhite(hit[-1])) &&
                    std::memcmp(hit, keyword.data(), keyword.size()) == 0 &&
                    isWhite(hit[keyword.size()])) {
                    pos_ = hit + keyword.size();
                    return true;
                }
            }
        }
    }
#endif
    return findTokenSlow(keyword);
}

[[gnu::always_inline]] inline bool Scanner::literal(char c) {
    if (pos_ == end_ && !refill()) return false;
    if (*pos_ != c) return false;
    ++pos_;
    return true;
}

inline bool Scanner::nextTokenIs(std::string_view keyword) {
    skipWhite();
    if (static_cast<std::size_t>(end_ - pos_) <= keyword.size()) return nextTokenIsSlow(keyword);
    return std::memcmp(pos_, keyword.data(), keyword.size()) == 0 && isWhite(pos_[keyword.size()]);
}

// Indices and counts: an optional sign, one to nine digits and a byte that is no digit, all
// well before the block's end. Anything else is read a character at a time.
inline bool Scanner::readInt(std::int32_t& out) {
    skipWhite();
    const char* p = pos_;
    if (end_ - p >= 16) {
        const bool negative = scan::takeSign(p);
        const char* const first = p;
        std::uint32_t value = 0;  // below 10^9: no saturation to think of
        for (const char* const stop = p + 9; p != stop; ++p) {
            const std::uint32_t d = scan::digitValue(*p);
            if (d > 9) break;
            value = value * 10 + d;
        }
        if (p != first && !scan::isDigit(*p)) {
            pos_ = const_cast<char*>(p);
            out = negative ? -static_cast<std::int32_t>(value) : static_cast<std::int32_t>(value);
            return true;
        }
    }
    return readIntSlow(out);
}

// Coordinates, normals and colours as exporters write them: an optional sign, one to four
// integer digits, a point and four decimals, then white space before the buffer's end. The
// digits m over 10^4 are rounded to the nearest float. Every other text goes to
// readFloatText(), which reads the whole grammar.
inline bool Scanner::readFloat(float& out) {
    skipWhite();
    const char* p = pos_;
    const bool negative = scan::takeSign(p);
    const char* const first = p;
    std::uint32_t whole = 0;  // below 10^4, so the mantissa stays below 10^8
    for (const char* const stop = p + 4; p != stop; ++p) {
        const std::uint32_t d = scan::digitValue(*p);
        if (d > 9) break;
        whole = whole * 10 + d;
    }
    if (p != first && *p == '.') {
        const int four = scan::fourDigits(p + 1);
        if (four >= 0 && isWhite(p[5]) && p + 5 != end_) {
            const float value =
                scan::fourDecimalsToFloat(whole * 10'000 + static_cast<std::uint32_t>(four));
            out = negative ? -value : value;
            pos_ = const_cast<char*>(p + 5);
            return true;
        }
    }
    return readFloatText(out);
}

}  // namespace tessloom
