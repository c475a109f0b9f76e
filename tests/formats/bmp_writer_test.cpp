#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "formats/writers.h"
#include "platform/heap.h"
#include "support/file_helpers.h"
#include "support/layer_helpers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::Le16;
using test::Le32;
using test::PointLayerAt;
using test::StreamBytes;

struct Written {
    HRESULT hr;
    std::vector<uint8_t> bytes;
};

Written WriteToMemory(const ImageLayer& layer) {
    OutputStream stream;
    EXPECT_EQ(stream.Open(nullptr, Memory), S_OK);
    Written w;
    w.hr = WriteBmp(layer, stream);
    w.bytes = StreamBytes(stream);
    return w;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<uint8_t> U32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// File and info header as the format describes them, built field by field.
std::vector<uint8_t> Headers(uint32_t fileSize, uint32_t offBits, uint32_t infoSize, int32_t width, int32_t height,
                             uint16_t bits, uint32_t compression) {
    return Concat({{'B', 'M'}, U32(fileSize), {0, 0, 0, 0}, U32(offBits), U32(infoSize), U32(width), U32(height),
                   {1, 0, uint8_t(bits), 0}, U32(compression), U32(0), U32(2834), U32(2834), U32(0), U32(0)});
}

TEST(BmpWriter, ThreeByTwoX8R8G8B8ByteForByte) {
    uint8_t px[2][12];
    for (int i = 0; i < 24; ++i) px[i / 12][i % 12] = uint8_t(0x10 + i);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px, 3, 2, 12);
    const Written w = WriteToMemory(layer);
    ASSERT_EQ(w.hr, S_OK);
    const std::vector<uint8_t> row0(px[0], px[0] + 12), row1(px[1], px[1] + 12);
    const std::vector<uint8_t> expected = Concat({Headers(80, 54, 40, 3, 2, 32, 0), row1, row0, {0, 0}});
    EXPECT_EQ(expected.size(), 80u);
    EXPECT_EQ(w.bytes, expected);
}

TEST(BmpWriter, ThreeByOneR8G8B8PadsEachRow) {
    uint8_t px[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_R8G8B8, px, 3, 1, 9);
    const Written w = WriteToMemory(layer);
    ASSERT_EQ(w.hr, S_OK);
    // total 54 + 12 = 66, file 68
    EXPECT_EQ(w.bytes, Concat({Headers(68, 54, 40, 3, 1, 24, 0), {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}, {0, 0}}));
}

TEST(BmpWriter, OneByOneP8CarriesThePalette) {
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 0x77};
    uint8_t px = 5;
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_P8, &px, 1, 1, 1);
    layer.palette = palette;
    const Written w = WriteToMemory(layer);
    ASSERT_EQ(w.hr, S_OK);
    std::vector<uint8_t> table;
    for (int i = 0; i < 256; ++i) table.insert(table.end(), {palette[i].peBlue, palette[i].peGreen, palette[i].peRed, 0});
    // total 1078 + 4 = 1082, file 1084
    EXPECT_EQ(w.bytes, Concat({Headers(1084, 1078, 40, 1, 1, 8, 0), table, {5, 0, 0, 0}, {0, 0}}));
}

TEST(BmpWriter, R5G6B5HasMasksInTheInfoHeader) {
    uint16_t px[2] = {0xF800, 0x07E0};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_R5G6B5, px, 2, 1, 4);
    const Written w = WriteToMemory(layer);
    ASSERT_EQ(w.hr, S_OK);
    // total 66 + 4 = 70, file 72
    EXPECT_EQ(w.bytes, Concat({Headers(72, 66, 52, 2, 1, 16, 3), U32(0xF800), U32(0x07E0), U32(0x001F),
                               {0x00, 0xF8, 0xE0, 0x07}, {0, 0}}));
}

TEST(BmpWriter, WidthZeroGivesHeadersAndClosingBytes) {
    uint8_t px[4] = {};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px, 0, 5, 4);
    const Written w = WriteToMemory(layer);
    ASSERT_EQ(w.hr, S_OK);
    EXPECT_EQ(w.bytes, Concat({Headers(56, 54, 40, 0, 5, 32, 0), {0, 0}}));
}

struct FormatCase {
    uint32_t format;
    uint32_t infoSize;
    uint32_t bitCount;
    uint32_t compression;
    std::vector<uint32_t> masks;
    char table;  // 0 none, 'r' 3-3-2 ramp, 'g' grey ramp, 'p' palette
};

uint8_t Round(unsigned k, unsigned max) { return uint8_t((k * 255 + max / 2) / max); }

