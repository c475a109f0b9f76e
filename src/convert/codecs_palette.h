// Codecs of the palette formats (RangeUnsigned): the index selects an entry
// of the codec's expanded palette; writing picks the nearest entry.
#pragma once

#include "convert/codec_packing.h"

namespace z3az {

// Index 8. Reads the entry's r, g, b, a; writes the index of the entry
// nearest over r, g, b and a (ties to the lowest index), left to right on
// every row, without thresholds or error diffusion.
class CodecP8 final : public PixelCodec {
public:
    explicit CodecP8(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

// Index 8, A 8. The index is the entry nearest over r, g and b; A is
// quantized with thresholds and error diffusion like any 8-bit channel.
class CodecA8P8 final : public PixelCodec {
public:
    explicit CodecA8P8(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

// The codec of a palette format, or null.
PixelCodec* CreatePaletteCodec(const BlitRegion& region);

}  // namespace z3az
