// Allocation failure injection: for a representative save of every file
// type, and for every conversion path, the 1st, 2nd, ... allocation is made
// to fail in turn until the operation no longer reaches the failing one.
// Every run must end with success or a failure code, give back every heap
// byte it took, leave the runtime's reference counts and objects as they
// were, and hand the caller a buffer only on success; a run that succeeds
// must produce the bytes of an undisturbed run.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "heap_probe.h"
#include "image/image_layer.h"
#include "image/pixel_format.h"
#include "platform/heap.h"
#include "save/image_saver.h"
#include "support/file_helpers.h"
#include "z3az/d3d9_runtime.h"
#include "z3az/data_buffer.h"
#include "z3az/z3az.h"

namespace z3az {
namespace {

// Fails the nth allocation of fn's run (0: none) and reports how many
// allocations the run made.
template <class Fn>
unsigned long RunFailingAt(unsigned long n, Fn&& fn) {
    const unsigned long before = AllocationCount();
    FailAllocationAt(n);
    fn();
    FailAllocationAt(0);
    return AllocationCount() - before;
}

bool IsFailureCode(HRESULT hr) { return hr == E_OUTOFMEMORY || hr == E_FAIL; }

// ---------------------------------------------------------------------------
// Saves
// ---------------------------------------------------------------------------

struct SaveCase {
    const char* name;
    uint32_t fileType;
    D3DFORMAT format;
    UINT width, height;
    D3DPOOL pool;
    bool texture;  // a level of a texture (a default-pool one is copied to be read)
    bool palette;
};

const SaveCase kSaves[] = {
    {"bmp_x8r8g8b8", ImageFileBmp, D3DFMT_X8R8G8B8, 13, 7, D3DPOOL_SYSTEMMEM, false, false},
    {"bmp_from_a16b16g16r16f", ImageFileBmp, D3DFMT_A16B16G16R16F, 9, 5, D3DPOOL_SYSTEMMEM, false, false},
    {"dib_p8", ImageFileDib, D3DFMT_P8, 11, 4, D3DPOOL_SYSTEMMEM, false, true},
    {"jpeg_x8r8g8b8", ImageFileJpg, D3DFMT_X8R8G8B8, 17, 9, D3DPOOL_SYSTEMMEM, false, false},
    {"jpeg_from_l8", ImageFileJpg, D3DFMT_L8, 8, 8, D3DPOOL_SYSTEMMEM, false, false},
    {"tga_from_x8r8g8b8", ImageFileTga, D3DFMT_X8R8G8B8, 10, 6, D3DPOOL_SYSTEMMEM, false, false},
    {"png_a8r8g8b8", ImageFilePng, D3DFMT_A8R8G8B8, 12, 5, D3DPOOL_SYSTEMMEM, false, false},
    {"png_from_yuy2", ImageFilePng, D3DFMT_YUY2, 10, 3, D3DPOOL_SYSTEMMEM, false, false},
    {"dds_dxt1", ImageFileDds, D3DFMT_DXT1, 8, 8, D3DPOOL_SYSTEMMEM, false, false},
    {"dds_default_pool_texture", ImageFileDds, D3DFMT_A8R8G8B8, 6, 4, D3DPOOL_DEFAULT, true, false},
    {"hdr_from_x8r8g8b8", ImageFileHdr, D3DFMT_X8R8G8B8, 9, 4, D3DPOOL_SYSTEMMEM, false, false},
    {"pfm_from_r32f", ImageFilePfm, D3DFMT_R32F, 7, 3, D3DPOOL_SYSTEMMEM, false, false},
    {"ppm_refused", ImageFilePpm, D3DFMT_X8R8G8B8, 4, 4, D3DPOOL_SYSTEMMEM, false, false},
};

class SaveAllocationFailure : public ::testing::TestWithParam<SaveCase> {
protected:
    void SetUp() override {
        ResetD3DControls();
        ASSERT_EQ(Z3azCreateDevice(&device_), D3D_OK);
        const SaveCase& c = GetParam();
        if (c.texture) {
            ASSERT_EQ(device_->CreateTexture(c.width, c.height, 1, 0, c.format, c.pool, &texture_, nullptr), D3D_OK);
            ASSERT_EQ(texture_->GetSurfaceLevel(0, &surface_), D3D_OK);
            FillIfLockable();
        } else {
            ASSERT_EQ(device_->CreateOffscreenPlainSurface(c.width, c.height, c.format, c.pool, &surface_, nullptr),
                      D3D_OK);
            D3DLOCKED_RECT locked = {};
            ASSERT_EQ(surface_->LockRect(&locked, nullptr, 0), D3D_OK);
            Pattern(static_cast<uint8_t*>(locked.pBits), locked.Pitch, MemoryRows());
            surface_->UnlockRect();
        }
        for (int i = 0; i < 256; ++i)
            palette_[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), uint8_t(i ^ 0x5A)};
    }
    void TearDown() override {
        if (surface_) surface_->Release();
        if (texture_) texture_->Release();
        if (device_) device_->Release();
        EXPECT_EQ(LiveD3DObjectCount(), 0u);
    }

