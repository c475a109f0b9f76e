// DDS files written by the saver, read back by decoders nobody here wrote
// (OpenImageIO's oiiotool, ImageMagick, Pillow), with the pixel values
// compared: every format of the DDS table, mip chains, cube maps, DXT blocks
// against our own block decoder, and layers the saver has to convert first.
//
// A reader that refuses a format it is not known to read is only recorded
// (the table is printed); a reader that opens a file and shows other pixels
// fails the test, unless the (format, reader) pair is one of the few known
// misreadings listed below, and then the reader must show exactly that
// misreading.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "convert/pixel_codec.h"
#include "formats/dds_writer.h"
#include "image/image_layer.h"
#include "image/pixel_format.h"
#include "platform/heap.h"
#include "save/image_saver.h"
#include "support/file_helpers.h"
#include "support/image_readers.h"
#include "support/layer_helpers.h"
#include "z3az/convert.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Readers

enum Reader : uint32_t { Oiio = 0, Magick = 1, Pillow = 2, ReaderCount = 3 };
constexpr uint32_t kOiio = 1u << Oiio, kMagick = 1u << Magick, kPillow = 1u << Pillow;
const char* const kReaderNames[ReaderCount] = {"OpenImageIO", "ImageMagick", "Pillow"};

bool ReaderAvailable(Reader r) {
    static const bool have[ReaderCount] = {
        test::HaveProgram("oiiotool"),
        test::HaveProgram("convert-im6.q16") && test::HaveProgram("identify-im6.q16"),
        test::RunCommand(std::string(test::DistributionPython()) + " -c 'import PIL' 2>/dev/null") == 0,
    };
    return have[r];
}

bool ReadBack(Reader r, const std::string& path, test::ReadPixels* out, std::string* error, int image = 0,
              int level = 0) {
    switch (r) {
        case Oiio: return test::ReadWithOiio(path, out, error, 0, level);
        case Magick: return test::ReadWithMagick(path, out, error, image);
        case Pillow: return test::ReadWithPillow(path, out, error);
        default: return false;
    }
}

// ---------------------------------------------------------------------------
// What the pixels of a file mean, worked out by the test from the bytes it
// put into the layer, independently of the library's tables and codecs.

// RGBA per pixel, and which of the four channels a reader must reproduce.
struct Expected {
    uint32_t width = 0, height = 0;
    std::vector<ColorF> pixels;
    bool compare[4] = {true, true, true, true};
    float tolerance = 0;
    const ColorF& At(uint32_t x, uint32_t y) const { return pixels[y * width + x]; }
};

float Channel(const ColorF& c, int i) { return i == 0 ? c.r : i == 1 ? c.g : i == 2 ? c.b : c.a; }

// Compares what a reader shows with the expected pixels. Readers give one
// channel (luminance, or alpha of an alpha-only format), two (luminance and
// alpha), three (RGB) or four (RGBA).
bool SamePixels(const test::ReadPixels& got, const Expected& want, bool alphaOnly, std::string* why) {
    if (got.width != want.width || got.height != want.height) {
        *why = "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
        return false;
    }
    int map[4] = {-1, -1, -1, -1};  // reader channel for R, G, B, A
    switch (got.channels) {
        case 1:
            if (alphaOnly) map[3] = 0;
            else map[0] = map[1] = map[2] = 0;
            break;
        case 2: map[0] = map[1] = map[2] = 0; map[3] = 1; break;
        case 3: map[0] = 0; map[1] = 1; map[2] = 2; break;
        case 4: map[0] = 0; map[1] = 1; map[2] = 2; map[3] = 3; break;
        default: *why = std::to_string(got.channels) + " channels"; return false;
    }
    for (uint32_t y = 0; y < want.height; ++y)
        for (uint32_t x = 0; x < want.width; ++x)
            for (int c = 0; c < 4; ++c) {
                if (!want.compare[c] || map[c] < 0) continue;
                const float e = Channel(want.At(x, y), c);
                const float g = got.At(x, y, static_cast<uint32_t>(map[c]));
                const float tol = want.tolerance * std::max(1.0f, std::fabs(e));
                if (!(std::fabs(g - e) <= tol)) {
                    std::ostringstream s;
                    s << "pixel (" << x << ", " << y << ") channel " << "RGBA"[c] << ": " << g << ", expected "
                      << e;
                    *why = s.str();
                    return false;
                }
            }
    return true;
}

// ---------------------------------------------------------------------------
// The table of formats

enum class Meaning {
    Colour,     // RGB(A) bit fields
    Luminance,  // r is luminance
    AlphaOnly,  // a only
    Unsigned,   // signed data: readers that open it see the bit fields as unsigned
    Palette,    // byte 0 indexes the palette; a is byte 1 when there is one
    Codec,      // no plain bit fields: what our own decoder makes of the bytes
};
enum class Enc { Unorm, Half, Float };

struct Field {
    uint8_t offset = 0, bits = 0;  // bit offset in the little-endian pixel; 0 bits: absent
};

struct FormatCase {
    const char* name;
    uint32_t format;
    uint32_t bytesPerPixel;
    Meaning meaning;
    Enc enc;
    Field r, g, b, a;
    // Readers known to read this format; a refusal by any other is recorded
    // only, a refusal by one of these fails (the file must be at fault).
    uint32_t knownReaders;
};

constexpr Field F(uint8_t offset, uint8_t bits) { return Field{offset, bits}; }
constexpr Field N{};

