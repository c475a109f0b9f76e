// The conversion engine: filter-word checks, which path runs, and what each
// of the engine's own paths writes.
#include "convert/conversion.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/pixel_codec.h"
#include "platform/heap.h"
#include "z3az/convert.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

BlitRegion Region(void* bits, uint32_t format, uint32_t width, uint32_t height,
                  uint32_t rowPitch, uint32_t depth = 1, uint32_t slicePitch = 0) {
    BlitRegion r = {};
    r.bits = bits;
    r.format = format;
    r.rowPitch = rowPitch;
    r.slicePitch = slicePitch ? slicePitch : rowPitch * height;
    r.bounds = {0, 0, width, height, 0, depth};
    r.box = r.bounds;
    return r;
}

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}

// A little-endian 32-bit picture with a recognisable value in every pixel.
std::vector<uint32_t> Gradient(uint32_t width, uint32_t height, uint32_t alpha = 0xFF) {
    std::vector<uint32_t> p(width * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            p[y * width + x] = Argb(alpha, (x * 37 + y * 11) & 0xFF, (x * 5 + y * 71) & 0xFF,
                                    (x * 113 + y * 3 + 7) & 0xFF);
    return p;
}

TEST(ConvertRegionTest, RefusesBadFilterWordsAndTouchesNothing) {
    const uint32_t refused[] = {0, 6, 0xFFFF, FilterNone | 0x800000, FilterBox | 0x80000000u,
                                FilterPoint | 0x01000000};
    for (uint32_t filter : refused) {
        SCOPED_TRACE(filter);
        std::vector<uint32_t> src = Gradient(2, 2);
        std::vector<uint32_t> dst(4, 0xDEADBEEF);
        BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
        BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
        s.srgb = 7;
        d.dither = 5;
        d.diffuse = 6;
        d.srgb = 7;
        ConversionJob job;
        EXPECT_EQ(D3DERR_INVALIDCALL, job.ConvertRegion(d, s, filter));
        EXPECT_EQ(filter, job.filter);
        EXPECT_EQ(nullptr, job.source);
        EXPECT_EQ(nullptr, job.destination);
        EXPECT_EQ(7u, s.srgb);
        EXPECT_EQ(5u, d.dither);
        EXPECT_EQ(6u, d.diffuse);
        EXPECT_EQ(7u, d.srgb);
        EXPECT_EQ(std::vector<uint32_t>(4, 0xDEADBEEF), dst);
    }
}

TEST(ConvertRegionTest, AcceptsEveryFlagAndStoresTheMaskedValues) {
    std::vector<uint32_t> src = Gradient(3, 2);
    std::vector<uint32_t> dst(6, 0);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 3, 2, 12);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 3, 2, 12);
    s.dither = 1;
    s.diffuse = 1;
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterBox | 0x7F0000));
    EXPECT_EQ(0x400000u, d.srgb);
    EXPECT_EQ(0x80000u, d.dither);
    EXPECT_EQ(0x100000u, d.diffuse);
    EXPECT_EQ(0x200000u, s.srgb);
    // The source's own dither and diffuse settings are left as they were.
    EXPECT_EQ(1u, s.dither);
    EXPECT_EQ(1u, s.diffuse);
    // Both ends sRGB, same format and size: the bytes are copied.
    EXPECT_EQ(src, dst);
    EXPECT_EQ(nullptr, job.source);
    EXPECT_EQ(nullptr, job.destination);
}

