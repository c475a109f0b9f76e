#include "convert/codecs_palette.h"

#include <cfloat>

#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

constexpr ColorF kWhite = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr float kInv255 = 1.0f / 255.0f;

inline const ColorF& Entry(const ColorF* palette, uint32_t index) {
    return palette ? palette[index] : kWhite;
}

// The first entry with the smallest squared distance; with alpha or without.
template <bool WithAlpha>
uint8_t NearestEntry(const ColorF* palette, const ColorF& c) {
    if (!palette) return 0;
    float best = FLT_MAX;
    uint32_t index = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        const float dr = c.r - palette[i].r;
        const float dg = c.g - palette[i].g;
        const float db = c.b - palette[i].b;
        float d = dr * dr + dg * dg + db * db;
        if constexpr (WithAlpha) {
            const float da = c.a - palette[i].a;
            d += da * da;
        }
        if (d < best) {
            best = d;
            index = i;
        }
    }
    return static_cast<uint8_t>(index);
}

inline bool SameColour(const ColorF& a, const ColorF& b, bool withAlpha) {
    return a.r == b.r && a.g == b.g && a.b == b.b && (!withAlpha || a.a == b.a);
}

}  // namespace

CodecP8::CodecP8(const BlitRegion& region) : PixelCodec(region, 8, RangeUnsigned) {}

HRESULT CodecP8::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x) out[x] = Entry(palette, p[x]);
    if (colorKey) ApplyColorKey(out);
    if (srgb) DecodeSrgb(out);
    return S_OK;
}

HRESULT CodecP8::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    ColorF* src = in;
    if (convertFrom) src = ConvertRange(src);
    if (srgb) src = EncodeSrgb(src);
    uint8_t* p = RowBits(row, slice);
    // Runs of one colour are common: the search is made once per run.
    ColorF last{};
    uint8_t lastIndex = 0;
    for (uint32_t x = 0; x < width; ++x) {
        if (x == 0 || !SameColour(src[x], last, true)) {
            last = src[x];
            lastIndex = NearestEntry<true>(palette, last);
        }
        p[x] = lastIndex;
    }
    return S_OK;
}

CodecA8P8::CodecA8P8(const BlitRegion& region) : PixelCodec(region, 16, RangeUnsigned) {}

HRESULT CodecA8P8::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const uint8_t* p = RowBits(row, slice);
    for (uint32_t x = 0; x < width; ++x, p += 2) {
        const ColorF& e = Entry(palette, p[0]);
        out[x] = {e.r, e.g, e.b, static_cast<float>(p[1]) * kInv255};
    }
    if (colorKey) ApplyColorKey(out);
    if (srgb) DecodeSrgb(out);
    return S_OK;
}

HRESULT CodecA8P8::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    ColorF* src = in;
    if (convertFrom) src = ConvertRange(src);
    if (srgb) src = EncodeSrgb(src);
    uint8_t* p = RowBits(row, slice);
    // Only alpha errors are ever pushed down, so the added errors change
    // only a, which the search does not look at.
    if (errorRow) AddDiffusedError(src);
    double carry = 0.0;
    ColorF last{};
    uint8_t lastIndex = 0;
    bool haveLast = false;
    ScanRow(*this, row, slice, [&](uint32_t x, float t, const DiffusionStep& step) {
        const ColorF& c = src[x];
        if (!haveLast || !SameColour(c, last, false)) {
            last = c;
            lastIndex = NearestEntry<false>(palette, c);
            haveLast = true;
        }
        const int32_t a = errorRow ? QuantizeChannel<false>(c.a, t, 255, kInv255, ChannelA, carry, step)
                                   : QuantizeChannel<false>(c.a, t, 255);
        p[size_t{x} * 2] = lastIndex;
        p[size_t{x} * 2 + 1] = static_cast<uint8_t>(a);
    });
    return S_OK;
}

PixelCodec* CreatePaletteCodec(const BlitRegion& region) {
    switch (region.format) {
    case D3DFMT_P8: return New<CodecP8>(region);
    case D3DFMT_A8P8: return New<CodecA8P8>(region);
    default: return nullptr;
    }
}

}  // namespace z3az
