// Radiance RGBE files: the header with its time stamp, the RGBE reduction,
// the run-length encoding of the planes, size limits, failures, and the
// files read back by independent decoders.
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
#include "platform/win_time.h"
#include "support/file_helpers.h"
#include "support/image_readers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::MemoryStream;
using Bytes = std::vector<uint8_t>;

struct Pixel {
    float r, g, b, a;
};

// A float picture and the layer that describes it.
struct Picture {
    uint32_t width, height;
    std::vector<Pixel> pixels;
    ImageLayer layer;
    Picture(uint32_t w, uint32_t h, Pixel fill = {0, 0, 0, 1}) : width(w), height(h), pixels((w * h) != 0 ? w * h : 1, fill) {
        layer.format = D3DFMT_A32B32G32R32F;
        layer.bits = pixels.data();
        layer.width = w;
        layer.height = h;
        layer.depth = 1;
        layer.box = {0, 0, w, h, 0, 1};
        layer.rowPitch = w * 16;
        layer.slicePitch = w * h * 16;
    }
    Pixel& at(uint32_t x, uint32_t y) { return pixels[y * width + x]; }
};

class HdrWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        SYSTEMTIME t = {};
        t.wYear = 2006;
        t.wMonth = 2;
        t.wDay = 3;
        t.wHour = 14;
        t.wMinute = 5;
        t.wSecond = 9;
        SetFixedLocalTime(&t);
    }
    void TearDown() override { SetFixedLocalTime(nullptr); }
};

std::string HeaderText(uint32_t width, uint32_t height) {
    return "#?RADIANCE\n#File created by Ruzodivoz (R) Z3AZ library\nFORMAT=32-bit_rle_rgbe\n"
           "#Timestamp: 14:05:09 02/03/06\n\n-Y " +
           std::to_string(height) + " +X " + std::to_string(width) + "\n";
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes TextBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Runs of one value across a whole plane: 127-byte runs, then the rest (a
// last single byte is a literal group of 1).
Bytes ConstantPlane(uint8_t v, uint32_t count) {
    Bytes b;
    while (count >= 2) {
        const uint32_t n = count > 127 ? 127 : count;
        b.push_back(static_cast<uint8_t>(128 + n));
        b.push_back(v);
        count -= n;
    }
    if (count == 1) {
        b.push_back(1);
        b.push_back(v);
    }
    return b;
}

Bytes ScanlineStart(uint32_t width) {
    return {2, 2, static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width & 0xFF)};
}

TEST_F(HdrWriterTest, HeaderOf640x480AtAFixedTime) {
    Picture p(640, 480);
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    const Bytes bytes = out.Bytes();
    const std::string header = HeaderText(640, 480);
    ASSERT_GE(bytes.size(), header.size());
    EXPECT_EQ(header, std::string(bytes.begin(), bytes.begin() + header.size()));
    // Every black scanline: start, then each plane five runs of 127 zeros
    // and one of 5.
    const Bytes line = Concat({ScanlineStart(640), ConstantPlane(0, 640), ConstantPlane(0, 640),
                               ConstantPlane(0, 640), ConstantPlane(0, 640)});
    ASSERT_EQ(4u + 4 * 12, line.size());
    ASSERT_EQ(header.size() + 480 * line.size(), bytes.size());
    EXPECT_EQ(line, Bytes(bytes.begin() + header.size(), bytes.begin() + header.size() + line.size()));
}

TEST_F(HdrWriterTest, TheTimeStampFollowsTheClock) {
    SYSTEMTIME t = {};
    t.wYear = 1999;
    t.wMonth = 12;
    t.wDay = 31;
    t.wHour = 23;
    t.wMinute = 59;
    t.wSecond = 58;
    SetFixedLocalTime(&t);
    Picture p(1, 0);
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    const Bytes bytes = out.Bytes();
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, text.find("#Timestamp: 23:59:58 12/31/99\n\n-Y 0 +X 1\n"));
}

