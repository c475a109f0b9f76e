// Codecs of the packed unsigned colour formats: bit fields of one pixel
// word, all in RangeUnsigned.
#pragma once

#include "convert/codec_layouts.h"

namespace z3az {

#define U UnsignedField
// Name, bits, range, luminance, fills (r, g, b, a), fields from the lowest bit.
Z3AZ_LAYOUT(R8G8B8, 24, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 8), U(ChannelG, 8, 8), U(ChannelR, 16, 8));
Z3AZ_LAYOUT(A8R8G8B8, 32, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelB, 0, 8), U(ChannelG, 8, 8), U(ChannelR, 16, 8), U(ChannelA, 24, 8));
Z3AZ_LAYOUT(X8R8G8B8, 32, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 8), U(ChannelG, 8, 8), U(ChannelR, 16, 8));
Z3AZ_LAYOUT(R5G6B5, 16, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 5), U(ChannelG, 5, 6), U(ChannelR, 11, 5));
Z3AZ_LAYOUT(X1R5G5B5, 16, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 5), U(ChannelG, 5, 5), U(ChannelR, 10, 5));
Z3AZ_LAYOUT(A1R5G5B5, 16, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelB, 0, 5), U(ChannelG, 5, 5), U(ChannelR, 10, 5), U(ChannelA, 15, 1));
Z3AZ_LAYOUT(A4R4G4B4, 16, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelB, 0, 4), U(ChannelG, 4, 4), U(ChannelR, 8, 4), U(ChannelA, 12, 4));
Z3AZ_LAYOUT(R3G3B2, 8, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 2), U(ChannelG, 2, 3), U(ChannelR, 5, 3));
Z3AZ_LAYOUT(A8, 8, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelA, 0, 8));
Z3AZ_LAYOUT(A8R3G3B2, 16, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelB, 0, 2), U(ChannelG, 2, 3), U(ChannelR, 5, 3), U(ChannelA, 8, 8));
Z3AZ_LAYOUT(X4R4G4B4, 16, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 4), U(ChannelG, 4, 4), U(ChannelR, 8, 4));
Z3AZ_LAYOUT(A2B10G10R10, 32, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelR, 0, 10), U(ChannelG, 10, 10), U(ChannelB, 20, 10), U(ChannelA, 30, 2));
Z3AZ_LAYOUT(A8B8G8R8, 32, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelR, 0, 8), U(ChannelG, 8, 8), U(ChannelB, 16, 8), U(ChannelA, 24, 8));
Z3AZ_LAYOUT(X8B8G8R8, 32, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelR, 0, 8), U(ChannelG, 8, 8), U(ChannelB, 16, 8));
Z3AZ_LAYOUT(G16R16, 32, RangeUnsigned, false, 0, 0, 1, 1,
            U(ChannelR, 0, 16), U(ChannelG, 16, 16));
Z3AZ_LAYOUT(A2R10G10B10, 32, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelB, 0, 10), U(ChannelG, 10, 10), U(ChannelR, 20, 10), U(ChannelA, 30, 2));
Z3AZ_LAYOUT(A16B16G16R16, 64, RangeUnsigned, false, 0, 0, 0, 0,
            U(ChannelR, 0, 16), U(ChannelG, 16, 16), U(ChannelB, 32, 16), U(ChannelA, 48, 16));
// The private " R16" format: 16-bit words B, G, R in memory order.
Z3AZ_LAYOUT(R16G16B16, 48, RangeUnsigned, false, 0, 0, 0, 1,
            U(ChannelB, 0, 16), U(ChannelG, 16, 16), U(ChannelR, 32, 16));
#undef U

// The codec of a packed unsigned format, or null for any other format (and
// when memory runs out).
PixelCodec* CreatePackedCodec(const BlitRegion& region);

}  // namespace z3az
