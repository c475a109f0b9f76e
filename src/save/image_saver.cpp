#include "save/image_saver.h"

#include <clocale>
#include <cstring>

#include "convert/conversion.h"
#include "formats/writers.h"
#include "image/data_buffer.h"
#include "image/output_stream.h"
#include "image/pixel_format.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {

namespace {

const uint32_t kBmpList[] = {
    D3DFMT_P8,          D3DFMT_L8,          D3DFMT_R3G3B2,      D3DFMT_R8G8B8,      D3DFMT_X1R5G5B5,
    D3DFMT_X8R8G8B8,    D3DFMT_A8R8G8B8,    D3DFMT_R5G6B5,      D3DFMT_X4R4G4B4,    D3DFMT_A1R5G5B5,
    D3DFMT_A4R4G4B4,    D3DFMT_L16,         D3DFMT_A8L8,        D3DFMT_A8R3G3B2,    D3DFMT_X8B8G8R8,
    D3DFMT_A8B8G8R8,    D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_G16R16,      0,
};

const uint32_t kJpgList[] = {D3DFMT_X8R8G8B8, 0};

const uint32_t kTgaList[] = {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, 0};

const uint32_t kPngList[] = {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16, 0};

const uint32_t kDdsList[] = {
    D3DFMT_R8G8B8,       D3DFMT_A8R8G8B8,      D3DFMT_X8R8G8B8,     D3DFMT_R5G6B5,      D3DFMT_X1R5G5B5,
    D3DFMT_A1R5G5B5,     D3DFMT_A4R4G4B4,      D3DFMT_R3G3B2,       D3DFMT_A8,          D3DFMT_A8R3G3B2,
    D3DFMT_X4R4G4B4,     D3DFMT_A2B10G10R10,   D3DFMT_A8B8G8R8,     D3DFMT_X8B8G8R8,    D3DFMT_G16R16,
    D3DFMT_A2R10G10B10,  D3DFMT_A8P8,          D3DFMT_P8,           D3DFMT_L8,          D3DFMT_A8L8,
    D3DFMT_A4L4,         D3DFMT_L16,           D3DFMT_V8U8,         D3DFMT_L6V5U5,      D3DFMT_X8L8V8U8,
    D3DFMT_Q8W8V8U8,     D3DFMT_V16U16,        D3DFMT_A2W10V10U10,  D3DFMT_UYVY,        D3DFMT_R8G8_B8G8,
    D3DFMT_YUY2,         D3DFMT_G8R8_G8B8,     D3DFMT_DXT1,         D3DFMT_DXT2,        D3DFMT_DXT3,
    D3DFMT_DXT4,         D3DFMT_DXT5,          D3DFMT_D16_LOCKABLE, D3DFMT_D32F_LOCKABLE, D3DFMT_A16B16G16R16,
    D3DFMT_Q16W16V16U16, D3DFMT_R16F,          D3DFMT_G16R16F,      D3DFMT_A16B16G16R16F, D3DFMT_R32F,
    D3DFMT_G32R32F,      D3DFMT_A32B32G32R32F, D3DFMT_CxV8U8,       0,
};

// HDR and PFM share one list.
const uint32_t kFloatList[] = {D3DFMT_A32B32G32R32F, 0};

typedef HRESULT (*FileWriter)(const ImageLayer& layer, OutputStream& stream);

struct FileType {
    const uint32_t* candidates;  // null: the file type is refused
    FileWriter writer;           // null: no writer for it in this build
};

// Indexed by ImageFileFormat.
const FileType kFileTypes[] = {
    /* 0 BMP */ {kBmpList, WriteBmp},
    /* 1 JPG */ {kJpgList, WriteJpeg},
    /* 2 TGA */ {kTgaList, WriteTga},
    /* 3 PNG */ {kPngList, WritePng},
    /* 4 DDS */ {kDdsList, WriteDds},
    /* 5 PPM */ {nullptr, nullptr},   // never written
    /* 6 DIB */ {kBmpList, WriteBmp},  // the same bytes as BMP
    /* 7 HDR */ {kFloatList, WriteHdr},
    /* 8 PFM */ {kFloatList, WritePfm},
};
constexpr uint32_t kFileTypeCount = sizeof kFileTypes / sizeof kFileTypes[0];

bool IsBlockFormat(uint32_t f) {
    return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}

bool IsPairFormat(uint32_t f) {
    return f == D3DFMT_YUY2 || f == D3DFMT_UYVY || f == D3DFMT_R8G8_B8G8 || f == D3DFMT_G8R8_G8B8;
}

// Converts every layer of the chain, face by face and level by level, into
// newly allocated memory in the chosen format.
HRESULT ConvertChain(ImageLayer& first, uint32_t chosen) {
    ConversionJob job;
    for (ImageLayer* face = &first; face; face = face->nextFace) {
        for (ImageLayer* level = face; level; level = level->nextLevel) {
            uint32_t rowPitch, slicePitch, total;
            if (!StoredLevelPitches(chosen, level->width, level->height, level->depth, &rowPitch, &slicePitch,
                                    &total))
                return E_OUTOFMEMORY;
            void* block = Allocate(total);
            if (!block) return E_OUTOFMEMORY;

            BlitRegion source = {};
            source.bits = level->bits;
            source.format = level->format;
            source.rowPitch = level->rowPitch;
            source.slicePitch = level->slicePitch;
            source.bounds = level->box;
            source.box = level->box;
            source.dither = 1;
            source.palette = level->palette;

            const ImageBox whole = {0, 0, level->width, level->height, 0, level->depth};
            BlitRegion destination = {};
            destination.bits = block;
            destination.format = chosen;
            destination.rowPitch = rowPitch;
            destination.slicePitch = slicePitch;
            destination.bounds = whole;
            destination.box = whole;
            destination.dither = 1;
            destination.palette = level->palette;

            const HRESULT hr = job.ConvertRegion(destination, source, FilterNone | FilterDither);
            if (FAILED(hr)) {
                Free(block);
                return hr;
            }
            if (level->ownsBits) Free(level->bits);
            level->format = chosen;
            level->bits = block;
            level->ownsBits = 1;
            level->box = whole;
            level->rowPitch = rowPitch;
            level->slicePitch = slicePitch;
        }
    }
    return S_OK;
}

// The process's numeric locale is "C" between Enter and Leave, and what it
// was before afterwards. Short names are kept without allocating, so the
// caller's setting is restored in all but the most unusual cases.
struct NumericLocale {
    char inlineName[256];
    char* saved = nullptr;  // inlineName, a heap copy, or null

