// Inputs the fuzz targets found that once went wrong, kept as tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

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

}  // namespace
}  // namespace z3az::cli
