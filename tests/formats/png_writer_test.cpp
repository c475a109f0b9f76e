#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "formats/writers.h"
#include "platform/heap.h"
#include "save/image_saver.h"
#include "support/file_helpers.h"
#include "support/layer_helpers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::Be32;
using test::PointLayerAt;
using test::StreamBytes;
using test::StreamRecorder;

// ---------------------------------------------------------------------------
// An independent read-back through libpng's reading API.
// ---------------------------------------------------------------------------
struct DecodedPng {
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colourType = -1;
    std::vector<uint8_t> samples;  // rows as stored in the file
    std::vector<png_bytep> rows;
    const std::vector<uint8_t>* input = nullptr;
    size_t offset = 0;
};

void ReadFromVector(png_structp png, png_bytep out, png_size_t n) {
    auto* d = static_cast<DecodedPng*>(png_get_io_ptr(png));
    if (d->offset + n > d->input->size()) png_error(png, "truncated");
    std::memcpy(out, d->input->data() + d->offset, n);
    d->offset += n;
}

// Keeps no object with a destructor in its own frame: everything lives in d.
bool DecodeInto(DecodedPng* d) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, d, ReadFromVector);
    png_read_info(png, info);
    d->width = png_get_image_width(png, info);
    d->height = png_get_image_height(png, info);
    d->bitDepth = png_get_bit_depth(png, info);
    d->colourType = png_get_color_type(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    d->samples.resize(rowBytes * d->height);
    d->rows.resize(d->height);
    for (uint32_t y = 0; y < d->height; ++y) d->rows[y] = d->samples.data() + y * rowBytes;
    png_read_image(png, d->rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool DecodePng(const std::vector<uint8_t>& bytes, DecodedPng& out) {
    out.input = &bytes;
    return DecodeInto(&out);
}

struct Chunk {
    std::string type;
    uint32_t length;
    size_t dataAt;
};

std::vector<Chunk> Chunks(const std::vector<uint8_t>& b) {
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= b.size();) {
        const uint32_t length = Be32(b, at);
        chunks.push_back({std::string(b.begin() + at + 4, b.begin() + at + 8), length, at + 8});
        at += 12 + size_t(length);
    }
    return chunks;
}

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct Result {
    HRESULT hr;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> writes;
};

Result EncodeToMemory(const ImageLayer& layer, size_t failFrom = 0) {
    OutputStream stream;
    EXPECT_EQ(stream.Open(nullptr, Memory), S_OK);
    StreamRecorder recorder;
    recorder.failFrom = failFrom;
    recorder.Attach(stream);
    Result r;
    r.hr = WritePng(layer, stream);
    r.bytes = StreamBytes(stream);
    r.writes = recorder.lengths;
    return r;
}

// Noise that deflate cannot squeeze, so the stream spans many IDAT chunks.
std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = uint8_t(x);
    }
    return v;
}

TEST(PngWriter, EightBitByteOrderAndNoAlpha) {
    for (uint32_t format : {uint32_t(D3DFMT_X8R8G8B8), uint32_t(D3DFMT_A8R8G8B8)}) {
        uint8_t px[8] = {0x30, 0x20, 0x10, 0xFF, 0x01, 0x02, 0x03, 0x00};
        ImageLayer layer;
        PointLayerAt(layer, format, px, 2, 1, 8);
        const Result r = EncodeToMemory(layer);
        ASSERT_EQ(r.hr, S_OK);
        DecodedPng d;
        ASSERT_TRUE(DecodePng(r.bytes, d));
        EXPECT_EQ(d.width, 2u);
        EXPECT_EQ(d.height, 1u);
        EXPECT_EQ(d.bitDepth, 8);
        EXPECT_EQ(d.colourType, PNG_COLOR_TYPE_RGB);
        EXPECT_EQ(d.samples, (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x03, 0x02, 0x01}));
    }
}

