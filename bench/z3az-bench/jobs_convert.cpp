// Pixel conversions through the public entry, half floats, box halving and
// the resampling filters, beside their floors and stb_image_resize.
#include <immintrin.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <stb_image_resize.h>

#include <benchmark/benchmark.h>

#include "inputs.h"
#include "jobs.h"
#include "runtime/half_float.h"
#include "z3az/convert.h"
#include "z3az/d3dformat.h"

namespace bench {
namespace {

using benchmark::State;

void CopyFloor(State& state, size_t bytes) {
    const Inputs& in = TheInputs();
    std::vector<uint8_t> source(bytes, 3), target(bytes, 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        Consume(target.data());
    }
    state.counters["px"] = double(in.frameWidth) * in.frameHeight;
}
void CopyFloor4(State& state) { CopyFloor(state, size_t(TheInputs().frameWidth) * TheInputs().frameHeight * 4); }
void CopyFloor16(State& state) { CopyFloor(state, size_t(TheInputs().frameWidth) * TheInputs().frameHeight * 16); }

// One conversion of the frame: source pixels in `format` at `bits`, into a
// destination of `dstFormat`, `dstBytes` per pixel, sized dstWidth x dstHeight.
void Convert(State& state, const void* bits, uint32_t format, uint32_t bytesPerPixel, uint32_t dstFormat,
             uint32_t dstBytes, uint32_t dstWidth, uint32_t dstHeight, uint32_t filter) {
    const Inputs& in = TheInputs();
    std::vector<uint8_t> target(size_t(dstWidth) * dstHeight * dstBytes, 0);
    for (auto _ : state) {
        z3az::BlitRegion src = Region(const_cast<void*>(bits), format, in.frameWidth * bytesPerPixel,
                                      in.frameWidth, in.frameHeight);
        z3az::BlitRegion dst = Region(target.data(), dstFormat, dstWidth * dstBytes, dstWidth, dstHeight);
        if (FAILED(z3az::ConvertPixels(dst, src, filter))) {
            state.SkipWithError("conversion failed");
            return;
        }
        Consume(target.data());
    }
    state.counters["px"] = double(in.frameWidth) * in.frameHeight;
}

void ArgbToR5G6B5(State& state) {
    const Inputs& in = TheInputs();
    Convert(state, in.frameXrgb.data(), D3DFMT_A8R8G8B8, 4, D3DFMT_R5G6B5, 2, in.frameWidth, in.frameHeight,
            z3az::FilterNone | z3az::FilterDither);
}
void XrgbToFloat4(State& state) {
    const Inputs& in = TheInputs();
    Convert(state, in.frameXrgb.data(), D3DFMT_X8R8G8B8, 4, D3DFMT_A32B32G32R32F, 16, in.frameWidth,
            in.frameHeight, z3az::FilterNone);
}
void Float4ToRgb(State& state) {
    const Inputs& in = TheInputs();
    Convert(state, in.frameFloat.data(), D3DFMT_A32B32G32R32F, 16, D3DFMT_R8G8B8, 3, in.frameWidth,
            in.frameHeight, z3az::FilterNone);
}
void BoxOurs(State& state) {
    const Inputs& in = TheInputs();
    Convert(state, in.frameXrgb.data(), D3DFMT_A8R8G8B8, 4, D3DFMT_A8R8G8B8, 4, in.frameWidth / 2,
            in.frameHeight / 2, z3az::FilterBox);
}
void TriangleOurs(State& state) {
    const Inputs& in = TheInputs();
    Convert(state, in.frameXrgb.data(), D3DFMT_A8R8G8B8, 4, D3DFMT_A8R8G8B8, 4, in.frameWidth / 2,
            in.frameHeight / 2, z3az::FilterTriangle | z3az::FilterClampU | z3az::FilterClampV);
}
void LinearOurs(State& state) {
    const Inputs& in = TheInputs();
    Convert(state, in.frameXrgb.data(), D3DFMT_A8R8G8B8, 4, D3DFMT_A8R8G8B8, 4, in.frameWidth / 2,
            in.frameHeight / 2, z3az::FilterLinear | z3az::FilterClampU | z3az::FilterClampV);
}

void TriangleStb(State& state) {
    const Inputs& in = TheInputs();
    const int w = int(in.frameWidth), h = int(in.frameHeight);
    std::vector<uint8_t> target(size_t(w / 2) * (h / 2) * 4);
    for (auto _ : state) {
        stbir_resize_uint8_generic(in.frameRgba.data(), w, h, w * 4, target.data(), w / 2, h / 2, w / 2 * 4, 4,
                                   STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_TRIANGLE,
                                   STBIR_COLORSPACE_LINEAR, nullptr);
        Consume(target.data());
    }
    state.counters["px"] = double(w) * h;
}

// Half floats: 16M values of every magnitude the format covers (and some
// beyond, on both sides), and every half pattern 256 times.
constexpr uint32_t kHalfCount = 16u << 20;

const std::vector<float>& HalfSources() {
    static std::vector<float> values = [] {
        std::vector<float> v(kHalfCount);
        std::mt19937 rng(12345);
        std::uniform_real_distribution<float> exponent(-30.0f, 18.0f);
        std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
        for (float& x : v) x = std::ldexp(mantissa(rng), int(exponent(rng))) * ((rng() & 1) ? -1.0f : 1.0f);
        return v;
    }();
    return values;
}
const std::vector<uint16_t>& HalfPatterns() {
    static std::vector<uint16_t> values = [] {
        std::vector<uint16_t> v(kHalfCount);
        for (uint32_t i = 0; i < kHalfCount; ++i) v[i] = uint16_t(i * 40503u);  // odd: every pattern
        return v;
    }();
    return values;
}

// The rules written out plainly, one value at a time.
uint16_t PlainHalf(float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    const uint32_t a = x & 0x7FFFFFFFu, s = (x >> 16) & 0x8000u;
    if (a > 0x47FFEFFFu) return uint16_t(s | 0x7FFFu);
    if (a >= 0x38800000u) return uint16_t(s | ((a - 0x38000000u + 0xFFFu + ((a >> 13) & 1u)) >> 13));
    const uint32_t k = 113u - (a >> 23);
    const uint32_t t = k > 31 ? 0 : (((a & 0x7FFFFFu) | 0x800000u) >> k);
    return uint16_t(s | ((t + 0xFFFu + ((t >> 13) & 1u)) >> 13));
}
float PlainFloat(uint16_t h) {
    const uint32_t e = (h >> 10) & 0x1F, m = h & 0x3FF, sign = uint32_t(h & 0x8000) << 16;
    uint32_t bits;
    if (e != 0) {
        bits = sign | ((e + 112) << 23) | (m << 13);
    } else if (m != 0) {
        const float v = float(m) * 0x1p-24f;
        std::memcpy(&bits, &v, 4);
        bits |= sign;
    } else {
        bits = sign;
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

__attribute__((noinline)) void PlainToHalf(uint16_t* d, const float* s, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) d[i] = PlainHalf(s[i]);
}
__attribute__((noinline)) void PlainToFloat(float* d, const uint16_t* s, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) d[i] = PlainFloat(s[i]);
}

__attribute__((target("avx2,f16c"), noinline)) void F16cToHalf(uint16_t* d, const float* s, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                         _mm256_cvtps_ph(_mm256_loadu_ps(s + i), _MM_FROUND_TO_NEAREST_INT));
    for (; i < n; ++i) d[i] = PlainHalf(s[i]);
}
__attribute__((target("avx2,f16c"), noinline)) void F16cToFloat(float* d, const uint16_t* s, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(d + i, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))));
    for (; i < n; ++i) d[i] = PlainFloat(s[i]);
}

