// The codec framework: construction from a region, the factory, the range
// conversion, sRGB, colour keys, palettes, thresholds, the serpentine scan
// and error diffusion.
#include "convert/pixel_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/heap.h"
#include "runtime/inv_sqrt.h"
#include "support/codec_surface.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::CodecPtr;
using test::CodecSurface;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

void ExpectColor(const ColorF& got, const ColorF& want, const char* what = "") {
    EXPECT_EQ(Bits(got.r), Bits(want.r)) << what << " r " << got.r << " want " << want.r;
    EXPECT_EQ(Bits(got.g), Bits(want.g)) << what << " g " << got.g << " want " << want.g;
    EXPECT_EQ(Bits(got.b), Bits(want.b)) << what << " b " << got.b << " want " << want.b;
    EXPECT_EQ(Bits(got.a), Bits(want.a)) << what << " a " << got.a << " want " << want.a;
}

// --- Construction -----------------------------------------------------------

TEST(PixelCodecConstruction, FieldsFromTheRegion) {
    // A 4 x 3 x 2 surface of X8R8G8B8 with a box of 2 x 1 x 1 at (1, 2, 1).
    CodecSurface s(D3DFMT_X8R8G8B8, 4, 4, 3, 2);
    s.region.box = ImageBox{1, 2, 3, 3, 1, 2};
    s.region.dither = 1;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->format, uint32_t{D3DFMT_X8R8G8B8});
    EXPECT_EQ(c->valueRange, RangeUnsigned);
    EXPECT_EQ(c->byteAddressable, 1u);
    EXPECT_EQ(c->bits, s.Pixel(1, 2, 1));
    EXPECT_EQ(c->width, 2u);
    EXPECT_EQ(c->height, 1u);
    EXPECT_EQ(c->depth, 1u);
    EXPECT_EQ(c->bytesPerPixel, 4u);
    EXPECT_EQ(c->rowBytes, 8u);
    EXPECT_EQ(c->rowPitch, 16u);
    EXPECT_EQ(c->slicePitch, 48u);
    EXPECT_EQ(c->box.left, 0u);
    EXPECT_EQ(c->box.right, 2u);
    EXPECT_EQ(c->box.top, 0u);
    EXPECT_EQ(c->box.bottom, 1u);
    EXPECT_EQ(c->box.front, 0u);
    EXPECT_EQ(c->box.back, 1u);
    EXPECT_EQ(c->ditherTable, OrderedThresholds);
    EXPECT_EQ(c->errorRow, nullptr);
    EXPECT_EQ(c->palette, nullptr);
    EXPECT_EQ(c->scratchRow, nullptr);
    EXPECT_EQ(c->convertFrom, 0u);
    EXPECT_EQ(c->paletted, 0u);

    // Rows are addressed from the box's corner.
    s.SetCode(1, 0x00FF0000, 2, 1);
    ColorF out[2];
    c->ReadRow(0, 0, out);
    ExpectColor(out[0], {1, 0, 0, 1});
}

TEST(PixelCodecConstruction, ErrorRowIsAllocatedZeroedForDiffusion) {
    CodecSurface s(D3DFMT_A8, 1, 5);
    s.region.diffuse = 1;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ASSERT_NE(c->errorRow, nullptr);
    EXPECT_EQ(c->ditherTable, PlainThresholds);
    for (int i = 0; i < 7; ++i) ExpectColor(c->errorRow[i], {0, 0, 0, 0});
}

TEST(PixelCodecConstruction, FailedErrorRowAllocationDisablesDiffusion) {
    CodecSurface s(D3DFMT_A8, 1, 5);
    s.region.diffuse = 1;
    FailAllocationAt(2);  // the codec is the first allocation, its error row the second
    CodecPtr c = s.Codec();
    FailAllocationAt(0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->errorRow, nullptr);
    ColorF row[5] = {{0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}};
    EXPECT_EQ(c->WriteRow(0, 0, row), S_OK);
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(s.Code(x), 64u);  // 63.75 + 0.5 truncated
}