TEST(PngWriter, SixteenBitByteOrder) {
    uint8_t px[8] = {0x34, 0x12, 0xCD, 0xAB, 0x01, 0x00, 0x77, 0x66};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_A16B16G16R16, px, 1, 1, 8);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    DecodedPng d;
    ASSERT_TRUE(DecodePng(r.bytes, d));
    EXPECT_EQ(d.bitDepth, 16);
    EXPECT_EQ(d.colourType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(d.samples, (std::vector<uint8_t>{0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01}));
}

TEST(PngWriter, EveryPixelReadsBackAndPaddedPitchLeavesNoTrace) {
    struct Case {
        uint32_t format, bpp;
    } const cases[] = {{D3DFMT_X8R8G8B8, 4}, {D3DFMT_A16B16G16R16, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const uint32_t W = 37, H = 23, pitch = W * c.bpp + 13;
        std::vector<uint8_t> mem = Noise(size_t(pitch) * H, c.format);
        ImageLayer layer;
        PointLayerAt(layer, c.format, mem.data(), W, H, pitch);
        const Result padded = EncodeToMemory(layer);
        ASSERT_EQ(padded.hr, S_OK);
        // Change only the bytes beyond each row: the file must not change.
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t k = W * c.bpp; k < pitch; ++k) mem[y * pitch + k] ^= 0xFF;
        EXPECT_EQ(EncodeToMemory(layer).bytes, padded.bytes);

        DecodedPng d;
        ASSERT_TRUE(DecodePng(padded.bytes, d));
        ASSERT_EQ(d.width, W);
        ASSERT_EQ(d.height, H);
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                const uint8_t* s = mem.data() + y * pitch + x * c.bpp;
                if (c.bpp == 4) {
                    const uint8_t* f = d.rows[y] + x * 3;
                    ASSERT_EQ(f[0], s[2]);
                    ASSERT_EQ(f[1], s[1]);
                    ASSERT_EQ(f[2], s[0]);
                } else {
                    const uint8_t* f = d.rows[y] + x * 6;
                    for (int ch = 0; ch < 3; ++ch) {
                        ASSERT_EQ(f[2 * ch], s[2 * ch + 1]);
                        ASSERT_EQ(f[2 * ch + 1], s[2 * ch]);
                    }
                }
            }
    }
}

TEST(PngWriter, ChunksAreIhdrIdatsIend) {
    const uint32_t W = 200, H = 150;
    std::vector<uint8_t> mem = Noise(W * H * 4, 7);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_A8R8G8B8, mem.data(), W, H, W * 4);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_GE(r.bytes.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(r.bytes.begin(), r.bytes.begin() + 8), std::vector<uint8_t>(kSignature, kSignature + 8));
    const std::vector<Chunk> chunks = Chunks(r.bytes);
    ASSERT_GE(chunks.size(), 4u);  // noise needs several IDAT chunks
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    EXPECT_EQ(chunks.back().length, 0u);
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, "IDAT") << i;
        EXPECT_LE(chunks[i].length, 8192u) << i;
    }
    const Chunk& ihdr = chunks.front();
    ASSERT_EQ(ihdr.length, 13u);
    EXPECT_EQ(Be32(r.bytes, ihdr.dataAt), W);
    EXPECT_EQ(Be32(r.bytes, ihdr.dataAt + 4), H);
    EXPECT_EQ(std::vector<uint8_t>(r.bytes.begin() + ihdr.dataAt + 8, r.bytes.begin() + ihdr.dataAt + 13),
              (std::vector<uint8_t>{8, 2, 0, 0, 0}));
    const Chunk& last = chunks.back();
    EXPECT_EQ(last.dataAt + 4, r.bytes.size());  // nothing after IEND's CRC
}

