// The per-format codecs: what each stores for given values, what it reads
// from given bytes, and round trips of every code (or of large samples).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/pixel_codec.h"
#include "support/codec_surface.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::CodecPtr;
using test::CodecSurface;
using Bytes = std::vector<uint8_t>;

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t v : b) {
        std::snprintf(buf, sizeof buf, "%02X ", v);
        s += buf;
    }
    return s;
}

// Every format with a codec of its own: bytes per pixel and value range.
struct FormatInfo {
    uint32_t format;
    uint32_t bytes;
    ValueRange range;
};
const FormatInfo kFormats[] = {
    {D3DFMT_R8G8B8, 3, RangeUnsigned},         {D3DFMT_A8R8G8B8, 4, RangeUnsigned},
    {D3DFMT_X8R8G8B8, 4, RangeUnsigned},       {D3DFMT_R5G6B5, 2, RangeUnsigned},
    {D3DFMT_X1R5G5B5, 2, RangeUnsigned},       {D3DFMT_A1R5G5B5, 2, RangeUnsigned},
    {D3DFMT_A4R4G4B4, 2, RangeUnsigned},       {D3DFMT_R3G3B2, 1, RangeUnsigned},
    {D3DFMT_A8, 1, RangeUnsigned},             {D3DFMT_A8R3G3B2, 2, RangeUnsigned},
    {D3DFMT_X4R4G4B4, 2, RangeUnsigned},       {D3DFMT_A2B10G10R10, 4, RangeUnsigned},
    {D3DFMT_A8B8G8R8, 4, RangeUnsigned},       {D3DFMT_X8B8G8R8, 4, RangeUnsigned},
    {D3DFMT_G16R16, 4, RangeUnsigned},         {D3DFMT_A2R10G10B10, 4, RangeUnsigned},
    {D3DFMT_A16B16G16R16, 8, RangeUnsigned},   {PrivateFormatR16G16B16, 6, RangeUnsigned},
    {D3DFMT_L8, 1, RangeUnsigned},             {D3DFMT_A8L8, 2, RangeUnsigned},
    {D3DFMT_A4L4, 1, RangeUnsigned},           {D3DFMT_L16, 2, RangeUnsigned},
    {D3DFMT_D16_LOCKABLE, 2, RangeUnsigned},   {PrivateFormatA16L16, 4, RangeUnsigned},
    {D3DFMT_P8, 1, RangeUnsigned},             {D3DFMT_A8P8, 2, RangeUnsigned},
    {D3DFMT_V8U8, 2, RangeSignedRgb},          {D3DFMT_L6V5U5, 2, RangeSignedRgb},
    {D3DFMT_X8L8V8U8, 4, RangeSignedRgb},      {D3DFMT_Q8W8V8U8, 4, RangeSigned},
    {D3DFMT_V16U16, 4, RangeSignedRgb},        {D3DFMT_A2W10V10U10, 4, RangeSignedRgb},
    {D3DFMT_Q16W16V16U16, 8, RangeSigned},     {D3DFMT_CxV8U8, 2, RangeSignedRgb},
    {D3DFMT_R16F, 2, RangeFloat},              {D3DFMT_G16R16F, 4, RangeFloat},
    {D3DFMT_A16B16G16R16F, 8, RangeFloat},     {D3DFMT_R32F, 4, RangeFloat},
    {D3DFMT_D32F_LOCKABLE, 4, RangeFloat},     {D3DFMT_G32R32F, 8, RangeFloat},
    {D3DFMT_A32B32G32R32F, 16, RangeFloat},
};

TEST(Codecs, EveryFormatHasItsCodec) {
    for (const FormatInfo& f : kFormats) {
        CodecSurface s(f.format, f.bytes, 3);
        CodecPtr c = s.Codec();
        ASSERT_TRUE(c) << f.format;
        EXPECT_EQ(c->bytesPerPixel, f.bytes) << f.format;
        EXPECT_EQ(c->valueRange, f.range) << f.format;
        EXPECT_EQ(c->byteAddressable, 1u);
        EXPECT_EQ(c->paletted, uint32_t(f.format == D3DFMT_P8 || f.format == D3DFMT_A8P8));
    }
}

// --- Writing ---------------------------------------------------------------

