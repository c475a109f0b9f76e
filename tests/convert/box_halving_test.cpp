// Box halving: the packed routines of every format against a per-field
// reference, the vector routine against the plain one, the routine slots,
// the ColorF paths on exact float rows, and the packed path against
// Pillow's reduce(2).
#include "convert/box_halving.h"

#include <gtest/gtest.h>

#include <cmath>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "convert/pixel_codec.h"
#include "platform/win_registry.h"
#include "runtime/processor_dispatch.h"
#include "support/file_helpers.h"
#include "support/row_codec_fake.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::FakeJob;

struct Field {
    uint32_t shift;
    uint32_t bits;
};

struct PackedFormat {
    const char* name;
    uint32_t format;
    uint32_t bytes;
    std::vector<Field> fields;  // the fields that are averaged; all other bits 0
};

const std::vector<PackedFormat>& PackedFormats() {
    static const std::vector<PackedFormat> formats = {
        {"A8R8G8B8", D3DFMT_A8R8G8B8, 4, {{24, 8}, {16, 8}, {8, 8}, {0, 8}}},
        {"A8B8G8R8", D3DFMT_A8B8G8R8, 4, {{24, 8}, {16, 8}, {8, 8}, {0, 8}}},
        {"R5G6B5", D3DFMT_R5G6B5, 2, {{11, 5}, {5, 6}, {0, 5}}},
        {"X1R5G5B5", D3DFMT_X1R5G5B5, 2, {{10, 5}, {5, 5}, {0, 5}}},
        {"A1R5G5B5", D3DFMT_A1R5G5B5, 2, {{15, 1}, {10, 5}, {5, 5}, {0, 5}}},
        {"A4R4G4B4", D3DFMT_A4R4G4B4, 2, {{12, 4}, {8, 4}, {4, 4}, {0, 4}}},
        {"X4R4G4B4", D3DFMT_X4R4G4B4, 2, {{8, 4}, {4, 4}, {0, 4}}},
        {"R3G3B2", D3DFMT_R3G3B2, 1, {{5, 3}, {2, 3}, {0, 2}}},
        {"A8R3G3B2", D3DFMT_A8R3G3B2, 2, {{8, 8}, {5, 3}, {2, 3}, {0, 2}}},
        {"A8", D3DFMT_A8, 1, {{0, 8}}},
        {"L8", D3DFMT_L8, 1, {{0, 8}}},
        {"A8L8", D3DFMT_A8L8, 2, {{8, 8}, {0, 8}}},
        {"A4L4", D3DFMT_A4L4, 1, {{4, 4}, {0, 4}}},
    };
    return formats;
}

uint32_t LoadPixel(const uint8_t* p, uint32_t bytes) {
    uint32_t v = 0;
    std::memcpy(&v, p, bytes);  // little-endian host
    return v;
}

uint32_t ReferenceAverage(const std::vector<Field>& fields, uint32_t a, uint32_t b, uint32_t c,
                          uint32_t d) {
    uint32_t out = 0;
    for (const Field& f : fields) {
        const uint32_t m = (1u << f.bits) - 1;
        const uint32_t sum = ((a >> f.shift) & m) + ((b >> f.shift) & m) + ((c >> f.shift) & m) +
                             ((d >> f.shift) & m) + 2;
        out |= (sum / 4) << f.shift;
    }
    return out;
}

// A surface of random bytes with a box inside it, and its region.
struct Surface {
    Surface(uint32_t format, uint32_t bytes, uint32_t w, uint32_t h, uint32_t left, uint32_t top,
            uint32_t pad, uint32_t seed)
        : pitch((left + w) * bytes + pad), data(size_t(pitch) * (top + h + 1)) {
        std::mt19937 rng(seed);
        for (uint8_t& v : data) v = uint8_t(rng());
        region.bits = data.data();
        region.format = format;
        region.rowPitch = pitch;
        region.slicePitch = pitch * (top + h + 1);
        region.bounds = ImageBox{0, 0, left + w, top + h + 1, 0, 1};
        region.box = ImageBox{left, top, left + w, top + h, 0, 1};
    }
    const uint8_t* Pixel(uint32_t x, uint32_t y, uint32_t bytes) const {
        return data.data() + size_t(region.box.top + y) * pitch + (region.box.left + x) * bytes;
    }
    uint32_t pitch;
    std::vector<uint8_t> data;
    BlitRegion region{};
};

// ---------------------------------------------------------------------------
// Packed routines
// ---------------------------------------------------------------------------

