// The fast row routines of the packed codecs against the plain ones: the
// same bytes written and the same values read, for random rows of many
// widths (odd ones too), every row phase of the threshold matrix, plain and
// ordered thresholds, unsigned and float input ranges, and values that are
// NaN, infinite, negative, above one or just beside a code boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "convert/codecs_packed.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

const uint32_t kWidths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 31, 64, 67};

// An input channel value: mostly ordinary, often a boundary of the codes of
// `max` (k / max, nudged by a few ulps, or with the threshold's offset),
// sometimes a special value.
float RandomValue(std::mt19937& rng, int32_t max) {
    const float inf = std::numeric_limits<float>::infinity();
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                              inf, -inf, -0.0f, 0.0f, 1.0f, -1.0f, 2.0f, 1e30f, -1e30f, 8388608.0f,
                              std::numeric_limits<float>::denorm_min(), 0.99999994f, 1.0000001f};
    std::uniform_int_distribution<int> kind(0, 9);
    switch (kind(rng)) {
        case 0: return specials[std::uniform_int_distribution<size_t>(0, std::size(specials) - 1)(rng)];
        case 1:
        case 2: {
            const int32_t k = std::uniform_int_distribution<int32_t>(-1, max + 1)(rng);
            const float half = std::uniform_int_distribution<int>(0, 1)(rng) ? 0.5f : 0.0f;
            float v = (static_cast<float>(k) + half) / static_cast<float>(max);
            for (int n = std::uniform_int_distribution<int>(-3, 3)(rng); n != 0; n += n > 0 ? -1 : 1)
                v = std::nextafter(v, n > 0 ? inf : -inf);
            return v;
        }
        case 3: return std::uniform_real_distribution<float>(-0.5f, 1.5f)(rng);
        default: return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
    }
}

// The pixels of rows 0 to 3 of slices 0 and 1 (every threshold phase), with
// one spare pixel at the end of each row that no write may touch.
struct Surface {
    Surface(uint32_t format, uint32_t bytesPerPixel, uint32_t width, std::mt19937& rng)
        : pitch((width + 1) * bytesPerPixel), bytes(size_t{pitch} * 4 * 2) {
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        region = BlitRegion{};
        region.bits = bytes.data();
        region.format = format;
        region.rowPitch = pitch;
        region.slicePitch = pitch * 4;
        region.bounds = ImageBox{0, 0, width, 4, 0, 2};
        region.box = region.bounds;
    }
    uint32_t pitch;
    std::vector<uint8_t> bytes;
    BlitRegion region;
};

template <class Codec>
void CheckWrites(uint32_t format, int32_t largestMax) {
    std::mt19937 rng(format * 7919u + 1);
    for (uint32_t width : kWidths) {
        for (uint32_t dither = 0; dither < 2; ++dither) {
            for (uint32_t fromFloat = 0; fromFloat < 2; ++fromFloat) {
                SCOPED_TRACE("width " + std::to_string(width) + " dither " + std::to_string(dither) +
                             " from float " + std::to_string(fromFloat));
                Surface fast(format, Codec::kBytes, width, rng);
                Surface plain = fast;
                plain.region.bits = plain.bytes.data();
                fast.region.dither = plain.region.dither = dither;
                Codec fastCodec(fast.region), plainCodec(plain.region);
                if (fromFloat) fastCodec.convertFrom = plainCodec.convertFrom = RangeFloat;
                for (uint32_t z = 0; z < 2; ++z) {
                    for (uint32_t y = 0; y < 4; ++y) {
                        std::vector<ColorF> row(width);
                        for (ColorF& c : row) {
                            c = {RandomValue(rng, largestMax), RandomValue(rng, largestMax),
                                 RandomValue(rng, largestMax), RandomValue(rng, largestMax)};
                        }
                        std::vector<ColorF> copy = row;
#if defined(__SSE2__)
                        ASSERT_TRUE(fastCodec.WriteRowFast(y, z, row.data()));
#else
                        if (!fastCodec.WriteRowFast(y, z, row.data())) return;
#endif
                        plainCodec.WriteRowPlain(y, z, copy.data());
                    }
                }
                ASSERT_EQ(fast.bytes, plain.bytes);
            }
        }
    }
}

// Rows the fast write leaves to the plain one.
TEST(PackedFastRows, WriteLeavesDiffusionSrgbAndOtherRangesToThePlainRoute) {
    std::mt19937 rng(5);
    Surface s(D3DFMT_R8G8B8, 3, 5, rng);
    ColorF row[5] = {};
    {
        s.region.diffuse = 1;
        CodecR8G8B8 codec(s.region);
        ASSERT_NE(codec.errorRow, nullptr);
        EXPECT_FALSE(codec.WriteRowFast(0, 0, row));
    }
    s.region.diffuse = 0;
    {
        s.region.srgb = 1;
        CodecR8G8B8 codec(s.region);
        EXPECT_FALSE(codec.WriteRowFast(0, 0, row));
    }
    s.region.srgb = 0;
    for (uint32_t from : {RangeSigned, RangeSignedRgb}) {
        CodecR8G8B8 codec(s.region);
        codec.convertFrom = from;
        EXPECT_FALSE(codec.WriteRowFast(0, 0, row));
    }
}