struct WriteCase {
    const char* name;
    uint32_t format;
    uint32_t bytes;
    ColorF in;
    Bytes expected;
};
const WriteCase kWrites[] = {
    {"R5G6B5 R 31, G 32, B 0", D3DFMT_R5G6B5, 2, {1, 0.5f, 0, 1}, {0x00, 0xFC}},
    {"R8G8B8 in B, G, R order", D3DFMT_R8G8B8, 3, {1, 0.5f, 0, 0}, {0x00, 0x80, 0xFF}},
    {"A8R8G8B8", D3DFMT_A8R8G8B8, 4, {1, 0, 0.5f, 0.2f}, {0x80, 0x00, 0xFF, 0x33}},
    {"X8R8G8B8 writes X as 0", D3DFMT_X8R8G8B8, 4, {1, 0, 1, 1}, {0xFF, 0x00, 0xFF, 0x00}},
    {"X1R5G5B5 writes bit 15 as 0", D3DFMT_X1R5G5B5, 2, {1, 1, 1, 1}, {0xFF, 0x7F}},
    {"A1R5G5B5 alpha above one half", D3DFMT_A1R5G5B5, 2, {0, 0, 1, 0.6f}, {0x1F, 0x80}},
    {"A1R5G5B5 alpha below one half", D3DFMT_A1R5G5B5, 2, {0, 0, 1, 0.4f}, {0x1F, 0x00}},
    {"A4R4G4B4", D3DFMT_A4R4G4B4, 2, {1, 0, 0, 1}, {0x00, 0xFF}},
    {"X4R4G4B4 writes bits 12 to 15 as 0", D3DFMT_X4R4G4B4, 2, {1, 1, 1, 1}, {0xFF, 0x0F}},
    {"R3G3B2", D3DFMT_R3G3B2, 1, {1, 0, 1, 0}, {0xE3}},
    {"A8", D3DFMT_A8, 1, {1, 1, 1, 0.5f}, {0x80}},
    {"A8R3G3B2", D3DFMT_A8R3G3B2, 2, {0, 1, 0, 1}, {0x1C, 0xFF}},
    {"A2B10G10R10", D3DFMT_A2B10G10R10, 4, {1, 0, 0, 1.0f / 3}, {0xFF, 0x03, 0x00, 0x40}},
    {"A8B8G8R8", D3DFMT_A8B8G8R8, 4, {1, 0, 0.5f, 1}, {0xFF, 0x00, 0x80, 0xFF}},
    {"X8B8G8R8 writes X as 0", D3DFMT_X8B8G8R8, 4, {1, 0, 0.5f, 1}, {0xFF, 0x00, 0x80, 0x00}},
    {"G16R16", D3DFMT_G16R16, 4, {1, 0.5f, 0, 0}, {0xFF, 0xFF, 0x00, 0x80}},
    {"A2R10G10B10", D3DFMT_A2R10G10B10, 4, {1, 0, 0, 1}, {0x00, 0x00, 0xF0, 0xFF}},
    {"A16B16G16R16", D3DFMT_A16B16G16R16, 8, {0, 1, 0, 1}, {0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}},
    {"R16G16B16 words B, G, R", PrivateFormatR16G16B16, 6, {1, 0, 0, 0}, {0, 0, 0, 0, 0xFF, 0xFF}},
    {"L8 from pure red stores 54", D3DFMT_L8, 1, {1, 0, 0, 1}, {54}},
    {"A8L8 from green", D3DFMT_A8L8, 2, {0, 1, 0, 0.5f}, {182, 128}},
    {"A4L4 from white", D3DFMT_A4L4, 1, {1, 1, 1, 1}, {0xFF}},
    {"L16 from white", D3DFMT_L16, 2, {1, 1, 1, 1}, {0xFF, 0xFF}},
    {"D16_LOCKABLE like L16", D3DFMT_D16_LOCKABLE, 2, {1, 1, 1, 0}, {0xFF, 0xFF}},
    {"A16L16 from blue", PrivateFormatA16L16, 4, {0, 0, 1, 1}, {0x75, 0x12, 0xFF, 0xFF}},
    {"V8U8 -1 stores -126", D3DFMT_V8U8, 2, {-1, 1, 0, 0}, {0x82, 0x7F}},
    {"V8U8 -127 at -127.5/127", D3DFMT_V8U8, 2, {-127.5f / 127, -1.01f, 0, 0}, {0x81, 0x81}},
    {"L6V5U5 L 63 from a = 1", D3DFMT_L6V5U5, 2, {0, 0, 0, 1}, {0x00, 0xFC}},
    {"L6V5U5 negative a stores L 0", D3DFMT_L6V5U5, 2, {0, 0, 0, -0.5f}, {0x00, 0x00}},
    {"L6V5U5 U 15, V -14", D3DFMT_L6V5U5, 2, {1, -1, 0, 0}, {0x4F, 0x02}},
    {"X8L8V8U8", D3DFMT_X8L8V8U8, 4, {0.5f, -0.5f, 0, 1}, {0x40, 0xC1, 0xFF, 0x00}},
    {"Q8W8V8U8", D3DFMT_Q8W8V8U8, 4, {1, -1, 0, 0.5f}, {0x7F, 0x82, 0x00, 0x40}},
    {"V16U16", D3DFMT_V16U16, 4, {1, -1, 0, 0}, {0xFF, 0x7F, 0x02, 0x80}},
    {"A2W10V10U10", D3DFMT_A2W10V10U10, 4, {1, -1, 0, 1}, {0xFF, 0x09, 0x08, 0xC0}},
    {"Q16W16V16U16", D3DFMT_Q16W16V16U16, 8, {-1, 1, 0, -2},
     {0x02, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x80}},
    {"CxV8U8 normalises (3, 4, 0)", D3DFMT_CxV8U8, 2, {3, 4, 0, 1}, {76, 102}},
    {"CxV8U8 normalises (1, 1, 0)", D3DFMT_CxV8U8, 2, {1, 1, 0, 1}, {90, 90}},
    {"CxV8U8 (0, 0, 1)", D3DFMT_CxV8U8, 2, {0, 0, 1, 1}, {0, 0}},
    {"A16B16G16R16F halves", D3DFMT_A16B16G16R16F, 8, {1, 2, 0.5f, 1},
     {0x00, 0x3C, 0x00, 0x40, 0x00, 0x38, 0x00, 0x3C}},
    {"R16F", D3DFMT_R16F, 2, {1, 7, 7, 7}, {0x00, 0x3C}},
    {"G16R16F", D3DFMT_G16R16F, 4, {1, -2, 7, 7}, {0x00, 0x3C, 0x00, 0xC0}},
    {"G16R16F saturates", D3DFMT_G16R16F, 4, {1e6f, -1e6f, 0, 0}, {0xFF, 0x7F, 0xFF, 0xFF}},
    {"R32F unclamped", D3DFMT_R32F, 4, {1.5f, 7, 7, 7}, {0x00, 0x00, 0xC0, 0x3F}},
    {"D32F_LOCKABLE like R32F", D3DFMT_D32F_LOCKABLE, 4, {-2, 7, 7, 7}, {0x00, 0x00, 0x00, 0xC0}},
    {"G32R32F", D3DFMT_G32R32F, 8, {1, 2, 7, 7}, {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}},
    {"A32B32G32R32F", D3DFMT_A32B32G32R32F, 16, {1, 2, -1, 0.5f},
     {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40, 0, 0, 0x80, 0xBF, 0, 0, 0, 0x3F}},
};

