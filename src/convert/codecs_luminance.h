// Codecs of the luminance formats (RangeUnsigned). Reading puts L into r, g
// and b; writing stores the luminance 0.2125 r + 0.7154 g + 0.0721 b.
#pragma once

#include "convert/codec_layouts.h"

namespace z3az {

#define U UnsignedField
Z3AZ_LAYOUT(L8, 8, RangeUnsigned, true, 0, 0, 0, 1,
            U(ChannelR, 0, 8));
Z3AZ_LAYOUT(A8L8, 16, RangeUnsigned, true, 0, 0, 0, 0,
            U(ChannelR, 0, 8), U(ChannelA, 8, 8));
Z3AZ_LAYOUT(A4L4, 8, RangeUnsigned, true, 0, 0, 0, 0,
            U(ChannelR, 0, 4), U(ChannelA, 4, 4));
// Also serves D3DFMT_D16_LOCKABLE, the depth read into r, g and b.
Z3AZ_LAYOUT(L16, 16, RangeUnsigned, true, 0, 0, 0, 1,
            U(ChannelR, 0, 16));
// The private "AL16" format.
Z3AZ_LAYOUT(A16L16, 32, RangeUnsigned, true, 0, 0, 0, 0,
            U(ChannelR, 0, 16), U(ChannelA, 16, 16));
#undef U

// The codec of a luminance format (or of D16_LOCKABLE), or null.
PixelCodec* CreateLuminanceCodec(const BlitRegion& region);

}  // namespace z3az
