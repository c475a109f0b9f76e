// Box halving. The ColorF paths average 2x2 (2x2x2) blocks of decoded rows;
// the packed path averages the fields of the stored pixels directly with
// integer masks, one rounding constant per field, so that no field carries
// into its neighbour.
#include "convert/box_halving.h"

#include <cstddef>
#include <cstring>

#include "convert/conversion.h"
#include "convert/pixel_codec.h"
#include "platform/heap.h"
#include "runtime/processor_dispatch.h"
#include "z3az/d3dformat.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define Z3AZ_HALVE_SSE2 1
#endif

namespace z3az {
namespace {

uint32_t FilterKind(uint32_t filter) { return filter & 0xFF; }

// Widths and heights halve when the destination is half the source with the
// remainder dropped, or when both are 1.
bool Halves(uint32_t source, uint32_t destination) {
    return destination == source / 2 || (source == 1 && destination == 1);
}

template <class T>
inline T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
inline void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// 2 at the lowest bit of every field of a mask: the rounding constant that
// makes the sum of four fields shifted right by 2 round half up.
constexpr uint32_t RoundingFor(uint32_t mask) { return (mask & ~(mask << 1)) << 1; }

// Fields of one group are far enough apart that four values and the
// rounding constant never reach the next field of the group.
template <class T, uint32_t MaskA, uint32_t MaskB>
void HalveFields(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                 uint32_t sourceHeight, uint32_t sourceRowPitch, uint32_t destinationRowPitch) {
    constexpr uint32_t kRoundA = RoundingFor(MaskA);
    constexpr uint32_t kRoundB = RoundingFor(MaskB);
    const uint32_t width = sourceWidth / 2;
    const uint32_t height = sourceHeight / 2;
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* row0 = source + static_cast<size_t>(2 * i) * sourceRowPitch;
        const uint8_t* row1 = row0 + sourceRowPitch;
        uint8_t* out = destination + static_cast<size_t>(i) * destinationRowPitch;
        for (uint32_t j = 0; j < width; ++j) {
            const uint32_t p0 = Load<T>(row0 + 2 * j * sizeof(T));
            const uint32_t p1 = Load<T>(row0 + (2 * j + 1) * sizeof(T));
            const uint32_t p2 = Load<T>(row1 + 2 * j * sizeof(T));
            const uint32_t p3 = Load<T>(row1 + (2 * j + 1) * sizeof(T));
            const uint32_t a = (p0 & MaskA) + (p1 & MaskA) + (p2 & MaskA) + (p3 & MaskA) + kRoundA;
            const uint32_t b = (p0 & MaskB) + (p1 & MaskB) + (p2 & MaskB) + (p3 & MaskB) + kRoundB;
            Store<T>(out + j * sizeof(T), static_cast<T>(((a >> 2) & MaskA) | ((b >> 2) & MaskB)));
        }
    }
}

// Four bytes of a 32-bit pixel, as two groups of two bytes: each byte sum
// (at most 4 * 255 + 2) stays inside its 16-bit lane.
inline uint32_t AverageFourBytes(uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3) {
    constexpr uint32_t kMask = 0x00FF00FFu;
    constexpr uint32_t kRound = 0x00020002u;
    const uint32_t lo = (p0 & kMask) + (p1 & kMask) + (p2 & kMask) + (p3 & kMask) + kRound;
    const uint32_t hi = ((p0 >> 8) & kMask) + ((p1 >> 8) & kMask) + ((p2 >> 8) & kMask) +
                        ((p3 >> 8) & kMask) + kRound;
    return ((lo >> 2) & kMask) | (((hi >> 2) & kMask) << 8);
}

template <uint32_t KeepMask>
void HalveWords(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                uint32_t sourceHeight, uint32_t sourceRowPitch, uint32_t destinationRowPitch) {
    const uint32_t width = sourceWidth / 2;
    const uint32_t height = sourceHeight / 2;
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* row0 = source + static_cast<size_t>(2 * i) * sourceRowPitch;
        const uint8_t* row1 = row0 + sourceRowPitch;
        uint8_t* out = destination + static_cast<size_t>(i) * destinationRowPitch;
        for (uint32_t j = 0; j < width; ++j) {
            const uint32_t v =
                AverageFourBytes(Load<uint32_t>(row0 + 8 * j), Load<uint32_t>(row0 + 8 * j + 4),
                                 Load<uint32_t>(row1 + 8 * j), Load<uint32_t>(row1 + 8 * j + 4));
            Store<uint32_t>(out + 4 * j, v & KeepMask);
        }
    }
}

