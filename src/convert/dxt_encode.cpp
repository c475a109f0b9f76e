#include "convert/dxt_encode.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace z3az {
namespace {

// Truncation toward zero that stays in float: exact for every value (floats
// of magnitude 2^23 and above are whole already) and free of the undefined
// behaviour of converting an out-of-range float to an integer.
inline float Trunc(float x) {
    return std::fabs(x) < 8388608.0f ? static_cast<float>(static_cast<int32_t>(x)) : x;
}

// A whole float code clamped to 0..maxCode as an integer; NaN gives 0.
inline int ClampCode(float code, int maxCode) {
    if (!(code > 0.0f)) return 0;
    if (code >= static_cast<float>(maxCode)) return maxCode;
    return static_cast<int>(code);
}

// Floyd-Steinberg weights inside one 4x4 block, pixel order 0..15. Nothing
// leaves the block.
constexpr float kRight = 7.0f / 16.0f;
constexpr float kBelowLeft = 3.0f / 16.0f;
constexpr float kBelow = 5.0f / 16.0f;
constexpr float kBelowRight = 1.0f / 16.0f;

inline void DiffuseScalar(float* slot, int i, float e) {
    const int column = i & 3;
    if (column != 3) slot[i + 1] += e * kRight;
    if (i < 12) {
        if (column != 0) slot[i + 3] += e * kBelowLeft;
        slot[i + 4] += e * kBelow;
        if (column != 3) slot[i + 5] += e * kBelowRight;
    }
}

inline void AddScaled(WeightedRgb& slot, float er, float eg, float eb, float w) {
    slot.r += er * w;
    slot.g += eg * w;
    slot.b += eb * w;
}

inline void DiffuseRgb(WeightedRgb* slot, int i, float er, float eg, float eb) {
    const int column = i & 3;
    if (column != 3) AddScaled(slot[i + 1], er, eg, eb, kRight);
    if (i < 12) {
        if (column != 0) AddScaled(slot[i + 3], er, eg, eb, kBelowLeft);
        AddScaled(slot[i + 4], er, eg, eb, kBelow);
        if (column != 3) AddScaled(slot[i + 5], er, eg, eb, kBelowRight);
    }
}

inline void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void WriteColorHalf(uint8_t* out, uint32_t c0, uint32_t c1, uint32_t indices) {
    PutU16(out, c0);
    PutU16(out + 2, c1);
    PutU32(out + 4, indices);
}

inline float Dot(float ar, float ag, float ab, float br, float bg, float bb) {
    return ar * br + ag * bg + ab * bb;
}

// Interpolation weights of the colour palettes, by position along A..B.
constexpr float kColorW0[2][4] = {{1.0f, 0.5f, 0.0f, 0.0f},
                                  {1.0f, 2.0f / 3.0f, 1.0f / 3.0f, 0.0f}};
constexpr float kColorW1[2][4] = {{0.0f, 0.5f, 1.0f, 0.0f},
                                  {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 1.0f}};

// Interpolation weights of the alpha palettes, by position along lo..hi.
constexpr float kAlphaWLo6[6] = {1.0f, 0.8f, 0.6f, 0.4f, 0.2f, 0.0f};
constexpr float kAlphaWHi6[6] = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
constexpr float kAlphaWLo8[8] = {1.0f,        6.0f / 7.0f, 5.0f / 7.0f, 4.0f / 7.0f,
                                 3.0f / 7.0f, 2.0f / 7.0f, 1.0f / 7.0f, 0.0f};
constexpr float kAlphaWHi8[8] = {0.0f,        1.0f / 7.0f, 2.0f / 7.0f, 3.0f / 7.0f,
                                 4.0f / 7.0f, 5.0f / 7.0f, 6.0f / 7.0f, 1.0f};

// Palette position -> block index.
constexpr uint32_t kColorIndex3[3] = {0, 2, 1};
constexpr uint32_t kColorIndex4[4] = {0, 2, 3, 1};
constexpr uint32_t kAlphaIndex6[6] = {0, 2, 3, 4, 5, 1};
constexpr uint32_t kAlphaIndex8[8] = {0, 2, 3, 4, 5, 6, 7, 1};

// The undithered endpoint input: each colour on the R5G6B5 grid (its error
// slot, 0, added first as the dithered form does), in the weighted space.
// With SSE2 the three channels of a pixel go through the same steps side by
// side in one register.
inline void QuantizePoints(const ColorF* pixels, WeightedRgb* points) {
#if defined(__SSE2__)
    const __m128 scale = _mm_setr_ps(31.0f, 63.0f, 31.0f, 0.0f);
    const __m128 unscale = _mm_setr_ps(1.0f / 31.0f, 1.0f / 63.0f, 1.0f / 31.0f, 0.0f);
    const __m128 weight = _mm_setr_ps(DxtWeightR, DxtWeightG, DxtWeightB, 0.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 whole = _mm_set1_ps(8388608.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    alignas(16) float lanes[4];
    for (int i = 0; i < 16; ++i) {
        const __m128 v = _mm_add_ps(_mm_loadu_ps(&pixels[i].r), _mm_setzero_ps());
        const __m128 x = _mm_add_ps(_mm_mul_ps(v, scale), half);
        // Trunc: below 2^23 in magnitude through the integers, else as is.
        const __m128 small = _mm_cmplt_ps(_mm_and_ps(x, magnitude), whole);
        const __m128 t = _mm_cvtepi32_ps(_mm_cvttps_epi32(x));
        const __m128 q = _mm_or_ps(_mm_and_ps(small, t), _mm_andnot_ps(small, x));
        _mm_store_ps(lanes, _mm_mul_ps(_mm_mul_ps(q, unscale), weight));
        points[i] = WeightedRgb{lanes[0], lanes[1], lanes[2]};
    }
#else
    for (int i = 0; i < 16; ++i) {
        const float qr = Trunc((pixels[i].r + 0.0f) * 31.0f + 0.5f) * (1.0f / 31.0f);
        const float qg = Trunc((pixels[i].g + 0.0f) * 63.0f + 0.5f) * (1.0f / 63.0f);
        const float qb = Trunc((pixels[i].b + 0.0f) * 31.0f + 0.5f) * (1.0f / 31.0f);
        points[i] = WeightedRgb{qr * DxtWeightR, qg * DxtWeightG, qb * DxtWeightB};
    }
#endif
}

constexpr float kSmallSpan = 0.000244140625f;        // 2^-12
constexpr float kConverged = 1.52587890625e-05f;     // 2^-16

}  // namespace

uint16_t R5G6B5FromRgb(float r, float g, float b) {
    auto code = [](float v, float scale) -> uint32_t {
        if (!(v > 0.0f)) v = 0.0f;
        else if (v > 1.0f) v = 1.0f;
        return static_cast<uint32_t>(v * scale + 0.5f);
    };
    return static_cast<uint16_t>((code(r, 31.0f) << 11) | (code(g, 63.0f) << 5) | code(b, 31.0f));
}

// The per-point loops work on separate red, green and blue arrays so that the
// compiler can run them four points at a time; the sums are then formed one
// point after the other, in the same order as a plain loop would.
void FindColorEndpoints(const WeightedRgb* points, int paletteSize, WeightedRgb* outA,
                        WeightedRgb* outB) {
    const float* w0 = kColorW0[paletteSize == 4 ? 1 : 0];
    const float* w1 = kColorW1[paletteSize == 4 ? 1 : 0];

    alignas(16) float pr[16], pg[16], pb[16];
    for (int i = 0; i < 16; ++i) {
        pr[i] = points[i].r;
        pg[i] = points[i].g;
        pb[i] = points[i].b;
    }
    WeightedRgb mn{DxtWeightR, DxtWeightG, DxtWeightB};
    WeightedRgb mx{0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 16; ++i) {
        if (pr[i] < mn.r) mn.r = pr[i];
        if (pg[i] < mn.g) mn.g = pg[i];
        if (pb[i] < mn.b) mn.b = pb[i];
        if (pr[i] > mx.r) mx.r = pr[i];
        if (pg[i] > mx.g) mx.g = pg[i];
        if (pb[i] > mx.b) mx.b = pb[i];
    }
    const float dr = mx.r - mn.r, dg = mx.g - mn.g, db = mx.b - mn.b;
    const float span = Dot(dr, dg, db, dr, dg, db);
    if (span < FLT_MIN) {
        *outA = mn;
        *outB = mx;
        return;
    }

    // Pick the diagonal of the bounding box along which the points spread.
    const float cr = (mx.r + mn.r) / 2.0f, cg = (mx.g + mn.g) / 2.0f, cb = (mx.b + mn.b) / 2.0f;
    alignas(16) float ur[16], ug[16], ub[16];
    for (int i = 0; i < 16; ++i) {
        ur[i] = (pr[i] - cr) * dr / span;
        ug[i] = (pg[i] - cg) * dg / span;
        ub[i] = (pb[i] - cb) * db / span;
    }
    float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 16; ++i) {
        const float s0 = ur[i] + ug[i] + ub[i], s1 = ur[i] + ug[i] - ub[i];
        const float s2 = ur[i] - ug[i] + ub[i], s3 = ur[i] - ug[i] - ub[i];
        sums[0] += s0 * s0;
        sums[1] += s1 * s1;
        sums[2] += s2 * s2;
        sums[3] += s3 * s3;
    }
    int diagonal = 0;
    for (int k = 1; k < 4; ++k)
        if (sums[k] > sums[diagonal]) diagonal = k;
    WeightedRgb a = mn, b = mx;
    if (diagonal & 1) std::swap(a.b, b.b);
    if (diagonal & 2) std::swap(a.g, b.g);
    if (span < kSmallSpan) {
        *outA = a;
        *outB = b;
        return;
    }

    // Refine the endpoints by least squares on the palette positions.
    const int last = paletteSize - 1;
    const float steps = static_cast<float>(last);
    alignas(16) int position[16];
    for (int pass = 0; pass < 8; ++pass) {
        const float er = b.r - a.r, eg = b.g - a.g, eb = b.b - a.b;
        const float length = Dot(er, eg, eb, er, eg, eb);
        if (length < kSmallSpan) break;
        for (int i = 0; i < 16; ++i) {
            const float t =
                ((pr[i] - a.r) * er + (pg[i] - a.g) * eg + (pb[i] - a.b) * eb) * steps / length;
            // Negative t gives 0 and t of steps or more gives the last
            // position: clamping t to 0..steps first and then rounding is the
            // same, without branches (NaN clamps to 0).
            float clamped = t > 0.0f ? t : 0.0f;
            clamped = clamped < steps ? clamped : steps;
            position[i] = static_cast<int>(clamped + 0.5f);
        }
        WeightedRgb gA{0.0f, 0.0f, 0.0f}, gB{0.0f, 0.0f, 0.0f};
        float sA = 0.0f, sB = 0.0f;
        for (int i = 0; i < 16; ++i) {
            const int k = position[i];
            const float wa = w0[k], wb = w1[k];
            const float rr = a.r * wa + b.r * wb - pr[i];
            const float rg = a.g * wa + b.g * wb - pg[i];
            const float rb = a.b * wa + b.b * wb - pb[i];
            // w x 0.125 x r: the factor 0.125 is exact, so the order of the
            // two products does not change the result.
            const float fa = wa * 0.125f, fb = wb * 0.125f;
            gA.r += fa * rr;
            gA.g += fa * rg;
            gA.b += fa * rb;
            sA += fa * wa;
            gB.r += fb * rr;
            gB.g += fb * rg;
            gB.b += fb * rb;
            sB += fb * wb;
        }
        if (sA > 0.0f) {
            a.r = a.r - gA.r / sA;
            a.g = a.g - gA.g / sA;
            a.b = a.b - gA.b / sA;
        }
        if (sB > 0.0f) {
            b.r = b.r - gB.r / sB;
            b.g = b.g - gB.g / sB;
            b.b = b.b - gB.b / sB;
        }
        if (gA.r * gA.r < kConverged && gA.g * gA.g < kConverged && gA.b * gA.b < kConverged &&
            gB.r * gB.r < kConverged && gB.g * gB.g < kConverged && gB.b * gB.b < kConverged)
            break;
    }
    *outA = a;
    *outB = b;
}

void EncodeColorBlock(const ColorF* pixels, uint8_t* out, bool transparencyAllowed,
                      bool dither) {
    int paletteSize = 4;
    if (transparencyAllowed) {
        int transparent = 0;
        for (int i = 0; i < 16; ++i)
            if (pixels[i].a < 0.5f) ++transparent;
        if (transparent == 16) {
            WriteColorHalf(out, 0x0000, 0xFFFF, 0xFFFFFFFFu);
            return;
        }
        if (transparent) paletteSize = 3;
    }

    // Endpoint input: the colours on the R5G6B5 grid, in the weighted space.
    // Without dithering the error slots stay 0.
    WeightedRgb error[16];
    WeightedRgb points[16];
    if (dither) {
        for (int i = 0; i < 16; ++i) error[i] = WeightedRgb{0.0f, 0.0f, 0.0f};
        for (int i = 0; i < 16; ++i) {
            const float r = pixels[i].r + error[i].r;
            const float g = pixels[i].g + error[i].g;
            const float b = pixels[i].b + error[i].b;
            const float qr = Trunc(r * 31.0f + 0.5f) * (1.0f / 31.0f);
            const float qg = Trunc(g * 63.0f + 0.5f) * (1.0f / 63.0f);
            const float qb = Trunc(b * 31.0f + 0.5f) * (1.0f / 31.0f);
            DiffuseRgb(error, i, r - qr, g - qg, b - qb);
            points[i] = WeightedRgb{qr * DxtWeightR, qg * DxtWeightG, qb * DxtWeightB};
        }
    } else {
        QuantizePoints(pixels, points);
    }

    WeightedRgb a, b;
    FindColorEndpoints(points, paletteSize, &a, &b);
    const uint32_t c0 = R5G6B5FromRgb(a.r * DxtInverseWeightR, a.g * DxtInverseWeightG,
                                      a.b * DxtInverseWeightB);
    const uint32_t c1 = R5G6B5FromRgb(b.r * DxtInverseWeightR, b.g * DxtInverseWeightG,
                                      b.b * DxtInverseWeightB);
    if (paletteSize == 4 && c0 == c1) {
        WriteColorHalf(out, c0, c0, 0);
        return;
    }

    // Four colours need colour0 > colour1, three need colour0 <= colour1.
    uint32_t colour0 = c0, colour1 = c1;
    if (paletteSize == 3 ? colour0 > colour1 : colour0 <= colour1) std::swap(colour0, colour1);
    const ColorF f0 = ColorFromR5G6B5(colour0), f1 = ColorFromR5G6B5(colour1);
    WeightedRgb palette[4];
    palette[0] = WeightedRgb{f0.r * DxtWeightR, f0.g * DxtWeightG, f0.b * DxtWeightB};
    palette[1] = WeightedRgb{f1.r * DxtWeightR, f1.g * DxtWeightG, f1.b * DxtWeightB};
    const WeightedRgb& e0 = palette[0];
    const WeightedRgb& e1 = palette[1];
    const float dr = e1.r - e0.r, dg = e1.g - e0.g, db = e1.b - e0.b;
    if (paletteSize == 3) {
        palette[2] = WeightedRgb{e0.r + dr * 0.5f, e0.g + dg * 0.5f, e0.b + db * 0.5f};
        palette[3] = WeightedRgb{0.0f, 0.0f, 0.0f};
    } else {
        palette[2] = WeightedRgb{e0.r + dr * 0.33333334f, e0.g + dg * 0.33333334f,
                                 e0.b + db * 0.33333334f};
        palette[3] = WeightedRgb{e0.r + dr * 0.6666667f, e0.g + dg * 0.6666667f,
                                 e0.b + db * 0.6666667f};
    }

    const float steps = static_cast<float>(paletteSize - 1);
    float pr = 0.0f, pg = 0.0f, pb = 0.0f;
    if (c0 != c1) {
        const float length = Dot(dr, dg, db, dr, dg, db);
        pr = dr * steps / length;
        pg = dg * steps / length;
        pb = db * steps / length;
    }

    const uint32_t* positionToIndex = paletteSize == 3 ? kColorIndex3 : kColorIndex4;
    // t of 0 or less picks colour0, steps or more colour1, anything between
    // the nearest position; clamping t to 0..steps and rounding does the same
    // without branches (NaN clamps to 0).
    auto positionOf = [steps](float t) {
        float clamped = t > 0.0f ? t : 0.0f;
        clamped = clamped < steps ? clamped : steps;
        return static_cast<int>(clamped + 0.5f);
    };
    const bool threeColors = paletteSize == 3;
    uint32_t indices = 0;
    if (!dither) {
        // Every pixel on its own: a loop the compiler can run four at a time.
        alignas(16) int position[16];
        for (int i = 0; i < 16; ++i) {
            const float t = Dot(pixels[i].r * DxtWeightR - e0.r, pixels[i].g * DxtWeightG - e0.g,
                                pixels[i].b * DxtWeightB - e0.b, pr, pg, pb);
            position[i] = positionOf(t);
        }
        for (int i = 0; i < 16; ++i) {
            const uint32_t index =
                threeColors && pixels[i].a < 0.5f ? 3u : positionToIndex[position[i]];
            indices |= index << (2 * i);
        }
    } else {
        for (int i = 0; i < 16; ++i) error[i] = WeightedRgb{0.0f, 0.0f, 0.0f};
        for (int i = 0; i < 16; ++i) {
            uint32_t index = 3;
            if (!(threeColors && pixels[i].a < 0.5f)) {
                const float r = pixels[i].r * DxtWeightR + error[i].r;
                const float g = pixels[i].g * DxtWeightG + error[i].g;
                const float b2 = pixels[i].b * DxtWeightB + error[i].b;
                index = positionToIndex[positionOf(Dot(r - e0.r, g - e0.g, b2 - e0.b, pr, pg, pb))];
                const WeightedRgb& chosen = palette[index];
                DiffuseRgb(error, i, r - chosen.r, g - chosen.g, b2 - chosen.b);
            }
            indices |= index << (2 * i);
        }
    }
    WriteColorHalf(out, colour0, colour1, indices);
}

void FindAlphaEndpoints(const float* alphas, int paletteSize, float* outLo, float* outHi) {
    const bool six = paletteSize == 6;
    const float* wLo = six ? kAlphaWLo6 : kAlphaWLo8;
    const float* wHi = six ? kAlphaWHi6 : kAlphaWHi8;
    const int last = paletteSize - 1;
    const float steps = static_cast<float>(last);

    float lo = 1.0f, hi = 0.0f;
    if (six) {
        // The six-value palette has 0 and 1 of its own: span only the others.
        for (int i = 0; i < 16; ++i) {
            if (alphas[i] > 0.0f && alphas[i] < lo) lo = alphas[i];
            if (alphas[i] < 1.0f && alphas[i] > hi) hi = alphas[i];
        }
        if (lo == hi) hi = 1.0f;
    } else {
        for (int i = 0; i < 16; ++i) {
            if (alphas[i] < lo) lo = alphas[i];
            if (alphas[i] > hi) hi = alphas[i];
        }
    }

    for (int pass = 0; pass < 8 && hi - lo >= 0.00390625f; ++pass) {
        const float scale = steps / (hi - lo);
        const float nearOne = (hi + 1.0f) / 2.0f, nearZero = lo / 2.0f;
        float gLo = 0.0f, sLo = 0.0f, gHi = 0.0f, sHi = 0.0f;
        for (int i = 0; i < 16; ++i) {
            const float a = alphas[i];
            const float t = (a - lo) * scale;
            // Negative t (NaN too) takes position 0, t of steps or more the
            // last; clamping t and rounding gives both without branches.
            // With six values, alphas nearer the fixed 0 or 1 take no part:
            // they add 0, which leaves the sums as they are (a sum that
            // starts at +0 never becomes -0, and x + 0 is x otherwise).
            float clamped = t > 0.0f ? t : 0.0f;
            clamped = clamped < steps ? clamped : steps;
            const int k = static_cast<int>(clamped + 0.5f);
            const bool skip = six && (t > 0.0f ? !(t < steps) && a > nearOne : !(a > nearZero));
            const float wl = wLo[k], wh = wHi[k];
            const float entry = lo * wl + hi * wh;
            const float r = a - entry;
            gLo += skip ? 0.0f : wl * r;
            sLo += skip ? 0.0f : wl * wl;
            gHi += skip ? 0.0f : wh * r;
            sHi += skip ? 0.0f : wh * wh;
        }
        if (sLo > 0.0f) lo = lo + gLo / sLo;
        if (sHi > 0.0f) hi = hi + gHi / sHi;
        if (lo > hi) std::swap(lo, hi);
        if (gLo * gLo < 0.015625f && gHi * gHi < 0.015625f) break;
    }
    auto clamp01 = [](float v) { return !(v > 0.0f) ? 0.0f : (v > 1.0f ? 1.0f : v); };
    *outLo = clamp01(lo);
    *outHi = clamp01(hi);
}

HRESULT EncodeDxt1Block(uint8_t* out, const ColorF* pixels, uint32_t dither) {
    if (!dither) {
        EncodeColorBlock(pixels, out, true, false);
        return S_OK;
    }
    // Dither the alpha to 0 or 1 first, so that the transparent pixels spread.
    ColorF copy[16];
    float error[16] = {};
    for (int i = 0; i < 16; ++i) {
        const float v = pixels[i].a + error[i];
        const float a = Trunc(v + 0.5f);
        copy[i] = pixels[i];
        copy[i].a = a;
        DiffuseScalar(error, i, v - a);
    }
    EncodeColorBlock(copy, out, true, true);
    return S_OK;
}

HRESULT EncodeDxt3Block(uint8_t* out, const ColorF* pixels, uint32_t dither) {
    float error[16] = {};
    uint32_t words[2] = {0, 0};
    for (int i = 0; i < 16; ++i) {
        const float v = pixels[i].a + error[i];
        const float n = Trunc(v * 15.0f + 0.5f);
        if (dither) DiffuseScalar(error, i, v - n * (1.0f / 15.0f));
        words[i >> 3] |= static_cast<uint32_t>(ClampCode(n, 15)) << (4 * (i & 7));
    }
    PutU32(out, words[0]);
    PutU32(out + 4, words[1]);
    EncodeColorBlock(pixels, out + 8, false, dither != 0);
    return S_OK;
}

HRESULT EncodeDxt5Block(uint8_t* out, const ColorF* pixels, uint32_t dither) {
    float error[16] = {};
    alignas(16) float quantized[16];
    if (dither) {
        for (int i = 0; i < 16; ++i) {
            const float v = pixels[i].a + error[i];
            const float q = Trunc(v * 255.0f + 0.5f) / 255.0f;
            quantized[i] = q;
            DiffuseScalar(error, i, v - q);
        }
    } else {
        // The error slots stay 0: every pixel on its own.
        for (int i = 0; i < 16; ++i) quantized[i] = Trunc((pixels[i].a + 0.0f) * 255.0f + 0.5f) / 255.0f;
    }
    // mn only falls and mx only rises from the same start, so one test
    // each in any order finds what the first-below-else-above test finds.
    float mn = pixels[0].a, mx = pixels[0].a;
    for (int i = 0; i < 16; ++i) {
        const float q = quantized[i];
        if (q < mn) mn = q;
        else if (q > mx) mx = q;
    }

    EncodeColorBlock(pixels, out + 8, false, dither != 0);

    if (mn >= 1.0f) {
        std::memset(out, 0, 8);
        out[0] = out[1] = 255;
        return S_OK;
    }
    const bool six = mn <= 0.0f || mx >= 1.0f;
    const int size = six ? 6 : 8;
    float lo, hi;
    FindAlphaEndpoints(quantized, size, &lo, &hi);
    const uint32_t qlo = static_cast<uint32_t>(lo * 255.0f + 0.5f);
    const uint32_t qhi = static_cast<uint32_t>(hi * 255.0f + 0.5f);
    const float vlo = static_cast<float>(qlo) / 255.0f;
    const float vhi = static_cast<float>(qhi) / 255.0f;

    // The palette by block index, and the index of each palette position.
    float values[8];
    const uint32_t* positionToIndex;
    if (!six) {
        if (qlo == qhi) {
            std::memset(out, 0, 8);
            out[0] = out[1] = static_cast<uint8_t>(qlo);
            return S_OK;
        }
        out[0] = static_cast<uint8_t>(qhi);
        out[1] = static_cast<uint8_t>(qlo);
        values[0] = vhi;
        values[1] = vlo;
        for (int i = 1; i <= 6; ++i)
            values[i + 1] =
                (static_cast<float>(7 - i) * vhi + static_cast<float>(i) * vlo) * 0.14285715f;
        positionToIndex = kAlphaIndex8;
    } else {
        out[0] = static_cast<uint8_t>(qlo);
        out[1] = static_cast<uint8_t>(qhi);
        values[0] = vlo;
        values[1] = vhi;
        for (int i = 1; i <= 4; ++i)
            values[i + 1] = (static_cast<float>(5 - i) * vlo + static_cast<float>(i) * vhi) * 0.2f;
        values[6] = 0.0f;
        values[7] = 1.0f;
        positionToIndex = kAlphaIndex6;
    }

    const float steps = static_cast<float>(size - 1);
    const float p0 = values[0], p1 = values[1];
    const float scale = p0 == p1 ? 0.0f : steps / (p1 - p0);
    uint64_t indices = 0;
    if (!dither) {
        // Branch-free positions: t is clamped to 0..steps and rounded (NaN
        // gives 0), which picks the end positions as the tests below do;
        // with six values the alphas nearer the fixed 0 or 1 take those.
        const float nearOne = (p1 + 1.0f) / 2.0f, nearZero = p0 / 2.0f;
        alignas(16) uint32_t index[16];
        for (int i = 0; i < 16; ++i) {
            const float a = pixels[i].a + 0.0f;
            const float t = (a - p0) * scale;
            float clamped = t > 0.0f ? t : 0.0f;
            clamped = clamped < steps ? clamped : steps;
            uint32_t k = positionToIndex[static_cast<int>(clamped + 0.5f)];
            if (six) {
                k = (t > 0.0f && !(t < steps) && a > nearOne) ? 7u : k;
                k = (!(t > 0.0f) && !(a > nearZero)) ? 6u : k;
            }
            index[i] = k;
        }
        for (int i = 0; i < 16; ++i) indices |= static_cast<uint64_t>(index[i]) << (3 * i);
        for (int k = 0; k < 6; ++k) out[2 + k] = static_cast<uint8_t>(indices >> (8 * k));
        return S_OK;
    }
    for (int i = 0; i < 16; ++i) error[i] = 0.0f;
    for (int i = 0; i < 16; ++i) {
        const float a = pixels[i].a + error[i];
        const float t = (a - p0) * scale;
        uint32_t index;
        if (t > 0.0f) {
            if (t < steps) index = positionToIndex[static_cast<int>(t + 0.5f)];
            else index = (six && a > (p1 + 1.0f) / 2.0f) ? 7 : 1;
        } else {
            index = (!six || a > p0 / 2.0f) ? 0 : 6;
        }
        if (dither) DiffuseScalar(error, i, a - values[index]);
        indices |= static_cast<uint64_t>(index) << (3 * i);
    }
    for (int k = 0; k < 6; ++k) out[2 + k] = static_cast<uint8_t>(indices >> (8 * k));
    return S_OK;
}

void Premultiply(ColorF* out, const ColorF* pixels) {
    for (int i = 0; i < 16; ++i) {
        const ColorF& p = pixels[i];
        out[i] = ColorF{p.r * p.a, p.g * p.a, p.b * p.a, p.a};
    }
}

}  // namespace z3az
