// Codecs of the signed formats: U, V, W, Q in r, g, b, a; two's complement
// fields whose most negative code reads as the next one up.
#pragma once

#include "convert/codec_layouts.h"

namespace z3az {

#define U UnsignedField
#define S SignedField
Z3AZ_LAYOUT(V8U8, 16, RangeSignedRgb, false, 0, 0, 1, 1,
            S(ChannelR, 0, 8), S(ChannelG, 8, 8));
Z3AZ_LAYOUT(L6V5U5, 16, RangeSignedRgb, false, 0, 0, 1, 0,
            S(ChannelR, 0, 5), S(ChannelG, 5, 5), U(ChannelA, 10, 6));
Z3AZ_LAYOUT(X8L8V8U8, 32, RangeSignedRgb, false, 0, 0, 1, 0,
            S(ChannelR, 0, 8), S(ChannelG, 8, 8), U(ChannelA, 16, 8));
Z3AZ_LAYOUT(Q8W8V8U8, 32, RangeSigned, false, 0, 0, 0, 0,
            S(ChannelR, 0, 8), S(ChannelG, 8, 8), S(ChannelB, 16, 8), S(ChannelA, 24, 8));
Z3AZ_LAYOUT(V16U16, 32, RangeSignedRgb, false, 0, 0, 1, 1,
            S(ChannelR, 0, 16), S(ChannelG, 16, 16));
Z3AZ_LAYOUT(A2W10V10U10, 32, RangeSignedRgb, false, 0, 0, 0, 0,
            S(ChannelR, 0, 10), S(ChannelG, 10, 10), S(ChannelB, 20, 10), U(ChannelA, 30, 2));
Z3AZ_LAYOUT(Q16W16V16U16, 64, RangeSigned, false, 0, 0, 0, 0,
            S(ChannelR, 0, 16), S(ChannelG, 16, 16), S(ChannelB, 32, 16), S(ChannelA, 48, 16));
#undef S
#undef U

// U and V of a unit normal; the third component is rebuilt when read
// (sqrt(1 - U^2 - V^2), 0 when that is not above 0), and the vector is
// normalised before it is stored.
class CodecCxV8U8 final : public PixelCodec {
public:
    explicit CodecCxV8U8(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

// The codec of a signed format, or null.
PixelCodec* CreateSignedCodec(const BlitRegion& region);

}  // namespace z3az
