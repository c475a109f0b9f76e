#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "convert/dxt_codec.h"
#include "convert/dxt_encode.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

struct CodecDeleter {
    void operator()(PixelCodec* c) const { Delete(c); }
};
using CodecPtr = std::unique_ptr<PixelCodec, CodecDeleter>;

uint32_t BlockBytesOf(uint32_t format) { return format == D3DFMT_DXT1 ? 8 : 16; }

// A DXT surface: width x height pixels of one slice.
struct BlockSurface {
    uint32_t format, width, height, rowPitch;
    std::vector<uint8_t> bytes;
    BlockSurface(uint32_t f, uint32_t w, uint32_t h)
        : format(f), width(w), height(h), rowPitch((w + 3) / 4 * BlockBytesOf(f)),
          bytes(static_cast<size_t>(rowPitch) * ((h + 3) / 4), 0) {}
    uint8_t* Block(uint32_t bx, uint32_t by) {
        return bytes.data() + by * rowPitch + bx * BlockBytesOf(format);
    }
    BlitRegion Region(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
        BlitRegion r{};
        r.bits = bytes.data();
        r.format = format;
        r.rowPitch = rowPitch;
        r.slicePitch = static_cast<uint32_t>(bytes.size());
        r.bounds = ImageBox{0, 0, width, height, 0, 1};
        r.box = ImageBox{left, top, right, bottom, 0, 1};
        return r;
    }
    BlitRegion Whole() { return Region(0, 0, width, height); }
};

CodecPtr Make(const BlitRegion& region) {
    CodecPtr codec(CreateDxtCodec(region));
    EXPECT_NE(codec, nullptr);
    return codec;
}

constexpr ColorF kWhite{1, 1, 1, 1};
constexpr ColorF kBlack{0, 0, 0, 1};