TEST(PixelCodecConstruction, SrgbIsKeptOnlyWhereTheRangeCarriesIt) {
    struct {
        uint32_t format;
        uint32_t bytes;
        uint32_t srgb;
    } cases[] = {
        {D3DFMT_A8R8G8B8, 4, 1}, {D3DFMT_A16B16G16R16F, 8, 1}, {D3DFMT_L6V5U5, 2, 1},
        {D3DFMT_V8U8, 2, 0},     {D3DFMT_Q8W8V8U8, 4, 0},      {D3DFMT_X8L8V8U8, 4, 0},
        {D3DFMT_CxV8U8, 2, 0},
    };
    for (const auto& c : cases) {
        CodecSurface s(c.format, c.bytes, 2);
        s.region.srgb = 1;
        CodecPtr codec = s.Codec();
        ASSERT_TRUE(codec);
        EXPECT_EQ(codec->srgb, c.srgb) << c.format;
    }
}

// --- Factory ----------------------------------------------------------------

TEST(CreatePixelCodec, NullForFormatsWithoutCodec) {
    const uint32_t formats[] = {D3DFMT_D32, D3DFMT_D15S1, D3DFMT_D24S8, D3DFMT_D16, D3DFMT_D24X8,
                                D3DFMT_D24X4S4, D3DFMT_D24FS8, D3DFMT_UNKNOWN, 12345,
                                MAKEFOURCC('A', 'B', 'C', 'D')};
    for (uint32_t f : formats) {
        CodecSurface s(f, 4, 2);
        EXPECT_FALSE(s.Codec()) << f;
    }
}

TEST(CreatePixelCodec, NullForABoxTurnedInsideOut) {
    CodecSurface s(D3DFMT_A8R8G8B8, 4, 4, 4);
    s.region.box = ImageBox{3, 0, 1, 4, 0, 1};
    EXPECT_FALSE(s.Codec());
    s.region.box = ImageBox{0, 3, 4, 1, 0, 1};
    EXPECT_FALSE(s.Codec());
    s.region.box = ImageBox{0, 0, 4, 4, 1, 0};
    EXPECT_FALSE(s.Codec());
    s.region.box = ImageBox{2, 2, 2, 2, 0, 0};  // empty is fine
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->width, 0u);
}

TEST(CreatePixelCodec, EveryAllocationFailureGivesNullWithoutLeaks) {
    const PALETTEENTRY entries[256] = {};
    CodecSurface s(D3DFMT_P8, 1, 4);
    s.region.palette = const_cast<PALETTEENTRY*>(entries);
    s.region.diffuse = 1;
    s.region.colorKey = 0xFF000000u;
    // Codec, error row, palette: any of them failing but the error row
    // gives null (leaks would show under the sanitizers).
    for (unsigned long n : {1ul, 3ul}) {
        FailAllocationAt(n);
        CodecPtr c = s.Codec();
        FailAllocationAt(0);
        EXPECT_FALSE(c) << n;
    }
    FailAllocationAt(2);
    CodecPtr c = s.Codec();
    FailAllocationAt(0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->errorRow, nullptr);
    EXPECT_NE(c->palette, nullptr);
}

// --- Palette -----------------------------------------------------------------

TEST(ExpandPalette, EntriesBecomeColoursWithFlagsAsAlpha) {
    PALETTEENTRY entries[256] = {};
    entries[0] = {255, 0, 51, 255};
    entries[9] = {1, 2, 3, 128};
    CodecSurface s(D3DFMT_P8, 1, 2);
    s.region.palette = entries;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ASSERT_NE(c->palette, nullptr);
    EXPECT_EQ(c->paletted, 1u);
    ExpectColor(c->palette[0], {1.0f, 0.0f, 51 / 255.0f, 1.0f});
    ExpectColor(c->palette[9], {1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 128 / 255.0f});
    ExpectColor(c->palette[255], {0, 0, 0, 0});
}