const FormatCase kFormats[] = {
    {"R8G8B8", D3DFMT_R8G8B8, 3, Meaning::Colour, Enc::Unorm, F(16, 8), F(8, 8), F(0, 8), N, kOiio | kMagick | kPillow},
    {"A8R8G8B8", D3DFMT_A8R8G8B8, 4, Meaning::Colour, Enc::Unorm, F(16, 8), F(8, 8), F(0, 8), F(24, 8), kOiio | kMagick | kPillow},
    {"X8R8G8B8", D3DFMT_X8R8G8B8, 4, Meaning::Colour, Enc::Unorm, F(16, 8), F(8, 8), F(0, 8), N, kOiio | kMagick | kPillow},
    {"R5G6B5", D3DFMT_R5G6B5, 2, Meaning::Colour, Enc::Unorm, F(11, 5), F(5, 6), F(0, 5), N, kOiio | kMagick},
    {"X1R5G5B5", D3DFMT_X1R5G5B5, 2, Meaning::Colour, Enc::Unorm, F(10, 5), F(5, 5), F(0, 5), N, kOiio},
    {"A1R5G5B5", D3DFMT_A1R5G5B5, 2, Meaning::Colour, Enc::Unorm, F(10, 5), F(5, 5), F(0, 5), F(15, 1), kOiio | kMagick},
    {"A4R4G4B4", D3DFMT_A4R4G4B4, 2, Meaning::Colour, Enc::Unorm, F(8, 4), F(4, 4), F(0, 4), F(12, 4), kOiio | kMagick},
    {"R3G3B2", D3DFMT_R3G3B2, 1, Meaning::Colour, Enc::Unorm, F(5, 3), F(2, 3), F(0, 2), N, kOiio | kMagick},
    {"A8", D3DFMT_A8, 1, Meaning::AlphaOnly, Enc::Unorm, N, N, N, F(0, 8), kOiio},
    {"A8R3G3B2", D3DFMT_A8R3G3B2, 2, Meaning::Colour, Enc::Unorm, F(5, 3), F(2, 3), F(0, 2), F(8, 8), kOiio},
    {"X4R4G4B4", D3DFMT_X4R4G4B4, 2, Meaning::Colour, Enc::Unorm, F(8, 4), F(4, 4), F(0, 4), N, kOiio},
    {"A2B10G10R10", D3DFMT_A2B10G10R10, 4, Meaning::Colour, Enc::Unorm, F(0, 10), F(10, 10), F(20, 10), F(30, 2), kOiio | kMagick},
    {"A8B8G8R8", D3DFMT_A8B8G8R8, 4, Meaning::Colour, Enc::Unorm, F(0, 8), F(8, 8), F(16, 8), F(24, 8), kOiio | kMagick | kPillow},
    {"X8B8G8R8", D3DFMT_X8B8G8R8, 4, Meaning::Colour, Enc::Unorm, F(0, 8), F(8, 8), F(16, 8), N, kOiio | kMagick | kPillow},
    {"G16R16", D3DFMT_G16R16, 4, Meaning::Colour, Enc::Unorm, F(0, 16), F(16, 16), N, N, kMagick},
    {"A2R10G10B10", D3DFMT_A2R10G10B10, 4, Meaning::Colour, Enc::Unorm, F(20, 10), F(10, 10), F(0, 10), F(30, 2), kOiio | kMagick},
    {"A8P8", D3DFMT_A8P8, 2, Meaning::Palette, Enc::Unorm, N, N, N, F(8, 8), 0},
    {"P8", D3DFMT_P8, 1, Meaning::Palette, Enc::Unorm, N, N, N, N, 0},
    {"L8", D3DFMT_L8, 1, Meaning::Luminance, Enc::Unorm, F(0, 8), N, N, N, kOiio | kMagick | kPillow},
    {"A8L8", D3DFMT_A8L8, 2, Meaning::Luminance, Enc::Unorm, F(0, 8), N, N, F(8, 8), kOiio | kPillow},
    {"A4L4", D3DFMT_A4L4, 1, Meaning::Luminance, Enc::Unorm, F(0, 4), N, N, F(4, 4), kOiio},
    {"L16", D3DFMT_L16, 2, Meaning::Luminance, Enc::Unorm, F(0, 16), N, N, N, kOiio | kPillow},
    // Bump and normal formats: the readers know no signed data; what they
    // show are the fields as unsigned numbers under the header's masks.
    {"V8U8", D3DFMT_V8U8, 2, Meaning::Unsigned, Enc::Unorm, F(0, 8), F(8, 8), N, N, 0},
    {"L6V5U5", D3DFMT_L6V5U5, 2, Meaning::Unsigned, Enc::Unorm, F(0, 5), F(5, 5), F(10, 6), N, 0},
    {"X8L8V8U8", D3DFMT_X8L8V8U8, 4, Meaning::Unsigned, Enc::Unorm, F(0, 8), F(8, 8), F(16, 8), N, 0},
    {"Q8W8V8U8", D3DFMT_Q8W8V8U8, 4, Meaning::Unsigned, Enc::Unorm, F(0, 8), F(8, 8), F(16, 8), F(24, 8), 0},
    {"V16U16", D3DFMT_V16U16, 4, Meaning::Unsigned, Enc::Unorm, F(0, 16), F(16, 16), N, N, 0},
    {"A2W10V10U10", D3DFMT_A2W10V10U10, 4, Meaning::Unsigned, Enc::Unorm, F(20, 10), F(10, 10), F(0, 10), F(30, 2), kOiio},
    {"UYVY", D3DFMT_UYVY, 2, Meaning::Codec, Enc::Unorm, N, N, N, N, 0},
    {"R8G8_B8G8", D3DFMT_R8G8_B8G8, 2, Meaning::Codec, Enc::Unorm, N, N, N, N, 0},
    {"YUY2", D3DFMT_YUY2, 2, Meaning::Codec, Enc::Unorm, N, N, N, N, 0},
    {"G8R8_G8B8", D3DFMT_G8R8_G8B8, 2, Meaning::Codec, Enc::Unorm, N, N, N, N, 0},
    {"D16_LOCKABLE", D3DFMT_D16_LOCKABLE, 2, Meaning::Codec, Enc::Unorm, N, N, N, N, 0},
    {"D32F_LOCKABLE", D3DFMT_D32F_LOCKABLE, 4, Meaning::Codec, Enc::Unorm, N, N, N, N, 0},
    {"A16B16G16R16", D3DFMT_A16B16G16R16, 8, Meaning::Colour, Enc::Unorm, F(0, 16), F(16, 16), F(32, 16), F(48, 16), 0},
    {"Q16W16V16U16", D3DFMT_Q16W16V16U16, 8, Meaning::Unsigned, Enc::Unorm, F(0, 16), F(16, 16), F(32, 16), F(48, 16), 0},
    {"R16F", D3DFMT_R16F, 2, Meaning::Colour, Enc::Half, F(0, 16), N, N, N, 0},
    {"G16R16F", D3DFMT_G16R16F, 4, Meaning::Colour, Enc::Half, F(0, 16), F(16, 16), N, N, 0},
    {"A16B16G16R16F", D3DFMT_A16B16G16R16F, 8, Meaning::Colour, Enc::Half, F(0, 16), F(16, 16), F(32, 16), F(48, 16), 0},
    {"R32F", D3DFMT_R32F, 4, Meaning::Colour, Enc::Float, F(0, 32), N, N, N, 0},
    {"G32R32F", D3DFMT_G32R32F, 8, Meaning::Colour, Enc::Float, F(0, 32), F(32, 32), N, N, 0},
    {"A32B32G32R32F", D3DFMT_A32B32G32R32F, 16, Meaning::Colour, Enc::Float, F(0, 32), F(32, 32), F(64, 32), F(96, 32), 0},
    {"CxV8U8", D3DFMT_CxV8U8, 2, Meaning::Unsigned, Enc::Unorm, F(0, 8), F(8, 8), N, N, 0},
};