// One pixel per row: scanlines narrower than 8 pixels are stored flat, so
// each row is the pixel's four RGBE bytes.
TEST_F(HdrWriterTest, RgbeReduction) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        Pixel in;
        uint8_t r, g, b, e;
    } cases[] = {
        {{1, 1, 1, 1}, 128, 128, 128, 129},
        {{0.5f, 0.25f, 0, 0}, 128, 64, 0, 128},
        {{0, 0, 0, 1}, 0, 0, 0, 0},
        {{-1, -2, -0.5f, 1}, 0, 0, 0, 0},
        {{1e-33f, 5e-33f, 0, 1}, 0, 0, 0, 0},
        {{0, 1e-32f, 0, 1}, 0, 207, 0, 22},            // just above 1e-32: 0.8113 * 2^-106
        {{nan, 0.5f, nan, 1}, 0, 128, 0, 128},
        {{3, 0.75f, -4, 9}, 192, 48, 0, 130},           // m 3 = 0.75 * 2^2
        {{0, 0, 1e30f, 1}, 0, 0, 201, 228},            // 1e30 = 0.7889 * 2^100
        // Beyond the largest RGBE value (and infinity): saturated, not wrapped.
        {{inf, 1, 0, 1}, 255, 0, 0, 255},
        {{3e38f, 3e38f, 0, 1}, 255, 255, 0, 255},
    };
    const uint32_t n = sizeof(cases) / sizeof(cases[0]);
    Picture p(1, n);
    for (uint32_t i = 0; i < n; ++i) p.at(0, i) = cases[i].in;
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    const Bytes bytes = out.Bytes();
    const size_t headerSize = HeaderText(1, n).size();
    ASSERT_EQ(headerSize + n * 4, bytes.size());
    for (uint32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        const Bytes expected = {c.r, c.g, c.b, c.e};
        EXPECT_EQ(expected, Bytes(bytes.begin() + headerSize + i * 4,
                                  bytes.begin() + headerSize + (i + 1) * 4));
    }
}

// The red plane carries the sequence under test: with green 1 in every
// pixel, red v/128 is stored as the byte v; green, blue and exponent planes
// are constant 128, 0, 129. Eight pixels of red 99/128 go first, so that
// even short sequences make a scanline wide enough to be encoded; their run
// (136, 99) ends where the sequence starts, and is taken off the result.
Bytes EncodeRedSequence(const Bytes& sequence) {
    Bytes red(8, 99);
    red.insert(red.end(), sequence.begin(), sequence.end());
    const uint32_t w = static_cast<uint32_t>(red.size());
    Picture p(w, 1);
    for (uint32_t x = 0; x < w; ++x) p.at(x, 0) = {red[x] / 128.0f, 1.0f, 0.0f, 1.0f};
    MemoryStream out;
    EXPECT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    Bytes bytes = out.Bytes();
    const size_t headerSize = HeaderText(w, 1).size();
    const Bytes tail = Concat({ConstantPlane(128, w), ConstantPlane(0, w), ConstantPlane(129, w)});
    EXPECT_GE(bytes.size(), headerSize + 4 + tail.size());
    if (bytes.size() < headerSize + 4 + tail.size()) return {};
    EXPECT_EQ(ScanlineStart(w), Bytes(bytes.begin() + headerSize, bytes.begin() + headerSize + 4));
    EXPECT_EQ(tail, Bytes(bytes.end() - tail.size(), bytes.end()));
    const Bytes encoded(bytes.begin() + headerSize + 4, bytes.end() - tail.size());
    EXPECT_GE(encoded.size(), 2u);
    if (encoded.size() < 2) return {};
    EXPECT_EQ((Bytes{136, 99}), Bytes(encoded.begin(), encoded.begin() + 2));
    return Bytes(encoded.begin() + 2, encoded.end());
}

TEST_F(HdrWriterTest, RunLengthEncoding) {
    const uint8_t A = 10, B = 20, C = 30, v = 77;
    EXPECT_EQ((Bytes{133, v}), EncodeRedSequence(Bytes(5, v)));
    EXPECT_EQ((Bytes{2, A, B, 2, B, C}), EncodeRedSequence(Bytes{A, B, B, C}));
    EXPECT_EQ((Bytes{255, v, 201, v}), EncodeRedSequence(Bytes(200, v)));

    Bytes distinct(200);
    for (int i = 0; i < 200; ++i) distinct[i] = static_cast<uint8_t>(i % 127);
    Bytes expected = {127};
    expected.insert(expected.end(), distinct.begin(), distinct.begin() + 127);
    expected.push_back(73);
    expected.insert(expected.end(), distinct.begin() + 127, distinct.end());
    EXPECT_EQ(expected, EncodeRedSequence(distinct));

    // A single last byte after a run, and a pair split at the very end.
    EXPECT_EQ((Bytes{131, A, 1, B}), EncodeRedSequence(Bytes{A, A, A, B}));
    EXPECT_EQ((Bytes{2, A, B, 1, B}), EncodeRedSequence(Bytes{A, B, B}));
    EXPECT_EQ((Bytes{1, A}), EncodeRedSequence(Bytes{A}));
}

TEST_F(HdrWriterTest, WidthZeroWritesOnlyTheScanlineStarts) {
    Picture p(0, 3);
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    EXPECT_EQ(Concat({TextBytes(HeaderText(0, 3)), ScanlineStart(0), ScanlineStart(0), ScanlineStart(0)}),
              out.Bytes());
}

