// The scanner's rules: text mode, token and line limits, and the %d, %f and %s reads.
#include "ase/scanner.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <limits>
#include <random>

#include "testutil.h"

namespace tessloom {
namespace {

using test::bits;
using test::TextFile;

constexpr std::size_t kBlockSizes[] = {1, 2, 3, 7, 65536};

// White space is the blank and tab to carriage return, for every byte value.
static_assert([] {
    for (int c = 0; c < 256; ++c) {
        const bool white = c == ' ' || (c >= '\t' && c <= '\r');
        if (Scanner::isWhite(static_cast<char>(c)) != white) return false;
    }
    return true;
}());

// Every token of `text` in order, each line's first token followed by skipLine() when it
// starts with '#', as a pass does with a token it does not know.
std::string tokens(std::string_view text, std::size_t blockSize) {
    TextFile file(text);
    Scanner in(file.get(), blockSize);
    in.rewind();
    std::string out;
    std::string_view token;
    while (in.nextToken(token)) {
        out += std::string(token.size() > Scanner::kMaxToken ? "<long>" : token) + "|";
        if (token[0] == '#') in.skipLine();
    }
    return out;
}

// What reading one number of type T gives: success, the value (a float's bits) and the
// token after it.
template <class T>
std::string shown(bool ok, T value, std::string_view rest) {
    if constexpr (std::is_same_v<T, float>)
        return shown(ok, bits(value), rest);
    else
        return std::to_string(ok) + " " + std::to_string(value) + " " + std::string(rest);
}
template <class T>
std::string readNumber(Scanner& in) {
    T x = -5;
    bool ok = false;
    if constexpr (std::is_same_v<T, float>) ok = in.readFloat(x);
    if constexpr (!std::is_same_v<T, float>) ok = in.readInt(x);
    std::string_view token;
    if (!in.nextToken(token)) token = {};
    return shown(ok, x, token.size() > Scanner::kMaxToken ? "<long>" : token);
}
template <class T>
std::string readNumber(const std::string& text, std::size_t blockSize) {
    TextFile file(text);
    Scanner in(file.get(), blockSize);
    in.rewind();
    return readNumber<T>(in);
}

// Text mode, the 254 characters skipLine() passes over, and tokens too long to keep.
TEST(Scanner, TokensAtEveryBlockSize) {
    using Case = std::pair<std::string, std::string>;
    const std::string keyword = "*MESH_NUMVERTEX 7\n", exact(255, 'x');
    const std::string longer = exact + "*MESH_NUMVERTEX";
    const Case cases[] = {
        {"a\r\nb\r\n", "a|b|"},
        {"a\rb", "a|b|"},
        {"a b\x1a c d", "a|b|"},  // control-Z ends the input
        {"\032a", ""},
        {"a\r\032b", "a|"},
        {std::string("a\0b c", 5), std::string("a\0b|c|", 6)},  // NUL is part of a token
        {"\xff\x80 x", "\xff\x80|x|"},  // bytes above 127 are not white space
        {"", ""},
        {" \t\n\v\f\r ", ""},
        {"# skipped\nkept", "#|kept|"},
        // a 10-character token, then exactly 254 characters before the keyword, or 255
        {"#ABCDEFGHI " + std::string(253, 'x') + keyword, "#ABCDEFGHI|*MESH_NUMVERTEX|7|"},
        {"#ABCDEFGHI " + std::string(254, 'x') + keyword, "#ABCDEFGHI|x*MESH_NUMVERTEX|7|"},
        // a lone carriage return is kept in the text and counts toward the 254
        {"#ABCDEFGHI " + std::string(250, 'x') + "\ryy" + keyword, "#ABCDEFGHI|*MESH_NUMVERTEX|7|"},
        // a token is read whole, never split, however long
        {exact + " a", exact + "|a|"},
        {longer + " a", "<long>|a|"},
        {longer, "<long>|"},
    };
    for (const auto& [text, expected] : cases) {
        for (std::size_t block : kBlockSizes) {
            EXPECT_EQ(tokens(text, block), expected) << "block " << block;
        }
    }
    TextFile file(" \"" + longer + "\" rest");
    Scanner in(file.get(), 7);
    in.rewind();
    std::string word;
    ASSERT_TRUE(in.readWord(word));
    EXPECT_EQ(word, "\"" + longer + "\"");
}

template <class T>
struct NumberCase {
    std::string text;
    bool ok;
    T value;
    std::string rest;  // the next token after the read
};

TEST(Scanner, ReadIntGrammarAndSaturation) {
    const NumberCase<std::int32_t> cases[] = {
        {"42 r", true, 42, "r"},
        {"\n\t +7r", true, 7, "r"},
        {"-0", true, 0, ""},
        {"2147483647", true, 2147483647, ""},
        {"2147483648", true, 2147483647, ""},
        {"-2147483648", true, std::numeric_limits<std::int32_t>::min(), ""},
        {"-99999999999999999999999x", true, std::numeric_limits<std::int32_t>::min(), "x"},
        {"12:", true, 12, ":"},
        {std::string(120, '0') + "42", true, 42, ""},  // leading zeros never saturate
        {std::string("-").append(30, '0').append("2147483648"), true,
         std::numeric_limits<std::int32_t>::min(), ""},
        {"00000000000000000000000000000000000000000000000000000000000#7", true, 0, "#7"},
        {"-x", false, -5, "x"},  // the sign is lost, the x stays
        {"+ 3", false, -5, "3"},
        {"x1", false, -5, "x1"},
        {"", false, -5, ""},
    };
    for (const auto& c : cases) {
        for (std::size_t block : kBlockSizes) {
            EXPECT_EQ(readNumber<std::int32_t>(c.text, block), shown(c.ok, c.value, c.rest))
                << c.text << " block " << block;
        }
    }
}

TEST(Scanner, ReadFloatGrammarRoundingAndRange) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const std::string zeros(300, '0');
    const NumberCase<float> cases[] = {
        {"1.5", true, 1.5f, ""},
        {"-0", true, -0.0f, ""},
        {"-0.0000e0", true, -0.0f, ""},
        {".5x", true, 0.5f, "x"},
        {"1.", true, 1.0f, ""},
        {"+3", true, 3.0f, ""},
        {"1.#QNAN", true, 1.0f, "#QNAN"},
        {"2E+y", true, 2.0f, "y"},
        {"2e", true, 2.0f, ""},
        {"2ee", true, 2.0f, "e"},
        {"1e5", true, 1e5f, ""},
        {"-2.5E-3", true, -2.5e-3f, ""},
        {"1,5", true, 1.0f, ",5"},
        {"0x10", true, 0.0f, "x10"},
        {"0.1", true, 0.1f, ""},
        {"16777217", true, 16777216.0f, ""},  // halfway, ties to even
        {"16777219", true, 16777220.0f, ""},
        {"3.4028235e38", true, std::numeric_limits<float>::max(), ""},
        {"3.4028236e38", true, kInf, ""},
        {"1e39", true, kInf, ""},
        {"-1e99999999999999999999", true, -kInf, ""},
        {"1e-50", true, 0.0f, ""},
        {"-1e-50", true, -0.0f, ""},
        {"1e-45", true, std::numeric_limits<float>::denorm_min(), ""},
        {"0.000001e50", true, kInf, ""},  // the exponent lifts tiny digits over the top
        {"1000000e-50", true, 1e-44f, ""},
        // across blocks: the bytes a number may hold past its end are given back
        {"1" + zeros + "e-300e5", true, 1.0f, "e5"},
        {"0." + zeros + "1e301.5", true, 1.0f, ".5"},
        {"1" + zeros, true, kInf, ""},
        {"1." + zeros + "e 5", true, 1.0f, "5"},
        {"-.e5", false, -5.0f, "e5"},  // sign and point are lost
        {".", false, -5.0f, ""},
        {"inf", false, -5.0f, "inf"},
        {"nan", false, -5.0f, "nan"},
        {"", false, -5.0f, ""},
    };
    for (const auto& c : cases) {
        for (std::size_t block : kBlockSizes) {
            EXPECT_EQ(readNumber<float>(c.text, block), shown(c.ok, c.value, c.rest))
                << c.text.substr(0, 40) << " block " << block;
        }
    }
}

// Numbers are read in place when the buffer holds them whole. Each number alone in a file read
// a byte at a time is gathered in the spill buffer, the same number with room after it is
// read in place: both must give the same value and stop at the same byte. Then all the
// numbers in one text, read with blocks of several sizes, must come out the same wherever
// the blocks end.
TEST(Scanner, NumbersReadInPlaceAgreeWithNumbersAcrossBlocks) {
    std::mt19937 random(11);
    auto digits = [&](unsigned most) {
        // now and then a run of leading zeros longer than the blocks below
        std::string d(random() % 16 == 0 ? random() % 300 : 0, '0');
        for (auto n = random() % (most + 1); n != 0; --n) {
            d.push_back(static_cast<char>('0' + random() % 10));
        }
        return d;
    };
    const char* signs[] = {"", "", "-", "+"};
    const char* ends[] = {" ", "\t", "\r\n", "x", "e5", "E-2", ",", ".5", "-"};
    // where a read in place could go wrong: a mantissa past 32 bits that wraps to a small one,
    // the 24-bit edge, the last digit counts, zeros in front of everything
    std::vector<std::string> numbers = {"429497.0000 ", "-858993.4592\t", "1677.7216 ",
                                        "1677.7217 ",   "9999.9999 ",     "2081.0312 ",
                                        "-1334.9376 ",  "-0.0000 ",       "999999999 ",
                                        "1000000000 ",  "-2147483648 ",   "2147483648 "};
    numbers.push_back(std::string(300, '0') + "1.5000 ");
    numbers.push_back(std::string(40, '0') + "123456789 ");
    for (int i = 0; i < 8000; ++i) {
        std::string n = signs[random() % 4] + digits(10);
        if (random() % 4 != 0) n.append(".").append(digits(random() % 2 ? 4 : 10));
        numbers.push_back(n.append(ends[random() % std::size(ends)]).append(" "));
    }
    for (bool floats : {true, false}) {
        auto read = [&](Scanner& in) {
            return floats ? readNumber<float>(in) : readNumber<std::int32_t>(in);
        };
        std::string text;
        for (const std::string& n : numbers) {
            TextFile alone(n), roomy(n + std::string(200, ' '));
            Scanner general(alone.get(), 1), inPlace(roomy.get(), 65536);
            general.rewind();
            inPlace.rewind();
            ASSERT_EQ(read(general), read(inPlace)) << n;
            text += n;
        }
        text.append(200, ' ');
        std::vector<std::string> results[2];
        for (std::size_t block : {std::size_t{65536}, std::size_t{7}, std::size_t{61}}) {
            TextFile file(text);
            Scanner in(file.get(), block);
            in.rewind();
            std::vector<std::string>& these = results[block == 65536 ? 0 : 1];
            these.clear();
            for (std::size_t i = 0; i < numbers.size(); ++i) these.push_back(read(in));
            if (block != 65536) {
                ASSERT_EQ(results[0], results[1]) << "block " << block;
            }
        }
    }
}

// findToken() jumps between candidate characters, first among the next 128 bytes in place;
// it must agree with reading token after token, wherever the blocks end and the keyword
// stands. Each case is also tried with room after it, and with the keyword pushed to either
// side of the first 128 bytes.
TEST(Scanner, FindTokenAgreesWithTheTokenLoop) {
    const std::string shortCases[] = {
        "a b *K 1",    "x*K *K 2",    "*KX *K\n3",
        "*K",          "  *K",        "*",
        "**K *K 4",    "a\r\n*K 5",   std::string(300, '*') + "*K *K 6",
        "*K\x1a *K 7", "\"*K\" *K 8", "",
    };
    std::vector<std::string> cases;
    for (const std::string& text : shortCases) {
        cases.push_back(text);
        cases.push_back(text + std::string(200, ' '));
    }
    for (std::size_t pad : {100, 124, 125, 126, 127, 128, 140}) {
        cases.push_back(std::string("x").append(pad, 'y').append(" x*K *K 9").append(200, ' '));
        cases.push_back(std::string(pad, ' ').append("*K 10").append(200, ' '));
    }
    // after the first token, a keyword in one 16-byte step and another in the next
    cases.push_back(
        std::string("a").append(19, ' ').append("*K 11").append(15, ' ').append("*K 12").append(
            200, ' '));
    // a decoy and the keyword in one 16-byte step, another keyword in the next
    cases.push_back(std::string("*X *K 13").append(20, ' ').append("*K 14").append(200, ' '));
    for (const std::string& text : cases) {
        for (std::size_t block : kBlockSizes) {
            TextFile a(text), b(text);
            Scanner loop(a.get(), block), jump(b.get(), block);
            loop.rewind();
            jump.rewind();
            std::string_view token;
            bool found = false;
            while (!found && loop.nextToken(token)) found = token == "*K";
            EXPECT_EQ(jump.findToken("*K"), found) << text << " block " << block;
            std::string_view rest1, rest2;
            const bool more1 = loop.nextToken(rest1), more2 = jump.nextToken(rest2);
            EXPECT_EQ(more1, more2) << text;
            EXPECT_EQ(std::string(rest1.substr(0, more1 ? rest1.size() : 0)),
                      std::string(rest2.substr(0, more2 ? rest2.size() : 0)))
                << text << " block " << block;
        }
    }
}

// Sampled float32 patterns printed with nine significant digits come back bit for bit,
// including those that straddle a refill.
TEST(Scanner, SampledFloatsRoundTrip) {
    std::vector<float> expected;
    std::string text;
    char buf[64];
    for (std::uint64_t pattern = 0; pattern <= 0xffffffffu; pattern += 21011) {
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(pattern));
        if (!std::isfinite(f)) continue;
        expected.push_back(f);
        std::snprintf(buf, sizeof buf, "%.8e ", static_cast<double>(f));
        text += buf;
    }
    TextFile file(text);
    Scanner in(file.get(), 4093);
    in.rewind();
    for (float f : expected) {
        float value = 0;
        ASSERT_TRUE(in.readFloat(value));
        ASSERT_EQ(bits(value), bits(f)) << std::hexfloat << f;
    }
}

}  // namespace
}  // namespace tessloom