// Files of ours that a reader opens and shows otherwise than written. Each
// is described exactly, so that the pair still fails on anything else.
enum class Misread {
    ByteLuminance,   // every byte of the pixel data is one grey pixel
    Packed24,        // 32-bit pixels taken 3 bytes at a time, bytes placed by the masks
    Bgra32,          // 32-bit pixels taken as blue, green, red, alpha bytes whatever the masks
    RedBlueByMasks,  // red and blue exchanged: see below
};
struct Misreading {
    uint32_t format;
    Reader reader;
    Misread how;
};
const Misreading kMisreadings[] = {
    // Pillow takes any luminance file for 8 bits a pixel, and a 32-bit RGB
    // file without an alpha mask for 24 bits a pixel.
    {D3DFMT_L16, Pillow, Misread::ByteLuminance},
    {D3DFMT_X8R8G8B8, Pillow, Misread::Packed24},
    {D3DFMT_X8B8G8R8, Pillow, Misread::Packed24},
    // ImageMagick ignores the masks: 8-bit RGB reads as grey, 32-bit RGB as
    // A8R8G8B8 bytes.
    {D3DFMT_R3G3B2, Magick, Misread::ByteLuminance},
    {D3DFMT_A8B8G8R8, Magick, Misread::Bgra32},
    {D3DFMT_X8B8G8R8, Magick, Misread::Bgra32},
    {D3DFMT_G16R16, Magick, Misread::Bgra32},
    {D3DFMT_A2B10G10R10, Magick, Misread::Bgra32},
    {D3DFMT_A2R10G10B10, Magick, Misread::Bgra32},
    // The header of the two 10:10:10:2 formats carries the masks the D3D
    // tools have always written for them, which name the 10-bit fields the
    // other way round from the pixel layout: A2B10G10R10 says red is in the
    // high field, A2R10G10B10 that red is in the low one. A reader that goes
    // by the masks shows red and blue exchanged.
    {D3DFMT_A2B10G10R10, Oiio, Misread::RedBlueByMasks},
    {D3DFMT_A2R10G10B10, Oiio, Misread::RedBlueByMasks},
};
// Readers that never come back from some files (OpenImageIO loops for ever
// on RGB masks with an empty colour mask, as in G16R16's blue and A8P8's
// colours); they are not run on those.
struct Hang {
    uint32_t format;
    Reader reader;
};
const Hang kHangs[] = {{D3DFMT_G16R16, Oiio}, {D3DFMT_A8P8, Oiio}};

const Misreading* FindMisreading(uint32_t format, Reader r) {
    for (const Misreading& m : kMisreadings)
        if (m.format == format && m.reader == r) return &m;
    return nullptr;
}
bool Hangs(uint32_t format, Reader r) {
    for (const Hang& h : kHangs)
        if (h.format == format && h.reader == r) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Building the pixels

uint32_t Mix(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v;
}

uint64_t GetBits(const uint8_t* pixel, Field f) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < f.bits; ++i) {
        const uint32_t bit = f.offset + i;
        v |= static_cast<uint64_t>((pixel[bit / 8] >> (bit % 8)) & 1) << i;
    }
    return v;
}

void PutBits(uint8_t* pixel, Field f, uint64_t v) {
    for (uint32_t i = 0; i < f.bits; ++i) {
        const uint32_t bit = f.offset + i;
        pixel[bit / 8] = static_cast<uint8_t>((pixel[bit / 8] & ~(1u << (bit % 8))) | (((v >> i) & 1) << (bit % 8)));
    }
}

// Half floats of the values the test uses: all exactly representable.
uint16_t HalfOf(float v) {
    if (v == 0) return std::signbit(v) ? 0x8000 : 0;
    int e = 0;
    const float m = std::frexp(std::fabs(v), &e);  // |v| = m * 2^e, m in [0.5, 1)
    const uint32_t mantissa = static_cast<uint32_t>((m * 2 - 1) * 1024 + 0.5f);
    return static_cast<uint16_t>((v < 0 ? 0x8000 : 0) | (e - 1 + 15) << 10 | mantissa);
}
float HalfValue(uint64_t h) {
    const int e = (h >> 10) & 31;
    const float m = static_cast<float>(h & 1023);
    const float v = e == 0 ? std::ldexp(m, -24) : std::ldexp(1024 + m, e - 25);
    return (h & 0x8000) ? -v : v;
}

// A single-level, single-slice picture in one format: rows padded in memory
// (the padding must not reach the file), bytes chosen per pixel.
struct Picture {
    uint32_t width, height, rowPitch;
    Bytes memory;
    PALETTEENTRY palette[256];
};

uint32_t RowBytes(const FormatCase& c, uint32_t width) {
    if (c.meaning == Meaning::Codec && c.bytesPerPixel == 2 && c.format != D3DFMT_D16_LOCKABLE)
        return (width + 1) / 2 * 4;  // two-pixel formats
    return width * c.bytesPerPixel;
}

// Float channels take a spread of values, negative ones, zero and values
// above 1 included; half channels only values a half holds exactly.
float FloatSample(uint32_t seed, bool half) {
    static const float kValues[] = {0.0f, 1.0f, 0.5f, 0.25f, -0.75f, 2.0f, 0.125f, 3.5f, -2.0f, 0.875f, 100.0f, 0.0625f};
    const float v = kValues[seed % (sizeof kValues / sizeof kValues[0])];
    return half ? v : v * 1.0009765625f + ((seed >> 8) % 7) * 0.001f;
}