#ifdef Z3AZ_HALVE_SSE2

// Two destination pixels from four source pixels of each row: bytes widened
// to 16-bit lanes, the two rows added, neighbouring pixels added, 2 added,
// shifted right by 2.
__attribute__((target("sse2"))) inline __m128i HalveFourPixels(__m128i top, __m128i bottom) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i left = _mm_add_epi16(_mm_unpacklo_epi8(top, zero),
                                       _mm_unpacklo_epi8(bottom, zero));   // columns 0, 1
    const __m128i right = _mm_add_epi16(_mm_unpackhi_epi8(top, zero),
                                        _mm_unpackhi_epi8(bottom, zero));  // columns 2, 3
    const __m128i sum =
        _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2);
}

__attribute__((target("sse2"))) void HalveFourBytesSse2(uint8_t* destination,
                                                        const uint8_t* source,
                                                        uint32_t sourceWidth,
                                                        uint32_t sourceHeight,
                                                        uint32_t sourceRowPitch,
                                                        uint32_t destinationRowPitch) {
    const uint32_t width = sourceWidth / 2;
    const uint32_t height = sourceHeight / 2;
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* row0 = source + static_cast<size_t>(2 * i) * sourceRowPitch;
        const uint8_t* row1 = row0 + sourceRowPitch;
        uint8_t* out = destination + static_cast<size_t>(i) * destinationRowPitch;
        uint32_t j = 0;
        for (; j + 4 <= width; j += 4) {
            const uint8_t* a = row0 + 8 * j;
            const uint8_t* b = row1 + 8 * j;
            const __m128i first = HalveFourPixels(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
            const __m128i second = HalveFourPixels(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * j),
                             _mm_packus_epi16(first, second));
        }
        if (j + 2 <= width) {
            const __m128i pair = HalveFourPixels(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + 8 * j)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + 8 * j)));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * j), _mm_packus_epi16(pair, pair));
            j += 2;
        }
        // A width of 2 modulo 4 source pixels leaves one destination pixel,
        // averaged exactly as the plain four-byte routine does.
        for (; j < width; ++j)
            Store<uint32_t>(out + 4 * j, AverageFourBytes(Load<uint32_t>(row0 + 8 * j),
                                                          Load<uint32_t>(row0 + 8 * j + 4),
                                                          Load<uint32_t>(row1 + 8 * j),
                                                          Load<uint32_t>(row1 + 8 * j + 4)));
    }
}

#endif  // Z3AZ_HALVE_SSE2

// The vector routine is used where the processor test allows vector code
// (which the registry value "DisableMMX" can forbid) and the processor has
// the instructions the routine is written in.
void ResolveSlots() {
    HalveRoutine32 simd = IsMmxAvailable() ? SimdHalveRoutine() : nullptr;
    HalveArgb32.store(simd ? simd : &HalveFourBytes, std::memory_order_relaxed);
    HalveXrgb32.store(simd ? simd : &HalveThreeBytes, std::memory_order_relaxed);
}

void HalveOneByte(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                  uint32_t sourceHeight, uint32_t sourceRowPitch, uint32_t destinationRowPitch) {
    const uint32_t width = sourceWidth / 2;
    const uint32_t height = sourceHeight / 2;
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* row0 = source + static_cast<size_t>(2 * i) * sourceRowPitch;
        const uint8_t* row1 = row0 + sourceRowPitch;
        uint8_t* out = destination + static_cast<size_t>(i) * destinationRowPitch;
        for (uint32_t j = 0; j < width; ++j)
            out[j] = static_cast<uint8_t>(
                (row0[2 * j] + row0[2 * j + 1] + row1[2 * j] + row1[2 * j + 1] + 2u) >> 2);
    }
}

}  // namespace

std::atomic<HalveRoutine32> HalveArgb32{&ResolveHalveArgb32};
std::atomic<HalveRoutine32> HalveXrgb32{&ResolveHalveXrgb32};

