// Building blocks of the per-format codecs: the quantization rule, the
// serpentine scan with error diffusion, and a codec template for formats
// whose pixels are fixed bit fields of one little-endian word.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "convert/pixel_codec.h"

namespace z3az {

static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");

// The channels of a ColorF by index: 0 r, 1 g, 2 b, 3 a.
inline float* Channels(ColorF* c) { return reinterpret_cast<float*>(c); }
inline const float* Channels(const ColorF* c) { return reinterpret_cast<const float*>(c); }

enum : uint8_t { ChannelR = 0, ChannelG = 1, ChannelB = 2, ChannelA = 3 };

// Truncation toward zero that is defined for every float: values that are
// already integers (and NaN) stay as they are.
inline float TruncateTowardZero(float s) {
    return std::fabs(s) < 8388608.0f ? static_cast<float>(static_cast<int32_t>(s)) : s;
}

// The code for a truncated value, clamped to 0..max (unsigned) or
// -max..max (signed). NaN gives 0.
template <bool Signed>
inline int32_t ClampCode(float q, int32_t max) {
    const float m = static_cast<float>(max);
    if constexpr (Signed) {
        if (q >= m) return max;
        if (q <= -m) return -max;
        return q == q ? static_cast<int32_t>(q) : 0;
    } else {
        return q > 0.0f ? (q < m ? static_cast<int32_t>(q) : max) : 0;
    }
}

// The quantization of one channel without error diffusion: v = c * M
// rounded to float, q = v + t truncated toward zero, then clamped.
template <bool Signed>
inline int32_t QuantizeChannel(float c, float threshold, int32_t max) {
    const float v = c * static_cast<float>(max);
    return ClampCode<Signed>(TruncateTowardZero(v + threshold), max);
}

// The state of error diffusion while one row is written: the error row,
// the scan direction and the position of the pixel in the row.
struct DiffusionStep {
    float* errors;  // errorRow as floats: entry e, channel c at 4 * e + c
    int32_t direction;
    uint32_t x;
};

// The quantization of one channel with error diffusion. The carry of the
// channel comes in and goes out through `carry`. The error uses the
// unclamped code and goes 3/16 to the pixel behind in the next row, 5/16 to
// the pixel below, 1/16 to the pixel ahead below and 7/16 to the next pixel
// of this row. An error that is not a number (an infinite or NaN input) is
// not spread, so one such pixel cannot spoil the rest of the image.
template <bool Signed>
inline int32_t QuantizeChannel(float c, float threshold, int32_t max, float inverseMax,
                               uint8_t channel, double& carry, const DiffusionStep& step) {
    const float v = static_cast<float>((static_cast<double>(c) + carry) * max);
    const float q = TruncateTowardZero(v + threshold);
    double e = (static_cast<double>(v) - q) * inverseMax;
    if (!(e == e)) e = 0.0;
    float* behind = step.errors + 4 * (step.x - step.direction + 1) + channel;
    float* below = step.errors + 4 * (step.x + 1) + channel;
    float* ahead = step.errors + 4 * (step.x + step.direction + 1) + channel;
    *behind = static_cast<float>(*behind + e * (3.0 / 16));
    *below = static_cast<float>(*below + e * (5.0 / 16));
    *ahead = static_cast<float>(*ahead + e * (1.0 / 16));
    carry = e * (7.0 / 16);
    return ClampCode<Signed>(q, max);
}

// The serpentine scan: even rows left to right, odd rows right to left; the
// pixel's threshold comes from the row's threshold row and its place in
// processing order. body(x, threshold, step) handles one pixel.
template <class Body>
inline void ScanRow(const PixelCodec& codec, uint32_t row, uint32_t slice, Body&& body) {
    const float* thresholds = codec.ditherTable + (row & 3) * 8 + (slice & 3);
    const uint32_t width = codec.width;
    DiffusionStep step{codec.errorRow ? Channels(codec.errorRow) : nullptr, (row & 1) ? -1 : 1, 0};
    if (row & 1) {
        for (uint32_t i = 0; i < width; ++i) {
            step.x = width - 1 - i;
            body(step.x, thresholds[i & 3], step);
        }
    } else {
        for (uint32_t i = 0; i < width; ++i) {
            step.x = i;
            body(step.x, thresholds[i & 3], step);
        }
    }
}

// Luminance weights.
inline float Luminance(const ColorF& p) {
    return static_cast<float>(static_cast<double>(0.2125f) * p.r + static_cast<double>(0.7154f) * p.g +
                              static_cast<double>(0.0721f) * p.b);
}

// One field of a packed pixel: which channel it holds, where and how wide.
struct Field {
    uint8_t channel;
    uint8_t shift;
    uint8_t bits;
    bool isSigned;

