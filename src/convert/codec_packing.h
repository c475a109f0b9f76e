// Building blocks of the per-format codecs: the quantization rule, the
// serpentine scan with error diffusion, and a codec template for formats
// whose pixels are fixed bit fields of one little-endian word.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// What the fast row routines need to know of a layout, worked out from its
// field table at compile time.
template <class Layout>
struct LayoutShape {
    static constexpr size_t kCount = sizeof(Layout::kFields) / sizeof(Field);
    static constexpr uint32_t kBytes = Layout::kBits / 8;

    // The field that stores channel c, or kCount.
    static constexpr size_t FieldOf(uint8_t c) {
        for (size_t i = 0; i < kCount; ++i)
            if (Layout::kFields[i].channel == c) return i;
        return kCount;
    }
    static constexpr bool Stored(uint8_t c) { return FieldOf(c) != kCount; }
    static constexpr bool EachChannelOnce() {
        for (uint8_t c = 0; c < 4; ++c) {
            size_t n = 0;
            for (size_t i = 0; i < kCount; ++i) n += Layout::kFields[i].channel == c;
            if (n > 1) return false;
        }
        return true;
    }
    static constexpr bool AllUnsignedUpTo(uint8_t bits) {
        for (size_t i = 0; i < kCount; ++i)
            if (Layout::kFields[i].isSigned || Layout::kFields[i].bits > bits) return false;
        return true;
    }
    // Every field a whole byte of a 3- or 4-byte pixel.
    static constexpr bool WholeBytes() {
        if (kBytes != 3 && kBytes != 4) return false;
        for (size_t i = 0; i < kCount; ++i)
            if (Layout::kFields[i].bits != 8 || Layout::kFields[i].shift % 8 != 0) return false;
        return AllUnsignedUpTo(8);
    }
    // The shuffle that puts byte lanes into channel order r, g, b, a (a
    // channel no field stores keeps its own lane).
    static constexpr int ByteOrder() {
        int order = 0;
        for (uint8_t c = 0; c < 4; ++c) {
            const size_t i = FieldOf(c);
            const int lane = i == kCount ? c : Layout::kFields[i].shift / 8;
            order |= lane << (2 * c);
        }
        return order;
    }
    static constexpr float ReadScale(uint8_t c) {
        return Stored(c) ? Layout::kFields[FieldOf(c)].InverseMax() : 1.0f;
    }
    static constexpr int Shift(uint8_t c) { return Stored(c) ? Layout::kFields[FieldOf(c)].shift : 0; }
    static constexpr float CodeMax(uint8_t c) {
        return Stored(c) ? static_cast<float>(Layout::kFields[FieldOf(c)].Max()) : 1.0f;
    }
};

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
        if (!ReadRowFast(row, slice, out)) ReadRowPlain(row, slice, out);
        return S_OK;
    }

    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override {
        if (!WriteRowFast(row, slice, in)) WriteRowPlain(row, slice, in);
        return S_OK;
    }

    // The portable read: field by field, pixel by pixel. Every layout can
    // take it, and the fast read must give exactly its values.
    void ReadRowPlain(uint32_t row, uint32_t slice, ColorF* out) {
        const uint8_t* p = RowBits(row, slice);
        for (uint32_t x = 0; x < width; ++x, p += kBytes) {
            const uint64_t pixel = LoadPixel<kBytes>(p);
            ColorF c = Layout::kFill;
            ReadFields(pixel, Channels(&c), std::make_index_sequence<kFieldCount>{});
            if constexpr (Layout::kLuminance) c.g = c.b = c.r;
            out[x] = c;
        }
        FinishRead(out);
    }

    // The read of layouts made of whole bytes (8-bit fields on byte
    // boundaries, 3- or 4-byte pixels): the bytes of a pixel widened in one
    // SSE2 register, placed in channel order, converted and scaled together,
    // the same float operations as the plain read. False, and nothing done,
    // for any other layout or without SSE2.
    bool ReadRowFast(uint32_t row, uint32_t slice, ColorF* out) {
#if defined(__SSE2__)
        if constexpr (kByteFields) {
            const uint8_t* p = RowBits(row, slice);
            const __m128i zero = _mm_setzero_si128();
            const __m128 scale = _mm_set_ps(kReadScale[3], kReadScale[2], kReadScale[1], kReadScale[0]);
            const __m128 keep = _mm_castsi128_ps(_mm_set_epi32(-int32_t{kStored[3]}, -int32_t{kStored[2]},
                                                               -int32_t{kStored[1]}, -int32_t{kStored[0]}));
            const __m128 fill = _mm_andnot_ps(keep, _mm_set_ps(Layout::kFill.a, Layout::kFill.b,
                                                               Layout::kFill.g, Layout::kFill.r));
            for (uint32_t x = 0; x < width; ++x, p += kBytes) {
                __m128i b = _mm_cvtsi32_si128(static_cast<int32_t>(static_cast<uint32_t>(LoadPixel<kBytes>(p))));
                b = _mm_unpacklo_epi16(_mm_unpacklo_epi8(b, zero), zero);
                b = _mm_shuffle_epi32(b, kByteOrder);
                const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(b), scale);
                _mm_storeu_ps(Channels(&out[x]), _mm_or_ps(_mm_and_ps(f, keep), fill));
            }
            FinishRead(out);
            return true;
        }