TEST(BmpWriter, EveryFormatHeaderMasksTableRowsAndPadding) {
    const FormatCase cases[] = {
        {D3DFMT_R8G8B8, 40, 24, 0, {}, 0},
        {D3DFMT_A8R8G8B8, 40, 32, 0, {}, 0},
        {D3DFMT_X8R8G8B8, 40, 32, 0, {}, 0},
        {D3DFMT_X1R5G5B5, 40, 16, 0, {}, 0},
        {D3DFMT_R5G6B5, 52, 16, 3, {0xF800, 0x07E0, 0x001F}, 0},
        {D3DFMT_X4R4G4B4, 52, 16, 3, {0x0F00, 0x00F0, 0x000F}, 0},
        {D3DFMT_A1R5G5B5, 56, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}, 0},
        {D3DFMT_A4R4G4B4, 56, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}, 0},
        {D3DFMT_A8R3G3B2, 56, 16, 3, {0x00E0, 0x001C, 0x0003, 0xFF00}, 0},
        {D3DFMT_A8L8, 56, 16, 3, {0x00FF, 0x00FF, 0x00FF, 0xFF00}, 0},
        {D3DFMT_L16, 52, 16, 3, {0xFFFF, 0xFFFF, 0xFFFF}, 0},
        {D3DFMT_X8B8G8R8, 52, 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, 0},
        {D3DFMT_A8B8G8R8, 56, 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, 0},
        {D3DFMT_A2B10G10R10, 56, 32, 3, {0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000}, 0},
        {D3DFMT_A2R10G10B10, 56, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, 0},
        {D3DFMT_G16R16, 52, 32, 3, {0x0000FFFF, 0xFFFF0000, 0}, 0},
        {D3DFMT_R3G3B2, 40, 8, 0, {}, 'r'},
        {D3DFMT_L8, 40, 8, 0, {}, 'g'},
        {D3DFMT_P8, 40, 8, 0, {}, 'p'},
    };
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i ^ 0x5A), uint8_t(i * 7), uint8_t(255 - i), 0xEE};
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.format);
        const uint32_t bpp = c.bitCount / 8, width = 3, height = 2;
        const uint32_t rowBytes = width * bpp, stride = (rowBytes + 3) / 4 * 4;
        // Rows at a pitch wider than the row, starting one row and one pixel in.
        const uint32_t pitch = rowBytes + bpp + 5;
        std::vector<uint8_t> mem(pitch * (height + 1));
        for (size_t i = 0; i < mem.size(); ++i) mem[i] = uint8_t(0xA0 + i * 13);
        ImageLayer layer;
        PointLayerAt(layer, c.format, mem.data(), width, height, pitch, 1, 1);
        layer.palette = palette;
        const Written w = WriteToMemory(layer);
        ASSERT_EQ(w.hr, S_OK);
        const std::vector<uint8_t>& b = w.bytes;

        const uint32_t tableSize = c.table ? 1024 : 0;
        const uint32_t offBits = 14 + c.infoSize + tableSize;
        const uint32_t total = offBits + height * stride;
        ASSERT_EQ(b.size(), (total + 3) / 4 * 4);
        EXPECT_EQ(b.size() - total, 2u);
        EXPECT_EQ(Le16(b, 0), 0x4D42u);
        EXPECT_EQ(Le32(b, 2), b.size());
        EXPECT_EQ(Le32(b, 6), 0u);
        EXPECT_EQ(Le32(b, 10), offBits);
        EXPECT_EQ(Le32(b, 14), c.infoSize);
        EXPECT_EQ(Le32(b, 18), width);
        EXPECT_EQ(Le32(b, 22), height);
        EXPECT_EQ(Le16(b, 26), 1u);
        EXPECT_EQ(Le16(b, 28), c.bitCount);
        EXPECT_EQ(Le32(b, 30), c.compression);
        EXPECT_EQ(Le32(b, 34), 0u);
        EXPECT_EQ(Le32(b, 38), 2834u);
        EXPECT_EQ(Le32(b, 42), 2834u);
        EXPECT_EQ(Le32(b, 46), 0u);
        EXPECT_EQ(Le32(b, 50), 0u);
        ASSERT_EQ(c.masks.size(), (c.infoSize - 40) / 4);
        for (size_t m = 0; m < c.masks.size(); ++m) EXPECT_EQ(Le32(b, 54 + 4 * m), c.masks[m]) << "mask " << m;

        for (uint32_t i = 0; c.table && i < 256; ++i) {
            const size_t at = 14 + c.infoSize + 4 * i;
            uint8_t r, g, bl;
            if (c.table == 'r') {
                r = Round(i >> 5, 7), g = Round((i >> 2) & 7, 7), bl = Round(i & 3, 3);
            } else if (c.table == 'g') {
                r = g = bl = uint8_t(i);
            } else {
                r = palette[i].peRed, g = palette[i].peGreen, bl = palette[i].peBlue;
            }
            ASSERT_EQ(b[at], bl) << i;
            ASSERT_EQ(b[at + 1], g) << i;
            ASSERT_EQ(b[at + 2], r) << i;
            ASSERT_EQ(b[at + 3], 0) << i;
        }

        for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
            const uint32_t imageRow = height - 1 - fileRow;  // bottom-up
            const uint8_t* src = mem.data() + (1 + imageRow) * pitch + bpp;
            const size_t at = offBits + fileRow * stride;
            EXPECT_EQ(std::vector<uint8_t>(b.begin() + at, b.begin() + at + rowBytes),
                      std::vector<uint8_t>(src, src + rowBytes));
            for (uint32_t p = rowBytes; p < stride; ++p) EXPECT_EQ(b[at + p], 0) << "padding";
        }
        EXPECT_EQ(b[b.size() - 2], 0);
        EXPECT_EQ(b[b.size() - 1], 0);
    }
}