TEST(Codecs, WriteExamples) {
    for (const WriteCase& w : kWrites) {
        CodecSurface s(w.format, w.bytes, 2);
        std::fill(s.bytes.begin(), s.bytes.end(), 0xAA);
        CodecPtr c = s.Codec();
        ASSERT_TRUE(c) << w.name;
        ColorF row[2] = {w.in, w.in};
        EXPECT_EQ(c->WriteRow(0, 0, row), S_OK);
        EXPECT_EQ(Hex(s.Bytes(0)), Hex(w.expected)) << w.name;
        EXPECT_EQ(Hex(s.Bytes(1)), Hex(w.expected)) << w.name;
    }
}

// --- Reading ---------------------------------------------------------------

struct ReadCase {
    const char* name;
    uint32_t format;
    Bytes bytes;
    ColorF expected;
};
const ReadCase kReads[] = {
    {"R8G8B8", D3DFMT_R8G8B8, {0x01, 0x02, 0x03}, {3 * (1.0f / 255), 2 * (1.0f / 255), 1 * (1.0f / 255), 1}},
    {"X8R8G8B8 ignores X", D3DFMT_X8R8G8B8, {0, 0, 0xFF, 0x55}, {1, 0, 0, 1}},
    {"A1R5G5B5 alpha bit", D3DFMT_A1R5G5B5, {0x00, 0x80}, {0, 0, 0, 1}},
    {"X1R5G5B5 ignores bit 15", D3DFMT_X1R5G5B5, {0x1F, 0x80}, {0, 0, 1, 1}},
    {"R5G6B5", D3DFMT_R5G6B5, {0x00, 0xFC}, {1, 32 * (1.0f / 63), 0, 1}},
    {"A8 reads (0, 0, 0, a)", D3DFMT_A8, {0x80}, {0, 0, 0, 128 * (1.0f / 255)}},
    {"R3G3B2", D3DFMT_R3G3B2, {0x25}, {1 * (1.0f / 7), 1 * (1.0f / 7), 1 * (1.0f / 3), 1}},
    {"A2B10G10R10", D3DFMT_A2B10G10R10, {0xFF, 0x03, 0x00, 0x40}, {1, 0, 0, 1 * (1.0f / 3)}},
    {"G16R16 reads b = a = 1", D3DFMT_G16R16, {0x00, 0x80, 0xFF, 0xFF}, {32768 * (1.0f / 65535), 1, 1, 1}},
    {"R16G16B16", PrivateFormatR16G16B16, {0xFF, 0xFF, 0, 0, 0, 0x80}, {32768 * (1.0f / 65535), 0, 1, 1}},
    {"L8 into r, g, b", D3DFMT_L8, {0x33}, {51 * (1.0f / 255), 51 * (1.0f / 255), 51 * (1.0f / 255), 1}},
    {"A4L4", D3DFMT_A4L4, {0xF5}, {5 * (1.0f / 15), 5 * (1.0f / 15), 5 * (1.0f / 15), 1}},
    {"D16_LOCKABLE depth into r, g, b", D3DFMT_D16_LOCKABLE, {0x00, 0x80},
     {32768 * (1.0f / 65535), 32768 * (1.0f / 65535), 32768 * (1.0f / 65535), 1}},
    {"A16L16", PrivateFormatA16L16, {0xFF, 0xFF, 0, 0}, {1, 1, 1, 0}},
    {"V8U8 0x80 reads -1", D3DFMT_V8U8, {0x80, 0x81}, {-1, -1, 1, 1}},
    {"V8U8 0x7F reads 1", D3DFMT_V8U8, {0x7F, 0x00}, {1, 0, 1, 1}},
    {"V16U16 reads b = a = 1", D3DFMT_V16U16, {0x00, 0x80, 0xFF, 0x7F}, {-1, 1, 1, 1}},
    {"L6V5U5 -16 reads -1", D3DFMT_L6V5U5, {0x10, 0xFC}, {-1, 0, 1, 1}},
    {"X8L8V8U8", D3DFMT_X8L8V8U8, {0x01, 0xFF, 0x80, 0x77},
     {1 * (1.0f / 127), -1 * (1.0f / 127), 1, 128 * (1.0f / 255)}},
    {"Q8W8V8U8", D3DFMT_Q8W8V8U8, {0x80, 0x7F, 0x00, 0xC1}, {-1, 1, 0, -63 * (1.0f / 127)}},
    {"A2W10V10U10", D3DFMT_A2W10V10U10, {0x00, 0x02, 0x28, 0xC0}, {-1, -1, 2 * (1.0f / 511), 1}},
    {"Q16W16V16U16", D3DFMT_Q16W16V16U16, {0x00, 0x80, 0x01, 0x80, 0xFF, 0x7F, 0, 0}, {-1, -1, 1, 0}},
    {"CxV8U8 U = V = 0 gives b = 1", D3DFMT_CxV8U8, {0, 0}, {0, 0, 1, 1}},
    {"CxV8U8 U = V = 127 gives b = 0", D3DFMT_CxV8U8, {0x7F, 0x7F}, {1, 1, 0, 1}},
    {"R16F reads (value, 1, 1, 1)", D3DFMT_R16F, {0x00, 0xC0}, {-2, 1, 1, 1}},
    {"G16R16F", D3DFMT_G16R16F, {0x00, 0x38, 0xFF, 0x7F}, {0.5f, 131008.0f, 1, 1}},
    {"A16B16G16R16F", D3DFMT_A16B16G16R16F, {0x00, 0x3C, 0x00, 0x40, 0x00, 0x38, 0x01, 0x00},
     {1, 2, 0.5f, 0x1p-24f}},
    {"R32F", D3DFMT_R32F, {0x00, 0x00, 0xC0, 0x3F}, {1.5f, 1, 1, 1}},
    {"G32R32F", D3DFMT_G32R32F, {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}, {1, 2, 1, 1}},
};

