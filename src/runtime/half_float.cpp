// Half-float conversions: one scalar rule per direction, and the vector
// forms, which give the scalar results exactly.
#include "runtime/half_float.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define Z3AZ_HALF_SSE2 1
#endif

namespace z3az {
namespace {

inline uint32_t LoadBits(const float* p) {
    uint32_t b;
    std::memcpy(&b, p, 4);
    return b;
}
inline uint16_t LoadHalf(const uint16_t* p) {
    uint16_t h;
    std::memcpy(&h, p, 2);
    return h;
}
inline void StoreHalf(uint16_t* p, uint16_t h) { std::memcpy(p, &h, 2); }
inline void StoreBits(float* p, uint32_t b) { std::memcpy(p, &b, 4); }

// The largest magnitude that rounds below the saturation point, and 2^-14.
constexpr uint32_t kHalfLimit = 0x47FFEFFFu;
constexpr uint32_t kHalfNormal = 0x38800000u;

inline uint32_t RoundHalfBits(uint32_t t) { return (t + 0xFFFu + ((t >> 13) & 1u)) >> 13; }

inline uint16_t HalfFromBits(uint32_t x) {
    const uint32_t a = x & 0x7FFFFFFFu;
    const uint32_t s = (x >> 16) & 0x8000u;
    if (a > kHalfLimit) return static_cast<uint16_t>(s | 0x7FFFu);
    if (a >= kHalfNormal) return static_cast<uint16_t>(s | RoundHalfBits(a - 0x38000000u));
    const uint32_t k = 113u - (a >> 23);
    const uint32_t t = k > 31 ? 0u : (((a & 0x7FFFFFu) | 0x800000u) >> k);
    return static_cast<uint16_t>(s | RoundHalfBits(t));
}

// The four-wide form of the AMD path: below 2^-14 the value is placed at
// the exponent of 2^-14 by a single-precision addition, which rounds (to
// nearest even) the bits below 2^-37 instead of dropping them.
inline uint16_t HalfFromBitsByAddition(uint32_t x) {
    const uint32_t a = x & 0x7FFFFFFFu;
    const uint32_t s = (x >> 16) & 0x8000u;
    if (a > kHalfLimit) return static_cast<uint16_t>(s | 0x7FFFu);
    if (a >= kHalfNormal) return static_cast<uint16_t>(s | RoundHalfBits(a - 0x38000000u));
    float magnitude;
    std::memcpy(&magnitude, &a, 4);
    volatile float sum = magnitude + 0x1p-14f;  // one single-precision rounding
    const float rounded = sum;
    uint32_t sumBits;
    std::memcpy(&sumBits, &rounded, 4);
    return static_cast<uint16_t>(s | RoundHalfBits(sumBits - kHalfNormal));
}

inline uint32_t FloatBitsFromHalf(uint32_t h) {
    const uint32_t sign = (h & 0x8000u) << 16;
    const uint32_t e = (h >> 10) & 0x1Fu;
    const uint32_t m = h & 0x3FFu;
    if (e != 0) return sign | ((e + 112u) << 23) | (m << 13);
    if (m != 0) {
        // m * 2^-24, normalised: exact in single precision.
        const float v = static_cast<float>(m) * 0x1p-24f;
        uint32_t b;
        std::memcpy(&b, &v, 4);
        return sign | b;
    }
    return sign;
}

void HalvesToFloatsScalar(float* d, const uint16_t* s, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) StoreBits(d + i, FloatBitsFromHalf(LoadHalf(s + i)));
}

#if Z3AZ_HALF_SSE2
// Four halves, zero-extended into 32-bit lanes, to four floats.
inline __m128 HalvesToFloats4(__m128i h) {
    const __m128i magnitude = _mm_and_si128(h, _mm_set1_epi32(0x7FFF));
    const __m128i sign = _mm_slli_epi32(_mm_and_si128(h, _mm_set1_epi32(0x8000)), 16);
    // Normal: re-bias the exponent, widen the mantissa.
    const __m128i normal =
        _mm_add_epi32(_mm_slli_epi32(magnitude, 13), _mm_set1_epi32(112 << 23));
    // Exponent 0: m * 2^-24, exact.
    const __m128 small = _mm_mul_ps(_mm_cvtepi32_ps(magnitude), _mm_set1_ps(0x1p-24f));
    const __m128i isSmall =
        _mm_cmpeq_epi32(_mm_and_si128(h, _mm_set1_epi32(0x7C00)), _mm_setzero_si128());
    const __m128i bits = _mm_or_si128(_mm_and_si128(isSmall, _mm_castps_si128(small)),
                                      _mm_andnot_si128(isSmall, normal));
    return _mm_castsi128_ps(_mm_or_si128(bits, sign));
}

// Four floats to four halves in the low 16 bits of 32-bit lanes.
inline __m128i FloatsToHalves4(__m128i x) {
    const __m128i a = _mm_and_si128(x, _mm_set1_epi32(0x7FFFFFFF));
    const __m128i s = _mm_and_si128(_mm_srli_epi32(x, 16), _mm_set1_epi32(0x8000));
    const __m128i one = _mm_set1_epi32(1);
    const __m128i round = _mm_set1_epi32(0xFFF);
    // Normal halves.
    __m128i n = _mm_sub_epi32(a, _mm_set1_epi32(0x38000000));
    n = _mm_add_epi32(_mm_add_epi32(n, round), _mm_and_si128(_mm_srli_epi32(a, 13), one));
    n = _mm_srli_epi32(n, 13);
    // Below 2^-14: t = the magnitude in units of 2^-37, truncated; the
    // scaling by 2^37 is exact, and the truncation drops the same bits the
    // shift of the scalar rule drops.
    const __m128 scaled = _mm_mul_ps(_mm_castsi128_ps(a), _mm_set1_ps(0x1p37f));
    __m128i t = _mm_cvttps_epi32(scaled);
    const __m128i isNormal = _mm_cmpgt_epi32(a, _mm_set1_epi32(kHalfNormal - 1));
    t = _mm_andnot_si128(isNormal, t);  // keep the conversion's lanes in range
    t = _mm_srli_epi32(
        _mm_add_epi32(_mm_add_epi32(t, round), _mm_and_si128(_mm_srli_epi32(t, 13), one)), 13);
    __m128i r = _mm_or_si128(_mm_and_si128(isNormal, n), _mm_andnot_si128(isNormal, t));
    const __m128i saturate = _mm_cmpgt_epi32(a, _mm_set1_epi32(static_cast<int>(kHalfLimit)));
    r = _mm_or_si128(_mm_andnot_si128(saturate, r), _mm_and_si128(saturate, _mm_set1_epi32(0x7FFF)));
    return _mm_or_si128(r, s);
}

// Packs the low 16 bits of two vectors of 32-bit lanes.
inline __m128i PackLow16(__m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(_mm_slli_epi32(lo, 16), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16);
    return _mm_packs_epi32(lo, hi);
}
#endif

}  // namespace