TEST(BmpWriter, RefusesWhatItCannotDescribeBeforeWriting) {
    uint8_t px[16] = {};
    struct Case {
        uint32_t format;
        uint32_t width, height;
        bool palette;
    } const cases[] = {
        {D3DFMT_A8, 1, 1, false},
        {D3DFMT_DXT1, 4, 4, false},
        {D3DFMT_D24S8, 1, 1, false},
        {D3DFMT_A16B16G16R16, 1, 1, false},
        {0, 1, 1, false},
        {D3DFMT_P8, 1, 1, false},                 // no palette to store
        {D3DFMT_X8R8G8B8, 0x40000000u, 1, false},  // bfSize would need 33 bits
        {D3DFMT_R8G8B8, 0x10000, 0x10000, false},  // 12 GiB of rows
        {D3DFMT_X8R8G8B8, 0, 0x80000000u, false},  // height does not fit biHeight
        {D3DFMT_L8, 0x80000000u, 0, false},        // width does not fit biWidth
    };
    for (const Case& c : cases) {
        ImageLayer layer;
        PointLayerAt(layer, c.format, px, c.width, c.height, 4);
        const Written w = WriteToMemory(layer);
        EXPECT_EQ(w.hr, E_FAIL) << c.format << " " << c.width << "x" << c.height;
        EXPECT_TRUE(w.bytes.empty());
    }
}

TEST(BmpWriter, LargestSizesThatFitAreAccepted) {
    // 0x3FFFFFF2 wide at 32 bits, zero rows: the header fields still fit.
    uint8_t px[4] = {};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px, 0x3FFFFFF0u, 0, 4);
    const Written w = WriteToMemory(layer);
    EXPECT_EQ(w.hr, S_OK);
    EXPECT_EQ(w.bytes.size(), 56u);
}

TEST(BmpWriter, AFailedWriteIsEFailAtOnce) {
    std::vector<uint8_t> px(128 * 4 * 128, 0x42);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px.data(), 128, 128, 512);
    // Memory that cannot grow past its first 1024 bytes.
    OutputStream stream;
    ASSERT_EQ(stream.Open(nullptr, Memory), S_OK);
    FailAllocationsFrom(1);
    const HRESULT hr = WriteBmp(layer, stream);
    FailAllocationAt(0);
    EXPECT_EQ(hr, E_FAIL);  // not the stream's E_OUTOFMEMORY
    // What went out before stays: the headers and the first rows.
    EXPECT_EQ(stream.committed, 54u + 1 * 512u);

    // A file whose WriteFile refuses: the first 64 KiB block fails.
    test::ScratchDir dir;
    OutputStream file;
    ASSERT_EQ(file.Open(dir.File("f.bmp").c_str(), FileA), S_OK);
    test::WriteFileRecorder recorder(1);
    EXPECT_EQ(WriteBmp(layer, file), E_FAIL);
    EXPECT_EQ(recorder.lengths(), std::vector<uint32_t>{65536});
}

