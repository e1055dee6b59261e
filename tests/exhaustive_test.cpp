// Checks over every input of the scanner's in-place number reading, apart from the other
// tests since they take seconds: ctest -L exhaustive runs them alone, -LE exhaustive leaves
// them out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "ase/bytes.h"

namespace tessloom {
namespace {

// Four decimals as exporters write them: every m < 10^8 read as m / 10^4 must give the float
// nearest to it. f is nearest when m / 10^4 lies strictly between the midpoints to f's
// neighbours; m / 10^4 is never a midpoint (10^4 holds only four factors of two), and the
// midpoints times 10^4 are exact in double (at most 25 + 14 significant bits).
TEST(Exhaustive, EveryFourDecimalNumberReadInPlaceIsTheNearestFloat) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    std::uint32_t wrong = 0, firstWrong = 0;
    for (std::uint32_t m = 0; m < 100'000'000; ++m) {
        const float f = scan::fourDecimalsToFloat(m);
        const double below = (static_cast<double>(std::nextafter(f, -kInf)) + f) * 1e4;
        const double above = (static_cast<double>(std::nextafter(f, kInf)) + f) * 1e4;
        const double twice = 2.0 * m;
        if (!(below < twice && twice < above)) {
            if (wrong++ == 0) firstWrong = m;
        }
    }
    EXPECT_EQ(wrong, 0u) << "first at " << firstWrong;
    // and the four digits themselves: every one of the 10^4 groups, and any byte that is no
    // digit, in each place
    char text[5] = {};
    for (int value = 0; value < 10'000; ++value) {
        std::snprintf(text, sizeof text, "%04d", value);
        ASSERT_EQ(scan::fourDigits(text), value) << text;
    }
    for (int place = 0; place < 4; ++place) {
        for (int c = 0; c < 256; ++c) {
            if (c >= '0' && c <= '9') continue;
            char group[4] = {'5', '5', '5', '5'};
            group[place] = static_cast<char>(c);
            ASSERT_EQ(scan::fourDigits(group), -1) << place << " " << c;
        }
    }
}

}  // namespace
}  // namespace tessloom