    // Rows of memory of the case's surface (rows of 4x4 blocks for DXT).
    static UINT MemoryRows() {
        const SaveCase& c = GetParam();
        const bool dxt = c.format == D3DFMT_DXT1 || c.format == D3DFMT_DXT3 || c.format == D3DFMT_DXT5;
        return dxt ? (c.height + 3) / 4 : c.height;
    }

    // Small byte values, so half-float and float patterns stay finite.
    static void Pattern(uint8_t* bits, INT pitch, UINT rows) {
        for (UINT y = 0; y < rows; ++y)
            for (INT x = 0; x < pitch; ++x) bits[y * pitch + x] = uint8_t((x * 7 + y * 29) & 0x3F);
    }

    // A default-pool texture without dynamic usage cannot be locked: it
    // keeps the runtime's first contents, and every save copies it first.
    void FillIfLockable() {
        D3DLOCKED_RECT locked = {};
        if (SUCCEEDED(surface_->LockRect(&locked, nullptr, 0))) {
            Pattern(static_cast<uint8_t*>(locked.pBits), locked.Pitch, MemoryRows());
            surface_->UnlockRect();
        }
    }

    HRESULT Save(uint32_t target, const void* destination) {
        const SaveCase& c = GetParam();
        return SaveSurface(destination, c.fileType, c.palette ? palette_ : nullptr, nullptr, target, surface_);
    }

    IDirect3DDevice9* device_ = nullptr;
    IDirect3DTexture9* texture_ = nullptr;
    IDirect3DSurface9* surface_ = nullptr;
    PALETTEENTRY palette_[256];
};

std::vector<uint8_t> BufferBytes(IDataBuffer* buffer) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer->GetPointer());
    return std::vector<uint8_t>(p, p + buffer->GetSize());
}

// Copies into a vector whose capacity was reserved before the heap was
// probed, so that the copy itself takes nothing from the heap.
void CopyBuffer(IDataBuffer* buffer, std::vector<uint8_t>* out) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer->GetPointer());
    out->assign(p, p + buffer->GetSize());
}

TEST_P(SaveAllocationFailure, MemorySaveFailsCleanlyAtEveryAllocation) {
    const SaveCase& c = GetParam();
    IDataBuffer* buffer = nullptr;
    HRESULT reference = E_FAIL;
    const unsigned long points = RunFailingAt(0, [&] { reference = Save(Memory, &buffer); });
    std::vector<uint8_t> expected;
    if (c.fileType == ImageFilePpm) {
        ASSERT_EQ(reference, D3DERR_INVALIDCALL);
        EXPECT_EQ(buffer, nullptr);
    } else {
        ASSERT_EQ(reference, S_OK);
        ASSERT_NE(buffer, nullptr);
        expected = BufferBytes(buffer);
        buffer->Release();
        ASSERT_GT(points, 0u);
    }
    std::printf("%s to memory: %lu allocations\n", c.name, points);

    const ULONG references = D3DRefCount(surface_);
    const unsigned long objects = LiveD3DObjectCount();
    unsigned long failures = 0;
    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        buffer = reinterpret_cast<IDataBuffer*>(uintptr_t(1));  // must be replaced
        HRESULT hr = S_OK;
        std::vector<uint8_t> got;
        got.reserve(expected.size() + 64);
        const size_t heap = test::LiveHeapBytes();
        const unsigned long made = RunFailingAt(n, [&] { hr = Save(Memory, &buffer); });
        if (SUCCEEDED(hr)) {
            ASSERT_NE(buffer, nullptr);
            ASSERT_NE(buffer, reinterpret_cast<IDataBuffer*>(uintptr_t(1)));
            CopyBuffer(buffer, &got);
            buffer->Release();
        }
        EXPECT_EQ(test::LiveHeapBytes(), heap) << "heap bytes not given back";
        EXPECT_EQ(D3DRefCount(surface_), references);
        EXPECT_EQ(LiveD3DObjectCount(), objects);
        EXPECT_FALSE(IsSurfaceLocked(surface_));
        if (made < n) {  // the failure was not reached: an undisturbed run
            EXPECT_EQ(hr, reference);
            break;
        }
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(got, expected) << "a save that survived the failure wrote other bytes";
        } else {
            ++failures;
            EXPECT_TRUE(IsFailureCode(hr) || (c.fileType == ImageFilePpm && hr == D3DERR_INVALIDCALL))
                << std::hex << hr;
            // Failures before the saver runs (the lock) leave the pointer as
            // it was; later ones clear it. Neither hands over a buffer.
            EXPECT_TRUE(buffer == nullptr || buffer == reinterpret_cast<IDataBuffer*>(uintptr_t(1)))
                << "a failed save left a buffer for the caller";
        }
        ASSERT_LT(n, 100000u);
    }
    if (c.fileType != ImageFilePpm) {
        EXPECT_GT(failures, 0u) << "no injected failure was ever reported";
    }
}

