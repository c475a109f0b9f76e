#include "save/image_saver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/writers.h"
#include "image/data_buffer.h"
#include "image/pixel_format.h"
#include "platform/heap.h"
#include "support/file_helpers.h"
#include "support/layer_helpers.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

using test::FileExists;
using test::PointLayerAt;
using test::ReadFileBytes;
using test::ScratchDir;

// An X8R8G8B8 image of width x height with a recognisable pattern.
struct Picture {
    uint32_t width, height;
    std::vector<uint8_t> pixels;
    Picture(uint32_t w, uint32_t h) : width(w), height(h), pixels(size_t(w) * h * 4) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37 + (i >> 8));
    }
    void Into(ImageLayer& layer, uint32_t format = D3DFMT_X8R8G8B8) {
        PointLayerAt(layer, format, pixels.data(), width, height, width * 4);
    }
};

// What WriteBmp makes of a layer, independently of the saver.
std::vector<uint8_t> BmpBytes(const ImageLayer& layer) {
    OutputStream stream;
    EXPECT_EQ(stream.Open(nullptr, Memory), S_OK);
    EXPECT_EQ(WriteBmp(layer, stream), S_OK);
    return test::StreamBytes(stream);
}

TEST(ImageSaver, CandidateListsInOrder) {
    const std::vector<uint32_t> bmp = {
        D3DFMT_P8, D3DFMT_L8, D3DFMT_R3G3B2, D3DFMT_R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8,
        D3DFMT_R5G6B5, D3DFMT_X4R4G4B4, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_L16, D3DFMT_A8L8, D3DFMT_A8R3G3B2,
        D3DFMT_X8B8G8R8, D3DFMT_A8B8G8R8, D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_G16R16};
    auto list = [](uint32_t type) {
        std::vector<uint32_t> v;
        for (const uint32_t* p = CandidateList(type); p && *p; ++p) v.push_back(*p);
        return v;
    };
    EXPECT_EQ(list(ImageFileBmp), bmp);
    EXPECT_EQ(list(ImageFileDib), bmp);
    EXPECT_EQ(list(ImageFileJpg), std::vector<uint32_t>{D3DFMT_X8R8G8B8});
    EXPECT_EQ(list(ImageFileTga), (std::vector<uint32_t>{D3DFMT_R8G8B8, D3DFMT_A8R8G8B8}));
    EXPECT_EQ(list(ImageFilePng), (std::vector<uint32_t>{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16}));
    EXPECT_EQ(list(ImageFileHdr), std::vector<uint32_t>{D3DFMT_A32B32G32R32F});
    EXPECT_EQ(list(ImageFilePfm), std::vector<uint32_t>{D3DFMT_A32B32G32R32F});
    const std::vector<uint32_t> dds = list(ImageFileDds);
    ASSERT_EQ(dds.size(), 48u);
    EXPECT_EQ(dds.front(), D3DFMT_R8G8B8);
    EXPECT_EQ(dds[32], D3DFMT_DXT1);
    EXPECT_EQ(dds[37], D3DFMT_D16_LOCKABLE);
    EXPECT_EQ(dds.back(), D3DFMT_CxV8U8);
    for (uint32_t code : dds) EXPECT_NE(FindPixelFormat(code).format, 0u) << code;
    EXPECT_EQ(CandidateList(ImageFilePpm), nullptr);
    EXPECT_EQ(CandidateList(9), nullptr);
}

TEST(ImageSaver, RefusedTypesAndFormatsCreateNoFile) {
    ScratchDir dir;
    Picture pic(4, 4);
    struct Case {
        const char* name;
        uint32_t format;
        uint32_t fileType;
    } const cases[] = {
        {"ppm", D3DFMT_X8R8G8B8, ImageFilePpm},
        {"nine", D3DFMT_X8R8G8B8, 9},
        {"huge type", D3DFMT_X8R8G8B8, 0xFFFFFFFFu},
        {"depth as bmp", D3DFMT_D24S8, ImageFileBmp},
        {"signed as bmp", D3DFMT_V8U8, ImageFileDib},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File(c.name);
        ImageLayer layer;
        pic.Into(layer, c.format);
        EXPECT_EQ(ImageSaver::Save(layer, path.c_str(), c.fileType, FileA), D3DERR_INVALIDCALL) << c.name;
        EXPECT_FALSE(FileExists(path)) << c.name;
        EXPECT_EQ(layer.format, c.format);  // nothing converted
    }
}