TEST(ConvertRegionTest, FormatWithoutCodecFails) {
    std::vector<uint32_t> src(4, 0x12345678), dst(4, 0);
    BlitRegion s = Region(src.data(), D3DFMT_D24S8, 2, 2, 8);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
    ConversionJob job;
    EXPECT_EQ(E_FAIL, job.ConvertRegion(d, s, FilterNone));
    BlitRegion s2 = Region(src.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
    BlitRegion d2 = Region(dst.data(), D3DFMT_D24S8, 2, 2, 8);
    EXPECT_EQ(E_FAIL, job.ConvertRegion(d2, s2, FilterNone));
    EXPECT_EQ(std::vector<uint32_t>(4, 0), dst);
}

// The X byte of X8R8G8B8 survives only a byte copy: the codec writes 0 there.
TEST(CopyRawTest, SameFormatAndSizeCopiesBytesWhateverTheDitherFlag) {
    for (uint32_t filter : {uint32_t{FilterNone}, FilterNone | FilterDither,
                            FilterTriangle | FilterDither | FilterDiffuse}) {
        SCOPED_TRACE(filter);
        std::vector<uint32_t> src = Gradient(5, 3, 0x5A);
        // Destination rows are padded; the padding must stay untouched.
        std::vector<uint32_t> dst(7 * 3, 0xCCCCCCCC);
        BlitRegion s = Region(src.data(), D3DFMT_X8R8G8B8, 5, 3, 20);
        BlitRegion d = Region(dst.data(), D3DFMT_X8R8G8B8, 5, 3, 28);
        ConversionJob job;
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, filter));
        for (uint32_t y = 0; y < 3; ++y) {
            for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(src[y * 5 + x], dst[y * 7 + x]);
            EXPECT_EQ(0xCCCCCCCCu, dst[y * 7 + 5]);
            EXPECT_EQ(0xCCCCCCCCu, dst[y * 7 + 6]);
        }
    }
}

TEST(CopyRawTest, ColourKeyForcesTheCodecs) {
    const uint32_t key = Argb(0xFF, 0x10, 0x20, 0x30);
    std::vector<uint32_t> src = {key, Argb(0xFF, 1, 2, 3), Argb(0x80, 0x10, 0x20, 0x30), key};
    std::vector<uint32_t> dst(4, 0xDEADBEEF);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
    s.colorKey = key;
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterDither));
    EXPECT_EQ((std::vector<uint32_t>{0, src[1], src[2], 0}), dst);
}

TEST(CopyRawTest, XByteIsClearedWhenTheCodecsRun) {
    // The same picture through a colour key that matches nothing: the codec
    // path stores 0 in the X byte, unlike the byte copy above.
    std::vector<uint32_t> src = {Argb(0x5A, 1, 2, 3), Argb(0x77, 4, 5, 6)};
    std::vector<uint32_t> dst(2, 0xDEADBEEF);
    BlitRegion s = Region(src.data(), D3DFMT_X8R8G8B8, 2, 1, 8);
    BlitRegion d = Region(dst.data(), D3DFMT_X8R8G8B8, 2, 1, 8);
    s.colorKey = Argb(0xFF, 9, 9, 9);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone));
    EXPECT_EQ((std::vector<uint32_t>{Argb(0, 1, 2, 3), Argb(0, 4, 5, 6)}), dst);
}

void SetEntry(PALETTEENTRY* p, int i, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0xFF) {
    p[i] = {r, g, b, a};
}

TEST(CopyRawTest, PalettedCopiesOnlyWithEqualPalettes) {
    // Entries 0 and 5 are the same colour. A byte copy keeps index 5; a pass
    // through the codecs picks the nearest entry with the lowest index.
    PALETTEENTRY palette[256] = {};
    PALETTEENTRY same[256] = {};
    SetEntry(palette, 0, 200, 10, 10);
    SetEntry(palette, 5, 200, 10, 10);
    SetEntry(palette, 7, 10, 10, 200);
    std::memcpy(same, palette, sizeof(palette));
    PALETTEENTRY other[256] = {};
    std::memcpy(other, palette, sizeof(palette));
    SetEntry(other, 1, 10, 10, 200);  // blue now also at 1
    SetEntry(other, 7, 0, 255, 0);    // and 7 is green

    const std::vector<uint8_t> src = {5, 7, 0, 5};
    struct Case {
        PALETTEENTRY* destinationPalette;
        std::vector<uint8_t> expected;
    } cases[] = {
        {palette, {5, 7, 0, 5}},  // the same palette
        {same, {5, 7, 0, 5}},     // an equal copy of it
        {other, {0, 1, 0, 0}},    // differs: indices chosen again
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> s8 = src, d8(4, 0xEE);
        BlitRegion s = Region(s8.data(), D3DFMT_P8, 2, 2, 2);
        BlitRegion d = Region(d8.data(), D3DFMT_P8, 2, 2, 2);
        s.palette = palette;
        d.palette = c.destinationPalette;
        ConversionJob job;
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterDither));
        EXPECT_EQ(c.expected, d8);
    }
}

