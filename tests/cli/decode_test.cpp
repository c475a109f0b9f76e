// The tool's input decoders: PNG images of every colour type and depth, JPEG
// images, raw pixels with their row layouts, and the damaged inputs each of
// them must refuse without crashing.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "decode.h"
#include "z3az/d3dformat.h"

namespace z3az::cli {
namespace {

// A PNG file in memory, written by libpng from rows of the given layout.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, int colorType, int bitDepth,
                               const std::vector<uint8_t>& rows, const std::vector<png_color>& palette = {},
                               const std::vector<uint8_t>& transparency = {}, bool interlace = false) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng failed to write the test image";
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t length) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, bitDepth, colorType,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!transparency.empty()) png_set_tRNS(png, info, transparency.data(), int(transparency.size()), nullptr);
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> pointers(height);
    for (uint32_t y = 0; y < height; ++y) pointers[y] = const_cast<uint8_t*>(rows.data()) + y * rowBytes;
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> PictureBytes(Picture& picture) {
    return std::vector<uint8_t>(picture.first(), picture.first() + size_t(picture.slicePitch) * picture.depth);
}

struct PngCase {
    const char* name;
    int colorType;
    int bitDepth;
    std::vector<uint8_t> rows;  // 2 x 1 pixels
    std::vector<png_color> palette;
    std::vector<uint8_t> transparency;
    uint32_t format;
    std::vector<uint8_t> expected;  // the two pixels in the format's memory layout
};

class CliPngDecoding : public ::testing::TestWithParam<PngCase> {};

TEST_P(CliPngDecoding, GivesTheFormatAndBytes) {
    const PngCase& c = GetParam();
    for (bool interlace : {false, true}) {
        std::vector<uint8_t> file = EncodePng(2, 1, c.colorType, c.bitDepth, c.rows, c.palette, c.transparency,
                                              interlace);
        ASSERT_EQ(DetectInputKind(file.data(), file.size()), InputKind::Png);
        Picture picture;
        Message error;
        ASSERT_TRUE(DecodePng(file.data(), file.size(), &picture, &error)) << error.text;
        EXPECT_EQ(picture.format, c.format);
        EXPECT_EQ(picture.width, 2u);
        EXPECT_EQ(picture.height, 1u);
        EXPECT_EQ(picture.depth, 1u);
        EXPECT_EQ(PictureBytes(picture), c.expected) << (interlace ? "interlaced" : "plain");
    }
}

const PngCase PngCases[] = {
    {"Rgb8", PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 40, 50, 60}, {}, {}, D3DFMT_X8R8G8B8,
     {30, 20, 10, 255, 60, 50, 40, 255}},
    {"Rgba8", PNG_COLOR_TYPE_RGBA, 8, {10, 20, 30, 0, 40, 50, 60, 128}, {}, {}, D3DFMT_A8R8G8B8,
     {30, 20, 10, 0, 60, 50, 40, 128}},
    {"Gray8", PNG_COLOR_TYPE_GRAY, 8, {7, 200}, {}, {}, D3DFMT_X8R8G8B8, {7, 7, 7, 255, 200, 200, 200, 255}},
    {"GrayAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, {7, 1, 200, 2}, {}, {}, D3DFMT_A8R8G8B8,
     {7, 7, 7, 1, 200, 200, 200, 2}},
    {"Gray1", PNG_COLOR_TYPE_GRAY, 1, {0x40}, {}, {}, D3DFMT_X8R8G8B8, {0, 0, 0, 255, 255, 255, 255, 255}},
    {"Palette", PNG_COLOR_TYPE_PALETTE, 8, {1, 0}, {{1, 2, 3}, {4, 5, 6}}, {}, D3DFMT_X8R8G8B8,
     {6, 5, 4, 255, 3, 2, 1, 255}},
    {"PaletteWithTransparency", PNG_COLOR_TYPE_PALETTE, 8, {1, 0}, {{1, 2, 3}, {4, 5, 6}}, {9}, D3DFMT_A8R8G8B8,
     {6, 5, 4, 255, 3, 2, 1, 9}},
    {"Rgb16", PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0, 1, 0, 2, 0, 3}, {}, {},
     D3DFMT_A16B16G16R16, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xFF, 0xFF, 1, 0, 2, 0, 3, 0, 0xFF, 0xFF}},
    {"Rgba16", PNG_COLOR_TYPE_RGBA, 16, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0, 1, 0, 2, 0, 3, 0, 4},
     {}, {}, D3DFMT_A16B16G16R16, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE, 1, 0, 2, 0, 3, 0, 4, 0}},
    {"Gray16", PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34, 0xAB, 0xCD}, {}, {}, D3DFMT_A16B16G16R16,
     {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0xFF, 0xFF, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xFF, 0xFF}},
};