uint16_t* Float32ToFloat16Portable(uint16_t* destination, const float* source, uint32_t count) {
    uint32_t i = 0;
#if Z3AZ_HALF_SSE2
    // Every x86-64 processor has SSE2, so the portable routine uses it too.
    for (; i + 8 <= count; i += 8) {
        const __m128i lo = FloatsToHalves4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i)));
        const __m128i hi = FloatsToHalves4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), PackLow16(lo, hi));
    }
#endif
    for (; i < count; ++i) StoreHalf(destination + i, HalfFromBits(LoadBits(source + i)));
    return destination;
}

uint16_t* Float32ToFloat16ThreeDNow(uint16_t* destination, const float* source, uint32_t count) {
    const uint32_t groups = count & ~3u;
    for (uint32_t i = 0; i < groups; ++i)
        StoreHalf(destination + i, HalfFromBitsByAddition(LoadBits(source + i)));
    if (groups < count) Float32ToFloat16Portable(destination + groups, source + groups, count - groups);
    return destination;
}

float* Float16ToFloat32Portable(float* destination, const uint16_t* source, uint32_t count) {
    HalvesToFloatsScalar(destination, source, count);
    return destination;
}

float* Float16ToFloat32Sse(float* destination, const uint16_t* source, uint32_t count) {
    uint32_t i = 0;
#if Z3AZ_HALF_SSE2
    for (; i + 4 <= count; i += 4) {
        const __m128i h = _mm_unpacklo_epi16(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + i)), _mm_setzero_si128());
        _mm_storeu_ps(destination + i, HalvesToFloats4(h));
    }
#endif
    HalvesToFloatsScalar(destination + i, source + i, count - i);
    return destination;
}

float* Float16ToFloat32Sse2(float* destination, const uint16_t* source, uint32_t count) {
    uint32_t i = 0;
#if Z3AZ_HALF_SSE2
    for (; i + 8 <= count; i += 8) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_ps(destination + i, HalvesToFloats4(_mm_unpacklo_epi16(h, zero)));
        _mm_storeu_ps(destination + i + 4, HalvesToFloats4(_mm_unpackhi_epi16(h, zero)));
    }
#endif
    HalvesToFloatsScalar(destination + i, source + i, count - i);
    return destination;
}

float* Float16ToFloat32ThreeDNow(float* destination, const uint16_t* source, uint32_t count) {
    // Two at a time, as the 3DNow! registers hold two floats.
    uint32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const uint32_t a = FloatBitsFromHalf(LoadHalf(source + i));
        const uint32_t b = FloatBitsFromHalf(LoadHalf(source + i + 1));
        StoreBits(destination + i, a);
        StoreBits(destination + i + 1, b);
    }
    HalvesToFloatsScalar(destination + i, source + i, count - i);
    return destination;
}

}  // namespace z3az
