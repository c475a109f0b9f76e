// The approximate inverse square root and its table of line fits.
#include "runtime/inv_sqrt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace z3az {
namespace {

float FromBits(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

TEST(InvSqrtTable, GivenRows) {
    struct {
        int index;
        float slope, intercept;
    } rows[] = {
        {0, -1.41009521484375f, 2.1192612648010254f},
        {1, -1.40185546875f, 2.1151251792907715f},
        {255, -0.500732421875f, 1.500732421875f},
        {256, -0.49853515625f, 1.49853515625f},
        {511, -0.177032470703125f, 1.0611717700958252f},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(InvSqrtTable[r.index][0], r.slope) << r.index;
        EXPECT_EQ(InvSqrtTable[r.index][1], r.intercept) << r.index;
    }
}

TEST(InvSqrtTable, EveryLineFitsItsInterval) {
    for (int i = 0; i < 512; ++i) {
        const double start = i < 256 ? 0.5 * (1 + i / 256.0) : 1 + (i - 256) / 256.0;
        const double length = i < 256 ? 1 / 512.0 : 1 / 256.0;
        for (int k = 0; k <= 64; ++k) {
            const double x = start + length * k / 64;
            const double line = InvSqrtTable[i][0] * x + InvSqrtTable[i][1];
            ASSERT_NEAR(line * std::sqrt(x), 1.0, 2e-6) << "entry " << i << " x " << x;
        }
    }
}

TEST(ApproxInvSqrt, ExactPointsAndZero) {
    EXPECT_EQ(ApproxInvSqrt(1.0f), 1.0f);
    EXPECT_EQ(ApproxInvSqrt(4.0f), 0.5f);
    EXPECT_EQ(ApproxInvSqrt(0.25f), 2.0f);
    EXPECT_EQ(1.0f * ApproxInvSqrt(1.0f), 1.0f);
    // Zero: line 0 at 0.5 scaled by 2^63.
    const float atZero = ApproxInvSqrt(0.0f);
    EXPECT_NEAR(atZero, 1.3e19f, 0.01e19f);
    EXPECT_EQ(atZero, (0.5f * InvSqrtTable[0][0] + InvSqrtTable[0][1]) * 0x1p63f);
    EXPECT_EQ(0.0f * atZero, 0.0f);
}

TEST(ApproxInvSqrt, RelativeErrorOverTheNormalRange) {
    std::mt19937 rng(99);
    for (int n = 0; n < 200000; ++n) {
        // Positive normal floats of every exponent.
        const uint32_t exponent = 1 + rng() % 253;
        const float x = FromBits((exponent << 23) | (rng() & 0x7FFFFF));
        const double exact = 1.0 / std::sqrt(double(x));
        ASSERT_NEAR(ApproxInvSqrt(x) / exact, 1.0, 2e-6) << x;
    }
}

}  // namespace
}  // namespace z3az