TEST(ExpandPalette, WithoutPaletteEveryEntryIsOpaqueWhite) {
    for (uint32_t format : {D3DFMT_P8, D3DFMT_A8P8}) {
        CodecSurface s(format, format == D3DFMT_P8 ? 1 : 2, 3);
        s.SetCode(0, 0x0000);
        s.SetCode(1, 0x8007);
        s.SetCode(2, 0xFFFF);
        CodecPtr c = s.Codec();
        ASSERT_TRUE(c);
        for (int i = 0; i < 256; ++i) ExpectColor(c->palette[i], {1, 1, 1, 1});
        ColorF out[3];
        c->ReadRow(0, 0, out);
        if (format == D3DFMT_P8) {
            for (const ColorF& p : out) ExpectColor(p, {1, 1, 1, 1}, "P8");
        } else {
            ExpectColor(out[0], {1, 1, 1, 0}, "A8P8");
            ExpectColor(out[1], {1, 1, 1, 128 / 255.0f}, "A8P8");
            ExpectColor(out[2], {1, 1, 1, 1}, "A8P8");
        }
        // Every colour is nearest to entry 0.
        ColorF in[3] = {{0, 0, 0, 0}, {0.3f, 0.9f, 0.1f, 1}, {1, 1, 1, 1}};
        c->WriteRow(0, 0, in);
        for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(s.Pixel(x)[0], 0) << format;
    }
}

// --- Colour key ----------------------------------------------------------------

TEST(ColorKey, MidGreyOnR5G6B5IsQuantizedThroughTheFormat) {
    CodecSurface s(D3DFMT_R5G6B5, 2, 3);
    s.region.colorKey = 0xFF808080u;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ExpectColor(c->keyColor, {16 * (1.0f / 31), 32 * (1.0f / 63), 16 * (1.0f / 31), 1.0f});
    // A stored key colour reads as transparent black; its neighbours do not.
    s.SetCode(0, (16u << 11) | (32u << 5) | 16u);
    s.SetCode(1, (16u << 11) | (33u << 5) | 16u);
    ColorF out[3];
    c->ReadRow(0, 0, out);
    ExpectColor(out[0], {0, 0, 0, 0}, "key");
    EXPECT_EQ(out[1].a, 1.0f);
    EXPECT_EQ(out[2].a, 1.0f);  // black is not the key
    // The preparation wrote nothing into the surface.
    EXPECT_EQ(s.Code(2), 0u);
}

TEST(ColorKey, ExamplesAcrossFormats) {
    PALETTEENTRY entries[256] = {};
    for (int i = 0; i < 256; ++i) entries[i] = {uint8_t(i), 0, 0, 255};
    struct Case {
        const char* name;
        uint32_t format;
        uint32_t bytes;
        uint32_t key;
        ColorF keyColor;
    } cases[] = {
        {"alpha 0 on a format without alpha reads 1", D3DFMT_X8R8G8B8, 4, 0x00102030u,
         {16 * (1.0f / 255), 32 * (1.0f / 255), 48 * (1.0f / 255), 1.0f}},
        {"A8 keeps only alpha", D3DFMT_A8, 1, 0x80FFFFFFu, {0, 0, 0, 128 * (1.0f / 255)}},
        {"signed key converted to the signed range", D3DFMT_V8U8, 2, 0xFFFF0080u,
         {127 * (1.0f / 127), -126 * (1.0f / 127), 1.0f, 1.0f}},  // -1 stores -126
        {"float formats keep the key", D3DFMT_R32F, 4, 0xFF400000u,
         {64 * (1.0f / 255), 1.0f, 1.0f, 1.0f}},
        {"palette key becomes the nearest entry", D3DFMT_P8, 1, 0xFF070000u,
         {7 / 255.0f, 0, 0, 1}},
    };
    for (const Case& k : cases) {
        CodecSurface s(k.format, k.bytes, 1);
        s.region.colorKey = k.key;
        s.region.palette = entries;
        CodecPtr c = s.Codec();
        ASSERT_TRUE(c) << k.name;
        ExpectColor(c->keyColor, k.keyColor, k.name);
    }
}

TEST(ColorKey, ZeroMeansNoKey) {
    CodecSurface s(D3DFMT_A8R8G8B8, 4, 1);
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->colorKey, 0u);
    ColorF out[1];
    c->ReadRow(0, 0, out);
    ExpectColor(out[0], {0, 0, 0, 0});
    // Transparent black is the pixel's own value, not a key match: a
    // stored colour equal to the (zero) keyColor field stays as read.
    s.SetCode(0, 0x01000000u);
    c->ReadRow(0, 0, out);
    EXPECT_EQ(out[0].a, 1 * (1.0f / 255));
}