TEST(Codecs, ReadExamples) {
    for (const ReadCase& r : kReads) {
        const uint32_t n = static_cast<uint32_t>(r.bytes.size());
        CodecSurface s(r.format, n, 2);
        std::memcpy(s.Pixel(0), r.bytes.data(), n);
        std::memcpy(s.Pixel(1), r.bytes.data(), n);
        CodecPtr c = s.Codec();
        ASSERT_TRUE(c) << r.name;
        ColorF out[2];
        EXPECT_EQ(c->ReadRow(0, 0, out), S_OK);
        for (const ColorF& p : out) {
            EXPECT_EQ(Bits(p.r), Bits(r.expected.r)) << r.name << " r " << p.r;
            EXPECT_EQ(Bits(p.g), Bits(r.expected.g)) << r.name << " g " << p.g;
            EXPECT_EQ(Bits(p.b), Bits(r.expected.b)) << r.name << " b " << p.b;
            EXPECT_EQ(Bits(p.a), Bits(r.expected.a)) << r.name << " a " << p.a;
        }
    }
}

// --- Palettes ------------------------------------------------------------------

TEST(PaletteCodecs, TieGoesToTheLowerIndex) {
    for (bool swapped : {false, true}) {
        PALETTEENTRY entries[256];
        for (PALETTEENTRY& e : entries) e = {0, 255, 0, 255};
        entries[3] = swapped ? PALETTEENTRY{255, 0, 0, 255} : PALETTEENTRY{0, 0, 0, 255};
        entries[7] = swapped ? PALETTEENTRY{0, 0, 0, 255} : PALETTEENTRY{255, 0, 0, 255};
        CodecSurface s(D3DFMT_P8, 1, 1);
        s.region.palette = entries;
        CodecPtr c = s.Codec();
        ColorF p[1] = {{0.5f, 0, 0, 1}};
        c->WriteRow(0, 0, p);
        EXPECT_EQ(s.Pixel(0)[0], 3) << swapped;
    }
}

