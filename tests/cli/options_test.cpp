// The command line of the z3az tool: what each option sets, and every usage
// error the parser must catch before anything is read or written.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <list>
#include <string>
#include <vector>

#include "format_names.h"
#include "options.h"
#include "z3az/d3dformat.h"
#include "z3az/pixel_formats.h"
#include "z3az/types.h"

namespace z3az::cli {
namespace {

struct Parsed {
    bool ok;
    std::string error;
};

// The options point into argv, so each command line lives as long as the
// test program.
Parsed Parse(std::initializer_list<const char*> args, Options* options) {
    static std::list<std::vector<std::string>> kept;
    std::vector<std::string>& storage = kept.emplace_back(std::vector<std::string>{"z3az"});
    for (const char* arg : args) storage.emplace_back(arg);
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    Message error;
    const bool ok = ParseOptions(int(argv.size()), argv.data(), options, &error);
    return {ok, error.text};
}

TEST(CliOptions, PlainConversionTakesTheTypeFromTheOutputExtension) {
    Options options;
    ASSERT_TRUE(Parse({"in.png", "out.DDS"}, &options).ok);
    EXPECT_EQ(options.inputCount, 1);
    EXPECT_STREQ(options.positionals[0], "in.png");
    EXPECT_STREQ(options.output, "out.DDS");
    EXPECT_EQ(options.fileType, uint32_t(ImageFileDds));
    EXPECT_EQ(options.FilterWord(), uint32_t(FilterTriangle));
}

TEST(CliOptions, EveryValueOptionIsRead) {
    Options options;
    ASSERT_TRUE(Parse({"--raw", "dxt5,64,32,2", "--pitch=256", "--type", "dds", "--format", "D3DFMT_R5G6B5",
                       "--size", "16x8x1", "--filter", "box", "--dither", "--diffuse", "--srgb-in", "--srgb-out",
                       "--clamp", "u,w", "--mipmaps", "3", "--color-key", "ff808080", "-q", "in.raw", "out"},
                      &options)
                    .ok);
    EXPECT_TRUE(options.haveRaw);
    EXPECT_EQ(options.raw.format, uint32_t(D3DFMT_DXT5));
    EXPECT_EQ(options.raw.width, 64u);
    EXPECT_EQ(options.raw.height, 32u);
    EXPECT_EQ(options.raw.depth, 2u);
    EXPECT_EQ(options.pitch, 256u);
    EXPECT_EQ(options.format, uint32_t(D3DFMT_R5G6B5));
    EXPECT_EQ(options.width, 16u);
    EXPECT_EQ(options.height, 8u);
    EXPECT_EQ(options.depth, 1u);
    EXPECT_EQ(options.FilterWord(), uint32_t(FilterBox | FilterDither | FilterDiffuse | FilterSrgbIn |
                                             FilterSrgbOut | FilterClampU | FilterClampW));
    EXPECT_EQ(options.mipLevels, 3u);
    EXPECT_EQ(options.colorKey, 0xFF808080u);
    EXPECT_TRUE(options.quiet);
    EXPECT_STREQ(options.output, "out");
}

TEST(CliOptions, SizeWithoutDepthKeepsTheInputDepth) {
    Options options;
    ASSERT_TRUE(Parse({"--size", "300x200", "a.png", "b.png"}, &options).ok);
    EXPECT_EQ(options.width, 300u);
    EXPECT_EQ(options.height, 200u);
    EXPECT_EQ(options.depth, 0u);
}

TEST(CliOptions, CubeTakesSixInputs) {
    Options options;
    ASSERT_TRUE(Parse({"--cube", "--mipmaps", "all", "1", "2", "3", "4", "5", "6", "cube.dds"}, &options).ok);
    EXPECT_EQ(options.inputCount, 6);
    EXPECT_TRUE(options.mipAll);
    EXPECT_STREQ(options.output, "cube.dds");
}

TEST(CliOptions, OutDirTakesEveryPositionalAsInput) {
    Options options;
    ASSERT_TRUE(Parse({"--out-dir", "dir", "--type", "png", "a.jpg", "b.jpg", "c.jpg"}, &options).ok);
    EXPECT_EQ(options.inputCount, 3);
    EXPECT_EQ(options.output, nullptr);
}

TEST(CliOptions, StandardStreamsAndTheEndOfOptions) {
    Options options;
    ASSERT_TRUE(Parse({"--type", "bmp", "--", "-", "-"}, &options).ok);
    EXPECT_STREQ(options.positionals[0], "-");
    EXPECT_STREQ(options.output, "-");
}

TEST(CliOptions, HelpVersionAndListNeedNoFiles) {
    for (const char* flag : {"--help", "-h", "--version", "--list-formats"}) {
        Options options;
        EXPECT_TRUE(Parse({flag}, &options).ok) << flag;
    }
}

TEST(CliOptions, NegativeRectangleValuesAreParsed) {
    Options options;
    ASSERT_TRUE(Parse({"--rect", "-1,2,30,-4", "a.png", "b.png"}, &options).ok);
    EXPECT_EQ(options.rect[0], -1);
    EXPECT_EQ(options.rect[1], 2);
    EXPECT_EQ(options.rect[2], 30);
    EXPECT_EQ(options.rect[3], -4);
}

struct UsageCase {
    std::vector<const char*> args;
    const char* expectedText;  // a piece of the message
};

class CliUsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageErrors, AreRefusedWithAMessage) {
    const UsageCase& c = GetParam();
    std::vector<std::string> storage = {"z3az"};
    for (const char* arg : c.args) storage.emplace_back(arg);
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    Options options;
    Message error;
    EXPECT_FALSE(ParseOptions(int(argv.size()), argv.data(), &options, &error));
    EXPECT_NE(std::strstr(error.text, c.expectedText), nullptr) << "message: " << error.text;
    EXPECT_EQ(std::strchr(error.text, '\n'), nullptr) << "one line: " << error.text;
}

const UsageCase UsageCases[] = {
    {{}, "missing INPUT and OUTPUT"},
    {{"in.png"}, "missing OUTPUT"},
    {{"a", "b", "c"}, "one INPUT and one OUTPUT"},
    {{"in.png", "out"}, "cannot tell the file type"},
    {{"in.png", "-"}, "cannot tell the file type"},
    {{"--bogus", "a", "b.png"}, "unknown option '--bogus'"},
    {{"-x", "a", "b.png"}, "unknown option '-x'"},
    {{"--help=yes"}, "takes no value"},
    {{"a", "b.png", "--format"}, "needs a value"},
    {{"--format", "R5G6B6", "a", "b.png"}, "unknown pixel format 'R5G6B6'"},
    {{"--type", "gif", "a", "b"}, "--type is one of"},
    {{"--raw", "A8R8G8B8,4", "a", "b.png"}, "--raw needs FORMAT,WIDTH,HEIGHT"},
    {{"--raw", "A8R8G8B8,4,4,1,1", "a", "b.png"}, "--raw needs FORMAT,WIDTH,HEIGHT"},
    {{"--raw", "NOPE,4,4", "a", "b.png"}, "unknown pixel format 'NOPE'"},
    {{"--raw", "L8,4,x", "a", "b.png"}, "whole numbers"},
    {{"--raw", "L8,0,4", "a", "b.png"}, "must not be zero"},
    {{"--raw", "L8,4,4,0", "a", "b.png"}, "must not be zero"},
    {{"--raw", "L8,99999999999,4", "a", "b.png"}, "whole numbers"},
    {{"--size", "0x10", "a", "b.png"}, "must not be zero"},
    {{"--size", "10x10x0", "a", "b.png"}, "must not be zero"},
    {{"--size", "10", "a", "b.png"}, "--size needs"},
    {{"--size", "10x-3", "a", "b.png"}, "--size needs"},
    {{"--filter", "bicubic", "a", "b.png"}, "--filter is one of"},
    {{"--clamp", "x", "a", "b.png"}, "--clamp takes"},
    {{"--clamp", "uv", "a", "b.png"}, "--clamp takes"},
    {{"--mipmaps", "0", "a", "b.dds"}, "--mipmaps needs"},
    {{"--mipmaps", "lots", "a", "b.dds"}, "--mipmaps needs"},
    {{"--mipmaps", "all", "a", "b.png"}, "only in DDS"},
    {{"--cube", "1", "2", "3", "4", "5", "6", "c.png"}, "only in DDS"},
    {{"--cube", "1", "2", "c.dds"}, "six inputs"},
    {{"--rect", "0,0,4", "a", "b.png"}, "--rect needs"},
    {{"--rect", "0,0,4,4", "--mipmaps", "2", "a", "b.dds"}, "cannot be used with --mipmaps"},
    {{"--color-key", "GG000000", "a", "b.png"}, "hexadecimal"},
    {{"--color-key", "123456789", "a", "b.png"}, "hexadecimal"},
    {{"--pitch", "64", "a", "b.png"}, "needs --raw"},
    {{"--palette", "p", "a", "b.png"}, "needs --raw"},
    {{"--raw", "L8,4,4", "--palette", "p", "a", "b.png"}, "for P8 and A8P8"},
    {{"--raw", "A8R8G8B8,4,4", "--pitch", "15", "a", "b.png"}, "shorter than a row of 16"},
    {{"--raw", "DXT1,5,5", "--pitch", "15", "a", "b.png"}, "shorter than a row of 16"},
    {{"--pitch", "0", "--raw", "L8,1,1", "a", "b.png"}, "above zero"},
    {{"--out-dir", "d", "a.png"}, "needs --type"},
    {{"--out-dir", "d", "--type", "png"}, "at least one input"},
    {{"--out-dir", "d", "--type", "png", "-"}, "cannot read standard input"},
    {{"--out-dir", "d", "--type", "dds", "--cube", "1", "2", "3", "4", "5", "6"}, "--out-dir"},
    {{"--cube", "-", "2", "3", "4", "5", "-", "c.dds"}, "only once"},
};

INSTANTIATE_TEST_SUITE_P(Table, CliUsageErrors, ::testing::ValuesIn(UsageCases));

TEST(CliFileTypes, NamesAndExtensions) {
    const struct {
        const char* name;
        uint32_t type;
    } cases[] = {{"a.bmp", ImageFileBmp}, {"a.JPG", ImageFileJpg}, {"a.jpeg", ImageFileJpg},
                 {"a.tga", ImageFileTga}, {"a.png", ImageFilePng}, {"dir.x/a.dds", ImageFileDds},
                 {"a.ppm", ImageFilePpm}, {"a.dib", ImageFileDib}, {"a.hdr", ImageFileHdr},
                 {"a.pfm", ImageFilePfm}};
    for (const auto& c : cases) {
        uint32_t type = 99;
        EXPECT_TRUE(FileTypeFromExtension(c.name, &type)) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    uint32_t type;
    EXPECT_FALSE(FileTypeFromExtension("dir.png/file", &type));
    EXPECT_FALSE(FileTypeFromExtension(".png", &type));
    EXPECT_FALSE(FileTypeFromExtension("file.gif", &type));
    EXPECT_STREQ(ExtensionOf(ImageFileJpg), "jpg");
    EXPECT_STREQ(ExtensionOf(ImageFileDib), "dib");
}

TEST(CliFormatNames, CoverTheLibraryCatalogueInItsOrder) {
    ASSERT_EQ(FormatNameCount, CountPixelFormats());
    for (uint32_t i = 0; i < FormatNameCount; ++i) {
        PixelFormatDescription description;
        ASSERT_EQ(DescribePixelFormatAt(i, &description), S_OK);
        EXPECT_EQ(FormatNames[i].format, description.format) << FormatNames[i].name;
        uint32_t found = 0;
        EXPECT_TRUE(FindFormatByName(FormatNames[i].name, &found));
        EXPECT_EQ(found, description.format);
        EXPECT_STREQ(FormatNameOf(description.format), FormatNames[i].name);
    }
}

TEST(CliFormatNames, CaseAndPrefixDoNotMatter) {
    uint32_t format = 0;
    EXPECT_TRUE(FindFormatByName("d3dfmt_a16b16g16r16f", &format));
    EXPECT_EQ(format, uint32_t(D3DFMT_A16B16G16R16F));
    EXPECT_TRUE(FindFormatByName("q8w8v8u8", &format));
    EXPECT_EQ(format, uint32_t(D3DFMT_Q8W8V8U8));
    EXPECT_TRUE(FindFormatByName("PrivateFormatR16G16B16", &format));
    EXPECT_EQ(format, PrivateFormatR16G16B16);
    EXPECT_FALSE(FindFormatByName("D3DFMT_", &format));
    EXPECT_FALSE(FindFormatByName("UNKNOWN", &format));
    EXPECT_EQ(FormatNameOf(0), nullptr);
}

TEST(CliFormatNames, RowLayouts) {
    const struct {
        uint32_t format, width, height;
        uint64_t rowBytes;
        uint32_t rows;
    } cases[] = {
        {D3DFMT_DXT1, 5, 5, 16, 2},       {D3DFMT_DXT1, 4, 4, 8, 1},      {D3DFMT_DXT5, 1, 1, 16, 1},
        {D3DFMT_DXT3, 9, 13, 48, 4},      {D3DFMT_YUY2, 3, 2, 8, 2},      {D3DFMT_G8R8_G8B8, 4, 1, 8, 1},
        {D3DFMT_R8G8B8, 3, 2, 9, 2},      {D3DFMT_A32B32G32R32F, 2, 1, 32, 1},
        {PrivateFormatR16G16B16, 5, 1, 30, 1}, {D3DFMT_P8, 7, 3, 7, 3},
    };
    for (const auto& c : cases) {
        SliceLayout layout;
        ASSERT_TRUE(LayoutOf(c.format, c.width, c.height, &layout)) << FormatNameOf(c.format);
        EXPECT_EQ(layout.rowBytes, c.rowBytes) << FormatNameOf(c.format);
        EXPECT_EQ(layout.rows, c.rows) << FormatNameOf(c.format);
    }
    SliceLayout layout;
    EXPECT_FALSE(LayoutOf(0x12345678, 1, 1, &layout));
}

}  // namespace
}  // namespace z3az::cli
