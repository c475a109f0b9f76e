// PFM files byte for byte, failures, and the files read back by
// independent decoders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
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
using Bytes = std::vector<uint8_t>;

void Describe(ImageLayer& layer, void* bits, uint32_t w, uint32_t h, uint32_t rowPitch) {
    layer.format = D3DFMT_A32B32G32R32F;
    layer.bits = bits;
    layer.width = w;
    layer.height = h;
    layer.depth = 1;
    layer.box = {0, 0, w, h, 0, 1};
    layer.rowPitch = rowPitch;
    layer.slicePitch = rowPitch * h;
}

Bytes FloatBytes(std::initializer_list<float> values) {
    Bytes b(values.size() * 4);
    std::memcpy(b.data(), std::data(values), b.size());
    return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes c = a;
    c.insert(c.end(), b.begin(), b.end());
    return c;
}

TEST(PfmWriterTest, TwoByOneIs41Bytes) {
    float pixels[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ImageLayer layer;
    Describe(layer, pixels, 2, 1, 32);
    MemoryStream out;
    ASSERT_EQ(S_OK, WritePfm(layer, out.stream()));
    const Bytes expected = Concat(Text("PF\n2 1\n-1.000000\n"), FloatBytes({1, 2, 3, 5, 6, 7}));
    ASSERT_EQ(41u, expected.size());
    EXPECT_EQ(expected, out.Bytes());
}

TEST(PfmWriterTest, RowsGoBottomUpAndValuesAreKept) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Rows padded to 48 bytes; the padding is not written.
    float pixels[2 * 12] = {-1.5f, inf, nan, 9, 0, 0, 0, 0, 99, 99, 99, 99,
                            -inf, -0.0f, 1e-40f, 9, 0, 0, 0, 0, 99, 99, 99, 99};
    ImageLayer layer;
    Describe(layer, pixels, 1, 2, 48);
    MemoryStream out;
    ASSERT_EQ(S_OK, WritePfm(layer, out.stream()));
    Bytes expected = Text("PF\n1 2\n-1.000000\n");
    Bytes second(12), first(12);
    std::memcpy(second.data(), &pixels[12], 12);
    std::memcpy(first.data(), &pixels[0], 12);
    expected = Concat(Concat(expected, second), first);
    EXPECT_EQ(expected, out.Bytes());
}

TEST(PfmWriterTest, HeightZeroGivesTheHeaderOnly) {
    float pixel[4] = {};
    ImageLayer layer;
    Describe(layer, pixel, 7, 0, 7 * 16);
    MemoryStream out;
    ASSERT_EQ(S_OK, WritePfm(layer, out.stream()));
    EXPECT_EQ(Text("PF\n7 0\n-1.000000\n"), out.Bytes());
}

TEST(PfmWriterTest, OtherFormatsAreRefusedWithoutWriting) {
    float pixel[4] = {};
    ImageLayer layer;
    Describe(layer, pixel, 1, 1, 16);
    layer.format = D3DFMT_A16B16G16R16F;
    MemoryStream out;
    ResetAllocationCount();
    EXPECT_EQ(E_FAIL, WritePfm(layer, out.stream()));
    EXPECT_TRUE(out.Bytes().empty());
}

TEST(PfmWriterTest, NoMemoryForTheRowWritesNothing) {
    float pixel[4] = {};
    ImageLayer layer;
    Describe(layer, pixel, 1, 1, 16);
    MemoryStream out;
    ResetAllocationCount();
    FailAllocationAt(1);
    EXPECT_EQ(E_OUTOFMEMORY, WritePfm(layer, out.stream()));
    ResetAllocationCount();
    EXPECT_TRUE(out.Bytes().empty());
}

TEST(PfmWriterTest, RowsTooLongForOneWriteAreRefused) {
    // 12 bytes a pixel: a width of 2^30 would need a 12 GiB row.
    float pixel[4] = {};
    ImageLayer layer;
    Describe(layer, pixel, 1u << 30, 1, 0);
    MemoryStream out;
    ResetAllocationCount();
    EXPECT_EQ(E_FAIL, WritePfm(layer, out.stream()));
    EXPECT_EQ(0u, AllocationCount());
    EXPECT_TRUE(out.Bytes().empty());
}

TEST(PfmWriterTest, FailedWriteIsReportedAsFail) {
    std::vector<float> pixels(40 * 4 * 4, 0.25f);
    ImageLayer layer;
    Describe(layer, pixels.data(), 40, 4, 40 * 16);
    MemoryStream out;
    ResetAllocationCount();
    FailAllocationsFrom(2);  // the row buffer succeeds; the stream cannot grow
    const HRESULT hr = WritePfm(layer, out.stream());
    ResetAllocationCount();
    EXPECT_EQ(E_FAIL, hr);
    const Bytes bytes = out.Bytes();
    const Bytes header = Text("PF\n40 4\n-1.000000\n");
    ASSERT_GE(bytes.size(), header.size());
    EXPECT_EQ(header, Bytes(bytes.begin(), bytes.begin() + header.size()));
}

TEST(PfmWriterTest, IndependentReadersSeeTheValues) {
    const uint32_t w = 4, h = 3;
    std::vector<float> pixels(w * h * 4);
    for (uint32_t i = 0; i < w * h; ++i) {
        pixels[i * 4 + 0] = 0.05f * i;
        pixels[i * 4 + 1] = 1.0f - 0.07f * i;
        pixels[i * 4 + 2] = (i % 3) * 0.3f;
        pixels[i * 4 + 3] = 1.0f;
    }
    pixels[0] = 2.5f;  // above 1 for the float reader
    ImageLayer layer;
    Describe(layer, pixels.data(), w, h, w * 16);
    MemoryStream out;
    ASSERT_EQ(S_OK, WritePfm(layer, out.stream()));
    test::ScratchDir dir;
    const std::string file = dir.File("picture.pfm");
    test::WriteFileBytes(file, out.Bytes());

    auto check = [&](const test::ReadPixels& got, const char* reader, float tolerance, bool clamps) {
        SCOPED_TRACE(reader);
        ASSERT_EQ(w, got.width);
        ASSERT_EQ(h, got.height);
        ASSERT_GE(got.channels, 3u);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t c = 0; c < 3; ++c) {
                    float want = pixels[(y * w + x) * 4 + c];
                    if (clamps) want = std::min(1.0f, std::max(0.0f, want));
                    EXPECT_NEAR(want, got.At(x, y, c), tolerance) << x << "," << y << " c" << c;
                }
    };
    std::string error;
    test::ReadPixels got;
    ASSERT_TRUE(test::ReadWithOiio(file, &got, &error)) << error;
    check(got, "oiiotool", 1e-5f, false);
    ASSERT_TRUE(test::ReadWithMagick(file, &got, &error)) << error;
    check(got, "ImageMagick", 1.0f / 65535 + 1e-5f, true);  // a 16-bit integer build
}

}  // namespace
}  // namespace z3az