Picture MakePicture(const FormatCase& c, uint32_t width, uint32_t height, uint32_t seed) {
    Picture p;
    p.width = width;
    p.height = height;
    p.rowPitch = RowBytes(c, width) + 3;
    p.memory.assign(static_cast<size_t>(p.rowPitch) * height, 0xEE);
    for (int i = 0; i < 256; ++i) {
        const uint32_t m = Mix(seed * 977 + i);
        p.palette[i] = {static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8), static_cast<uint8_t>(m >> 16),
                        static_cast<uint8_t>(m >> 24)};
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = p.memory.data() + static_cast<size_t>(y) * p.rowPitch;
        const uint32_t rowBytes = RowBytes(c, width);
        for (uint32_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(Mix(seed * 131 + y * 1009 + i));
        if (c.enc == Enc::Unorm) {
            // The first pixels of the first row carry each field's extremes.
            if (y == 0 && c.meaning != Meaning::Codec && c.meaning != Meaning::Palette)
                for (uint32_t x = 0; x < std::min(width, 2u); ++x)
                    for (Field f : {c.r, c.g, c.b, c.a})
                        if (f.bits) PutBits(row + x * c.bytesPerPixel, f, x == 0 ? 0 : (uint64_t(1) << f.bits) - 1);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = row + x * c.bytesPerPixel;
            int k = 0;
            for (Field f : {c.r, c.g, c.b, c.a}) {
                if (!f.bits) continue;
                const float v = FloatSample(Mix(seed + y * 31 + x * 7 + k++), c.enc == Enc::Half);
                if (c.enc == Enc::Half) {
                    PutBits(pixel, f, HalfOf(v));
                } else {
                    uint32_t u;
                    std::memcpy(&u, &v, 4);
                    PutBits(pixel, f, u);
                }
            }
        }
    }
    return p;
}

bool IsDxt(uint32_t format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

void Describe(ImageLayer& layer, uint32_t format, void* bits, uint32_t w, uint32_t h, uint32_t rowPitch) {
    layer.format = format;
    layer.bits = bits;
    layer.width = w;
    layer.height = h;
    layer.depth = 1;
    layer.box = {0, 0, w, h, 0, 1};
    layer.rowPitch = rowPitch;
    layer.slicePitch = 0;
}

// What our own codec reads from a layer, as RGBA rows.
bool DecodeWithCodec(const ImageLayer& layer, std::vector<ColorF>* out) {
    BlitRegion r = {};
    r.bits = layer.bits;
    r.format = layer.format;
    r.rowPitch = layer.rowPitch;
    r.slicePitch = layer.slicePitch;
    r.bounds = layer.box;
    r.box = layer.box;
    r.palette = layer.palette;
    PixelCodec* codec = CreatePixelCodec(r);
    if (!codec) return false;
    out->assign(static_cast<size_t>(layer.width) * layer.height, ColorF{});
    bool ok = true;
    for (uint32_t y = 0; y < layer.height && ok; ++y)
        ok = SUCCEEDED(codec->ReadRow(y, 0, out->data() + static_cast<size_t>(y) * layer.width));
    Delete(codec);
    return ok;
}

float FieldValue(const uint8_t* pixel, Field f, Enc enc) {
    const uint64_t v = GetBits(pixel, f);
    switch (enc) {
        case Enc::Unorm: return static_cast<float>(static_cast<double>(v) / ((uint64_t(1) << f.bits) - 1));
        case Enc::Half: return HalfValue(v);
        case Enc::Float: {
            const uint32_t u = static_cast<uint32_t>(v);
            float fl;
            std::memcpy(&fl, &u, 4);
            return fl;
        }
    }
    return 0;
}

// The meaning of the picture's bytes under the format's fields.
Expected ExpectedPixels(const FormatCase& c, const Picture& p, const ImageLayer& layer) {
    Expected e;
    e.width = p.width;
    e.height = p.height;
    e.pixels.resize(static_cast<size_t>(p.width) * p.height);
    // Readers deliver 8 bits a channel (OpenImageIO for every DDS file,
    // ImageMagick's 5- and 6-bit expansion truncates): one code of slack.
    e.tolerance = c.enc == Enc::Unorm ? 1.0f / 255 + 1e-4f : 1e-3f;
    if (c.meaning == Meaning::Codec) {
        if (!DecodeWithCodec(layer, &e.pixels)) e.pixels.clear();
        e.tolerance = 2.0f / 255;  // YUV to RGB rounding differs between decoders
        return e;
    }
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint8_t* pixel = p.memory.data() + static_cast<size_t>(y) * p.rowPitch + x * c.bytesPerPixel;
            ColorF& out = e.pixels[static_cast<size_t>(y) * p.width + x];
            out = {0, 0, 0, 1};
            if (c.meaning == Meaning::Palette) {
                const PALETTEENTRY& entry = p.palette[pixel[0]];
                out = {entry.peRed / 255.0f, entry.peGreen / 255.0f, entry.peBlue / 255.0f,
                       c.a.bits ? FieldValue(pixel, c.a, Enc::Unorm) : 1.0f};
                continue;
            }
            if (c.r.bits) out.r = FieldValue(pixel, c.r, c.enc);
            if (c.g.bits) out.g = FieldValue(pixel, c.g, c.enc);
            if (c.b.bits) out.b = FieldValue(pixel, c.b, c.enc);
            if (c.a.bits) out.a = FieldValue(pixel, c.a, c.enc);
            if (c.meaning == Meaning::Luminance) out.g = out.b = out.r;
        }
    // Colour channels a format does not have are not compared (readers fill
    // them as they like); a missing alpha reads as opaque.
    e.compare[0] = c.r.bits || c.meaning == Meaning::Palette;
    e.compare[1] = c.g.bits || c.meaning == Meaning::Luminance || c.meaning == Meaning::Palette;
    e.compare[2] = c.b.bits || c.meaning == Meaning::Luminance || c.meaning == Meaning::Palette;
    e.compare[3] = !(c.meaning == Meaning::Palette && !c.a.bits);  // P8's alpha: reader's choice
    return e;
}

