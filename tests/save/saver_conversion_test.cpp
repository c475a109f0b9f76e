// The saver through the conversion engine: which layers are converted, into
// what, level by level, and what the files hold afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "convert/pixel_codec.h"
#include "image/image_layer.h"
#include "platform/heap.h"
#include "save/image_saver.h"
#include "support/file_helpers.h"
#include "support/image_readers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using Bytes = std::vector<uint8_t>;

// A layer over pixels the test owns.
void Describe(ImageLayer& layer, uint32_t format, void* bits, uint32_t w, uint32_t h, uint32_t rowPitch,
              uint32_t depth = 1) {
    layer.format = format;
    layer.bits = bits;
    layer.width = w;
    layer.height = h;
    layer.depth = depth;
    layer.box = {0, 0, w, h, 0, depth};
    layer.rowPitch = rowPitch;
    layer.slicePitch = depth > 1 ? rowPitch * h : 0;
}

// What the codec of a format reads from a layer: the reference colours a
// saved file must hold.
std::vector<ColorF> ReadThroughCodec(const ImageLayer& layer) {
    BlitRegion r = {};
    r.bits = layer.bits;
    r.format = layer.format;
    r.rowPitch = layer.rowPitch;
    r.slicePitch = layer.slicePitch;
    r.bounds = layer.box;
    r.box = layer.box;
    r.palette = layer.palette;
    std::vector<ColorF> out(static_cast<size_t>(layer.width) * layer.height);
    PixelCodec* codec = CreatePixelCodec(r);
    EXPECT_NE(nullptr, codec);
    if (!codec) return out;
    for (uint32_t y = 0; y < layer.height; ++y) codec->ReadRow(y, 0, out.data() + y * layer.width);
    Delete(codec);
    return out;
}

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

std::vector<uint32_t> Colours(uint32_t w, uint32_t h, uint32_t alpha) {
    std::vector<uint32_t> p(w * h);
    for (uint32_t i = 0; i < w * h; ++i)
        p[i] = Argb(alpha, (i * 41 + 5) & 0xFF, (255 - i * 23) & 0xFF, (i * 67) & 0xFF);
    return p;
}

TEST(SaverConversionTest, X8R8G8B8IsStoredAsItIsForBmpJpgPng) {
    test::ScratchDir dir;
    for (uint32_t type : {uint32_t{ImageFileBmp}, uint32_t{ImageFileJpg}, uint32_t{ImageFilePng}}) {
        SCOPED_TRACE(type);
        // Two sizes: without a conversion the saver's allocations do not
        // depend on the picture.
        unsigned long counts[2] = {};
        for (int k = 0; k < 2; ++k) {
            const uint32_t w = k ? 64 : 4, h = k ? 48 : 3;
            std::vector<uint32_t> pixels = Colours(w, h, 0x11);
            ImageLayer layer;
            Describe(layer, D3DFMT_X8R8G8B8, pixels.data(), w, h, w * 4);
            const std::string file = dir.File("x" + std::to_string(type) + "_" + std::to_string(k));
            ResetAllocationCount();
            ASSERT_EQ(S_OK, ImageSaver::Save(layer, file.c_str(), type, FileA));
            counts[k] = AllocationCount();
            EXPECT_EQ(static_cast<void*>(pixels.data()), layer.bits);
            EXPECT_EQ(0u, layer.ownsBits);
            EXPECT_EQ(uint32_t{D3DFMT_X8R8G8B8}, layer.format);
            EXPECT_EQ(Colours(w, h, 0x11), pixels);
        }
        EXPECT_EQ(counts[0], counts[1]);
    }
}

TEST(SaverConversionTest, FormatsThatNoCandidateHoldsAreRefused) {
    test::ScratchDir dir;
    struct Case {
        uint32_t format, type;
    } cases[] = {
        {D3DFMT_D24S8, ImageFileBmp},  // no candidate of the same kind
        {D3DFMT_V8U8, ImageFileBmp},   // no signed candidate
        {D3DFMT_V8U8, ImageFilePng},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> pixels(4, 0x12345678);
        ImageLayer layer;
        Describe(layer, c.format, pixels.data(), 2, 2, 8);
        const std::string file = dir.File("refused");
        EXPECT_EQ(D3DERR_INVALIDCALL, ImageSaver::Save(layer, file.c_str(), c.type, FileA));
        EXPECT_FALSE(test::FileExists(file));
        EXPECT_EQ(c.format, layer.format);
        EXPECT_EQ(static_cast<void*>(pixels.data()), layer.bits);
    }
}

