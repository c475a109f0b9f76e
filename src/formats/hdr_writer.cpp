// Radiance RGBE pictures: a text header with a local-time stamp, then every
// scanline run-length encoded as four separate planes (red, green, blue,
// exponent). The picture is reduced to RGBE in memory first.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define Z3AZ_RGBE_SSE2 1
#endif

#include "formats/hdr_rgbe.h"
#include "formats/writers.h"
#include "image/image_layer.h"
#include "image/output_stream.h"
#include "platform/heap.h"
#include "platform/win_time.h"

namespace z3az {
namespace {

constexpr char kHeaderText[] =
    "#?RADIANCE\n#File created by Ruzodivoz (R) Z3AZ library\nFORMAT=32-bit_rle_rgbe\n#Timestamp: ";
constexpr uint32_t kMaxExtent = 32767;
constexpr uint32_t kMaxRun = 127;
constexpr uint32_t kMinEncodedWidth = 8;
constexpr size_t kFloatPixelBytes = 16;

// The largest value an RGBE pixel holds: mantissa 255/256 with exponent 127.
// Larger values (and infinities) saturate there instead of overflowing the
// exponent byte.
constexpr float kLargestRgbe = 0x1.FEp126f;

// Pixels whose largest channel is not above 1e-32 are black. The float
// nearest to 1e-32 lies just above the number, so "above 1e-32" is, for
// floats, "at least 1e-32f".
constexpr float kSmallestKept = 1e-32f;
static_assert(double(kSmallestKept) > 1e-32, "1e-32f must be the first float above 1e-32");

float Positive(float c) {
    if (!(c > 0.0f)) return 0.0f;  // negative, zero and NaN
    return c > kLargestRgbe ? kLargestRgbe : c;
}

uint8_t Mantissa(float c, float f) {
    const float v = c * f;
    return v >= 255.0f ? 255 : static_cast<uint8_t>(v);
}

class Writer {
public:
    Writer(OutputStream& stream) : stream_(stream) {}

    bool Put(const void* data, uint32_t length) {
        uint32_t written = 0;
        return SUCCEEDED(stream_.Write(data, length, &written));
    }
    bool PutText(const char* text) { return Put(text, static_cast<uint32_t>(std::strlen(text))); }