// The sRGB flags land in the regions as different masked values (0x200000
// on the source, 0x400000 on the destination); what counts for the byte
// copy is whether each end is encoded, so with both flags set the bytes are
// still copied: the X byte survives and a repeated palette index is kept.
TEST(CopyRawTest, SrgbAtBothEndsStillCopiesTheBytes) {
    PALETTEENTRY palette[256] = {};
    SetEntry(palette, 0, 200, 10, 10);
    SetEntry(palette, 5, 200, 10, 10);
    struct Case {
        uint32_t format;
        uint32_t bytes;
        std::vector<uint8_t> pixels;
    } cases[] = {
        {D3DFMT_X8R8G8B8, 4, {1, 2, 3, 0x5A, 4, 5, 6, 0x77}},
        {D3DFMT_P8, 1, {5, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<uint8_t> src = c.pixels, dst(c.pixels.size(), 0xEE);
        BlitRegion s = Region(src.data(), c.format, 2, 1, 2 * c.bytes);
        BlitRegion d = Region(dst.data(), c.format, 2, 1, 2 * c.bytes);
        s.palette = d.palette = palette;
        ConversionJob job;
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterSrgbIn | FilterSrgbOut));
        EXPECT_EQ(c.pixels, dst);
        // Only one end encoded: the codecs run, the X byte becomes 0 and
        // index 5 is chosen again as the first entry of its colour.
        std::fill(dst.begin(), dst.end(), 0xEE);
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterSrgbOut));
        EXPECT_NE(c.pixels, dst);
    }
}

// Ordered-dither thresholds, (2m + 1) / 32 of the 4x4 matrix.
const int kOrderedMatrix[4][4] = {{15, 7, 13, 5}, {3, 11, 1, 9}, {12, 4, 14, 6}, {0, 8, 2, 10}};

uint32_t Quantize(uint8_t byte, uint32_t maxCode, float threshold) {
    const float c = static_cast<float>(byte) * (1.0f / 255.0f);
    const float v = c * static_cast<float>(maxCode);
    const int q = static_cast<int>(v + threshold);
    return q < 0 ? 0 : (static_cast<uint32_t>(q) > maxCode ? maxCode : static_cast<uint32_t>(q));
}

// R5G6B5 as the dithering codec stores it: serpentine scan, threshold row
// (y mod 4), column (i mod 4) for the i-th pixel in scan order.
std::vector<uint16_t> ExpectedR5G6B5(const std::vector<uint32_t>& argb, uint32_t width,
                                     uint32_t height, bool dither) {
    std::vector<uint16_t> out(width * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t i = 0; i < width; ++i) {
            const uint32_t x = (y % 2 == 0) ? i : width - 1 - i;
            const float t = dither ? (2.0f * kOrderedMatrix[y % 4][i % 4] + 1.0f) / 32.0f : 0.5f;
            const uint32_t p = argb[y * width + x];
            const uint32_t r = Quantize((p >> 16) & 0xFF, 31, t);
            const uint32_t g = Quantize((p >> 8) & 0xFF, 63, t);
            const uint32_t b = Quantize(p & 0xFF, 31, t);
            out[y * width + x] = static_cast<uint16_t>(r << 11 | g << 5 | b);
        }
    }
    return out;
}