TEST(PaletteCodecs, P8MatchesAlphaAndA8P8Ignores) {
    PALETTEENTRY entries[256];
    for (PALETTEENTRY& e : entries) e = {0, 0, 255, 255};
    entries[1] = {255, 0, 0, 255};
    entries[2] = {250, 0, 0, 0};
    ColorF colour = {1, 0, 0, 0};
    {
        CodecSurface s(D3DFMT_P8, 1, 1);
        s.region.palette = entries;
        CodecPtr c = s.Codec();
        ColorF p[1] = {colour};
        c->WriteRow(0, 0, p);
        EXPECT_EQ(s.Pixel(0)[0], 2);  // alpha decides
    }
    {
        CodecSurface s(D3DFMT_A8P8, 2, 1);
        s.region.palette = entries;
        CodecPtr c = s.Codec();
        ColorF p[1] = {colour};
        c->WriteRow(0, 0, p);
        EXPECT_EQ(Hex(s.Bytes(0)), Hex({1, 0}));  // nearest over r, g, b; A stored itself
        ColorF out[1];
        c->ReadRow(0, 0, out);
        EXPECT_EQ(out[0].r, 1.0f);
        EXPECT_EQ(out[0].a, 0.0f);
    }
}

TEST(PaletteCodecs, A8P8DiffusesOnlyAlpha) {
    PALETTEENTRY entries[256];
    for (int i = 0; i < 256; ++i) entries[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 255};
    CodecSurface s(D3DFMT_A8P8, 2, 2, 2);
    s.region.palette = entries;
    s.region.diffuse = 1;
    CodecPtr c = s.Codec();
    ASSERT_NE(c->errorRow, nullptr);
    const float grey = 51 * (1.0f / 255);
    ColorF row[2] = {{grey, grey, grey, 0.25f / 255}, {grey, grey, grey, 0.25f / 255}};
    c->WriteRow(0, 0, row);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c->errorRow[i].r, 0.0f);
        EXPECT_EQ(c->errorRow[i].g, 0.0f);
        EXPECT_EQ(c->errorRow[i].b, 0.0f);
    }
    EXPECT_NE(c->errorRow[1].a, 0.0f);
    EXPECT_EQ(Hex(s.Bytes(0)), Hex({51, 0}));
    EXPECT_EQ(Hex(s.Bytes(1)), Hex({51, 0}));
    // In alpha codes: row 0 leaves errors 0.25 and 0.359375 (0.25 plus the
    // carried 7/16 of 0.25). Row 1 runs right to left: x1 gets 0.25/16 +
    // 0.359375 * 5/16 = 0.128 and stays 0; x0 gets 0.25 * 5/16 + 0.359375 *
    // 3/16 + 7/16 of x1's 0.378, which makes 0.561 and rounds to 1.
    ColorF next[2] = {{grey, grey, grey, 0.25f / 255}, {grey, grey, grey, 0.25f / 255}};
    c->WriteRow(1, 0, next);
    EXPECT_EQ(Hex(s.Bytes(0, 1)), Hex({51, 1}));
    EXPECT_EQ(Hex(s.Bytes(1, 1)), Hex({51, 0}));
}