    // One plane of one scanline (byte x at plane[4 * x]): runs of 2 to 127
    // equal bytes become (128 + count, value); everything else goes in
    // literal groups of up to 127 bytes that stop before the first pair of
    // equal neighbours.
    bool PutPlane(const uint8_t* plane, uint32_t width, uint8_t* literal) {
        auto at = [plane](uint32_t x) { return plane[static_cast<size_t>(x) * 4]; };
        uint32_t x = 0;
        while (x < width) {
            uint32_t count = 1;
            while (count < kMaxRun && x + count < width && at(x + count) == at(x)) ++count;
            if (count >= 2) {
                const uint8_t run[2] = {static_cast<uint8_t>(128 + count), at(x)};
                if (!Put(run, 2)) return false;
                x += count;
                continue;
            }
            uint32_t length = 1;
            literal[0] = at(x);
            while (length < kMaxRun && x + length < width &&
                   at(x + length) != at(x + length - 1)) {
                literal[length] = at(x + length);
                ++length;
            }
            const uint8_t lengthByte = static_cast<uint8_t>(length);
            if (!Put(&lengthByte, 1) || !Put(literal, length)) return false;
            x += length;
        }
        return true;
    }

private:
    OutputStream& stream_;
};

// frexp for the positive normal floats the reduction meets (m above 1e-32
// and at most kLargestRgbe): the mantissa keeps the bits of m with the
// exponent of 0.5, and e is the exponent one above the unbiased one.
inline float SplitNormal(float m, int* e) {
    uint32_t bits;
    std::memcpy(&bits, &m, 4);
    *e = static_cast<int>(bits >> 23) - 126;
    bits = (bits & 0x007FFFFFu) | 0x3F000000u;
    float mantissa;
    std::memcpy(&mantissa, &bits, 4);
    return mantissa;
}

void FloatToRgbe(const float* rgb, uint8_t* rgbe) {
    const float r = Positive(rgb[0]);
    const float g = Positive(rgb[1]);
    const float b = Positive(rgb[2]);
    float m = r > g ? r : g;
    m = m > b ? m : b;
    if (!(m >= kSmallestKept)) {
        rgbe[0] = rgbe[1] = rgbe[2] = rgbe[3] = 0;
        return;
    }
    int e = 0;
    const float mantissa = SplitNormal(m, &e);
    const float f = mantissa / m * 256.0f;
    rgbe[0] = Mantissa(r, f);
    rgbe[1] = Mantissa(g, f);
    rgbe[2] = Mantissa(b, f);
    rgbe[3] = static_cast<uint8_t>(e + 128);
}

#if Z3AZ_RGBE_SSE2
// Four pixels at once, each with the scalar steps: the same comparisons,
// the same division and products, the same truncation.
void RgbeRowSse2(const uint8_t* floats, uint8_t* rgbe, uint32_t width) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 largest = _mm_set1_ps(kLargestRgbe);
    const __m128 smallest = _mm_set1_ps(kSmallestKept);
    const __m128 k256 = _mm_set1_ps(256.0f);
    const __m128i k255 = _mm_set1_epi32(255);
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const float* p = reinterpret_cast<const float*>(floats + static_cast<size_t>(x) * kFloatPixelBytes);
        __m128 p0 = _mm_loadu_ps(p), p1 = _mm_loadu_ps(p + 4), p2 = _mm_loadu_ps(p + 8),
               p3 = _mm_loadu_ps(p + 12);
        _MM_TRANSPOSE4_PS(p0, p1, p2, p3);  // p0 = reds, p1 = greens, p2 = blues
        // Positive: not above 0 (NaN too) gives 0, above the largest gives it.
        auto positive = [&](__m128 c) {
            const __m128 kept = _mm_and_ps(_mm_cmpgt_ps(c, zero), c);
            const __m128 over = _mm_cmpgt_ps(kept, largest);
            return _mm_or_ps(_mm_and_ps(over, largest), _mm_andnot_ps(over, kept));
        };
        const __m128 r = positive(p0), g = positive(p1), b = positive(p2);
        // No NaN is left, so the larger-of comparisons are plain maxima.
        const __m128 m = _mm_max_ps(_mm_max_ps(r, g), b);
        const __m128 live = _mm_cmpge_ps(m, smallest);
        const __m128i bits = _mm_castps_si128(m);
        const __m128i exponent = _mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(126 - 128));
        const __m128 mantissa = _mm_castsi128_ps(
            _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007FFFFF)), _mm_set1_epi32(0x3F000000)));
        // Dead lanes divide by 1 instead of by a tiny m; they are zeroed below.
        const __m128 divisor = _mm_or_ps(_mm_and_ps(live, m), _mm_andnot_ps(live, _mm_set1_ps(1.0f)));
        const __m128 f = _mm_mul_ps(_mm_div_ps(mantissa, divisor), k256);
        // v >= 255 gives 255; below, the truncation (v is not negative).
        auto code = [&](__m128 c) {
            const __m128 v = _mm_mul_ps(c, f);
            const __m128 big = _mm_cmpge_ps(v, _mm_set1_ps(255.0f));
            const __m128i t = _mm_cvttps_epi32(_mm_andnot_ps(big, v));
            return _mm_or_si128(_mm_and_si128(_mm_castps_si128(big), k255), t);
        };
        __m128i out = _mm_or_si128(
            _mm_or_si128(code(r), _mm_slli_epi32(code(g), 8)),
            _mm_or_si128(_mm_slli_epi32(code(b), 16),
                         _mm_slli_epi32(_mm_and_si128(exponent, k255), 24)));
        out = _mm_and_si128(out, _mm_castps_si128(live));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rgbe + static_cast<size_t>(x) * 4), out);
    }
    RgbeRowPortable(floats + static_cast<size_t>(x) * kFloatPixelBytes, rgbe + static_cast<size_t>(x) * 4,
                    width - x);
}
#endif

}  // namespace

