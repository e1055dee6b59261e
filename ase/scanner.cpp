// Block reading with text-mode translation, tokens, line skipping and the number grammars.
#include "ase/scanner.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ase/bytes.h"
#include "ase/scene.h"

namespace tessloom {

namespace {

// Bytes kept from the previous block at a refill: an unfinished token of up to kMaxToken
// characters, or what a look-ahead needs.
constexpr std::size_t kKeep = Scanner::kMaxPeek;
// Blocks are read to a page boundary; the kept bytes go in the head before it.
constexpr std::size_t kPage = 4096;
// Exponents saturate here; far beyond any float's range, far below overflow.
constexpr std::int64_t kExponentLimit = 1'000'000'000'000;

using scan::digitValue;
using scan::fourDigits;
using scan::isDigit;
using scan::kPadding;
using scan::takeSign;

#if defined(__SSE2__)
using scan::whiteMask;

// The first white byte at or after p; the sentinel guarantees one.
inline char* findWhite(char* p) {
    for (;; p += 16) {
        if (const unsigned m = whiteMask(p)) return p + __builtin_ctz(m);
    }
}

// The first byte at or after p that is not white space, or end.
inline char* skipWhiteUntil(char* p, char* end) {
    for (; p < end; p += 16) {
        if (const unsigned m = ~whiteMask(p) & 0xffffu) return std::min(p + __builtin_ctz(m), end);
    }
    return end;
}
#else
inline char* findWhite(char* p) {
    while (!Scanner::isWhite(*p)) ++p;
    return p;
}

inline char* skipWhiteUntil(char* p, char* end) {
    while (p != end && Scanner::isWhite(*p)) ++p;
    return p;
}
#endif

// Decimal exponent m of the value d.ddd x 10^m written in [first, last), which holds at
// least one non-zero digit.
std::int64_t decimalExponent(const char* first, const char* last) {
    std::int64_t integerDigits = 0;
    std::int64_t index = 0;
    std::int64_t firstNonZero = -1;
    bool fraction = false;
    const char* p = first;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            fraction = true;
            continue;
        }
        if (!fraction) ++integerDigits;
        if (firstNonZero < 0 && *p != '0') firstNonZero = index;
        ++index;
    }
    std::int64_t exponent = 0;
    if (p != last) {
        ++p;
        const bool negative = takeSign(p);  // digits follow the e
        for (; p != last; ++p) {
            exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), kExponentLimit);
        }
        if (negative) exponent = -exponent;
    }
    return integerDigits - firstNonZero - 1 + exponent;
}

