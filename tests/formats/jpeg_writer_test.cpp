#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>

#include <cmath>
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

using test::PointLayerAt;
using test::StreamBytes;
using test::StreamRecorder;

// ---------------------------------------------------------------------------
// An independent read-back through libjpeg's decompressor.
// ---------------------------------------------------------------------------
struct DecodeError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

[[noreturn]] void OnDecodeError(j_common_ptr cinfo) { longjmp(reinterpret_cast<DecodeError*>(cinfo->err)->jump, 1); }

struct DecodedJpeg {
    jpeg_decompress_struct cinfo;
    DecodeError error;
    uint32_t width, height, components;
    int lumaH, lumaV;
    uint8_t* pixels;  // width * height * 3, from malloc
};

// Keeps no object with a destructor in its own frame: everything lives in d.
bool DecodeInto(DecodedJpeg* d, const uint8_t* data, size_t size) {
    d->pixels = nullptr;
    d->cinfo.err = jpeg_std_error(&d->error.pub);
    d->error.pub.error_exit = OnDecodeError;
    if (setjmp(d->error.jump)) {
        jpeg_destroy_decompress(&d->cinfo);
        std::free(d->pixels);
        d->pixels = nullptr;
        return false;
    }
    jpeg_create_decompress(&d->cinfo);
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d->cinfo, TRUE);
    d->cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d->cinfo);
    d->width = d->cinfo.output_width;
    d->height = d->cinfo.output_height;
    d->components = d->cinfo.num_components;
    d->lumaH = d->cinfo.comp_info[0].h_samp_factor;
    d->lumaV = d->cinfo.comp_info[0].v_samp_factor;
    d->pixels = static_cast<uint8_t*>(std::malloc(size_t(d->width) * d->height * 3));
    while (d->cinfo.output_scanline < d->height) {
        JSAMPROW row = d->pixels + size_t(d->cinfo.output_scanline) * d->width * 3;
        jpeg_read_scanlines(&d->cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d->cinfo);
    jpeg_destroy_decompress(&d->cinfo);
    return true;
}

struct Decoded {
    uint32_t width = 0, height = 0, components = 0;
    int lumaH = 0, lumaV = 0;
    std::vector<uint8_t> rgb;
};

bool DecodeJpeg(const std::vector<uint8_t>& bytes, Decoded& out) {
    DecodedJpeg* d = static_cast<DecodedJpeg*>(std::calloc(1, sizeof(DecodedJpeg)));
    const bool ok = DecodeInto(d, bytes.data(), bytes.size());
    if (ok) {
        out.width = d->width, out.height = d->height, out.components = d->components;
        out.lumaH = d->lumaH, out.lumaV = d->lumaV;
        out.rgb.assign(d->pixels, d->pixels + size_t(d->width) * d->height * 3);
    }
    std::free(d->pixels);
    std::free(d);
    return ok;
}

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
    r.hr = WriteJpeg(layer, stream);
    r.bytes = StreamBytes(stream);
    r.writes = recorder.lengths;
    return r;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = uint8_t(x);
    }
    return v;
}

// A smooth, photograph-like X8R8G8B8 picture: gradients and soft rings.
std::vector<uint8_t> SmoothPicture(uint32_t w, uint32_t h) {
    std::vector<uint8_t> v(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double dx = x - w / 2.0, dy = y - h / 2.0;
            const double ring = 0.5 + 0.5 * std::cos(std::sqrt(dx * dx + dy * dy) / 6.0);
            uint8_t* p = &v[(size_t(y) * w + x) * 4];
            p[0] = uint8_t(255.0 * x / (w - 1));           // blue
            p[1] = uint8_t(60 + 150 * ring);               // green
            p[2] = uint8_t(255.0 * y / (h - 1));           // red
            p[3] = 0x5A;                                   // X, ignored
        }
    return v;
}

struct Marker {
    uint8_t code;
    size_t at;  // offset of the FF byte
    uint32_t length;
};

// Markers up to and including SOS, then the end of the entropy-coded data.
std::vector<Marker> Markers(const std::vector<uint8_t>& b, bool* entropyClean) {
    std::vector<Marker> markers;
    size_t at = 0;
    *entropyClean = false;
    if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return markers;
    markers.push_back({0xD8, 0, 0});
    at = 2;
    while (at + 4 <= b.size() && b[at] == 0xFF) {
        const uint8_t code = b[at + 1];
        const uint32_t length = uint32_t(b[at + 2]) << 8 | b[at + 3];
        markers.push_back({code, at, length});
        at += 2 + length;
        if (code == 0xDA) break;
    }
    // Entropy data: every FF is stuffed (FF 00) until the closing FF D9.
    bool clean = true;
    for (; at + 1 < b.size(); ++at) {
        if (b[at] != 0xFF) continue;
        if (b[at + 1] == 0x00) {
            ++at;
            continue;
        }
        markers.push_back({b[at + 1], at, 0});
        clean = at + 2 == b.size() && b[at + 1] == 0xD9;
        break;
    }
    *entropyClean = clean;
    return markers;
}