TEST(HalvePacked, EveryFormatAveragesEachField) {
    for (const PackedFormat& f : PackedFormats()) {
        const uint32_t sw = 10, sh = 6, dw = 5, dh = 3;
        Surface source(f.format, f.bytes, sw, sh, 1, 2, 3, 17);
        Surface destination(f.format, f.bytes, dw, dh, 2, 1, 5, 29);
        const std::vector<uint8_t> before = destination.data;
        PixelCodec src(source.region, f.bytes * 8, RangeUnsigned);
        PixelCodec dst(destination.region, f.bytes * 8, RangeUnsigned);
        ASSERT_TRUE(HalvePacked(dst, src)) << f.name;

        std::vector<uint8_t> expected = before;
        for (uint32_t y = 0; y < dh; ++y)
            for (uint32_t x = 0; x < dw; ++x) {
                const uint32_t v = ReferenceAverage(
                    f.fields, LoadPixel(source.Pixel(2 * x, 2 * y, f.bytes), f.bytes),
                    LoadPixel(source.Pixel(2 * x + 1, 2 * y, f.bytes), f.bytes),
                    LoadPixel(source.Pixel(2 * x, 2 * y + 1, f.bytes), f.bytes),
                    LoadPixel(source.Pixel(2 * x + 1, 2 * y + 1, f.bytes), f.bytes));
                std::memcpy(expected.data() + (destination.Pixel(x, y, f.bytes) -
                                               destination.data.data()),
                            &v, f.bytes);
            }
        // Every pixel of the box as the reference says, nothing outside it touched.
        EXPECT_EQ(destination.data, expected) << f.name;
    }
}

TEST(HalvePacked, EightBitAndThirtyTwoBitXFormats) {
    // The X8 formats: colour bytes averaged; the fourth byte is 0 from the
    // plain routine and the average from the vector routine.
    for (uint32_t format : {uint32_t(D3DFMT_X8R8G8B8), uint32_t(D3DFMT_X8B8G8R8)}) {
        Surface source(format, 4, 8, 4, 0, 0, 0, 5);
        Surface destination(format, 4, 4, 2, 0, 0, 0, 6);
        PixelCodec src(source.region, 32, RangeUnsigned);
        PixelCodec dst(destination.region, 32, RangeUnsigned);
        ASSERT_TRUE(HalvePacked(dst, src));
        const bool plain = HalveXrgb32.load() == &HalveThreeBytes;
        const std::vector<Field> colour = {{16, 8}, {8, 8}, {0, 8}};
        const std::vector<Field> all = {{24, 8}, {16, 8}, {8, 8}, {0, 8}};
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 4; ++x) {
                const uint32_t want = ReferenceAverage(
                    plain ? colour : all, LoadPixel(source.Pixel(2 * x, 2 * y, 4), 4),
                    LoadPixel(source.Pixel(2 * x + 1, 2 * y, 4), 4),
                    LoadPixel(source.Pixel(2 * x, 2 * y + 1, 4), 4),
                    LoadPixel(source.Pixel(2 * x + 1, 2 * y + 1, 4), 4));
                EXPECT_EQ(LoadPixel(destination.Pixel(x, y, 4), 4), want);
            }
    }
}

TEST(HalvePacked, OtherFormatsAreRefused) {
    for (uint32_t format : {uint32_t(D3DFMT_R8G8B8), uint32_t(D3DFMT_A2B10G10R10),
                            uint32_t(D3DFMT_A16B16G16R16), uint32_t(D3DFMT_P8)}) {
        Surface source(format, 4, 4, 4, 0, 0, 0, 1);
        Surface destination(format, 4, 2, 2, 0, 0, 0, 2);
        const std::vector<uint8_t> before = destination.data;
        PixelCodec src(source.region, 32, RangeUnsigned);
        PixelCodec dst(destination.region, 32, RangeUnsigned);
        EXPECT_FALSE(HalvePacked(dst, src)) << format;
        EXPECT_EQ(destination.data, before);
    }
}

// One 2x2 block of a 16- or 32-bit format halved to one pixel.
uint32_t HalveBlock(uint32_t format, uint32_t bytes, const uint32_t (&block)[4]) {
    uint8_t source[16] = {};
    for (int i = 0; i < 4; ++i) std::memcpy(source + i * bytes, &block[i], bytes);
    uint8_t destination[4] = {};
    BlitRegion s{};
    s.bits = source;
    s.format = format;
    s.rowPitch = 2 * bytes;
    s.slicePitch = 4 * bytes;
    s.bounds = s.box = ImageBox{0, 0, 2, 2, 0, 1};
    BlitRegion d = s;
    d.bits = destination;
    d.rowPitch = bytes;
    d.slicePitch = bytes;
    d.bounds = d.box = ImageBox{0, 0, 1, 1, 0, 1};
    PixelCodec src(s, bytes * 8, RangeUnsigned);
    PixelCodec dst(d, bytes * 8, RangeUnsigned);
    EXPECT_TRUE(HalvePacked(dst, src));
    return LoadPixel(destination, bytes);
}