TEST(ImageSaver, BmpAndDibWithoutConversionAreTheSameBytes) {
    ScratchDir dir;
    Picture pic(7, 5);
    ImageLayer layer;
    pic.Into(layer);
    const std::vector<uint8_t> expected = BmpBytes(layer);
    ASSERT_EQ(ImageSaver::Save(layer, dir.File("a.bmp").c_str(), ImageFileBmp, FileA), S_OK);
    ASSERT_EQ(ImageSaver::Save(layer, dir.File("a.dib").c_str(), ImageFileDib, FileA), S_OK);
    EXPECT_EQ(ReadFileBytes(dir.File("a.bmp")), expected);
    EXPECT_EQ(ReadFileBytes(dir.File("a.dib")), expected);
    // Read in place: no copy was made.
    EXPECT_EQ(layer.bits, pic.pixels.data());
    EXPECT_EQ(layer.ownsBits, 0u);
}

TEST(ImageSaver, WideNameSave) {
    ScratchDir dir;
    Picture pic(2, 2);
    ImageLayer layer;
    pic.Into(layer);
    std::u16string name;
    for (char c : dir.path() + "/") name.push_back(char16_t(c));
    name += u"Sch\u00F6n.bmp";
    ASSERT_EQ(ImageSaver::Save(layer, name.c_str(), ImageFileBmp, FileW), S_OK);
    EXPECT_EQ(ReadFileBytes(dir.path() + "/Sch\xC3\xB6n.bmp"), BmpBytes(layer));
}

TEST(ImageSaver, DestinationFailures) {
    ScratchDir dir;
    Picture pic(2, 2);
    ImageLayer layer;
    pic.Into(layer);
    EXPECT_EQ(ImageSaver::Save(layer, nullptr, ImageFileBmp, FileA), D3DERR_INVALIDCALL);
    EXPECT_EQ(ImageSaver::Save(layer, nullptr, ImageFileBmp, FileW), D3DERR_INVALIDCALL);
    EXPECT_EQ(ImageSaver::Save(layer, nullptr, ImageFileBmp, Memory), D3DERR_INVALIDCALL);
    EXPECT_EQ(ImageSaver::Save(layer, dir.File("t3").c_str(), ImageFileBmp, 3), E_FAIL);
    EXPECT_FALSE(FileExists(dir.File("t3")));
    EXPECT_EQ(ImageSaver::Save(layer, dir.File("no/such/dir/x.bmp").c_str(), ImageFileBmp, FileA),
              IMAGEERR_CANNOTCREATEFILE);
}

TEST(ImageSaver, FileOpenElsewhereIsNotTouched) {
    ScratchDir dir;
    const std::string path = dir.File("busy.bmp");
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteFile(other, "keep", 4, nullptr, nullptr));
    Picture pic(2, 2);
    ImageLayer layer;
    pic.Into(layer);
    EXPECT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFileBmp, FileA), IMAGEERR_CANNOTCREATEFILE);
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    CloseHandle(other);
    EXPECT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFileBmp, FileA), S_OK);
    EXPECT_EQ(ReadFileBytes(path), BmpBytes(layer));
}

