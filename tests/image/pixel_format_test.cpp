#include "image/pixel_format.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace z3az {
namespace {

TEST(PixelFormatCatalogue, CodesAreUniqueAndFindReturnsTheirRow) {
    std::set<uint32_t> codes;
    for (const PixelFormatInfo& row : PixelFormatCatalogue) {
        EXPECT_NE(row.format, 0u);
        EXPECT_TRUE(codes.insert(row.format).second) << row.format;
        EXPECT_EQ(&FindPixelFormat(row.format), &row);
    }
    EXPECT_EQ(codes.size(), 57u);
}

TEST(PixelFormatCatalogue, UnknownCodesGiveTheFallbackRow) {
    for (uint32_t code : {0u, 1u, 37u, 0xFFFFFFFFu, MAKEFOURCC('D', 'X', 'T', '6')}) {
        const PixelFormatInfo& row = FindPixelFormat(code);
        EXPECT_EQ(&row, &FallbackPixelFormat);
        EXPECT_EQ(row.format, 0u);
        EXPECT_EQ(row.kind, Rgb);
        EXPECT_EQ(row.bitsPerPixel, 32u);
        const uint32_t slots[5] = {0, 8, 8, 8, 8};
        for (int s = 0; s < 5; ++s) EXPECT_EQ(row.channelBits[s], slots[s]);
    }
}

struct RowCase {
    uint32_t format;
    FormatKind kind;
    uint32_t bits;
    uint32_t slots[5];
};

TEST(PixelFormatCatalogue, SampleRows) {
    const RowCase cases[] = {
        {D3DFMT_R8G8B8, Rgb, 24, {0, 0, 8, 8, 8}},
        {D3DFMT_P8, Palette, 8, {0, 8, 8, 8, 8}},
        {D3DFMT_A8, Rgb, 8, {0, 8, 0, 0, 0}},
        {D3DFMT_G16R16, Rgb, 32, {0, 0, 16, 16, 0}},
        {D3DFMT_L16, Luminance, 16, {0, 0, 16, 16, 16}},
        {D3DFMT_L6V5U5, Signed, 16, {6, 0, 0, 5, 5}},
        {D3DFMT_A2W10V10U10, Signed, 32, {2, 0, 10, 10, 10}},
        {D3DFMT_CxV8U8, Signed, 16, {8, 0, 0, 8, 8}},
        {0x59565955u /* UYVY */, Rgb, 16, {0, 0, 8, 8, 8}},
        {0x31545844u /* DXT1 */, Rgb, 16, {0, 1, 5, 6, 5}},
        {0x35545844u /* DXT5 */, Rgb, 16, {0, 8, 5, 6, 5}},
        {D3DFMT_D32F_LOCKABLE, DepthStencil, 32, {1, 0, 0, 0, 32}},
        {D3DFMT_D15S1, DepthStencil, 16, {0, 0, 0, 1, 15}},
        {D3DFMT_A32B32G32R32F, Rgb, 128, {0, 32, 32, 32, 32}},
        {0x36314C41u /* AL16 */, Luminance, 32, {0, 16, 16, 16, 16}},
        {0x36315220u /*  R16 */, Rgb, 48, {0, 0, 16, 16, 16}},
    };
    for (const RowCase& c : cases) {
        const PixelFormatInfo& row = FindPixelFormat(c.format);
        ASSERT_EQ(row.format, c.format);
        EXPECT_EQ(row.kind, c.kind) << c.format;
        EXPECT_EQ(row.bitsPerPixel, c.bits) << c.format;
        for (int s = 0; s < 5; ++s) EXPECT_EQ(row.channelBits[s], c.slots[s]) << c.format << " slot " << s;
    }
}

TEST(PixelFormatCatalogue, KindCompatibilityTable) {
    const uint8_t expected[5][5] = {
        {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}};
    for (int s = 0; s < 5; ++s)
        for (int c = 0; c < 5; ++c) EXPECT_EQ(KindCompatibility[s][c], expected[s][c]) << s << "," << c;
}

struct CostCase {
    uint32_t source;
    uint32_t candidate;
    uint32_t cost;
};

TEST(FormatConversionCost, Table) {
    const CostCase cases[] = {
        {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, 0},
        {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, 0x1000000},  // alpha dropped
        {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, 8},             // 3 + 2 + 3 wasted
        {D3DFMT_R5G6B5, D3DFMT_A8R8G8B8, 0x108},         // alpha added
        {D3DFMT_R5G6B5, D3DFMT_A16B16G16R16, 0x120},
        {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, 0x80000},       // 3 + 2 + 3 lost
        {D3DFMT_A8, D3DFMT_X8R8G8B8, ImpossibleConversion},  // its only channel dropped
        {D3DFMT_V8U8, D3DFMT_X8R8G8B8, ImpossibleConversion},
        {D3DFMT_D24S8, D3DFMT_A8R8G8B8, ImpossibleConversion},
        {D3DFMT_X8R8G8B8, D3DFMT_P8, ImpossibleConversion},
        {D3DFMT_X8R8G8B8, D3DFMT_L8, ImpossibleConversion},
        {D3DFMT_L8, D3DFMT_X8R8G8B8, 0},
        {D3DFMT_P8, D3DFMT_A8R8G8B8, 0},
        {D3DFMT_D24S8, D3DFMT_D16_LOCKABLE, 0x1000000 + (8u << 16) + 0x100},
        {D3DFMT_V8U8, D3DFMT_Q8W8V8U8, 0x200},
    };
    for (const CostCase& c : cases) {
        EXPECT_EQ(FormatConversionCost(FindPixelFormat(c.source), FindPixelFormat(c.candidate)), c.cost)
            << c.source << " -> " << c.candidate;
    }
}

TEST(FormatConversionCost, SourceWithoutChannelsIsImpossible) {
    const PixelFormatInfo empty = {123, Rgb, 8, {0, 0, 0, 0, 0}};
    EXPECT_EQ(FormatConversionCost(empty, FindPixelFormat(D3DFMT_A8R8G8B8)), ImpossibleConversion);
}

struct MatchCase {
    const char* name;
    uint32_t source;
    bool withPalette;
    std::vector<uint32_t> list;  // without the terminating 0
    uint32_t expected;
};

TEST(MatchPixelFormat, Table) {
    const MatchCase cases[] = {
        {"exact", D3DFMT_X8R8G8B8, false, {D3DFMT_X8R8G8B8}, D3DFMT_X8R8G8B8},
        {"alpha dropped allowed", D3DFMT_A8R8G8B8, false, {D3DFMT_X8R8G8B8}, D3DFMT_X8R8G8B8},
        {"least waste", D3DFMT_R5G6B5, false, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16},
         D3DFMT_X8R8G8B8},
        {"only channel dropped", D3DFMT_A8, false, {D3DFMT_X8R8G8B8}, 0},
        {"signed to colour", D3DFMT_V8U8, false, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16}, 0},
        {"depth to colour", D3DFMT_D24S8, false, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_R8G8B8}, 0},
        {"exact match wins late", D3DFMT_L8, false, {D3DFMT_X8R8G8B8, D3DFMT_L8}, D3DFMT_L8},
        {"fewer bits on tie", D3DFMT_X8R8G8B8, false, {D3DFMT_X8B8G8R8, D3DFMT_R8G8B8}, D3DFMT_R8G8B8},
        {"lower cost first", D3DFMT_X8R8G8B8, false, {D3DFMT_X8B8G8R8, D3DFMT_A8B8G8R8}, D3DFMT_X8B8G8R8},
        {"earlier on full tie", D3DFMT_X8R8G8B8, false, {D3DFMT_X8B8G8R8, D3DFMT_R8G8B8 + 0, D3DFMT_X8B8G8R8},
         D3DFMT_R8G8B8},
        {"earlier of equal cost and bits", D3DFMT_R8G8B8, false, {D3DFMT_X8B8G8R8, D3DFMT_X8R8G8B8},
         D3DFMT_X8B8G8R8},
        {"palette skipped without palette", D3DFMT_P8, false, {D3DFMT_P8, D3DFMT_A8R8G8B8}, D3DFMT_A8R8G8B8},
        {"palette with palette", D3DFMT_P8, true, {D3DFMT_P8, D3DFMT_A8R8G8B8}, D3DFMT_P8},
        {"palette widened", D3DFMT_P8, true, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, D3DFMT_A8R8G8B8},
        {"empty list", D3DFMT_X8R8G8B8, false, {}, 0},
        {"unknown candidates skipped", D3DFMT_X8R8G8B8, false, {1, 37, D3DFMT_A8R8G8B8}, D3DFMT_A8R8G8B8},
        {"unknown source never exact", 37, false, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, D3DFMT_A8R8G8B8},
        {"tga list", D3DFMT_X8R8G8B8, false, {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8}, D3DFMT_R8G8B8},
        {"hdr list", D3DFMT_X8R8G8B8, false, {D3DFMT_A32B32G32R32F}, D3DFMT_A32B32G32R32F},
    };
    const PALETTEENTRY palette[256] = {};
    for (const MatchCase& c : cases) {
        std::vector<uint32_t> list = c.list;
        list.push_back(0);
        EXPECT_EQ(MatchPixelFormat(list.data(), c.withPalette ? palette : nullptr, FindPixelFormat(c.source)),
                  c.expected)
            << c.name;
    }
}

}  // namespace
}  // namespace z3az
