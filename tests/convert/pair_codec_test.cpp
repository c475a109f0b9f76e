#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "convert/conversion.h"
#include "convert/pair_codec.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

struct CodecDeleter {
    void operator()(PixelCodec* c) const { Delete(c); }
};
using CodecPtr = std::unique_ptr<PixelCodec, CodecDeleter>;

// A surface of 16-bit words: width x height pixels, one slice.
struct Surface {
    uint32_t width, height;
    std::vector<uint8_t> bytes;
    Surface(uint32_t w, uint32_t h, std::vector<uint8_t> init = {})
        : width(w), height(h), bytes(std::move(init)) {
        bytes.resize(static_cast<size_t>(w) * 2 * h, 0);
    }
    BlitRegion Region(uint32_t format, uint32_t left, uint32_t top, uint32_t right,
                      uint32_t bottom) {
        BlitRegion r{};
        r.bits = bytes.data();
        r.format = format;
        r.rowPitch = width * 2;
        r.slicePitch = width * 2 * height;
        r.bounds = ImageBox{0, 0, width, height, 0, 1};
        r.box = ImageBox{left, top, right, bottom, 0, 1};
        return r;
    }
    BlitRegion Whole(uint32_t format) { return Region(format, 0, 0, width, height); }
};

CodecPtr Make(const BlitRegion& region) {
    CodecPtr codec(CreatePackedPairCodec(region));
    EXPECT_NE(codec, nullptr);
    return codec;
}

// The colour equations, as an independent statement of what the decoder
// must give for one pixel's Y and the chroma chosen for it.
ColorF FromYuv(int y, int u, int v) {
    auto clamp = [](float x) { return x < 0 ? 0.0f : x > 1 ? 1.0f : x; };
    const float l = static_cast<float>(y - 16) * 0.00456621f;
    const float fu = static_cast<float>(u - 128), fv = static_cast<float>(v - 128);
    return ColorF{clamp(l + fv * 0.00625893f), clamp(l - fu * 0.00153632f - fv * 0.00318811f),
                  clamp(l + fu * 0.00791071f), 1.0f};
}

void ExpectColor(const ColorF& got, const ColorF& want, const char* what) {
    EXPECT_EQ(got.r, want.r) << what;
    EXPECT_EQ(got.g, want.g) << what;
    EXPECT_EQ(got.b, want.b) << what;
    EXPECT_EQ(got.a, want.a) << what;
}

TEST(PairCodec, FactoryMakesOnlyTheFourPairFormats) {
    Surface s(2, 1);
    for (uint32_t f : {D3DFMT_YUY2, D3DFMT_UYVY, D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8}) {
        CodecPtr codec = Make(s.Whole(f));
        ASSERT_NE(codec, nullptr);
        EXPECT_FALSE(codec->byteAddressable);
        EXPECT_EQ(codec->valueRange, RangeUnsigned);
        EXPECT_EQ(codec->width, 2u);
    }
    EXPECT_EQ(CreatePackedPairCodec(s.Whole(D3DFMT_A8R8G8B8)), nullptr);
    EXPECT_EQ(CreatePackedPairCodec(s.Whole(D3DFMT_DXT1)), nullptr);
}

TEST(PairCodec, Yuy2DecodesStudioRange) {
    struct Case {
        uint8_t y;
        float value;
    } cases[] = {{235, 0.99999994f}, {16, 0.0f}, {255, 1.0f}, {0, 0.0f}};
    for (const Case& c : cases) {
        Surface s(2, 1, {c.y, 128, c.y, 128});
        CodecPtr codec = Make(s.Whole(D3DFMT_YUY2));
        ColorF row[2];
        ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
        for (const ColorF& p : row) ExpectColor(p, ColorF{c.value, c.value, c.value, 1}, "grey");
    }
}