TEST_P(SaveAllocationFailure, FileSaveFailsCleanlyAtEveryAllocation) {
    const SaveCase& c = GetParam();
    test::ScratchDir dir;
    const std::string name = dir.File(std::string(c.name) + ".out");
    HRESULT reference = E_FAIL;
    const unsigned long points = RunFailingAt(0, [&] { reference = Save(FileA, name.c_str()); });
    std::vector<uint8_t> expected;
    if (c.fileType != ImageFilePpm) {
        ASSERT_EQ(reference, S_OK);
        expected = test::ReadFileBytes(name);
        ASSERT_FALSE(expected.empty());
    }
    std::printf("%s to a file: %lu allocations\n", c.name, points);

    const ULONG references = D3DRefCount(surface_);
    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        std::remove(name.c_str());
        HRESULT hr = S_OK;
        const size_t heap = test::LiveHeapBytes();
        const unsigned long made = RunFailingAt(n, [&] { hr = Save(FileA, name.c_str()); });
        EXPECT_EQ(test::LiveHeapBytes(), heap) << "heap bytes not given back";
        EXPECT_EQ(D3DRefCount(surface_), references);
        if (made < n) {
            EXPECT_EQ(hr, reference);
            break;
        }
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(test::ReadFileBytes(name), expected) << "a save reported as done wrote other bytes";
        } else {
            EXPECT_TRUE(IsFailureCode(hr) || (c.fileType == ImageFilePpm && hr == D3DERR_INVALIDCALL))
                << std::hex << hr;
        }
        ASSERT_LT(n, 100000u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFileType, SaveAllocationFailure, ::testing::ValuesIn(kSaves),
                         [](const ::testing::TestParamInfo<SaveCase>& info) { return std::string(info.param.name); });

// A cube map with mip levels in a format DDS does not store (the private
// 48-bit RGB format), saved as DDS through the image saver: every layer of
// the chain is converted, then all of them are written.
bool BuildCubeChain(ImageLayer& first) {
    ImageLayer* face = nullptr;
    for (int f = 0; f < 6; ++f) {
        ImageLayer* level = nullptr;
        for (uint32_t l = 0, size = 8; l < 3; ++l, size /= 2) {
            ImageLayer* layer = f == 0 && l == 0 ? &first : New<ImageLayer>();
            if (!layer) return false;
            if (l == 0 && f > 0) face->nextFace = layer;
            if (l > 0) level->nextLevel = layer;
            if (l == 0) face = layer;
            level = layer;
            const uint32_t bytes = size * size * 6;
            layer->format = PrivateFormatR16G16B16;
            layer->bits = Allocate(bytes);
            if (!layer->bits) return false;
            layer->ownsBits = 1;
            for (uint32_t i = 0; i < bytes; ++i) static_cast<uint8_t*>(layer->bits)[i] = uint8_t(i * 13 + f);
            layer->width = layer->height = size;
            layer->depth = 1;
            layer->box = {0, 0, size, size, 0, 1};
            layer->rowPitch = size * 6;
            layer->slicePitch = size * size * 6;
        }
    }
    return true;
}