enum class Half { Ours, Plain, F16c };

template <Half kind>
void ToHalf(State& state) {
    if (kind == Half::F16c && !__builtin_cpu_supports("f16c")) {
        state.SkipWithError("no F16C");
        return;
    }
    const std::vector<float>& s = HalfSources();
    std::vector<uint16_t> d(kHalfCount, 1);
    for (auto _ : state) {
        if (kind == Half::Ours) z3az::Float32ToFloat16Array(d.data(), s.data(), kHalfCount);
        if (kind == Half::Plain) PlainToHalf(d.data(), s.data(), kHalfCount);
        if (kind == Half::F16c) F16cToHalf(d.data(), s.data(), kHalfCount);
        Consume(d.data());
    }
    uint32_t differ = 0;
    for (uint32_t i = 0; i < kHalfCount; ++i) differ += d[i] != PlainHalf(s[i]);
    state.counters["px"] = kHalfCount;
    state.counters["mismatches"] = differ;
}

template <Half kind>
void ToFloat(State& state) {
    if (kind == Half::F16c && !__builtin_cpu_supports("f16c")) {
        state.SkipWithError("no F16C");
        return;
    }
    const std::vector<uint16_t>& s = HalfPatterns();
    std::vector<float> d(kHalfCount, 1);
    for (auto _ : state) {
        if (kind == Half::Ours) z3az::Float16ToFloat32Array(d.data(), s.data(), kHalfCount);
        if (kind == Half::Plain) PlainToFloat(d.data(), s.data(), kHalfCount);
        if (kind == Half::F16c) F16cToFloat(d.data(), s.data(), kHalfCount);
        Consume(d.data());
    }
    uint32_t differ = 0;
    for (uint32_t i = 0; i < kHalfCount; ++i) {
        const float p = PlainFloat(s[i]);
        differ += std::memcmp(&d[i], &p, 4) != 0;
    }
    state.counters["px"] = kHalfCount;
    state.counters["mismatches"] = differ;
}

}  // namespace

void RegisterConvertJobs() {
    benchmark::RegisterBenchmark("convert/memcpy", CopyFloor4);
    benchmark::RegisterBenchmark("convert/memcpy-float", CopyFloor16);
    benchmark::RegisterBenchmark("convert/argb-r5g6b5-dither", ArgbToR5G6B5);
    benchmark::RegisterBenchmark("convert/xrgb-float4", XrgbToFloat4);
    benchmark::RegisterBenchmark("convert/float4-rgb", Float4ToRgb);
    benchmark::RegisterBenchmark("half/to16/z3az", ToHalf<Half::Ours>);
    benchmark::RegisterBenchmark("half/to16/scalar", ToHalf<Half::Plain>);
    benchmark::RegisterBenchmark("half/to16/f16c", ToHalf<Half::F16c>);
    benchmark::RegisterBenchmark("half/to32/z3az", ToFloat<Half::Ours>);
    benchmark::RegisterBenchmark("half/to32/scalar", ToFloat<Half::Plain>);
    benchmark::RegisterBenchmark("half/to32/f16c", ToFloat<Half::F16c>);
    benchmark::RegisterBenchmark("box/memcpy", CopyFloor4);
    benchmark::RegisterBenchmark("box/z3az", BoxOurs);
    benchmark::RegisterBenchmark("triangle/z3az", TriangleOurs);
    benchmark::RegisterBenchmark("linear/z3az", LinearOurs);
    benchmark::RegisterBenchmark("triangle/stb", TriangleStb);
}

}  // namespace bench