TEST(PairCodec, EncodesWhiteAndBlackIntoEveryByteOrder) {
    struct Case {
        uint32_t format;
        std::vector<uint8_t> bytes;  // pixel 0 white (or red), pixel 1 black (or green)
    } cases[] = {
        {D3DFMT_YUY2, {235, 128, 16, 128}},
        {D3DFMT_UYVY, {128, 235, 128, 16}},
        // RGBG: G0 R G1 B; GRGB: R G0 B G1. Pixel 0 red, pixel 1 green.
        {D3DFMT_R8G8_B8G8, {0, 255, 255, 0}},
        {D3DFMT_G8R8_G8B8, {255, 0, 0, 255}},
    };
    for (const Case& c : cases) {
        Surface s(2, 1, {9, 9, 9, 9});
        const bool yuv = c.format == D3DFMT_YUY2 || c.format == D3DFMT_UYVY;
        ColorF row[2] = {yuv ? ColorF{1, 1, 1, 1} : ColorF{1, 0, 0, 1},
                         yuv ? ColorF{0, 0, 0, 1} : ColorF{0, 1, 0, 1}};
        {
            CodecPtr codec = Make(s.Whole(c.format));
            ASSERT_EQ(codec->WriteRow(0, 0, row), S_OK);
            EXPECT_EQ(s.bytes, (std::vector<uint8_t>{9, 9, 9, 9})) << "stored before the flush";
        }
        EXPECT_EQ(s.bytes, c.bytes) << c.format;
    }
    // Black gives Y 16 and neutral chroma.
    Surface s(2, 1);
    {
        ColorF row[2] = {{0, 0, 0, 1}, {0, 0, 0, 1}};
        CodecPtr codec = Make(s.Whole(D3DFMT_YUY2));
        ASSERT_EQ(codec->WriteRow(0, 0, row), S_OK);
    }
    EXPECT_EQ(s.bytes, (std::vector<uint8_t>{16, 128, 16, 128}));
}

TEST(PairCodec, WritingOnlyColumnThreeKeepsItsPartner) {
    Surface s(4, 1, {50, 60, 70, 80, 100, 90, 50, 160});
    {
        CodecPtr codec = Make(s.Region(D3DFMT_YUY2, 3, 0, 4, 1));
        EXPECT_EQ(codec->width, 1u);
        ColorF white{1, 1, 1, 1};
        ASSERT_EQ(codec->WriteRow(0, 0, &white), S_OK);
    }
    // Columns 0 and 1 untouched; the pair takes Y0, U and V from column 2's
    // decoded colour re-encoded (U 90 comes back as 91), Y1 from the white.
    EXPECT_EQ(s.bytes, (std::vector<uint8_t>{50, 60, 70, 80, 100, 91, 235, 160}));
}

// The odd pixel's chroma: its own pair in a row of width 2, interpolated from
// the neighbouring pairs in wider rows.
TEST(PairCodec, OddPixelChromaFollowsTheInterpolationRules) {
    // Width 2: U and V of pixel 1 are those of its own pair.
    {
        Surface s(2, 1, {81, 90, 145, 240});
        CodecPtr codec = Make(s.Whole(D3DFMT_YUY2));
        ColorF row[2];
        ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
        ExpectColor(row[0], FromYuv(81, 90, 240), "pixel 0");
        ExpectColor(row[1], FromYuv(145, 90, 240), "pixel 1");
    }
    // Width 4: pixel 1 averages the two pairs, pixel 3 extrapolates.
    {
        Surface s(4, 1, {100, 40, 100, 200, 100, 80, 100, 100});
        CodecPtr codec = Make(s.Whole(D3DFMT_YUY2));
        ColorF row[4];
        ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
        ExpectColor(row[1], FromYuv(100, (8 * 40 + 8 * 80 + 8) >> 4, (8 * 200 + 8 * 100 + 8) >> 4),
                    "k=1 n=4");
        ExpectColor(row[3], FromYuv(100, (17 * 80 - 40 + 8) >> 4, (17 * 100 - 200 + 8) >> 4),
                    "k=n-1");
    }
    // Width 8: the four-tap rules, and a negative sum divided rounding down.
    {
        const int u[4] = {0, 0, 255, 120}, v[4] = {128, 60, 180, 128};
        std::vector<uint8_t> bytes;
        for (int p = 0; p < 4; ++p) {
            bytes.insert(bytes.end(), {uint8_t(120), uint8_t(u[p]), uint8_t(120), uint8_t(v[p])});
        }
        Surface s(8, 1, bytes);
        CodecPtr codec = Make(s.Whole(D3DFMT_YUY2));
        ColorF row[8];
        ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
        // k = 1: 8 c(0) + 9 c(2) - c(4); U = (0 + 0 - 255 + 8) >> 4 = -16.
        ExpectColor(row[1], FromYuv(120, -16, (8 * 128 + 9 * 60 - 180 + 8) >> 4), "k=1");
        // Otherwise: 9 (c(x-1) + c(x+1)) - c(x-3) - c(x+3).
        ExpectColor(row[3],
                    FromYuv(120, (9 * (0 + 255) - 0 - 120 + 8) >> 4,
                            (9 * (60 + 180) - 128 - 128 + 8) >> 4),
                    "middle");
        // k = n - 3: 9 c(x-1) + 8 c(x+1) - c(x-3).
        ExpectColor(row[5], FromYuv(120, (9 * 255 + 8 * 120 - 0 + 8) >> 4,
                                    (9 * 180 + 8 * 128 - 60 + 8) >> 4),
                    "k=n-3");
        ExpectColor(row[7], FromYuv(120, (17 * 120 - 255 + 8) >> 4, (17 * 128 - 180 + 8) >> 4),
                    "k=n-1");
        ExpectColor(row[6], FromYuv(120, 120, 128), "even pixel");
    }
}

