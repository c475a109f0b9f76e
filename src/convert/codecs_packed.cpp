#include "convert/codecs_packed.h"

#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {

PixelCodec* CreatePackedCodec(const BlitRegion& region) {
    switch (region.format) {
    case D3DFMT_R8G8B8: return New<CodecR8G8B8>(region);
    case D3DFMT_A8R8G8B8: return New<CodecA8R8G8B8>(region);
    case D3DFMT_X8R8G8B8: return New<CodecX8R8G8B8>(region);
    case D3DFMT_R5G6B5: return New<CodecR5G6B5>(region);
    case D3DFMT_X1R5G5B5: return New<CodecX1R5G5B5>(region);
    case D3DFMT_A1R5G5B5: return New<CodecA1R5G5B5>(region);
    case D3DFMT_A4R4G4B4: return New<CodecA4R4G4B4>(region);
    case D3DFMT_R3G3B2: return New<CodecR3G3B2>(region);
    case D3DFMT_A8: return New<CodecA8>(region);
    case D3DFMT_A8R3G3B2: return New<CodecA8R3G3B2>(region);
    case D3DFMT_X4R4G4B4: return New<CodecX4R4G4B4>(region);
    case D3DFMT_A2B10G10R10: return New<CodecA2B10G10R10>(region);
    case D3DFMT_A8B8G8R8: return New<CodecA8B8G8R8>(region);
    case D3DFMT_X8B8G8R8: return New<CodecX8B8G8R8>(region);
    case D3DFMT_G16R16: return New<CodecG16R16>(region);
    case D3DFMT_A2R10G10B10: return New<CodecA2R10G10B10>(region);
    case D3DFMT_A16B16G16R16: return New<CodecA16B16G16R16>(region);
    case PrivateFormatR16G16B16: return New<CodecR16G16B16>(region);
    default: return nullptr;
    }
}

}  // namespace z3az