TEST(ColorKey, PreparationLeavesNoErrorsAndSurvivesSrgb) {
    CodecSurface s(D3DFMT_R5G6B5, 2, 4);
    s.region.colorKey = 0xFF808080u;
    s.region.diffuse = 1;
    s.region.srgb = 1;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ASSERT_NE(c->errorRow, nullptr);
    for (int i = 0; i < 6; ++i) ExpectColor(c->errorRow[i], {0, 0, 0, 0});
    EXPECT_EQ(c->srgb, 1u);
    EXPECT_EQ(c->width, 4u);
    EXPECT_EQ(c->bits, s.Pixel(0));
    ExpectColor(c->keyColor, {16 * (1.0f / 31), 32 * (1.0f / 63), 16 * (1.0f / 31), 1.0f});
}

// --- ConvertRange ------------------------------------------------------------

TEST(ConvertPixelRange, Table) {
    struct Case {
        ValueRange own, from;
        ColorF in, out;
    } cases[] = {
        {RangeUnsigned, RangeFloat, {1.5f, -0.25f, kNaN, 0.5f}, {1, 0, 1, 0.5f}},
        {RangeUnsigned, RangeSignedRgb, {-1, 0, 1, 0.25f}, {0, 0.5f, 1, 0.25f}},
        {RangeUnsigned, RangeSigned, {-1, 0, 1, -1}, {0, 0.5f, 1, 0}},
        {RangeSignedRgb, RangeUnsigned, {0, 0.5f, 1, 0.25f}, {-1, 0, 1, 0.25f}},
        {RangeSignedRgb, RangeSigned, {-1, 0.5f, 1, -1}, {-1, 0.5f, 1, 0}},
        {RangeSignedRgb, RangeFloat, {-3, 0.5f, kNaN, 2}, {-1, 0.5f, 1, 1}},
        {RangeSignedRgb, RangeFloat, {0, 0, 0, -0.5f}, {0, 0, 0, 0}},
        {RangeSigned, RangeUnsigned, {0, 0.5f, 1, 0.75f}, {-1, 0, 1, 0.5f}},
        {RangeSigned, RangeSignedRgb, {-1, 0.5f, 1, 0}, {-1, 0.5f, 1, -1}},
        {RangeSigned, RangeFloat, {-2, 0.25f, 7, kNaN}, {-1, 0.25f, 1, 1}},
    };
    for (const Case& c : cases) ExpectColor(ConvertPixelRange(c.in, c.own, c.from), c.out);
}

TEST(ConvertRange, WritesTheScratchRowOrWorksInPlace) {
    CodecSurface s(D3DFMT_A8R8G8B8, 4, 2);
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ColorF row[2] = {{1.5f, -0.25f, kNaN, 0.5f}, {0.25f, 0.5f, 0.75f, 1}};
    EXPECT_EQ(c->ConvertRange(row), row);  // convertFrom 0: nothing to do
    ExpectColor(row[1], {0.25f, 0.5f, 0.75f, 1});

    c->convertFrom = RangeFloat;
    EXPECT_EQ(c->ConvertRange(row), row);  // no scratch row: in place
    ExpectColor(row[0], {1, 0, 1, 0.5f});

    c->scratchRow = static_cast<ColorF*>(AllocateArray(2, sizeof(ColorF)));
    ASSERT_NE(c->scratchRow, nullptr);
    c->convertFrom = RangeSigned;
    ColorF signedRow[2] = {{-1, 0, 1, 0}, {0, 0, 0, -1}};
    EXPECT_EQ(c->ConvertRange(signedRow), c->scratchRow);
    ExpectColor(c->scratchRow[0], {0, 0.5f, 1, 0.5f});
    ExpectColor(c->scratchRow[1], {0.5f, 0.5f, 0.5f, 0});
    ExpectColor(signedRow[0], {-1, 0, 1, 0});  // the input is left alone
}