void RgbeRowPortable(const uint8_t* floats, uint8_t* rgbe, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        float rgb[3];
        std::memcpy(rgb, floats + static_cast<size_t>(x) * kFloatPixelBytes, sizeof(rgb));
        FloatToRgbe(rgb, rgbe + static_cast<size_t>(x) * 4);
    }
}

RgbeRowRoutine SimdRgbeRow() {
#if Z3AZ_RGBE_SSE2
    return RgbeRowSse2;
#else
    return nullptr;
#endif
}

HRESULT WriteHdr(const ImageLayer& layer, OutputStream& stream) {
    const uint32_t width = layer.width;
    const uint32_t height = layer.height;
    if (width > kMaxExtent || height > kMaxExtent) return E_FAIL;

    // 32767 x 32767 x 4 still fits 32 bits; the product is formed in size_t.
    const size_t pictureBytes = static_cast<size_t>(width) * height * 4;
    uint8_t* picture = static_cast<uint8_t*>(Allocate(pictureBytes));
    uint8_t* literal = static_cast<uint8_t*>(Allocate(kMaxRun + 1));
    if (!picture || !literal) {
        Free(picture);
        Free(literal);
        return E_OUTOFMEMORY;
    }

    Writer out(stream);
    bool ok = out.PutText(kHeaderText);
    if (ok) {
        SYSTEMTIME now = {};
        GetLocalTime(&now);
        char text[32];
        std::snprintf(text, sizeof(text), "%02u:%02u:%02u", unsigned{now.wHour},
                      unsigned{now.wMinute}, unsigned{now.wSecond});
        ok = out.PutText(text) && out.PutText(" ");
        if (ok) {
            std::snprintf(text, sizeof(text), "%02u/%02u/%02u", unsigned{now.wMonth},
                          unsigned{now.wDay}, unsigned{now.wYear % 100u});
            ok = out.PutText(text) && out.PutText("\n\n");
        }
    }
    if (ok) {
        char resolution[256];
        std::snprintf(resolution, sizeof(resolution), "-Y %u +X %u\n", height, width);
        ok = out.PutText(resolution);
    }

    if (ok) {
        const uint8_t* origin = static_cast<const uint8_t*>(layer.bits) +
                                static_cast<size_t>(layer.box.front) * layer.slicePitch +
                                static_cast<size_t>(layer.box.top) * layer.rowPitch +
                                static_cast<size_t>(layer.box.left) * kFloatPixelBytes;
        const RgbeRowRoutine simd = SimdRgbeRow();
        const RgbeRowRoutine reduce = simd ? simd : RgbeRowPortable;
        for (uint32_t y = 0; y < height; ++y)
            reduce(origin + static_cast<size_t>(y) * layer.rowPitch, picture + static_cast<size_t>(y) * width * 4,
                   width);
    }

    // Each scanline: its start marker, then the four planes read with a
    // stride of 4 straight from the RGBE picture. Radiance readers take a
    // scanline narrower than 8 pixels as flat RGBE pixels (the run-length
    // form is defined from 8 to 32767 only), so such scanlines are written
    // flat; encoding them would make every reader see different pixels.
    const bool flat = width > 0 && width < kMinEncodedWidth;
    for (uint32_t y = 0; ok && y < height; ++y) {
        const uint8_t* pixels = picture + static_cast<size_t>(y) * width * 4;
        if (flat) {
            ok = out.Put(pixels, width * 4);
            continue;
        }
        const uint8_t start[4] = {2, 2, static_cast<uint8_t>(width >> 8),
                                  static_cast<uint8_t>(width & 0xFF)};
        ok = out.Put(start, 4);
        for (uint32_t c = 0; ok && c < 4; ++c) ok = out.PutPlane(pixels + c, width, literal);
    }

    Free(picture);
    Free(literal);
    return ok ? S_OK : E_FAIL;
}

}  // namespace z3az