// A box inside a wider row interpolates within its own decoded pairs and
// reads nothing outside them: here the pairs beyond the box hold chroma that
// would change the result if they were read.
TEST(PairCodec, BoxInsideTheRowUsesOnlyItsDecodedPairs) {
    std::vector<uint8_t> bytes = {120, 255, 120, 255, 120, 40, 120, 200,
                                  120, 80,  120, 100, 120, 0,  120, 0};
    Surface s(8, 1, bytes);
    CodecPtr codec = Make(s.Region(D3DFMT_YUY2, 3, 0, 6, 1));  // pairs 2-3 and 4-5
    ColorF row[3];
    ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
    ExpectColor(row[0], FromYuv(120, (8 * 40 + 8 * 80 + 8) >> 4, (8 * 200 + 8 * 100 + 8) >> 4),
                "column 3");
    ExpectColor(row[1], FromYuv(120, 80, 100), "column 4");
    ExpectColor(row[2], FromYuv(120, (17 * 80 - 40 + 8) >> 4, (17 * 100 - 200 + 8) >> 4),
                "column 5");
}

TEST(PairCodec, RgbgPairsShareRedAndBlue) {
    Surface s(2, 1, {10, 200, 20, 50});
    CodecPtr codec = Make(s.Whole(D3DFMT_R8G8_B8G8));
    ColorF row[2];
    ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
    const float k = 1.0f / 255.0f;
    ExpectColor(row[0], ColorF{200 * k, 10 * k, 50 * k, 1}, "pixel 0");
    ExpectColor(row[1], ColorF{200 * k, 20 * k, 50 * k, 1}, "pixel 1");

    ColorF write[2] = {{0.2f, 0.4f, 0.6f, 1}, {0.8f, 1.2f, -0.5f, 1}};
    ASSERT_EQ(codec->WriteRow(0, 0, write), S_OK);
    codec.reset();
    // Pixel 0's red and blue; pixel 1's green 1.2 clamps to 255.
    EXPECT_EQ(s.bytes, (std::vector<uint8_t>{102, 51, 255, 153}));
}

TEST(PairCodec, ValuesOutsideZeroToOneClamp) {
    Surface s(2, 1);
    {
        CodecPtr codec = Make(s.Whole(D3DFMT_G8R8_G8B8));
        ColorF row[2] = {{-0.1f, 1.2f, 2.0f, 1}, {0.5f, -0.1f, 0.5f, 1}};
        ASSERT_EQ(codec->WriteRow(0, 0, row), S_OK);
    }
    EXPECT_EQ(s.bytes, (std::vector<uint8_t>{0, 255, 255, 0}));
    Surface y(2, 1);
    {
        CodecPtr codec = Make(y.Whole(D3DFMT_YUY2));
        ColorF row[2] = {{1.2f, 1.2f, 1.2f, 1}, {-0.1f, -0.1f, -0.1f, 1}};
        ASSERT_EQ(codec->WriteRow(0, 0, row), S_OK);
    }
    // 1.2 x 219 + 16 = 278.8 clamps to 255; -0.1 gives trunc(-21.4) + 16 = -5 -> 0.
    EXPECT_EQ(y.bytes, (std::vector<uint8_t>{255, 128, 0, 128}));
}

