// DXT block encoding: 16 ColorF pixels (pixel 4r + c is column c of row r of
// the block) become one DXT1, DXT3 or DXT5 block. Endpoints are searched in a
// perceptually weighted RGB space, indices are chosen by projection onto the
// endpoint segment, and the quantization error can be spread inside the block
// with Floyd-Steinberg weights. The encoders keep no state and allocate
// nothing, so they can be called directly on any 4x4 block.
//
// Block layouts (little-endian):
//   DXT1       8 bytes: colour half
//   DXT2/DXT3 16 bytes: 16 four-bit alphas (pixel 0 in bits 0-3), colour half
//   DXT4/DXT5 16 bytes: alpha0, alpha1, 16 three-bit indices in two 24-bit
//                       groups, colour half
// The colour half is colour0, colour1 (R5G6B5: red 11-15, green 5-10, blue
// 0-4) and a 32-bit word of 16 two-bit indices, pixel 0 in bits 0-1.
#pragma once

#include <cstdint>

#include "z3az/types.h"

namespace z3az {

// A colour in the weighted space of the endpoint search.
struct WeightedRgb {
    float r;
    float g;
    float b;
};

// Channel weights: the luminance weights of red and blue over green's.
constexpr float DxtWeightR = 0.29703665f;
constexpr float DxtWeightG = 1.0f;
constexpr float DxtWeightB = 0.10078278f;
constexpr float DxtInverseWeightR = 3.3665881f;
constexpr float DxtInverseWeightG = 1.0f;
constexpr float DxtInverseWeightB = 9.9223299f;

// R5G6B5 <-> ColorF as the encoders and the block decoders share them.
inline ColorF ColorFromR5G6B5(uint32_t c) {
    return ColorF{static_cast<float>((c >> 11) & 31) * (1.0f / 31.0f),
                  static_cast<float>((c >> 5) & 63) * (1.0f / 63.0f),
                  static_cast<float>(c & 31) * (1.0f / 31.0f), 1.0f};
}
// Each channel is clamped to 0..1, then (value x 31 or 63 + 0.5) truncated.
uint16_t R5G6B5FromRgb(float r, float g, float b);

// Encodes the colour half (8 bytes) of a block. With transparency allowed
// (DXT1) pixels with alpha below 0.5 select the transparent index.
void EncodeColorBlock(const ColorF* pixels, uint8_t* out, bool transparencyAllowed,
                      bool dither);

// Finds the two endpoints of 16 weighted points for a palette of 3 or 4
// colours.
void FindColorEndpoints(const WeightedRgb* points, int paletteSize, WeightedRgb* a,
                        WeightedRgb* b);

// Finds the low and high alpha of 16 alphas for a palette of 6 or 8 values.
void FindAlphaEndpoints(const float* alphas, int paletteSize, float* lo, float* hi);

// The block encoders: (block bytes out, 16 pixels in, dither flag).
HRESULT EncodeDxt1Block(uint8_t* out, const ColorF* pixels, uint32_t dither);
HRESULT EncodeDxt3Block(uint8_t* out, const ColorF* pixels, uint32_t dither);
HRESULT EncodeDxt5Block(uint8_t* out, const ColorF* pixels, uint32_t dither);

// Writes a copy of 16 pixels with red, green and blue multiplied by alpha.
void Premultiply(ColorF* out, const ColorF* pixels);

}  // namespace z3az