uint32_t LowestBit(uint32_t mask) {
    uint32_t shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// The exact misreading of a known pair, from the file's own bytes (every
// file here has its rows back to back from offset 128).
Expected MisreadPixels(const Misreading& m, const Bytes& file, const Expected& want) {
    Expected e = want;
    e.tolerance = 1e-4f;
    const uint32_t count = want.width * want.height;
    const uint32_t alphaFlag = file.at(80) & 1;  // DDPF_ALPHAPIXELS
    auto byte = [&](size_t at) { return file.at(128 + at) / 255.0f; };
    for (uint32_t i = 0; i < count; ++i) {
        ColorF& out = e.pixels[i];
        switch (m.how) {
            case Misread::ByteLuminance:
                out = {byte(i), byte(i), byte(i), 1};
                e.compare[0] = e.compare[1] = e.compare[2] = e.compare[3] = true;
                break;
            case Misread::Packed24: {
                const uint32_t rMask = file.at(92) | file.at(93) << 8 | file.at(94) << 16;
                const uint32_t bMask = file.at(100) | file.at(101) << 8 | file.at(102) << 16;
                out = {byte(3 * i + LowestBit(rMask) / 8), byte(3 * i + 1), byte(3 * i + LowestBit(bMask) / 8), 1};
                break;
            }
            case Misread::Bgra32:
                out = {byte(4 * i + 2), byte(4 * i + 1), byte(4 * i), alphaFlag ? byte(4 * i + 3) : 1.0f};
                e.compare[0] = e.compare[1] = e.compare[2] = e.compare[3] = true;
                break;
            case Misread::RedBlueByMasks:
                std::swap(out.r, out.b);
                e.tolerance = want.tolerance;
                break;
        }
    }
    return e;
}

// ---------------------------------------------------------------------------
// The table of results, printed once at the end.

enum class Outcome { NotRun, Refused, Equal, Misread, Exchanged, Hangs, Different };

struct ResultTable {
    std::vector<std::pair<std::string, Outcome>> rows[ReaderCount];
    void Add(const char* format, Reader r, Outcome o) { rows[r].push_back({format, o}); }
    void Print() const {
        static const char* const kWords[] = {"not run", "refused", "pixels equal", "known misreading",
                                             "red and blue exchanged (masks)", "not run (reader loops)", "PIXELS DIFFER"};
        std::cout << "format";
        for (uint32_t r = 0; r < ReaderCount; ++r) std::cout << " | " << kReaderNames[r];
        std::cout << "\n";
        for (size_t i = 0; i < rows[0].size(); ++i) {
            std::cout << rows[0][i].first;
            for (uint32_t r = 0; r < ReaderCount; ++r)
                std::cout << " | " << kWords[static_cast<int>(rows[r][i].second)];
            std::cout << "\n";
        }
    }
};

HRESULT SaveDds(ImageLayer& layer, const std::string& path) {
    return ImageSaver::Save(layer, path.c_str(), ImageFileDds, FileA);
}

// Reads one file with every reader and checks the pixels; returns each
// reader's outcome.
void CheckFile(const FormatCase& c, const std::string& path, const Expected& want, uint32_t knownReaders,
               ResultTable* table) {
    const Bytes file = test::ReadFileBytes(path);
    for (uint32_t ri = 0; ri < ReaderCount; ++ri) {
        const Reader r = static_cast<Reader>(ri);
        SCOPED_TRACE(kReaderNames[r]);
        if (!ReaderAvailable(r)) {
            table->Add(c.name, r, Outcome::NotRun);
            continue;
        }
        if (Hangs(c.format, r)) {
            table->Add(c.name, r, Outcome::Hangs);
            continue;
        }
        test::ReadPixels got;
        std::string error;
        if (!ReadBack(r, path, &got, &error)) {
            EXPECT_FALSE(knownReaders & (1u << r)) << "refused a file it is known to read: " << error;
            table->Add(c.name, r, Outcome::Refused);
            continue;
        }
        ASSERT_FALSE(want.pixels.empty()) << "opened, but the test has no expectation for " << c.name;
        std::string why;
        if (SamePixels(got, want, c.meaning == Meaning::AlphaOnly, &why)) {
            table->Add(c.name, r, Outcome::Equal);
            continue;
        }
        if (const Misreading* m = FindMisreading(c.format, r)) {
            std::string how;
            EXPECT_TRUE(SamePixels(got, MisreadPixels(*m, file, want), false, &how))
                << "neither the pixels (" << why << ") nor the known misreading (" << how << ")";
            table->Add(c.name, r, m->how == Misread::RedBlueByMasks ? Outcome::Exchanged : Outcome::Misread);
            continue;
        }
        ADD_FAILURE() << c.name << ": " << why;
        table->Add(c.name, r, Outcome::Different);
    }
}

TEST(DdsReadbackTest, EveryTableFormatThroughTheSaverReadsBackAsWritten) {
    // Every format a DDS file holds is here but the DXT ones (tested below
    // against our block decoder).
    for (const DdsFormatRow* row = DdsFormatTable; row->format; ++row) {
        bool listed = IsDxt(row->format);
        for (const FormatCase& c : kFormats) listed = listed || c.format == row->format;
        EXPECT_TRUE(listed) << row->format;
    }
    test::ScratchDir dir;
    ResultTable table;
    uint32_t seed = 1;
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(nullptr, FindDdsFormat(c.format));
        Picture p = MakePicture(c, 5, 3, seed++);
        ImageLayer layer;
        Describe(layer, c.format, p.memory.data(), p.width, p.height, p.rowPitch);
        if (c.meaning == Meaning::Palette) layer.palette = p.palette;
        const Expected want = ExpectedPixels(c, p, layer);

        // Our own decoder agrees with the test's reading of the fields
        // (signed, palette and two-pixel formats are covered by the codec
        // tests).
        if (c.meaning == Meaning::Colour || c.meaning == Meaning::Luminance || c.meaning == Meaning::AlphaOnly) {
            std::vector<ColorF> ours;
            ASSERT_TRUE(DecodeWithCodec(layer, &ours));
            Expected mine = want;
            mine.tolerance = c.enc == Enc::Unorm ? 1e-5f : 1e-6f;
            // Our codec fills a missing alpha with 1 and missing colours with 1
            // or 0 depending on the format: only the present ones count.
            mine.pixels = ours;
            std::string why;
            test::ReadPixels asRead;
            asRead.width = p.width;
            asRead.height = p.height;
            asRead.channels = 4;
            for (const ColorF& px : want.pixels)
                asRead.values.insert(asRead.values.end(), {px.r, px.g, px.b, px.a});
            EXPECT_TRUE(SamePixels(asRead, mine, false, &why)) << "our decoder: " << why;
        }

        const std::string path = dir.File(std::string(c.name) + ".dds");
        ASSERT_EQ(S_OK, SaveDds(layer, path));
        ASSERT_EQ(c.format, layer.format) << "a DDS format is stored as it is";
        CheckFile(c, path, want, c.knownReaders, &table);
    }
    table.Print();
}

