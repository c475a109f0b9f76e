#include "convert/dxt_codec.h"

#include <cstring>

#include "convert/dxt_encode.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"

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

namespace {

void DecodeDxt2Block(ColorF* out, const uint8_t* block) {
    DecodeDxt3Block(out, block);
    Unpremultiply(out);
}

void DecodeDxt4Block(ColorF* out, const uint8_t* block) {
    DecodeDxt5Block(out, block);
    Unpremultiply(out);
}

HRESULT EncodeDxt2Block(uint8_t* out, const ColorF* pixels, uint32_t dither) {
    ColorF premultiplied[16];
    Premultiply(premultiplied, pixels);
    return EncodeDxt3Block(out, premultiplied, dither);
}

HRESULT EncodeDxt4Block(uint8_t* out, const ColorF* pixels, uint32_t dither) {
    ColorF premultiplied[16];
    Premultiply(premultiplied, pixels);
    return EncodeDxt5Block(out, premultiplied, dither);
}

inline uint32_t AlignDown(uint32_t v) { return v & ~3u; }
inline uint32_t AlignUp(uint32_t v) { return (v + 3u) & ~3u; }

ImageBox AlignBox(const ImageBox& b) {
    return ImageBox{AlignDown(b.left), AlignDown(b.top), AlignUp(b.right),
                    AlignUp(b.bottom), b.front, b.back};
}

// (value x levels + 0.5) truncated, times step: the quantization the key is
// compared with. Values are 0..1 here, so the integer conversion is safe;
// anything else is clamped first.
inline float QuantizeLevel(float v, float levels, float step) {
    float scaled = v * levels + 0.5f;
    if (!(scaled > 0.0f)) scaled = 0.0f;
    else if (scaled > levels + 0.5f) scaled = levels + 0.5f;
    return static_cast<float>(static_cast<int32_t>(scaled)) * step;
}

// Columns (and rows) that stick out over the surface edge take the pixel of
// column (row) s(c) of the same block: 0, 0, 0, 1.
constexpr int kEdgeSource[4] = {0, 0, 0, 1};

}  // namespace

DxtCodec::DxtCodec(const BlitRegion& region)
    : PixelCodec(region, 0, RangeUnsigned),
      alphaLevels(255.0f),
      alphaStep(1.0f / 255.0f),
      blockBytes(16),
      decodeBlock(DecodeDxt5Block),
      encodeBlock(EncodeDxt5Block),
      bounds(region.bounds),
      alignedBounds(AlignBox(region.bounds)),
      alignedBox(AlignBox(region.box)),
      blockColumns(0),
      blockRows(0),
      sliceCount(region.box.back - region.box.front),
      cachedTop(-1),
      cachedSlice(-1),
      readCache(nullptr),
      liveBuffers(0),
      writeSlots(nullptr),
      ditherBlocks(region.dither) {
    switch (format) {
        case D3DFMT_DXT1:
            blockBytes = 8;
            decodeBlock = DecodeColorBlock;
            encodeBlock = EncodeDxt1Block;
            break;
        case D3DFMT_DXT2:
            decodeBlock = DecodeDxt2Block;
            encodeBlock = EncodeDxt2Block;
            break;
        case D3DFMT_DXT3:
            decodeBlock = DecodeDxt3Block;
            encodeBlock = EncodeDxt3Block;
            break;
        case D3DFMT_DXT4:
            decodeBlock = DecodeDxt4Block;
            encodeBlock = EncodeDxt4Block;
            break;
        default:
            break;
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        alphaLevels = 15.0f;
        alphaStep = 1.0f / 15.0f;
    }
    blockColumns = (alignedBox.right - alignedBox.left) / 4;
    blockRows = (alignedBox.bottom - alignedBox.top) / 4;
}

DxtCodec::~DxtCodec() {
    if (liveBuffers && writeSlots) {
        const size_t slots = static_cast<size_t>(sliceCount) * blockRows;
        for (size_t i = 0; i < slots; ++i) Free(writeSlots[i].buffer);
    }
    Free(readCache);
    Free(writeSlots);
}

uint8_t* DxtCodec::BlockAddress(uint32_t x, uint32_t y, uint32_t z) const {
    return bits + static_cast<size_t>(y / 4) * rowPitch + static_cast<size_t>(z) * slicePitch +
           static_cast<size_t>(x / 4) * blockBytes;
}

void DxtCodec::DecodeBlockRow(ColorF* buffer, uint32_t top, uint32_t z, uint32_t first,
                              uint32_t count) const {
    for (uint32_t j = first; j < first + count; ++j)
        decodeBlock(buffer + static_cast<size_t>(j) * 16,
                    BlockAddress(alignedBox.left + 4 * j, top, z));
}

HRESULT DxtCodec::ReadRow(uint32_t row, uint32_t slice, ColorF* out) {
    const uint32_t y = row + box.top;
    const uint32_t z = slice + box.front;
    if (!readCache) {
        readCache = static_cast<ColorF*>(
            AllocateArray(static_cast<size_t>(blockColumns) * 16, sizeof(ColorF)));
        if (!readCache) return E_OUTOFMEMORY;
    }
    const uint32_t top = AlignDown(y);
    if (cachedTop != static_cast<int32_t>(top) || cachedSlice != static_cast<int32_t>(z)) {
        DecodeBlockRow(readCache, top, z, 0, blockColumns);
        cachedTop = static_cast<int32_t>(top);
        cachedSlice = static_cast<int32_t>(z);
    }
    const uint32_t offset = box.left - alignedBox.left;
    for (uint32_t j = 0; j < width; ++j) out[j] = readCache[BufferIndex(offset + j, y)];

    if (colorKey) {
        for (uint32_t j = 0; j < width; ++j) {
            ColorF& p = out[j];
            if (QuantizeLevel(p.r, 31.0f, 1.0f / 31.0f) == keyColor.r &&
                QuantizeLevel(p.g, 63.0f, 1.0f / 63.0f) == keyColor.g &&
                QuantizeLevel(p.b, 31.0f, 1.0f / 31.0f) == keyColor.b &&
                QuantizeLevel(p.a, alphaLevels, alphaStep) == keyColor.a)
                p = ColorF{0.0f, 0.0f, 0.0f, 0.0f};
        }
    }
    if (srgb) DecodeSrgb(out);
    return S_OK;
}

