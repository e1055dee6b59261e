// Byte-level helpers under the scanner: white space and line feeds 16 bytes at a time, a
// machine word of text, and four decimal digits at once. Internal to the reading passes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessloom::scan {

// Bytes readable past the scanner's sentinel, so the helpers below may load 16 bytes at a
// time.
inline constexpr std::size_t kPadding = 16;

constexpr bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

// The value of a decimal digit character, or more than 9 for any other byte.
inline unsigned digitValue(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// The eight bytes at p as one word, laid out as a load from memory lays them out (the first
// byte lowest on a little-endian machine). In a constant expression, byte by byte.
constexpr std::uint64_t loadWord(const char* p) {
    if (std::is_constant_evaluated()) {
        std::uint64_t word = 0;
        for (unsigned i = 0; i < 8; ++i) {
            const std::uint64_t byte = static_cast<unsigned char>(p[i]);
            word |= byte << (std::endian::native == std::endian::little ? 8 * i : 56 - 8 * i);
        }
        return word;
    }
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

#if defined(__SSE2__)
// Bit i set when p[i] is white space: blank, or tab to carriage return.
inline unsigned whiteMask(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blank = _mm_cmpeq_epi8(v, _mm_set1_epi8(' '));
    const __m128i fromTab = _mm_sub_epi8(v, _mm_set1_epi8('\t'));  // tab to carriage return: 0..4
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(fromTab, _mm_set1_epi8(4)), fromTab);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(blank, control)));
}
#endif

// The first line feed in [p, p + count), or null; the padding lets it load 16 bytes at a time.
inline char* findLineFeed(char* p, std::size_t count) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    for (std::size_t i = 0; i < count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(m));
            return at < count ? p + at : nullptr;
        }
    }
    return nullptr;
#else
    return static_cast<char*>(std::memchr(p, '\n', count));
#endif
}

// The value of four decimal digits at p, or -1 when they are not all digits. Exporters
// write four decimals, so this takes most fractions in one step.
inline int fourDigits(const char* p) {
    if constexpr (std::endian::native != std::endian::little) {
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            if (!isDigit(p[i])) return -1;
            value = value * 10 + (p[i] - '0');
        }
        return value;
    }
    std::uint32_t v;  // the first digit in the lowest byte
    std::memcpy(&v, p, 4);
    const std::uint32_t low = v - 0x30303030u;
    // each byte must be 0..9: no borrow into the high nibble, and adding 6 does not carry
    if (((low | (low + 0x06060606u)) & 0xF0F0F0F0u) != 0) return -1;
    std::uint32_t d = low;                  // bytes: d0 d1 d2 d3 (d0 first)
    d = (d * 10 + (d >> 8)) & 0x00FF00FFu;  // two-digit pairs
    return static_cast<int>((d * 100 + (d >> 16)) & 0xFFFFu);
}

// Takes a + or - at p; true for a minus. The one sign rule of "%d", "%f" and exponents.
template <class Char>
inline bool takeSign(Char*& p) {
    if (*p != '+' && *p != '-') return false;
    return *p++ == '-';
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
inline FloatText scanFloat(const char* p) {
    FloatText n;
    n.negative = takeSign(p);
    n.first = p;
    while (isDigit(*p)) n.mantissa = n.mantissa * 10 + digitValue(*p++);
    n.significant = static_cast<std::size_t>(p - n.first);
    n.digits = p != n.first;
    if (*p == '.') {
        const char* const fraction = ++p;
        // exporters write four decimals: most fractions in one step
        if (const int four = fourDigits(p); four >= 0) {
            n.mantissa = n.mantissa * 10'000 + static_cast<std::uint64_t>(four);
            p += 4;
        }
        while (isDigit(*p)) n.mantissa = n.mantissa * 10 + digitValue(*p++);
        n.decimals = static_cast<std::size_t>(p - fraction);
        n.significant += n.decimals;
        n.digits = n.digits || p != fraction;
    }
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
// gives infinity or zero. In scanner.cpp.
float decimalToFloat(const char* first, const char* last);

// m / 10^4 rounded to the nearest float, for m < 10^8: with at most 24 bits in m, by one
// float division; with more, by a division in double, whose error is far below the distance
// from m / 10^4 to any point halfway between two floats (tests check every m).
inline float fourDecimalsToFloat(std::uint32_t m) {
    return m <= (1u << 24) ? static_cast<float>(m) / 1e4f
                           : static_cast<float>(static_cast<double>(m) / 1e4);
}

// Exact powers of ten as floats: 10^10 = 2^10 * 9765625 still fits a float's 24 bits.
inline constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                         1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// The value of a number the grammar took, rounded to the nearest float. At most 19 digits
// without an exponent give an exact integer: one that fits a float's 24 bits divided by an
// exact power of ten is one correctly rounded division, and four decimals are handled up to
// 10^8 by fourDecimalsToFloat(). The rest goes to decimalToFloat().
inline float toFloat(const FloatText& n) {
    float value;
    if (!n.exponent && n.significant <= 19 && n.decimals == 4 && n.mantissa < 100'000'000) {
        value = fourDecimalsToFloat(static_cast<std::uint32_t>(n.mantissa));
    } else if (!n.exponent && n.significant <= 19 && n.mantissa <= (1u << 24) && n.decimals <= 10) {
        value = static_cast<float>(n.mantissa) / kPowersOfTen[n.decimals];
    } else {
        value = decimalToFloat(n.first, n.last);
    }
    return n.negative ? -value : value;
}

}  // namespace tessloom::scan