TEST(JpegWriter, MarkerOrderJfifHeaderAndSampling) {
    const uint32_t W = 64, H = 48;
    std::vector<uint8_t> mem = SmoothPicture(W, H);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    bool clean = false;
    const std::vector<Marker> m = Markers(r.bytes, &clean);
    std::vector<uint8_t> codes;
    for (const Marker& k : m) codes.push_back(k.code);
    // SOI, APP0, one DQT per table, SOF0, DHT for DC/AC of luma and chroma, SOS, EOI.
    EXPECT_EQ(codes, (std::vector<uint8_t>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9}));
    EXPECT_TRUE(clean);
    ASSERT_GE(m.size(), 5u);

    const std::vector<uint8_t>& b = r.bytes;
    const size_t app0 = m[1].at + 4;
    EXPECT_EQ(m[1].length, 16u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + app0, b.begin() + app0 + 12),
              (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1}));  // 1.01, unit 0, 1 x 1
    EXPECT_EQ(b[app0 + 12], 0);  // no thumbnail
    EXPECT_EQ(b[app0 + 13], 0);

    const size_t sof = m[4].at + 4;
    EXPECT_EQ(b[sof], 8);                                   // precision
    EXPECT_EQ((b[sof + 1] << 8 | b[sof + 2]), int(H));
    EXPECT_EQ((b[sof + 3] << 8 | b[sof + 4]), int(W));
    ASSERT_EQ(b[sof + 5], 3);                               // Y, Cb, Cr
    EXPECT_EQ(b[sof + 7], 0x22);                            // luminance 2 x 2
    EXPECT_EQ(b[sof + 10], 0x11);
    EXPECT_EQ(b[sof + 13], 0x11);
}

// The standard's example tables (natural order) and the zigzag sequence.
const int kLumaTable[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                            14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                            18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                            49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChromaTable[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                              24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                         41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                         30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

TEST(JpegWriter, QuantisationTablesAreQuality75) {
    const uint32_t W = 16, H = 16;
    std::vector<uint8_t> mem = SmoothPicture(W, H);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    bool clean = false;
    const std::vector<Marker> m = Markers(r.bytes, &clean);
    ASSERT_GE(m.size(), 4u);
    const int* tables[2] = {kLumaTable, kChromaTable};
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(m[2 + t].code, 0xDB);
        ASSERT_EQ(m[2 + t].length, 67u);
        const size_t at = m[2 + t].at + 4;
        EXPECT_EQ(r.bytes[at], t);  // 8-bit entries, table t
        for (int k = 0; k < 64; ++k) {
            // Quality 75 scales the tables to 50 %, rounding, at least 1.
            int q = (tables[t][kZigzag[k]] * 50 + 50) / 100;
            if (q < 1) q = 1;
            EXPECT_EQ(r.bytes[at + 1 + k], q) << "table " << t << " entry " << k;
        }
    }
}

double Psnr(const std::vector<uint8_t>& bgrx, const std::vector<uint8_t>& rgb) {
    double sum = 0;
    const size_t n = rgb.size() / 3;
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            const double d = double(bgrx[i * 4 + 2 - c]) - rgb[i * 3 + c];
            sum += d * d;
        }
    const double mse = sum / (n * 3);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(JpegWriter, DecodesCloseToTheSource) {
    const uint32_t W = 256, H = 192;
    std::vector<uint8_t> mem = SmoothPicture(W, H);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    Decoded d;
    ASSERT_TRUE(DecodeJpeg(r.bytes, d));
    EXPECT_EQ(d.width, W);
    EXPECT_EQ(d.height, H);
    EXPECT_EQ(d.components, 3u);
    EXPECT_EQ(d.lumaH, 2);
    EXPECT_EQ(d.lumaV, 2);
    const double psnr = Psnr(mem, d.rgb);
    // Quality 75 with 4:2:0 chroma on this picture measures 41.1 dB:
    // clearly lossy, clearly faithful.
    RecordProperty("psnr_db", std::to_string(psnr));
    std::printf("JPEG quality 75, %ux%u smooth picture: PSNR %.2f dB, %zu bytes\n", W, H, psnr, r.bytes.size());
    EXPECT_GT(psnr, 32.0);
    EXPECT_LT(psnr, 50.0);
}

TEST(JpegWriter, PixelByteOrderReachesTheEncoderAsRgb) {
    std::vector<uint8_t> mem(16 * 16 * 4);
    for (size_t i = 0; i < mem.size(); i += 4) {
        mem[i] = 0x30, mem[i + 1] = 0x20, mem[i + 2] = 0x10, mem[i + 3] = 0xFF;
    }
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), 16, 16, 64);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    Decoded d;
    ASSERT_TRUE(DecodeJpeg(r.bytes, d));
    for (size_t i = 0; i < d.rgb.size(); i += 3) {
        ASSERT_NEAR(d.rgb[i], 0x10, 2);
        ASSERT_NEAR(d.rgb[i + 1], 0x20, 2);
        ASSERT_NEAR(d.rgb[i + 2], 0x30, 2);
    }
}