TEST(PackedFastRows, WritesTheSameBytesAsThePlainWrite) {
    CheckWrites<CodecR8G8B8>(D3DFMT_R8G8B8, 255);
    CheckWrites<CodecA8R8G8B8>(D3DFMT_A8R8G8B8, 255);
    CheckWrites<CodecX8R8G8B8>(D3DFMT_X8R8G8B8, 255);
    CheckWrites<CodecR5G6B5>(D3DFMT_R5G6B5, 63);
    CheckWrites<CodecX1R5G5B5>(D3DFMT_X1R5G5B5, 31);
    CheckWrites<CodecA1R5G5B5>(D3DFMT_A1R5G5B5, 31);
    CheckWrites<CodecA4R4G4B4>(D3DFMT_A4R4G4B4, 15);
    CheckWrites<CodecR3G3B2>(D3DFMT_R3G3B2, 7);
    CheckWrites<CodecA8>(D3DFMT_A8, 255);
    CheckWrites<CodecA8R3G3B2>(D3DFMT_A8R3G3B2, 255);
    CheckWrites<CodecX4R4G4B4>(D3DFMT_X4R4G4B4, 15);
    CheckWrites<CodecA2B10G10R10>(D3DFMT_A2B10G10R10, 1023);
    CheckWrites<CodecA8B8G8R8>(D3DFMT_A8B8G8R8, 255);
    CheckWrites<CodecX8B8G8R8>(D3DFMT_X8B8G8R8, 255);
    CheckWrites<CodecG16R16>(D3DFMT_G16R16, 65535);
    CheckWrites<CodecA2R10G10B10>(D3DFMT_A2R10G10B10, 1023);
    CheckWrites<CodecA16B16G16R16>(D3DFMT_A16B16G16R16, 65535);
    CheckWrites<CodecR16G16B16>(PrivateFormatR16G16B16, 65535);
}

// A pixel's values as their bits, so that NaN and -0 would count too.
std::vector<uint32_t> Bits(const std::vector<ColorF>& row) {
    std::vector<uint32_t> b(row.size() * 4);
    std::memcpy(b.data(), row.data(), b.size() * 4);
    return b;
}

template <class Codec>
void CheckReads(uint32_t format) {
    std::mt19937 rng(format * 104729u + 3);
    for (uint32_t width : kWidths) {
        for (uint32_t key = 0; key < 2; ++key) {
            SCOPED_TRACE("width " + std::to_string(width) + " key " + std::to_string(key));
            Surface s(format, Codec::kBytes, width, rng);
            if (key) {
                // The key is the colour of the first pixel, which is also
                // copied to the start of the second row.
                std::memcpy(s.bytes.data() + s.pitch, s.bytes.data(), Codec::kBytes);
                std::vector<ColorF> read(width);
                Codec probe(s.region);
                probe.ReadRowPlain(0, 0, read.data());
                const ColorF first = read[0];
                auto code = [](float v) { return static_cast<uint32_t>(std::lround(v * 255.0f)); };
                s.region.colorKey = code(first.a) << 24 | code(first.r) << 16 | code(first.g) << 8 | code(first.b);
            }
            Codec fastCodec(s.region), plainCodec(s.region);
            if (key) {
                fastCodec.PrepareColorKey();
                plainCodec.PrepareColorKey();
                std::vector<ColorF> keyed(width);
                plainCodec.ReadRowPlain(1, 0, keyed.data());
                ASSERT_EQ(Bits({keyed[0]}), Bits({ColorF{0, 0, 0, 0}}));
            }
            for (uint32_t z = 0; z < 2; ++z) {
                for (uint32_t y = 0; y < 4; ++y) {
                    std::vector<ColorF> fast(width, ColorF{9, 9, 9, 9}), plain = fast;
                    ASSERT_TRUE(fastCodec.ReadRowFast(y, z, fast.data()));
                    plainCodec.ReadRowPlain(y, z, plain.data());
                    ASSERT_EQ(Bits(fast), Bits(plain)) << "row " << y << " slice " << z;
                }
            }
        }
    }
}

#if defined(__SSE2__)
TEST(PackedFastRows, ReadsTheSameValuesAsThePlainRead) {
    CheckReads<CodecR8G8B8>(D3DFMT_R8G8B8);
    CheckReads<CodecA8R8G8B8>(D3DFMT_A8R8G8B8);
    CheckReads<CodecX8R8G8B8>(D3DFMT_X8R8G8B8);
    CheckReads<CodecA8B8G8R8>(D3DFMT_A8B8G8R8);
    CheckReads<CodecX8B8G8R8>(D3DFMT_X8B8G8R8);
}

TEST(PackedFastRows, ReadsLeaveFieldsNarrowerThanABytesToThePlainRoute) {
    std::mt19937 rng(9);
    Surface s(D3DFMT_R5G6B5, 2, 3, rng);
    CodecR5G6B5 codec(s.region);
    ColorF row[3] = {};
    EXPECT_FALSE(codec.ReadRowFast(0, 0, row));
}
#endif

}  // namespace
}  // namespace z3az