// Bytes a number of the "%f" grammar may hold.
constexpr bool isNumberByte(char c) {
    return isDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

// What the "%f" grammar takes from a text: [sign] digits [. digits] with at least one digit
// (on either side of the point), then, only after a digit, e or E, [sign], digits. An e
// without digits is taken and ignored; a sign or point taken without any digit is lost.
struct FloatText {
    const char* end;              // past the last byte taken
    const char* first;            // the first digit or point, after the sign
    const char* last;             // past the digits, and past the exponent when it has digits
    std::uint64_t mantissa = 0;   // the digits as one integer, exact when at most 19
    std::size_t significant = 0;  // digits, leading zeros included
    std::size_t decimals = 0;     // digits after the point
    bool negative = false;
    bool digits = false;    // at least one: a number
    bool exponent = false;  // with exponent digits
};

// Reads the grammar at p. The text must end in a byte that no number holds (the scanner's
// sentinel) with four bytes readable after it.
FloatText scanFloat(const char* p) {
    FloatText n;
    n.negative = takeSign(p);
    n.first = p;
    std::uint64_t m = 0;
    while (isDigit(*p)) m = m * 10 + digitValue(*p++);
    n.significant = static_cast<std::size_t>(p - n.first);
    n.digits = p != n.first;
    if (*p == '.') {
        const char* const fraction = ++p;
        // exporters write four decimals: most fractions in one step
        if (const int four = fourDigits(p); four >= 0) {
            m = m * 10'000 + static_cast<std::uint64_t>(four);
            p += 4;
        }
        while (isDigit(*p)) m = m * 10 + digitValue(*p++);
        n.decimals = static_cast<std::size_t>(p - fraction);
        n.significant += n.decimals;
        n.digits = n.digits || p != fraction;
    }
    n.mantissa = m;
    n.last = p;
    if (n.digits && (*p == 'e' || *p == 'E')) {
        ++p;
        takeSign(p);
        n.exponent = isDigit(*p);
        while (isDigit(*p)) ++p;
        if (n.exponent) n.last = p;
    }
    n.end = p;
    return n;
}

// [first, last) of a FloatText, without its sign, rounded to the nearest float; out of range
// gives infinity or zero.
float decimalToFloat(const char* first, const char* last) {
    float value = 0;
    if (std::from_chars(first, last, value).ec == std::errc::result_out_of_range) {
        value = decimalExponent(first, last) >= 0 ? std::numeric_limits<float>::infinity() : 0.0f;
    }
    return value;
}

// Exact powers of ten as floats: 10^10 = 2^10 * 9765625 still fits a float's 24 bits.
constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                  1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// The value of a number the grammar took, rounded to the nearest float. At most 19 digits
// without an exponent make an exact integer: one that fits a float's 24 bits divided by an
// exact power of ten is one correctly rounded division. The rest goes to decimalToFloat().
float toFloat(const FloatText& n) {
    const float value =
        !n.exponent && n.significant <= 19 && n.mantissa <= (1u << 24) && n.decimals <= 10
            ? static_cast<float>(n.mantissa) / kPowersOfTen[n.decimals]
            : decimalToFloat(n.first, n.last);
    return n.negative ? -value : value;
}

// The grammar read in `text`, which keeps its bytes: the buffer's sentinel and padding stand
// after them while it is read.
FloatText scanText(std::string& text) {
    const std::size_t size = text.size();
    text.push_back('\n');
    text.append(kPadding, '\0');
    const FloatText n = scanFloat(text.data());
    text.resize(size);  // keeps the storage: n still points into it
    return n;
}

// A block sized to the file, for the small scenes most runs convert: the bytes to the
// next page boundary past the end, so the read that meets the end is the only short one.
std::size_t blockSizeFor(std::FILE* file, std::size_t blockSize) {
    struct stat st {};
    const int fd = ::fileno(file);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        return blockSize;  // a size that reads as 0 (as in /proc) says nothing
    }
    const auto size = static_cast<std::uint64_t>(st.st_size) + 1;
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(blockSize, (size + kPage - 1) / kPage * kPage));
}

}  // namespace

Scanner::Scanner(std::FILE* file, std::size_t blockSize)
    : file_(file), blockSize_(blockSizeFor(file, std::max<std::size_t>(blockSize, 1))) {
    // room for the kept tail, slack to align the block,
    // one block, the sentinel, and the padding
    const std::size_t size = kKeep + kPage - 1 + blockSize_ + 1 + kPadding;
    buffer_ = std::make_unique_for_overwrite<char[]>(size);
    const auto head = reinterpret_cast<std::uintptr_t>(buffer_.get() + kKeep);
    blockStart_ = buffer_.get() + kKeep + ((kPage - head % kPage) % kPage);
    pos_ = end_ = blockStart_;
    setSentinel();
}

Scanner::Scanner(std::FILE* file, std::size_t blockSize, std::vector<TextPiece> pieces)
    : Scanner(file, blockSize) {
    pieces_ = std::move(pieces);
    inPieces_ = true;
}

// The line feed after the data; the padding after it is read by the 16-byte scans but
// never decides anything: defined all the same.
void Scanner::setSentinel() {
    *end_ = '\n';
    std::memset(end_ + 1, 0, kPadding);
}

void Scanner::rewind() {
    // the marks are counted in the first pass, which reads the whole text
    if (rewound_) marking_ = false;
    rewound_ = true;
    if (wholeEnd_) {
        // The whole input came in the first block and is still there, translated: the next
        // pass reads it again from the buffer. Small scenes, most of them, are read once.
        pos_ = blockStart_;
        end_ = wholeEnd_;
        fileExhausted_ = inputEnded_ = true;
        return;
    }
    if (std::fseek(file_, 0, SEEK_SET) != 0) {
        throw Rejected(std::string("cannot rewind the input: ") + std::strerror(errno));
    }
    std::clearerr(file_);
    pos_ = end_ = blockStart_;
    setSentinel();
    fileExhausted_ = inputEnded_ = false;
    bytesRead_ = 0;
    range_ = 0;
    rangeDone_ = 0;
    filePos_ = 0;
}