#endif
        (void)row, (void)slice, (void)out;
        return false;
    }

    // The portable write: range conversion, sRGB, luminance and error
    // diffusion as the row needs them, then each field quantized on its own.
    void WriteRowPlain(uint32_t row, uint32_t slice, ColorF* in) {
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
    }

    // The write of rows that need no error diffusion, no sRGB and at most
    // the clamp of float values into 0..1, for layouts of unsigned fields of
    // up to 16 bits without luminance: values are clamped, scaled, offset by
    // their pixel's threshold and quantized four side by side in an SSE2
    // register (one channel of four pixels for pixels of up to 4 bytes, the
    // four channels of one pixel otherwise and at the end of a row), each
    // with the plain write's float operations in the same order, so the
    // bytes are the same. Without diffusion the scan direction only decides
    // which threshold a column gets, and that repeats every four columns. False, and nothing done,
    // when the row or the layout needs the plain write, or without SSE2.
    // The input row is left as it is.
    bool WriteRowFast(uint32_t row, uint32_t slice, const ColorF* in) {
#if defined(__SSE2__)
        if constexpr (kQuantizeSideBySide) {
            if (errorRow || srgb || (convertFrom != 0 && convertFrom != RangeFloat)) return false;
            const float* thresholds = ditherTable + (row & 3) * 8 + (slice & 3);
            __m128 t[4];
            for (uint32_t j = 0; j < 4; ++j)
                t[j] = _mm_set1_ps((row & 1) ? thresholds[(width - 1 - j) & 3] : thresholds[j]);
            const __m128 zero = _mm_setzero_ps();
            const __m128 one = _mm_set1_ps(1.0f);
            const __m128 maxima = _mm_set_ps(kCodeMax[3], kCodeMax[2], kCodeMax[1], kCodeMax[0]);
            const bool clamp = convertFrom == RangeFloat;
            uint8_t* p = RowBits(row, slice);
            // The codes of one pixel: v = c * M, then v + t truncated
            // toward zero and held in 0..M. NaN gives 0 (max takes its
            // second operand then), as does everything below 1.
            auto quantize = [&](uint32_t x, __m128 threshold) {
                __m128 c = _mm_loadu_ps(Channels(&in[x]));
                // The float range's clamp: below 0 gives 0, not below 1
                // (NaN too) gives 1, -0 stays -0.
                if (clamp) c = _mm_max_ps(zero, _mm_min_ps(c, one));
                const __m128 s = _mm_add_ps(_mm_mul_ps(c, maxima), threshold);
                return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(s, zero), maxima));
            };
            uint32_t x = 0;
            if constexpr (kBytes <= 4) {
                // Four pixels at a time, turned into one register per
                // channel: lane k is pixel x + k, so the thresholds of the
                // lanes are the same for every group.
                const __m128 groupThresholds = _mm_set_ps(_mm_cvtss_f32(t[3]), _mm_cvtss_f32(t[2]),
                                                          _mm_cvtss_f32(t[1]), _mm_cvtss_f32(t[0]));
                for (; x + 4 <= width; x += 4) {
                    __m128 c[4] = {_mm_loadu_ps(Channels(&in[x])), _mm_loadu_ps(Channels(&in[x + 1])),
                                   _mm_loadu_ps(Channels(&in[x + 2])), _mm_loadu_ps(Channels(&in[x + 3]))};
                    _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
                    __m128i word = _mm_setzero_si128();
                    for (uint8_t ch = 0; ch < 4; ++ch) {
                        if (!kStored[ch]) continue;
                        __m128 v = c[ch];
                        if (clamp) v = _mm_max_ps(zero, _mm_min_ps(v, one));
                        const __m128 m = _mm_set1_ps(kCodeMax[ch]);
                        const __m128 sum = _mm_add_ps(_mm_mul_ps(v, m), groupThresholds);
                        const __m128i q = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(sum, zero), m));
                        word = _mm_or_si128(word, _mm_sll_epi32(q, _mm_cvtsi32_si128(kShift[ch])));
                    }
                    StoreWords(p + size_t{x} * kBytes, word, x + 4 < width);
                }
            }
            for (; x < width; ++x) StoreCodes(p + size_t{x} * kBytes, quantize(x, t[x & 3]));
            return true;
        }