// --- Round trips -------------------------------------------------------------

// How a stored code reads and writes back: the X bits become 0; a negative
// code -k of a signed field reads as exactly -k/M and is written as -k + 0.5
// truncated toward zero, that is one code nearer zero (the most negative
// code, read as the next one up, moves two).
struct SignedField {
    uint32_t shift, bits;
};
struct RoundTripCase {
    uint32_t format;
    uint32_t bytes;
    uint64_t keep;
    std::vector<SignedField> signedFields;
};

uint64_t Canonical(const RoundTripCase& c, uint64_t code) {
    code &= c.keep;
    for (const SignedField& f : c.signedFields) {
        const uint64_t fieldMask = (uint64_t{1} << f.bits) - 1;
        const int64_t max = (int64_t{1} << (f.bits - 1)) - 1;
        int64_t v = static_cast<int64_t>((code >> f.shift) & fieldMask);
        if (v > max) v -= int64_t{1} << f.bits;
        if (v < -max) v = -max;
        if (v < 0) v += 1;
        code = (code & ~(fieldMask << f.shift)) | ((static_cast<uint64_t>(v) & fieldMask) << f.shift);
    }
    return code;
}

void RoundTrip(const RoundTripCase& c, const std::vector<uint64_t>& codes, const PALETTEENTRY* palette = nullptr) {
    const uint32_t n = static_cast<uint32_t>(codes.size());
    CodecSurface src(c.format, c.bytes, n), dst(c.format, c.bytes, n);
    src.region.palette = dst.region.palette = const_cast<PALETTEENTRY*>(palette);
    for (uint32_t x = 0; x < n; ++x) src.SetCode(x, codes[x]);
    CodecPtr reader = src.Codec(), writer = dst.Codec();
    ASSERT_TRUE(reader && writer) << c.format;
    std::vector<ColorF> row(n);
    ASSERT_EQ(reader->ReadRow(0, 0, row.data()), S_OK);
    ASSERT_EQ(writer->WriteRow(0, 0, row.data()), S_OK);
    int failures = 0;
    for (uint32_t x = 0; x < n && failures < 5; ++x) {
        const uint64_t want = Canonical(c, codes[x]);
        if (dst.Code(x) != want) {
            ++failures;
            ADD_FAILURE() << "format " << c.format << " code 0x" << std::hex << codes[x] << " came back as 0x"
                          << dst.Code(x) << ", expected 0x" << want;
        }
    }
}

std::vector<uint64_t> AllCodes(uint32_t bits) {
    std::vector<uint64_t> v(size_t{1} << bits);
    for (size_t i = 0; i < v.size(); ++i) v[i] = i;
    return v;
}