// One block from the file, or from the pieces in turn; short only at the end.
std::size_t Scanner::readBlock() {
    if (inPieces_) return readPieces();
    return std::fread(blockStart_, 1, blockSize_, file_);
}

// Up to `want` bytes of the file from offset `at`, into the block after its first `n`
// bytes; the file is sought only when it does not stand there already.
std::size_t Scanner::readFileAt(std::uint64_t at, std::size_t want, std::size_t n) {
    if (filePos_ != at && ::fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0) {
        throw Rejected(std::string("cannot read the input: ") + std::strerror(errno));
    }
    const std::size_t got = std::fread(blockStart_ + n, 1, want, file_);
    filePos_ = at + got;
    return got;
}

// One block from the pieces in turn; short only at the end.
std::size_t Scanner::readPieces() {
    std::size_t n = 0;
    while (n < blockSize_ && range_ < pieces_.size()) {
        const TextPiece& p = pieces_[range_];
        const std::uint64_t at = p.begin + rangeDone_;
        if (at >= p.end) {
            ++range_;
            rangeDone_ = 0;
            continue;
        }
        const std::uint64_t stop = std::min<std::uint64_t>(p.end, at + (blockSize_ - n));
        const std::size_t want = static_cast<std::size_t>(stop - at);
        if (p.memory) {
            std::memcpy(blockStart_ + n, p.memory + at, want);
            n += want;
            rangeDone_ += want;
            continue;
        }
        const std::size_t got = readFileAt(at, want, n);
        n += got;
        rangeDone_ += got;
        if (got < want) {
            if (!std::ferror(file_)) range_ = pieces_.size();  // the file ends sooner
            break;
        }
    }
    return n;
}

// Marks wholly inside [first, last) are found as the mesh search finds them; a mark that
// began in the bytes before is completed from the kept tail.
void Scanner::countMarks(const char* first, const char* last) {
    constexpr std::size_t kSize = kGeomObject.size();
    static_assert(kSize <= sizeof markTail_);
    const std::size_t size = static_cast<std::size_t>(last - first);
    char joint[2 * sizeof markTail_];
    const std::size_t head = std::min(size, kSize - 1);
    std::memcpy(joint, markTail_, markTailSize_);
    std::memcpy(joint + markTailSize_, first, head);
    for (std::size_t at = 0; at < markTailSize_; ++at) {
        if (at + kSize <= markTailSize_ + head &&
            std::memcmp(joint + at, kGeomObject.data(), kSize) == 0) {
            ++marks_;
        }
    }
    for (const char* p = first; (p = findGeomObject(p, last)) != nullptr; ++p) ++marks_;
    // a mark still open began within the last kSize - 1 bytes
    const std::size_t total = markTailSize_ + size;
    const std::size_t keep = std::min(total, kSize - 1);
    if (size >= keep) {
        std::memcpy(markTail_, last - keep, keep);
    } else {
        std::memmove(markTail_, markTail_ + (markTailSize_ - (keep - size)), keep - size);
        std::memcpy(markTail_ + (keep - size), first, size);
    }
    markTailSize_ = keep;
}

// Moves the unread bytes to just before the block area and reads the next block into it.
// Blocks land on a page boundary, where the kernel copies them fastest. The sentinel after
// the data is a line feed, so a token scan stops at the end without a bounds test.
bool Scanner::refill() {
    if (inputEnded_) return false;
    for (;;) {
        if (fileExhausted_) {
            inputEnded_ = true;
            return false;
        }
        const bool fromStart = bytesRead_ == 0 && end_ == blockStart_;
        const std::size_t tail = static_cast<std::size_t>(end_ - pos_);
        assert(tail <= kKeep);
        std::memmove(blockStart_ - tail, pos_, tail);
        pos_ = blockStart_ - tail;
        const std::size_t n = readBlock();
        if (n < blockSize_) {
            if (std::ferror(file_)) {
                throw Rejected(std::string("cannot read the input: ") + std::strerror(errno));
            }
            fileExhausted_ = true;
        }
        end_ = blockStart_ + n;
        if (char* stop = static_cast<char*>(std::memchr(blockStart_, 26, n))) {
            end_ = stop;
            inputEnded_ = true;
            char next = 0;  // whether the control-Z cuts off any text, for a listener
            textAfterControlZ_ = stop + 1 != blockStart_ + n ||
                                 (!fileExhausted_ && std::fread(&next, 1, 1, file_) == 1);
        }
        bytesRead_ += static_cast<std::size_t>(end_ - blockStart_);
        if (blockRead_) blockRead_(static_cast<std::uint64_t>(end_ - blockStart_));
        if (marking_) {
            countMarks(blockStart_, end_);
            const auto size = static_cast<std::size_t>(end_ - blockStart_);
            if (!lineFeedSeen_ && std::memchr(blockStart_, '\n', size)) lineFeedSeen_ = true;
            if (!lineFeedSeen_ && !returnSeen_ && std::memchr(blockStart_, '\r', size))
                returnSeen_ = true;
        }
        setSentinel();
        if (fromStart && (fileExhausted_ || inputEnded_)) wholeEnd_ = end_;
        if (end_ != blockStart_) return true;
        if (inputEnded_) return false;
    }
}