TEST_F(HdrWriterTest, HeightZeroWritesTheHeaderOnly) {
    Picture p(4, 0);
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    EXPECT_EQ(TextBytes(HeaderText(4, 0)), out.Bytes());
}

TEST_F(HdrWriterTest, SizesOverTheLimitAreRefusedBeforeAnything) {
    Picture p(1, 1);
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{32768, 1}, {1, 32768}, {0xFFFFFFFF, 0xFFFFFFFF}}) {
        p.layer.width = w;
        p.layer.height = h;
        MemoryStream out;
        ResetAllocationCount();
        EXPECT_EQ(E_FAIL, WriteHdr(p.layer, out.stream()));
        EXPECT_EQ(0u, AllocationCount());
        EXPECT_TRUE(out.Bytes().empty());
    }
}

TEST_F(HdrWriterTest, NoMemoryWritesNothing) {
    Picture p(3, 3, {0.5f, 0.5f, 0.5f, 1});
    for (unsigned long n : {1ul, 2ul}) {
        MemoryStream out;
        ResetAllocationCount();
        FailAllocationAt(n);
        EXPECT_EQ(E_OUTOFMEMORY, WriteHdr(p.layer, out.stream()));
        ResetAllocationCount();
        EXPECT_TRUE(out.Bytes().empty());
    }
}

TEST_F(HdrWriterTest, FailedWriteIsReportedAsFail) {
    // Distinct pixels make the planes long; the memory stream cannot grow
    // past its first 1024 bytes, and the writer reports E_FAIL, not the
    // stream's own E_OUTOFMEMORY.
    Picture p(300, 2);
    for (uint32_t x = 0; x < 300; ++x)
        for (uint32_t y = 0; y < 2; ++y) p.at(x, y) = {(x % 120) / 128.0f, 1, (x % 7) / 8.0f, 1};
    MemoryStream out;
    ResetAllocationCount();
    FailAllocationsFrom(3);  // the picture and the literal buffer succeed
    const HRESULT hr = WriteHdr(p.layer, out.stream());
    ResetAllocationCount();
    EXPECT_EQ(E_FAIL, hr);
    const Bytes bytes = out.Bytes();
    const std::string header = HeaderText(300, 2);
    ASSERT_GE(bytes.size(), header.size());
    EXPECT_EQ(header, std::string(bytes.begin(), bytes.begin() + header.size()));
}

TEST_F(HdrWriterTest, IndependentReadersSeeTheColours) {
  // A narrow picture (flat scanlines) and a wide one (encoded scanlines).
  for (const uint32_t w : {6u, 40u}) {
    SCOPED_TRACE(w);
    // Values whose RGBE form is exact: multiples of 1/128 below 1 with a
    // largest component of 1, and powers of two above.
    const uint32_t h = 4;
    Picture p(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            p.at(x, y) = {static_cast<float>((x / 3) * 20 % 128) / 128.0f, 1.0f,
                          static_cast<float>(y * 30) / 128.0f, 0.5f};
    p.at(5, 3) = {4.0f, 2.0f, 0.0f, 1.0f};
    MemoryStream out;
    ASSERT_EQ(S_OK, WriteHdr(p.layer, out.stream()));
    test::ScratchDir dir;
    const std::string file = dir.File("picture" + std::to_string(w) + ".hdr");
    test::WriteFileBytes(file, out.Bytes());

    // A Radiance reader adds half a code step to each mantissa unless it
    // reads codes exactly; allow that much.
    auto check = [&](const test::ReadPixels& got, const char* reader, bool clampsAboveOne) {
        SCOPED_TRACE(reader);
        ASSERT_EQ(w, got.width);
        ASSERT_EQ(h, got.height);
        ASSERT_GE(got.channels, 3u);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const Pixel& e = p.at(x, y);
                const float want[3] = {e.r, e.g, e.b};
                const float m = std::max(e.r, std::max(e.g, e.b));
                for (int c = 0; c < 3; ++c) {
                    float v = want[c];
                    if (clampsAboveOne && v > 1) v = 1;
                    EXPECT_NEAR(v, got.At(x, y, c), m / 128.0f + 1e-4f) << x << "," << y << " c" << c;
                }
            }
        }
    };
    std::string error;
    test::ReadPixels got;
    ASSERT_TRUE(test::ReadWithOiio(file, &got, &error)) << error;
    check(got, "oiiotool", false);
    ASSERT_TRUE(test::ReadWithMagick(file, &got, &error)) << error;
    check(got, "ImageMagick", true);  // a 16-bit integer build clamps at 1
  }
}

}  // namespace
}  // namespace z3az
