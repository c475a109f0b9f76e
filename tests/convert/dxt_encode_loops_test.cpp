// The block encoders against the plain per-pixel forms they were first
// written in (kept here as the reference): the branch-free and vector loops
// give the same bytes for random blocks of every kind of colour and alpha,
// with and without dithering, and the same endpoints from FindAlphaEndpoints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "convert/dxt_encode.h"

namespace z3az {
namespace {

inline float Trunc(float x) {
    return std::fabs(x) < 8388608.0f ? static_cast<float>(static_cast<int32_t>(x)) : x;
}

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

constexpr uint32_t kColorIndex3[3] = {0, 2, 1};
constexpr uint32_t kColorIndex4[4] = {0, 2, 3, 1};

constexpr float kAlphaWLo6[6] = {1.0f, 0.8f, 0.6f, 0.4f, 0.2f, 0.0f};
constexpr float kAlphaWHi6[6] = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
constexpr float kAlphaWLo8[8] = {1.0f,        6.0f / 7.0f, 5.0f / 7.0f, 4.0f / 7.0f,
                                 3.0f / 7.0f, 2.0f / 7.0f, 1.0f / 7.0f, 0.0f};
constexpr float kAlphaWHi8[8] = {0.0f,        1.0f / 7.0f, 2.0f / 7.0f, 3.0f / 7.0f,
                                 4.0f / 7.0f, 5.0f / 7.0f, 6.0f / 7.0f, 1.0f};
constexpr uint32_t kAlphaIndex6[6] = {0, 2, 3, 4, 5, 1};
constexpr uint32_t kAlphaIndex8[8] = {0, 2, 3, 4, 5, 6, 7, 1};

void PlainFindAlphaEndpoints(const float* alphas, int paletteSize, float* outLo, float* outHi) {
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
        float gLo = 0.0f, sLo = 0.0f, gHi = 0.0f, sHi = 0.0f;
        for (int i = 0; i < 16; ++i) {
            const float a = alphas[i];
            const float t = (a - lo) * scale;
            int k;
            if (t > 0.0f) {
                if (t < steps) k = static_cast<int>(t + 0.5f);
                else if (six && a > (hi + 1.0f) / 2.0f) continue;  // nearer the fixed 1
                else k = last;
            } else {
                if (six && !(a > lo / 2.0f)) continue;  // nearer the fixed 0
                k = 0;
            }
            const float entry = lo * wLo[k] + hi * wHi[k];
            const float r = a - entry;
            gLo += wLo[k] * r;
            sLo += wLo[k] * wLo[k];
            gHi += wHi[k] * r;
            sHi += wHi[k] * wHi[k];
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

HRESULT PlainEncodeDxt5Block(uint8_t* out, const ColorF* pixels, uint32_t dither) {
    float error[16] = {};
    float quantized[16];
    float mn = pixels[0].a, mx = pixels[0].a;
    for (int i = 0; i < 16; ++i) {
        const float v = pixels[i].a + error[i];
        const float q = Trunc(v * 255.0f + 0.5f) / 255.0f;
        quantized[i] = q;
        if (dither) DiffuseScalar(error, i, v - q);
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
    PlainFindAlphaEndpoints(quantized, size, &lo, &hi);
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
    for (int i = 0; i < 16; ++i) error[i] = 0.0f;
    uint64_t indices = 0;
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

void PlainEncodeColorBlock(const ColorF* pixels, uint8_t* out, bool transparencyAllowed,
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
    WeightedRgb error[16] = {};
    WeightedRgb points[16];
    for (int i = 0; i < 16; ++i) {
        const float r = pixels[i].r + error[i].r;
        const float g = pixels[i].g + error[i].g;
        const float b = pixels[i].b + error[i].b;
        const float qr = Trunc(r * 31.0f + 0.5f) * (1.0f / 31.0f);
        const float qg = Trunc(g * 63.0f + 0.5f) * (1.0f / 63.0f);
        const float qb = Trunc(b * 31.0f + 0.5f) * (1.0f / 31.0f);
        if (dither) DiffuseRgb(error, i, r - qr, g - qg, b - qb);
        points[i] = WeightedRgb{qr * DxtWeightR, qg * DxtWeightG, qb * DxtWeightB};
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

// Alphas of many kinds: uniform, with exact 0 and 1 (the six-value
// palette), few distinct levels, 8-bit steps, near-constant, and values
// outside 0..1, infinities and NaN.
void RandomBlock(std::mt19937& rng, ColorF* pixels) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int kind = static_cast<int>(rng() % 7);
    const float base = unit(rng);
    const int colorKind = static_cast<int>(rng() % 5);
    for (int i = 0; i < 16; ++i) {
        float a = unit(rng);
        switch (kind) {
        case 1: a = (rng() % 3 == 0) ? float(rng() % 2) : a; break;
        case 2: a = float(rng() % 4) / 3.0f; break;
        case 3: a = float(rng() % 256) / 255.0f; break;
        case 4: a = base + (unit(rng) - 0.5f) * 0.004f; break;
        case 5: a = unit(rng) * 1.6f - 0.3f; break;
        case 6: {
            const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                                      std::numeric_limits<float>::infinity(),
                                      -std::numeric_limits<float>::infinity(), -0.0f, 0.0f, 1.0f, a};
            a = specials[rng() % 7];
            break;
        }
        default: break;
        }
        pixels[i] = ColorF{unit(rng), unit(rng), unit(rng), a};
        if (colorKind == 1) pixels[i].r = pixels[i].g = pixels[i].b = base;  // one colour
        if (colorKind == 2) pixels[i].g = pixels[i].r * 0.5f + 0.01f * unit(rng);  // along a line
        if (colorKind == 3) pixels[i].b = unit(rng) * 1.4f - 0.2f;  // outside 0..1
    }
}

TEST(DxtEncodeLoops, ColorHalvesMatchThePlainLoops) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 20000; ++trial) {
        ColorF pixels[16];
        RandomBlock(rng, pixels);
        for (bool transparency : {false, true}) {
            for (bool dither : {false, true}) {
                uint8_t fast[8], plain[8];
                EncodeColorBlock(pixels, fast, transparency, dither);
                PlainEncodeColorBlock(pixels, plain, transparency, dither);
                ASSERT_EQ(0, std::memcmp(fast, plain, 8))
                    << "trial " << trial << " transparency " << transparency << " dither " << dither;
            }
        }
    }
}

TEST(DxtEncodeLoops, Dxt5BlocksMatchThePlainLoops) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 20000; ++trial) {
        ColorF pixels[16];
        RandomBlock(rng, pixels);
        for (uint32_t dither : {0u, 1u}) {
            uint8_t fast[16], plain[16];
            std::memset(fast, 0xCD, sizeof fast);
            std::memset(plain, 0xCD, sizeof plain);
            ASSERT_EQ(S_OK, EncodeDxt5Block(fast, pixels, dither));
            ASSERT_EQ(S_OK, PlainEncodeDxt5Block(plain, pixels, dither));
            ASSERT_EQ(0, std::memcmp(fast, plain, 16)) << "trial " << trial << " dither " << dither;
        }
    }
}

TEST(DxtEncodeLoops, AlphaEndpointsMatchThePlainLoop) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 20000; ++trial) {
        ColorF pixels[16];
        RandomBlock(rng, pixels);
        float alphas[16];
        for (int i = 0; i < 16; ++i) alphas[i] = pixels[i].a;
        for (int size : {6, 8}) {
            float lo = 0, hi = 0, plainLo = 0, plainHi = 0;
            FindAlphaEndpoints(alphas, size, &lo, &hi);
            PlainFindAlphaEndpoints(alphas, size, &plainLo, &plainHi);
            ASSERT_EQ(0, std::memcmp(&lo, &plainLo, 4)) << "trial " << trial << " size " << size;
            ASSERT_EQ(0, std::memcmp(&hi, &plainHi, 4)) << "trial " << trial << " size " << size;
        }
    }
}

}  // namespace
}  // namespace z3az
