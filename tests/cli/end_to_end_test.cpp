// The z3az program end to end: each run starts the real binary in a fresh
// directory, and its files are read back with libpng, libjpeg and
// OpenImageIO's tools rather than with the library that wrote them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <ftw.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#ifndef Z3AZ_CLI_PROGRAM
#error "Z3AZ_CLI_PROGRAM must name the z3az binary"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

uint32_t Word(const Bytes& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

// Runs a program with the arguments; standard input comes from stdinPath (or
// /dev/null), standard output and error are collected.
RunResult Execute(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
            const std::string& stdinPath = "") {
    const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    RunResult run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const Bytes out = ReadFile(outPath), err = ReadFile(errPath);
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return run;
}

// Runs a program with standard error on a pseudo-terminal and returns what
// the terminal received.
RunResult ExecuteOnTerminal(const std::string& program, const std::vector<std::string>& args,
                            const std::string& dir) {
    RunResult run;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return run;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(master);
        int null = open("/dev/null", O_RDWR);
        if (null < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(null, 0);
        dup2(null, 1);
        dup2(slave, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    close(slave);
    char buffer[4096];
    for (;;) {
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) break;  // EIO once the program has closed the terminal
        run.err.append(buffer, size_t(got));
    }
    close(master);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// An 8-bit or 16-bit RGBA image as libpng reads it.
struct Image {
    uint32_t width = 0, height = 0;
    bool wide = false;              // 16-bit samples
    std::vector<uint16_t> samples;  // r, g, b, a per pixel
    uint16_t at(uint32_t x, uint32_t y, int channel) const { return samples[(size_t(y) * width + x) * 4 + channel]; }
};

// Reads a PNG file with libpng as it stands: 8-bit files as bytes, 16-bit
// files as 16-bit samples, gray and palette expanded, missing alpha opaque.
bool ReadPng(const std::string& path, Image* image) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t>* bytes = new std::vector<uint8_t>();
    std::vector<png_bytep>* rows = new std::vector<png_bytep>();
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        const int depth = png_get_bit_depth(png, info);
        const int type = png_get_color_type(png, info);
        png_set_expand(png);
        if ((type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
        if ((type & PNG_COLOR_MASK_ALPHA) == 0 && !png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_filler(png, depth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
        png_read_update_info(png, info);
        image->width = png_get_image_width(png, info);
        image->height = png_get_image_height(png, info);
        image->wide = depth == 16;
        const size_t rowBytes = png_get_rowbytes(png, info);
        bytes->resize(rowBytes * image->height);
        for (uint32_t y = 0; y < image->height; ++y) rows->push_back(bytes->data() + y * rowBytes);
        png_read_image(png, rows->data());
        png_read_end(png, nullptr);
        const size_t count = size_t(image->width) * image->height * 4;
        image->samples.assign(count, 0);
        for (size_t i = 0; i < count; ++i) {
            image->samples[i] = image->wide ? uint16_t((*bytes)[2 * i] << 8 | (*bytes)[2 * i + 1]) : (*bytes)[i];
        }
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    delete bytes;
    delete rows;
    std::fclose(file);
    return ok;
}

void WritePng(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba,
              bool alpha) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = width;
    png.height = height;
    png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    std::vector<uint8_t> packed;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        packed.insert(packed.end(), rgba.begin() + long(i), rgba.begin() + long(i) + (alpha ? 4 : 3));
    }
    ASSERT_TRUE(png_image_write_to_file(&png, path.c_str(), 0, packed.data(), 0, nullptr)) << png.message;
}

bool ReadJpeg(const std::string& path, Image* image) {
    const Bytes file = ReadFile(path);
    if (file.empty()) return false;
    jpeg_decompress_struct decompress;
    jpeg_error_mgr errors;
    decompress.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decompress);
    jpeg_mem_src(&decompress, file.data(), file.size());
    if (jpeg_read_header(&decompress, TRUE) != JPEG_HEADER_OK) return false;
    decompress.out_color_space = JCS_RGB;
    jpeg_start_decompress(&decompress);
    image->width = decompress.output_width;
    image->height = decompress.output_height;
    image->wide = false;
    image->samples.clear();
    std::vector<uint8_t> row(size_t(image->width) * 3);
    while (decompress.output_scanline < decompress.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&decompress, rows, 1);
        for (uint32_t x = 0; x < image->width; ++x) {
            image->samples.insert(image->samples.end(), {row[3 * x], row[3 * x + 1], row[3 * x + 2], 255});
        }
    }
    jpeg_finish_decompress(&decompress);
    jpeg_destroy_decompress(&decompress);
    return true;
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

class CliEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/z3az-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { nftw(dir_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    RunResult Tool(const std::vector<std::string>& args, const std::string& stdinName = "") {
        return Execute(Z3AZ_CLI_PROGRAM, args, dir_, stdinName.empty() ? "" : Path(stdinName));
    }
    RunResult Program(const std::string& program, const std::vector<std::string>& args) {
        return Execute(program, args, dir_);
    }

    // Reads any file OpenImageIO knows by converting it to an 8-bit PNG first.
    bool ReadThroughOiio(const std::string& name, Image* image) {
        const std::string png = name + ".oiio.png";
        RunResult run = Program("oiiotool", {"--iconfig", "oiio:UnassociatedAlpha", "1", name, "-d", "uint8", "-o", png});
        if (run.status != 0) {
            ADD_FAILURE() << "oiiotool could not read " << name << ": " << run.err;
            return false;
        }
        return ReadPng(Path(png), image);
    }

    // A smooth RGB picture whose pixels all differ.
    std::vector<uint8_t> Gradient(uint32_t width, uint32_t height) {
        std::vector<uint8_t> rgba;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t r = x * 255 / (width - 1), g = y * 255 / (height - 1);
                rgba.insert(rgba.end(), {uint8_t(r), uint8_t(g), uint8_t((r + g) / 2), 255});
            }
        }
        return rgba;
    }

    std::string dir_;
};

void ExpectPixelsNear(const Image& image, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba,
                      int tolerance, bool compareAlpha, const char* what) {
    ASSERT_EQ(image.width, width) << what;
    ASSERT_EQ(image.height, height) << what;
    int worst = 0;
    for (uint32_t i = 0; i < width * height; ++i) {
        for (int c = 0; c < (compareAlpha ? 4 : 3); ++c) {
            const int got = image.wide ? image.samples[4 * i + c] / 257 : image.samples[4 * i + c];
            worst = std::max(worst, std::abs(got - int(rgba[4 * i + c])));
        }
    }
    EXPECT_LE(worst, tolerance) << what;
}

// ---------------------------------------------------------------------------
// File types
// ---------------------------------------------------------------------------

TEST_F(CliEndToEnd, EveryFileTypeFromAPng) {
    const std::vector<uint8_t> rgba = Gradient(8, 6);
    WritePng(Path("in.png"), 8, 6, rgba, false);
    const struct {
        const char* extension;
        int tolerance;  // after reading the file back; JPEG is lossy and subsamples colour
    } types[] = {{"png", 0}, {"bmp", 0}, {"dib", 0}, {"tga", 0}, {"dds", 0}, {"jpg", 40}, {"hdr", 2}, {"pfm", 1}};
    for (const auto& type : types) {
        const std::string name = std::string("out.") + type.extension;
        RunResult run = Tool({"in.png", name});
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
        EXPECT_EQ(run.err, "") << name;
        Image image;
        if (std::strcmp(type.extension, "png") == 0) {
            ASSERT_TRUE(ReadPng(Path(name), &image));
        } else if (std::strcmp(type.extension, "jpg") == 0) {
            ASSERT_TRUE(ReadJpeg(Path(name), &image));
        } else {
            ASSERT_TRUE(ReadThroughOiio(name, &image));
        }
        ExpectPixelsNear(image, 8, 6, rgba, type.tolerance, false, type.extension);
    }
    EXPECT_EQ(ReadFile(Path("out.bmp")), ReadFile(Path("out.dib")));

    // JPEG input: the pixels libjpeg decodes, stored as they are.
    RunResult run = Tool({"out.jpg", "from-jpeg.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image jpeg, png;
    ASSERT_TRUE(ReadJpeg(Path("out.jpg"), &jpeg));
    ASSERT_TRUE(ReadPng(Path("from-jpeg.png"), &png));
    EXPECT_EQ(png.width, jpeg.width);
    EXPECT_EQ(png.samples, jpeg.samples);
}

TEST_F(CliEndToEnd, TypeOptionOverridesTheExtension) {
    WritePng(Path("in.png"), 8, 6, Gradient(8, 6), false);
    RunResult run = Tool({"--type", "bmp", "in.png", "picture.data"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes file = ReadFile(Path("picture.data"));
    ASSERT_GE(file.size(), 2u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
}

TEST_F(CliEndToEnd, AlphaSurvivesIntoTgaButNotPng) {
    std::vector<uint8_t> rgba = Gradient(4, 4);
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = uint8_t(i * 16);
    WritePng(Path("in.png"), 4, 4, rgba, true);
    ASSERT_EQ(Tool({"in.png", "out.png"}).status, 0);
    ASSERT_EQ(Tool({"in.png", "out.tga"}).status, 0);
    Image png, tga;
    ASSERT_TRUE(ReadThroughOiio("out.tga", &tga));
    ExpectPixelsNear(tga, 4, 4, rgba, 0, true, "tga");
    // The library's PNG files are truecolour without alpha.
    ASSERT_TRUE(ReadPng(Path("out.png"), &png));
    ExpectPixelsNear(png, 4, 4, rgba, 0, false, "png");
    EXPECT_EQ(png.at(0, 0, 3), 255);
}

TEST_F(CliEndToEnd, SixteenBitPngKeepsItsPrecision) {
    // Raw A16B16G16R16 in, PNG out: the saver stores it as it is.
    Bytes raw;
    const uint16_t values[2][4] = {{0x1234, 0x5678, 0x9ABC, 0xFFFF}, {1, 2, 3, 0x8000}};
    for (const auto& pixel : values)
        for (uint16_t v : pixel) raw.insert(raw.end(), {uint8_t(v), uint8_t(v >> 8)});
    WriteFile(Path("in.raw"), raw);
    RunResult run = Tool({"--raw", "A16B16G16R16,2,1", "in.raw", "out.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image image;
    ASSERT_TRUE(ReadPng(Path("out.png"), &image));
    ASSERT_TRUE(image.wide);
    for (int x = 0; x < 2; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(image.at(uint32_t(x), 0, c), values[x][c]) << x << " " << c;
}

// ---------------------------------------------------------------------------
// Raw pixels of every format with a codec, through DDS and back
// ---------------------------------------------------------------------------

struct RawFormat {
    const char* name;
    uint32_t bytesPerPixel;   // 0 for block and pair formats
    bool needsFormat;         // signed and depth: PNG holds them only converted
    const char* storedAs = nullptr;  // the format DDS stores it in, when not its own
};

// Every catalogued format that has a codec; the depth formats other than the
// two lockable ones have none.
const RawFormat CodecFormats[] = {
    {"R8G8B8", 3, false},       {"A8R8G8B8", 4, false},     {"X8R8G8B8", 4, false},
    {"R5G6B5", 2, false},       {"X1R5G5B5", 2, false},     {"A8P8", 2, false},
    {"P8", 1, false},           {"A1R5G5B5", 2, false},     {"A4R4G4B4", 2, false},
    {"R3G3B2", 1, false},       {"A8", 1, false},           {"A8R3G3B2", 2, false},
    {"X4R4G4B4", 2, false},     {"A2B10G10R10", 4, false},  {"A8B8G8R8", 4, false},
    {"X8B8G8R8", 4, false},     {"G16R16", 4, false},       {"A2R10G10B10", 4, false},
    {"A16B16G16R16", 8, false}, {"L8", 1, false},           {"A8L8", 2, false},
    {"A4L4", 1, false},         {"L16", 2, false},          {"V8U8", 2, true},
    {"L6V5U5", 2, true},        {"X8L8V8U8", 4, true},      {"Q8W8V8U8", 4, true},
    {"V16U16", 4, true},        {"A2W10V10U10", 4, true},   {"Q16W16V16U16", 8, true},
    {"CxV8U8", 2, true},        {"UYVY", 0, false},         {"R8G8_B8G8", 0, false},
    {"YUY2", 0, false},         {"G8R8_G8B8", 0, false},    {"DXT1", 0, false},
    {"DXT2", 0, false},         {"DXT3", 0, false},         {"DXT4", 0, false},
    {"DXT5", 0, false},         {"D16_LOCKABLE", 2, true},  {"D32F_LOCKABLE", 4, true},
    {"R16F", 2, false},         {"G16R16F", 4, false},      {"A16B16G16R16F", 8, false},
    {"R32F", 4, false},         {"G32R32F", 8, false},      {"A32B32G32R32F", 16, false},
    {"PrivateFormatA16L16", 4, false, "A16B16G16R16"},
    {"PrivateFormatR16G16B16", 6, false, "A16B16G16R16"},
};

// Bytes of a 4x4 image in the format, chosen to be valid values: floats are
// small positive numbers, everything else a byte pattern.
Bytes RawPixels(const RawFormat& format) {
    const std::string name = format.name;
    size_t size;
    if (name == "DXT1") size = 8;
    else if (name.rfind("DXT", 0) == 0) size = 16;
    else if (format.bytesPerPixel == 0) size = 4 * 2 * 4;  // four rows of two pairs
    else size = 16 * size_t(format.bytesPerPixel);
    Bytes bytes(size);
    const bool half = name == "R16F" || name == "G16R16F" || name == "A16B16G16R16F";
    const bool single = name == "R32F" || name == "G32R32F" || name == "A32B32G32R32F" || name == "D32F_LOCKABLE";
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 29 + 7);
    if (half) {
        for (size_t i = 0; i < size; i += 2) {
            const uint16_t h = uint16_t(0x3000 + (i * 97) % 0x0C00);  // 0.125 .. 0.9
            bytes[i] = uint8_t(h);
            bytes[i + 1] = uint8_t(h >> 8);
        }
    }
    if (single) {
        for (size_t i = 0; i < size; i += 4) {
            const float f = float((i * 13) % 64) / 64.0f;
            std::memcpy(&bytes[i], &f, 4);
        }
    }
    if (name == "DXT1") {
        // Colour 0 above colour 1: four opaque colours, every index used.
        bytes = {0x00, 0xF8, 0x1F, 0x00, 0x1B, 0x6C, 0xB1, 0xE4};
    }
    if (name.rfind("DXT", 0) == 0 && name != "DXT1") {
        for (size_t i = 8; i < 16; ++i) bytes[i] = Bytes{0x00, 0xF8, 0x1F, 0x00, 0x1B, 0x6C, 0xB1, 0xE4}[i - 8];
    }
    return bytes;
}

size_t DdsPayloadOffset(const Bytes& dds) {
    // DDPF_PALETTEINDEXED8: the palette follows the header.
    return (Word(dds, 80) & 0x20) ? 128 + 1024 : 128;
}

TEST_F(CliEndToEnd, EveryCodecFormatFromRawToDdsAndBack) {
    Bytes palette(1024);
    for (size_t i = 0; i < 256; ++i) {
        palette[4 * i] = uint8_t(i);
        palette[4 * i + 1] = uint8_t(255 - i);
        palette[4 * i + 2] = uint8_t(i * 7);
        palette[4 * i + 3] = uint8_t(i | 0x80);
    }
    WriteFile(Path("palette.bin"), palette);
    for (const RawFormat& format : CodecFormats) {
        SCOPED_TRACE(format.name);
        const std::string raw = std::string(format.name) + ",4,4";
        const bool paletted = std::strcmp(format.name, "P8") == 0 || std::strcmp(format.name, "A8P8") == 0;
        const Bytes pixels = RawPixels(format);
        WriteFile(Path("in.raw"), pixels);
        std::vector<std::string> first = {"--raw", raw, "in.raw", "out.dds"};
        if (paletted) first.insert(first.begin(), {"--palette", "palette.bin"});
        RunResult run = Tool(first);
        ASSERT_EQ(run.status, 0) << run.err;
        const Bytes dds = ReadFile(Path("out.dds"));
        ASSERT_GT(dds.size(), 128u);
        ASSERT_EQ(Word(dds, 0), 0x20534444u);
        EXPECT_EQ(Word(dds, 12), 4u);
        EXPECT_EQ(Word(dds, 16), 4u);
        const size_t offset = DdsPayloadOffset(dds);
        if (paletted) {
            EXPECT_EQ(Bytes(dds.begin() + 128, dds.begin() + 128 + 1024), palette);
        }
        // The DDS file holds the pixels exactly as they came, unless DDS has
        // no place for the format.
        if (!format.storedAs) {
            EXPECT_EQ(Bytes(dds.begin() + long(offset), dds.end()), pixels);
        } else {
            EXPECT_EQ(dds.size(), offset + 16 * 8);
        }
        WriteFile(Path("payload.raw"), Bytes(dds.begin() + long(offset), dds.end()));

        // Back to PNG through a second run on the payload, and straight from
        // the original: the two pictures agree.
        const std::string stored = std::string(format.storedAs ? format.storedAs : format.name) + ",4,4";
        std::vector<std::string> fromPayload = {"--raw", stored, "payload.raw", "back.png"};
        std::vector<std::string> direct = {"--raw", raw, "in.raw", "direct.png"};
        for (auto* args : {&fromPayload, &direct}) {
            if (paletted) args->insert(args->begin(), {"--palette", "palette.bin"});
            if (format.needsFormat) args->insert(args->begin(), {"--format", "A16B16G16R16"});
        }
        run = Tool(fromPayload);
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(Tool(direct).status, 0);
        Image back, straight;
        ASSERT_TRUE(ReadPng(Path("back.png"), &back));
        ASSERT_TRUE(ReadPng(Path("direct.png"), &straight));
        EXPECT_EQ(back.width, 4u);
        EXPECT_EQ(back.height, 4u);
        EXPECT_EQ(back.samples, straight.samples);
    }
}

// Raw pixels whose values are known from their formats' layouts, converted
// to A8R8G8B8 and read from the DDS file's pixel bytes (B, G, R, A).
TEST_F(CliEndToEnd, RawPixelsDecodeToTheirValues) {
    const struct {
        const char* raw;
        Bytes pixels;               // two pixels
        std::vector<uint8_t> rgba;  // their colour, 8 bits a channel
    } cases[] = {
        {"R5G6B5,2,1", {0x00, 0xF8, 0xE0, 0x07}, {255, 0, 0, 255, 0, 255, 0, 255}},
        {"A1R5G5B5,2,1", {0x1F, 0x80, 0x00, 0x7C}, {0, 0, 255, 255, 255, 0, 0, 0}},
        {"A4R4G4B4,2,1", {0x0F, 0xF0, 0x80, 0x08}, {0, 0, 255, 255, 136, 136, 0, 0}},
        {"L8,2,1", {0x40, 0xC0}, {64, 64, 64, 255, 192, 192, 192, 255}},
        {"A8L8,2,1", {0x10, 0x20, 0xF0, 0xFF}, {16, 16, 16, 32, 240, 240, 240, 255}},
        {"A8,2,1", {0x00, 0x80}, {0, 0, 0, 0, 0, 0, 0, 128}},
        {"X8B8G8R8,2,1", {1, 2, 3, 0, 200, 100, 50, 9}, {1, 2, 3, 255, 200, 100, 50, 255}},
        {"A2B10G10R10,2,1", {0xFF, 0x03, 0x00, 0xC0, 0x00, 0xFC, 0x0F, 0x00}, {255, 0, 0, 255, 0, 255, 0, 0}},
        {"R32F,2,1", {0, 0, 0x80, 0x3F, 0, 0, 0, 0x3F}, {255, 255, 255, 255, 128, 255, 255, 255}},
        {"A16B16G16R16F,2,1", {0, 0x3C, 0, 0, 0, 0x38, 0, 0x3C, 0, 0, 0, 0x3C, 0, 0x3C, 0, 0x3C},
         {255, 0, 128, 255, 0, 255, 255, 255}},
        // Signed values -1 to 1 become 0 to 1 in a colour format.
        {"V8U8,2,1", {0x7F, 0x81, 0x81, 0x7F}, {255, 0, 255, 255, 0, 255, 255, 255}},
        {"Q8W8V8U8,2,1", {0x7F, 0x81, 0x00, 0x7F, 0, 0, 0, 0}, {255, 0, 128, 255, 128, 128, 128, 128}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        WriteFile(Path("in.raw"), c.pixels);
        RunResult run = Tool({"--format", "A8R8G8B8", "--raw", c.raw, "in.raw", "out.dds"});
        ASSERT_EQ(run.status, 0) << run.err;
        const Bytes dds = ReadFile(Path("out.dds"));
        ASSERT_EQ(dds.size(), 128u + 8);
        for (int x = 0; x < 2; ++x) {
            const uint8_t* bgra = &dds[128 + 4 * size_t(x)];
            const uint8_t* rgba = &c.rgba[4 * size_t(x)];
            EXPECT_NEAR(bgra[2], rgba[0], 1) << "red of " << x;
            EXPECT_NEAR(bgra[1], rgba[1], 1) << "green of " << x;
            EXPECT_NEAR(bgra[0], rgba[2], 1) << "blue of " << x;
            EXPECT_NEAR(bgra[3], rgba[3], 1) << "alpha of " << x;
        }
    }
}

TEST_F(CliEndToEnd, PaletteInputWithoutAPaletteReadsAsOpaqueWhite) {
    WriteFile(Path("p8.raw"), {0, 1, 2, 200});
    RunResult run = Tool({"--raw", "P8,2,2", "p8.raw", "white.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image image;
    ASSERT_TRUE(ReadPng(Path("white.png"), &image));
    ExpectPixelsNear(image, 2, 2, std::vector<uint8_t>(16, 255), 0, false, "white");
}

TEST_F(CliEndToEnd, PaddedRowsAndVolumes) {
    // Two rows of two L8 pixels with a pitch of 5: the padding is not read.
    WriteFile(Path("padded.raw"), {10, 20, 99, 99, 99, 30, 40});
    RunResult run = Tool({"--raw", "L8,2,2", "--pitch", "5", "padded.raw", "out.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes dds = ReadFile(Path("out.dds"));
    EXPECT_EQ(Bytes(dds.begin() + 128, dds.end()), (Bytes{10, 20, 30, 40}));

    // A volume of three slices keeps its slices in one DDS file.
    Bytes volume(2 * 2 * 3);
    for (size_t i = 0; i < volume.size(); ++i) volume[i] = uint8_t(i * 20);
    WriteFile(Path("volume.raw"), volume);
    run = Tool({"--raw", "L8,2,2,3", "volume.raw", "volume.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    dds = ReadFile(Path("volume.dds"));
    ASSERT_EQ(dds.size(), 128u + 12u);
    EXPECT_TRUE(Word(dds, 8) & 0x800000);   // DDSD_DEPTH
    EXPECT_EQ(Word(dds, 24), 3u);           // dwDepth
    EXPECT_TRUE(Word(dds, 112) & 0x200000); // DDSCAPS2_VOLUME
    EXPECT_EQ(Bytes(dds.begin() + 128, dds.end()), volume);

    // Only DDS stores volumes.
    run = Tool({"--raw", "L8,2,2,3", "volume.raw", "volume.png"});
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(Exists(Path("volume.png")));
}

// ---------------------------------------------------------------------------
// Rectangles, colour keys, sizes
// ---------------------------------------------------------------------------

TEST_F(CliEndToEnd, RectangleSavesPartOfTheInput) {
    const std::vector<uint8_t> rgba = Gradient(8, 8);
    WritePng(Path("in.png"), 8, 8, rgba, false);
    RunResult run = Tool({"--rect", "2,1,7,5", "in.png", "part.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image image;
    ASSERT_TRUE(ReadPng(Path("part.png"), &image));
    std::vector<uint8_t> expected;
    for (uint32_t y = 1; y < 5; ++y)
        for (uint32_t x = 2; x < 7; ++x) expected.insert(expected.end(), &rgba[(y * 8 + x) * 4], &rgba[(y * 8 + x) * 4 + 4]);
    ExpectPixelsNear(image, 5, 4, expected, 0, false, "rect");
}

TEST_F(CliEndToEnd, ColorKeyMakesItsColourTransparentBlack) {
    std::vector<uint8_t> rgba = Gradient(4, 4);
    for (uint32_t i : {0u, 5u, 15u}) {
        rgba[4 * i] = 0x80;
        rgba[4 * i + 1] = 0x80;
        rgba[4 * i + 2] = 0x80;
    }
    WritePng(Path("in.png"), 4, 4, rgba, false);
    RunResult run = Tool({"--format", "A8R8G8B8", "--color-key", "FF808080", "in.png", "keyed.tga"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image image;
    ASSERT_TRUE(ReadThroughOiio("keyed.tga", &image));
    std::vector<uint8_t> expected = rgba;
    for (uint32_t i : {0u, 5u, 15u}) std::fill(&expected[4 * i], &expected[4 * i + 4], 0);
    ExpectPixelsNear(image, 4, 4, expected, 0, true, "keyed");
}

TEST_F(CliEndToEnd, SizeResamplesWithTheChosenFilter) {
    // Columns alternate black and white; halving with the box filter gives
    // grey, point sampling keeps one of the two.
    std::vector<uint8_t> rgba;
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) rgba.insert(rgba.end(), {uint8_t(x % 2 ? 255 : 0), 0, 0, 255});
    WritePng(Path("in.png"), 4, 4, rgba, false);
    RunResult run = Tool({"--size", "2x2", "--filter", "box", "in.png", "box.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image image;
    ASSERT_TRUE(ReadPng(Path("box.png"), &image));
    ExpectPixelsNear(image, 2, 2, std::vector<uint8_t>{128, 0, 0, 255, 128, 0, 0, 255, 128, 0, 0, 255, 128, 0, 0, 255},
                     1, false, "box");
    run = Tool({"--size", "8x2", "--filter", "none", "in.png", "pad.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(ReadPng(Path("pad.png"), &image));
    EXPECT_EQ(image.width, 8u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.at(1, 0, 0), 255);
    EXPECT_EQ(image.at(6, 1, 0), 0);  // padded with black
}

TEST_F(CliEndToEnd, FlagsMapOntoTheFilterWord) {
    // sRGB: 128 encoded is about 55 linear, and back.
    std::vector<uint8_t> grey;
    for (int i = 0; i < 4; ++i) grey.insert(grey.end(), {128, 128, 128, 255});
    WritePng(Path("grey.png"), 2, 2, grey, false);
    RunResult run = Tool({"--format", "A8R8G8B8", "--srgb-in", "grey.png", "linear.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes dds = ReadFile(Path("linear.dds"));
    ASSERT_EQ(dds.size(), 128u + 16);
    EXPECT_NEAR(dds[128], 55, 1);
    WriteFile(Path("linear.raw"), Bytes(dds.begin() + 128, dds.end()));
    run = Tool({"--raw", "A8R8G8B8,2,2", "--format", "A8R8G8B8", "--srgb-out", "linear.raw", "encoded.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    dds = ReadFile(Path("encoded.dds"));
    EXPECT_NEAR(dds[128], 128, 1);

    // Without --dither a conversion rounds plainly; with it some pixels take
    // the neighbouring level.
    std::vector<uint8_t> ramp;
    for (uint32_t i = 0; i < 256; ++i) ramp.insert(ramp.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 255});
    WritePng(Path("ramp.png"), 16, 16, ramp, false);
    ASSERT_EQ(Tool({"--format", "R5G6B5", "ramp.png", "plain.dds"}).status, 0);
    ASSERT_EQ(Tool({"--format", "R5G6B5", "--dither", "ramp.png", "dithered.dds"}).status, 0);
    const Bytes plain = ReadFile(Path("plain.dds")), dithered = ReadFile(Path("dithered.dds"));
    ASSERT_EQ(plain.size(), 128u + 512);
    ASSERT_EQ(dithered.size(), plain.size());
    int differing = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint16_t p = uint16_t(plain[128 + 2 * i] | plain[129 + 2 * i] << 8);
        const uint16_t d = uint16_t(dithered[128 + 2 * i] | dithered[129 + 2 * i] << 8);
        const int red = p >> 11;
        EXPECT_EQ(red, int(i * 31.0f / 255.0f + 0.5f)) << i;
        EXPECT_LE(std::abs(int(d >> 11) - red), 1) << i;
        differing += p != d;
    }
    EXPECT_GT(differing, 0);
}

// ---------------------------------------------------------------------------
// Mipmaps and cube maps
// ---------------------------------------------------------------------------

TEST_F(CliEndToEnd, AllMipmapsOf256x256GiveNineLevels) {
    std::vector<uint8_t> rgba;
    for (uint32_t y = 0; y < 256; ++y)
        for (uint32_t x = 0; x < 256; ++x)
            rgba.insert(rgba.end(), {uint8_t((x + y) % 2 ? 240 : 16), uint8_t(x), uint8_t(y), 255});
    WritePng(Path("in.png"), 256, 256, rgba, false);
    RunResult run = Tool({"--mipmaps", "all", "in.png", "mips.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no progress when standard error is not a terminal
    const Bytes dds = ReadFile(Path("mips.dds"));
    size_t expected = 128;
    for (uint32_t size = 256; size >= 1; size /= 2) expected += size_t(size) * size * 4;
    ASSERT_EQ(dds.size(), expected);
    EXPECT_EQ(Word(dds, 28), 9u);                       // dwMipMapCount
    EXPECT_EQ(Word(dds, 8) & 0x20000, 0x20000u);        // DDSD_MIPMAPCOUNT
    EXPECT_EQ(Word(dds, 108) & 0x400008, 0x400008u);    // DDSCAPS_COMPLEX | DDSCAPS_MIPMAP
    // Level 1 averages the checkerboard: red halfway between 16 and 240.
    const size_t level1 = 128 + 256 * 256 * 4;
    EXPECT_NEAR(dds[level1 + 2], 128, 1);
    // The last level is 1x1 and holds the average of the whole image.
    EXPECT_NEAR(dds[dds.size() - 4 + 2], 128, 1);
    EXPECT_NEAR(dds[dds.size() - 4 + 1], 128, 1);

    // An independent reader sees the nine levels.
    run = Program("iinfo", {"-v", "mips.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("MIP-map levels: 256x256 128x128 64x64 32x32 16x16 8x8 4x4 2x2 1x1"), std::string::npos)
        << run.out;
}

TEST_F(CliEndToEnd, ProgressIsShownOnATerminalUnlessQuiet) {
    WritePng(Path("in.png"), 64, 64, Gradient(64, 64), false);
    RunResult run = ExecuteOnTerminal(Z3AZ_CLI_PROGRAM, {"--mipmaps", "all", "in.png", "a.dds"}, dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    for (int level = 1; level <= 7; ++level) {
        const std::string line = "z3az: mipmap level " + std::to_string(level) + "/7";
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
    }
    EXPECT_EQ(run.err.find('\n'), std::string::npos) << "one line, rewritten in place";
    run = ExecuteOnTerminal(Z3AZ_CLI_PROGRAM, {"--quiet", "--mipmaps", "all", "in.png", "b.dds"}, dir_);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(Path("a.dds")), ReadFile(Path("b.dds")));
}

TEST_F(CliEndToEnd, MipmapsOfADxt5Texture) {
    WritePng(Path("in.png"), 16, 8, Gradient(16, 8), false);
    RunResult run = Tool({"--format", "DXT5", "--mipmaps", "3", "in.png", "tex.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes dds = ReadFile(Path("tex.dds"));
    EXPECT_EQ(Word(dds, 84), 0x35545844u);  // "DXT5"
    EXPECT_EQ(Word(dds, 28), 3u);
    // 16x8, 8x4 and 4x2: 8 + 2 + 1 blocks of 16 bytes.
    EXPECT_EQ(dds.size(), 128u + (8 + 2 + 1) * 16u);
    run = Tool({"--mipmaps", "6", "in.png", "toomany.dds"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("at most 5 mipmap levels"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(Path("toomany.dds")));
}

TEST_F(CliEndToEnd, SixInputsMakeACubeMap) {
    const uint8_t colours[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
    std::vector<std::string> args = {"--cube"};
    for (int face = 0; face < 6; ++face) {
        std::vector<uint8_t> rgba;
        for (int i = 0; i < 16; ++i) rgba.insert(rgba.end(), {colours[face][0], colours[face][1], colours[face][2], 255});
        const std::string name = "face" + std::to_string(face) + ".png";
        WritePng(Path(name), 4, 4, rgba, false);
        args.push_back(name);
    }
    args.push_back("cube.dds");
    RunResult run = Tool(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes dds = ReadFile(Path("cube.dds"));
    ASSERT_EQ(dds.size(), 128u + 6 * 16 * 4);
    EXPECT_EQ(Word(dds, 112), 0xFE00u);        // cube map with all six faces
    EXPECT_TRUE(Word(dds, 108) & 0x8);         // DDSCAPS_COMPLEX
    for (int face = 0; face < 6; ++face) {
        const size_t start = 128 + size_t(face) * 64;
        EXPECT_EQ(dds[start + 0], colours[face][2]) << face;  // B, G, R, X
        EXPECT_EQ(dds[start + 1], colours[face][1]) << face;
        EXPECT_EQ(dds[start + 2], colours[face][0]) << face;
    }
    run = Program("iinfo", {"-v", "cube.dds"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("CubeFace"), std::string::npos) << run.out;

    // Faces of different sizes cannot make a cube.
    WritePng(Path("wide.png"), 8, 4, Gradient(8, 4), false);
    args[3] = "wide.png";
    args.back() = "bad.dds";
    run = Tool(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(Exists(Path("bad.dds")));
}

// ---------------------------------------------------------------------------
// Standard streams and batches
// ---------------------------------------------------------------------------

TEST_F(CliEndToEnd, StandardInputAndOutput) {
    WritePng(Path("in.png"), 8, 6, Gradient(8, 6), false);
    ASSERT_EQ(Tool({"in.png", "file.bmp"}).status, 0);
    RunResult run = Tool({"--type", "bmp", "-", "-"}, "in.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes file = ReadFile(Path("file.bmp"));
    EXPECT_EQ(Bytes(run.out.begin(), run.out.end()), file);

    // Raw pixels from standard input, a mip-mapped DDS to standard output.
    WriteFile(Path("in.raw"), Bytes(4 * 4 * 4, 0x55));
    run = Tool({"--raw", "A8R8G8B8,4,4", "--mipmaps", "all", "--type", "dds", "-", "-"}, "in.raw");
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes dds(run.out.begin(), run.out.end());
    ASSERT_EQ(dds.size(), 128u + (16 + 4 + 1) * 4);
    EXPECT_EQ(Word(dds, 28), 3u);
}

TEST_F(CliEndToEnd, OutDirWritesOneFilePerInput) {
    WritePng(Path("a.png"), 4, 4, Gradient(4, 4), false);
    WritePng(Path("b.png"), 6, 2, Gradient(6, 2), false);
    ASSERT_EQ(mkdir(Path("out").c_str(), 0755), 0);
    RunResult run = Tool({"--out-dir", "out", "--type", "tga", "a.png", "b.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    Image a, b;
    ASSERT_TRUE(ReadThroughOiio("out/a.tga", &a));
    ASSERT_TRUE(ReadThroughOiio("out/b.tga", &b));
    EXPECT_EQ(a.width, 4u);
    EXPECT_EQ(b.width, 6u);

    // A bad input among good ones: the others are written, the status is 1.
    WriteFile(Path("broken.png"), {0x89, 'P', 'N', 'G'});
    run = Tool({"--out-dir", "out", "--type", "bmp", "a.png", "broken.png", "b.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Exists(Path("out/a.bmp")));
    EXPECT_FALSE(Exists(Path("out/broken.bmp")));
    EXPECT_TRUE(Exists(Path("out/b.bmp")));
}

TEST_F(CliEndToEnd, ListFormatsNamesEveryFormat) {
    RunResult run = Tool({"--list-formats"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line)) all.push_back(line);
    ASSERT_EQ(all.size(), 58u);  // a heading and 57 formats
    auto find = [&](const std::string& name) {
        for (const std::string& l : all)
            if (l.rfind(name + " ", 0) == 0) return l;
        return std::string();
    };
    EXPECT_NE(find("A8R8G8B8").find("32  bmp tga png dds dib"), std::string::npos) << find("A8R8G8B8");
    EXPECT_NE(find("X8R8G8B8").find("32  bmp jpg png dds dib"), std::string::npos) << find("X8R8G8B8");
    EXPECT_NE(find("A32B32G32R32F").find("128  dds hdr pfm"), std::string::npos) << find("A32B32G32R32F");
    EXPECT_NE(find("D24S8").find("32  -"), std::string::npos) << find("D24S8");
    EXPECT_NE(find("PrivateFormatR16G16B16").find("48  -"), std::string::npos);
}

TEST_F(CliEndToEnd, HelpAndVersion) {
    RunResult run = Tool({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: z3az"), std::string::npos);
    run = Tool({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("z3az ", 0), 0u);
}

// ---------------------------------------------------------------------------
// Bad inputs: a clear message, the right status, and no output file
// ---------------------------------------------------------------------------

TEST_F(CliEndToEnd, BadInputsLeaveNoOutput) {
    WritePng(Path("good.png"), 8, 6, Gradient(8, 6), false);
    Bytes png = ReadFile(Path("good.png"));
    WriteFile(Path("truncated.png"), Bytes(png.begin(), png.begin() + long(png.size() / 2)));
    Bytes corrupt = png;
    corrupt[40] ^= 0x5A;
    WriteFile(Path("corrupt.png"), corrupt);
    WriteFile(Path("short.raw"), Bytes(4 * 4 * 4 - 1, 0));
    WriteFile(Path("text.txt"), {'h', 'e', 'l', 'l', 'o'});
    WriteFile(Path("empty"), {});
    WriteFile(Path("p8.raw"), Bytes(16, 1));
    WriteFile(Path("short.pal"), Bytes(1000, 1));

    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;  // a piece of standard error
    } cases[] = {
        {{"--raw", "A8R8G8B8,4,4", "short.raw", "out.png"}, 1, "needs 64 bytes, but only 63"},
        {{"truncated.png", "out.png"}, 1, "corrupt PNG"},
        {{"corrupt.png", "out.png"}, 1, "corrupt PNG"},
        {{"text.txt", "out.png"}, 1, "not a PNG or JPEG"},
        {{"empty", "out.png"}, 1, "not a PNG or JPEG"},
        {{"missing.png", "out.png"}, 1, "cannot open missing.png"},
        {{"--format", "X9R9G9B9", "good.png", "out.png"}, 2, "unknown pixel format 'X9R9G9B9'"},
        {{"--raw", "BOGUS,4,4", "short.raw", "out.png"}, 2, "unknown pixel format 'BOGUS'"},
        {{"--rect", "0,0,9,6", "good.png", "out.png"}, 1, "not inside the 8x6 image"},
        {{"--rect", "-1,0,4,4", "good.png", "out.png"}, 1, "not inside"},
        {{"--rect", "3,0,3,4", "good.png", "out.png"}, 1, "empty"},
        {{"--size", "0x4", "good.png", "out.png"}, 2, "must not be zero"},
        {{"--raw", "L8,0,4", "short.raw", "out.png"}, 2, "must not be zero"},
        {{"good.png", "out.ppm"}, 1, "D3DERR_INVALIDCALL (0x8876086C)"},
        {{"--raw", "V8U8,4,4", "short.raw", "out.png"}, 1, "D3DERR_INVALIDCALL (0x8876086C)"},
        {{"--raw", "P8,4,4", "--palette", "short.pal", "p8.raw", "out.png"}, 1, "1024 bytes"},
        {{"--format", "P8", "good.png", "out.bmp"}, 2, "needs a palette"},
        {{"good.png", "no/such/dir/out.png"}, 1, "IMAGEERR_CANNOTCREATEFILE (0x88760B59)"},
        {{"good.png"}, 2, "missing OUTPUT"},
        {{"--frobnicate", "good.png", "out.png"}, 2, "unknown option"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        RunResult run = Tool(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("z3az: ", 0), 0u) << run.err;
        EXPECT_FALSE(Exists(Path("out.png")));
        EXPECT_FALSE(Exists(Path("out.ppm")));
        EXPECT_FALSE(Exists(Path("out.bmp")));
        if (c.status == 2) {
            EXPECT_NE(run.err.find("Try 'z3az --help'"), std::string::npos) << run.err;
        }
    }
}

TEST_F(CliEndToEnd, ABadInputOnStandardInputWritesNothingToStandardOutput) {
    WriteFile(Path("junk"), Bytes(100, 0x42));
    RunResult run = Tool({"--type", "png", "-", "-"}, "junk");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("standard input"), std::string::npos) << run.err;
}

}  // namespace
