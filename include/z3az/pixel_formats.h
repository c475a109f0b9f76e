// Questions a host or tool may ask about the pixel formats the library
// knows: how many there are, the bits and channels of each, and which file
// types store them as they are.
#pragma once

#include <cstdint>

#include "z3az/types.h"

namespace z3az {

// What the library knows of one pixel format.
struct PixelFormatDescription {
    uint32_t format;          // D3DFORMAT code or FOURCC
    uint32_t kind;            // 0 colour, 1 palette, 2 luminance, 3 signed, 4 depth/stencil
    uint32_t bitsPerPixel;    // bits of one pixel in memory (16 for the DXT formats)
    uint32_t channelBits[5];  // bits per channel slot, as the kind lays them out
};

// The number of formats the library knows.
uint32_t CountPixelFormats();

// Describes the index-th known format (0-based, in the library's own order).
// D3DERR_INVALIDCALL for a null out pointer or an index past the end.
HRESULT DescribePixelFormatAt(uint32_t index, PixelFormatDescription* out);

// Describes a format by its code. D3DERR_INVALIDCALL for a null out pointer
// or a code the library does not know.
HRESULT DescribePixelFormat(uint32_t format, PixelFormatDescription* out);

// Whether files of the type (an ImageFileFormat) store the format as it is,
// without converting it. Palette formats are stored as they are only when
// the image comes with its palette.
bool FileTypeStoresFormat(uint32_t fileType, uint32_t format);

}  // namespace z3az
