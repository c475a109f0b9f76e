#include "convert/pair_codec.h"

#include <cmath>
#include <cstring>

#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

// trunc(sum + 0.5) + offset as a byte, the sum rounded to a float first and
// the result clamped to 0..255 (NaN gives 0).
inline uint8_t ByteFromSum(float sum, float offset) {
    float v = sum + 0.5f;
    v = std::fabs(v) < 8388608.0f ? static_cast<float>(static_cast<int32_t>(v)) : v;
    v += offset;
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(v);
}

inline float Clamp01(float v) {
    if (v < 0.0f) return 0.0f;
    if (v > 1.0f) return 1.0f;
    return v;
}

}  // namespace

PackedPairCodec::PackedPairCodec(const BlitRegion& region, uint32_t luma, uint32_t chroma)
    : PixelCodec(region, 0, RangeUnsigned),
      cache(nullptr),
      cacheLeft(box.left & ~1u),
      cachedRow(0),
      cacheRight((box.right + 1) & ~1u),
      cachedRowEnd(0),
      cachedSlice(0),
      cachedSliceEnd(0),
      cacheWidth(0),
      dirty(0),
      cacheValid(1),
      lumaShift(luma),
      chromaShift(chroma) {
    cacheWidth = cacheRight - cacheLeft;
    cache = static_cast<ColorF*>(AllocateArray(cacheWidth, sizeof(ColorF)));
    if (!cache) cacheValid = 0;
}

PackedPairCodec::~PackedPairCodec() {
    FlushCache();
    Free(cache);
}

uint8_t* PackedPairCodec::CachedRowWords() const {
    return bits + static_cast<size_t>(cachedSlice) * slicePitch +
           static_cast<size_t>(cachedRow) * rowPitch + static_cast<size_t>(cacheLeft) * 2;
}

static bool IsYuvFormat(uint32_t format) { return format == D3DFMT_YUY2 || format == D3DFMT_UYVY; }

void PackedPairCodec::DecodePairs(const uint8_t* words) {
    if (IsYuvFormat(format)) DecodeYuvPairs(words);
    else DecodeRgbPairs(words);
}

void PackedPairCodec::EncodePairs(uint8_t* words) const {
    if (IsYuvFormat(format)) EncodeYuvPairs(words);
    else EncodeRgbPairs(words);
}

HRESULT PackedPairCodec::LoadCacheRow(uint32_t row, uint32_t slice, bool decode) {
    if (!cacheValid) return E_OUTOFMEMORY;
    if (cachedRow <= row && row < cachedRowEnd && cachedSlice <= slice && slice < cachedSliceEnd)
        return S_OK;
    FlushCache();
    cachedRow = row;
    cachedRowEnd = row + 1;
    cachedSlice = slice;
    cachedSliceEnd = slice + 1;
    if (decode) DecodePairs(CachedRowWords());
    return S_OK;
}

HRESULT PackedPairCodec::FlushCache() {
    if (dirty && cacheValid) {
        EncodePairs(CachedRowWords());
        dirty = 0;
    }
    return S_OK;
}

HRESULT PackedPairCodec::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const HRESULT hr = LoadCacheRow(row + box.top, slice + box.front, true);
    if (FAILED(hr)) return hr;
    std::memcpy(out, cache + (box.left - cacheLeft), static_cast<size_t>(width) * sizeof(ColorF));
    if (colorKey) ApplyColorKey(out);
    if (srgb) DecodeSrgb(out);
    return S_OK;
}

HRESULT PackedPairCodec::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    if (!cacheValid) return E_OUTOFMEMORY;
    ColorF* values = in;
    if (convertFrom) values = ConvertRange(values);
    if (srgb) values = EncodeSrgb(values);
    // A box that starts or ends inside a pair decodes the row first, so that
    // the partner pixels keep their stored values.
    const HRESULT hr = LoadCacheRow(row + box.top, slice + box.front, cacheWidth != width);
    if (FAILED(hr)) return hr;
    std::memcpy(cache + (box.left - cacheLeft), values, static_cast<size_t>(width) * sizeof(ColorF));
    dirty = 1;
    return S_OK;
}