TEST(ChainAllocationFailure, ConvertedCubeChainToDds) {
    auto save = [](IDataBuffer** buffer) {
        ImageLayer first;
        if (!BuildCubeChain(first)) return E_OUTOFMEMORY;  // the chain itself is made outside the count
        return ImageSaver::Save(first, buffer, ImageFileDds, Memory);
    };
    IDataBuffer* buffer = nullptr;
    ASSERT_EQ(save(&buffer), S_OK);
    ASSERT_NE(buffer, nullptr);
    const std::vector<uint8_t> expected = BufferBytes(buffer);
    buffer->Release();

    // The chain's own allocations come first; the failures start after them.
    unsigned long chain = 0;
    {
        ImageLayer first;
        chain = RunFailingAt(0, [&] { ASSERT_TRUE(BuildCubeChain(first)); });
    }
    unsigned long points = 0;
    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> got;
        got.reserve(expected.size() + 64);
        const size_t heap = test::LiveHeapBytes();
        ImageLayer* first = New<ImageLayer>();
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(BuildCubeChain(*first));
        buffer = reinterpret_cast<IDataBuffer*>(uintptr_t(1));
        HRESULT hr = S_OK;
        const unsigned long made = RunFailingAt(n, [&] { hr = ImageSaver::Save(*first, &buffer, ImageFileDds, Memory); });
        Delete(first);  // frees the chain and whatever the conversion gave it
        if (SUCCEEDED(hr)) {
            ASSERT_NE(buffer, nullptr);
            CopyBuffer(buffer, &got);
            buffer->Release();
        } else {
            EXPECT_TRUE(IsFailureCode(hr)) << std::hex << hr;
            EXPECT_EQ(buffer, nullptr);
        }
        EXPECT_EQ(test::LiveHeapBytes(), heap) << "heap bytes not given back";
        if (made < n) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(got, expected);
            points = made;
            break;
        }
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(got, expected);
        }
        ASSERT_LT(n, 100000u);
    }
    std::printf("cube chain (6 faces x 3 levels) to DDS: %lu allocations, %lu to build the chain\n", points, chain);
}

// ---------------------------------------------------------------------------
// Conversion paths
// ---------------------------------------------------------------------------

struct Extent {
    uint32_t w, h, d;
};

struct ConvertCase {
    const char* name;
    uint32_t sourceFormat;
    Extent source;
    uint32_t destinationFormat;
    Extent destination;
    uint32_t filter;
    uint32_t colorKey;
};

const ConvertCase kConversions[] = {
    {"copy_raw", D3DFMT_A8R8G8B8, {8, 6, 1}, D3DFMT_A8R8G8B8, {8, 6, 1}, FilterNone, 0},
    {"copy_blocks", D3DFMT_DXT1, {8, 8, 1}, D3DFMT_DXT1, {8, 8, 1}, FilterNone, 0},
    {"same_size_dither", D3DFMT_A8R8G8B8, {8, 6, 1}, D3DFMT_R5G6B5, {8, 6, 1}, FilterNone | FilterDither, 0},
    {"same_size_range_srgb", D3DFMT_V8U8, {7, 5, 1}, D3DFMT_A8R8G8B8, {7, 5, 1}, FilterTriangle | FilterSrgbOut, 0},
    {"same_size_diffuse_palette", D3DFMT_A8R8G8B8, {9, 4, 1}, D3DFMT_P8, {9, 4, 1}, FilterNone | FilterDiffuse, 0},
    {"same_size_color_key", D3DFMT_X8R8G8B8, {6, 6, 1}, D3DFMT_X8R8G8B8, {6, 6, 1}, FilterNone, 0xFF102030u},
    {"same_size_dxt_encode", D3DFMT_A8R8G8B8, {10, 6, 1}, D3DFMT_DXT5, {10, 6, 1}, FilterNone, 0},
    {"same_size_dxt_decode", D3DFMT_DXT3, {8, 8, 1}, D3DFMT_A32B32G32R32F, {8, 8, 1}, FilterNone, 0},
    {"same_size_pairs", D3DFMT_YUY2, {6, 3, 1}, D3DFMT_UYVY, {6, 3, 1}, FilterNone, 0},
    {"crop_or_pad", D3DFMT_A8R8G8B8, {8, 8, 2}, D3DFMT_X1R5G5B5, {5, 10, 3}, FilterNone, 0},
    {"scale_point", D3DFMT_R8G8B8, {8, 8, 1}, D3DFMT_A8R8G8B8, {5, 3, 1}, FilterPoint, 0},
    {"halve_box_2d", D3DFMT_A8R8G8B8, {8, 8, 1}, D3DFMT_A8R8G8B8, {4, 4, 1}, FilterBox, 0},
    {"halve_box_2d_convert", D3DFMT_A16B16G16R16, {8, 6, 1}, D3DFMT_A8L8, {4, 3, 1}, FilterBox, 0},
    {"halve_box_3d", D3DFMT_A8R8G8B8, {8, 8, 4}, D3DFMT_A8R8G8B8, {4, 4, 2}, FilterBox, 0},
    {"scale_linear_2d", D3DFMT_A8R8G8B8, {8, 8, 1}, D3DFMT_R5G6B5, {5, 7, 1}, FilterLinear, 0},
    {"scale_linear_3d", D3DFMT_A8R8G8B8, {8, 8, 3}, D3DFMT_A8R8G8B8, {5, 7, 2}, FilterLinear, 0},
    {"scale_triangle_2d", D3DFMT_L8, {8, 8, 1}, D3DFMT_A8R8G8B8, {5, 7, 1}, FilterTriangle | FilterDither, 0},
    {"scale_triangle_3d", D3DFMT_A8R8G8B8, {4, 4, 3}, D3DFMT_R16F, {3, 3, 2}, FilterTriangle | FilterClampU, 0},
    {"box_not_half", D3DFMT_A8R8G8B8, {8, 8, 1}, D3DFMT_A8R8G8B8, {3, 5, 1}, FilterBox | FilterSrgbIn, 0},
};

