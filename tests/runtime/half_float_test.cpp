// Half-float conversions: the rules' values in both directions, every
// routine of every path, and the round trip of all 65536 half values.
#include "runtime/half_float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "runtime/processor_dispatch.h"

namespace z3az {
namespace {

using ToHalf = uint16_t* (*)(uint16_t*, const float*, uint32_t);
using FromHalf = float* (*)(float*, const uint16_t*, uint32_t);

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
float FromBits(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Independent statement of the float-to-half rule, for comparing against.
uint16_t ReferenceHalf(uint32_t x) {
    uint32_t a = x & 0x7FFFFFFF, s = (x >> 16) & 0x8000;
    if (a > 0x47FFEFFF) return uint16_t(s | 0x7FFF);
    if (a >= 0x38800000) return uint16_t(s | ((a - 0x38000000 + 0xFFF + ((a >> 13) & 1)) >> 13));
    uint32_t k = 113 - (a >> 23);
    uint32_t t = k > 31 ? 0 : (((a & 0x7FFFFF) | 0x800000) >> k);
    return uint16_t(s | ((t + 0xFFF + ((t >> 13) & 1)) >> 13));
}

// Half to float by the value formula, in double.
float ReferenceFloat(uint16_t h) {
    int e = (h >> 10) & 0x1F, m = h & 0x3FF;
    double v = e ? std::ldexp(1.0 + m / 1024.0, e - 15) : std::ldexp(double(m), -24);
    return float((h & 0x8000) ? -v : v);
}

struct ToHalfRoutine {
    const char* name;
    ToHalf fn;
};
const ToHalfRoutine kToHalf[] = {
    {"portable", &Float32ToFloat16Portable},
    {"3DNow!", &Float32ToFloat16ThreeDNow},
    {"entry", &Float32ToFloat16Array},
};
struct FromHalfRoutine {
    const char* name;
    FromHalf fn;
};
const FromHalfRoutine kFromHalf[] = {
    {"portable", &Float16ToFloat32Portable},
    {"SSE", &Float16ToFloat32Sse},
    {"SSE2", &Float16ToFloat32Sse2},
    {"3DNow!", &Float16ToFloat32ThreeDNow},
    {"entry", &Float16ToFloat32Array},
};

struct ToHalfCase {
    float value;
    uint16_t half;
};
const float kInf = std::numeric_limits<float>::infinity();
const ToHalfCase kToHalfCases[] = {
    {1.0f, 0x3C00},
    {65504.0f, 0x7BFF},
    {65536.0f, 0x7C00},  // an ordinary value, not infinity
    {131008.0f, 0x7FFF},
    {200000.0f, 0x7FFF},
    {kInf, 0x7FFF},
    {std::numeric_limits<float>::quiet_NaN(), 0x7FFF},
    {-kInf, 0xFFFF},
    {0x1p-24f, 0x0001},
    {0x1p-25f, 0x0000},  // the tie rounds to even
    {0x1.8p-24f, 0x0002},  // 1.5 steps: the tie goes up to even
    {0x1p-14f, 0x0400},
    {-0.0f, 0x8000},
    {0.0f, 0x0000},
    {1e-45f, 0x0000},  // a float denormal gives a signed zero
    {-1e-45f, 0x8000},
    {-2.0f, 0xC000},
    {0.5f, 0x3800},
    {1.0f + 0x1p-11f, 0x3C00},  // halfway below 1 + 2^-10: to even
    {1.0f + 0x1.8p-10f, 0x3C02},
    {131071.0f, 0x7FFF},  // 0x47FFFF80 saturates
};

TEST(Float32ToFloat16, KnownValuesOnEveryRoutine) {
    for (const ToHalfRoutine& r : kToHalf) {
        for (const ToHalfCase& c : kToHalfCases) {
            uint16_t out[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
            float in[4] = {c.value, c.value, c.value, c.value};
            // One element (the AMD routine's remainder) and four (its
            // four-wide part).
            EXPECT_EQ(r.fn(out, in, 1), out);
            EXPECT_EQ(out[0], c.half) << r.name << " " << c.value;
            EXPECT_EQ(out[1], 0xAAAA) << r.name << " wrote past the count";
            r.fn(out, in, 4);
            for (uint16_t h : out) EXPECT_EQ(h, c.half) << r.name << " x4 " << c.value;
        }
    }
}

TEST(Float32ToFloat16, LimitsOfTheSaturationAndNormalRanges) {
    const uint32_t patterns[] = {0x47FFEFFF, 0x47FFF000, 0x38800000, 0x387FFFFF, 0x38000000,
                                 0x33000000, 0x33000001, 0x32FFFFFF, 0x7F7FFFFF, 0x00000001};
    const uint16_t expected[] = {0x7FFF, 0x7FFF, 0x0400, 0x0400, 0x0200,
                                 0x0000, 0x0000, 0x0000, 0x7FFF, 0x0000};
    for (size_t i = 0; i < std::size(patterns); ++i) {
        for (uint32_t sign : {0u, 0x80000000u}) {
            float f = FromBits(patterns[i] | sign);
            uint16_t h = 0;
            Float32ToFloat16Portable(&h, &f, 1);
            EXPECT_EQ(h, expected[i] | (sign >> 16)) << std::hex << patterns[i];
        }
    }
}

TEST(Float32ToFloat16, VectorFormMatchesTheRuleOnRandomAndBoundaryPatterns) {
    std::mt19937 rng(12345);
    std::vector<float> in;
    // Patterns near every threshold of the rule and near every exponent step.
    for (uint32_t base : {0x47FFEFFFu, 0x38800000u, 0x33000000u, 0x7F800000u, 0x7FC00000u}) {
        for (int d = -40; d <= 40; ++d) in.push_back(FromBits(base + d));
    }
    for (uint32_t e = 0; e < 256; ++e) {
        for (uint32_t m : {0u, 1u, 0xFFFu, 0x1000u, 0x1FFFu, 0x2000u, 0x7FFFFFu})
            in.push_back(FromBits((e << 23) | m));
    }
    for (int i = 0; i < 200000; ++i) in.push_back(FromBits(rng()));
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) in.push_back(-in[i]);

    std::vector<uint16_t> out(in.size() + 1);
    // Odd offset and count: unaligned vector loads and a scalar tail.
    Float32ToFloat16Portable(out.data() + 1, in.data(), uint32_t(in.size()));
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(out[i + 1], ReferenceHalf(Bits(in[i]))) << std::hex << Bits(in[i]);
}

TEST(Float32ToFloat16, AmdPathRoundsBitsBelowTwoToMinus37) {
    // 2^-25 + 3 * 2^-39: the rule drops the 3 * 2^-39 and meets an exact
    // tie, which goes to even (0); the AMD routine's single-precision sum
    // rounds it up to 2^-37 and lands above the tie (1).
    const float x = 0x1p-25f + 0x3p-39f;
    float in[4] = {x, x, x, -x};
    uint16_t out[4] = {};
    Float32ToFloat16Portable(out, in, 4);
    EXPECT_EQ(out[0], 0x0000);
    EXPECT_EQ(out[3], 0x8000);
    Float32ToFloat16ThreeDNow(out, in, 4);
    EXPECT_EQ(out[0], 0x0001);
    EXPECT_EQ(out[3], 0x8001);
    // Fewer than four elements go through the portable routine.
    uint16_t one = 0xFFFF;
    Float32ToFloat16ThreeDNow(&one, in, 1);
    EXPECT_EQ(one, 0x0000);
}

TEST(Float32ToFloat16, AmdPathMatchesTheRuleAboveTwoToMinus14) {
    std::mt19937 rng(777);
    std::vector<float> in(4096);
    for (float& f : in) f = FromBits((rng() & 0x8FFFFFFF) | 0x38800000);  // at least 2^-14
    std::vector<uint16_t> out(in.size());
    Float32ToFloat16ThreeDNow(out.data(), in.data(), uint32_t(in.size()));
    for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], ReferenceHalf(Bits(in[i])));
}

struct FromHalfCase {
    uint16_t half;
    float value;
};
const FromHalfCase kFromHalfCases[] = {
    {0x7C00, 65536.0f}, {0x7FFF, 131008.0f}, {0x0001, 0x1p-24f}, {0x8000, -0.0f},
    {0x3C00, 1.0f},     {0x0000, 0.0f},      {0x03FF, 0x3FFp-24f}, {0x0400, 0x1p-14f},
    {0xFBFF, -65504.0f}, {0x8001, -0x1p-24f}, {0x3555, 0x1.554p-2f},
};

TEST(Float16ToFloat32, KnownValuesOnEveryRoutine) {
    for (const FromHalfRoutine& r : kFromHalf) {
        for (const FromHalfCase& c : kFromHalfCases) {
            float out[9];
            uint16_t in[9];
            for (uint16_t& h : in) h = c.half;
            for (uint32_t count : {1u, 9u}) {
                std::fill(std::begin(out), std::end(out), 7.0f);
                EXPECT_EQ(r.fn(out, in, count), out);
                for (uint32_t i = 0; i < count; ++i)
                    EXPECT_EQ(Bits(out[i]), Bits(c.value)) << r.name << std::hex << " " << c.half;
                if (count == 1) {
                    EXPECT_EQ(out[1], 7.0f) << r.name << " wrote past the count";
                }
            }
        }
    }
}

TEST(Float16ToFloat32, EveryHalfOnEveryRoutineAndBackUnchanged) {
    std::vector<uint16_t> all(65536 + 3);
    for (uint32_t i = 0; i < 65536; ++i) all[i + 3] = uint16_t(i);
    for (const FromHalfRoutine& r : kFromHalf) {
        std::vector<float> floats(65536 + 1);
        // Offsets of one element: nothing is aligned for the vector forms.
        r.fn(floats.data() + 1, all.data() + 3, 65536);
        for (uint32_t i = 0; i < 65536; ++i) {
            ASSERT_EQ(Bits(floats[i + 1]), Bits(ReferenceFloat(uint16_t(i))))
                << r.name << " half " << std::hex << i;
        }
        for (const ToHalfRoutine& back : kToHalf) {
            std::vector<uint16_t> again(65536);
            back.fn(again.data(), floats.data() + 1, 65536);
            for (uint32_t i = 0; i < 65536; ++i)
                ASSERT_EQ(again[i], i) << r.name << " then " << back.name;
        }
    }
}

TEST(HalfFloatEntries, TheFirstCallFillsTheTable) {
    ResetProcessorDispatch();
    ASSERT_EQ(DispatchState, DispatchNotFilled);
    float f = 0;
    const uint16_t h = 0x3C00;
    EXPECT_EQ(Float16ToFloat32Array(&f, &h, 1), &f);
    EXPECT_EQ(f, 1.0f);
    EXPECT_NE(DispatchState, DispatchNotFilled);

    ResetProcessorDispatch();
    uint16_t out = 0;
    const float two = 2.0f;
    EXPECT_EQ(Float32ToFloat16Array(&out, &two, 1), &out);
    EXPECT_EQ(out, 0x4000);
    EXPECT_NE(DispatchState, DispatchNotFilled);
}

}  // namespace
}  // namespace z3az