// Layers of several formats saved into file types that must convert them;
// the file, read by an independent decoder, holds what the source codec
// reads, within one step of the stored format (the saver dithers).
TEST(SaverConversionTest, ConvertedLayersReadBackWithTheCodecsValues) {
    const uint32_t w = 6, h = 4;
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7),
                      0xFF};
    struct Case {
        const char* name;
        uint32_t format;
        uint32_t bytesPerPixel;
        uint32_t type;
        const char* extension;
        float step;  // one code of the stored format
        bool readFile;  // whether the independent reader understands the file
    } cases[] = {
        // Stored as G16R16, a BMP with 16-bit bit fields that the reader
        // does not decode: the converted layer is checked instead.
        {"R16F", D3DFMT_R16F, 2, ImageFileBmp, "bmp", 1.0f / 65535, false},
        {"L16", D3DFMT_L16, 2, ImageFilePng, "png", 1.0f / 65535, true},
        {"P8", D3DFMT_P8, 1, ImageFilePng, "png", 1.0f / 255, true},
        {"A2B10G10R10", D3DFMT_A2B10G10R10, 4, ImageFilePng, "png", 1.0f / 65535, true},
        {"A2B10G10R10 as JPEG", D3DFMT_A2B10G10R10, 4, ImageFileJpg, "jpg", 1.0f / 255, true},
    };
    test::ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes pixels(w * h * c.bytesPerPixel);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 29 + 3);
        if (c.format == D3DFMT_R16F) {
            // Half floats between 0 and 1: exponent 14 or less.
            for (size_t i = 1; i < pixels.size(); i += 2) pixels[i] &= 0x3B;
        }
        ImageLayer layer;
        Describe(layer, c.format, pixels.data(), w, h, w * c.bytesPerPixel);
        layer.palette = c.format == D3DFMT_P8 ? palette : nullptr;
        const std::vector<ColorF> reference = ReadThroughCodec(layer);
        const std::string file = dir.File(std::string("picture.") + c.extension);
        ASSERT_EQ(S_OK, ImageSaver::Save(layer, file.c_str(), c.type, FileA));
        EXPECT_NE(c.format, layer.format);
        EXPECT_EQ(1u, layer.ownsBits);

        // The converted layer holds the source's colours within one code of
        // the stored format (the saver dithers).
        const float tolerance = c.step * 1.01f + 1e-6f;
        const std::vector<ColorF> stored = ReadThroughCodec(layer);
        for (size_t i = 0; i < stored.size(); ++i) {
            EXPECT_NEAR(reference[i].r, stored[i].r, tolerance) << i;
            EXPECT_NEAR(reference[i].g, stored[i].g, tolerance) << i;
            EXPECT_NEAR(reference[i].b, stored[i].b, tolerance) << i;
        }
        if (!c.readFile) continue;
        // And so does the file, as an independent decoder reads it (for the
        // lossy JPEG of a noisy picture only its size is compared).
        test::ReadPixels got;
        std::string error;
        ASSERT_TRUE(test::ReadWithOiio(file, &got, &error)) << error;
        ASSERT_EQ(w, got.width);
        ASSERT_EQ(h, got.height);
        if (c.type == ImageFileJpg) continue;
        const float fileTolerance = tolerance + 1e-5f;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const ColorF& e = stored[y * w + x];
                const float want[3] = {e.r, e.g, e.b};
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_NEAR(want[ch], got.At(x, y, got.channels >= 3 ? ch : 0), fileTolerance)
                        << x << "," << y << " c" << ch;
            }
    }
}

TEST(SaverConversionTest, X8R8G8B8BecomesR8G8B8ForTgaAndFloatsForHdrAndPfm) {
    const uint32_t w = 5, h = 3;
    struct Case {
        uint32_t type;
        const char* extension;
        uint32_t stored;
        float tolerance;
    } cases[] = {
        {ImageFileTga, "tga", D3DFMT_R8G8B8, 1e-3f},
        {ImageFileHdr, "hdr", D3DFMT_A32B32G32R32F, 1.0f / 128},  // RGBE keeps 8 bits of the largest
        {ImageFilePfm, "pfm", D3DFMT_A32B32G32R32F, 1e-5f},
    };
    test::ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        std::vector<uint32_t> pixels = Colours(w, h, 0);
        ImageLayer layer;
        Describe(layer, D3DFMT_X8R8G8B8, pixels.data(), w, h, w * 4);
        const std::string file = dir.File(std::string("x.") + c.extension);
        ASSERT_EQ(S_OK, ImageSaver::Save(layer, file.c_str(), c.type, FileA));
        EXPECT_EQ(c.stored, layer.format);
        test::ReadPixels got;
        std::string error;
        ASSERT_TRUE(test::ReadWithOiio(file, &got, &error)) << error;
        ASSERT_EQ(w, got.width);
        ASSERT_EQ(h, got.height);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t p = pixels[y * w + x];
                const float want[3] = {((p >> 16) & 0xFF) / 255.0f, ((p >> 8) & 0xFF) / 255.0f, (p & 0xFF) / 255.0f};
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_NEAR(want[ch], got.At(x, y, ch), c.tolerance) << x << "," << y << " c" << ch;
            }
    }
}

