// The RGBE reduction of the Radiance writer: the vector row routine gives
// the portable routine's bytes, and the portable routine those of the plain
// frexp-based reduction, on random rows of many widths and on the special
// values (zeros, negatives, NaN, infinities, the saturation point, 1e-32).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "formats/hdr_rgbe.h"

namespace z3az {
namespace {

// The reduction written out with the runtime library's frexp.
void PlainRgbe(const float* p, uint8_t* out) {
    auto positive = [](float c) {
        if (!(c > 0.0f)) return 0.0f;
        return c > 0x1.FEp126f ? 0x1.FEp126f : c;
    };
    const float r = positive(p[0]), g = positive(p[1]), b = positive(p[2]);
    float m = r > g ? r : g;
    m = m > b ? m : b;
    if (!(double(m) > 1e-32)) {
        out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    int e = 0;
    const float f = std::frexp(m, &e) / m * 256.0f;
    auto code = [f](float c) -> uint8_t {
        const float v = c * f;
        return v >= 255.0f ? 255 : static_cast<uint8_t>(v);
    };
    out[0] = code(r);
    out[1] = code(g);
    out[2] = code(b);
    out[3] = static_cast<uint8_t>(e + 128);
}

// Random channels: mostly ordinary magnitudes, some specials.
std::vector<float> RandomPixels(uint32_t width, std::mt19937& rng) {
    const float specials[] = {0.0f,
                              -0.0f,
                              -1.0f,
                              1e-32f,
                              std::nextafter(1e-32f, 0.0f),
                              std::nextafter(1e-32f, 1.0f),
                              1.0f,
                              255.0f / 256.0f,
                              0x1.FEp126f,
                              std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::denorm_min()};
    std::uniform_int_distribution<int> kind(0, 9), special(0, sizeof specials / sizeof specials[0] - 1),
        exponent(-130, 130);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> v(size_t(width) * 4);
    for (float& c : v) {
        const int k = kind(rng);
        if (k == 0) c = specials[special(rng)];
        else if (k < 4) c = unit(rng);
        else c = std::ldexp(unit(rng), exponent(rng)) * (k == 9 ? -1.0f : 1.0f);
    }
    return v;
}

TEST(HdrRgbe, PortableRowMatchesThePlainReduction) {
    std::mt19937 rng(7);
    for (uint32_t width : {1u, 2u, 3u, 5u, 17u, 64u, 1001u}) {
        const std::vector<float> pixels = RandomPixels(width, rng);
        std::vector<uint8_t> row(size_t(width) * 4), plain(size_t(width) * 4);
        RgbeRowPortable(reinterpret_cast<const uint8_t*>(pixels.data()), row.data(), width);
        for (uint32_t x = 0; x < width; ++x) PlainRgbe(&pixels[size_t(x) * 4], &plain[size_t(x) * 4]);
        EXPECT_EQ(row, plain) << "width " << width;
    }
}

TEST(HdrRgbe, VectorRowMatchesThePortableRow) {
    const RgbeRowRoutine simd = SimdRgbeRow();
    if (!simd) GTEST_SKIP() << "no vector routine in this build";
    std::mt19937 rng(11);
    for (uint32_t width = 0; width <= 70; ++width) {
        for (int trial = 0; trial < 8; ++trial) {
            const std::vector<float> pixels = RandomPixels(width, rng);
            // One byte past the row shows a routine writing beyond it.
            std::vector<uint8_t> fast(size_t(width) * 4 + 1, 0xA5), portable(size_t(width) * 4 + 1, 0xA5);
            simd(reinterpret_cast<const uint8_t*>(pixels.data()), fast.data(), width);
            RgbeRowPortable(reinterpret_cast<const uint8_t*>(pixels.data()), portable.data(), width);
            ASSERT_EQ(fast, portable) << "width " << width << " trial " << trial;
        }
    }
}

// The cut-off is the number 1e-32 itself. The float nearest to it lies
// just above it, so a pixel whose largest channel is that float is kept
// (0.8113 * 2^-106); the float below it is black.
TEST(HdrRgbe, CutOffIsTheNumberNotItsNearestFloat) {
    const float nearest = 1e-32f;
    ASSERT_GT(double(nearest), 1e-32);
    const float below = std::nextafter(nearest, 0.0f);
    ASSERT_LT(double(below), 1e-32);
    const float pixels[] = {nearest, nearest / 2, 0, 1, below, 0, 0, 1};
    const uint8_t expected[8] = {207, 103, 0, 22, 0, 0, 0, 0};
    uint8_t out[8];
    RgbeRowPortable(reinterpret_cast<const uint8_t*>(pixels), out, 2);
    EXPECT_EQ(0, std::memcmp(out, expected, 8));
    if (RgbeRowRoutine simd = SimdRgbeRow()) {
        // Four pixels, so that the vector lanes take them.
        const float four[] = {nearest, nearest / 2, 0, 1, below, 0, 0, 1, 0, 0, nearest, 0, 0, below, 0, 0};
        const uint8_t want[16] = {207, 103, 0, 22, 0, 0, 0, 0, 0, 0, 207, 22, 0, 0, 0, 0};
        uint8_t got[16];
        simd(reinterpret_cast<const uint8_t*>(four), got, 4);
        EXPECT_EQ(0, std::memcmp(got, want, 16));
    }
}

TEST(HdrRgbe, KnownPixels) {
    const float pixels[] = {1, 1, 1, 1, 0.5f, 0.25f, 0, 1, -1, 0, 1e-33f, 1, 1e30f, std::numeric_limits<float>::infinity(), 2, 0};
    uint8_t out[16];
    RgbeRowPortable(reinterpret_cast<const uint8_t*>(pixels), out, 4);
    const uint8_t expected[16] = {128, 128, 128, 129, 128, 64, 0, 128, 0, 0, 0, 0, 0, 255, 0, 255};
    EXPECT_EQ(0, std::memcmp(out, expected, 16));
    if (RgbeRowRoutine simd = SimdRgbeRow()) {
        simd(reinterpret_cast<const uint8_t*>(pixels), out, 4);
        EXPECT_EQ(0, std::memcmp(out, expected, 16));
    }
}

}  // namespace
}  // namespace z3az