TEST(HalvePacked, AlphaRounding) {
    struct Case {
        uint32_t format, bytes;
        uint32_t block[4];
        uint32_t expected;
    };
    const Case cases[] = {
        // A8R8G8B8 alpha bytes 0, 0, 1, 1: (0 + 0 + 1 + 1 + 2) / 4 = 1; 0, 0, 0, 1: 0.
        {D3DFMT_A8R8G8B8, 4, {0x00000000, 0x00000000, 0x01000000, 0x01000000}, 0x01000000},
        {D3DFMT_A8R8G8B8, 4, {0x00000000, 0x00000000, 0x00000000, 0x01000000}, 0x00000000},
        {D3DFMT_A8R8G8B8, 4, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 0xFFFFFFFF},
        {D3DFMT_A8R8G8B8, 4, {0xFF000000, 0xFF000000, 0xFF000000, 0xFE000001}, 0xFF000000},
        // A1R5G5B5: two alpha bits set give alpha 1, one gives 0.
        {D3DFMT_A1R5G5B5, 2, {0x8000, 0x8000, 0x0000, 0x0000}, 0x8000},
        {D3DFMT_A1R5G5B5, 2, {0x8000, 0x0000, 0x0000, 0x0000}, 0x0000},
        {D3DFMT_A1R5G5B5, 2, {0xFFFF, 0xFFFF, 0xFFFF, 0x7FFF}, 0xFFFF},
        // X1R5G5B5: bit 15 set everywhere comes out clear.
        {D3DFMT_X1R5G5B5, 2, {0x8000, 0x8000, 0x8000, 0x8000}, 0x0000},
        {D3DFMT_X1R5G5B5, 2, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 0x7FFF},
        // X4R4G4B4: the top nibble comes out clear.
        {D3DFMT_X4R4G4B4, 2, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 0x0FFF},
        // R5G6B5 greens 1, 1, 0, 0 round up to 1; full fields do not carry.
        {D3DFMT_R5G6B5, 2, {0x0020, 0x0020, 0x0000, 0x0000}, 0x0020},
        {D3DFMT_R5G6B5, 2, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 0xFFFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HalveBlock(c.format, c.bytes, c.block), c.expected)
            << std::hex << c.format << " " << c.block[0] << " " << c.block[3];
}

// ---------------------------------------------------------------------------
// The vector routine and the slots
// ---------------------------------------------------------------------------

TEST(HalveSimd, MatchesThePlainRoutineForEveryWidth) {
    HalveRoutine32 simd = SimdHalveRoutine();
    if (!simd) GTEST_SKIP() << "no vector routine on this processor";
    std::mt19937 rng(99);
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 70; ++w) widths.push_back(w);
    for (uint32_t w : {998u, 999u, 1000u, 1001u, 1026u}) widths.push_back(w);
    for (uint32_t sw : widths)
        for (uint32_t sh : {2u, 3u, 6u})
            for (uint32_t pad : {0u, 3u, 12u}) {
                // One byte in, so that nothing is aligned.
                const uint32_t sp = sw * 4 + pad;
                const uint32_t dp = (sw / 2) * 4 + pad;
                std::vector<uint8_t> source(1 + size_t(sp) * sh);
                for (uint8_t& v : source) v = uint8_t(rng());
                std::vector<uint8_t> plain(1 + size_t(dp) * (sh / 2) + 16, 0xA5);
                std::vector<uint8_t> vector = plain;
                HalveFourBytes(plain.data() + 1, source.data() + 1, sw, sh, sp, dp);
                simd(vector.data() + 1, source.data() + 1, sw, sh, sp, dp);
                ASSERT_EQ(vector, plain) << sw << "x" << sh << " pad " << pad;
            }
}

TEST(HalveSimd, PlainRoutineAgreesWithTheFieldReference) {
    Surface source(D3DFMT_A8R8G8B8, 4, 14, 4, 0, 0, 0, 3);
    std::vector<uint8_t> out(7 * 2 * 4);
    HalveThreeBytes(out.data(), source.data.data(), 14, 4, source.pitch, 28);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 7; ++x) {
            const uint32_t want = ReferenceAverage(
                {{16, 8}, {8, 8}, {0, 8}}, LoadPixel(source.Pixel(2 * x, 2 * y, 4), 4),
                LoadPixel(source.Pixel(2 * x + 1, 2 * y, 4), 4),
                LoadPixel(source.Pixel(2 * x, 2 * y + 1, 4), 4),
                LoadPixel(source.Pixel(2 * x + 1, 2 * y + 1, 4), 4));
            EXPECT_EQ(LoadPixel(out.data() + (y * 7 + x) * 4, 4), want);
        }
}

