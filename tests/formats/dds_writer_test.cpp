// DDS files byte for byte (header, flags and caps, palette, rows of every
// kind of format, chains, cube maps, volumes), failures, and files read back
// by independent decoders.
#include "formats/dds_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/writers.h"
#include "image/image_layer.h"
#include "image/pixel_format.h"
#include "platform/heap.h"
#include "support/file_helpers.h"
#include "support/image_readers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::MemoryStream;
using Bytes = std::vector<uint8_t>;

uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Header fields by their offset in the file (the magic comes first).
enum : size_t {
    kFlags = 8,
    kHeight = 12,
    kWidth = 16,
    kPitch = 20,
    kDepth = 24,
    kMipCount = 28,
    kPfFlags = 80,
    kFourCc = 84,
    kBitCount = 88,
    kRMask = 92,
    kGMask = 96,
    kBMask = 100,
    kAMask = 104,
    kCaps = 108,
    kCaps2 = 112,
    kData = 128,
};

// A layer over its own memory, filled with a counting byte pattern so that
// every written byte can be traced to its place.
struct Layer {
    Bytes memory;
    ImageLayer layer;
    Layer(uint32_t format, uint32_t w, uint32_t h, uint32_t rowPitch, uint32_t rows,
          uint32_t depth = 1, uint8_t seed = 0) {
        const uint32_t slicePitch = rowPitch * rows;
        memory.resize(static_cast<size_t>(slicePitch) * depth + 1);
        for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(seed + i * 7);
        layer.format = format;
        layer.bits = memory.data();
        layer.width = w;
        layer.height = h;
        layer.depth = depth;
        layer.box = {0, 0, w, h, 0, depth};
        layer.rowPitch = rowPitch;
        layer.slicePitch = slicePitch;
    }
    // Bytes [offset, offset + n) of the memory.
    Bytes Range(size_t offset, size_t n) const {
        return Bytes(memory.begin() + offset, memory.begin() + offset + n);
    }
};

Bytes Write(const ImageLayer& layer, HRESULT expect = S_OK) {
    MemoryStream out;
    EXPECT_EQ(expect, WriteDds(layer, out.stream()));
    return out.Bytes();
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

TEST(DdsWriterTest, SmallX8R8G8B8FileByteForByte) {
    Layer l(D3DFMT_X8R8G8B8, 3, 2, 12, 2);
    const Bytes file = Write(l.layer);
    ASSERT_EQ(152u, file.size());
    Bytes expected(kData, 0);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, 0x20534444);
    put(4, 124);
    put(kFlags, 0x1007);
    put(kHeight, 2);
    put(kWidth, 3);
    put(76, 32);
    put(kPfFlags, 0x40);
    put(kBitCount, 32);
    put(kRMask, 0xFF0000);
    put(kGMask, 0xFF00);
    put(kBMask, 0xFF);
    put(kCaps, 0x1000);
    Append(expected, l.Range(0, 24));
    EXPECT_EQ(expected, file);
}

TEST(DdsWriterTest, AlphaAndPaletteCaps) {
    struct Case {
        uint32_t format;
        uint32_t bytesPerPixel;
        uint32_t caps;
    } cases[] = {
        {D3DFMT_A8R8G8B8, 4, 0x1002}, {D3DFMT_A8, 1, 0x1002},  {D3DFMT_A8L8, 2, 0x1002},
        {D3DFMT_R5G6B5, 2, 0x1000},   {D3DFMT_L8, 1, 0x1000},  {D3DFMT_DXT1, 0, 0x1000},
        {D3DFMT_A8P8, 2, 0x1102},     {D3DFMT_P8, 1, 0x1100},  {D3DFMT_A2W10V10U10, 4, 0x1002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Layer l(c.format, 4, 4, 16, 4);
        PALETTEENTRY palette[256] = {};
        l.layer.palette = palette;
        const Bytes file = Write(l.layer);
        ASSERT_GE(file.size(), kData);
        EXPECT_EQ(c.caps, Le32(file, kCaps));
    }
}

TEST(DdsWriterTest, PaletteComesBeforeThePixels) {
    Layer l(D3DFMT_P8, 3, 2, 4, 2);
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i ^ 0x5A)};
    l.layer.palette = palette;
    const Bytes file = Write(l.layer);
    ASSERT_EQ(kData + 1024 + 6, file.size());
    EXPECT_EQ(0x1100u, Le32(file, kCaps));
    EXPECT_EQ(0x20u, Le32(file, kPfFlags));
    EXPECT_EQ(8u, Le32(file, kBitCount));
    EXPECT_EQ(0, std::memcmp(file.data() + kData, palette, 1024));
    Bytes pixels = l.Range(0, 3);
    Append(pixels, l.Range(4, 3));
    EXPECT_EQ(pixels, Bytes(file.begin() + kData + 1024, file.end()));
}