// ---------------------------------------------------------------------------
// Chains: mip levels and cube faces

const FormatCase& CaseOf(uint32_t format) {
    for (const FormatCase& c : kFormats)
        if (c.format == format) return c;
    ADD_FAILURE() << "no case for " << format;
    return kFormats[0];
}

// A texture over pictures the test owns: faces x levels, level sizes halved
// (never below 1). The layers' destructor frees the links, not the pixels.
struct Texture {
    std::vector<Picture> pictures;  // face by face, each level by level
    ImageLayer first;
    Texture(const FormatCase& c, uint32_t faces, uint32_t levels, uint32_t width, uint32_t height, uint32_t seed) {
        pictures.reserve(faces * levels);
        ImageLayer* face = nullptr;
        for (uint32_t f = 0; f < faces; ++f) {
            ImageLayer* level = nullptr;
            uint32_t w = width, h = height;
            for (uint32_t l = 0; l < levels; ++l) {
                pictures.push_back(MakePicture(c, w, h, seed + f * 16 + l));
                Picture& p = pictures.back();
                ImageLayer* layer = f == 0 && l == 0 ? &first : New<ImageLayer>();
                Describe(*layer, c.format, p.memory.data(), w, h, p.rowPitch);
                if (l == 0) {
                    if (face) face->nextFace = layer;
                    face = layer;
                } else {
                    level->nextLevel = layer;
                }
                level = layer;
                w = std::max(w / 2, 1u);
                h = std::max(h / 2, 1u);
            }
        }
    }
    const Picture& At(uint32_t face, uint32_t level, uint32_t levels) const { return pictures[face * levels + level]; }
};

Expected ExpectedOf(const FormatCase& c, const Picture& p) {
    ImageLayer layer;
    Describe(layer, c.format, const_cast<uint8_t*>(p.memory.data()), p.width, p.height, p.rowPitch);
    return ExpectedPixels(c, p, layer);
}

// Expected pictures of equal width one below the other.
Expected Stacked(const std::vector<Expected>& parts) {
    Expected e = parts.at(0);
    for (size_t i = 1; i < parts.size(); ++i) {
        e.height += parts[i].height;
        e.pixels.insert(e.pixels.end(), parts[i].pixels.begin(), parts[i].pixels.end());
    }
    return e;
}

// OpenImageIO's list of level sizes ("MIP-map levels: 8x6 4x3 2x1"), or
// empty when it reports none.
std::string OiioLevels(const std::string& path) {
    std::string text;
    if (test::RunCommand("iinfo -v '" + path + "' 2>&1", &text) != 0) return "";
    const size_t at = text.find("MIP-map levels: ");
    if (at == std::string::npos) return "";
    const size_t end = text.find('\n', at);
    return text.substr(at + 16, end - at - 16);
}

class DdsChainReadbackTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(DdsChainReadbackTest, ThreeLevelChainLevelByLevel) {
    const FormatCase& c = CaseOf(GetParam());
    Texture t(c, 1, 3, 8, 6, 40);
    test::ScratchDir dir;
    const std::string path = dir.File("chain.dds");
    ASSERT_EQ(S_OK, SaveDds(t.first, path));
    const Bytes file = test::ReadFileBytes(path);
    ASSERT_GE(file.size(), 128u);
    EXPECT_EQ(3u, test::Le32(file, 28));  // level count in the header
    EXPECT_EQ(128 + (48 + 12 + 2) * c.bytesPerPixel, file.size());

    const Expected level0 = ExpectedOf(c, t.At(0, 0, 3));
    if (ReaderAvailable(Oiio)) {
        EXPECT_EQ("8x6 4x3 2x1", OiioLevels(path));
        for (int l = 0; l < 3; ++l) {
            SCOPED_TRACE(l);
            test::ReadPixels got;
            std::string error, why;
            ASSERT_TRUE(ReadBack(Oiio, path, &got, &error, 0, l)) << error;
            EXPECT_TRUE(SamePixels(got, ExpectedOf(c, t.At(0, l, 3)), false, &why)) << why;
        }
    }
    // ImageMagick and Pillow show only the first level.
    for (Reader r : {Magick, Pillow}) {
        if (!ReaderAvailable(r) || !(c.knownReaders & (1u << r))) continue;
        SCOPED_TRACE(kReaderNames[r]);
        test::ReadPixels got;
        std::string error, why;
        ASSERT_TRUE(ReadBack(r, path, &got, &error)) << error;
        EXPECT_TRUE(SamePixels(got, level0, false, &why)) << why;
    }
}