bool Same(const ColorF& a, const ColorF& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

std::string Show(const ColorF& c) {
    std::ostringstream s;
    s << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
    return s.str();
}

// Writes every row of a whole-surface box from a pixel function.
template <class F>
void WriteAll(PixelCodec& codec, F pixel) {
    std::vector<ColorF> row(codec.width);
    for (uint32_t y = 0; y < codec.height; ++y) {
        for (uint32_t x = 0; x < codec.width; ++x) row[x] = pixel(x, y);
        ASSERT_EQ(codec.WriteRow(y, 0, row.data()), S_OK);
    }
}

std::vector<ColorF> DecodeBlock(uint32_t format, const uint8_t* block) {
    std::vector<ColorF> px(16);
    if (format == D3DFMT_DXT1) DecodeColorBlock(px.data(), block);
    else if (format == D3DFMT_DXT3) DecodeDxt3Block(px.data(), block);
    else DecodeDxt5Block(px.data(), block);
    return px;
}

// ---------------------------------------------------------------------------
// Block decoders
// ---------------------------------------------------------------------------

TEST(DxtDecode, ExplicitAlphaOfEightReadsAsEightFifteenths) {
    uint8_t block[16] = {0x08, 0, 0, 0, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    ColorF px[16];
    DecodeDxt3Block(px, block);
    EXPECT_FLOAT_EQ(px[0].a, 8.0f / 15.0f);
    EXPECT_EQ(px[1].a, 0.0f);
    EXPECT_EQ(px[15].a, 1.0f);
    EXPECT_EQ(px[0].r, 1.0f);
}

TEST(DxtDecode, ThreeColourModeOnlyInDxt1) {
    // colour0 = black <= colour1 = red; pixels 0..3 take indices 0..3.
    const uint8_t half[8] = {0x00, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
    ColorF px[16];
    DecodeColorBlock(px, half);
    EXPECT_TRUE(Same(px[0], kBlack)) << Show(px[0]);
    EXPECT_TRUE(Same(px[1], (ColorF{1, 0, 0, 1}))) << Show(px[1]);
    EXPECT_TRUE(Same(px[2], (ColorF{0.5f, 0, 0, 1}))) << Show(px[2]);
    EXPECT_TRUE(Same(px[3], (ColorF{0, 0, 0, 0}))) << Show(px[3]);

    // The same colour half inside a DXT3 block decodes with four colours.
    uint8_t block[16];
    std::memset(block, 0xFF, 8);
    std::memcpy(block + 8, half, 8);
    DecodeDxt3Block(px, block);
    EXPECT_TRUE(Same(px[2], (ColorF{0.33333334f, 0, 0, 1}))) << Show(px[2]);
    EXPECT_TRUE(Same(px[3], (ColorF{0.6666667f, 0, 0, 1}))) << Show(px[3]);
    DecodeDxt5Block(px, block);
    EXPECT_EQ(px[3].r, 0.6666667f);
}

TEST(DxtDecode, InterpolatedAlphaPalettes) {
    // alpha0 255 > alpha1 0: eight values. Pixels 0..7 take indices 0..7.
    uint8_t block[16] = {255, 0, 0x88, 0xC6, 0xFA, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    ColorF px[16];
    DecodeDxt5Block(px, block);
    EXPECT_EQ(px[0].a, 1.0f);
    EXPECT_EQ(px[1].a, 0.0f);
    EXPECT_FLOAT_EQ(px[2].a, 6.0f / 7.0f);
    EXPECT_FLOAT_EQ(px[7].a, 1.0f / 7.0f);
    // alpha0 51 <= alpha1 204: six values, then 0 and 1.
    block[0] = 51;
    block[1] = 204;
    DecodeDxt5Block(px, block);
    EXPECT_FLOAT_EQ(px[0].a, 0.2f);
    EXPECT_FLOAT_EQ(px[1].a, 0.8f);
    EXPECT_FLOAT_EQ(px[2].a, 0.32f);
    EXPECT_FLOAT_EQ(px[5].a, 0.68f);
    EXPECT_EQ(px[6].a, 0.0f);
    EXPECT_EQ(px[7].a, 1.0f);
}

TEST(DxtDecode, Unpremultiply) {
    ColorF px[16];
    for (ColorF& p : px) p = ColorF{0.25f, 0.5f, 0.75f, 0.5f};
    px[1] = ColorF{0.3f, 0.2f, 0.1f, 0.0f};
    px[2] = ColorF{0.3f, 0.2f, 0.1f, 1.0f};
    Unpremultiply(px);
    EXPECT_TRUE(Same(px[0], (ColorF{0.5f, 1, 1, 0.5f}))) << Show(px[0]);
    EXPECT_TRUE(Same(px[1], (ColorF{0, 0, 0, 0}))) << Show(px[1]);
    EXPECT_TRUE(Same(px[2], (ColorF{0.3f, 0.2f, 0.1f, 1}))) << Show(px[2]);
}

// ---------------------------------------------------------------------------
// The codec
// ---------------------------------------------------------------------------

TEST(DxtCodec, FactoryAndShape) {
    BlockSurface s(D3DFMT_DXT5, 10, 6);
    CodecPtr codec = Make(s.Region(1, 2, 9, 6));
    auto& dxt = static_cast<DxtCodec&>(*codec);
    EXPECT_FALSE(codec->byteAddressable);
    EXPECT_EQ(codec->width, 8u);
    EXPECT_EQ(dxt.blockBytes, 16u);
    EXPECT_EQ(dxt.blockColumns, 3u);  // 0..12
    EXPECT_EQ(dxt.blockRows, 2u);     // 0..8
    EXPECT_EQ(dxt.alignedBounds.right, 12u);
    EXPECT_EQ(dxt.alignedBounds.bottom, 8u);
    BlitRegion other = s.Whole();
    other.format = D3DFMT_YUY2;
    EXPECT_EQ(CreateDxtCodec(other), nullptr);
    // Reading fetches the block row once and serves each pixel row from it.
    EncodeDxt5Block(s.Block(0, 0), std::vector<ColorF>(16, kWhite).data(), 0);
    ColorF row[8];
    ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
    EXPECT_EQ(dxt.cachedTop, 0);
    EXPECT_TRUE(Same(row[0], kWhite));
}

// The box (1,1)-(3,3) of a 4x4 block: the block is decoded first, so the
// twelve pixels outside the box keep their colours.
TEST(DxtCodec, SmallBoxKeepsTheRestOfTheBlock) {
    BlockSurface s(D3DFMT_DXT1, 4, 4);
    ColorF initial[16];
    for (int i = 0; i < 16; ++i) initial[i] = (i & 3) < 2 ? kBlack : kWhite;
    EncodeDxt1Block(s.Block(0, 0), initial, 0);
    {
        CodecPtr codec = Make(s.Region(1, 1, 3, 3));
        ColorF row[2] = {kWhite, kBlack};  // the inverse of what is stored there
        ASSERT_EQ(codec->WriteRow(0, 0, row), S_OK);
        ASSERT_EQ(codec->WriteRow(1, 0, row), S_OK);
    }
    const auto px = DecodeBlock(D3DFMT_DXT1, s.Block(0, 0));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3;
            const ColorF want = inside ? (x == 1 ? kWhite : kBlack) : initial[y * 4 + x];
            EXPECT_TRUE(Same(px[y * 4 + x], want)) << x << "," << y << " " << Show(px[y * 4 + x]);
        }
}

// On a 5x5 surface the last block column repeats column 0 of its blocks into
// columns 1-3, the last block row repeats row 0 into rows 1-3.
TEST(DxtCodec, BlocksOverTheEdgeRepeatTheirFirstColumnAndRow) {
    BlockSurface s(D3DFMT_DXT1, 5, 5);
    auto pixel = [](uint32_t x, uint32_t y) { return ((x * 3 + y) % 2) ? kWhite : kBlack; };
    {
        CodecPtr codec = Make(s.Whole());
        WriteAll(*codec, pixel);
    }
    for (uint32_t by = 0; by < 2; ++by)
        for (uint32_t bx = 0; bx < 2; ++bx) {
            const auto px = DecodeBlock(D3DFMT_DXT1, s.Block(bx, by));
            for (uint32_t r = 0; r < 4; ++r)
                for (uint32_t c = 0; c < 4; ++c) {
                    const uint32_t x = bx * 4 + (bx ? 0 : c);
                    const uint32_t y = by * 4 + (by ? 0 : r);
                    EXPECT_TRUE(Same(px[r * 4 + c], pixel(x, y)))
                        << "block " << bx << "," << by << " pixel " << c << "," << r;
                }
        }
}

TEST(DxtCodec, PartlyWrittenBlockRowIsLeftUnchanged) {
    BlockSurface s(D3DFMT_DXT1, 4, 8);
    EncodeDxt1Block(s.Block(0, 0), std::vector<ColorF>(16, kWhite).data(), 0);
    EncodeDxt1Block(s.Block(0, 1), std::vector<ColorF>(16, kWhite).data(), 0);
    const std::vector<uint8_t> before = s.bytes;
    {
        CodecPtr codec = Make(s.Whole());
        std::vector<ColorF> row(4, kBlack);
        for (uint32_t y = 0; y < 7; ++y) ASSERT_EQ(codec->WriteRow(y, 0, row.data()), S_OK);
        EXPECT_EQ(static_cast<DxtCodec&>(*codec).liveBuffers, 1u);
    }
    // Block row 0 is black now; block row 1 never got row 7.
    EXPECT_EQ(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + 8),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(s.bytes.begin() + 8, s.bytes.end()),
              std::vector<uint8_t>(before.begin() + 8, before.end()));
}

// A block row that completes hands its buffer to the next one, so a whole
// surface written in order needs the slot table and a single buffer.
TEST(DxtCodec, CompletedBlockRowHandsItsBufferOn) {
    BlockSurface s(D3DFMT_DXT5, 8, 12);
    CodecPtr codec = Make(s.Whole());
    auto& dxt = static_cast<DxtCodec&>(*codec);
    std::vector<ColorF> row(8, ColorF{0.5f, 0.25f, 1.0f, 0.5f});
    ResetAllocationCount();
    for (uint32_t y = 0; y < 12; ++y) {
        ASSERT_EQ(codec->WriteRow(y, 0, row.data()), S_OK);
        EXPECT_EQ(dxt.liveBuffers, y == 11 ? 0u : 1u) << y;
    }
    EXPECT_EQ(AllocationCount(), 2u);
    ResetAllocationCount();
    ColorF back[8];
    ASSERT_EQ(codec->ReadRow(11, 0, back), S_OK);
    EXPECT_NEAR(back[7].r, 0.5f, 0.02f);
    EXPECT_NEAR(back[7].a, 0.5f, 1.0f / 255);
}

TEST(DxtCodec, FailedAllocationsDropRowsAndLeaveOutputsAlone) {
    BlockSurface s(D3DFMT_DXT3, 4, 4);
    EncodeDxt3Block(s.Block(0, 0), std::vector<ColorF>(16, kWhite).data(), 0);
    const std::vector<uint8_t> before = s.bytes;
    for (unsigned long failing : {1ul, 2ul}) {  // the slot table, then the buffer
        CodecPtr codec = Make(s.Whole());
        std::vector<ColorF> row(4, kBlack);
        ResetAllocationCount();
        FailAllocationAt(failing);
        EXPECT_EQ(codec->WriteRow(0, 0, row.data()), E_OUTOFMEMORY) << failing;
        ResetAllocationCount();
        for (uint32_t y = 1; y < 4; ++y) ASSERT_EQ(codec->WriteRow(y, 0, row.data()), S_OK);
        codec.reset();
        EXPECT_EQ(s.bytes, before) << "block row with a dropped row was written";
    }
    // The read cache.
    CodecPtr codec = Make(s.Whole());
    ColorF row[4] = {{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}};
    ResetAllocationCount();
    FailAllocationAt(1);
    EXPECT_EQ(codec->ReadRow(0, 0, row), E_OUTOFMEMORY);
    ResetAllocationCount();
    EXPECT_EQ(row[0].r, 9.0f);
    ASSERT_EQ(codec->ReadRow(0, 0, row), S_OK);
    EXPECT_TRUE(Same(row[0], kWhite));
}

TEST(DxtCodec, WhiteColourKeyReadsAsTransparentBlack) {
    BlockSurface s(D3DFMT_DXT1, 4, 4);
    ColorF px[16];
    for (int i = 0; i < 16; ++i) px[i] = i % 2 ? kWhite : kBlack;
    EncodeDxt1Block(s.Block(0, 0), px, 0);
    BlitRegion region = s.Whole();
    region.colorKey = 0xFFFFFFFFu;
    CodecPtr codec(CreatePixelCodec(region));
    ASSERT_NE(codec, nullptr);
    ColorF row[4];
    ASSERT_EQ(codec->ReadRow(2, 0, row), S_OK);
    EXPECT_TRUE(Same(row[0], kBlack)) << Show(row[0]);
    EXPECT_TRUE(Same(row[1], (ColorF{0, 0, 0, 0}))) << Show(row[1]);
    EXPECT_TRUE(Same(row[3], (ColorF{0, 0, 0, 0}))) << Show(row[3]);
}

// DXT2 and DXT4 store premultiplied colours and read them back divided.
TEST(DxtCodec, PremultipliedFormatsStoreColourTimesAlpha) {
    for (uint32_t format : {D3DFMT_DXT2, D3DFMT_DXT4}) {
        BlockSurface s(format, 4, 4);
        const ColorF in{1.0f, 0.5f, 0.0f, 0.6f};
        {
            CodecPtr codec = Make(s.Whole());
            WriteAll(*codec, [&](uint32_t, uint32_t) { return in; });
        }
        const auto stored =
            DecodeBlock(format == D3DFMT_DXT2 ? D3DFMT_DXT3 : D3DFMT_DXT5, s.Block(0, 0));
        EXPECT_NEAR(stored[5].r, 0.6f, 1.0f / 62) << format;
        EXPECT_NEAR(stored[5].g, 0.3f, 1.0f / 126) << format;
        CodecPtr codec = Make(s.Whole());
        ColorF row[4];
        ASSERT_EQ(codec->ReadRow(1, 0, row), S_OK);
        EXPECT_NEAR(row[1].r, 1.0f, 0.04f) << format;
        EXPECT_NEAR(row[1].g, 0.5f, 0.04f) << format;
        EXPECT_NEAR(row[1].a, 0.6f, 1.0f / 30) << format;
    }
}

TEST(DxtCodec, EveryFormatRoundTripsASmoothImage) {
    auto pixel = [](uint32_t x, uint32_t y) {
        // Colours along a line inside each block, as a palette can hold them.
        return ColorF{static_cast<float>(x) / 11.0f, 0.2f + static_cast<float>(x) / 22.0f, 0.5f,
                      static_cast<float>(y) / 7.0f};
    };
    for (uint32_t format : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
        BlockSurface s(format, 12, 8);
        {
            CodecPtr codec = Make(s.Whole());
            WriteAll(*codec, [&](uint32_t x, uint32_t y) {
                ColorF p = pixel(x, y);
                if (format == D3DFMT_DXT1) p.a = 1.0f;
                if (format == D3DFMT_DXT2 || format == D3DFMT_DXT4) p.a = 1.0f;
                return p;
            });
        }
        CodecPtr codec = Make(s.Whole());
        ColorF row[12];
        for (uint32_t y = 0; y < 8; ++y) {
            ASSERT_EQ(codec->ReadRow(y, 0, row), S_OK);
            for (uint32_t x = 0; x < 12; ++x) {
                const ColorF want = pixel(x, y);
                EXPECT_NEAR(row[x].r, want.r, 0.07) << format << " " << x << "," << y;
                EXPECT_NEAR(row[x].g, want.g, 0.07) << format << " " << x << "," << y;
                if (format == D3DFMT_DXT3 || format == D3DFMT_DXT5) {
                    EXPECT_NEAR(row[x].a, want.a, 0.04) << format << " " << x << "," << y;
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Block copies
// ---------------------------------------------------------------------------

TEST(DxtCodec, CopyBlocksCopiesAlignedBoxesAndRefusesOthers) {
    BlockSurface src(D3DFMT_DXT5, 12, 8), dst(D3DFMT_DXT5, 8, 12);
    for (size_t i = 0; i < src.bytes.size(); ++i) src.bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    {
        ConversionJob job;
        job.source = CreateDxtCodec(src.Region(4, 0, 12, 8));
        job.destination = CreateDxtCodec(dst.Region(0, 4, 8, 12));
        ASSERT_EQ(CopyBlocks(job), S_OK);
    }
    EXPECT_EQ(std::vector<uint8_t>(dst.bytes.begin(), dst.bytes.begin() + 32),
              std::vector<uint8_t>(32, 0));
    for (uint32_t by = 0; by < 2; ++by)
        EXPECT_EQ(0, std::memcmp(dst.Block(0, by + 1), src.Block(1, by), 32)) << by;

    struct Refused {
        ImageBox srcBox, dstBox;
        uint32_t dstFormat;
    } refused[] = {
        {{2, 0, 10, 8, 0, 1}, {0, 0, 8, 8, 0, 1}, D3DFMT_DXT5},   // left edge 2
        {{0, 0, 8, 8, 0, 1}, {0, 0, 8, 8, 0, 1}, D3DFMT_DXT3},    // formats differ
        {{0, 0, 8, 8, 0, 1}, {0, 0, 8, 4, 0, 1}, D3DFMT_DXT5},    // sizes differ
        {{0, 0, 8, 6, 0, 1}, {0, 2, 8, 8, 0, 1}, D3DFMT_DXT5},    // top/bottom unaligned
    };
    for (const Refused& r : refused) {
        BlockSurface d(r.dstFormat, 8, 12);
        BlitRegion sr = src.Whole(), dr = d.Whole();
        sr.box = r.srcBox;
        dr.box = r.dstBox;
        ConversionJob job;
        job.source = CreateDxtCodec(sr);
        job.destination = CreateDxtCodec(dr);
        EXPECT_EQ(CopyBlocks(job), E_FAIL);
    }
}

// Same format and size through the engine: the blocks are copied, whatever
// dithering says; a box at column 2 goes through the codecs instead, so the
// destination pixels left of the box keep their own colour.
TEST(DxtCodec, EngineCopiesBlocksOnlyWhenTheyLineUp) {
    BlockSurface src(D3DFMT_DXT1, 8, 8), dst(D3DFMT_DXT1, 8, 8);
    auto pixel = [](uint32_t x, uint32_t y) { return (x + y) % 2 ? kWhite : kBlack; };
    {
        CodecPtr codec = Make(src.Whole());
        WriteAll(*codec, pixel);
    }
    {
        BlitRegion d = dst.Whole(), s = src.Whole();
        ConversionJob job;
        ASSERT_EQ(job.ConvertRegion(d, s, FilterNone | FilterDither), S_OK);
        EXPECT_EQ(dst.bytes, src.bytes);
    }
    BlockSurface shifted(D3DFMT_DXT1, 8, 8);  // all black
    BlitRegion d = shifted.Region(2, 0, 6, 4), s = src.Region(2, 0, 6, 4);
    ConversionJob job;
    ASSERT_EQ(job.ConvertRegion(d, s, FilterNone), S_OK);
    CodecPtr reader = Make(shifted.Region(0, 0, 8, 4));
    ColorF row[8];
    for (uint32_t y = 0; y < 4; ++y) {
        ASSERT_EQ(reader->ReadRow(y, 0, row), S_OK);
        for (uint32_t x = 0; x < 8; ++x) {
            const ColorF want = x >= 2 && x < 6 ? pixel(x, y) : kBlack;
            EXPECT_TRUE(Same(row[x], want)) << x << "," << y << " " << Show(row[x]);
        }
    }
}

// ---------------------------------------------------------------------------
// Files read by decoders written elsewhere
// ---------------------------------------------------------------------------

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A DDS file of one DXT surface: magic, the 124-byte header with its 32-byte
// pixel format, then the blocks.
std::vector<uint8_t> DdsFile(const BlockSurface& s) {
    std::vector<uint8_t> out = {'D', 'D', 'S', ' '};
    PutU32(out, 124);
    PutU32(out, 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000);  // caps, height, width, format, size
    PutU32(out, s.height);
    PutU32(out, s.width);
    PutU32(out, static_cast<uint32_t>(s.bytes.size()));
    PutU32(out, 0);                                   // depth
    PutU32(out, 0);                                   // mip levels
    for (int i = 0; i < 11; ++i) PutU32(out, 0);
    PutU32(out, 32);
    PutU32(out, 0x4);  // four-character code
    PutU32(out, s.format);
    for (int i = 0; i < 5; ++i) PutU32(out, 0);
    PutU32(out, 0x1000);  // texture
    for (int i = 0; i < 4; ++i) PutU32(out, 0);
    out.insert(out.end(), s.bytes.begin(), s.bytes.end());
    return out;
}

bool Run(const std::vector<std::string>& args, const std::string& stdoutPath) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (!stdoutPath.empty()) {
            if (!std::freopen(stdoutPath.c_str(), "w", stdout)) _exit(127);
        }
        if (!std::freopen("/dev/null", "w", stderr)) _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

// ImageMagick: the file as 8-bit RGBA bytes.
bool ReadWithImageMagick(const std::string& dds, size_t pixels, std::vector<uint8_t>* rgba) {
    const std::string tool = "/usr/bin/convert";
    if (access(tool.c_str(), X_OK) != 0) return false;
    const std::string raw = dds + ".rgba";
    if (!Run({tool, dds, "-depth", "8", "rgba:" + raw}, "")) return false;
    *rgba = ReadFile(raw);
    std::remove(raw.c_str());
    return rgba->size() == pixels * 4;
}

// OpenImageIO: the file's pixel values as text, one pixel per line:
// "Pixel (x, y): r g b a (normalized values)".
bool ReadWithOiio(const std::string& dds, size_t pixels, std::vector<uint8_t>* rgba) {
    const std::string tool = "/usr/bin/oiiotool";
    if (access(tool.c_str(), X_OK) != 0) return false;
    const std::string text = dds + ".txt";
    if (!Run({tool, "--dumpdata", dds}, text)) return false;
    std::ifstream in(text);
    std::string line;
    rgba->clear();
    while (std::getline(in, line)) {
        const size_t colon = line.find("):");
        if (line.find("Pixel (") == std::string::npos || colon == std::string::npos) continue;
        const size_t paren = line.find('(', colon);
        std::istringstream values(line.substr(colon + 2, paren - colon - 2));
        int v, n = 0;
        while (values >> v) {
            rgba->push_back(static_cast<uint8_t>(v));
            ++n;
        }
        if (n != 4) return false;
    }
    std::remove(text.c_str());
    return rgba->size() == pixels * 4;
}

TEST(DxtFiles, OtherDecodersReadOurBlocksLikeOurDecoder) {
    const uint32_t w = 14, h = 10;
    // A picture with gradients, hard edges and (for DXT3/5) varying alpha.
    auto pixel = [](uint32_t x, uint32_t y) {
        const float fx = x / 13.0f, fy = y / 9.0f;
        return ColorF{fx, fy * fy, (x / 3 + y / 2) % 2 ? 0.9f : 0.1f, 0.25f + 0.75f * fx * fy};
    };
    const char* dir = std::getenv("TMPDIR");
    const std::string base = std::string(dir && *dir ? dir : "/tmp") + "/z3az_dxt_" +
                             std::to_string(getpid());
    bool anyReader = false;
    for (uint32_t format : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
        BlockSurface s(format, w, h);
        {
            CodecPtr codec = Make(s.Whole());
            WriteAll(*codec, [&](uint32_t x, uint32_t y) {
                ColorF p = pixel(x, y);
                if (format == D3DFMT_DXT1) p.a = (x + y) % 5 ? 1.0f : 0.0f;
                return p;
            });
        }
        // Our own decoder through the codec, as 8-bit values.
        std::vector<uint8_t> ours;
        {
            CodecPtr codec = Make(s.Whole());
            std::vector<ColorF> row(w);
            for (uint32_t y = 0; y < h; ++y) {
                ASSERT_EQ(codec->ReadRow(y, 0, row.data()), S_OK);
                for (const ColorF& p : row)
                    for (float c : {p.r, p.g, p.b, p.a})
                        ours.push_back(static_cast<uint8_t>(c * 255.0f + 0.5f));
            }
        }
        const std::string path = base + "_" + std::to_string(format) + ".dds";
        {
            const std::vector<uint8_t> file = DdsFile(s);
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(file.data()), file.size());
        }
        struct Reader {
            const char* name;
            bool (*read)(const std::string&, size_t, std::vector<uint8_t>*);
        } readers[] = {{"ImageMagick", ReadWithImageMagick}, {"OpenImageIO", ReadWithOiio}};
        for (const Reader& reader : readers) {
            std::vector<uint8_t> theirs;
            if (!reader.read(path, static_cast<size_t>(w) * h, &theirs)) {
                ADD_FAILURE() << reader.name << " could not read " << path;
                continue;
            }
            anyReader = true;
            int worst = 0;
            for (size_t i = 0; i < ours.size(); ++i) {
                // DXT1 transparent pixels: only alpha is defined.
                if (format == D3DFMT_DXT1 && ours[i | 3] == 0 && (i & 3) != 3) continue;
                worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
            }
            // Readers expand 5/6-bit codes and interpolate in 8-bit integers.
            EXPECT_LE(worst, 1) << reader.name << " format " << format;
            std::printf("[ info ] %s reads %c%c%c%c within %d code(s) of ours\n", reader.name,
                        char(format), char(format >> 8), char(format >> 16), char(format >> 24),
                        worst);
        }
        std::remove(path.c_str());
    }
    EXPECT_TRUE(anyReader);
}

}  // namespace
}  // namespace z3az