// Pixels as an independent decoder sees them: Pillow, or ImageMagick for the
// 52-byte info header with masks, which this Pillow release does not read.
std::vector<std::vector<int>> DecodeIndependently(const std::string& path, bool imageMagick) {
    std::string script;
    if (imageMagick) {
        script = "/usr/bin/identify -format '%w %h\\n' " + path + " && /usr/bin/convert " + path +
                 " -depth 8 rgb:- | od -An -tu1 -v";
    } else {
        script = std::string(test::DistributionPython()) +
                 " -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                 "print(im.size[0], im.size[1]); "
                 "[print(*p) for p in im.convert('RGB').getdata()]\" " + path;
    }
    std::string out;
    EXPECT_EQ(test::RunCommand(script + " 2>&1", &out), 0) << out;
    std::istringstream in(out);
    std::vector<std::vector<int>> pixels;
    int w = 0, h = 0;
    in >> w >> h;
    pixels.push_back({w, h});
    int r, g, b;
    while (in >> r >> g >> b) pixels.push_back({r, g, b});
    return pixels;
}

struct ReadBackCase {
    const char* name;
    uint32_t format;
    uint32_t bpp;
    // Channel maxima of the stored pixel and how to pack one
    uint32_t (*pack)(uint32_t x, uint32_t y);
    std::vector<int> (*expect)(uint32_t x, uint32_t y);
};

int Expand(uint32_t v, uint32_t max) { return int((v * 255 + max / 2) / max); }

TEST(BmpWriter, IndependentDecodersSeeThePixelsWeWrote) {
    const uint32_t W = 5, H = 3;  // odd width: every format needs row padding except 32-bit
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i * 5), uint8_t(i * 11), uint8_t(255 - i), 0};
    static const PALETTEENTRY* pal = palette;
    const ReadBackCase cases[] = {
        {"24-bit", D3DFMT_R8G8B8, 3,
         [](uint32_t x, uint32_t y) { return (40 * x) << 16 | (70 * y) << 8 | (x * 30 + y * 50); },
         [](uint32_t x, uint32_t y) { return std::vector<int>{int(40 * x), int(70 * y), int(x * 30 + y * 50)}; }},
        {"32-bit", D3DFMT_X8R8G8B8, 4,
         [](uint32_t x, uint32_t y) { return 0xAB000000u | (200 - 40 * x) << 16 | (10 + 90 * y) << 8 | (x * y * 17); },
         [](uint32_t x, uint32_t y) { return std::vector<int>{int(200 - 40 * x), int(10 + 90 * y), int(x * y * 17)}; }},
        {"16-bit bit fields", D3DFMT_R5G6B5, 2,
         [](uint32_t x, uint32_t y) { return (x * 7) << 11 | (y * 31) << 5 | (31 - x * 6); },
         [](uint32_t x, uint32_t y) { return std::vector<int>{Expand(x * 7, 31), Expand(y * 31, 63), Expand(31 - x * 6, 31)}; }},
        {"8-bit palette", D3DFMT_P8, 1, [](uint32_t x, uint32_t y) { return x * 40 + y * 7; },
         [](uint32_t x, uint32_t y) {
             const PALETTEENTRY& e = pal[x * 40 + y * 7];
             return std::vector<int>{e.peRed, e.peGreen, e.peBlue};
         }},
    };
    test::ScratchDir dir;
    for (const ReadBackCase& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t pitch = W * c.bpp + 3;
        std::vector<uint8_t> mem(pitch * H, 0xCC);
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                const uint32_t v = c.pack(x, y);
                for (uint32_t k = 0; k < c.bpp; ++k) mem[y * pitch + x * c.bpp + k] = uint8_t(v >> (8 * k));
            }
        ImageLayer layer;
        PointLayerAt(layer, c.format, mem.data(), W, H, pitch);
        layer.palette = palette;
        const std::string path = dir.File(std::string("read-") + std::to_string(c.format) + ".bmp");
        {
            OutputStream stream;
            ASSERT_EQ(stream.Open(path.c_str(), FileA), S_OK);
            ASSERT_EQ(WriteBmp(layer, stream), S_OK);
        }
        const auto pixels = DecodeIndependently(path, c.format == D3DFMT_R5G6B5);
        ASSERT_EQ(pixels.size(), 1 + W * H);
        EXPECT_EQ(pixels[0], (std::vector<int>{int(W), int(H)}));
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                const std::vector<int> want = c.expect(x, y);
                const std::vector<int>& got = pixels[1 + y * W + x];
                for (int k = 0; k < 3; ++k) {
                    // Decoders widen 5- and 6-bit channels by bit replication
                    // or by scaling; the two differ by at most 4.
                    EXPECT_NEAR(got[k], want[k], c.bpp == 2 ? 4 : 0) << "x " << x << " y " << y << " channel " << k;
                }
            }
    }
}

}  // namespace
}  // namespace z3az
