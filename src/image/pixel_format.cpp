#include "image/pixel_format.h"

namespace z3az {

const PixelFormatInfo PixelFormatCatalogue[PixelFormatCount] = {
    //  format                  kind          bits   slot 0  1   2   3   4
    {D3DFMT_R8G8B8,            Rgb,           24,  {0,  0,  8,  8,  8}},
    {D3DFMT_A8R8G8B8,          Rgb,           32,  {0,  8,  8,  8,  8}},
    {D3DFMT_X8R8G8B8,          Rgb,           32,  {0,  0,  8,  8,  8}},
    {D3DFMT_R5G6B5,            Rgb,           16,  {0,  0,  5,  6,  5}},
    {D3DFMT_X1R5G5B5,          Rgb,           16,  {0,  0,  5,  5,  5}},
    {D3DFMT_A8P8,              Palette,       16,  {0,  8,  8,  8,  8}},
    {D3DFMT_P8,                Palette,        8,  {0,  8,  8,  8,  8}},
    {D3DFMT_A1R5G5B5,          Rgb,           16,  {0,  1,  5,  5,  5}},
    {D3DFMT_A4R4G4B4,          Rgb,           16,  {0,  4,  4,  4,  4}},
    {D3DFMT_R3G3B2,            Rgb,            8,  {0,  0,  3,  3,  2}},
    {D3DFMT_A8,                Rgb,            8,  {0,  8,  0,  0,  0}},
    {D3DFMT_A8R3G3B2,          Rgb,           16,  {0,  8,  3,  3,  2}},
    {D3DFMT_X4R4G4B4,          Rgb,           16,  {0,  0,  4,  4,  4}},
    {D3DFMT_A2B10G10R10,       Rgb,           32,  {0,  2, 10, 10, 10}},
    {D3DFMT_A8B8G8R8,          Rgb,           32,  {0,  8,  8,  8,  8}},
    {D3DFMT_X8B8G8R8,          Rgb,           32,  {0,  0,  8,  8,  8}},
    {D3DFMT_G16R16,            Rgb,           32,  {0,  0, 16, 16,  0}},
    {D3DFMT_A2R10G10B10,       Rgb,           32,  {0,  2, 10, 10, 10}},
    {D3DFMT_A16B16G16R16,      Rgb,           64,  {0, 16, 16, 16, 16}},
    {D3DFMT_L8,                Luminance,      8,  {0,  0,  8,  8,  8}},
    {D3DFMT_A8L8,              Luminance,     16,  {0,  8,  8,  8,  8}},
    {D3DFMT_A4L4,              Luminance,      8,  {0,  4,  4,  4,  4}},
    {D3DFMT_L16,               Luminance,     16,  {0,  0, 16, 16, 16}},
    {D3DFMT_V8U8,              Signed,        16,  {0,  0,  0,  8,  8}},
    {D3DFMT_L6V5U5,            Signed,        16,  {6,  0,  0,  5,  5}},
    {D3DFMT_X8L8V8U8,          Signed,        32,  {8,  0,  0,  8,  8}},
    {D3DFMT_Q8W8V8U8,          Signed,        32,  {0,  8,  8,  8,  8}},
    {D3DFMT_V16U16,            Signed,        32,  {0,  0,  0, 16, 16}},
    {D3DFMT_A2W10V10U10,       Signed,        32,  {2,  0, 10, 10, 10}},
    {D3DFMT_Q16W16V16U16,      Signed,        64,  {0, 16, 16, 16, 16}},
    {D3DFMT_CxV8U8,            Signed,        16,  {8,  0,  0,  8,  8}},
    {D3DFMT_UYVY,              Rgb,           16,  {0,  0,  8,  8,  8}},
    {D3DFMT_R8G8_B8G8,         Rgb,           16,  {0,  0,  8,  8,  8}},
    {D3DFMT_YUY2,              Rgb,           16,  {0,  0,  8,  8,  8}},
    {D3DFMT_G8R8_G8B8,         Rgb,           16,  {0,  0,  8,  8,  8}},
    {D3DFMT_DXT1,              Rgb,           16,  {0,  1,  5,  6,  5}},
    {D3DFMT_DXT2,              Rgb,           16,  {0,  4,  5,  6,  5}},
    {D3DFMT_DXT3,              Rgb,           16,  {0,  4,  5,  6,  5}},
    {D3DFMT_DXT4,              Rgb,           16,  {0,  8,  5,  6,  5}},
    {D3DFMT_DXT5,              Rgb,           16,  {0,  8,  5,  6,  5}},
    {D3DFMT_D16_LOCKABLE,      DepthStencil,  16,  {1,  0,  0,  0, 16}},
    {D3DFMT_D32F_LOCKABLE,     DepthStencil,  32,  {1,  0,  0,  0, 32}},
    {D3DFMT_D32,               DepthStencil,  32,  {0,  0,  0,  0, 32}},
    {D3DFMT_D15S1,             DepthStencil,  16,  {0,  0,  0,  1, 15}},
    {D3DFMT_D24S8,             DepthStencil,  32,  {0,  0,  0,  8, 24}},
    {D3DFMT_D16,               DepthStencil,  16,  {0,  0,  0,  0, 16}},
    {D3DFMT_D24X8,             DepthStencil,  32,  {0,  0,  0,  0, 24}},
    {D3DFMT_D24X4S4,           DepthStencil,  32,  {0,  0,  0,  4, 24}},
    {D3DFMT_D24FS8,            DepthStencil,  32,  {0,  0,  0,  8, 24}},
    {D3DFMT_R16F,              Rgb,           16,  {0,  0, 16,  0,  0}},
    {D3DFMT_G16R16F,           Rgb,           32,  {0,  0, 16, 16,  0}},
    {D3DFMT_A16B16G16R16F,     Rgb,           64,  {0, 16, 16, 16, 16}},
    {D3DFMT_R32F,              Rgb,           32,  {0,  0, 32,  0,  0}},
    {D3DFMT_G32R32F,           Rgb,           64,  {0,  0, 32, 32,  0}},
    {D3DFMT_A32B32G32R32F,     Rgb,          128,  {0, 32, 32, 32, 32}},
    {PrivateFormatA16L16,      Luminance,     32,  {0, 16, 16, 16, 16}},
    {PrivateFormatR16G16B16,   Rgb,           48,  {0,  0, 16, 16, 16}},
};

// Scores like a 32-bit colour format with alpha, and never matches exactly.
const PixelFormatInfo FallbackPixelFormat = {D3DFMT_UNKNOWN, Rgb, 32, {0, 8, 8, 8, 8}};

const uint8_t KindCompatibility[FormatKindCount][FormatKindCount] = {
    // candidate:  Rgb Palette Luminance Signed DepthStencil     source:
    {1, 0, 0, 0, 0},  // Rgb
    {1, 1, 0, 0, 0},  // Palette
    {1, 0, 1, 0, 0},  // Luminance
    {0, 0, 0, 1, 0},  // Signed
    {0, 0, 0, 0, 1},  // DepthStencil
};

const PixelFormatInfo& FindPixelFormat(uint32_t format) {
    for (const PixelFormatInfo& row : PixelFormatCatalogue) {
        if (row.format == format) return row;
    }
    return FallbackPixelFormat;
}

uint32_t FormatConversionCost(const PixelFormatInfo& source, const PixelFormatInfo& candidate) {
    if (source.kind >= FormatKindCount || candidate.kind >= FormatKindCount ||
        !KindCompatibility[source.kind][candidate.kind])
        return ImpossibleConversion;

    uint32_t cost = 0;
    uint32_t sourceChannels = 0;
    for (uint32_t slot = 0; slot < ChannelSlotCount; ++slot) {
        const uint32_t a = source.channelBits[slot];
        const uint32_t b = candidate.channelBits[slot];
        if (a != 0) ++sourceChannels;
        if (a < b) {
            cost += (a == 0) ? 0x100u : (b - a);              // added channel / wasted bits
        } else if (a > b) {
            cost += (b == 0) ? 0x1000000u : ((a - b) << 16);  // dropped channel / lost bits
        }
    }
    // Dropping every channel the source has (or a source without channels)
    // leaves nothing to store.
    if ((cost >> 24) == sourceChannels) return ImpossibleConversion;
    return cost;
}

uint32_t MatchPixelFormat(const uint32_t* candidates, const PALETTEENTRY* palette,
                          const PixelFormatInfo& source) {
    uint32_t bestCost = ImpossibleConversion;
    const PixelFormatInfo* best = &FallbackPixelFormat;
    for (const uint32_t* code = candidates; *code != 0; ++code) {
        const PixelFormatInfo& row = FindPixelFormat(*code);
        if (row.format == 0) continue;                     // not catalogued
        if (row.kind == Palette && !palette) continue;    // nothing to index into
        if (row.format == source.format) return row.format;
        const uint32_t cost = FormatConversionCost(source, row);
        if (cost == ImpossibleConversion) continue;
        if (cost > bestCost) continue;
        if (cost == bestCost && row.bitsPerPixel >= best->bitsPerPixel) continue;
        bestCost = cost;
        best = &row;
    }
    return best->format;
}

}  // namespace z3az