TEST(HalveSlots, ResolverFillsBothSlotsAndRuns) {
    HalveArgb32.store(&ResolveHalveArgb32);
    HalveXrgb32.store(&ResolveHalveXrgb32);
    Surface source(D3DFMT_A8R8G8B8, 4, 8, 2, 0, 0, 0, 8);
    std::vector<uint8_t> viaSlot(16), plain(16);
    HalveArgb32.load()(viaSlot.data(), source.data.data(), 8, 2, source.pitch, 16);
    HalveFourBytes(plain.data(), source.data.data(), 8, 2, source.pitch, 16);
    EXPECT_EQ(viaSlot, plain);

    HalveRoutine32 simd = SimdHalveRoutine();
    EXPECT_EQ(HalveArgb32.load(), simd ? simd : &HalveFourBytes);
    EXPECT_EQ(HalveXrgb32.load(), simd ? simd : &HalveThreeBytes);

    // The X slot's resolver likewise fills both and runs its own routine.
    HalveArgb32.store(&ResolveHalveArgb32);
    HalveXrgb32.store(&ResolveHalveXrgb32);
    std::vector<uint8_t> x(16);
    HalveXrgb32.load()(x.data(), source.data.data(), 8, 2, source.pitch, 16);
    EXPECT_NE(HalveArgb32.load(), &ResolveHalveArgb32);
    EXPECT_NE(HalveXrgb32.load(), &ResolveHalveXrgb32);
    std::vector<uint8_t> expected(16);
    HalveXrgb32.load()(expected.data(), source.data.data(), 8, 2, source.pitch, 16);
    EXPECT_EQ(x, expected);
}

void SetDisableMmx(bool set) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Ruzodivoz\\Direct3D", &key),
              ERROR_SUCCESS);
    if (set) {
        const DWORD one = 1;
        ASSERT_EQ(RegSetValueExA(key, "DisableMMX", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&one), sizeof one),
                  ERROR_SUCCESS);
    } else {
        EXPECT_EQ(RegDeleteValueA(key, "DisableMMX"), ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

TEST(HalveSlots, DisableMmxKeepsThePlainRoutines) {
    if (!SimdHalveRoutine()) GTEST_SKIP() << "no vector routine on this processor";
    Surface source(D3DFMT_X8R8G8B8, 4, 8, 2, 0, 0, 0, 8);
    std::vector<uint8_t> out(16);

    SetDisableMmx(true);
    HalveArgb32.store(&ResolveHalveArgb32);
    HalveXrgb32.store(&ResolveHalveXrgb32);
    HalveXrgb32.load()(out.data(), source.data.data(), 8, 2, source.pitch, 16);
    EXPECT_EQ(HalveArgb32.load(), &HalveFourBytes);
    EXPECT_EQ(HalveXrgb32.load(), &HalveThreeBytes);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[4 * i + 3], 0) << i;  // the plain X routine

    // Without the switch (and a fresh processor test) the vector routine
    // serves both slots.
    SetDisableMmx(false);
    ResetMmxAvailability();
    HalveArgb32.store(&ResolveHalveArgb32);
    HalveXrgb32.store(&ResolveHalveXrgb32);
    HalveArgb32.load()(out.data(), source.data.data(), 8, 2, source.pitch, 16);
    EXPECT_EQ(HalveArgb32.load(), IsMmxAvailable() ? SimdHalveRoutine() : &HalveFourBytes);
    EXPECT_EQ(HalveXrgb32.load(), HalveArgb32.load() == &HalveFourBytes ? &HalveThreeBytes
                                                                         : SimdHalveRoutine());
}

// ---------------------------------------------------------------------------
// The ColorF paths
// ---------------------------------------------------------------------------

ColorF Value(uint32_t x, uint32_t y, uint32_t z) {
    return ColorF{float(x), float(y), float(z), float(x * 7 + y * 3 + z * 5) / 64.0f};
}

void FillValues(test::RowCodecFake& c) {
    for (uint32_t z = 0; z < c.depth; ++z)
        for (uint32_t y = 0; y < c.storedHeight; ++y)
            for (uint32_t x = 0; x < c.storedWidth; ++x) c.At(x, y, z) = Value(x, y, z);
}

TEST(HalveBox2D, FiveByFiveIsTrimmedToFourByFour) {
    FakeJob f(5, 5, 1, 2, 2, 1, FilterBox);
    FillValues(f.src());
    ASSERT_EQ(HalveBox2D(f.job), S_OK);
    EXPECT_EQ(f.src().width, 4u);
    EXPECT_EQ(f.src().height, 4u);
    EXPECT_EQ(f.src().rowBytes, 4u * 16u);
    for (const auto& read : f.src().reads) EXPECT_LT(read.first, 4u);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 2; ++x) {
            const ColorF& d = f.dst().At(x, y);
            EXPECT_FLOAT_EQ(d.r, 2 * x + 0.5f);
            EXPECT_FLOAT_EQ(d.g, 2 * y + 0.5f);
            EXPECT_FLOAT_EQ(d.a, (Value(2 * x, 2 * y, 0).a + Value(2 * x + 1, 2 * y, 0).a +
                                  Value(2 * x, 2 * y + 1, 0).a + Value(2 * x + 1, 2 * y + 1, 0).a) /
                                     4);
        }
}