#endif
        (void)row, (void)slice, (void)in;
        return false;
    }

private:
    using Shape = LayoutShape<Layout>;
    static constexpr bool kByteFields = Shape::WholeBytes() && !Layout::kLuminance && Shape::EachChannelOnce();
    static constexpr int kByteOrder = Shape::ByteOrder();
    static constexpr bool kStored[4] = {Shape::Stored(0), Shape::Stored(1), Shape::Stored(2), Shape::Stored(3)};
    static constexpr float kReadScale[4] = {Shape::ReadScale(0), Shape::ReadScale(1), Shape::ReadScale(2),
                                            Shape::ReadScale(3)};
    static constexpr bool kQuantizeSideBySide =
        !Layout::kLuminance && Shape::AllUnsignedUpTo(16) && Shape::EachChannelOnce();
    static constexpr int kShift[4] = {Shape::Shift(0), Shape::Shift(1), Shape::Shift(2), Shape::Shift(3)};
    static constexpr float kCodeMax[4] = {Shape::CodeMax(0), Shape::CodeMax(1), Shape::CodeMax(2),
                                          Shape::CodeMax(3)};

    void FinishRead(ColorF* out) {
        if (colorKey) ApplyColorKey(out);
        if (srgb) DecodeSrgb(out);
    }

#if defined(__SSE2__)
    // The pixel word from codes r, g, b, a in lanes[0] to lanes[3].
    template <size_t... I>
    static uint64_t PackLanes(const int32_t* lanes, std::index_sequence<I...>) {
        return (((static_cast<uint64_t>(static_cast<uint32_t>(lanes[Layout::kFields[I].channel])) &
                  Layout::kFields[I].Mask())
                 << Layout::kFields[I].shift) |
                ... | uint64_t{0});
    }
    // Stores the pixel words in the lanes of w at p, four pixels in a row.
    // `more`: the row goes on after them, so a 3-byte pixel may be stored
    // as 4 bytes (the next pixel's first byte is written again later).
    static void StoreWords(uint8_t* p, __m128i w, bool more) {
        if constexpr (kBytes == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), w);
        } else if constexpr (kBytes == 2) {
            // The low 16 bits of each lane, exactly: sign-extended, then
            // packed with signed saturation, which keeps them.
            const __m128i low = _mm_srai_epi32(_mm_slli_epi32(w, 16), 16);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(low, low));
        } else if constexpr (kBytes == 1) {
            const __m128i words = _mm_packs_epi32(w, w);  // each at most 255
            const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
            std::memcpy(p, &four, 4);
        } else {
            static_assert(kBytes == 3, "pixels of 1 to 4 bytes here");
            alignas(16) uint32_t lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), w);
            if (more) {
                for (uint32_t k = 0; k < 4; ++k) std::memcpy(p + 3 * k, &lanes[k], 4);
            } else {
                for (uint32_t k = 0; k < 4; ++k) StorePixel<3>(p + 3 * k, lanes[k]);
            }
        }
    }

    // Stores one pixel from its codes r, g, b, a in the lanes of q.
    static void StoreCodes(uint8_t* p, __m128i q) {
        alignas(16) int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), q);
        StorePixel<kBytes>(p, PackLanes(lanes, std::make_index_sequence<kFieldCount>{}));
    }
#endif

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