TEST(ImageSaver, UnwritableDirectoryGivesCannotCreateFile) {
    ScratchDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const std::string path = dir.File("x.bmp");
    Picture pic(2, 2);
    const int status = test::RunUnprivileged([&] {
        ImageLayer layer;
        pic.Into(layer);
        return ImageSaver::Save(layer, path.c_str(), ImageFileBmp, FileA) == IMAGEERR_CANNOTCREATEFILE ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(FileExists(path));
}

TEST(ImageSaver, FullDeviceFailsWithTheWritersFailure) {
    // Large enough that the writer itself meets the refused 64 KiB block.
    Picture pic(128, 128);
    ImageLayer layer;
    pic.Into(layer);
    EXPECT_EQ(ImageSaver::Save(layer, "/dev/full", ImageFileBmp, FileA), E_FAIL);
    // Small: the writer succeeds into the buffer and the flush fails.
    Picture small(2, 2);
    small.Into(layer);
    EXPECT_EQ(ImageSaver::Save(layer, "/dev/full", ImageFileBmp, FileA), E_FAIL);
}

TEST(ImageSaver, PartialFileStaysAfterAWriteFailure) {
    ScratchDir dir;
    Picture pic(128, 300);  // 153656 bytes of BMP
    ImageLayer layer;
    pic.Into(layer);
    const std::vector<uint8_t> whole = BmpBytes(layer);
    const std::string path = dir.File("partial.bmp");
    test::WriteFileRecorder recorder(2);  // the first block goes out, then the file refuses
    EXPECT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFileBmp, FileA), E_FAIL);
    ASSERT_TRUE(FileExists(path));
    EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>(whole.begin(), whole.begin() + 65536));
}

TEST(ImageSaver, WritersOwnFailureIsReturnedAndTheFileStays) {
    // libpng refuses an image of height 0: the writer fails after the file
    // was created, and the file is left, not removed.
    ScratchDir dir;
    Picture pic(4, 1);
    ImageLayer layer;
    pic.Into(layer);
    layer.height = 0;
    layer.box.bottom = 0;
    const std::string path = dir.File("empty.png");
    EXPECT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFilePng, FileA), E_FAIL);
    EXPECT_TRUE(FileExists(path));
    // Into memory: the failure leaves no buffer for the caller.
    IDataBuffer* buffer = reinterpret_cast<IDataBuffer*>(0x1);
    EXPECT_EQ(ImageSaver::Save(layer, &buffer, ImageFilePng, Memory), E_FAIL);
    EXPECT_EQ(buffer, nullptr);
}

TEST(ImageSaver, MemorySaveHandsBackExactlyTheFile) {
    // 12 x 103 pixels of 32 bits: 54 + 103 * 48 + 2 = 5000 bytes.
    Picture pic(12, 103);
    ImageLayer layer;
    pic.Into(layer);
    const std::vector<uint8_t> expected = BmpBytes(layer);
    ASSERT_EQ(expected.size(), 5000u);

    // The writer alone: the work buffer has doubled from 1024 to 8192.
    {
        OutputStream stream;
        ASSERT_EQ(stream.Open(nullptr, Memory), S_OK);
        ASSERT_EQ(WriteBmp(layer, stream), S_OK);
        EXPECT_EQ(stream.memory->GetSize(), 8192u);
    }

    IDataBuffer* buffer = reinterpret_cast<IDataBuffer*>(0x1);
    ResetAllocationCount();
    ASSERT_EQ(ImageSaver::Save(layer, &buffer, ImageFileBmp, Memory), S_OK);
    // Work buffer object and 1024 bytes, growth to 2048, 4096 and 8192, then
    // the caller's buffer and its 5000 bytes.
    EXPECT_EQ(AllocationCount(), 7u);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->GetSize(), 5000u);
    const uint8_t* p = static_cast<const uint8_t*>(buffer->GetPointer());
    EXPECT_EQ(std::vector<uint8_t>(p, p + 5000), expected);
    void* same = nullptr;
    EXPECT_EQ(buffer->QueryInterface(IID_IDataBuffer, &same), S_OK);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);  // the caller held the only reference
}