TEST(PairCodec, CacheFollowsRowsAndReadsBackWrittenValues) {
    Surface s(2, 2, {16, 128, 16, 128, 235, 128, 235, 128});
    {
        CodecPtr codec = Make(s.Whole(D3DFMT_YUY2));
        ColorF row[2] = {{0.25f, 0.5f, 0.75f, 1}, {1, 1, 1, 1}};
        ASSERT_EQ(codec->WriteRow(0, 0, row), S_OK);
        ColorF back[2];
        ASSERT_EQ(codec->ReadRow(0, 0, back), S_OK);  // the cache, not the surface
        EXPECT_EQ(back[0].g, 0.5f);
        EXPECT_EQ(back[1].r, 1.0f);
        ASSERT_EQ(codec->ReadRow(1, 0, back), S_OK);  // moving on stores row 0
        EXPECT_EQ(back[0].r, 0.99999994f);
        EXPECT_EQ(s.bytes[2], 235);
        ColorF black[2] = {{0, 0, 0, 1}, {0, 0, 0, 1}};
        ASSERT_EQ(codec->WriteRow(1, 0, black), S_OK);
    }
    EXPECT_EQ(s.bytes[4], 16);
    EXPECT_EQ(s.bytes[6], 16);
}

TEST(PairCodec, FailedCacheAllocationReadsAndWritesNothing) {
    Surface s(4, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    ResetAllocationCount();
    FailAllocationAt(2);  // the codec object, then its cache
    CodecPtr codec(CreatePackedPairCodec(s.Whole(D3DFMT_YUY2)));
    ResetAllocationCount();
    ASSERT_NE(codec, nullptr);
    auto* pair = static_cast<PackedPairCodec*>(codec.get());
    EXPECT_FALSE(pair->cacheValid);
    ColorF row[4] = {{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}};
    EXPECT_EQ(codec->ReadRow(0, 0, row), E_OUTOFMEMORY);
    EXPECT_EQ(row[0].r, 9.0f);
    EXPECT_EQ(codec->WriteRow(0, 0, row), E_OUTOFMEMORY);
    codec.reset();
    EXPECT_EQ(s.bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// Through the engine: A8R8G8B8 into YUY2 and back.
TEST(PairCodec, ConvertsToAndFromPackedRgb) {
    std::vector<uint8_t> argb;
    for (int p = 0; p < 4; ++p) {
        const uint8_t v = p % 2 ? 0 : 255;  // white, black, white, black
        argb.insert(argb.end(), {v, v, v, 255});
    }
    auto argbRegion = [](std::vector<uint8_t>& bits) {
        BlitRegion r{};
        r.bits = bits.data();
        r.format = D3DFMT_A8R8G8B8;
        r.rowPitch = 16;
        r.slicePitch = 16;
        r.bounds = r.box = ImageBox{0, 0, 4, 1, 0, 1};
        return r;
    };
    Surface yuv(4, 1);
    {
        BlitRegion d = yuv.Whole(D3DFMT_YUY2), src = argbRegion(argb);
        ConversionJob job;
        ASSERT_EQ(job.ConvertRegion(d, src, FilterNone | FilterDither), S_OK);
    }
    EXPECT_EQ(yuv.bytes, (std::vector<uint8_t>{235, 128, 16, 128, 235, 128, 16, 128}));
    std::vector<uint8_t> back(16, 7);
    {
        BlitRegion d = argbRegion(back), src = yuv.Whole(D3DFMT_YUY2);
        ConversionJob job;
        ASSERT_EQ(job.ConvertRegion(d, src, FilterNone), S_OK);
    }
    EXPECT_EQ(back, argb);
}

}  // namespace
}  // namespace z3az