TEST(PngWriter, PngcheckFindsNoFault) {
    test::ScratchDir dir;
    const uint32_t W = 64, H = 48;
    std::vector<uint8_t> mem(W * H * 8);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = uint8_t(i * 3 + (i >> 7));
    for (uint32_t format : {uint32_t(D3DFMT_X8R8G8B8), uint32_t(D3DFMT_A16B16G16R16)}) {
        ImageLayer layer;
        PointLayerAt(layer, format, mem.data(), W, H, W * 8);
        const std::string path = dir.File("c" + std::to_string(format) + ".png");
        ASSERT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFilePng, FileA), S_OK);
        EXPECT_EQ(layer.format, format);  // stored as it is, no conversion
        std::string out;
        EXPECT_EQ(test::RunCommand("pngcheck -v " + path + " 2>&1", &out), 0) << out;
        EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    }
}

TEST(PngWriter, HeightZeroIsALibraryError) {
    // libpng 1.6 checks the header values when they are set, so the error
    // comes before the signature is written.
    uint8_t px[4] = {};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px, 4, 0, 16);
    const Result r = EncodeToMemory(layer);
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_TRUE(r.writes.empty());
    EXPECT_TRUE(r.bytes.empty());
}

TEST(PngWriter, WidthZeroIsALibraryError) {
    uint8_t px[4] = {};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px, 0, 4, 16);
    const Result r = EncodeToMemory(layer);
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_TRUE(r.bytes.empty());
}

TEST(PngWriter, RowBufferFailureWritesNothing) {
    uint8_t px[16] = {};
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px, 2, 2, 8);
    OutputStream stream;
    ASSERT_EQ(stream.Open(nullptr, Memory), S_OK);
    FailAllocationAt(1);  // libpng allocates from the C heap; the row buffer is ours
    const HRESULT hr = WritePng(layer, stream);
    FailAllocationAt(0);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(stream.committed, 0u);
}

TEST(PngWriter, RefusedStreamWriteStopsTheEncoding) {
    const uint32_t W = 128, H = 128;
    std::vector<uint8_t> mem = Noise(W * H * 4, 3);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const Result whole = EncodeToMemory(layer);
    ASSERT_EQ(whole.hr, S_OK);
    ASSERT_GT(whole.writes.size(), 6u);
    for (size_t failAt : {size_t(1), size_t(3), whole.writes.size()}) {
        SCOPED_TRACE(failAt);
        const Result r = EncodeToMemory(layer, failAt);
        EXPECT_EQ(r.hr, E_FAIL);
        // The refused write was the last one libpng attempted.
        EXPECT_EQ(r.writes.size(), failAt);
    }
}

TEST(PngWriter, FullDeviceAndRefusedFileThroughTheSaver) {
    const uint32_t W = 256, H = 256;
    std::vector<uint8_t> mem = Noise(W * H * 4, 9);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    EXPECT_EQ(ImageSaver::Save(layer, "/dev/full", ImageFilePng, FileA), E_FAIL);

    // The first 64 KiB block is refused: libpng stops instead of encoding on.
    test::ScratchDir dir;
    test::WriteFileRecorder recorder(1);
    EXPECT_EQ(ImageSaver::Save(layer, dir.File("x.png").c_str(), ImageFilePng, FileA), E_FAIL);
    // The refused block, then the saver's flush and the close's flush trying
    // the same buffered bytes again; libpng produced nothing more.
    const std::vector<uint32_t>& writes = recorder.lengths();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], 65536u);
    EXPECT_LT(writes[1], 65536u);
    EXPECT_EQ(writes[2], writes[1]);
    EXPECT_TRUE(test::FileExists(dir.File("x.png")));
}

TEST(PngWriter, SaverStoresTheDistributionsReadableFile) {
    test::ScratchDir dir;
    const uint32_t W = 17, H = 9;
    std::vector<uint8_t> mem = Noise(W * H * 4, 11);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const std::string path = dir.File("s.png");
    ASSERT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFilePng, FileA), S_OK);
    OutputStream stream;
    ASSERT_EQ(stream.Open(nullptr, Memory), S_OK);
    ASSERT_EQ(WritePng(layer, stream), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path), StreamBytes(stream));
}

}  // namespace
}  // namespace z3az