void DxtCodec::EncodeBlockRow(ColorF* buffer, uint32_t top, uint32_t z) const {
    const uint32_t dither = (ditherBlocks || errorRow) ? 1u : 0u;
    const uint32_t rowsInside = bounds.bottom - top;  // at least 1
    for (uint32_t j = 0; j < blockColumns; ++j) {
        const uint32_t x = alignedBox.left + 4 * j;
        ColorF* block = buffer + static_cast<size_t>(j) * 16;
        const uint32_t columnsInside = bounds.right - x;  // at least 1
        if (columnsInside < 4) {
            const uint32_t rows = rowsInside < 4 ? rowsInside : 4;
            for (uint32_t r = 0; r < rows; ++r)
                for (uint32_t c = columnsInside; c < 4; ++c)
                    block[r * 4 + c] = block[r * 4 + kEdgeSource[c]];
        }
        if (rowsInside < 4) {
            for (uint32_t r = rowsInside; r < 4; ++r)
                for (uint32_t c = 0; c < 4; ++c) block[r * 4 + c] = block[kEdgeSource[r] * 4 + c];
        }
        encodeBlock(BlockAddress(x, top, z), block, dither);
    }
}

HRESULT DxtCodec::WriteRow(uint32_t row, uint32_t slice, ColorF* in) {
    const uint32_t y = row + box.top;
    const uint32_t z = slice + box.front;
    const size_t slotCount = static_cast<size_t>(sliceCount) * blockRows;
    if (!writeSlots) {
        writeSlots = static_cast<WriteSlot*>(AllocateArray(slotCount, sizeof(WriteSlot)));
        if (!writeSlots) return E_OUTOFMEMORY;
        for (size_t i = 0; i < slotCount; ++i) writeSlots[i] = WriteSlot{0, nullptr};
    }
    const size_t slotIndex =
        static_cast<size_t>(z - box.front) * blockRows + (y - alignedBox.top) / 4;
    WriteSlot& slot = writeSlots[slotIndex];
    const size_t bufferEntries = static_cast<size_t>(blockColumns) * 16;
    if (!slot.buffer) {
        slot.buffer = static_cast<ColorF*>(AllocateArray(bufferEntries, sizeof(ColorF)));
        if (!slot.buffer) return E_OUTOFMEMORY;
        // Pixels that no rule below fills stay defined.
        std::memset(slot.buffer, 0, bufferEntries * sizeof(ColorF));
        slot.rowMask = 0;
        ++liveBuffers;
    }

    const uint32_t top = AlignDown(y);
    if (slot.rowMask == 0) {
        // Keep the stored pixels of the touched blocks that the box does not
        // cover: whole block rows when rows above or below the box share
        // them, else only the first and last block where the box starts or
        // ends inside a block.
        if ((top < box.top && bounds.top < box.top) ||
            (top + 4 > box.bottom && box.bottom < bounds.bottom)) {
            DecodeBlockRow(slot.buffer, top, z, 0, blockColumns);
        } else {
            if (alignedBox.left < box.left && bounds.left < box.left)
                DecodeBlockRow(slot.buffer, top, z, 0, 1);
            if (box.right < alignedBox.right && box.right < bounds.right)
                DecodeBlockRow(slot.buffer, top, z, blockColumns - 1, 1);
        }
        for (uint32_t r = 0; r < 4; ++r)
            if (top + r < box.top || top + r >= box.bottom) slot.rowMask |= 1u << r;
    }

    ColorF* values = in;
    if (convertFrom) values = ConvertRange(values);
    if (srgb) values = EncodeSrgb(values);
    const uint32_t offset = box.left - alignedBox.left;
    for (uint32_t j = 0; j < width; ++j) slot.buffer[BufferIndex(offset + j, y)] = values[j];
    slot.rowMask |= 1u << (y & 3);
    if (slot.rowMask != 15) return S_OK;

    EncodeBlockRow(slot.buffer, top, z);
    // Pass the buffer on to the next block row when that one has not started.
    WriteSlot* next = slotIndex + 1 < slotCount ? &writeSlots[slotIndex + 1] : nullptr;
    if (next && next->rowMask == 0 && !next->buffer) {
        next->buffer = slot.buffer;
    } else {
        Free(slot.buffer);
        --liveBuffers;
    }
    slot.buffer = nullptr;
    slot.rowMask = 0;
    return S_OK;
}

void DxtCodec::PrepareColorKey() {
    alphaLevels = (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) ? 15.0f : 255.0f;
    alphaStep = 1.0f / alphaLevels;
    keyColor.r = QuantizeLevel(keyColor.r, 31.0f, 1.0f / 31.0f);
    keyColor.g = QuantizeLevel(keyColor.g, 63.0f, 1.0f / 63.0f);
    keyColor.b = QuantizeLevel(keyColor.b, 31.0f, 1.0f / 31.0f);
    keyColor.a = QuantizeLevel(keyColor.a, alphaLevels, alphaStep);
}

PixelCodec* CreateDxtCodec(const BlitRegion& region) {
    switch (region.format) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return New<DxtCodec>(region);
        default:
            return nullptr;
    }
}

}  // namespace z3az
