// Block reading with text-mode translation, tokens, line skipping and the number grammars.
#include "ase/scanner.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#include "ase/scene.h"

namespace tessloom {

namespace {

// Bytes kept from the previous block at a refill: an unfinished token of up to kMaxToken
// characters, or the look-ahead a number needs.
constexpr std::size_t kKeep = 256;
// A number read in place needs this much look-ahead; a longer one takes the slow road.
constexpr std::size_t kNumberSpan = 128;
// Significant digits kept by the slow number road; further non-zero digits only mark the
// value as above the kept ones, which is all that correct rounding needs of them.
constexpr std::size_t kMaxSignificant = 200;
// Exponents saturate here; far beyond any float's range, far below overflow.
constexpr std::int64_t kExponentLimit = 1'000'000'000'000;

constexpr bool isWhite(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

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
        bool negative = false;
        if (p != last && (*p == '+' || *p == '-')) negative = *p++ == '-';
        for (; p != last; ++p) {
            exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), kExponentLimit);
        }
        if (negative) exponent = -exponent;
    }
    return integerDigits - firstNonZero - 1 + exponent;
}

}  // namespace

float convertFloat(const char* first, const char* last, bool negative) {
    float value = 0;
    auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = decimalExponent(first, last) >= 0 ? std::numeric_limits<float>::infinity() : 0.0f;
    }
    return negative ? -value : value;
}

Scanner::Scanner(std::FILE* file, std::size_t blockSize)
    : file_(file), blockSize_(std::max<std::size_t>(blockSize, 1)) {
    // kept tail, a held-back carriage return, one block, and the sentinel
    buffer_.resize(kKeep + 1 + blockSize_ + 1);
    pos_ = end_ = buffer_.data();
    *end_ = '\n';
}

void Scanner::rewind() {
    if (std::fseek(file_, 0, SEEK_SET) != 0) {
        throw Rejected(std::string("cannot rewind the input: ") + std::strerror(errno));
    }
    std::clearerr(file_);
    pos_ = end_ = buffer_.data();
    *end_ = '\n';
    rawEnd_ = ended_ = pendingCR_ = false;
}