TEST(HalveBox2D, OneWideColumnsAverageVerticalPairs) {
    FakeJob f(1, 8, 1, 1, 4, 1, FilterBox);
    FillValues(f.src());
    ASSERT_EQ(HalveBox2D(f.job), S_OK);
    for (uint32_t y = 0; y < 4; ++y) {
        EXPECT_FLOAT_EQ(f.dst().At(0, y).g, 2 * y + 0.5f);
        EXPECT_FLOAT_EQ(f.dst().At(0, y).a, (Value(0, 2 * y, 0).a + Value(0, 2 * y + 1, 0).a) / 2);
    }
    // And the other way round: one row.
    FakeJob g(8, 1, 1, 4, 1, 1, FilterBox);
    FillValues(g.src());
    ASSERT_EQ(HalveBox2D(g.job), S_OK);
    for (uint32_t x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(g.dst().At(x, 0).r, 2 * x + 0.5f);
    EXPECT_EQ(g.src().reads.size(), 1u);
}

TEST(HalveBox, WhichPathTakesWhichSizes) {
    struct Case {
        uint32_t sw, sh, sd, dw, dh, dd, filter;
        bool in2D, in3D;
    };
    const Case cases[] = {
        {4, 4, 1, 2, 2, 1, FilterBox, true, false},
        {4, 4, 3, 2, 2, 1, FilterBox, false, true},
        {4, 4, 2, 2, 2, 1, FilterBox, false, true},
        {1, 1, 4, 1, 1, 2, FilterBox, false, true},
        {6, 6, 1, 2, 2, 1, FilterBox, false, false},
        {5, 5, 1, 3, 3, 1, FilterBox, false, false},
        {4, 4, 1, 2, 2, 1, FilterTriangle, false, false},
        {4, 4, 2, 2, 2, 2, FilterBox, false, false},
        {1, 1, 1, 1, 1, 1, FilterBox, true, false},
        {4, 4, 1, 2, 2, 1, FilterBox | FilterClampU | FilterDither, true, false},
    };
    for (const Case& c : cases) {
        FakeJob a(c.sw, c.sh, c.sd, c.dw, c.dh, c.dd, c.filter);
        EXPECT_EQ(SUCCEEDED(HalveBox2D(a.job)), c.in2D) << c.sw << "x" << c.sh << "x" << c.sd;
        FakeJob b(c.sw, c.sh, c.sd, c.dw, c.dh, c.dd, c.filter);
        EXPECT_EQ(SUCCEEDED(HalveBox3D(b.job)), c.in3D) << c.sw << "x" << c.sh << "x" << c.sd;
    }
}

TEST(HalveBox3D, FourByFourByThreeToTwoByTwoByOne) {
    FakeJob f(4, 4, 3, 2, 2, 1, FilterBox);
    FillValues(f.src());
    ASSERT_EQ(HalveBox3D(f.job), S_OK);
    EXPECT_EQ(f.src().depth, 2u);
    for (const auto& read : f.src().reads) EXPECT_LT(read.second, 2u);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 2; ++x) {
            const ColorF& d = f.dst().At(x, y);
            EXPECT_FLOAT_EQ(d.r, 2 * x + 0.5f);
            EXPECT_FLOAT_EQ(d.g, 2 * y + 0.5f);
            EXPECT_FLOAT_EQ(d.b, 0.5f);
            float a = 0;
            for (uint32_t k = 0; k < 2; ++k)
                for (uint32_t j = 0; j < 2; ++j)
                    for (uint32_t i = 0; i < 2; ++i) a += Value(2 * x + i, 2 * y + j, k).a;
            EXPECT_FLOAT_EQ(d.a, a / 8);
        }
}

// The eight samples are added one after the other: 1 + 2^-25 rounds back to
// 1 at every step, while adding the four small samples first would give
// 2^-23, which 1 can hold.
TEST(HalveBox3D, AddsTheEightSamplesInOrder) {
    FakeJob f(2, 2, 2, 1, 1, 1, FilterBox);
    const float tiny = std::ldexp(1.0f, -25);
    for (ColorF& p : f.src().pixels) p = ColorF{0, 0, 0, 0};
    f.src().At(0, 0, 0) = ColorF{1, 1, 1, 1};
    for (uint32_t z = 0; z < 2; ++z)
        for (uint32_t x = 0; x < 2; ++x) f.src().At(x, 1, z) = ColorF{tiny, tiny, tiny, tiny};
    ASSERT_EQ(HalveBox3D(f.job), S_OK);
    const ColorF& d = f.dst().At(0, 0, 0);
    EXPECT_EQ(d.r, 0.125f);
    EXPECT_EQ(d.g, 0.125f);
    EXPECT_EQ(d.b, 0.125f);
    EXPECT_EQ(d.a, 0.125f);
}

