// The public questions about pixel formats, answered from the catalogue.
#include "z3az/pixel_formats.h"

#include "image/pixel_format.h"

namespace z3az {
namespace {

void Describe(const PixelFormatInfo& row, PixelFormatDescription* out) {
    out->format = row.format;
    out->kind = row.kind;
    out->bitsPerPixel = row.bitsPerPixel;
    for (uint32_t slot = 0; slot < ChannelSlotCount; ++slot) out->channelBits[slot] = row.channelBits[slot];
}

}  // namespace

uint32_t CountPixelFormats() { return PixelFormatCount; }

HRESULT DescribePixelFormatAt(uint32_t index, PixelFormatDescription* out) {
    if (!out || index >= PixelFormatCount) return D3DERR_INVALIDCALL;
    Describe(PixelFormatCatalogue[index], out);
    return S_OK;
}

HRESULT DescribePixelFormat(uint32_t format, PixelFormatDescription* out) {
    if (!out) return D3DERR_INVALIDCALL;
    const PixelFormatInfo& row = FindPixelFormat(format);
    if (row.format == 0) return D3DERR_INVALIDCALL;
    Describe(row, out);
    return S_OK;
}

}  // namespace z3az