void ResolveHalveArgb32(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                        uint32_t sourceHeight, uint32_t sourceRowPitch,
                        uint32_t destinationRowPitch) {
    ResolveSlots();
    HalveArgb32.load(std::memory_order_relaxed)(destination, source, sourceWidth, sourceHeight,
                                                sourceRowPitch, destinationRowPitch);
}

void ResolveHalveXrgb32(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                        uint32_t sourceHeight, uint32_t sourceRowPitch,
                        uint32_t destinationRowPitch) {
    ResolveSlots();
    HalveXrgb32.load(std::memory_order_relaxed)(destination, source, sourceWidth, sourceHeight,
                                                sourceRowPitch, destinationRowPitch);
}

void HalveFourBytes(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                    uint32_t sourceHeight, uint32_t sourceRowPitch, uint32_t destinationRowPitch) {
    HalveWords<0xFFFFFFFFu>(destination, source, sourceWidth, sourceHeight, sourceRowPitch,
                            destinationRowPitch);
}

void HalveThreeBytes(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                     uint32_t sourceHeight, uint32_t sourceRowPitch,
                     uint32_t destinationRowPitch) {
    HalveWords<0x00FFFFFFu>(destination, source, sourceWidth, sourceHeight, sourceRowPitch,
                            destinationRowPitch);
}

HalveRoutine32 SimdHalveRoutine() {
#ifdef Z3AZ_HALVE_SSE2
    if (__builtin_cpu_supports("sse2")) return &HalveFourBytesSse2;
#endif
    return nullptr;
}