TEST(ConvertRange, WriteRowConvertsBeforeQuantizing) {
    // A signed destination fed unsigned rows: 0.5 is the signed 0, 1 is 127.
    CodecSurface s(D3DFMT_V8U8, 2, 2);
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    c->convertFrom = RangeUnsigned;
    ColorF row[2] = {{0.5f, 1.0f, 0, 0}, {0.0f, 0.75f, 0, 0}};
    c->WriteRow(0, 0, row);
    EXPECT_EQ(s.Code(0), 0x7F00u);  // U 0, V 127
    EXPECT_EQ(s.Code(1), 0x4082u);  // U -126, V 64 (63.5 + 0.5)
}

// --- sRGB --------------------------------------------------------------------

TEST(SrgbTables, EndsAndMiddle) {
    EXPECT_EQ(SrgbEncodeTable[0], 0.0f);
    EXPECT_EQ(SrgbDecodeTable[0], 0.0f);
    EXPECT_EQ(SrgbEncodeTable[254], 1.0f);
    EXPECT_EQ(SrgbDecodeTable[254], 1.0f);
    EXPECT_EQ(SrgbEncodeTable[255], 1.0f);
    EXPECT_EQ(SrgbDecodeTable[255], 1.0f);
    for (int i : {1, 64, 127, 200, 253}) {
        EXPECT_FLOAT_EQ(SrgbEncodeTable[i], float(std::pow(i / 254.0, 1 / 1.1))) << i;
        EXPECT_FLOAT_EQ(SrgbDecodeTable[i], float(std::pow(i / 254.0, 1.1))) << i;
    }
}

TEST(Srgb, EncodeAndDecodeValues) {
    CodecSurface s(D3DFMT_A8R8G8B8, 4, 4);
    s.region.srgb = 1;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ColorF row[4] = {{0, 1, 0.5f, 0.3f}, {0.2176f, 0.25f, 1, 0}, {2.0f, -1.0f, kNaN, 1}, {0, 0, 0, 0}};
    ColorF* out = c->EncodeSrgb(row);
    EXPECT_EQ(out, row);  // no scratch row: in place
    EXPECT_EQ(out[0].r, 0.0f);
    EXPECT_EQ(out[0].g, 1.0f);
    EXPECT_NEAR(out[0].b, std::pow(0.5, 1 / 2.2), 2e-3);
    EXPECT_EQ(out[0].a, 0.3f);  // alpha is not encoded
    EXPECT_NEAR(out[1].r, 0.5f, 2e-3);
    EXPECT_NEAR(out[1].g, std::pow(0.25, 1 / 2.2), 2e-3);
    // Outside 0..1 the table position is held at its ends.
    EXPECT_EQ(out[2].r, 1.0f);
    EXPECT_EQ(out[2].g, 0.0f);
    EXPECT_EQ(out[2].b, 0.0f);

    ColorF dec[4] = {{0.5f, 0, 1, 0.5f}, {0.25f, 0.75f, 0.1f, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}};
    c->DecodeSrgb(dec);
    EXPECT_NEAR(dec[0].r, 0.2176f, 5e-4);
    EXPECT_EQ(dec[0].g, 0.0f);
    EXPECT_EQ(dec[0].b, 1.0f);
    EXPECT_EQ(dec[0].a, 0.5f);
    EXPECT_NEAR(dec[1].r, std::pow(0.25, 2.2), 5e-4);
    EXPECT_NEAR(dec[1].g, std::pow(0.75, 2.2), 5e-4);
}

TEST(Srgb, DecodeInterpolatesBetweenEntries) {
    CodecSurface s(D3DFMT_A8R8G8B8, 4, 1);
    s.region.srgb = 1;
    CodecPtr c = s.Codec();
    ColorF p[1] = {{0.5f, 0, 0, 0}};
    c->DecodeSrgb(p);
    // 254 * 0.25 = 63.5: halfway between entries 63 and 64.
    EXPECT_EQ(p[0].r, SrgbDecodeTable[63] + (SrgbDecodeTable[64] - SrgbDecodeTable[63]) * 0.5f);
}

