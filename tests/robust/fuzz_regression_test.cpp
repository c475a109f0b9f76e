// Inputs the fuzz targets found that once went wrong, kept as tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "decode.h"
#include "z3az/d3dformat.h"

namespace z3az::cli {
namespace {

Bytes BytesOf(size_t n) {
    Bytes b;
    EXPECT_TRUE(b.AllocateZeroed(n));
    return b;
}

// Raw input with a zero width, height or depth was decoded into an empty
// picture (with depth 0 the size check wrapped around and passed).
TEST(FuzzRegression, RawInputWithAZeroSizeIsRefused) {
    const RawSpec cases[] = {
        {D3DFMT_A8R8G8B8, 0, 5, 1}, {D3DFMT_A8R8G8B8, 5, 0, 1}, {D3DFMT_A8R8G8B8, 5, 5, 0},
        {D3DFMT_DXT1, 0, 4, 1},     {D3DFMT_YUY2, 4, 4, 0},     {D3DFMT_L8, 0, 0, 0},
    };
    for (const RawSpec& raw : cases) {
        SCOPED_TRACE(testing::Message() << raw.width << "x" << raw.height << "x" << raw.depth);
        Picture picture;
        Message error;
        EXPECT_FALSE(DecodeRaw(BytesOf(256), raw, 0, nullptr, &picture, &error));
        EXPECT_NE(std::strstr(error.text, "must not be zero"), nullptr) << error.text;
        EXPECT_TRUE(picture.bits.empty());
    }
    // The smallest picture still decodes.
    Picture picture;
    Message error;
    EXPECT_TRUE(DecodeRaw(BytesOf(4), {D3DFMT_A8R8G8B8, 1, 1, 1}, 0, nullptr, &picture, &error)) << error.text;
}

// A baseline JPEG of 16x16 grey pixels, made by libjpeg in memory.
std::vector<uint8_t> SmallJpeg() {
    jpeg_compress_struct c;
    jpeg_error_mgr error;
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = 16;
    c.image_height = 16;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    uint8_t row[16 * 3];
    std::memset(row, 0x80, sizeof row);
    while (c.next_scanline < c.image_height) {
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// A few hundred bytes whose frame header claims a large picture and whose
// data ends right after the scan header: libjpeg invents every missing row,
// and the decoder used to store all of them (gigabytes for the largest
// headers) before refusing the truncated file. It now stops where the data
// ends; the file is refused as before.
TEST(FuzzRegression, TruncatedJpegClaimingAHugePictureIsRefused) {
    std::vector<uint8_t> jpeg = SmallJpeg();
    size_t sof = 0, sos = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0 && !sof) sof = i;
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && !sos) sos = i;
    }
    ASSERT_NE(sof, 0u);
    ASSERT_NE(sos, 0u);
    // SOF0: marker, length (2), precision (1), height (2), width (2).
    const uint16_t size = 6000;
    jpeg[sof + 5] = jpeg[sof + 7] = uint8_t(size >> 8);
    jpeg[sof + 6] = jpeg[sof + 8] = uint8_t(size & 0xFF);
    const size_t sosLength = size_t(jpeg[sos + 2]) << 8 | jpeg[sos + 3];
    jpeg.resize(sos + 2 + sosLength);  // the scan header, then nothing

    Picture picture;
    Message error;
    EXPECT_FALSE(DecodeJpeg(jpeg.data(), jpeg.size(), &picture, &error));
    EXPECT_TRUE(std::strstr(error.text, "ends before the image") || std::strstr(error.text, "out of memory"))
        << error.text;
    EXPECT_TRUE(picture.bits.empty());
}

}  // namespace
}  // namespace z3az::cli