TEST(ImageSaver, MemorySaveAllocationFailuresLeaveNoBuffer) {
    Picture pic(12, 103);
    ImageLayer layer;
    pic.Into(layer);
    // Allocation n of the seven: the stream's object and block, three
    // growths (the writer turns them into E_FAIL), the final object and block.
    const HRESULT expected[] = {E_OUTOFMEMORY, E_OUTOFMEMORY, E_FAIL, E_FAIL, E_FAIL, E_OUTOFMEMORY, E_OUTOFMEMORY};
    for (unsigned long n = 1; n <= 7; ++n) {
        IDataBuffer* buffer = reinterpret_cast<IDataBuffer*>(0x1);
        FailAllocationAt(n);
        const HRESULT hr = ImageSaver::Save(layer, &buffer, ImageFileBmp, Memory);
        FailAllocationAt(0);
        EXPECT_EQ(hr, expected[n - 1]) << n;
        EXPECT_EQ(buffer, nullptr) << n;
    }
}

TEST(ImageSaver, NumericLocaleIsCWhileWritingAndRestoredAfter) {
    const char* set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    ASSERT_NE(set, nullptr) << "de_DE.UTF-8 missing: run scripts/setup.sh";
    const std::string german = set;  // the returned name is only valid until the next call
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    ASSERT_STREQ(text, "1,5");

    struct Seen {
        std::string locale;
        std::string number;
    } seen;
    // Observe the locale from inside the save: the flush's WriteFile call.
    SetWriteFileHook(
        [](void* context, HANDLE, const void*, DWORD) -> BOOL {
            auto* s = static_cast<Seen*>(context);
            s->locale = std::setlocale(LC_NUMERIC, nullptr);
            char t[32];
            std::snprintf(t, sizeof t, "%.1f", 1.5);
            s->number = t;
            return TRUE;
        },
        &seen);
    ScratchDir dir;
    Picture pic(3, 3);
    ImageLayer layer;
    pic.Into(layer);
    const HRESULT hr = ImageSaver::Save(layer, dir.File("l.bmp").c_str(), ImageFileBmp, FileA);
    SetWriteFileHook(nullptr, nullptr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(seen.locale, "C");
    EXPECT_EQ(seen.number, "1.5");
    EXPECT_EQ(std::string(std::setlocale(LC_NUMERIC, nullptr)), german);
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    EXPECT_STREQ(text, "1,5");
    // A failed save restores it too.
    EXPECT_EQ(ImageSaver::Save(layer, "/dev/full", ImageFileBmp, FileA), E_FAIL);
    EXPECT_EQ(std::string(std::setlocale(LC_NUMERIC, nullptr)), german);
    std::setlocale(LC_NUMERIC, "C");
}

struct PitchCase {
    uint32_t format, width, height, depth;
    bool fits;
    uint32_t row, slice, total;
};

TEST(ImageSaver, StoredLevelPitches) {
    const PitchCase cases[] = {
        {D3DFMT_X8R8G8B8, 3, 2, 2, true, 12, 24, 48},
        {D3DFMT_R8G8B8, 5, 1, 1, true, 15, 15, 15},
        {D3DFMT_DXT1, 5, 5, 1, true, 16, 32, 32},   // 2 x 2 blocks of 8 bytes
        {D3DFMT_DXT3, 5, 5, 1, true, 32, 64, 64},   // 2 x 2 blocks of 16 bytes
        {D3DFMT_DXT5, 4, 1, 3, true, 16, 16, 48},
        {D3DFMT_DXT2, 0, 0, 1, true, 0, 0, 0},
        {D3DFMT_YUY2, 5, 3, 1, true, 12, 36, 36},   // 3 pairs of 4 bytes
        {D3DFMT_UYVY, 4, 1, 1, true, 8, 8, 8},
        {D3DFMT_R8G8_B8G8, 1, 2, 1, true, 4, 8, 8},
        {D3DFMT_G8R8_G8B8, 7, 1, 1, true, 16, 16, 16},
        {D3DFMT_A32B32G32R32F, 0x10000000u, 1, 1, false, 0, 0, 0},  // 2^32 bytes a row
        {D3DFMT_X8R8G8B8, 0x10000, 0x10000, 1, false, 0, 0, 0},
        {D3DFMT_X8R8G8B8, 0x8000, 0x8000, 4, false, 0, 0, 0},
        {D3DFMT_DXT1, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, false, 0, 0, 0},
        {D3DFMT_YUY2, 0xFFFFFFFFu, 1, 1, false, 0, 0, 0},  // 2^31 pairs of 4 bytes
        {D3DFMT_X8R8G8B8, 0x4000, 0x4000, 3, true, 0x10000, 0x40000000u, 0xC0000000u},
        {D3DFMT_X8R8G8B8, 0x4000, 0x4000, 4, false, 0, 0, 0},
    };
    for (const PitchCase& c : cases) {
        uint32_t row = 1, slice = 1, total = 1;
        const bool fits = StoredLevelPitches(c.format, c.width, c.height, c.depth, &row, &slice, &total);
        EXPECT_EQ(fits, c.fits) << c.format << " " << c.width << "x" << c.height << "x" << c.depth;
        if (fits && c.fits) {
            EXPECT_EQ(row, c.row);
            EXPECT_EQ(slice, c.slice);
            EXPECT_EQ(total, c.total);
        }
    }
}

TEST(ImageSaver, OversizedConversionIsRefusedBeforeAllocating) {
    ScratchDir dir;
    uint8_t dummy[16] = {};
    ImageLayer layer;
    // 65536 x 65536 of 64-bit pixels would need 16 GiB as A8R8G8B8.
    PointLayerAt(layer, D3DFMT_A16B16G16R16, dummy, 0x10000, 0x10000, 0x80000);
    ResetAllocationCount();
    EXPECT_EQ(ImageSaver::Save(layer, dir.File("big.bmp").c_str(), ImageFileBmp, FileA), E_OUTOFMEMORY);
    EXPECT_EQ(AllocationCount(), 0u);
    EXPECT_FALSE(FileExists(dir.File("big.bmp")));
    EXPECT_EQ(layer.bits, dummy);
}

// A 64-bit A16B16G16R16 pixel from 16-bit channels.
void Put64(uint8_t* p, uint16_t r, uint16_t g, uint16_t b, uint16_t a) {
    const uint16_t c[4] = {r, g, b, a};
    std::memcpy(p, c, 8);
}

TEST(ImageSaver, ConvertsEveryLayerOfTheChain) {
    ScratchDir dir;
    // Face 0: 4x2 (its box one pixel into rows of 5) and its 2x1 level;
    // face 1: 4x2. Extreme values only, so dithering cannot change the
    // expected 8-bit results.
    std::vector<uint8_t> big0(2 * 40), small0(2 * 8), big1(4 * 2 * 8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) Put64(big0.data() + y * 40 + (1 + x) * 8, 0xFFFF, 0, (x & 1) ? 0xFFFF : 0, 0xFFFF);
    for (int i = 0; i < 8; ++i) Put64(big1.data() + i * 8, 0, 0xFFFF, 0, 0);
    Put64(small0.data(), 0, 0, 0xFFFF, 0xFFFF);
    Put64(small0.data() + 8, 0xFFFF, 0xFFFF, 0xFFFF, 0);

    ImageLayer* layer = New<ImageLayer>();
    PointLayerAt(*layer, D3DFMT_A16B16G16R16, big0.data(), 4, 2, 40, 1, 0);
    layer->nextLevel = New<ImageLayer>();
    PointLayerAt(*layer->nextLevel, D3DFMT_A16B16G16R16, small0.data(), 2, 1, 16);
    layer->nextFace = New<ImageLayer>();
    PointLayerAt(*layer->nextFace, D3DFMT_A16B16G16R16, big1.data(), 4, 2, 32);

    const HRESULT hr = ImageSaver::Save(*layer, dir.File("c.bmp").c_str(), ImageFileBmp, FileA);
    ASSERT_EQ(hr, S_OK);
    for (ImageLayer* l : {layer, layer->nextLevel, layer->nextFace}) {
        EXPECT_EQ(l->format, D3DFMT_A8R8G8B8);
        EXPECT_EQ(l->ownsBits, 1u);
        EXPECT_EQ(l->rowPitch, l->width * 4);
        EXPECT_EQ(l->slicePitch, l->width * l->height * 4);
        EXPECT_EQ(l->box.left, 0u);
        EXPECT_EQ(l->box.right, l->width);
        EXPECT_EQ(l->box.back, 1u);
    }
    const uint32_t* p0 = static_cast<const uint32_t*>(layer->bits);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p0[i], (i & 1) ? 0xFFFF00FFu : 0xFFFF0000u) << i;
    const uint32_t* p1 = static_cast<const uint32_t*>(layer->nextLevel->bits);
    EXPECT_EQ(p1[0], 0xFF0000FFu);
    EXPECT_EQ(p1[1], 0x00FFFFFFu);
    const uint32_t* p2 = static_cast<const uint32_t*>(layer->nextFace->bits);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p2[i], 0x0000FF00u) << i;
    // The file is the converted first layer.
    EXPECT_EQ(ReadFileBytes(dir.File("c.bmp")), BmpBytes(*layer));
    Delete(layer);  // frees the converted blocks
}