TEST(SaverConversionTest, CallersLayerKeepsTheConvertedPixelsAfterALaterFailure) {
    std::vector<uint32_t> pixels = Colours(4, 2, 0x80);
    ImageLayer layer;
    Describe(layer, D3DFMT_A8R8G8B8, pixels.data(), 4, 2, 16);
    const char* file = "/nonexistent-directory-for-z3az/picture.jpg";
    EXPECT_EQ(IMAGEERR_CANNOTCREATEFILE, ImageSaver::Save(layer, file, ImageFileJpg, FileA));
    ASSERT_EQ(uint32_t{D3DFMT_X8R8G8B8}, layer.format);
    EXPECT_EQ(1u, layer.ownsBits);
    ASSERT_NE(static_cast<void*>(pixels.data()), layer.bits);
    const uint32_t* converted = static_cast<const uint32_t*>(layer.bits);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(pixels[y * 4 + x] & 0xFFFFFF, converted[y * layer.rowPitch / 4 + x]);
}

TEST(SaverConversionTest, ChainIsConvertedLevelByLevelEachInItsOwnBlock) {
    // Two faces of three levels (4x4, 2x2, 1x1) of A8R8G8B8, saved as PFM:
    // every layer becomes A32B32G32R32F in a block of its own.
    std::vector<std::vector<uint32_t>> memory;
    std::vector<ImageLayer*> layers;
    ImageLayer* first = New<ImageLayer>();
    ASSERT_NE(nullptr, first);
    ImageLayer* face = nullptr;
    for (int f = 0; f < 2; ++f) {
        ImageLayer* level = nullptr;
        for (uint32_t size = 4, l = 0; size >= 1; size /= 2, ++l) {
            memory.push_back(Colours(size, size, 0xFF));
            for (uint32_t& p : memory.back()) p ^= (f * 0x10 + l) * 0x010101;
            ImageLayer* layer = (f == 0 && l == 0) ? first : New<ImageLayer>();
            ASSERT_NE(nullptr, layer);
            Describe(*layer, D3DFMT_A8R8G8B8, memory.back().data(), size, size, size * 4);
            if (l == 0) {
                if (face) face->nextFace = layer;
                face = layer;
            } else {
                level->nextLevel = layer;
            }
            level = layer;
            layers.push_back(layer);
            if (size == 1) break;
        }
    }
    test::ScratchDir dir;
    const std::string file = dir.File("chain.pfm");
    ASSERT_EQ(S_OK, ImageSaver::Save(*first, file.c_str(), ImageFilePfm, FileA));

    std::set<const void*> blocks;
    for (size_t i = 0; i < layers.size(); ++i) {
        SCOPED_TRACE(i);
        const ImageLayer& l = *layers[i];
        EXPECT_EQ(uint32_t{D3DFMT_A32B32G32R32F}, l.format);
        EXPECT_EQ(1u, l.ownsBits);
        EXPECT_EQ(l.width * 16, l.rowPitch);
        EXPECT_TRUE(blocks.insert(l.bits).second);
        const float* f = static_cast<const float*>(l.bits);
        for (uint32_t k = 0; k < l.width * l.height; ++k) {
            const uint32_t p = memory[i][k];
            EXPECT_FLOAT_EQ(((p >> 16) & 0xFF) / 255.0f, f[k * 4 + 0]);
            EXPECT_FLOAT_EQ(((p >> 8) & 0xFF) / 255.0f, f[k * 4 + 1]);
            EXPECT_FLOAT_EQ((p & 0xFF) / 255.0f, f[k * 4 + 2]);
            EXPECT_FLOAT_EQ(1.0f, f[k * 4 + 3]);
        }
    }
    // The blocks do not overlap.
    for (size_t i = 0; i < layers.size(); ++i)
        for (size_t j = 0; j < layers.size(); ++j) {
            if (i == j) continue;
            const uint8_t* a = static_cast<const uint8_t*>(layers[i]->bits);
            const uint8_t* b = static_cast<const uint8_t*>(layers[j]->bits);
            const size_t na = static_cast<size_t>(layers[i]->rowPitch) * layers[i]->height;
            EXPECT_TRUE(b >= a + na || b < a) << i << " " << j;
        }
    Delete(first);  // the chain and its converted blocks go with it
}

}  // namespace
}  // namespace z3az