TEST(HalveBox3D, SingleRowsAreNotReadTwice) {
    FakeJob f(6, 1, 4, 3, 1, 2, FilterBox);
    FillValues(f.src());
    ASSERT_EQ(HalveBox3D(f.job), S_OK);
    EXPECT_EQ(f.src().reads.size(), 4u);  // two slices per destination slice
    for (uint32_t z = 0; z < 2; ++z)
        for (uint32_t x = 0; x < 3; ++x) {
            EXPECT_FLOAT_EQ(f.dst().At(x, 0, z).r, 2 * x + 0.5f);
            EXPECT_FLOAT_EQ(f.dst().At(x, 0, z).b, 2 * z + 0.5f);
        }
}

TEST(HalveBox, LackOfMemoryAndFailedReads) {
    for (unsigned long n : {1ul, 2ul}) {
        FakeJob f(4, 4, 1, 2, 2, 1, FilterBox);
        FailAllocationAt(n);
        EXPECT_EQ(HalveBox2D(f.job), E_OUTOFMEMORY);
        FailAllocationAt(0);
        FakeJob g(4, 4, 2, 2, 2, 1, FilterBox);
        FailAllocationAt(n);
        EXPECT_EQ(HalveBox3D(g.job), E_OUTOFMEMORY);
        FailAllocationAt(0);
    }
    FakeJob f(4, 4, 1, 2, 2, 1, FilterBox);
    f.src().failReads = true;
    EXPECT_LT(HalveBox2D(f.job), 0);
    EXPECT_TRUE(f.dst().writes.empty());
}

// ---------------------------------------------------------------------------
// Through ConvertRegion
// ---------------------------------------------------------------------------

// Packed pixels of one format, rows and slices without padding.
struct Image {
    Image(uint32_t format, uint32_t bytes, uint32_t w, uint32_t h, uint32_t d = 1)
        : bytes(bytes), w(w), h(h), data(size_t(bytes) * w * h * d) {
        region.format = format;
        region.rowPitch = bytes * w;
        region.slicePitch = bytes * w * h;
        region.bounds = region.box = ImageBox{0, 0, w, h, 0, d};
    }
    BlitRegion& Region() {
        region.bits = data.data();
        return region;
    }
    void Set(uint32_t x, uint32_t y, uint32_t z, uint32_t v) {
        std::memcpy(&data[((size_t(z) * h + y) * w + x) * bytes], &v, bytes);
    }
    uint32_t Get(uint32_t x, uint32_t y, uint32_t z = 0) const {
        return LoadPixel(&data[((size_t(z) * h + y) * w + x) * bytes], bytes);
    }
    uint32_t bytes, w, h;
    std::vector<uint8_t> data;
    BlitRegion region{};
};

HRESULT Convert(Image& destination, Image& source, uint32_t filter) {
    ConversionJob job;
    return job.ConvertRegion(destination.Region(), source.Region(), filter);
}

TEST(ConvertRegionHalving, PackedPathRoundsAlphaAndClearsUnusedBits) {
    struct Case {
        uint32_t format, bytes;
        uint32_t block[4];
        uint32_t expected;
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, 4, {0x00102030, 0x00102030, 0x01102030, 0x01102030}, 0x01102030},
        {D3DFMT_A8R8G8B8, 4, {0x00000000, 0x00000000, 0x00000000, 0x01000000}, 0x00000000},
        {D3DFMT_A1R5G5B5, 2, {0x8000, 0x0000, 0x8000, 0x0000}, 0x8000},
        {D3DFMT_A1R5G5B5, 2, {0x8000, 0x0000, 0x0000, 0x0000}, 0x0000},
        {D3DFMT_X1R5G5B5, 2, {0x8421, 0x8421, 0x8421, 0x8421}, 0x0421},
    };
    for (const Case& c : cases) {
        Image source(c.format, c.bytes, 2, 2);
        for (uint32_t i = 0; i < 4; ++i) source.Set(i % 2, i / 2, 0, c.block[i]);
        Image destination(c.format, c.bytes, 1, 1);
        ASSERT_EQ(Convert(destination, source, FilterBox), S_OK);
        EXPECT_EQ(destination.Get(0, 0), c.expected) << std::hex << c.format;
    }
}