INSTANTIATE_TEST_SUITE_P(Table, CliPngDecoding, ::testing::ValuesIn(PngCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<uint8_t> SamplePng() {
    std::vector<uint8_t> rows(16 * 16 * 3);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(i * 7);
    return EncodePng(16, 16, PNG_COLOR_TYPE_RGB, 8, rows);
}

TEST(CliPngDecoding, EveryTruncationIsRefused) {
    const std::vector<uint8_t> file = SamplePng();
    // The last 12 bytes are the IEND chunk, which the decoder never needs.
    for (size_t length = 0; length + 12 < file.size(); ++length) {
        Picture picture;
        Message error;
        EXPECT_FALSE(DecodePng(file.data(), length, &picture, &error)) << "length " << length;
        EXPECT_NE(std::strstr(error.text, "PNG"), nullptr) << error.text;
    }
}

TEST(CliPngDecoding, ACorruptChecksumIsRefused) {
    std::vector<uint8_t> file = SamplePng();
    file[8 + 8 + 13] ^= 0xFF;  // the CRC of the IHDR chunk
    Picture picture;
    Message error;
    EXPECT_FALSE(DecodePng(file.data(), file.size(), &picture, &error));
    EXPECT_NE(std::strstr(error.text, "corrupt PNG"), nullptr) << error.text;
}

// A JPEG file in memory, written by libjpeg.
std::vector<uint8_t> EncodeJpeg(uint32_t width, uint32_t height, int components, const std::vector<uint8_t>& pixels) {
    jpeg_compress_struct compress;
    jpeg_error_mgr errors;
    compress.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compress);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compress, &buffer, &size);
    compress.image_width = width;
    compress.image_height = height;
    compress.input_components = components;
    compress.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&compress);
    jpeg_set_quality(&compress, 100, TRUE);
    jpeg_start_compress(&compress, TRUE);
    for (uint32_t y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<uint8_t*>(pixels.data()) + size_t(y) * width * size_t(components);
        jpeg_write_scanlines(&compress, &row, 1);
    }
    jpeg_finish_compress(&compress);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&compress);
    std::free(buffer);
    return out;
}

TEST(CliJpegDecoding, ColourImagesBecomeX8R8G8B8) {
    std::vector<uint8_t> pixels(16 * 8 * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = 200;
        pixels[i + 1] = 100;
        pixels[i + 2] = 50;
    }
    const std::vector<uint8_t> file = EncodeJpeg(16, 8, 3, pixels);
    ASSERT_EQ(DetectInputKind(file.data(), file.size()), InputKind::Jpeg);
    Picture picture;
    Message error;
    ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), &picture, &error)) << error.text;
    EXPECT_EQ(picture.format, uint32_t(D3DFMT_X8R8G8B8));
    EXPECT_EQ(picture.width, 16u);
    EXPECT_EQ(picture.height, 8u);
    EXPECT_EQ(picture.rowPitch, 64u);
    for (uint32_t i = 0; i < 16 * 8; ++i) {
        const uint8_t* p = picture.first() + 4 * i;
        EXPECT_NEAR(p[0], 50, 3);
        EXPECT_NEAR(p[1], 100, 3);
        EXPECT_NEAR(p[2], 200, 3);
        EXPECT_EQ(p[3], 255);
    }
}

TEST(CliJpegDecoding, GrayImagesFillAllThreeChannels) {
    std::vector<uint8_t> pixels(8 * 8, 77);
    const std::vector<uint8_t> file = EncodeJpeg(8, 8, 1, pixels);
    Picture picture;
    Message error;
    ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), &picture, &error)) << error.text;
    EXPECT_EQ(picture.format, uint32_t(D3DFMT_X8R8G8B8));
    for (uint32_t i = 0; i < 64; ++i) {
        const uint8_t* p = picture.first() + 4 * i;
        EXPECT_NEAR(p[0], 77, 1);
        EXPECT_EQ(p[0], p[1]);
        EXPECT_EQ(p[1], p[2]);
    }
}

