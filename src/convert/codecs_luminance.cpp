#include "convert/codecs_luminance.h"

#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {

PixelCodec* CreateLuminanceCodec(const BlitRegion& region) {
    switch (region.format) {
    case D3DFMT_L8: return New<CodecL8>(region);
    case D3DFMT_A8L8: return New<CodecA8L8>(region);
    case D3DFMT_A4L4: return New<CodecA4L4>(region);
    case D3DFMT_L16:
    case D3DFMT_D16_LOCKABLE: return New<CodecL16>(region);
    case PrivateFormatA16L16: return New<CodecA16L16>(region);
    default: return nullptr;
    }
}

}  // namespace z3az
