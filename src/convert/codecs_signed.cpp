#include "convert/codecs_signed.h"

#include <cmath>

#include "platform/heap.h"
#include "runtime/normalize_vector.h"
#include "z3az/d3dformat.h"

namespace z3az {

namespace {
constexpr Field kCxU = SignedField(ChannelR, 0, 8);
constexpr Field kCxV = SignedField(ChannelG, 8, 8);
}  // namespace

CodecCxV8U8::CodecCxV8U8(const BlitRegion& region) : PixelCodec(region, 16, RangeSignedRgb) {}

HRESULT CodecCxV8U8::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x, p += 2) {
        const uint64_t pixel = LoadPixel<2>(p);
        const float u = ReadField(pixel, kCxU);
        const float v = ReadField(pixel, kCxV);
        const float w2 = 1.0f - u * u - v * v;
        out[x] = {u, v, w2 > 0.0f ? std::sqrt(w2) : 0.0f, 1.0f};
    }
    if (colorKey) ApplyColorKey(out);
    if (srgb) DecodeSrgb(out);
    return S_OK;
}

HRESULT CodecCxV8U8::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    ColorF* src = in;
    if (convertFrom) src = ConvertRange(src);
    if (srgb) src = EncodeSrgb(src);
    uint8_t* p = RowBits(row, slice);
    constexpr int32_t kMax = kCxU.Max();
    if (errorRow) {
        AddDiffusedError(src);
        double carry[2] = {0.0, 0.0};
        ScanRow(*this, row, slice, [&](uint32_t x, float t, const DiffusionStep& step) {
            ColorF& c = src[x];
            NormalizeVector3(&c.r, &c.r);
            const int32_t u = QuantizeChannel<true>(c.r, t, kMax, kCxU.InverseMax(), ChannelR, carry[0], step);
            const int32_t v = QuantizeChannel<true>(c.g, t, kMax, kCxV.InverseMax(), ChannelG, carry[1], step);
            StorePixel<2>(p + size_t{x} * 2, (uint32_t(u) & 0xFF) | ((uint32_t(v) & 0xFF) << 8));
        });
    } else {
        ScanRow(*this, row, slice, [&](uint32_t x, float t, const DiffusionStep&) {
            ColorF& c = src[x];
            NormalizeVector3(&c.r, &c.r);
            const int32_t u = QuantizeChannel<true>(c.r, t, kMax);
            const int32_t v = QuantizeChannel<true>(c.g, t, kMax);
            StorePixel<2>(p + size_t{x} * 2, (uint32_t(u) & 0xFF) | ((uint32_t(v) & 0xFF) << 8));
        });
    }
    return S_OK;
}

PixelCodec* CreateSignedCodec(const BlitRegion& region) {
    switch (region.format) {
    case D3DFMT_V8U8: return New<CodecV8U8>(region);
    case D3DFMT_L6V5U5: return New<CodecL6V5U5>(region);
    case D3DFMT_X8L8V8U8: return New<CodecX8L8V8U8>(region);
    case D3DFMT_Q8W8V8U8: return New<CodecQ8W8V8U8>(region);
    case D3DFMT_V16U16: return New<CodecV16U16>(region);
    case D3DFMT_A2W10V10U10: return New<CodecA2W10V10U10>(region);
    case D3DFMT_Q16W16V16U16: return New<CodecQ16W16V16U16>(region);
    case D3DFMT_CxV8U8: return New<CodecCxV8U8>(region);
    default: return nullptr;
    }
}

}  // namespace z3az
