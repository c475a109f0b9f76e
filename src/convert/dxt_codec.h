// The DXT1..DXT5 codec and the block decoders. Reading decodes a whole row of
// 4x4 blocks once and serves its four pixel rows; writing collects pixel rows
// in a buffer per block row and encodes the block row when its last pixel row
// arrives. Pixels of a touched block outside the written box keep their old
// values, and blocks that stick out over the surface edge are filled by
// repeating pixels before encoding.
#pragma once

#include <cstdint>

#include "convert/pixel_codec.h"
#include "z3az/types.h"

namespace z3az {

// Block decoders: (16 pixels out, block bytes in), pixel 4r + c being column
// c of row r of the block.
// The colour half of a DXT1 block: three colours and transparent black when
// colour0 <= colour1.
void DecodeColorBlock(ColorF* out, const uint8_t* block);
// The colour half as DXT2..DXT5 use it: always four colours.
void DecodeFourColorBlock(ColorF* out, const uint8_t* block);
void DecodeDxt3Block(ColorF* out, const uint8_t* block);
void DecodeDxt5Block(ColorF* out, const uint8_t* block);
// Divides colours by alpha (saturating at 1); alpha 0 gives black.
void Unpremultiply(ColorF* pixels);

// Returns the codec for the five DXT formats, or null for another format or
// when memory runs out.
PixelCodec* CreateDxtCodec(const BlitRegion& region);

}  // namespace z3az