TEST(Srgb, BothEndsSrgbUsesTheSquareAndSquareRoot) {
    CodecSurface s(D3DFMT_A8R8G8B8, 4, 1);
    s.region.srgb = 1;
    CodecPtr c = s.Codec();
    c->bothSrgb = 1;
    ColorF p[1] = {{0.25f, 0.5f, 0.81f, 0.5f}};
    c->EncodeSrgb(p);
    EXPECT_EQ(p[0].r, 0.25f * ApproxInvSqrt(0.25f));
    EXPECT_EQ(p[0].g, 0.5f * ApproxInvSqrt(0.5f));
    EXPECT_EQ(p[0].a, 0.5f);
    ColorF q[1] = {{0.5f, 0.25f, 1, 0.5f}};
    c->DecodeSrgb(q);
    ExpectColor(q[0], {0.25f, 0.0625f, 1, 0.5f});
}

TEST(Srgb, SignedCodecsTreatOnlyTheLuminanceInAlpha) {
    CodecSurface s(D3DFMT_L6V5U5, 2, 1);
    s.region.srgb = 1;
    CodecPtr c = s.Codec();
    ASSERT_TRUE(c);
    ColorF p[1] = {{-0.5f, 0.5f, 1, 0.5f}};
    c->DecodeSrgb(p);
    EXPECT_EQ(p[0].r, -0.5f);
    EXPECT_EQ(p[0].g, 0.5f);
    EXPECT_NEAR(p[0].a, 0.2176f, 5e-4);
}

TEST(Srgb, WriteAndReadRoundTrip) {
    CodecSurface s(D3DFMT_X8R8G8B8, 4, 1);
    s.region.srgb = 1;
    CodecPtr c = s.Codec();
    ColorF p[1] = {{0.2176f, 1.0f, 0.0f, 1}};
    c->WriteRow(0, 0, p);
    EXPECT_NEAR(double((s.Code(0) >> 16) & 0xFF), 127.5, 1.0);  // about 0.5 encoded
    EXPECT_EQ((s.Code(0) >> 8) & 0xFF, 255u);
    EXPECT_EQ(s.Code(0) & 0xFF, 0u);
    ColorF back[1];
    c->ReadRow(0, 0, back);
    EXPECT_NEAR(back[0].r, 0.2176f, 3e-3);
    EXPECT_EQ(back[0].g, 1.0f);
    EXPECT_EQ(back[0].b, 0.0f);
}

// --- Thresholds and scan -------------------------------------------------------

TEST(Thresholds, Tables) {
    const int m[4][4] = {{15, 7, 13, 5}, {3, 11, 1, 9}, {12, 4, 14, 6}, {0, 8, 2, 10}};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 8; ++col) {
            EXPECT_EQ(OrderedThresholds[row * 8 + col], (2 * m[row][col % 4] + 1) / 32.0f);
            EXPECT_EQ(PlainThresholds[row * 8 + col], 0.5f);
        }
    }
}

TEST(Thresholds, PlainRoundsAndOrderedDithers) {
    struct {
        uint32_t dither;
        uint32_t row, slice;
        uint32_t expected[4];
    } cases[] = {
        // 0.5 * 255 = 127.5: plain rounding gives 128 everywhere.
        {0, 0, 0, {128, 128, 128, 128}},
        // Row 0: 31/32, 15/32, 27/32, 11/32: pixel 1 stores 127.
        {1, 0, 0, {128, 127, 128, 127}},
        // Slice 1 starts one column further.
        {1, 0, 1, {127, 128, 127, 128}},
        // Row 2: 25/32, 9/32, 29/32, 13/32.
        {1, 2, 0, {128, 127, 128, 127}},
    };
    for (const auto& k : cases) {
        CodecSurface s(D3DFMT_X8R8G8B8, 4, 4, 4, 2);
        s.region.dither = k.dither;
        CodecPtr c = s.Codec();
        ColorF row[4] = {{0.5f, 0, 0, 1}, {0.5f, 0, 0, 1}, {0.5f, 0, 0, 1}, {0.5f, 0, 0, 1}};
        c->WriteRow(k.row, k.slice, row);
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ((s.Code(x, k.row, k.slice) >> 16) & 0xFF, k.expected[x])
                << "row " << k.row << " slice " << k.slice << " x " << x;
    }
}