TEST(ConvertSameSizeTest, SaverWordDithersToR5G6B5) {
    const uint32_t w = 7, h = 5;
    std::vector<uint32_t> src = Gradient(w, h);
    std::vector<uint16_t> dst(w * h, 0xEEEE);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, w, h, w * 4);
    BlitRegion d = Region(dst.data(), D3DFMT_R5G6B5, w, h, w * 2);
    s.dither = 1;
    d.dither = 1;
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterDither));
    const std::vector<uint16_t> dithered = ExpectedR5G6B5(src, w, h, true);
    EXPECT_EQ(dithered, dst);
    // The thresholds matter for this picture: plain rounding differs.
    EXPECT_NE(ExpectedR5G6B5(src, w, h, false), dithered);

    std::vector<uint16_t> plain(w * h, 0);
    BlitRegion d2 = Region(plain.data(), D3DFMT_R5G6B5, w, h, w * 2);
    ASSERT_EQ(S_OK, job.ConvertRegion(d2, s, FilterNone));
    EXPECT_EQ(ExpectedR5G6B5(src, w, h, false), plain);
}

TEST(ConvertSameSizeTest, SaverWordCopiesTheSameFormat) {
    std::vector<uint32_t> src = Gradient(4, 3, 0x3C);
    std::vector<uint32_t> dst(12, 0);
    BlitRegion s = Region(src.data(), D3DFMT_X8R8G8B8, 4, 3, 16);
    BlitRegion d = Region(dst.data(), D3DFMT_X8R8G8B8, 4, 3, 16);
    s.dither = 1;
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, 0x80001));
    EXPECT_EQ(src, dst);
}

TEST(ConvertSameSizeTest, EqualSizesNeverFilter) {
    const uint32_t w = 6, h = 4;
    std::vector<uint32_t> src = Gradient(w, h);
    std::vector<uint16_t> reference(w * h, 0);
    {
        BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, w, h, w * 4);
        BlitRegion d = Region(reference.data(), D3DFMT_R5G6B5, w, h, w * 2);
        ConversionJob job;
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone));
    }
    for (uint32_t kind : {uint32_t{FilterPoint}, uint32_t{FilterLinear}, uint32_t{FilterTriangle},
                          uint32_t{FilterBox}}) {
        SCOPED_TRACE(kind);
        std::vector<uint16_t> dst(w * h, 0xEEEE);
        BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, w, h, w * 4);
        BlitRegion d = Region(dst.data(), D3DFMT_R5G6B5, w, h, w * 2);
        ConversionJob job;
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, kind | FilterClampU | FilterClampV));
        EXPECT_EQ(reference, dst);
    }
}

TEST(ConvertSameSizeTest, SrgbAtBothEndsPassesValuesThrough) {
    std::vector<uint32_t> src = Gradient(4, 2);
    std::vector<uint16_t> plain(8, 0), both(8, 1);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 4, 2, 16);
    BlitRegion d = Region(plain.data(), D3DFMT_R5G6B5, 4, 2, 8);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone));
    BlitRegion d2 = Region(both.data(), D3DFMT_R5G6B5, 4, 2, 8);
    ASSERT_EQ(S_OK, job.ConvertRegion(d2, s, FilterNone | FilterSrgbIn | FilterSrgbOut));
    EXPECT_EQ(plain, both);
    // Only one end encoded: the values change.
    std::vector<uint16_t> out(8, 0);
    BlitRegion d3 = Region(out.data(), D3DFMT_R5G6B5, 4, 2, 8);
    ASSERT_EQ(S_OK, job.ConvertRegion(d3, s, FilterNone | FilterSrgbOut));
    EXPECT_NE(plain, out);
}