TEST_P(DdsChainReadbackTest, CubeFacesInOrder) {
    const FormatCase& c = CaseOf(GetParam());
    test::ScratchDir dir;
    // Single-level cube: OpenImageIO shows the six faces one below the other
    // (+x -x +y -y +z -z, the order they are written in), ImageMagick one
    // frame a face. A two-level cube: the same for the first level; neither
    // reader shows a cube's further levels as written (OpenImageIO reads a
    // second level of the strip's full size), so those are not compared.
    for (uint32_t levels : {1u, 2u}) {
        SCOPED_TRACE(levels);
        Texture t(c, 6, levels, 4, 4, 90 + levels);
        const std::string path = dir.File("cube" + std::to_string(levels) + ".dds");
        ASSERT_EQ(S_OK, SaveDds(t.first, path));
        const Bytes file = test::ReadFileBytes(path);
        ASSERT_GE(file.size(), 128u);
        EXPECT_EQ(0xFE00u, test::Le32(file, 112));
        EXPECT_EQ(128 + 6 * (16 + (levels > 1 ? 4 : 0)) * c.bytesPerPixel, file.size());
        std::vector<Expected> faces;
        for (uint32_t f = 0; f < 6; ++f) faces.push_back(ExpectedOf(c, t.At(f, 0, levels)));
        std::string why, error;
        if (ReaderAvailable(Oiio)) {
            test::ReadPixels got;
            ASSERT_TRUE(ReadBack(Oiio, path, &got, &error)) << error;
            EXPECT_TRUE(SamePixels(got, Stacked(faces), false, &why)) << why;
        }
        if (ReaderAvailable(Magick) && (c.knownReaders & kMagick)) {
            for (int f = 0; f < 6; ++f) {
                SCOPED_TRACE(f);
                test::ReadPixels got;
                // ImageMagick skips the further levels of a cube's face with
                // the wrong size for pixels of other than 4 bytes and runs
                // past the end of the file (whose size is checked above).
                if (!ReadBack(Magick, path, &got, &error, f) && levels > 1 && c.bytesPerPixel != 4) break;
                ASSERT_TRUE(got.width) << error;
                EXPECT_TRUE(SamePixels(got, faces[f], false, &why)) << why;
            }
        }
        if (ReaderAvailable(Pillow) && (c.knownReaders & kPillow)) {
            test::ReadPixels got;  // the first face only
            ASSERT_TRUE(ReadBack(Pillow, path, &got, &error)) << error;
            EXPECT_TRUE(SamePixels(got, faces[0], false, &why)) << why;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DdsChainReadbackTest,
                         ::testing::Values(uint32_t{D3DFMT_A8R8G8B8}, uint32_t{D3DFMT_R5G6B5}, uint32_t{D3DFMT_L8}),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return std::string(CaseOf(info.param).name);
                         });

// ---------------------------------------------------------------------------
// DXT blocks: encoded by our converter, stored by the saver, and decoded by
// the readers and by our own block decoder, which must agree within one code.

// Colour ramps, alpha 0 on every fifth pixel and five other levels.
std::vector<uint32_t> GradientArgb(uint32_t w, uint32_t h) {
    std::vector<uint32_t> p(static_cast<size_t>(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t a = (x + y) % 5 == 0 ? 0 : (40 + 50 * ((x * 3 + y) % 5)) & 255;
            const uint32_t r = (x * 255) / std::max(w - 1, 1u), g = (y * 255) / std::max(h - 1, 1u);
            const uint32_t b = (x * 37 + y * 91) & 255;
            p[static_cast<size_t>(y) * w + x] = a << 24 | r << 16 | g << 8 | b;
        }
    return p;
}

struct DxtCase {
    const char* name;
    uint32_t format;
    uint32_t knownReaders;
};

TEST(DdsReadbackTest, DxtBlocksMatchOurDecoder) {
    const DxtCase cases[] = {
        // The premultiplied DXT2 and DXT4 are left out: only OpenImageIO
        // opens them, dies of a division by zero on a clear pixel, and
        // undoes the premultiplication otherwise than by dividing by alpha.
        {"DXT1", D3DFMT_DXT1, kOiio | kMagick | kPillow},
        {"DXT3", D3DFMT_DXT3, kOiio | kMagick | kPillow},
        {"DXT5", D3DFMT_DXT5, kOiio | kMagick | kPillow},
    };
    test::ScratchDir dir;
    ResultTable table;
    for (const DxtCase& c : cases) {
        for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{8, 8}, {6, 5}}) {
            const std::string label = std::string(c.name) + " " + std::to_string(w) + "x" + std::to_string(h);
            SCOPED_TRACE(label);
            std::vector<uint32_t> source = GradientArgb(w, h);
            BlitRegion from = {};
            from.bits = source.data();
            from.format = D3DFMT_A8R8G8B8;
            from.rowPitch = w * 4;
            from.bounds = from.box = {0, 0, w, h, 0, 1};
            const uint32_t blockBytes = c.format == D3DFMT_DXT1 ? 8 : 16;
            const uint32_t rowPitch = (w + 3) / 4 * blockBytes;
            Bytes blocks(static_cast<size_t>(rowPitch) * ((h + 3) / 4));
            BlitRegion to = {};
            to.bits = blocks.data();
            to.format = c.format;
            to.rowPitch = rowPitch;
            to.slicePitch = static_cast<uint32_t>(blocks.size());
            to.bounds = to.box = {0, 0, w, h, 0, 1};
            ASSERT_EQ(S_OK, ConvertPixels(to, from, FilterNone));

            ImageLayer layer;
            Describe(layer, c.format, blocks.data(), w, h, rowPitch);
            Expected want;
            want.width = w;
            want.height = h;
            want.tolerance = 1.0f / 255 + 1e-4f;
            ASSERT_TRUE(DecodeWithCodec(layer, &want.pixels));
            // Decoders round the interpolated colours to 8 bits each their
            // own way: within one code of ours rounded.
            for (ColorF& px : want.pixels)
                for (float* v : {&px.r, &px.g, &px.b, &px.a}) *v = std::floor(*v * 255 + 0.5f) / 255;
            const std::string path = dir.File(label + ".dds");
            ASSERT_EQ(S_OK, SaveDds(layer, path));
            ASSERT_EQ(c.format, layer.format);
            const Bytes file = test::ReadFileBytes(path);
            ASSERT_EQ(128 + blocks.size(), file.size());
            EXPECT_EQ(blocks, Bytes(file.begin() + 128, file.end()));

            FormatCase asCase = {nullptr, c.format, 0, Meaning::Codec, Enc::Unorm, N, N, N, N, c.knownReaders};
            const std::string name = label;
            asCase.name = name.c_str();
            CheckFile(asCase, path, want, c.knownReaders, &table);
        }
    }
    table.Print();
}

// ---------------------------------------------------------------------------
// Layers that need converting