// Moves the unread bytes to the front and appends the next block, translated. The sentinel
// after the data is a line feed, so a token scan stops at the end without a bounds test.
bool Scanner::refill() {
    if (ended_) return false;
    const std::size_t tail = static_cast<std::size_t>(end_ - pos_);
    assert(tail <= kKeep);
    std::memmove(buffer_.data(), pos_, tail);
    pos_ = buffer_.data();
    end_ = pos_ + tail;
    for (;;) {
        if (rawEnd_) {
            ended_ = true;
            *end_ = '\n';
            return false;
        }
        char* chunk = end_;
        char* raw = chunk;
        if (pendingCR_) {
            *raw++ = '\r';
            pendingCR_ = false;
        }
        const std::size_t n = std::fread(raw, 1, blockSize_, file_);
        if (n < blockSize_) {
            if (std::ferror(file_)) {
                throw Rejected(std::string("cannot read the input: ") + std::strerror(errno));
            }
            rawEnd_ = true;
        }
        char* last = raw + n;
        if (char* stop = static_cast<char*>(std::memchr(chunk, 26, static_cast<std::size_t>(last - chunk)))) {
            last = stop;
            ended_ = true;
        }
        // Drop each carriage return that stands before a line feed, moving the runs between.
        char* write = chunk;
        char* read = chunk;
        for (;;) {
            char* cr = static_cast<char*>(std::memchr(read, '\r', static_cast<std::size_t>(last - read)));
            char* runEnd = cr ? cr : last;
            if (write != read) std::memmove(write, read, static_cast<std::size_t>(runEnd - read));
            write += runEnd - read;
            if (!cr) break;
            if (cr + 1 < last) {
                if (cr[1] != '\n') *write++ = '\r';
                read = cr + 1;
            } else {
                // the block ends in a carriage return: the next block decides it
                if (rawEnd_ || ended_) {
                    *write++ = '\r';
                } else {
                    pendingCR_ = true;
                }
                break;
            }
        }
        end_ = write;
        *end_ = '\n';
        if (end_ != chunk) return true;
        if (ended_) return false;
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

void Scanner::skipWhite() {
    for (;;) {
        while (pos_ != end_ && isWhite(*pos_)) ++pos_;
        if (pos_ != end_ || !refill()) return;
    }
}

bool Scanner::nextToken(std::string_view& token) {
    skipWhite();
    if (pos_ == end_) return false;
    std::size_t length = 0;
    for (;;) {
        const char* p = pos_ + length;
        while (!isWhite(*p)) ++p;
        length = static_cast<std::size_t>(p - pos_);
        if (p != end_ || ended_) break;
        if (length > kMaxToken) return longToken(token, length);
        if (!refill()) break;
    }
    token = std::string_view(pos_, length);
    pos_ += length;
    return true;
}

// A token that has outgrown kMaxToken at the end of the buffer: keep its head, which is
// already too long to equal a keyword, and consume the rest of it.
bool Scanner::longToken(std::string_view& token, std::size_t length) {
    spill_.assign(pos_, length);
    pos_ = end_;
    while (refill()) {
        char* p = pos_;
        while (!isWhite(*p)) ++p;
        pos_ = p;
        if (p != end_) break;
    }
    token = spill_;
    return true;
}

void Scanner::skipLine() {
    std::size_t left = kMaxSkip;  // the line feed counts toward the 254
    while (left != 0) {
        if (pos_ == end_ && !refill()) return;
        const std::size_t span = std::min(left, static_cast<std::size_t>(end_ - pos_));
        if (const void* lf = std::memchr(pos_, '\n', span)) {
            pos_ = static_cast<char*>(const_cast<void*>(lf)) + 1;
            return;
        }
        pos_ += span;
        left -= span;
    }
}

bool Scanner::literal(char c) {
    if (pos_ == end_ && !refill()) return false;
    if (*pos_ != c) return false;
    ++pos_;
    return true;
}

bool Scanner::readWord(std::string& out) {
    skipWhite();
    if (pos_ == end_) return false;
    out.clear();
    for (;;) {
        char* p = pos_;
        while (!isWhite(*p)) ++p;
        out.append(pos_, p);
        pos_ = p;
        if (p != end_ || !refill()) break;
    }
    return true;
}

bool Scanner::readInt(std::int32_t& out) {
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    skipWhite();
    int c = peek();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++pos_;
        c = peek();
    }
    if (!isDigit(c)) return false;
    std::int64_t magnitude = 0;
    do {
        magnitude = std::min(magnitude * 10 + (c - '0'), kLimit);
        ++pos_;
        c = peek();
    } while (isDigit(c));
    out = negative ? static_cast<std::int32_t>(-magnitude)
                   : static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
    return true;
}

bool Scanner::readFloat(float& out) {
    skipWhite();
    if (!ensure(kNumberSpan)) return false;
    const char* p = pos_;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char* first = p;
    bool digits = false;
    while (isDigit(*p)) ++p;
    digits = p != first;
    if (*p == '.') {
        const char* fraction = ++p;
        while (isDigit(*p)) ++p;
        digits = digits || p != fraction;
    }
    const char* last = p;
    if (digits && (*p == 'e' || *p == 'E')) {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (isDigit(*p)) {
            while (isDigit(*p)) ++p;
            last = p;
        }
    }
    // The sentinel stopped the scan: the number may go on in the next block.
    if (p == end_ && !ended_) return readFloatSlow(out);
    pos_ = const_cast<char*>(p);
    if (!digits) return false;
    out = convertFloat(first, last, negative);
    return true;
}

// The same grammar one character at a time, for a number that straddles a refill or is
// longer than the look-ahead. It keeps the value as 0.<significant digits> x 10^shift.
bool Scanner::readFloatSlow(float& out) {
    int c = peek();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++pos_;
        c = peek();
    }
    std::string significant;
    std::int64_t shift = 0;
    bool digits = false;
    bool sticky = false;
    auto addDigit = [&](int d, bool integerPart) {
        digits = true;
        if (significant.empty()) {
            if (d == '0') {
                if (!integerPart) --shift;
                return;
            }
        }
        if (integerPart) ++shift;
        if (significant.size() < kMaxSignificant) {
            significant.push_back(static_cast<char>(d));
        } else if (d != '0') {
            sticky = true;
        }
    };
    for (; isDigit(c); ++pos_, c = peek()) addDigit(c, true);
    if (c == '.') {
        ++pos_;
        for (c = peek(); isDigit(c); ++pos_, c = peek()) addDigit(c, false);
    }
    if (!digits) return false;
    std::int64_t exponent = 0;
    if (c == 'e' || c == 'E') {
        ++pos_;
        c = peek();
        bool negativeExponent = false;
        if (c == '+' || c == '-') {
            negativeExponent = c == '-';
            ++pos_;
            c = peek();
        }
        for (; isDigit(c); ++pos_, c = peek()) {
            exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), kExponentLimit);
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (significant.empty()) {
        out = negative ? -0.0f : 0.0f;
        return true;
    }
    if (sticky) significant.push_back('1');
    const std::int64_t total = std::clamp<std::int64_t>(shift + exponent, -99999, 99999);
    std::string number = "0." + significant + "e" + std::to_string(total);
    out = convertFloat(number.data(), number.data() + number.size(), negative);
    return true;
}

}  // namespace tessloom