TEST(Thresholds, OddRowsAreScannedRightToLeft) {
    // v = 100.4: only the threshold 23/32 (row 1, column 1) carries it to
    // 101. On row 1 the pixel processed second is x = 2.
    const float c = 100.4f / 255;
    for (uint32_t rowIndex : {1u, 5u}) {
        CodecSurface s(D3DFMT_A8, 1, 4, 6);
        s.region.dither = 1;
        CodecPtr codec = s.Codec();
        ColorF row[4] = {{0, 0, 0, c}, {0, 0, 0, c}, {0, 0, 0, c}, {0, 0, 0, c}};
        codec->WriteRow(rowIndex, 0, row);
        EXPECT_EQ(s.Code(0, rowIndex), 100u);
        EXPECT_EQ(s.Code(1, rowIndex), 100u);
        EXPECT_EQ(s.Code(2, rowIndex), 101u);
        EXPECT_EQ(s.Code(3, rowIndex), 100u);
    }
    // The same row written as row 1 of a width-5 surface: x = 4 comes first.
    CodecSurface s(D3DFMT_A8, 1, 5, 2);
    s.region.dither = 1;
    CodecPtr codec = s.Codec();
    ColorF row[5] = {{0, 0, 0, c}, {0, 0, 0, c}, {0, 0, 0, c}, {0, 0, 0, c}, {0, 0, 0, c}};
    codec->WriteRow(1, 0, row);
    EXPECT_EQ(s.Code(3, 1), 101u);
    EXPECT_EQ(s.Code(2, 1), 100u);
}

TEST(Quantize, SignedValuesTruncateTowardZero) {
    struct {
        float value;
        uint8_t code;
    } cases[] = {
        {-1.0f, 0x82},            // -127 + 0.5 truncated: -126
        {-127.5f / 127, 0x81},    // -127
        {-1.5f, 0x81},            // clamped to -127, never -128
        {-0.3f, uint8_t(-37)},    // -38.1 + 0.5 = -37.6: -37
        {-0.001f, 0x00},
        {1.0f, 0x7F},             // 127.5 truncated, clamped to 127
        {kNaN, 0x00},
    };
    for (const auto& k : cases) {
        CodecSurface s(D3DFMT_V8U8, 2, 1);
        CodecPtr c = s.Codec();
        ColorF p[1] = {{k.value, 0, 0, 0}};
        c->WriteRow(0, 0, p);
        EXPECT_EQ(s.Pixel(0)[0], k.code) << k.value;
    }
}

// --- Error diffusion -----------------------------------------------------------

// A1R5G5B5 alpha has M = 1, so v = a and every error is an exact fraction.
// Two rows of three pixels of alpha 0.25 (colour 0, which leaves no error).
TEST(ErrorDiffusion, HandCheckedTwoRows) {
    CodecSurface s(D3DFMT_A1R5G5B5, 2, 3, 2);
    s.region.diffuse = 1;
    CodecPtr c = s.Codec();
    ASSERT_NE(c->errorRow, nullptr);
    ColorF row0[3] = {{0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}};
    c->WriteRow(0, 0, row0);
    // Left to right. x0: v .25, q 0, e .25 (carry 7/64).
    // x1: v 23/64, q 0, e 23/64 (carry 161/1024). x2: v 417/1024, q 0.
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(s.Code(x, 0), 0u);
    const float expected0[5] = {768 / 16384.0f, 2384 / 16384.0f, 3347 / 16384.0f,
                                2453 / 16384.0f, 417 / 16384.0f};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(c->errorRow[i].a, expected0[i]) << "entry " << i;
        EXPECT_EQ(c->errorRow[i].r, 0.0f);
    }
    // Right to left over 0.25 + entries 1..3: x2 = 6549/16384 stays 0 and
    // carries 7/16 of itself into x1 = 7443/16384, which reaches 1.
    ColorF row1[3] = {{0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}, {0, 0, 0, 0.25f}};
    c->WriteRow(1, 0, row1);
    EXPECT_EQ(s.Code(2, 1), 0u);
    EXPECT_EQ(s.Code(1, 1), 0x8000u);
    EXPECT_EQ(s.Code(0, 1), 0u);
    // Pushed down from x2 (e = 6549/16384, direction -1): 3/16 to entry 4,
    // 5/16 to entry 3, 1/16 to entry 2 (with x1's 3/16 and x0's share).
    const double e2 = 6549 / 16384.0;
    const double e1 = 7443 / 16384.0 + e2 * 7 / 16 - 1;
    const double e0 = 6480 / 16384.0 + e1 * 7 / 16;
    EXPECT_FLOAT_EQ(c->errorRow[4].a, float(e2 * 3 / 16));
    EXPECT_FLOAT_EQ(c->errorRow[3].a, float(e2 * 5 / 16 + e1 * 3 / 16));
    EXPECT_FLOAT_EQ(c->errorRow[2].a, float(e2 / 16 + e1 * 5 / 16 + e0 * 3 / 16));
    EXPECT_FLOAT_EQ(c->errorRow[1].a, float(e1 / 16 + e0 * 5 / 16));
    EXPECT_FLOAT_EQ(c->errorRow[0].a, float(e0 / 16));
}