bool Scanner::ensure(std::size_t count) {
    while (static_cast<std::size_t>(end_ - pos_) < count && refill()) {
    }
    return pos_ != end_;
}

int Scanner::peek() {
    if (pos_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(*pos_);
}

void Scanner::skipWhiteRun() {
    for (;;) {
        pos_ = skipWhiteUntil(pos_, end_);
        if (pos_ != end_ || !refill()) return;
    }
}

// The token scan without the 32-byte look-ahead: near the block's end, or white space or a
// token that does not fit in it.
bool Scanner::nextTokenSlow(std::string_view& token) {
    skipWhite();
    if (pos_ == end_) return false;
    std::size_t length = 0;
    for (;;) {
        const char* p = findWhite(pos_ + length);
        length = static_cast<std::size_t>(p - pos_);
        if (p != end_ || inputEnded_) break;
        if (length > kMaxToken) return longToken(token, length);
        if (!refill()) break;
    }
    token = std::string_view(pos_, length);
    pos_ += length;
    return true;
}

// Same result as calling nextToken() until the keyword comes, but it jumps from one
// occurrence of the keyword's first character to the next: a match must start a token
// (white space or the search's start before it) and end one (white space or the end after).
bool Scanner::findTokenSlow(std::string_view keyword) {
    bool boundary = true;  // whether a token may start at pos_
    for (;;) {
        char* hit = static_cast<char*>(
            std::memchr(pos_, keyword[0], static_cast<std::size_t>(end_ - pos_)));
        if (!hit) {
            if (end_ != pos_) boundary = isWhite(end_[-1]);
            pos_ = end_;
            if (!refill()) return false;
            continue;
        }
        if (hit == pos_ ? !boundary : !isWhite(hit[-1])) {
            pos_ = hit + 1;
            boundary = false;
            continue;
        }
        pos_ = hit;
        ensure(keyword.size() + 1);  // keeps pos_, so the check below sees whole bytes
        const std::size_t available = static_cast<std::size_t>(end_ - pos_);
        if (available >= keyword.size() && std::memcmp(pos_, keyword.data(), keyword.size()) == 0 &&
            isWhite(pos_[keyword.size()])) {  // at the end of input this is the sentinel
            pos_ += keyword.size();
            return true;
        }
        ++pos_;
        boundary = false;
    }
}

// A token that has outgrown kMaxToken at the end of the buffer: keep its head, which is
// already too long to equal a keyword, and consume the rest of it.
bool Scanner::longToken(std::string_view& token, std::size_t length) {
    spill_.assign(pos_, length);
    pos_ = end_;
    while (refill()) {
        pos_ = findWhite(pos_);
        if (pos_ != end_) break;
    }
    token = spill_;
    return true;
}

// Skipping a line that may run past the block's end, a byte at a time.
bool Scanner::skipLineSlow() {
    for (std::size_t left = kMaxSkip; left != 0; --left) {
        if (pos_ == end_ && !refill()) return false;
        const char c = *pos_++;
        if (c == '\n') return true;
        if (c == '\r') {
            // before a line feed it takes no room: the line feed ends the line
            if (pos_ == end_ && !refill()) return false;
            if (*pos_ == '\n') {
                ++pos_;
                return true;
            }
        }
    }
    return false;
}

bool Scanner::nextTokenIsSlow(std::string_view keyword) {
    ensure(keyword.size() + 1);  // keeps pos_; past the input's end stands the sentinel
    return static_cast<std::size_t>(end_ - pos_) >= keyword.size() &&
           std::memcmp(pos_, keyword.data(), keyword.size()) == 0 && isWhite(pos_[keyword.size()]);
}

bool Scanner::skipBlanksInLine() {
    for (;;) {
        while (pos_ != end_ && *pos_ != '\n' && isWhite(*pos_)) ++pos_;
        if (pos_ != end_) return *pos_ != '\n';
        if (!refill()) return false;
    }
}

std::string_view Scanner::peekLine(std::size_t limit) {
    limit = std::min(limit, kMaxPeek);
    ensure(limit);  // keeps pos_
    const std::size_t size = std::min(limit, static_cast<std::size_t>(end_ - pos_));
    const void* lineFeed = std::memchr(pos_, '\n', size);
    return {pos_,
            lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - pos_) : size};
}

