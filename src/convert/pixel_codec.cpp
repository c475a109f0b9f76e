// The codec base: construction from a region, the virtual slots' base
// behaviour and the factory that picks the codec class by format.
#include "convert/pixel_codec.h"

#include <cstring>

#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {

PixelCodec::PixelCodec(const BlitRegion& region, uint32_t bitsPerPixel, ValueRange range)
    : format(region.format),
      valueRange(range),
      byteAddressable(bitsPerPixel != 0),
      srgb(region.srgb),
      bothSrgb(0),
      colorKey(region.colorKey),
      paletted(region.format == D3DFMT_P8 || region.format == D3DFMT_A8P8),
      bits(static_cast<uint8_t*>(region.bits)),
      keyColor{0, 0, 0, 0},
      ditherTable(nullptr),
      palette(nullptr),
      box(region.box),
      convertFrom(0),
      scratchRow(nullptr),
      errorRow(nullptr),
      rowPitch(region.rowPitch),
      slicePitch(region.slicePitch),
      width(region.box.right - region.box.left),
      height(region.box.bottom - region.box.top),
      depth(region.box.back - region.box.front),
      rowBytes(0),
      bytesPerPixel(bitsPerPixel / 8) {
    rowBytes = width * bytesPerPixel;
    if (byteAddressable) {
        bits += static_cast<size_t>(box.left) * bytesPerPixel +
                static_cast<size_t>(box.top) * rowPitch +
                static_cast<size_t>(box.front) * slicePitch;
        box = ImageBox{0, 0, width, height, 0, depth};
    }
}

PixelCodec::~PixelCodec() {
    Free(palette);
    Free(scratchRow);
    Free(errorRow);
}

HRESULT PixelCodec::ReadRow(uint32_t, uint32_t, ColorF*) { return S_OK; }
HRESULT PixelCodec::WriteRow(uint32_t, uint32_t, ColorF*) { return S_OK; }
void PixelCodec::PrepareColorKey() {}

PixelCodec* CreatePixelCodec(const BlitRegion&) { return nullptr; }

}  // namespace z3az