// Chroma of the odd pixels is interpolated from the neighbouring pairs. The
// rules are chosen by the pixel's position k within the decoded pairs and
// their count n, so every tap lies inside the decoded pairs (and so inside
// the surface row): a box that starts at column 0 decodes exactly like the
// start of the row; one that starts further right decodes its first and last
// pairs with the edge rules instead of reaching past them.
void PackedPairCodec::DecodeYuvPairs(const uint8_t* words) {
    const uint32_t own = lumaShift / 8;
    const uint32_t shared = chromaShift / 8;
    const int n = static_cast<int>(cacheWidth);
    auto c = [&](int k) { return static_cast<int>(words[2 * k + shared]); };
    for (int k = 0; k < n; ++k) {
        int u, v;
        if ((k & 1) == 0) {
            u = c(k);
            v = c(k + 1);
        } else if (n == 2) {
            u = c(k - 1);
            v = c(k);
        } else if (k == 1 && n == 4) {
            u = (8 * c(k - 1) + 8 * c(k + 1) + 8) >> 4;
            v = (8 * c(k) + 8 * c(k + 2) + 8) >> 4;
        } else if (k == n - 1) {
            u = (17 * c(k - 1) - c(k - 3) + 8) >> 4;
            v = (17 * c(k) - c(k - 2) + 8) >> 4;
        } else if (k == 1) {
            u = (8 * c(k - 1) + 9 * c(k + 1) - c(k + 3) + 8) >> 4;
            v = (8 * c(k) + 9 * c(k + 2) - c(k + 4) + 8) >> 4;
        } else if (k == n - 3) {
            u = (9 * c(k - 1) + 8 * c(k + 1) - c(k - 3) + 8) >> 4;
            v = (9 * c(k) + 8 * c(k + 2) - c(k - 2) + 8) >> 4;
        } else {
            u = (9 * (c(k - 1) + c(k + 1)) - c(k - 3) - c(k + 3) + 8) >> 4;
            v = (9 * (c(k) + c(k + 2)) - c(k - 2) - c(k + 4) + 8) >> 4;
        }
        // A negative sum (sharp chroma edge) divides rounding down; the only
        // clamp is that of the final colour.
        const float l = static_cast<float>(static_cast<int>(words[2 * k + own]) - 16) * 0.00456621f;
        const float fu = static_cast<float>(u - 128);
        const float fv = static_cast<float>(v - 128);
        const float r = l + fv * 0.00625893f;
        const float g = l - fu * 0.00153632f - fv * 0.00318811f;
        const float b = l + fu * 0.00791071f;
        cache[k] = ColorF{Clamp01(r), Clamp01(g), Clamp01(b), 1.0f};
    }
}

// The chroma of a pair comes from its first pixel; the second gives only Y1.
void PackedPairCodec::EncodeYuvPairs(uint8_t* words) const {
    const uint32_t own = lumaShift / 8;
    const uint32_t shared = chromaShift / 8;
    for (uint32_t k = 0; k < cacheWidth; k += 2) {
        const ColorF& p0 = cache[k];
        const ColorF& p1 = cache[k + 1];
        uint8_t* w0 = words + 2 * k;
        uint8_t* w1 = w0 + 2;
        w0[own] = ByteFromSum(65.481f * p0.r + 128.553f * p0.g + 24.966f * p0.b, 16.0f);
        w1[own] = ByteFromSum(65.481f * p1.r + 128.553f * p1.g + 24.966f * p1.b, 16.0f);
        w0[shared] = ByteFromSum(112.0f * p0.b - 74.203f * p0.g - 37.797f * p0.r, 128.0f);
        w1[shared] = ByteFromSum(112.0f * p0.r - (93.786f * p0.g + 18.214f * p0.b), 128.0f);
    }
}

void PackedPairCodec::DecodeRgbPairs(const uint8_t* words) {
    const uint32_t own = lumaShift / 8;
    const uint32_t shared = chromaShift / 8;
    constexpr float kByte = 1.0f / 255.0f;
    for (uint32_t k = 0; k < cacheWidth; k += 2) {
        const uint8_t* w0 = words + 2 * k;
        const uint8_t* w1 = w0 + 2;
        const float r = static_cast<float>(w0[shared]) * kByte;
        const float b = static_cast<float>(w1[shared]) * kByte;
        cache[k] = ColorF{r, static_cast<float>(w0[own]) * kByte, b, 1.0f};
        cache[k + 1] = ColorF{r, static_cast<float>(w1[own]) * kByte, b, 1.0f};
    }
}

// Red and blue of a pair come from its first pixel.
void PackedPairCodec::EncodeRgbPairs(uint8_t* words) const {
    const uint32_t own = lumaShift / 8;
    const uint32_t shared = chromaShift / 8;
    for (uint32_t k = 0; k < cacheWidth; k += 2) {
        const ColorF& p0 = cache[k];
        const ColorF& p1 = cache[k + 1];
        uint8_t* w0 = words + 2 * k;
        uint8_t* w1 = w0 + 2;
        w0[own] = ByteFromSum(p0.g * 255.0f, 0.0f);
        w0[shared] = ByteFromSum(p0.r * 255.0f, 0.0f);
        w1[own] = ByteFromSum(p1.g * 255.0f, 0.0f);
        w1[shared] = ByteFromSum(p0.b * 255.0f, 0.0f);
    }
}

PixelCodec* CreatePackedPairCodec(const BlitRegion& region) {
    switch (region.format) {
        case D3DFMT_YUY2: return New<CodecYUY2>(region);
        case D3DFMT_UYVY: return New<CodecUYVY>(region);
        case D3DFMT_R8G8_B8G8: return New<CodecR8G8_B8G8>(region);
        case D3DFMT_G8R8_G8B8: return New<CodecG8R8_G8B8>(region);
        default: return nullptr;
    }
}

}  // namespace z3az
