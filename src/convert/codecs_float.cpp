#include "convert/codecs_float.h"

#include <cstring>

#include "platform/heap.h"
#include "runtime/half_float.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

// The conversions read and write through memcpy, so surface memory needs no
// alignment.
inline uint16_t* Halves(uint8_t* p) { return reinterpret_cast<uint16_t*>(p); }

inline void FinishRead(PixelCodec& codec, ColorF* out) {
    if (codec.colorKey) codec.ApplyColorKey(out);
    if (codec.srgb) codec.DecodeSrgb(out);
}

inline ColorF* PrepareWrite(PixelCodec& codec, ColorF* in) {
    return codec.srgb ? codec.EncodeSrgb(in) : in;
}

}  // namespace

CodecR16F::CodecR16F(const BlitRegion& region) : PixelCodec(region, 16, RangeFloat) {}

HRESULT CodecR16F::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) {
        Float16ToFloat32Array(&out[x].r, Halves(p + size_t{x} * 2), 1);
        out[x].g = out[x].b = out[x].a = 1.0f;
    }
    FinishRead(*this, out);
    return S_OK;
}

HRESULT CodecR16F::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const ColorF* src = PrepareWrite(*this, in);
    uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) Float32ToFloat16Array(Halves(p + size_t{x} * 2), &src[x].r, 1);
    return S_OK;
}

CodecG16R16F::CodecG16R16F(const BlitRegion& region) : PixelCodec(region, 32, RangeFloat) {}

HRESULT CodecG16R16F::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) {
        Float16ToFloat32Array(&out[x].r, Halves(p + size_t{x} * 4), 2);
        out[x].b = out[x].a = 1.0f;
    }
    FinishRead(*this, out);
    return S_OK;
}

HRESULT CodecG16R16F::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const ColorF* src = PrepareWrite(*this, in);
    uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) Float32ToFloat16Array(Halves(p + size_t{x} * 4), &src[x].r, 2);
    return S_OK;
}

CodecA16B16G16R16F::CodecA16B16G16R16F(const BlitRegion& region) : PixelCodec(region, 64, RangeFloat) {}

HRESULT CodecA16B16G16R16F::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    Float16ToFloat32Array(&out[0].r, Halves(RowBits(row, slice)), 4 * width);
    FinishRead(*this, out);
    return S_OK;
}

HRESULT CodecA16B16G16R16F::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const ColorF* src = PrepareWrite(*this, in);
    Float32ToFloat16Array(Halves(RowBits(row, slice)), &src[0].r, 4 * width);
    return S_OK;
}

CodecR32F::CodecR32F(const BlitRegion& region) : PixelCodec(region, 32, RangeFloat) {}

HRESULT CodecR32F::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(&out[x].r, p + size_t{x} * 4, 4);
        out[x].g = out[x].b = out[x].a = 1.0f;
    }
    FinishRead(*this, out);
    return S_OK;
}

HRESULT CodecR32F::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const ColorF* src = PrepareWrite(*this, in);
    uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) std::memcpy(p + size_t{x} * 4, &src[x].r, 4);
    return S_OK;
}

CodecG32R32F::CodecG32R32F(const BlitRegion& region) : PixelCodec(region, 64, RangeFloat) {}

HRESULT CodecG32R32F::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(&out[x].r, p + size_t{x} * 8, 8);
        out[x].b = out[x].a = 1.0f;
    }
    FinishRead(*this, out);
    return S_OK;
}

HRESULT CodecG32R32F::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const ColorF* src = PrepareWrite(*this, in);
    uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) std::memcpy(p + size_t{x} * 8, &src[x].r, 8);
    return S_OK;
}

CodecA32B32G32R32F::CodecA32B32G32R32F(const BlitRegion& region) : PixelCodec(region, 128, RangeFloat) {}

HRESULT CodecA32B32G32R32F::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    std::memcpy(out, RowBits(row, slice), size_t{width} * 16);
    FinishRead(*this, out);
    return S_OK;
}

HRESULT CodecA32B32G32R32F::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const ColorF* src = PrepareWrite(*this, in);
    std::memmove(RowBits(row, slice), src, size_t{width} * 16);
    return S_OK;
}

PixelCodec* CreateFloatCodec(const BlitRegion& region) {
    switch (region.format) {
    case D3DFMT_R16F: return New<CodecR16F>(region);
    case D3DFMT_G16R16F: return New<CodecG16R16F>(region);
    case D3DFMT_A16B16G16R16F: return New<CodecA16B16G16R16F>(region);
    case D3DFMT_R32F:
    case D3DFMT_D32F_LOCKABLE: return New<CodecR32F>(region);
    case D3DFMT_G32R32F: return New<CodecG32R32F>(region);
    case D3DFMT_A32B32G32R32F: return New<CodecA32B32G32R32F>(region);
    default: return nullptr;
    }
}

}  // namespace z3az
