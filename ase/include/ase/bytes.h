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

// m / 10^4 rounded to the nearest float, for m < 10^8: with at most 24 bits in m, by one
// float division; with more, by a division in double, whose error is far below the distance
// from m / 10^4 to any point halfway between two floats (tests check every m).
inline float fourDecimalsToFloat(std::uint32_t m) {
    return m <= (1u << 24) ? static_cast<float>(m) / 1e4f
                           : static_cast<float>(static_cast<double>(m) / 1e4);
}

}  // namespace tessloom::scan