bool HalvePacked(PixelCodec& destination, PixelCodec& source) {
    uint8_t* d = destination.bits;
    const uint8_t* s = source.bits;
    const uint32_t sw = source.width;
    const uint32_t sh = source.height;
    const uint32_t sp = source.rowPitch;
    const uint32_t dp = destination.rowPitch;
    switch (source.format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_A8B8G8R8:
            HalveArgb32.load(std::memory_order_relaxed)(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_X8R8G8B8:
        case D3DFMT_X8B8G8R8:
            HalveXrgb32.load(std::memory_order_relaxed)(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_R5G6B5:  // red and blue, then green
            HalveFields<uint16_t, 0xF81F, 0x07E0>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_X1R5G5B5:  // red and blue, then green; bit 15 stays 0
            HalveFields<uint16_t, 0x7C1F, 0x03E0>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_A1R5G5B5:  // red and blue, then alpha and green
            HalveFields<uint16_t, 0x7C1F, 0x83E0>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_A4R4G4B4:
            HalveFields<uint16_t, 0x0F0F, 0xF0F0>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_X4R4G4B4:  // the top nibble stays 0
            HalveFields<uint16_t, 0x0F0F, 0x00F0>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_R3G3B2:  // red and blue, then green
            HalveFields<uint8_t, 0xE3, 0x1C>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_A8R3G3B2:  // alpha and green, then red and blue
            HalveFields<uint16_t, 0xFF1C, 0x00E3>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_A8:
        case D3DFMT_L8:
            HalveOneByte(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_A8L8:
            HalveFields<uint16_t, 0x00FF, 0xFF00>(d, s, sw, sh, sp, dp);
            return true;
        case D3DFMT_A4L4:
            HalveFields<uint8_t, 0x0F, 0xF0>(d, s, sw, sh, sp, dp);
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------
// The conversion paths
// ---------------------------------------------------------------------------

namespace {

template <class T>
class HeapArray {
public:
    explicit HeapArray(size_t count) : p_(static_cast<T*>(AllocateArray(count, sizeof(T)))) {}
    ~HeapArray() { Free(p_); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_;
};

inline ColorF Sum4(const ColorF& a, const ColorF& b, const ColorF& c, const ColorF& d) {
    return ColorF{a.r + b.r + c.r + d.r, a.g + b.g + c.g + d.g, a.b + b.b + c.b + d.b,
                  a.a + b.a + c.a + d.a};
}

// Drops an odd last column of a source wider than 1.
void TrimWidth(PixelCodec& source) {
    if (source.width > 1 && (source.width & 1)) {
        source.width -= 1;
        source.rowBytes -= source.bytesPerPixel;
    }
}

}  // namespace

HRESULT HalveBox2D(ConversionJob& job) {
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;
    if (FilterKind(job.filter) != FilterBox || !Halves(src.width, dst.width) ||
        !Halves(src.height, dst.height) || src.depth != 1 || dst.depth != 1)
        return E_FAIL;

    TrimWidth(src);
    if (src.height > 1) src.height &= ~1u;

    // A source colour key turns key pixels into transparent black when they
    // are read; the packed pixels know nothing of it, so keyed sources take
    // the ColorF path.
    if (!(job.filter & FilterDither) && dst.format == src.format && src.width >= 2 &&
        src.height >= 2 && !dst.srgb && !src.srgb && src.colorKey == 0 && HalvePacked(dst, src))
        return S_OK;

    const uint32_t sw = src.width;
    const bool twoRows = src.height > 1;
    HeapArray<ColorF> out(dst.width);
    HeapArray<ColorF> rows(static_cast<size_t>(sw) * (twoRows ? 2 : 1));
    if (!out || !rows) return E_OUTOFMEMORY;
    ColorF* r0 = rows.get();
    ColorF* r1 = twoRows ? r0 + sw : r0;
    const uint32_t odd = sw > 1 ? 1 : 0;

    for (uint32_t i = 0; i < dst.height; ++i) {
        HRESULT hr = src.ReadRow(2 * i, 0, r0);
        if (SUCCEEDED(hr) && twoRows) hr = src.ReadRow(2 * i + 1, 0, r1);
        if (FAILED(hr)) return hr;
        ColorF* o = out.get();
        for (uint32_t j = 0; j < dst.width; ++j) {
            const uint32_t c0 = 2 * j;
            const uint32_t c1 = c0 + odd;
            const ColorF s = Sum4(r0[c0], r0[c1], r1[c0], r1[c1]);
            o[j] = ColorF{0.25f * s.r, 0.25f * s.g, 0.25f * s.b, 0.25f * s.a};
        }
        hr = dst.WriteRow(i, 0, o);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT HalveBox3D(ConversionJob& job) {
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;
    if (FilterKind(job.filter) != FilterBox || !Halves(src.width, dst.width) ||
        !Halves(src.height, dst.height) || dst.depth != src.depth / 2)
        return E_FAIL;

    TrimWidth(src);
    if (src.height > 1) src.height &= ~1u;
    if (src.depth > 1) src.depth &= ~1u;

    const uint32_t sw = src.width;
    const bool twoRows = src.height > 1;
    HeapArray<ColorF> out(dst.width);
    HeapArray<ColorF> rows(static_cast<size_t>(sw) * (twoRows ? 4 : 2));
    if (!out || !rows) return E_OUTOFMEMORY;
    // a: (2i, 2k), b: (2i, 2k + 1), c: (2i + 1, 2k), d: (2i + 1, 2k + 1).
    ColorF* a = rows.get();
    ColorF* b = a + sw;
    ColorF* c = twoRows ? b + sw : a;
    ColorF* d = twoRows ? c + sw : b;
    const uint32_t odd = sw > 1 ? 1 : 0;

    for (uint32_t k = 0; k < dst.depth; ++k) {
        for (uint32_t i = 0; i < dst.height; ++i) {
            HRESULT hr = src.ReadRow(2 * i, 2 * k, a);
            if (SUCCEEDED(hr)) hr = src.ReadRow(2 * i, 2 * k + 1, b);
            if (SUCCEEDED(hr) && twoRows) hr = src.ReadRow(2 * i + 1, 2 * k, c);
            if (SUCCEEDED(hr) && twoRows) hr = src.ReadRow(2 * i + 1, 2 * k + 1, d);
            if (FAILED(hr)) return hr;
            ColorF* o = out.get();
            for (uint32_t j = 0; j < dst.width; ++j) {
                const uint32_t c0 = 2 * j;
                const uint32_t c1 = c0 + odd;
                // The eight samples added one after the other, row by row.
                const ColorF s = Sum4(Sum4(a[c0], a[c1], b[c0], b[c1]), c[c0], c[c1], d[c0]);
                o[j] = ColorF{0.125f * (s.r + d[c1].r), 0.125f * (s.g + d[c1].g),
                              0.125f * (s.b + d[c1].b), 0.125f * (s.a + d[c1].a)};
            }
            hr = dst.WriteRow(i, k, o);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

}  // namespace z3az
