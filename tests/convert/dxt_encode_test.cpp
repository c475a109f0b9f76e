#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "convert/dxt_codec.h"
#include "convert/dxt_encode.h"

namespace z3az {
namespace {

using Bytes = std::vector<uint8_t>;

std::array<ColorF, 16> Fill(ColorF c) {
    std::array<ColorF, 16> block;
    block.fill(c);
    return block;
}

Bytes Dxt1(const std::array<ColorF, 16>& px, uint32_t dither = 0) {
    Bytes out(8, 0xCD);
    EXPECT_EQ(EncodeDxt1Block(out.data(), px.data(), dither), S_OK);
    return out;
}

Bytes Dxt3(const std::array<ColorF, 16>& px, uint32_t dither = 0) {
    Bytes out(16, 0xCD);
    EXPECT_EQ(EncodeDxt3Block(out.data(), px.data(), dither), S_OK);
    return out;
}

Bytes Dxt5(const std::array<ColorF, 16>& px, uint32_t dither = 0) {
    Bytes out(16, 0xCD);
    EXPECT_EQ(EncodeDxt5Block(out.data(), px.data(), dither), S_OK);
    return out;
}

Bytes Head(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); }
Bytes Tail(const Bytes& b, size_t from) { return Bytes(b.begin() + from, b.end()); }

constexpr ColorF kWhite{1, 1, 1, 1};
constexpr ColorF kBlack{0, 0, 0, 1};
constexpr ColorF kClear{0, 0, 0, 0};

TEST(DxtEncode, Dxt1AllTransparentBlock) {
    EXPECT_EQ(Dxt1(Fill(ColorF{0.7f, 0.2f, 0.1f, 0.49f})),
              (Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Dxt1(Fill(kClear), 1), (Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(DxtEncode, Dxt1OpaqueWhiteIsOneColourWithZeroIndices) {
    EXPECT_EQ(Dxt1(Fill(kWhite)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Dxt1(Fill(kWhite), 1), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}));
}

TEST(DxtEncode, Dxt1BlackAndWhiteOrdersEndpointsForFourColours) {
    auto px = Fill(kWhite);
    for (int i = 0; i < 8; ++i) px[i] = kBlack;
    // colour0 = white > colour1 = black; black pixels take index 1.
    EXPECT_EQ(Dxt1(px), (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x55, 0x55, 0x00, 0x00}));
}

TEST(DxtEncode, Dxt1TransparentPixelsSelectThreeColourMode) {
    auto px = Fill(kWhite);
    for (int i = 0; i < 4; ++i) px[i] = kClear;
    // colour0 = black <= colour1 = white; transparent pixels take index 3.
    const Bytes block = Dxt1(px);
    EXPECT_EQ(block, (Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x55, 0x55, 0x55}));
    ColorF decoded[16];
    DecodeColorBlock(decoded, block.data());
    for (int i = 0; i < 16; ++i) {
        const ColorF want = i < 4 ? kClear : kWhite;
        EXPECT_EQ(decoded[i].r, want.r) << i;
        EXPECT_EQ(decoded[i].a, want.a) << i;
    }
}

TEST(DxtEncode, Dxt3StoresFourBitAlphaRounded) {
    EXPECT_EQ(Head(Dxt3(Fill(ColorF{1, 1, 1, 0.5f})), 8),
              (Bytes{0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88}));
    // Pixel 0 in the low nibble of the first word, pixel 15 in the top
    // nibble of the second; out-of-range alpha is clamped to 0..15.
    auto px = Fill(ColorF{1, 1, 1, 0});
    px[0].a = 1.0f;
    px[7].a = 2.0f;
    px[15].a = -1.0f;
    px[8].a = 1.0f / 15.0f;
    EXPECT_EQ(Head(Dxt3(px), 8), (Bytes{0x0F, 0x00, 0x00, 0xF0, 0x01, 0x00, 0x00, 0x00}));
    // The colour half never uses three-colour mode.
    EXPECT_EQ(Tail(Dxt3(px), 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}));
}

TEST(DxtEncode, Dxt5ConstantAlphaBlocks) {
    EXPECT_EQ(Dxt5(Fill(kWhite)), (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0, 0,  //
                                         0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    // All 0: six-value mode with alpha0 = 255, alpha1 = 0, every index 1,
    // which the decoder reads as 0.
    const Bytes zero = Dxt5(Fill(ColorF{1, 1, 1, 0}));
    EXPECT_EQ(Head(zero, 8), (Bytes{0xFF, 0x00, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24}));
    ColorF decoded[16];
    DecodeDxt5Block(decoded, zero.data());
    for (const ColorF& p : decoded) EXPECT_EQ(p.a, 0.0f);
}

TEST(DxtEncode, Dxt5TwoAlphasUseEightValueMode) {
    auto px = Fill(ColorF{1, 1, 1, 0.8f});
    for (int i = 0; i < 8; ++i) px[i].a = 0.2f;
    // alpha0 = 204 > alpha1 = 51; the 0.2 pixels take index 1.
    EXPECT_EQ(Head(Dxt5(px), 8), (Bytes{0xCC, 0x33, 0x49, 0x92, 0x24, 0x00, 0x00, 0x00}));
}

TEST(DxtEncode, Dxt5ZeroOneAndMidAlphaUseSixValueMode) {
    auto px = Fill(ColorF{1, 1, 1, 0.5f});
    for (int i = 0; i < 5; ++i) px[i].a = 0.0f;
    for (int i = 5; i < 10; ++i) px[i].a = 1.0f;
    // alpha0 = 128 <= alpha1 = 255; 0 takes the fixed index 6, 1 index 1
    // (alpha1) and 0.5 index 0.
    const Bytes block = Dxt5(px);
    EXPECT_EQ(Head(block, 8), (Bytes{0x80, 0xFF, 0xB6, 0xED, 0x24, 0x09, 0x00, 0x00}));
    ColorF decoded[16];
    DecodeDxt5Block(decoded, block.data());
    for (int i = 0; i < 16; ++i) {
        const float want = i < 5 ? 0.0f : i < 10 ? 1.0f : 128.0f / 255.0f;
        EXPECT_FLOAT_EQ(decoded[i].a, want) << i;
    }
}

// A flat grey that the R5G6B5 grid cannot hold: without dithering every pixel
// takes the nearest code; with in-block diffusion the block's mean comes much
// closer to the input.
TEST(DxtEncode, InBlockDiffusionKeepsTheMeanOfAnOffGridColour) {
    const float grey = 0.5f;
    auto px = Fill(ColorF{grey, grey, grey, 1});
    auto meanRed = [](const Bytes& b) {
        ColorF d[16];
        DecodeColorBlock(d, b.data());
        double sum = 0;
        for (const ColorF& p : d) sum += p.r;
        return sum / 16;
    };
    const Bytes plain = Dxt1(px, 0);
    EXPECT_EQ(Tail(plain, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_FLOAT_EQ(static_cast<float>(meanRed(plain)), 16.0f / 31.0f);
    const Bytes dithered = Dxt1(px, 1);
    EXPECT_NE(Tail(dithered, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_LT(std::fabs(meanRed(dithered) - grey), 0.25 * std::fabs(16.0 / 31.0 - grey));
}

TEST(DxtEncode, DitheredDxt1AlphaSpreadsTransparency) {
    const auto px = Fill(ColorF{1, 1, 1, 0.5f});
    // 0.5 is not below 0.5: plainly every pixel is opaque.
    EXPECT_EQ(Dxt1(px, 0), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    ColorF d[16];
    const Bytes dithered = Dxt1(px, 1);
    DecodeColorBlock(d, dithered.data());
    int transparent = 0;
    for (const ColorF& p : d) transparent += p.a == 0.0f;
    EXPECT_GE(transparent, 6);
    EXPECT_LE(transparent, 10);
}

TEST(DxtEncode, DitheredDxt3AlphaKeepsTheMean) {
    const float alpha = 0.5f + 1.0f / 45.0f;  // a third of the way to the next level
    const Bytes plain = Dxt3(Fill(ColorF{1, 1, 1, alpha}), 0);
    EXPECT_EQ(Head(plain, 8), Bytes(8, 0x88));
    const Bytes dithered = Dxt3(Fill(ColorF{1, 1, 1, alpha}), 1);
    ColorF d[16];
    DecodeDxt3Block(d, dithered.data());
    double sum = 0;
    for (const ColorF& p : d) sum += p.a;
    EXPECT_NEAR(sum / 16, alpha, 0.01);
}

// Four-level gradients between random colours (what the palette can hold)
// come back close to what went in.
TEST(DxtEncode, RoundTripErrorStaysSmall) {
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    for (int trial = 0; trial < 200; ++trial) {
        const ColorF a{next(), next(), next(), next()};
        const ColorF b{next(), next(), next(), next()};
        std::array<ColorF, 16> px;
        for (int i = 0; i < 16; ++i) {
            const float t = static_cast<float>(i & 3) / 3.0f;
            px[i] = ColorF{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
                           a.a + (b.a - a.a) * t};
        }
        const Bytes b5 = Dxt5(px);
        ColorF d[16];
        DecodeDxt5Block(d, b5.data());
        for (int i = 0; i < 16; ++i) {
            ASSERT_NEAR(d[i].r, px[i].r, 0.05) << trial << " " << i;
            ASSERT_NEAR(d[i].g, px[i].g, 0.05) << trial << " " << i;
            ASSERT_NEAR(d[i].b, px[i].b, 0.05) << trial << " " << i;
            ASSERT_NEAR(d[i].a, px[i].a, 0.05) << trial << " " << i;
        }
    }
}

TEST(DxtEncode, FindColorEndpointsOfOnePointAndOfTwo) {
    WeightedRgb same[16];
    for (auto& p : same) p = WeightedRgb{0.1f, 0.5f, 0.05f};
    WeightedRgb a, b;
    FindColorEndpoints(same, 4, &a, &b);
    EXPECT_EQ(a.r, 0.1f);
    EXPECT_EQ(a.g, 0.5f);
    EXPECT_EQ(b.b, 0.05f);
    EXPECT_EQ(b.g, 0.5f);

    // Two clusters along the blue-reversed diagonal: A takes the low red and
    // green with the high blue.
    WeightedRgb pts[16];
    for (int i = 0; i < 16; ++i)
        pts[i] = i < 8 ? WeightedRgb{0.0f, 0.0f, DxtWeightB} : WeightedRgb{DxtWeightR, 1.0f, 0.0f};
    FindColorEndpoints(pts, 4, &a, &b);
    EXPECT_NEAR(a.r, 0.0f, 1e-6);
    EXPECT_NEAR(a.g, 0.0f, 1e-6);
    EXPECT_NEAR(a.b, DxtWeightB, 1e-6);
    EXPECT_NEAR(b.r, DxtWeightR, 1e-6);
    EXPECT_NEAR(b.g, 1.0f, 1e-6);
    EXPECT_NEAR(b.b, 0.0f, 1e-6);
}

TEST(DxtEncode, FindAlphaEndpoints) {
    float alphas[16];
    for (int i = 0; i < 16; ++i) alphas[i] = i < 8 ? 0.25f : 0.75f;
    float lo, hi;
    FindAlphaEndpoints(alphas, 8, &lo, &hi);
    EXPECT_FLOAT_EQ(lo, 0.25f);
    EXPECT_FLOAT_EQ(hi, 0.75f);
    // Six values: 0 and 1 are in the palette already; a single other value
    // spans up to 1.
    for (int i = 0; i < 16; ++i) alphas[i] = i < 4 ? 0.0f : i < 8 ? 1.0f : 0.6f;
    FindAlphaEndpoints(alphas, 6, &lo, &hi);
    EXPECT_FLOAT_EQ(lo, 0.6f);
    EXPECT_FLOAT_EQ(hi, 1.0f);
}

TEST(DxtEncode, PremultiplyAndR5G6B5Conversions) {
    ColorF in[16], out[16];
    for (int i = 0; i < 16; ++i) in[i] = ColorF{1.0f, 0.5f, 0.25f, static_cast<float>(i) / 15.0f};
    Premultiply(out, in);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(out[i].r, in[i].a);
        EXPECT_EQ(out[i].g, 0.5f * in[i].a);
        EXPECT_EQ(out[i].a, in[i].a);
    }
    EXPECT_EQ(R5G6B5FromRgb(1.0f, 1.0f, 1.0f), 0xFFFF);
    EXPECT_EQ(R5G6B5FromRgb(-1.0f, 2.0f, NAN), 0x07E0);
    EXPECT_EQ(R5G6B5FromRgb(0.5f, 0.5f, 0.5f), (16 << 11) | (32 << 5) | 16);
    const ColorF c = ColorFromR5G6B5(0xF81F);
    EXPECT_EQ(c.r, 1.0f);
    EXPECT_EQ(c.g, 0.0f);
    EXPECT_EQ(c.b, 1.0f);
    EXPECT_EQ(c.a, 1.0f);
}

}  // namespace
}  // namespace z3az