TEST(ErrorDiffusion, ErrorUsesTheUnclampedCode) {
    CodecSurface s(D3DFMT_A1R5G5B5, 2, 1);
    s.region.diffuse = 1;
    CodecPtr c = s.Codec();
    ColorF p[1] = {{0, 0, 0, 1.75f}};
    c->WriteRow(0, 0, p);
    EXPECT_EQ(s.Code(0), 0x8000u);  // clamped to 1
    // q = 2 before clamping: e = -0.25, of which 5/16 goes below.
    EXPECT_EQ(c->errorRow[1].a, -0.25f * 5 / 16);
    EXPECT_EQ(c->errorRow[0].a, -0.25f * 3 / 16);
    EXPECT_EQ(c->errorRow[2].a, -0.25f / 16);
}

TEST(ErrorDiffusion, NonFiniteInputDoesNotSpreadItsError) {
    CodecSurface s(D3DFMT_A8, 1, 4, 2);
    s.region.diffuse = 1;
    CodecPtr c = s.Codec();
    const float inf = std::numeric_limits<float>::infinity();
    ColorF row[4] = {{0, 0, 0, kNaN}, {0, 0, 0, inf}, {0, 0, 0, 0.5f}, {0, 0, 0, 0.5f}};
    c->WriteRow(0, 0, row);
    EXPECT_EQ(s.Code(0), 0u);
    EXPECT_EQ(s.Code(1), 255u);
    EXPECT_EQ(s.Code(2), 128u);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(std::isfinite(c->errorRow[i].a)) << i;
    ColorF next[4] = {{0, 0, 0, 0.5f}, {0, 0, 0, 0.5f}, {0, 0, 0, 0.5f}, {0, 0, 0, 0.5f}};
    c->WriteRow(1, 0, next);
    for (uint32_t x = 0; x < 4; ++x) {
        EXPECT_GE(s.Code(x, 1), 127u);
        EXPECT_LE(s.Code(x, 1), 128u);
    }
}

TEST(ErrorDiffusion, MeanLevelIsPreservedOverARegion) {
    // 0.3 of a 1-bit channel over 16 x 16 pixels: 30% of the pixels set.
    CodecSurface s(D3DFMT_A1R5G5B5, 2, 16, 16);
    s.region.diffuse = 1;
    CodecPtr c = s.Codec();
    uint32_t set = 0;
    for (uint32_t y = 0; y < 16; ++y) {
        std::vector<ColorF> row(16, ColorF{0, 0, 0, 0.3f});
        c->WriteRow(y, 0, row.data());
        for (uint32_t x = 0; x < 16; ++x) set += (s.Code(x, y) >> 15) & 1;
    }
    EXPECT_NEAR(set, 0.3 * 256, 4);
}

}  // namespace
}  // namespace z3az