TEST(JpegWriter, BoxOffsetStartsAtItsPixel) {
    const uint32_t W = 24, H = 20, FW = W + 5, FH = H + 3;
    std::vector<uint8_t> full = Noise(size_t(FW) * FH * 4, 5);
    std::vector<uint8_t> packed(size_t(W) * H * 4);
    for (uint32_t y = 0; y < H; ++y) std::memcpy(&packed[y * W * 4], &full[((1 + y) * FW + 2) * 4], W * 4);
    ImageLayer inBox, tight;
    PointLayerAt(inBox, D3DFMT_X8R8G8B8, full.data(), W, H, FW * 4, 2, 1);
    PointLayerAt(tight, D3DFMT_X8R8G8B8, packed.data(), W, H, W * 4);
    const Result a = EncodeToMemory(inBox), b = EncodeToMemory(tight);
    ASSERT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.bytes, b.bytes);
}

TEST(JpegWriter, StreamReceivesFull4096BytePiecesAndAShorterLast) {
    const uint32_t W = 160, H = 120;
    std::vector<uint8_t> mem = Noise(size_t(W) * H * 4, 2);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const Result r = EncodeToMemory(layer);
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_GT(r.writes.size(), 2u);
    for (size_t i = 0; i + 1 < r.writes.size(); ++i) EXPECT_EQ(r.writes[i], 4096u) << i;
    EXPECT_GT(r.writes.back(), 0u);
    EXPECT_LE(r.writes.back(), 4096u);
    size_t total = 0;
    for (uint32_t n : r.writes) total += n;
    EXPECT_EQ(total, r.bytes.size());
}

// A flat picture costs the same few bytes for every further 16 x 16 block,
// so its width can be chosen to make the file an exact multiple of 4096
// bytes. The last full buffer then leaves through empty_output_buffer, and
// term_destination finds nothing to pass on: no write of 0 bytes, no
// write after the last full piece.
std::vector<uint8_t> FlatPicture(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> v(size_t(w) * h * 4);
    for (size_t i = 0; i < v.size(); i += 4) v[i] = b, v[i + 1] = g, v[i + 2] = r, v[i + 3] = 0;
    return v;
}

TEST(JpegWriter, FileOfWhole4096BytePiecesEndsWithoutAShorterWrite) {
    const uint8_t colours[][3] = {{200, 30, 90}, {128, 128, 128}, {255, 0, 0}, {10, 220, 60}};
    auto encode = [](uint32_t w, const uint8_t* c) {
        std::vector<uint8_t> mem = FlatPicture(w, 16, c[0], c[1], c[2]);
        ImageLayer layer;
        PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), w, 16, w * 4);
        return EncodeToMemory(layer);
    };
    bool found = false;
    for (const auto& c : colours) {
        const Result one = encode(16, c), two = encode(32, c);
        ASSERT_EQ(one.hr, S_OK);
        ASSERT_EQ(two.hr, S_OK);
        const size_t step = two.bytes.size() - one.bytes.size();
        const size_t base = one.bytes.size() - step;
        if (step == 0 || (4096 - base) % step != 0) continue;
        found = true;
        const uint32_t blocks = uint32_t((4096 - base) / step);
        const Result r = encode(16 * blocks, c);
        ASSERT_EQ(r.hr, S_OK);
        ASSERT_EQ(r.bytes.size(), 4096u);
        EXPECT_EQ(r.writes, std::vector<uint32_t>{4096});
        Decoded d;
        ASSERT_TRUE(DecodeJpeg(r.bytes, d));
        EXPECT_EQ(d.width, 16 * blocks);
        break;
    }
    EXPECT_TRUE(found) << "no flat colour gives a file of exactly 4096 bytes";
}

