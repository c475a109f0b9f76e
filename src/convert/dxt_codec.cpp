#include "convert/dxt_codec.h"

#include "convert/dxt_encode.h"

namespace z3az {
namespace {

inline uint32_t GetU16(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }

inline uint32_t GetU32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline ColorF Lerp(const ColorF& a, const ColorF& b, float f) {
    return ColorF{a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f,
                  a.a + (b.a - a.a) * f};
}

// The colour half of a block; threeColorMode allows DXT1's three colours and
// transparent black when colour0 <= colour1.
void DecodeColorHalf(ColorF* out, const uint8_t* block, bool threeColorMode) {
    const uint32_t c0 = GetU16(block), c1 = GetU16(block + 2);
    ColorF palette[4];
    palette[0] = ColorFromR5G6B5(c0);
    palette[1] = ColorFromR5G6B5(c1);
    if (!threeColorMode || c0 > c1) {
        palette[2] = Lerp(palette[0], palette[1], 0.33333334f);
        palette[3] = Lerp(palette[0], palette[1], 0.6666667f);
    } else {
        palette[2] = Lerp(palette[0], palette[1], 0.5f);
        palette[3] = ColorF{0.0f, 0.0f, 0.0f, 0.0f};
    }
    const uint32_t indices = GetU32(block + 4);
    for (int i = 0; i < 16; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
}

}  // namespace

void DecodeColorBlock(ColorF* out, const uint8_t* block) { DecodeColorHalf(out, block, true); }

void DecodeFourColorBlock(ColorF* out, const uint8_t* block) {
    DecodeColorHalf(out, block, false);
}

void DecodeDxt3Block(ColorF* out, const uint8_t* block) {
    DecodeColorHalf(out, block + 8, false);
    const uint32_t words[2] = {GetU32(block), GetU32(block + 4)};
    for (int i = 0; i < 16; ++i)
        out[i].a = static_cast<float>((words[i >> 3] >> (4 * (i & 7))) & 15) * (1.0f / 15.0f);
}

void DecodeDxt5Block(ColorF* out, const uint8_t* block) {
    DecodeColorHalf(out, block + 8, false);
    float alpha[8];
    alpha[0] = static_cast<float>(block[0]) * (1.0f / 255.0f);
    alpha[1] = static_cast<float>(block[1]) * (1.0f / 255.0f);
    if (block[0] > block[1]) {
        for (int i = 1; i <= 6; ++i)
            alpha[i + 1] = (static_cast<float>(7 - i) * alpha[0] + static_cast<float>(i) * alpha[1]) *
                           (1.0f / 7.0f);
    } else {
        for (int i = 1; i <= 4; ++i)
            alpha[i + 1] =
                (static_cast<float>(5 - i) * alpha[0] + static_cast<float>(i) * alpha[1]) * 0.2f;
        alpha[6] = 0.0f;
        alpha[7] = 1.0f;
    }
    uint64_t indices = 0;
    for (int k = 0; k < 6; ++k) indices |= static_cast<uint64_t>(block[2 + k]) << (8 * k);
    for (int i = 0; i < 16; ++i) out[i].a = alpha[(indices >> (3 * i)) & 7];
}

void Unpremultiply(ColorF* pixels) {
    for (int i = 0; i < 16; ++i) {
        ColorF& p = pixels[i];
        const float a = p.a;
        if (!(a > 0.0f)) {
            p.r = p.g = p.b = 0.0f;
        } else if (a < 1.0f) {
            p.r = a > p.r ? p.r / a : 1.0f;
            p.g = a > p.g ? p.g / a : 1.0f;
            p.b = a > p.b ? p.b / a : 1.0f;
        }
    }
}

}  // namespace z3az