TEST(ConvertSameSizeTest, ConvertsBetweenValueRanges) {
    // Unsigned 0..1 into signed -1..1: byte 0 becomes -1, stored as
    // trunc(-127 + 0.5) = -126; byte 255 becomes 1, stored as 127.
    std::vector<uint32_t> src = {Argb(0xFF, 0, 0, 0), Argb(0xFF, 255, 255, 255)};
    std::vector<uint16_t> dst(2, 0);
    BlitRegion s = Region(src.data(), D3DFMT_X8R8G8B8, 2, 1, 8);
    BlitRegion d = Region(dst.data(), D3DFMT_V8U8, 2, 1, 4);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone));
    EXPECT_EQ(static_cast<uint16_t>((uint8_t)(int8_t)-126 | ((uint8_t)(int8_t)-126) << 8), dst[0]);
    EXPECT_EQ(static_cast<uint16_t>(127 | 127 << 8), dst[1]);
}

// Two readable rows followed by an unreadable page: reading rows 2 and 3 of
// the 4-row source would fault.
class GuardedRows {
public:
    GuardedRows(size_t bytes) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        base_ = static_cast<uint8_t*>(
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) base_ = nullptr;
        if (base_) mprotect(base_ + page_, page_, PROT_NONE);
        data_ = base_ ? base_ + page_ - bytes : nullptr;
    }
    ~GuardedRows() {
        if (base_) munmap(base_, 2 * page_);
    }
    uint8_t* data() const { return data_; }

private:
    size_t page_ = 0;
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
};

TEST(CropOrPadTest, PadsWithTransparentBlackAndReadsOnlyTheRowsItNeeds) {
    GuardedRows guard(2 * 16);
    ASSERT_NE(nullptr, guard.data());
    std::vector<uint32_t> rows = Gradient(4, 2);
    std::memcpy(guard.data(), rows.data(), 32);

    std::vector<uint32_t> dst(12, 0xDEADBEEF);
    BlitRegion s = Region(guard.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 6, 2, 24);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterDither));
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(rows[y * 4 + x], dst[y * 6 + x]);
        EXPECT_EQ(0u, dst[y * 6 + 4]);
        EXPECT_EQ(0u, dst[y * 6 + 5]);
    }
}

TEST(CropOrPadTest, CropsAndPadsRowsAndSlices) {
    // A 3x2x1 source into a 2x3x2 destination: the top-left-front corner is
    // kept, every other pixel is transparent black.
    std::vector<uint32_t> src = Gradient(3, 2);
    std::vector<uint32_t> dst(2 * 3 * 2, 0xDEADBEEF);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 3, 2, 12);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 2, 3, 8, 2, 24);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone));
    std::vector<uint32_t> expected(12, 0);
    expected[0] = src[0];
    expected[1] = src[1];
    expected[2] = src[3];
    expected[3] = src[4];
    EXPECT_EQ(expected, dst);
}

TEST(CropOrPadTest, PaddingStaysBlackUnderErrorDiffusion) {
    // Mid-grey rows leave a quantization error in every pixel; a tall
    // picture gives the error row many chances to leak into the padding.
    const uint32_t h = 64;
    std::vector<uint32_t> src(2 * h, Argb(0xFF, 0x84, 0x84, 0x84));
    std::vector<uint16_t> dst(3 * h, 0xEEEE);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 2, h, 8);
    BlitRegion d = Region(dst.data(), D3DFMT_R5G6B5, 3, h, 6);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone | FilterDiffuse));
    for (uint32_t y = 0; y < h; ++y) EXPECT_EQ(0u, dst[y * 3 + 2]) << "row " << y;
}

// Runs one path on a job whose codecs are made from the two regions.
HRESULT RunPath(HRESULT (*path)(ConversionJob&), BlitRegion d, BlitRegion s, uint32_t filter) {
    ConversionJob job;
    job.filter = filter;
    job.destination = CreatePixelCodec(d);
    job.source = CreatePixelCodec(s);
    if (!job.destination || !job.source) return E_POINTER;
    if (FAILED(PrepareConversion(job.destination, job.source))) return E_POINTER;
    return path(job);  // the job's destructor destroys both codecs
}

