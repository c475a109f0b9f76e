// The public format questions: the catalogue as hosts see it, and which
// file types store which formats without converting them.
#include <gtest/gtest.h>

#include "z3az/d3dformat.h"
#include "z3az/pixel_formats.h"
#include "z3az/types.h"

namespace z3az {
namespace {

TEST(PixelFormatQuery, DescribesTheCatalogueByIndexAndByCode) {
    ASSERT_EQ(CountPixelFormats(), 57u);
    PixelFormatDescription first, byCode;
    ASSERT_EQ(DescribePixelFormatAt(0, &first), S_OK);
    EXPECT_EQ(first.format, uint32_t(D3DFMT_R8G8B8));
    EXPECT_EQ(first.bitsPerPixel, 24u);
    ASSERT_EQ(DescribePixelFormat(D3DFMT_A2W10V10U10, &byCode), S_OK);
    EXPECT_EQ(byCode.kind, 3u);
    EXPECT_EQ(byCode.bitsPerPixel, 32u);
    const uint32_t slots[5] = {2, 0, 10, 10, 10};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(byCode.channelBits[i], slots[i]) << i;
    PixelFormatDescription last;
    ASSERT_EQ(DescribePixelFormatAt(56, &last), S_OK);
    EXPECT_EQ(last.format, PrivateFormatR16G16B16);
    EXPECT_EQ(last.bitsPerPixel, 48u);
}

TEST(PixelFormatQuery, RefusesWhatIsNotThere) {
    PixelFormatDescription description;
    EXPECT_EQ(DescribePixelFormatAt(57, &description), D3DERR_INVALIDCALL);
    EXPECT_EQ(DescribePixelFormatAt(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(DescribePixelFormat(0, &description), D3DERR_INVALIDCALL);
    EXPECT_EQ(DescribePixelFormat(37, &description), D3DERR_INVALIDCALL);
    EXPECT_EQ(DescribePixelFormat(D3DFMT_L8, nullptr), D3DERR_INVALIDCALL);
}

TEST(FileTypeQuery, FollowsTheCandidateLists) {
    const struct {
        uint32_t type;
        uint32_t format;
        bool stored;
    } cases[] = {
        {ImageFileBmp, D3DFMT_P8, true},         {ImageFileBmp, D3DFMT_G16R16, true},
        {ImageFileBmp, D3DFMT_DXT1, false},      {ImageFileDib, D3DFMT_L16, true},
        {ImageFileJpg, D3DFMT_X8R8G8B8, true},   {ImageFileJpg, D3DFMT_A8R8G8B8, false},
        {ImageFileTga, D3DFMT_R8G8B8, true},     {ImageFileTga, D3DFMT_X8R8G8B8, false},
        {ImageFilePng, D3DFMT_A16B16G16R16, true}, {ImageFileDds, D3DFMT_CxV8U8, true},
        {ImageFileDds, D3DFMT_D24S8, false},     {ImageFileDds, PrivateFormatA16L16, false},
        {ImageFileHdr, D3DFMT_A32B32G32R32F, true}, {ImageFilePfm, D3DFMT_R32F, false},
        {ImageFilePpm, D3DFMT_X8R8G8B8, false},  {9, D3DFMT_X8R8G8B8, false},
        {ImageFileDds, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileTypeStoresFormat(c.type, c.format), c.stored) << c.type << " " << c.format;
    }
}

}  // namespace
}  // namespace z3az
