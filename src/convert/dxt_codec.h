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

class DxtCodec final : public PixelCodec {
public:
    explicit DxtCodec(const BlitRegion& region);
    ~DxtCodec() override;

    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
    void PrepareColorKey() override;

    // A block row being written: which of its four pixel rows are present
    // and the pixels collected so far (blockColumns x 16, block by block).
    struct WriteSlot {
        uint32_t rowMask;
        ColorF* buffer;
    };

    using DecodeBlockFn = void (*)(ColorF* out, const uint8_t* block);
    using EncodeBlockFn = HRESULT (*)(uint8_t* out, const ColorF* pixels, uint32_t dither);

    float alphaLevels;  // 15 for DXT2 and DXT3, 255 for the others
    float alphaStep;    // 1 / alphaLevels
    uint32_t blockBytes;
    DecodeBlockFn decodeBlock;
    EncodeBlockFn encodeBlock;
    ImageBox bounds;         // the whole surface
    ImageBox alignedBounds;  // bounds with left/top rounded down, right/bottom up to 4
    ImageBox alignedBox;     // box rounded the same way
    uint32_t blockColumns;
    uint32_t blockRows;
    uint32_t sliceCount;
    int32_t cachedTop;    // top pixel row of the block row in readCache, -1 while none
    int32_t cachedSlice;  // its slice, -1 while none
    ColorF* readCache;    // owned, blockColumns x 16, or null
    uint32_t liveBuffers;
    WriteSlot* writeSlots;  // owned, sliceCount x blockRows, or null
    uint32_t ditherBlocks;

private:
    uint8_t* BlockAddress(uint32_t x, uint32_t y, uint32_t z) const;
    void DecodeBlockRow(ColorF* buffer, uint32_t top, uint32_t z, uint32_t first,
                        uint32_t count) const;
    void EncodeBlockRow(ColorF* buffer, uint32_t top, uint32_t z) const;
    // Position in a block-row buffer of column x (relative to alignedBox.left)
    // of pixel row y.
    static size_t BufferIndex(uint32_t x, uint32_t y) {
        return static_cast<size_t>(x >> 2) * 16 + (y & 3) * 4 + (x & 3);
    }
};

// Returns the codec for the five DXT formats, or null for another format or
// when memory runs out.
PixelCodec* CreateDxtCodec(const BlitRegion& region);

}  // namespace z3az
