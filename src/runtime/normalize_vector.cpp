#include "runtime/normalize_vector.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "runtime/inv_sqrt.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define Z3AZ_HAVE_RSQRT 1
#endif

namespace z3az {
namespace {

// The processor's reciprocal square root estimate (about 12 bits).
inline float RsqrtEstimate(float d) {
#if Z3AZ_HAVE_RSQRT
    return _mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(d)));
#else
    // Without the instruction: the exact value cut to a 12-bit mantissa.
    const float exact = 1.0f / std::sqrt(d);
    uint32_t b;
    std::memcpy(&b, &exact, 4);
    b &= 0xFFFFF800u;
    float e;
    std::memcpy(&e, &b, 4);
    return e;
#endif
}

inline float* NormalizeByEstimate(float* destination, const float* source) {
    const float x = source[0], y = source[1], z = source[2];
    const float d = x * x + y * y + z * z;
    if (d >= 0x1p-46f) {
        float e = RsqrtEstimate(d);
        e = (3.0f - e * d * e) * (e * 0.5f);
        destination[0] = x * e;
        destination[1] = y * e;
        destination[2] = z * e;
    } else {
        destination[0] = destination[1] = destination[2] = 0.0f;
    }
    return destination;
}

}  // namespace

float* NormalizeVector3Generic(float* destination, const float* source) {
    const float x = source[0], y = source[1], z = source[2];
    const long double q = static_cast<long double>(x) * x + static_cast<long double>(y) * y +
                          static_cast<long double>(z) * z;
    const float length2 = static_cast<float>(q);
    if (length2 == 0.0f) {
        destination[0] = destination[1] = destination[2] = 0.0f;
        return destination;
    }
    // Already unit length to within 1e-5: keep the vector as it is.
    if (std::fabs(static_cast<float>(q - 1.0L)) <= 1.0e-5f) {
        if (destination != source) std::memmove(destination, source, 3 * sizeof(float));
        return destination;
    }
    const float f = ApproxInvSqrt(length2);
    destination[0] = f * x;
    destination[1] = f * y;
    destination[2] = f * z;
    return destination;
}

float* NormalizeVector3Sse(float* destination, const float* source) {
    return NormalizeByEstimate(destination, source);
}

float* NormalizeVector3Sse2(float* destination, const float* source) {
    return NormalizeByEstimate(destination, source);
}

float* NormalizeVector3ThreeDNow(float* destination, const float* source) {
    const float x = source[0], y = source[1], z = source[2];
    const float d = x * x + y * y + z * z;
    if (d > 0x1p-126f) {
        // The estimate and its iteration steps reach full single precision.
        const float r = static_cast<float>(1.0 / std::sqrt(static_cast<double>(d)));
        destination[0] = x * r;
        destination[1] = y * r;
        destination[2] = z * r;
    } else {
        destination[0] = destination[1] = destination[2] = 0.0f;
    }
    return destination;
}

}  // namespace z3az
