// TGA files byte for byte, and read back by decoders nobody here wrote.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/writers.h"
#include "image/image_layer.h"
#include "platform/heap.h"
#include "support/file_helpers.h"
#include "support/image_readers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::MemoryStream;

void Describe(ImageLayer& layer, uint32_t format, void* bits, uint32_t width, uint32_t height,
              uint32_t rowPitch) {
    layer.format = format;
    layer.bits = bits;
    layer.width = width;
    layer.height = height;
    layer.depth = 1;
    layer.box = {0, 0, width, height, 0, 1};
    layer.rowPitch = rowPitch;
    layer.slicePitch = rowPitch * height;
}

std::vector<uint8_t> Header(uint8_t w, uint8_t h, uint8_t depth, uint8_t descriptor) {
    std::vector<uint8_t> b = {0x0D, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, w, 0, h, 0, depth, descriptor};
    const std::string id = "Saved by Z3AZ";
    for (char c : id) b.push_back(static_cast<uint8_t>(c));
    return b;
}

TEST(TgaWriterTest, TwoByTwoA8R8G8B8Is47Bytes) {
    std::vector<uint8_t> pixels(16);
    for (int i = 0; i < 16; ++i) pixels[i] = static_cast<uint8_t>(0x10 + i);
    ImageLayer layer;
    Describe(layer, D3DFMT_A8R8G8B8, pixels.data(), 2, 2, 8);
    MemoryStream out;
    ASSERT_EQ(S_OK, out.openResult());
    ASSERT_EQ(S_OK, WriteTga(layer, out.stream()));
    std::vector<uint8_t> expected = Header(2, 2, 0x20, 0x28);
    expected.insert(expected.end(), pixels.begin(), pixels.end());
    ASSERT_EQ(47u, expected.size());
    EXPECT_EQ(expected, out.Bytes());
}

TEST(TgaWriterTest, ThreeByOneR8G8B8Is40Bytes) {
    const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ImageLayer layer;
    Describe(layer, D3DFMT_R8G8B8, const_cast<uint8_t*>(pixels.data()), 3, 1, 9);
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteTga(layer, out.stream()));
    std::vector<uint8_t> expected = Header(3, 1, 24, 0x20);
    expected.insert(expected.end(), pixels.begin(), pixels.end());
    ASSERT_EQ(40u, expected.size());
    EXPECT_EQ(expected, out.Bytes());
}

TEST(TgaWriterTest, PaddedRowsAndOffsetBoxLeaveOutWhatIsNotThePicture) {
    // A 4x3 R8G8B8 surface with 16-byte rows; the layer is its 2x2 box at
    // (1, 1). Neither the padding nor the pixels around the box appear.
    std::vector<uint8_t> surface(16 * 3);
    for (size_t i = 0; i < surface.size(); ++i) surface[i] = static_cast<uint8_t>(i);
    ImageLayer layer;
    Describe(layer, D3DFMT_R8G8B8, surface.data(), 2, 2, 16);
    layer.box = {1, 1, 3, 3, 0, 1};
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteTga(layer, out.stream()));
    std::vector<uint8_t> expected = Header(2, 2, 24, 0x20);
    for (int y = 1; y <= 2; ++y)
        for (int x = 3; x < 9; ++x) expected.push_back(static_cast<uint8_t>(y * 16 + x));
    EXPECT_EQ(expected, out.Bytes());
}

TEST(TgaWriterTest, OtherFormatsAreWrittenAs24Bit) {
    // The writer does not validate: anything but A8R8G8B8 gets 3 bytes a pixel.
    const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    ImageLayer layer;
    Describe(layer, D3DFMT_X8R8G8B8, const_cast<uint8_t*>(pixels.data()), 2, 1, 8);
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteTga(layer, out.stream()));
    const std::vector<uint8_t> bytes = out.Bytes();
    ASSERT_EQ(18u + 13u + 6u, bytes.size());
    EXPECT_EQ(24, bytes[16]);
    EXPECT_EQ(0x20, bytes[17]);
}

