// Codecs of the floating-point formats (RangeFloat): 16-bit fields are half
// floats, 32-bit fields are floats. Values are stored as given: no range
// conversion, thresholds, clamping or error diffusion.
#pragma once

#include "convert/pixel_codec.h"

namespace z3az {

class CodecR16F final : public PixelCodec {
public:
    explicit CodecR16F(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

class CodecG16R16F final : public PixelCodec {
public:
    explicit CodecG16R16F(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

class CodecA16B16G16R16F final : public PixelCodec {
public:
    explicit CodecA16B16G16R16F(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

// Also serves D3DFMT_D32F_LOCKABLE.
class CodecR32F final : public PixelCodec {
public:
    explicit CodecR32F(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

class CodecG32R32F final : public PixelCodec {
public:
    explicit CodecG32R32F(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

class CodecA32B32G32R32F final : public PixelCodec {
public:
    explicit CodecA32B32G32R32F(const BlitRegion& region);
    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
};

// The codec of a floating-point format (or of D32F_LOCKABLE), or null.
PixelCodec* CreateFloatCodec(const BlitRegion& region);

}  // namespace z3az