TEST(ConvertRegionHalving, DitherSrgbKeysAndOtherFormatsTakeTheColorPath) {
    // Alpha bytes 0, 0, 0, 1 average to 0 on the packed pixels; through
    // ColorF, 0.25 plus the ordered threshold 31/32 of the first pixel
    // stores 1.
    Image source(D3DFMT_A8R8G8B8, 4, 2, 2);
    source.Set(1, 1, 0, 0x01000000);
    Image packed(D3DFMT_A8R8G8B8, 4, 1, 1);
    ASSERT_EQ(Convert(packed, source, FilterBox), S_OK);
    EXPECT_EQ(packed.Get(0, 0), 0x00000000u);
    Image dithered(D3DFMT_A8R8G8B8, 4, 1, 1);
    ASSERT_EQ(Convert(dithered, source, FilterBox | FilterDither), S_OK);
    EXPECT_EQ(dithered.Get(0, 0), 0x01000000u);

    // A source colour key reads its pixels as transparent black.
    Image keyed(D3DFMT_A8R8G8B8, 4, 2, 2);
    for (uint32_t i = 0; i < 4; ++i) keyed.Set(i % 2, i / 2, 0, 0xFF808080);
    keyed.Set(1, 1, 0, 0xFF000000);
    keyed.region.colorKey = 0xFF808080;
    Image out(D3DFMT_A8R8G8B8, 4, 1, 1);
    ASSERT_EQ(Convert(out, keyed, FilterBox), S_OK);
    EXPECT_EQ(out.Get(0, 0), 0x40000000u);  // only the black pixel counts

    // Different formats: A8R8G8B8 to X8R8G8B8 goes through ColorF too, and
    // both halve to the same colour.
    Image grey(D3DFMT_A8R8G8B8, 4, 2, 2);
    for (uint32_t i = 0; i < 4; ++i) grey.Set(i % 2, i / 2, 0, 0x80204060 + i * 0x020202);
    Image x(D3DFMT_X8R8G8B8, 4, 1, 1);
    ASSERT_EQ(Convert(x, grey, FilterBox), S_OK);
    EXPECT_EQ(x.Get(0, 0) & 0x00FFFFFF, 0x00234363u);

    // sRGB on the source decodes before averaging: black and white average
    // to a linear 0.5, which is not the packed middle.
    Image bw(D3DFMT_L8, 1, 2, 2);
    bw.Set(0, 0, 0, 255);
    bw.Set(1, 1, 0, 255);
    Image linear(D3DFMT_L8, 1, 1, 1);
    ASSERT_EQ(Convert(linear, bw, FilterBox | FilterSrgbIn), S_OK);
    EXPECT_EQ(linear.Get(0, 0), 128u);
    Image encoded(D3DFMT_L8, 1, 1, 1);
    ASSERT_EQ(Convert(encoded, bw, FilterBox | FilterSrgbIn | FilterSrgbOut), S_OK);
    // Both ends encoded: the average is still taken on linear values, 0.5,
    // and stored encoded again: 255 times the square root of 0.5.
    EXPECT_EQ(encoded.Get(0, 0), 180u);
}

TEST(ConvertRegionHalving, FiveByFiveToTwoByTwoReadsNoLastRowOrColumn) {
    Image source(D3DFMT_L8, 1, 5, 5);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            source.Set(x, y, 0, x == 4 || y == 4 ? 255 : 10 * x + 40 * y);
    for (uint32_t filter : {uint32_t(FilterBox), uint32_t(FilterBox | FilterDither)}) {
        Image destination(D3DFMT_L8, 1, 2, 2);
        ASSERT_EQ(Convert(destination, source, filter), S_OK);
        // Blocks average to 10 * (2x + 0.5) + 40 * (2y + 0.5), rounded up.
        const uint8_t expected[] = {25, 45, 105, 125};
        EXPECT_EQ(std::vector<uint8_t>(destination.data.begin(), destination.data.end()),
                  std::vector<uint8_t>(expected, expected + 4))
            << std::hex << filter;
    }
}

TEST(ConvertRegionHalving, OneByEightToOneByFour) {
    Image source(D3DFMT_A8R8G8B8, 4, 1, 8);
    for (uint32_t y = 0; y < 8; ++y) source.Set(0, y, 0, 0x10101010u * y);
    Image destination(D3DFMT_A8R8G8B8, 4, 1, 4);
    ASSERT_EQ(Convert(destination, source, FilterBox), S_OK);
    for (uint32_t y = 0; y < 4; ++y)
        EXPECT_EQ(destination.Get(0, y), 0x08080808u + 0x20202020u * y) << y;
}

TEST(ConvertRegionHalving, VolumeFourByFourByThree) {
    // Each 2x2x2 block of the first two slices averages to an exact byte;
    // the third slice is dropped.
    Image source(D3DFMT_A8R8G8B8, 4, 4, 4, 3);
    for (uint32_t z = 0; z < 3; ++z)
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 4; ++x) {
                const uint32_t v = z == 2 ? 255 : 20 * (x / 2) + 50 * (y / 2) + 2 * (x % 2) +
                                                      4 * (y % 2) + 8 * z;
                source.Set(x, y, z, v * 0x01010101u);
            }
    Image destination(D3DFMT_A8R8G8B8, 4, 2, 2, 1);
    ASSERT_EQ(Convert(destination, source, FilterBox), S_OK);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 2; ++x)
            EXPECT_EQ(destination.Get(x, y), (20 * x + 50 * y + 7) * 0x01010101u) << x << y;
}