TEST(CliJpegDecoding, TruncatedAndDamagedFilesAreRefused) {
    std::vector<uint8_t> pixels(32 * 32 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 13);
    const std::vector<uint8_t> file = EncodeJpeg(32, 32, 3, pixels);
    for (size_t length : {size_t(3), size_t(20), file.size() / 2, file.size() - 40}) {
        Picture picture;
        Message error;
        EXPECT_FALSE(DecodeJpeg(file.data(), length, &picture, &error)) << "length " << length;
        EXPECT_NE(std::strstr(error.text, "corrupt JPEG"), nullptr) << error.text;
    }
    // Without its end marker alone the image is whole.
    Picture whole;
    Message error;
    EXPECT_TRUE(DecodeJpeg(file.data(), file.size() - 2, &whole, &error)) << error.text;

    // A frame header that claims zero rows.
    std::vector<uint8_t> damaged = file;
    size_t frame = 2;
    while (frame + 1 < damaged.size() && !(damaged[frame] == 0xFF && damaged[frame + 1] == 0xC0)) ++frame;
    ASSERT_LT(frame + 7, damaged.size());
    damaged[frame + 5] = 0;
    damaged[frame + 6] = 0;
    Picture picture;
    EXPECT_FALSE(DecodeJpeg(damaged.data(), damaged.size(), &picture, &error));
    EXPECT_NE(std::strstr(error.text, "corrupt JPEG"), nullptr) << error.text;
}