TEST(ConversionPathsTest, EachPathRefusesWhatItDoesNotHandle) {
    std::vector<uint32_t> a = Gradient(4, 4), b(16, 0xDEADBEEF);
    const BlitRegion base = Region(a.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    const BlitRegion out = Region(b.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    BlitRegion small = out;
    small.box = {0, 0, 3, 4, 0, 1};
    BlitRegion otherFormat = out;
    otherFormat.format = D3DFMT_X8R8G8B8;
    BlitRegion keyed = base;
    keyed.colorKey = 0xFF000000;
    BlitRegion srgb = out;
    srgb.srgb = 1;

    EXPECT_EQ(E_FAIL, RunPath(CopyRaw, otherFormat, base, FilterNone));
    EXPECT_EQ(E_FAIL, RunPath(CopyRaw, out, keyed, FilterNone));
    EXPECT_EQ(E_FAIL, RunPath(CopyRaw, small, base, FilterNone));
    EXPECT_EQ(E_FAIL, RunPath(CopyRaw, srgb, base, FilterNone));
    EXPECT_EQ(E_FAIL, RunPath(ConvertSameSize, small, base, FilterNone));
    for (uint32_t kind : {uint32_t{FilterPoint}, uint32_t{FilterLinear}, uint32_t{FilterTriangle},
                          uint32_t{FilterBox}})
        EXPECT_EQ(E_FAIL, RunPath(CropOrPad, small, base, kind));
    // Nothing was written by the refusals.
    EXPECT_EQ(std::vector<uint32_t>(16, 0xDEADBEEF), b);
    // And each accepts its own case.
    EXPECT_EQ(S_OK, RunPath(CopyRaw, out, base, FilterPoint));
    EXPECT_EQ(S_OK, RunPath(ConvertSameSize, otherFormat, base, FilterBox));
    EXPECT_EQ(S_OK, RunPath(CropOrPad, small, base, FilterNone));
}

TEST(ConvertRegionTest, HonoursBoxesInsideLargerSurfaces) {
    // Source box (1,1)-(3,3) of a 4x4 surface into destination box
    // (2,0)-(4,2) of a 5x3 surface; nothing outside the box is written.
    std::vector<uint32_t> src = Gradient(4, 4);
    std::vector<uint32_t> dst(15, 0xDEADBEEF);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 5, 3, 20);
    s.box = {1, 1, 3, 3, 0, 1};
    d.box = {2, 0, 4, 2, 0, 1};
    for (uint32_t filter : {0x80001u, uint32_t{FilterNone}}) {
        for (uint32_t format : {uint32_t{D3DFMT_A8R8G8B8}, uint32_t{D3DFMT_A8B8G8R8}}) {
            SCOPED_TRACE(format);
            std::fill(dst.begin(), dst.end(), 0xDEADBEEF);
            d.format = format;
            ConversionJob job;
            ASSERT_EQ(S_OK, job.ConvertRegion(d, s, filter));
            for (uint32_t y = 0; y < 3; ++y) {
                for (uint32_t x = 0; x < 5; ++x) {
                    const uint32_t got = dst[y * 5 + x];
                    if (y < 2 && x >= 2 && x < 4) {
                        uint32_t want = src[(y + 1) * 4 + (x - 1)];
                        if (format == D3DFMT_A8B8G8R8)
                            want = (want & 0xFF00FF00u) | (want >> 16 & 0xFF) | (want & 0xFF) << 16;
                        EXPECT_EQ(want, got) << x << "," << y;
                    } else {
                        EXPECT_EQ(0xDEADBEEFu, got) << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(ConvertRegionTest, RefusesBoxesOutsideTheSurfaceOrInsideOut) {
    std::vector<uint32_t> src = Gradient(4, 4), dst(16, 0xDEADBEEF);
    struct Case {
        ImageBox sourceBox;
        ImageBox destinationBox;
    } cases[] = {
        {{0, 0, 5, 4, 0, 1}, {0, 0, 4, 4, 0, 1}},  // source wider than its surface
        {{0, 0, 4, 4, 0, 1}, {0, 1, 4, 5, 0, 1}},  // destination below its surface
        {{0, 0, 4, 4, 0, 2}, {0, 0, 4, 4, 0, 1}},  // a second slice that is not there
        {{3, 0, 1, 4, 0, 1}, {0, 0, 4, 4, 0, 1}},  // inside out
        {{0, 0, 4, 4, 0, 1}, {0, 3, 4, 2, 0, 1}},
        {{0, 0, 0, 4, 0, 1}, {0, 0, 4, 4, 0, 1}},  // nothing to read for a box to fill
    };
    for (const Case& c : cases) {
        BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
        BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
        s.box = c.sourceBox;
        d.box = c.destinationBox;
        ConversionJob job;
        EXPECT_EQ(D3DERR_INVALIDCALL, job.ConvertRegion(d, s, FilterNone));
    }
    EXPECT_EQ(std::vector<uint32_t>(16, 0xDEADBEEF), dst);

    // An empty destination box asks for nothing and gets nothing.
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    BlitRegion d = Region(dst.data(), D3DFMT_A8R8G8B8, 4, 4, 16);
    d.box = {1, 1, 1, 4, 0, 1};
    ConversionJob job;
    EXPECT_EQ(S_OK, job.ConvertRegion(d, s, FilterNone));
    EXPECT_EQ(std::vector<uint32_t>(16, 0xDEADBEEF), dst);
}

TEST(ConvertRegionTest, OneJobServesCallAfterCall) {
    ConversionJob job;
    for (int i = 0; i < 3; ++i) {
        std::vector<uint32_t> src = Gradient(3, 3), dst(9, 0);
        BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 3, 3, 12);
        BlitRegion d = Region(dst.data(), D3DFMT_X8R8G8B8, 3, 3, 12);
        ASSERT_EQ(S_OK, job.ConvertRegion(d, s, 0x80001));
        for (uint32_t k = 0; k < 9; ++k) EXPECT_EQ(src[k] & 0xFFFFFF, dst[k]);
        EXPECT_EQ(nullptr, job.source);
        EXPECT_EQ(nullptr, job.destination);
    }
}

TEST(ConvertRegionTest, PublicEntryIsTheEngine) {
    std::vector<uint32_t> src = Gradient(7, 5);
    std::vector<uint16_t> viaEntry(35, 0), viaJob(35, 1);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 7, 5, 28);
    BlitRegion d = Region(viaEntry.data(), D3DFMT_R5G6B5, 7, 5, 14);
    ASSERT_EQ(S_OK, ConvertPixels(d, s, 0x80001));
    EXPECT_EQ(0x80000u, d.dither);
    BlitRegion d2 = Region(viaJob.data(), D3DFMT_R5G6B5, 7, 5, 14);
    ConversionJob job;
    ASSERT_EQ(S_OK, job.ConvertRegion(d2, s, 0x80001));
    EXPECT_EQ(viaJob, viaEntry);
    EXPECT_EQ(D3DERR_INVALIDCALL, ConvertPixels(d, s, 0));
}

TEST(PrepareConversionTest, ScratchRowForRangeChangeAndSrgb) {
    std::vector<uint32_t> a(4, 0);
    struct Case {
        uint32_t destinationFormat;
        uint32_t destinationSrgb;
        uint32_t sourceSrgb;
        uint32_t convertFrom;
        bool scratch;
        uint32_t bothSrgb;
    } cases[] = {
        {D3DFMT_X8R8G8B8, 0, 0, 0, false, 0},              // same range, no sRGB
        {D3DFMT_V8U8, 0, 0, RangeUnsigned, true, 0},        // range changes
        {D3DFMT_A32B32G32R32F, 0, 0, 0, false, 0},          // float takes anything
        {D3DFMT_X8R8G8B8, 1, 0, 0, true, 0},                // sRGB output
        {D3DFMT_X8R8G8B8, 1, 1, 0, true, 1},                // both ends sRGB
    };
    std::vector<uint8_t> big(4 * 16, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destinationFormat);
        BlitRegion s = Region(a.data(), D3DFMT_A8R8G8B8, 2, 2, 8);
        BlitRegion d = Region(big.data(), c.destinationFormat, 2, 2, 32);
        s.srgb = c.sourceSrgb;
        d.srgb = c.destinationSrgb;
        PixelCodec* dc = CreatePixelCodec(d);
        PixelCodec* sc = CreatePixelCodec(s);
        ASSERT_NE(nullptr, dc);
        ASSERT_NE(nullptr, sc);
        EXPECT_EQ(S_OK, PrepareConversion(dc, sc));
        EXPECT_EQ(c.convertFrom, dc->convertFrom);
        EXPECT_EQ(c.scratch, dc->scratchRow != nullptr);
        EXPECT_EQ(c.bothSrgb, dc->bothSrgb);
        EXPECT_EQ(c.bothSrgb, sc->bothSrgb);
        Delete(dc);
        Delete(sc);
    }
}

TEST(PrepareConversionTest, ScratchRowWithoutMemoryFailsTheCall) {
    std::vector<uint32_t> src = Gradient(4, 1);
    std::vector<uint16_t> dst(4, 0xEEEE);
    BlitRegion s = Region(src.data(), D3DFMT_A8R8G8B8, 4, 1, 16);
    BlitRegion d = Region(dst.data(), D3DFMT_V8U8, 4, 1, 8);
    // Count what the two codecs take, then fail the allocation after them.
    ResetAllocationCount();
    PixelCodec* dc = CreatePixelCodec(d);
    PixelCodec* sc = CreatePixelCodec(s);
    const unsigned long codecAllocations = AllocationCount();
    Delete(dc);
    Delete(sc);
    ResetAllocationCount();
    FailAllocationAt(codecAllocations + 1);
    ConversionJob job;
    EXPECT_EQ(E_OUTOFMEMORY, job.ConvertRegion(d, s, FilterNone));
    ResetAllocationCount();
    EXPECT_EQ(std::vector<uint16_t>(4, 0xEEEE), dst);
}

TEST(ConvertRegionTest, EveryAllocationFailureIsReported) {
    // Fail each allocation in turn: the call either still succeeds on a
    // later path or reports a failure; nothing leaks (checked by the
    // sanitizer build).
    struct Case {
        uint32_t sourceFormat, destinationFormat;
        uint32_t dw, dh, filter;
    } cases[] = {
        {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, 4, 4, FilterNone | FilterDither | FilterDiffuse},
        {D3DFMT_A8R8G8B8, D3DFMT_V8U8, 4, 4, FilterNone | FilterSrgbOut},
        {D3DFMT_P8, D3DFMT_A8R8G8B8, 6, 2, FilterNone},
        {D3DFMT_A8R8G8B8, D3DFMT_P8, 3, 5, FilterNone},
    };
    PALETTEENTRY palette[256] = {};
    for (const Case& c : cases) {
        std::vector<uint8_t> src(4 * 4 * 4, 0x40), dst(8 * 8 * 4, 0);
        for (unsigned long n = 1;; ++n) {
            BlitRegion s = Region(src.data(), c.sourceFormat, 4, 4, 16);
            BlitRegion d = Region(dst.data(), c.destinationFormat, c.dw, c.dh, 32);
            s.palette = palette;
            d.palette = palette;
            ResetAllocationCount();
            FailAllocationAt(n);
            ConversionJob job;
            const HRESULT hr = job.ConvertRegion(d, s, c.filter);
            const unsigned long used = AllocationCount();
            ResetAllocationCount();
            if (n > used) {
                EXPECT_EQ(S_OK, hr);
                break;
            }
            EXPECT_TRUE(hr == S_OK || hr == E_FAIL || hr == E_OUTOFMEMORY) << n << ": " << hr;
            ASSERT_LT(n, 100u);
        }
    }
}

}  // namespace
}  // namespace z3az