TEST(ConvertRegionHalving, SixBySixToTwoByTwoIsTheTriangleFilter) {
    Image source(D3DFMT_L8, 1, 6, 6);
    std::mt19937 rng(4);
    for (uint8_t& v : source.data) v = uint8_t(rng());
    Image box(D3DFMT_L8, 1, 2, 2);
    Image triangle(D3DFMT_L8, 1, 2, 2);
    ASSERT_EQ(Convert(box, source, FilterBox), S_OK);
    ASSERT_EQ(Convert(triangle, source, FilterTriangle), S_OK);
    EXPECT_EQ(box.data, triangle.data);
}

// ---------------------------------------------------------------------------
// Against Pillow
// ---------------------------------------------------------------------------

// Pillow's reduce(2) of every byte plane of an interleaved image, each plane
// as an 8-bit greyscale picture, so that no colour handling comes between.
std::vector<uint8_t> PillowReduce(const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h,
                                  uint32_t channels) {
    test::ScratchDir dir;
    const std::string script = dir.File("reduce.py");
    std::ofstream(script) << "import sys\n"
                             "from PIL import Image\n"
                             "w, h, c = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])\n"
                             "data = open(sys.argv[4], 'rb').read()\n"
                             "planes = []\n"
                             "for k in range(c):\n"
                             "    im = Image.frombytes('L', (w, h), bytes(data[k::c]))\n"
                             "    r = im.reduce(2)\n"
                             "    planes.append((r.size, r.tobytes()))\n"
                             "(rw, rh) = planes[0][0]\n"
                             "out = bytearray(rw * rh * c)\n"
                             "for k in range(c):\n"
                             "    out[k::c] = planes[k][1]\n"
                             "open(sys.argv[5], 'wb').write(bytes(out))\n"
                             "print(rw, rh)\n";
    test::WriteFileBytes(dir.File("in.raw"), pixels);
    std::string output;
    const std::string command = std::string(test::DistributionPython()) + " " + script + " " +
                                std::to_string(w) + " " + std::to_string(h) + " " +
                                std::to_string(channels) + " " + dir.File("in.raw") + " " +
                                dir.File("out.raw");
    EXPECT_EQ(test::RunCommand(command, &output), 0) << output;
    std::vector<uint8_t> reduced = test::ReadFileBytes(dir.File("out.raw"));
    // Keep only the full 2x2 blocks: Pillow averages a partial block at an
    // odd edge, where the halving drops the last column and row instead.
    const uint32_t rw = (w + 1) / 2, dw = w / 2, dh = h / 2;
    std::vector<uint8_t> full;
    for (uint32_t y = 0; y < dh; ++y)
        full.insert(full.end(), reduced.begin() + size_t(y) * rw * channels,
                    reduced.begin() + (size_t(y) * rw + dw) * channels);
    return full;
}

TEST(HalvePacked, MatchesPillowReduce) {
    struct Case {
        uint32_t format, bytes, w, h;
    };
    const Case cases[] = {{D3DFMT_A8R8G8B8, 4, 64, 48}, {D3DFMT_A8R8G8B8, 4, 63, 47},
                          {D3DFMT_A8B8G8R8, 4, 38, 10}, {D3DFMT_L8, 1, 50, 31},
                          {D3DFMT_A8L8, 2, 33, 20}};
    for (const Case& c : cases) {
        Surface source(c.format, c.bytes, c.w, c.h, 0, 0, 0, c.w * c.h);
        source.data.resize(size_t(c.w) * c.h * c.bytes);  // exactly the image
        source.region.bits = source.data.data();
        const uint32_t dw = c.w / 2, dh = c.h / 2;
        std::vector<uint8_t> out(size_t(dw) * dh * c.bytes);
        BlitRegion d = source.region;
        d.bits = out.data();
        d.rowPitch = dw * c.bytes;
        d.bounds = d.box = ImageBox{0, 0, dw, dh, 0, 1};

        // The halving path trims odd extents before the routine runs.
        PixelCodec src(source.region, c.bytes * 8, RangeUnsigned);
        src.width &= ~1u;
        src.height &= ~1u;
        PixelCodec dst(d, c.bytes * 8, RangeUnsigned);
        ASSERT_TRUE(HalvePacked(dst, src));
        EXPECT_EQ(out, PillowReduce(source.data, c.w, c.h, c.bytes)) << c.w << "x" << c.h;

        // The whole conversion, trimming included, gives the same bytes.
        std::vector<uint8_t> converted(out.size());
        BlitRegion whole = source.region;
        whole.box = whole.bounds = ImageBox{0, 0, c.w, c.h, 0, 1};
        BlitRegion half = d;
        half.bits = converted.data();
        ConversionJob job;
        ASSERT_EQ(job.ConvertRegion(half, whole, FilterBox), S_OK);
        EXPECT_EQ(converted, out);

        if (c.bytes == 4) {
            std::vector<uint8_t> plain(out.size());
            HalveFourBytes(plain.data(), source.data.data(), c.w & ~1u, c.h & ~1u,
                           source.pitch, d.rowPitch);
            EXPECT_EQ(plain, out);
        }
    }
}

}  // namespace
}  // namespace z3az