const RoundTripCase kSmallFormats[] = {
    {D3DFMT_R3G3B2, 1, 0xFF, {}},
    {D3DFMT_A8, 1, 0xFF, {}},
    {D3DFMT_L8, 1, 0xFF, {}},
    {D3DFMT_A4L4, 1, 0xFF, {}},
    {D3DFMT_R5G6B5, 2, 0xFFFF, {}},
    {D3DFMT_X1R5G5B5, 2, 0x7FFF, {}},
    {D3DFMT_A1R5G5B5, 2, 0xFFFF, {}},
    {D3DFMT_A4R4G4B4, 2, 0xFFFF, {}},
    {D3DFMT_A8R3G3B2, 2, 0xFFFF, {}},
    {D3DFMT_X4R4G4B4, 2, 0x0FFF, {}},
    {D3DFMT_A8L8, 2, 0xFFFF, {}},
    {D3DFMT_L16, 2, 0xFFFF, {}},
    {D3DFMT_D16_LOCKABLE, 2, 0xFFFF, {}},
    {D3DFMT_V8U8, 2, 0xFFFF, {{0, 8}, {8, 8}}},
    {D3DFMT_L6V5U5, 2, 0xFFFF, {{0, 5}, {5, 5}}},
    {D3DFMT_R16F, 2, 0xFFFF, {}},
};

TEST(CodecRoundTrip, EveryCodeOfThe8And16BitFormats) {
    for (const RoundTripCase& c : kSmallFormats) RoundTrip(c, AllCodes(8 * c.bytes));
}

// 256 distinct entries (distinct in r, g and b too), and a palette in which
// entry 9 repeats entry 5.
void DistinctPalette(PALETTEENTRY* entries) {
    for (int i = 0; i < 256; ++i)
        entries[i] = {uint8_t(i), uint8_t(255 - i), uint8_t((i * 7) & 255), uint8_t((i * 13) & 255)};
}

TEST(CodecRoundTrip, EveryCodeOfThePaletteFormats) {
    PALETTEENTRY entries[256];
    DistinctPalette(entries);
    RoundTrip({D3DFMT_P8, 1, 0xFF, {}}, AllCodes(8), entries);
    RoundTrip({D3DFMT_A8P8, 2, 0xFFFF, {}}, AllCodes(16), entries);
}

TEST(CodecRoundTrip, AnIndexRepeatingAnEarlierEntryComesBackAsTheEarlierOne) {
    PALETTEENTRY entries[256];
    DistinctPalette(entries);
    entries[9] = entries[5];
    const uint32_t n = 256;
    CodecSurface src(D3DFMT_P8, 1, n), dst(D3DFMT_P8, 1, n);
    src.region.palette = dst.region.palette = entries;
    for (uint32_t x = 0; x < n; ++x) src.SetCode(x, x);
    CodecPtr reader = src.Codec(), writer = dst.Codec();
    std::vector<ColorF> row(n);
    reader->ReadRow(0, 0, row.data());
    writer->WriteRow(0, 0, row.data());
    for (uint32_t x = 0; x < n; ++x) EXPECT_EQ(dst.Code(x), x == 9 ? 5u : x);
}

TEST(CodecRoundTrip, CxV8U8InsideTheUnitDisc) {
    // Codes whose (U, V) lies inside the unit disc come back; outside it the
    // third component reads 0 and the vector is normalised on writing.
    std::vector<uint64_t> inside;
    for (int u = -127; u <= 127; ++u) {
        for (int v = -127; v <= 127; ++v) {
            if (u * u + v * v < 126 * 126) inside.push_back(uint8_t(u) | (uint64_t(uint8_t(v)) << 8));
        }
    }
    RoundTrip({D3DFMT_CxV8U8, 2, 0xFFFF, {{0, 8}, {8, 8}}}, inside);
}