    void Enter() {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        if (current) {
            const size_t n = std::strlen(current) + 1;
            saved = n <= sizeof inlineName ? inlineName : static_cast<char*>(Allocate(n));
            if (saved) std::memcpy(saved, current, n);
        }
        if (!saved || std::strcmp(saved, "C") != 0) std::setlocale(LC_NUMERIC, "C");
    }

    void Leave() {
        if (!saved) return;
        if (std::strcmp(saved, "C") != 0) std::setlocale(LC_NUMERIC, saved);
        if (saved != inlineName) Free(saved);
        saved = nullptr;
    }
};

}  // namespace

const uint32_t* CandidateList(uint32_t fileFormat) {
    return fileFormat < kFileTypeCount ? kFileTypes[fileFormat].candidates : nullptr;
}

bool StoredLevelPitches(uint32_t format, uint32_t width, uint32_t height, uint32_t depth, uint32_t* rowPitch,
                        uint32_t* slicePitch, uint32_t* totalBytes) {
    uint64_t row, rows;
    if (IsBlockFormat(format)) {
        // Rows of 4x4 blocks: 8 bytes a block for DXT1, 16 for the others.
        row = (uint64_t(width) + 3) / 4 * (format == D3DFMT_DXT1 ? 8 : 16);
        rows = (uint64_t(height) + 3) / 4;
    } else if (IsPairFormat(format)) {
        row = (uint64_t(width) + 1) / 2 * 4;  // 4 bytes per pair of pixels
        rows = height;
    } else {
        row = uint64_t(width) * (FindPixelFormat(format).bitsPerPixel >> 3);
        rows = height;
    }
    if (row > UINT32_MAX) return false;
    const uint64_t slice = row * rows;  // both below 2^32: no overflow in 64 bits
    if (slice > UINT32_MAX) return false;
    const uint64_t total = slice * depth;
    if (total > UINT32_MAX) return false;
    *rowPitch = static_cast<uint32_t>(row);
    *slicePitch = static_cast<uint32_t>(slice);
    *totalBytes = static_cast<uint32_t>(total);
    return true;
}

HRESULT ImageSaver::Save(ImageLayer& layer, const void* destination, uint32_t fileFormat, uint32_t target) {
    IDataBuffer** result = target == Memory ? static_cast<IDataBuffer**>(const_cast<void*>(destination)) : nullptr;
    if (result) *result = nullptr;

    OutputStream stream;
    if (fileFormat >= kFileTypeCount || !kFileTypes[fileFormat].candidates || !kFileTypes[fileFormat].writer)
        return D3DERR_INVALIDCALL;
    const FileType& type = kFileTypes[fileFormat];

    const uint32_t chosen = MatchPixelFormat(type.candidates, layer.palette, FindPixelFormat(layer.format));
    if (chosen == 0) return D3DERR_INVALIDCALL;

    // Conversion comes before the file is opened: a failure here never
    // creates or truncates a file.
    if (chosen != layer.format) {
        const HRESULT hr = ConvertChain(layer, chosen);
        if (FAILED(hr)) return hr;
    }

    if (target == Memory && !destination) return D3DERR_INVALIDCALL;
    HRESULT hr = stream.Open(destination, target);
    if (FAILED(hr)) return hr;

    NumericLocale locale;
    locale.Enter();
    const HRESULT written = type.writer(layer, stream);
    const HRESULT flushed = stream.Flush();
    locale.Leave();
    hr = FAILED(written) ? written : flushed;

    if (SUCCEEDED(hr) && target == Memory) {
        IDataBuffer* buffer = nullptr;
        hr = CreateDataBuffer(stream.committed, &buffer);
        if (SUCCEEDED(hr)) {
            if (stream.committed) std::memcpy(buffer->GetPointer(), stream.memory->GetPointer(), stream.committed);
            *result = buffer;
            hr = S_OK;
        }
    }
    stream.Close();
    return hr;
}

}  // namespace z3az