// Damaged files of both kinds, from a fixed seed: each is either refused
// with a message or decoded into a picture whose bytes cover its layout.
TEST(CliDecoding, DamagedFilesAreRefusedOrDecodedWhole) {
    std::vector<uint8_t> rgb(24 * 16 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 5 + i / 70);
    const std::vector<uint8_t> sources[] = {EncodePng(24, 16, PNG_COLOR_TYPE_RGB, 8, rgb),
                                            EncodeJpeg(24, 16, 3, rgb)};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int refused = 0, decoded = 0;
    for (const std::vector<uint8_t>& source : sources) {
        for (int iteration = 0; iteration < 300; ++iteration) {
            std::vector<uint8_t> file = source;
            const int changes = 1 + int(next() % 6);
            for (int c = 0; c < changes; ++c) file[next() % file.size()] = uint8_t(next());
            if (next() % 3 == 0) file.resize(next() % file.size());
            Picture picture;
            Message error;
            const bool ok = DetectInputKind(file.data(), file.size()) == InputKind::Png
                                ? DecodePng(file.data(), file.size(), &picture, &error)
                                : DecodeJpeg(file.data(), file.size(), &picture, &error);
            if (ok) {
                ++decoded;
                EXPECT_GE(picture.bits.size(), size_t(picture.slicePitch));
                EXPECT_GE(uint64_t(picture.slicePitch), uint64_t(picture.rowPitch) * picture.height);
                EXPECT_GE(picture.rowPitch, picture.width * 4u);
            } else {
                ++refused;
                EXPECT_FALSE(error.empty());
            }
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(CliInputKind, BySignatureOnly) {
    const uint8_t text[] = "hello world";
    EXPECT_EQ(DetectInputKind(text, sizeof text), InputKind::Unknown);
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF};
    EXPECT_EQ(DetectInputKind(jpeg, 3), InputKind::Jpeg);
    EXPECT_EQ(DetectInputKind(jpeg, 2), InputKind::Unknown);
    EXPECT_EQ(DetectInputKind(nullptr, 0), InputKind::Unknown);
}

Bytes BytesOf(const std::vector<uint8_t>& data) {
    Bytes bytes;
    EXPECT_TRUE(bytes.Allocate(data.size()));
    if (!data.empty()) std::memcpy(bytes.data(), data.data(), data.size());
    return bytes;
}

TEST(CliRawDecoding, TakesTheBytesOverWithTheirPitches) {
    std::vector<uint8_t> data(2 * 3 * 10);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    Bytes bytes = BytesOf(data);
    const uint8_t* original = bytes.data();
    Picture picture;
    Message error;
    RawSpec raw{D3DFMT_R5G6B5, 4, 3, 2};
    ASSERT_TRUE(DecodeRaw(static_cast<Bytes&&>(bytes), raw, 10, nullptr, &picture, &error)) << error.text;
    EXPECT_EQ(picture.first(), original);
    EXPECT_EQ(picture.format, uint32_t(D3DFMT_R5G6B5));
    EXPECT_EQ(picture.rowPitch, 10u);
    EXPECT_EQ(picture.slicePitch, 30u);
    EXPECT_EQ(picture.depth, 2u);
    EXPECT_FALSE(picture.hasPalette);
}

TEST(CliRawDecoding, SizesFollowTheRowLayoutOfEachFamily) {
    const struct {
        RawSpec raw;
        uint32_t pitch;
        size_t needed;
    } cases[] = {
        {{D3DFMT_DXT1, 5, 5, 1}, 0, 32},           // two rows of two 8-byte blocks
        {{D3DFMT_DXT5, 5, 5, 2}, 0, 128},          // two slices of two rows of two 16-byte blocks
        {{D3DFMT_YUY2, 3, 2, 1}, 0, 16},           // rows of two pairs of 4 bytes
        {{D3DFMT_A8R8G8B8, 3, 2, 1}, 16, 28},      // the last row is not padded to the pitch
        {{D3DFMT_A32B32G32R32F, 1, 1, 3}, 0, 48},
    };
    for (const auto& c : cases) {
        {
            Picture picture;
            Message error;
            EXPECT_TRUE(DecodeRaw(BytesOf(std::vector<uint8_t>(c.needed)), c.raw, c.pitch, nullptr, &picture,
                                  &error))
                << error.text;
        }
        Picture picture;
        Message error;
        EXPECT_FALSE(DecodeRaw(BytesOf(std::vector<uint8_t>(c.needed - 1)), c.raw, c.pitch, nullptr, &picture,
                               &error));
        char expected[64];
        std::snprintf(expected, sizeof expected, "needs %zu bytes, but only %zu", c.needed, c.needed - 1);
        EXPECT_NE(std::strstr(error.text, expected), nullptr) << error.text;
    }
}

TEST(CliRawDecoding, PalettesAreCopiedAndMustBeWhole) {
    std::vector<uint8_t> entries(1024);
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = uint8_t(i / 4 + i % 4);
    Bytes palette = BytesOf(entries);
    Picture picture;
    Message error;
    ASSERT_TRUE(DecodeRaw(BytesOf(std::vector<uint8_t>(4)), {D3DFMT_P8, 2, 2, 1}, 0, &palette, &picture, &error));
    EXPECT_TRUE(picture.hasPalette);
    EXPECT_EQ(std::memcmp(picture.palette, entries.data(), 1024), 0);

    Bytes shortPalette = BytesOf(std::vector<uint8_t>(1020));
    Picture other;
    EXPECT_FALSE(DecodeRaw(BytesOf(std::vector<uint8_t>(4)), {D3DFMT_P8, 2, 2, 1}, 0, &shortPalette, &other,
                           &error));
    EXPECT_NE(std::strstr(error.text, "1024 bytes"), nullptr) << error.text;
}

TEST(CliRawDecoding, SlicesBeyondFourGigabytesAreRefused) {
    Picture picture;
    Message error;
    EXPECT_FALSE(DecodeRaw(BytesOf(std::vector<uint8_t>(16)), {D3DFMT_A32B32G32R32F, 65536, 65536, 1}, 0, nullptr,
                           &picture, &error));
    EXPECT_NE(std::strstr(error.text, "too large"), nullptr) << error.text;
}

TEST(CliReadWholeFile, ReportsMissingFilesAndDirectories) {
    Bytes data;
    Message error;
    EXPECT_FALSE(ReadWholeFile("/nonexistent/z3az-input", &data, &error));
    EXPECT_NE(std::strstr(error.text, "cannot open /nonexistent/z3az-input"), nullptr) << error.text;
    EXPECT_FALSE(ReadWholeFile("/", &data, &error));
    EXPECT_NE(std::strstr(error.text, "directory"), nullptr) << error.text;
}

}  // namespace
}  // namespace z3az::cli