// The two formats of the library's own that no DDS file holds are brought by
// the saver into the nearest one it does: 16-bit RGBA, with every 16-bit
// value kept and alpha opaque.
TEST(DdsReadbackTest, SaverConvertsPrivateFormatsTo16BitRgba) {
    struct Case {
        const char* name;
        uint32_t format;
        uint32_t bytesPerPixel;
    } cases[] = {{"R16G16B16", PrivateFormatR16G16B16, 6}, {"A16L16", PrivateFormatA16L16, 4}};
    const uint32_t w = 3, h = 2;
    test::ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint16_t> words(static_cast<size_t>(w) * h * c.bytesPerPixel / 2 + 2);
        for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(Mix(static_cast<uint32_t>(i) + 7));
        words[0] = 0;
        words[1] = 0xFFFF;
        // Expected 16-bit R, G, B, A words of the stored pixels.
        std::vector<uint16_t> expected;
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint16_t* p = words.data() + i * c.bytesPerPixel / 2;
            if (c.format == PrivateFormatR16G16B16) expected.insert(expected.end(), {p[2], p[1], p[0], 0xFFFF});
            else expected.insert(expected.end(), {p[0], p[0], p[0], p[1]});
        }
        ImageLayer layer;
        Describe(layer, c.format, words.data(), w, h, w * c.bytesPerPixel);
        const std::string path = dir.File(std::string(c.name) + ".dds");
        ASSERT_EQ(S_OK, SaveDds(layer, path));
        EXPECT_EQ(uint32_t{D3DFMT_A16B16G16R16}, layer.format);
        const Bytes file = test::ReadFileBytes(path);
        ASSERT_EQ(128 + expected.size() * 2, file.size());
        EXPECT_EQ(36u, test::Le32(file, 84));  // the format's code as its FOURCC
        std::vector<uint16_t> stored(expected.size());
        std::memcpy(stored.data(), file.data() + 128, stored.size() * 2);
        EXPECT_EQ(expected, stored);
    }
}

// An R8G8B8 picture a host converts into DXT5 and into two 16-bit formats
// before saving: the values are worked out here, the readers must show them.
TEST(DdsReadbackTest, R8G8B8ConvertedToDxt5And16BitFormats) {
    // 8 x 4: two blocks of one colour each, colours a 5:6:5 pixel holds
    // exactly, so that DXT5 keeps them.
    const uint32_t w = 8, h = 4;
    const uint8_t colours[2][3] = {{0xFF, 0x82, 0x10}, {0x08, 0xDF, 0x94}};  // R, G, B
    Bytes rgb(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = rgb.data() + (y * w + x) * 3;
            const uint8_t* c = colours[x / 4];
            p[0] = c[2];  // memory order B, G, R
            p[1] = c[1];
            p[2] = c[0];
        }
    struct Case {
        const char* name;
        uint32_t format;
        uint32_t rowPitch;
        int rBits, gBits, bBits;  // 0: the colours stay exact (DXT5 of 5:6:5 colours)
    } cases[] = {
        {"DXT5", D3DFMT_DXT5, 2 * 16, 0, 0, 0},
        {"R5G6B5", D3DFMT_R5G6B5, w * 2, 5, 6, 5},
        {"A4R4G4B4", D3DFMT_A4R4G4B4, w * 2, 4, 4, 4},
    };
    test::ScratchDir dir;
    ResultTable table;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlitRegion from = {};
        from.bits = rgb.data();
        from.format = D3DFMT_R8G8B8;
        from.rowPitch = w * 3;
        from.bounds = from.box = {0, 0, w, h, 0, 1};
        Bytes converted(static_cast<size_t>(c.rowPitch) * (c.format == D3DFMT_DXT5 ? 1 : h));
        BlitRegion to = {};
        to.bits = converted.data();
        to.format = c.format;
        to.rowPitch = c.rowPitch;
        to.slicePitch = static_cast<uint32_t>(converted.size());
        to.bounds = to.box = {0, 0, w, h, 0, 1};
        ASSERT_EQ(S_OK, ConvertPixels(to, from, FilterNone));

        Expected want;
        want.width = w;
        want.height = h;
        want.tolerance = 1.0f / 255 + 1e-4f;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* k = colours[x / 4];
                auto q = [](uint8_t v, int bits) {
                    if (!bits) return v / 255.0f;
                    const float levels = static_cast<float>((1 << bits) - 1);
                    return std::floor(v / 255.0f * levels + 0.5f) / levels;  // plain rounding
                };
                want.pixels.push_back({q(k[0], c.rBits), q(k[1], c.gBits), q(k[2], c.bBits), 1});
            }
        if (c.format != D3DFMT_DXT5) {
            // The stored words, worked out from the rounded values.
            Bytes words;
            for (const ColorF& px : want.pixels) {
                const uint32_t r = static_cast<uint32_t>(px.r * ((1 << c.rBits) - 1) + 0.5f);
                const uint32_t g = static_cast<uint32_t>(px.g * ((1 << c.gBits) - 1) + 0.5f);
                const uint32_t b = static_cast<uint32_t>(px.b * ((1 << c.bBits) - 1) + 0.5f);
                const uint32_t v = c.format == D3DFMT_R5G6B5 ? r << 11 | g << 5 | b : 0xF000 | r << 8 | g << 4 | b;
                words.push_back(static_cast<uint8_t>(v));
                words.push_back(static_cast<uint8_t>(v >> 8));
            }
            EXPECT_EQ(words, converted);
        }

        ImageLayer layer;
        Describe(layer, c.format, converted.data(), w, h, c.rowPitch);
        const std::string path = dir.File(std::string(c.name) + ".dds");
        ASSERT_EQ(S_OK, SaveDds(layer, path));
        const Bytes file = test::ReadFileBytes(path);
        ASSERT_EQ(128 + converted.size(), file.size());
        EXPECT_EQ(converted, Bytes(file.begin() + 128, file.end()));
        const uint32_t known = c.format == D3DFMT_DXT5 ? kOiio | kMagick | kPillow : kOiio | kMagick;
        const FormatCase asCase = {c.name, c.format, 0, Meaning::Codec, Enc::Unorm, N, N, N, N, known};
        CheckFile(asCase, path, want, known, &table);
    }
    table.Print();
}

}  // namespace
}  // namespace z3az