    constexpr int32_t Max() const {
        return isSigned ? (int32_t{1} << (bits - 1)) - 1 : static_cast<int32_t>((uint32_t{1} << bits) - 1);
    }
    constexpr uint64_t Mask() const { return (uint64_t{1} << bits) - 1; }
    constexpr float InverseMax() const { return 1.0f / static_cast<float>(Max()); }
};

// A pixel of 1 to 8 bytes as a little-endian word. The odd sizes are put
// together from exact-width pieces, which keeps them in registers.
template <uint32_t Bytes>
inline uint64_t LoadPixel(const uint8_t* p) {
    if constexpr (Bytes == 1) {
        return p[0];
    } else if constexpr (Bytes == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else if constexpr (Bytes == 3) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v | (uint64_t{p[2]} << 16);
    } else if constexpr (Bytes == 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    } else if constexpr (Bytes == 6) {
        uint32_t lo;
        uint16_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 2);
        return lo | (uint64_t{hi} << 32);
    } else {
        static_assert(Bytes == 8, "pixels of 1, 2, 3, 4, 6 or 8 bytes");
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
}

template <uint32_t Bytes>
inline void StorePixel(uint8_t* p, uint64_t v) {
    if constexpr (Bytes == 1) {
        p[0] = static_cast<uint8_t>(v);
    } else if constexpr (Bytes == 2) {
        const uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if constexpr (Bytes == 3) {
        const uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
        p[2] = static_cast<uint8_t>(v >> 16);
    } else if constexpr (Bytes == 4) {
        const uint32_t w = static_cast<uint32_t>(v);
        std::memcpy(p, &w, 4);
    } else if constexpr (Bytes == 6) {
        const uint32_t lo = static_cast<uint32_t>(v);
        const uint16_t hi = static_cast<uint16_t>(v >> 32);
        std::memcpy(p, &lo, 4);
        std::memcpy(p + 4, &hi, 2);
    } else {
        static_assert(Bytes == 8, "pixels of 1, 2, 3, 4, 6 or 8 bytes");
        std::memcpy(p, &v, 8);
    }
}

// Reads one field as its channel's value.
inline float ReadField(uint64_t pixel, const Field f) {
    const uint64_t code = (pixel >> f.shift) & f.Mask();
    if (f.isSigned) {
        int32_t s = static_cast<int32_t>(code);
        if (code >> (f.bits - 1)) s -= static_cast<int32_t>(uint32_t{1} << f.bits);
        if (s < -f.Max()) s = -f.Max();  // the most negative code reads as the next one up
        return static_cast<float>(s) * f.InverseMax();
    }
    return static_cast<float>(code) * f.InverseMax();
}

// A codec whose pixel is Layout::kBits bits of fields Layout::kFields;
// channels no field stores read as Layout::kFill. Luminance layouts store
// the luminance of r, g, b in the field of r and read it back into all three.
template <class Layout>
class PackedCodec : public PixelCodec {
public:
    static constexpr uint32_t kBytes = Layout::kBits / 8;
    static constexpr size_t kFieldCount = sizeof(Layout::kFields) / sizeof(Field);

    explicit PackedCodec(const BlitRegion& region) : PixelCodec(region, Layout::kBits, Layout::kRange) {}

    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override {
        const uint8_t* p = RowBits(row, slice);
        for (uint32_t x = 0; x < width; ++x, p += kBytes) {
            const uint64_t pixel = LoadPixel<kBytes>(p);
            ColorF c = Layout::kFill;
            ReadFields(pixel, Channels(&c), std::make_index_sequence<kFieldCount>{});
            if constexpr (Layout::kLuminance) c.g = c.b = c.r;
            out[x] = c;
        }
        if (colorKey) ApplyColorKey(out);
        if (srgb) DecodeSrgb(out);
        return S_OK;
    }

    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override {
        ColorF* src = in;
        if (convertFrom) src = ConvertRange(src);
        if (srgb) src = EncodeSrgb(src);
        if constexpr (Layout::kLuminance) {
            for (uint32_t x = 0; x < width; ++x) src[x].r = Luminance(src[x]);
        }
        uint8_t* p = RowBits(row, slice);
        if (errorRow) {
            AddDiffusedError(src);
            double carry[kFieldCount] = {};
            ScanRow(*this, row, slice, [&](uint32_t x, float t, const DiffusionStep& step) {
                const float* c = Channels(&src[x]);
                StorePixel<kBytes>(p + size_t{x} * kBytes,
                                   PackDiffused(c, t, carry, step, std::make_index_sequence<kFieldCount>{}));
            });
        } else {
            ScanRow(*this, row, slice, [&](uint32_t x, float t, const DiffusionStep&) {
                const float* c = Channels(&src[x]);
                StorePixel<kBytes>(p + size_t{x} * kBytes,
                                   Pack(c, t, std::make_index_sequence<kFieldCount>{}));
            });
        }
        return S_OK;
    }

private:
    template <size_t... I>
    static void ReadFields(uint64_t pixel, float* c, std::index_sequence<I...>) {
        ((c[Layout::kFields[I].channel] = ReadField(pixel, Layout::kFields[I])), ...);
    }

    template <size_t I>
    static uint64_t PackOne(const float* c, float t) {
        constexpr Field f = Layout::kFields[I];
        const int32_t q = QuantizeChannel<f.isSigned>(c[f.channel], t, f.Max());
        return (static_cast<uint64_t>(static_cast<uint32_t>(q)) & f.Mask()) << f.shift;
    }
    template <size_t... I>
    static uint64_t Pack(const float* c, float t, std::index_sequence<I...>) {
        return (PackOne<I>(c, t) | ... | uint64_t{0});
    }

    template <size_t I>
    static uint64_t PackOneDiffused(const float* c, float t, double* carry, const DiffusionStep& step) {
        constexpr Field f = Layout::kFields[I];
        const int32_t q = QuantizeChannel<f.isSigned>(c[f.channel], t, f.Max(), f.InverseMax(),
                                                      f.channel, carry[I], step);
        return (static_cast<uint64_t>(static_cast<uint32_t>(q)) & f.Mask()) << f.shift;
    }
    template <size_t... I>
    static uint64_t PackDiffused(const float* c, float t, double* carry, const DiffusionStep& step,
                                 std::index_sequence<I...>) {
        return (PackOneDiffused<I>(c, t, carry, step) | ... | uint64_t{0});
    }
};

}  // namespace z3az