bool IsBlock(uint32_t f) { return f == D3DFMT_DXT1 || f == D3DFMT_DXT3 || f == D3DFMT_DXT5; }
bool IsPair(uint32_t f) { return f == D3DFMT_YUY2 || f == D3DFMT_UYVY; }

struct Region {
    std::vector<uint8_t> memory;
    BlitRegion region = {};
    PALETTEENTRY palette[256] = {};

    Region(uint32_t format, Extent e, uint32_t bitsPerPixel) {
        uint32_t row, rows;
        if (IsBlock(format)) {
            row = (e.w + 3) / 4 * (format == D3DFMT_DXT1 ? 8 : 16);
            rows = (e.h + 3) / 4;
        } else if (IsPair(format)) {
            row = (e.w + 1) / 2 * 4;
            rows = e.h;
        } else {
            row = e.w * bitsPerPixel / 8;
            rows = e.h;
        }
        memory.resize(size_t(row) * rows * e.d);
        for (size_t i = 0; i < memory.size(); ++i) memory[i] = uint8_t((i * 37 + 5) & 0x7F);
        for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(i * 5), uint8_t(255 - i), 255};
        region.bits = memory.data();
        region.format = format;
        region.rowPitch = row;
        region.slicePitch = row * rows;
        region.bounds = region.box = {0, 0, e.w, e.h, 0, e.d};
        region.palette = palette;
    }
};

uint32_t BitsPerPixel(uint32_t format) { return FindPixelFormat(format).bitsPerPixel; }

class ConvertAllocationFailure : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertAllocationFailure, FailsCleanlyAtEveryAllocation) {
    const ConvertCase& c = GetParam();
    Region source(c.sourceFormat, c.source, BitsPerPixel(c.sourceFormat));
    source.region.colorKey = c.colorKey;
    Region destination(c.destinationFormat, c.destination, BitsPerPixel(c.destinationFormat));
    const std::vector<uint8_t> sourceBytes = source.memory;

    HRESULT reference = E_FAIL;
    ConversionJob job;
    const unsigned long points =
        RunFailingAt(0, [&] { reference = job.ConvertRegion(destination.region, source.region, c.filter); });
    ASSERT_EQ(reference, S_OK);
    ASSERT_GT(points, 0u);
    std::printf("%s: %lu allocations\n", c.name, points);

    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        HRESULT hr = S_OK;
        const size_t heap = test::LiveHeapBytes();
        const unsigned long made =
            RunFailingAt(n, [&] { hr = job.ConvertRegion(destination.region, source.region, c.filter); });
        EXPECT_EQ(test::LiveHeapBytes(), heap) << "heap bytes not given back";
        EXPECT_EQ(job.source, nullptr);
        EXPECT_EQ(job.destination, nullptr);
        EXPECT_EQ(source.memory, sourceBytes) << "the source was written";
        if (made < n) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        EXPECT_TRUE(hr == S_OK || IsFailureCode(hr)) << std::hex << hr;
        ASSERT_LT(n, 100000u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, ConvertAllocationFailure, ::testing::ValuesIn(kConversions),
                         [](const ::testing::TestParamInfo<ConvertCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace z3az