bool Scanner::lineEndsHere() const {
    for (const char* p = pos_; p != end_; ++p) {
        if (*p == '\n') return true;
        if (!isWhite(*p)) return false;
    }
    return inputEnded_ || fileExhausted_;
}

bool Scanner::readWord(std::string& out) {
    skipWhite();
    if (pos_ == end_) return false;
    out.clear();
    for (;;) {
        char* p = findWhite(pos_);
        out.append(pos_, p);
        pos_ = p;
        if (p != end_ || !refill()) break;
    }
    return true;
}

std::string Scanner::upcoming(std::size_t limit) {
    ensure(limit + 1);
    const char* p = pos_;
    while (p != end_ && static_cast<std::size_t>(p - pos_) < limit && !isWhite(*p)) ++p;
    return std::string(static_cast<const char*>(pos_), p);
}

bool Scanner::atWhiteOrEnd() {
    const int c = peek();
    return c < 0 || isWhite(static_cast<char>(c));
}

bool Scanner::skipWhiteAcrossLines() {
    bool lineFeed = false;
    for (int c = peek(); c >= 0 && isWhite(static_cast<char>(c)); c = peek()) {
        lineFeed = lineFeed || c == '\n';
        ++pos_;
    }
    return lineFeed;
}

namespace {

constexpr std::int64_t kIntLimit = std::int64_t{1} << 31;

std::int32_t saturatedInt(bool negative, std::int64_t magnitude) {
    return negative ? static_cast<std::int32_t>(-magnitude)
                    : static_cast<std::int32_t>(std::min(magnitude, kIntLimit - 1));
}

}  // namespace

bool Scanner::readIntSlow(std::int32_t& out) {
    peek();  // at the input's end, the sentinel stands there
    const bool negative = scan::takeSign(pos_);
    int c = peek();
    if (!isDigit(c)) return false;
    std::int64_t magnitude = 0;
    do {
        magnitude = std::min(magnitude * 10 + (c - '0'), kIntLimit);
        ++pos_;
        c = peek();
    } while (isDigit(c));
    out = saturatedInt(negative, magnitude);
    return true;
}

// The whole grammar, read in place; a number that runs into the end of the buffer is read
// from the spill buffer.
bool Scanner::readFloatText(float& out) {
    const FloatText n = scanFloat(pos_);
    if (n.end == end_ && !inputEnded_) return readSpilledFloat(out);
    pos_ = const_cast<char*>(n.end);
    if (!n.digits) return false;
    out = toFloat(n);
    return true;
}

// A number that ran into the end of the buffer: its bytes, and those that follow it in the
// next blocks as long as they are bytes a number may hold, are gathered in spill_ and read
// there. Digits never end a number, so it is read again only when a block brings another
// byte, of which a number takes at most four; when that read ends before the bytes gathered,
// the bytes past its end, all from the last block, are given back to the buffer.
bool Scanner::readSpilledFloat(float& out) {
    spill_.assign(pos_, end_);
    pos_ = end_;
    while (refill()) {
        char* p = pos_;
        bool other = false;  // a byte other than a digit
        for (; isNumberByte(*p); ++p) other = other || !isDigit(*p);
        spill_.append(pos_, p);
        pos_ = p;
        if (p == end_ && !other) continue;
        const auto taken = static_cast<std::size_t>(scanText(spill_).end - spill_.data());
        pos_ -= spill_.size() - taken;
        spill_.resize(taken);
        if (p != end_ || pos_ != p) break;
    }
    const FloatText n = scanText(spill_);
    if (!n.digits) return false;
    out = toFloat(n);
    return true;
}

}  // namespace tessloom
