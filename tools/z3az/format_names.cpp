#include "format_names.h"

#include <strings.h>

#include "z3az/d3dformat.h"
#include "z3az/pixel_formats.h"
#include "z3az/types.h"

namespace z3az::cli {

const FormatName FormatNames[] = {
    {"R8G8B8", D3DFMT_R8G8B8},
    {"A8R8G8B8", D3DFMT_A8R8G8B8},
    {"X8R8G8B8", D3DFMT_X8R8G8B8},
    {"R5G6B5", D3DFMT_R5G6B5},
    {"X1R5G5B5", D3DFMT_X1R5G5B5},
    {"A8P8", D3DFMT_A8P8},
    {"P8", D3DFMT_P8},
    {"A1R5G5B5", D3DFMT_A1R5G5B5},
    {"A4R4G4B4", D3DFMT_A4R4G4B4},
    {"R3G3B2", D3DFMT_R3G3B2},
    {"A8", D3DFMT_A8},
    {"A8R3G3B2", D3DFMT_A8R3G3B2},
    {"X4R4G4B4", D3DFMT_X4R4G4B4},
    {"A2B10G10R10", D3DFMT_A2B10G10R10},
    {"A8B8G8R8", D3DFMT_A8B8G8R8},
    {"X8B8G8R8", D3DFMT_X8B8G8R8},
    {"G16R16", D3DFMT_G16R16},
    {"A2R10G10B10", D3DFMT_A2R10G10B10},
    {"A16B16G16R16", D3DFMT_A16B16G16R16},
    {"L8", D3DFMT_L8},
    {"A8L8", D3DFMT_A8L8},
    {"A4L4", D3DFMT_A4L4},
    {"L16", D3DFMT_L16},
    {"V8U8", D3DFMT_V8U8},
    {"L6V5U5", D3DFMT_L6V5U5},
    {"X8L8V8U8", D3DFMT_X8L8V8U8},
    {"Q8W8V8U8", D3DFMT_Q8W8V8U8},
    {"V16U16", D3DFMT_V16U16},
    {"A2W10V10U10", D3DFMT_A2W10V10U10},
    {"Q16W16V16U16", D3DFMT_Q16W16V16U16},
    {"CxV8U8", D3DFMT_CxV8U8},
    {"UYVY", D3DFMT_UYVY},
    {"R8G8_B8G8", D3DFMT_R8G8_B8G8},
    {"YUY2", D3DFMT_YUY2},
    {"G8R8_G8B8", D3DFMT_G8R8_G8B8},
    {"DXT1", D3DFMT_DXT1},
    {"DXT2", D3DFMT_DXT2},
    {"DXT3", D3DFMT_DXT3},
    {"DXT4", D3DFMT_DXT4},
    {"DXT5", D3DFMT_DXT5},
    {"D16_LOCKABLE", D3DFMT_D16_LOCKABLE},
    {"D32F_LOCKABLE", D3DFMT_D32F_LOCKABLE},
    {"D32", D3DFMT_D32},
    {"D15S1", D3DFMT_D15S1},
    {"D24S8", D3DFMT_D24S8},
    {"D16", D3DFMT_D16},
    {"D24X8", D3DFMT_D24X8},
    {"D24X4S4", D3DFMT_D24X4S4},
    {"D24FS8", D3DFMT_D24FS8},
    {"R16F", D3DFMT_R16F},
    {"G16R16F", D3DFMT_G16R16F},
    {"A16B16G16R16F", D3DFMT_A16B16G16R16F},
    {"R32F", D3DFMT_R32F},
    {"G32R32F", D3DFMT_G32R32F},
    {"A32B32G32R32F", D3DFMT_A32B32G32R32F},
    {"PrivateFormatA16L16", PrivateFormatA16L16},
    {"PrivateFormatR16G16B16", PrivateFormatR16G16B16},
};
const uint32_t FormatNameCount = sizeof FormatNames / sizeof FormatNames[0];

bool FindFormatByName(const char* name, uint32_t* format) {
    if (!name) return false;
    if (strncasecmp(name, "D3DFMT_", 7) == 0) name += 7;
    for (const FormatName& entry : FormatNames) {
        if (strcasecmp(entry.name, name) == 0) {
            *format = entry.format;
            return true;
        }
    }
    return false;
}

const char* FormatNameOf(uint32_t format) {
    for (const FormatName& entry : FormatNames) {
        if (entry.format == format) return entry.name;
    }
    return nullptr;
}

bool IsBlockFormat(uint32_t format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ||
           format == D3DFMT_DXT4 || format == D3DFMT_DXT5;
}

bool IsPairFormat(uint32_t format) {
    return format == D3DFMT_YUY2 || format == D3DFMT_UYVY || format == D3DFMT_R8G8_B8G8 ||
           format == D3DFMT_G8R8_G8B8;
}

bool IsPaletteFormat(uint32_t format) { return format == D3DFMT_P8 || format == D3DFMT_A8P8; }

bool LayoutOf(uint32_t format, uint32_t width, uint32_t height, SliceLayout* layout) {
    if (!FormatNameOf(format)) return false;
    if (IsBlockFormat(format)) {
        const uint64_t blockBytes = format == D3DFMT_DXT1 ? 8 : 16;
        layout->rowBytes = (uint64_t(width) + 3) / 4 * blockBytes;
        layout->rows = uint32_t((uint64_t(height) + 3) / 4);
        return true;
    }
    if (IsPairFormat(format)) {
        layout->rowBytes = (uint64_t(width) + 1) / 2 * 4;
        layout->rows = height;
        return true;
    }
    PixelFormatDescription description;
    if (FAILED(DescribePixelFormat(format, &description))) return false;
    layout->rowBytes = uint64_t(width) * (description.bitsPerPixel / 8);
    layout->rows = height;
    return true;
}

}  // namespace z3az::cli