TEST(TgaWriterTest, SizesBeyondTheHeaderAreRefusedBeforeWriting) {
    uint8_t pixel[4] = {};
    struct Case {
        uint32_t width, height;
    } cases[] = {{65536, 1}, {1, 65536}, {0x10002, 0x10002}, {0xFFFFFFFF, 1}};
    for (const Case& c : cases) {
        ImageLayer layer;
        Describe(layer, D3DFMT_A8R8G8B8, pixel, c.width, c.height, 0);
        MemoryStream out;
        EXPECT_EQ(E_FAIL, WriteTga(layer, out.stream()));
        EXPECT_TRUE(out.Bytes().empty());
    }
    // The largest size the header holds is accepted (one row, no pixels read
    // beyond it: a height of 0).
    ImageLayer layer;
    Describe(layer, D3DFMT_R8G8B8, pixel, 65535, 0, 65535 * 3);
    MemoryStream out;
    EXPECT_EQ(S_OK, WriteTga(layer, out.stream()));
    const std::vector<uint8_t> bytes = out.Bytes();
    ASSERT_EQ(31u, bytes.size());
    EXPECT_EQ(0xFF, bytes[12]);
    EXPECT_EQ(0xFF, bytes[13]);
}

TEST(TgaWriterTest, FailedWriteIsPassedOnUnchanged) {
    // The memory stream cannot grow past its first 1024 bytes: the rows of a
    // 32x32 picture fail with the stream's own code, after the header.
    std::vector<uint8_t> pixels(32 * 32 * 4, 0x55);
    ImageLayer layer;
    Describe(layer, D3DFMT_A8R8G8B8, pixels.data(), 32, 32, 32 * 4 + 4);  // padded: row by row
    MemoryStream out;
    FailAllocationsFrom(1);
    const HRESULT hr = WriteTga(layer, out.stream());
    ResetAllocationCount();
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    const std::vector<uint8_t> bytes = out.Bytes();
    ASSERT_GE(bytes.size(), 31u);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 18, "Saved by Z3AZ", 13));
    EXPECT_LE(bytes.size(), 1024u);
}

// A picture with distinct colours and alpha values, read back by three
// independent decoders.
TEST(TgaWriterTest, IndependentReadersSeeTheSamePixels) {
    const uint32_t w = 5, h = 3;
    for (uint32_t format : {uint32_t{D3DFMT_A8R8G8B8}, uint32_t{D3DFMT_R8G8B8}}) {
        SCOPED_TRACE(format);
        const uint32_t bpp = format == D3DFMT_A8R8G8B8 ? 4 : 3;
        std::vector<uint8_t> pixels(w * h * bpp);
        for (uint32_t i = 0; i < w * h; ++i) {
            pixels[i * bpp + 0] = static_cast<uint8_t>(i * 17);        // blue
            pixels[i * bpp + 1] = static_cast<uint8_t>(255 - i * 13);  // green
            pixels[i * bpp + 2] = static_cast<uint8_t>(i * 7 + 3);     // red
            if (bpp == 4) pixels[i * bpp + 3] = static_cast<uint8_t>(40 + i * 10);
        }
        ImageLayer layer;
        Describe(layer, format, pixels.data(), w, h, w * bpp);
        MemoryStream out;
        ASSERT_EQ(S_OK, WriteTga(layer, out.stream()));
        test::ScratchDir dir;
        const std::string file = dir.File("picture.tga");
        test::WriteFileBytes(file, out.Bytes());

        auto check = [&](const test::ReadPixels& got, const char* reader) {
            SCOPED_TRACE(reader);
            ASSERT_EQ(w, got.width);
            ASSERT_EQ(h, got.height);
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* p = &pixels[(y * w + x) * bpp];
                    EXPECT_NEAR(p[2] / 255.0f, got.At(x, y, 0), 1e-3f);
                    EXPECT_NEAR(p[1] / 255.0f, got.At(x, y, 1), 1e-3f);
                    EXPECT_NEAR(p[0] / 255.0f, got.At(x, y, 2), 1e-3f);
                    if (bpp == 4 && got.channels == 4) {
                        EXPECT_NEAR(p[3] / 255.0f, got.At(x, y, 3), 1e-3f);
                    }
                }
            }
        };
        std::string error;
        test::ReadPixels got;
        ASSERT_TRUE(test::ReadWithOiio(file, &got, &error)) << error;
        EXPECT_EQ(bpp, got.channels);
        check(got, "oiiotool");
        ASSERT_TRUE(test::ReadWithMagick(file, &got, &error)) << error;
        check(got, "ImageMagick");
        ASSERT_TRUE(test::ReadWithPillow(file, &got, &error)) << error;
        check(got, "Pillow");
    }
}

}  // namespace
}  // namespace z3az