TEST(CodecRoundTrip, LargeSampleOfTheWiderFormats) {
    const RoundTripCase cases[] = {
        {D3DFMT_R8G8B8, 3, 0xFFFFFF, {}},
        {D3DFMT_A8R8G8B8, 4, 0xFFFFFFFF, {}},
        {D3DFMT_X8R8G8B8, 4, 0x00FFFFFF, {}},
        {D3DFMT_A2B10G10R10, 4, 0xFFFFFFFF, {}},
        {D3DFMT_A8B8G8R8, 4, 0xFFFFFFFF, {}},
        {D3DFMT_X8B8G8R8, 4, 0x00FFFFFF, {}},
        {D3DFMT_G16R16, 4, 0xFFFFFFFF, {}},
        {D3DFMT_A2R10G10B10, 4, 0xFFFFFFFF, {}},
        {PrivateFormatA16L16, 4, 0xFFFFFFFF, {}},
        {D3DFMT_X8L8V8U8, 4, 0x00FFFFFF, {{0, 8}, {8, 8}}},
        {D3DFMT_Q8W8V8U8, 4, 0xFFFFFFFF, {{0, 8}, {8, 8}, {16, 8}, {24, 8}}},
        {D3DFMT_V16U16, 4, 0xFFFFFFFF, {{0, 16}, {16, 16}}},
        {D3DFMT_A2W10V10U10, 4, 0xFFFFFFFF, {{0, 10}, {10, 10}, {20, 10}}},
        {D3DFMT_G16R16F, 4, 0xFFFFFFFF, {}},
        {D3DFMT_R32F, 4, 0xFFFFFFFF, {}},
        {D3DFMT_D32F_LOCKABLE, 4, 0xFFFFFFFF, {}},
        {PrivateFormatR16G16B16, 6, 0xFFFFFFFFFFFF, {}},
        {D3DFMT_A16B16G16R16, 8, ~uint64_t{0}, {}},
        {D3DFMT_Q16W16V16U16, 8, ~uint64_t{0}, {{0, 16}, {16, 16}, {32, 16}, {48, 16}}},
        {D3DFMT_A16B16G16R16F, 8, ~uint64_t{0}, {}},
        {D3DFMT_G32R32F, 8, ~uint64_t{0}, {}},
    };
    std::mt19937_64 rng(2024);
    for (const RoundTripCase& c : cases) {
        std::vector<uint64_t> codes(20000);
        for (uint64_t& v : codes) v = rng() & (c.bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * c.bytes)) - 1);
        // The extremes of every field.
        codes.push_back(0);
        codes.push_back(c.keep);
        RoundTrip(c, codes);
    }
}

TEST(CodecRoundTrip, LargeSampleOfA32B32G32R32F) {
    const uint32_t n = 20000;
    CodecSurface src(D3DFMT_A32B32G32R32F, 16, n), dst(D3DFMT_A32B32G32R32F, 16, n);
    std::mt19937 rng(5);
    for (uint8_t& b : src.bytes) b = uint8_t(rng());
    CodecPtr reader = src.Codec(), writer = dst.Codec();
    std::vector<ColorF> row(n);
    reader->ReadRow(0, 0, row.data());
    writer->WriteRow(0, 0, row.data());
    EXPECT_EQ(src.bytes, dst.bytes);
}

TEST(CodecRoundTrip, RowsAndSlicesOfABox) {
    // A 3 x 2 x 2 box inside a 5 x 4 x 3 surface with padded rows: only the
    // box is read and written, at the right rows and slices.
    const uint32_t w = 5, h = 4, d = 3;
    CodecSurface src(D3DFMT_R5G6B5, 2, w, h, d), dst(D3DFMT_R5G6B5, 2, w, h, d);
    for (size_t i = 0; i < src.bytes.size(); ++i) src.bytes[i] = uint8_t(i * 37 + 11);
    std::fill(dst.bytes.begin(), dst.bytes.end(), 0xEE);
    src.region.box = dst.region.box = ImageBox{1, 1, 4, 3, 1, 3};
    CodecPtr reader = src.Codec(), writer = dst.Codec();
    ColorF row[3];
    for (uint32_t z = 0; z < 2; ++z) {
        for (uint32_t y = 0; y < 2; ++y) {
            reader->ReadRow(y, z, row);
            writer->WriteRow(y, z, row);
        }
    }
    for (uint32_t z = 0; z < d; ++z) {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const bool inBox = x >= 1 && x < 4 && y >= 1 && y < 3 && z >= 1 && z < 3;
                EXPECT_EQ(dst.Code(x, y, z), inBox ? src.Code(x, y, z) : 0xEEEEu) << x << y << z;
            }
        }
    }
}

}  // namespace
}  // namespace z3az