TEST(JpegWriter, SizesOutsideTheLimitsWriteNothing) {
    uint8_t px[16] = {};
    const uint32_t sizes[][2] = {{0, 8}, {8, 0}, {0, 0}, {65501, 1}, {1, 65501}, {0xFFFFFFFFu, 1}};
    for (const auto& s : sizes) {
        ImageLayer layer;
        PointLayerAt(layer, D3DFMT_X8R8G8B8, px, s[0], s[1], 4);
        const Result r = EncodeToMemory(layer);
        EXPECT_EQ(r.hr, E_FAIL) << s[0] << "x" << s[1];
        EXPECT_TRUE(r.writes.empty());
        EXPECT_TRUE(r.bytes.empty());
    }
}

TEST(JpegWriter, LargestWidthIsAccepted) {
    std::vector<uint8_t> px(65500 * 4, 0x80);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, px.data(), 65500, 1, 65500 * 4);
    const Result r = EncodeToMemory(layer);
    EXPECT_EQ(r.hr, S_OK);
    Decoded d;
    ASSERT_TRUE(DecodeJpeg(r.bytes, d));
    EXPECT_EQ(d.width, 65500u);
}

TEST(JpegWriter, RefusedStreamWriteStopsTheEncoding) {
    const uint32_t W = 160, H = 120;
    std::vector<uint8_t> mem = Noise(size_t(W) * H * 4, 4);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const Result whole = EncodeToMemory(layer);
    ASSERT_EQ(whole.hr, S_OK);
    // A piece in the middle, and the last one (from term_destination).
    for (size_t failAt : {size_t(1), size_t(2), whole.writes.size()}) {
        SCOPED_TRACE(failAt);
        const Result r = EncodeToMemory(layer, failAt);
        EXPECT_EQ(r.hr, E_FAIL);
        EXPECT_EQ(r.writes.size(), failAt);  // nothing after the refusal
    }
}

TEST(JpegWriter, OwnAllocationFailures) {
    std::vector<uint8_t> mem = SmoothPicture(32, 32);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), 32, 32, 128);
    // 1: the 4096-byte destination buffer (a library error); 2: the row buffer.
    const HRESULT expected[] = {E_FAIL, E_OUTOFMEMORY};
    for (unsigned long n = 1; n <= 2; ++n) {
        OutputStream stream;
        ASSERT_EQ(stream.Open(nullptr, Memory), S_OK);
        FailAllocationAt(n);
        const HRESULT hr = WriteJpeg(layer, stream);
        FailAllocationAt(0);
        EXPECT_EQ(hr, expected[n - 1]) << n;
        EXPECT_EQ(stream.committed, 0u) << n;
    }
}

TEST(JpegWriter, SaverWritesAFilePillowOpens) {
    test::ScratchDir dir;
    const uint32_t W = 120, H = 90;
    std::vector<uint8_t> mem = SmoothPicture(W, H);
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_X8R8G8B8, mem.data(), W, H, W * 4);
    const std::string path = dir.File("p.jpg");
    ASSERT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFileJpg, FileA), S_OK);
    EXPECT_EQ(layer.bits, mem.data());  // no conversion for X8R8G8B8
    std::string out;
    const std::string cmd = std::string(test::DistributionPython()) +
                            " -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.load(); "
                            "print(im.format, im.size[0], im.size[1], im.mode, im.info.get('jfif_version'), "
                            "im.info.get('jfif_unit'), im.info.get('jfif_density'))\" " + path + " 2>&1";
    EXPECT_EQ(test::RunCommand(cmd, &out), 0) << out;
    EXPECT_EQ(out, "JPEG 120 90 RGB (1, 1) 0 (1, 1)\n");
    // No file in the temporary directory is left behind by the encoder.
    EXPECT_EQ(test::RunCommand("ls ${TMPDIR:-/tmp} | grep -q '^z3az[0-9]'"), 1);
}

TEST(JpegWriter, SaverConvertsOtherFormatsToX8R8G8B8) {
    test::ScratchDir dir;
    std::vector<uint8_t> mem(8 * 8 * 4, 0xFF);  // opaque white A8R8G8B8
    ImageLayer layer;
    PointLayerAt(layer, D3DFMT_A8R8G8B8, mem.data(), 8, 8, 32);
    const std::string path = dir.File("c.jpg");
    ASSERT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFileJpg, FileA), S_OK);
    EXPECT_EQ(layer.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(layer.ownsBits, 1u);
    Decoded d;
    ASSERT_TRUE(DecodeJpeg(test::ReadFileBytes(path), d));
    for (uint8_t v : d.rgb) ASSERT_GE(v, 253);
    EXPECT_EQ(ImageSaver::Save(layer, "/dev/full", ImageFileJpg, FileA), E_FAIL);
}

}  // namespace
}  // namespace z3az