TEST(DdsWriterTest, PaletteFormatWithoutPaletteIsStoredAsOpaqueWhite) {
    // That is how such pixels read; there is no palette memory to copy.
    Layer l(D3DFMT_P8, 2, 1, 2, 1);
    const Bytes file = Write(l.layer);
    ASSERT_EQ(kData + 1024 + 2, file.size());
    EXPECT_EQ(Bytes(1024, 0xFF), Bytes(file.begin() + kData, file.begin() + kData + 1024));
}

TEST(DdsWriterTest, RowsOfBlockAndPairFormats) {
    struct Case {
        uint32_t format;
        uint32_t width, height;
        uint32_t rowPitch, memoryRows;
        uint32_t rowsWritten, bytesPerRow;
    } cases[] = {
        {D3DFMT_DXT1, 5, 5, 24, 2, 2, 16},   // two block rows of two 8-byte blocks
        {D3DFMT_DXT5, 1, 1, 16, 1, 1, 16},   // one 16-byte block
        {D3DFMT_DXT3, 8, 4, 40, 1, 1, 32},   // rows padded in memory
        {D3DFMT_DXT2, 4, 9, 16, 3, 3, 16},
        {D3DFMT_YUY2, 3, 2, 12, 2, 2, 8},    // two pixel pairs
        {D3DFMT_UYVY, 4, 1, 8, 1, 1, 8},
        {D3DFMT_R8G8_B8G8, 1, 2, 4, 2, 2, 4},
        {D3DFMT_G8R8_G8B8, 5, 1, 12, 1, 1, 12},
        {D3DFMT_A16B16G16R16F, 2, 2, 20, 2, 2, 16},  // padding left out
        {D3DFMT_R8G8B8, 3, 3, 12, 3, 3, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Layer l(c.format, c.width, c.height, c.rowPitch, c.memoryRows);
        const Bytes file = Write(l.layer);
        Bytes expected;
        for (uint32_t r = 0; r < c.rowsWritten; ++r) Append(expected, l.Range(r * c.rowPitch, c.bytesPerRow));
        ASSERT_EQ(kData + expected.size(), file.size());
        EXPECT_EQ(expected, Bytes(file.begin() + kData, file.end()));
        EXPECT_EQ(0u, Le32(file, kPitch));
    }
}

TEST(DdsWriterTest, BoxOffsetsSelectWhereRowsStart) {
    // Plain: a 2x2 box at (1, 2) of 4-byte pixels in 32-byte rows.
    Layer plain(D3DFMT_A8R8G8B8, 2, 2, 32, 4);
    plain.layer.box = {1, 2, 3, 4, 0, 1};
    Bytes expected = plain.Range(2 * 32 + 4, 8);
    Append(expected, plain.Range(3 * 32 + 4, 8));
    Bytes file = Write(plain.layer);
    EXPECT_EQ(expected, Bytes(file.begin() + kData, file.end()));

    // DXT1: a 4x4 box at (4, 4): block row 1, block 1.
    Layer block(D3DFMT_DXT1, 4, 4, 24, 2);
    block.layer.box = {4, 4, 8, 8, 0, 1};
    file = Write(block.layer);
    EXPECT_EQ(block.Range(24 + 8, 8), Bytes(file.begin() + kData, file.end()));
}

TEST(DdsWriterTest, MipChainLargestFirst) {
    Layer l0(D3DFMT_A8R8G8B8, 4, 4, 16, 4, 1, 0);
    Layer* l1 = new Layer(D3DFMT_A8R8G8B8, 2, 2, 8, 2, 1, 100);
    Layer* l2 = new Layer(D3DFMT_A8R8G8B8, 1, 1, 4, 1, 1, 200);
    l0.layer.nextLevel = &l1->layer;
    l1->layer.nextLevel = &l2->layer;
    const Bytes file = Write(l0.layer);
    l0.layer.nextLevel = nullptr;
    l1->layer.nextLevel = nullptr;
    Bytes expected = l0.Range(0, 64);
    Append(expected, l1->Range(0, 16));
    Append(expected, l2->Range(0, 4));
    delete l1;
    delete l2;
    ASSERT_EQ(kData + 84, file.size());
    EXPECT_EQ(0x21007u, Le32(file, kFlags));
    EXPECT_EQ(3u, Le32(file, kMipCount));
    EXPECT_EQ(0x401008u | 0x2u, Le32(file, kCaps));  // alpha format: DDSCAPS_ALPHA too
    EXPECT_EQ(0u, Le32(file, kCaps2));
    EXPECT_EQ(expected, Bytes(file.begin() + kData, file.end()));
}

TEST(DdsWriterTest, CubeChainFaceByFaceEachWithItsLevels) {
    std::vector<Layer*> owned;
    Layer first(D3DFMT_X8R8G8B8, 2, 2, 8, 2, 1, 0);
    Bytes expected;
    ImageLayer* face = &first.layer;
    for (int f = 0; f < 6; ++f) {
        if (f > 0) {
            owned.push_back(new Layer(D3DFMT_X8R8G8B8, 2, 2, 8, 2, 1, static_cast<uint8_t>(f * 40)));
            face->nextFace = &owned.back()->layer;
            face = face->nextFace;
        }
        owned.push_back(new Layer(D3DFMT_X8R8G8B8, 1, 1, 4, 1, 1, static_cast<uint8_t>(f * 40 + 20)));
        face->nextLevel = &owned.back()->layer;
    }
    for (ImageLayer* fc = &first.layer; fc; fc = fc->nextFace)
        for (ImageLayer* lv = fc; lv; lv = lv->nextLevel) {
            const uint8_t* p = static_cast<const uint8_t*>(lv->bits);
            expected.insert(expected.end(), p, p + lv->width * lv->height * 4);
        }
    const Bytes file = Write(first.layer);
    // Unlink before the layers go away: the chain was built by hand.
    for (Layer* l : owned) l->layer.nextFace = l->layer.nextLevel = nullptr;
    first.layer.nextFace = first.layer.nextLevel = nullptr;
    for (Layer* l : owned) delete l;
    ASSERT_EQ(kData + 6 * 20, file.size());
    EXPECT_EQ(0xFE00u, Le32(file, kCaps2));
    EXPECT_EQ(0x401008u, Le32(file, kCaps));
    EXPECT_EQ(0x21007u, Le32(file, kFlags));
    EXPECT_EQ(2u, Le32(file, kMipCount));
    EXPECT_EQ(expected, Bytes(file.begin() + kData, file.end()));
}

TEST(DdsWriterTest, SingleLevelCubeHasComplexButNoMipmapCaps) {
    Layer a(D3DFMT_L8, 1, 1, 1, 1), b(D3DFMT_L8, 1, 1, 1, 1, 1, 9);
    a.layer.nextFace = &b.layer;
    const Bytes file = Write(a.layer);
    a.layer.nextFace = nullptr;
    EXPECT_EQ(0x1008u, Le32(file, kCaps));
    EXPECT_EQ(0xFE00u, Le32(file, kCaps2));
    EXPECT_EQ(0x1007u, Le32(file, kFlags));
    EXPECT_EQ(0u, Le32(file, kMipCount));
}

TEST(DdsWriterTest, VolumeSlicesOneAfterAnother) {
    // 2x2x4 of R5G6B5 in rows of 6 bytes, slices of 3 rows: every slice's
    // two rows of 4 bytes, slice after slice.
    Layer l(D3DFMT_R5G6B5, 2, 2, 6, 3, 4);
    const Bytes file = Write(l.layer);
    Bytes expected;
    for (uint32_t z = 0; z < 4; ++z)
        for (uint32_t y = 0; y < 2; ++y) Append(expected, l.Range(z * 18 + y * 6, 4));
    EXPECT_EQ(0x801007u, Le32(file, kFlags));
    EXPECT_EQ(4u, Le32(file, kDepth));
    EXPECT_EQ(0x200000u, Le32(file, kCaps2));
    EXPECT_EQ(expected, Bytes(file.begin() + kData, file.end()));

    // A box starting at slice 1 takes slices 1 and 2.
    l.layer.box = {0, 0, 2, 2, 1, 3};
    l.layer.depth = 2;
    const Bytes part = Write(l.layer);
    EXPECT_EQ(2u, Le32(part, kDepth));
    EXPECT_EQ(Bytes(expected.begin() + 8, expected.begin() + 24), Bytes(part.begin() + kData, part.end()));
}

TEST(DdsWriterTest, FormatOutsideTheTableWritesNothing) {
    for (uint32_t format : {uint32_t{D3DFMT_D24S8}, uint32_t{D3DFMT_D32}, uint32_t{0}, 0x12345678u,
                            PrivateFormatA16L16}) {
        Layer l(format, 2, 2, 8, 2);
        EXPECT_TRUE(Write(l.layer, E_FAIL).empty());
    }
}

TEST(DdsWriterTest, FailedWriteIsReportedAsFail) {
    Layer l(D3DFMT_A8R8G8B8, 16, 16, 64, 16);  // 1024 bytes of pixels: more than fits
    MemoryStream out;
    FailAllocationsFrom(1);
    const HRESULT hr = WriteDds(l.layer, out.stream());
    ResetAllocationCount();
    EXPECT_EQ(E_FAIL, hr);
    const Bytes bytes = out.Bytes();
    ASSERT_GE(bytes.size(), kData);
    EXPECT_EQ(0x20534444u, Le32(bytes, 0));
}

TEST(DdsWriterTest, TableHoldsTheFortyEightFormats) {
    size_t rows = 0;
    std::set<uint32_t> seen;
    for (const DdsFormatRow* r = DdsFormatTable; r->format != 0; ++r) {
        ++rows;
        EXPECT_TRUE(seen.insert(r->format).second) << r->format;
        EXPECT_EQ(32u, r->pixelFormat.size);
        EXPECT_EQ(r, FindDdsFormat(r->format));
        // Every stored format is catalogued, so its bits per pixel are known.
        EXPECT_EQ(r->format, FindPixelFormat(r->format).format);
    }
    EXPECT_EQ(48u, rows);
    EXPECT_EQ(nullptr, FindDdsFormat(D3DFMT_D24S8));
    const DdsFormatRow* d16 = FindDdsFormat(D3DFMT_D16_LOCKABLE);
    ASSERT_NE(nullptr, d16);
    EXPECT_EQ(0x400u, d16->pixelFormat.flags);
    EXPECT_EQ(16u, d16->pixelFormat.rgbBitCount);
    EXPECT_EQ(0xFFFFu, d16->pixelFormat.gBitMask);
    EXPECT_EQ(MAKEFOURCC('Y', 'U', 'Y', '2'), FindDdsFormat(D3DFMT_YUY2)->pixelFormat.fourCC);
    EXPECT_EQ(116u, FindDdsFormat(D3DFMT_A32B32G32R32F)->pixelFormat.fourCC);
    EXPECT_EQ(0x3FF00000u, FindDdsFormat(D3DFMT_A2B10G10R10)->pixelFormat.rBitMask);
}

}  // namespace
}  // namespace z3az