TEST(ImageSaver, EveryAllocationFailureOfAConvertingSaveIsReported) {
    ScratchDir dir;
    std::vector<uint8_t> a(4 * 4 * 8, 0x80), b(2 * 2 * 8, 0x40);
    const std::string path = dir.File("a.bmp");
    auto makeChain = [&](ImageLayer& layer) {
        PointLayerAt(layer, D3DFMT_A16B16G16R16, a.data(), 4, 4, 32);
        layer.nextLevel = New<ImageLayer>();
        PointLayerAt(*layer.nextLevel, D3DFMT_A16B16G16R16, b.data(), 2, 2, 16);
    };
    unsigned long total = 0;
    {
        ImageLayer layer;
        makeChain(layer);
        ResetAllocationCount();
        ASSERT_EQ(ImageSaver::Save(layer, path.c_str(), ImageFileBmp, FileA), S_OK);
        total = AllocationCount();
    }
    bool sawFirstLevelOnly = false;
    for (unsigned long n = 1; n <= total; ++n) {
        SCOPED_TRACE(n);
        std::remove(path.c_str());
        ImageLayer layer;
        makeChain(layer);
        FailAllocationAt(n);
        const HRESULT hr = ImageSaver::Save(layer, path.c_str(), ImageFileBmp, FileA);
        FailAllocationAt(0);
        if (SUCCEEDED(hr)) {  // a failure the engine could work around
            EXPECT_EQ(layer.nextLevel->format, D3DFMT_A8R8G8B8);
            continue;
        }
        const bool first = layer.format == D3DFMT_A8R8G8B8;
        const bool second = layer.nextLevel->format == D3DFMT_A8R8G8B8;
        EXPECT_TRUE(first || !second);  // levels convert in order
        if (!second) {
            EXPECT_FALSE(FileExists(path));  // failed while converting: no file
            EXPECT_EQ(layer.nextLevel->bits, b.data());
        }
        if (first && !second) {
            sawFirstLevelOnly = true;
            EXPECT_EQ(layer.ownsBits, 1u);  // the converted level keeps its pixels
        }
    }
    EXPECT_TRUE(sawFirstLevelOnly);
}

TEST(ImageSaver, ConversionEngineFailureIsReturnedAndCreatesNoFile) {
    ScratchDir dir;
    // An uncatalogued format scores like A8R8G8B8 but has no codec.
    uint8_t px[16] = {};
    ImageLayer unknown;
    PointLayerAt(unknown, 37, px, 2, 2, 8);
    const HRESULT hr = ImageSaver::Save(unknown, dir.File("u.bmp").c_str(), ImageFileBmp, FileA);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(FileExists(dir.File("u.bmp")));
    EXPECT_EQ(unknown.format, 37u);
    EXPECT_EQ(unknown.bits, px);
    EXPECT_EQ(unknown.ownsBits, 0u);
}

}  // namespace
}  // namespace z3az
