// DDS files: the magic, one 124-byte header describing the first layer, the
// palette of palette formats, then the raw rows of every image of the chain
// (each face with all its levels, each level slice by slice) in the layer's
// own format. Row padding and everything outside each box are left out.
#include "formats/dds_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/writers.h"
#include "image/image_layer.h"
#include "image/output_stream.h"
#include "image/pixel_format.h"

namespace z3az {
namespace {

// Pixel format flags.
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr uint32_t DDPF_ALPHA = 0x2;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t DDPF_PALETTEINDEXED8 = 0x20;
constexpr uint32_t DDPF_RGB = 0x40;
constexpr uint32_t DDPF_ZBUFFER = 0x400;
constexpr uint32_t DDPF_LUMINANCE = 0x20000;
constexpr uint32_t DDPF_BUMPLUMINANCE = 0x40000;
constexpr uint32_t DDPF_BUMPDUDV = 0x80000;

// Header flags and caps.
constexpr uint32_t DDSD_CAPS = 0x1;
constexpr uint32_t DDSD_HEIGHT = 0x2;
constexpr uint32_t DDSD_WIDTH = 0x4;
constexpr uint32_t DDSD_PIXELFORMAT = 0x1000;
constexpr uint32_t DDSD_MIPMAPCOUNT = 0x20000;
constexpr uint32_t DDSD_DEPTH = 0x800000;
constexpr uint32_t DDSCAPS_ALPHA = 0x2;
constexpr uint32_t DDSCAPS_COMPLEX = 0x8;
constexpr uint32_t DDSCAPS_PALETTE = 0x100;
constexpr uint32_t DDSCAPS_TEXTURE = 0x1000;
constexpr uint32_t DDSCAPS_MIPMAP = 0x400000;
constexpr uint32_t DDSCAPS2_CUBEMAP_ALLFACES = 0xFE00;
constexpr uint32_t DDSCAPS2_VOLUME = 0x200000;

constexpr uint32_t kMagic = 0x20534444;  // "DDS "
constexpr uint32_t kHeaderSize = 124;

constexpr uint32_t FourCc(const char (&s)[5]) { return MAKEFOURCC(s[0], s[1], s[2], s[3]); }

}  // namespace

const DdsFormatRow DdsFormatTable[] = {
    {D3DFMT_R8G8B8, {32, DDPF_RGB, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0}},
    {D3DFMT_A8R8G8B8, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
    {D3DFMT_X8R8G8B8, {32, DDPF_RGB, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0}},
    {D3DFMT_R5G6B5, {32, DDPF_RGB, 0, 16, 0xF800, 0x7E0, 0x1F, 0}},
    {D3DFMT_X1R5G5B5, {32, DDPF_RGB, 0, 16, 0x7C00, 0x3E0, 0x1F, 0}},
    {D3DFMT_A1R5G5B5, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000}},
    {D3DFMT_A4R4G4B4, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 16, 0xF00, 0xF0, 0xF, 0xF000}},
    {D3DFMT_R3G3B2, {32, DDPF_RGB, 0, 8, 0xE0, 0x1C, 0x3, 0}},
    {D3DFMT_A8, {32, DDPF_ALPHA, 0, 8, 0, 0, 0, 0xFF}},
    {D3DFMT_A8R3G3B2, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 16, 0xE0, 0x1C, 0x3, 0xFF00}},
    {D3DFMT_X4R4G4B4, {32, DDPF_RGB, 0, 16, 0xF00, 0xF0, 0xF, 0}},
    {D3DFMT_A2B10G10R10, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
    {D3DFMT_A8B8G8R8, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000}},
    {D3DFMT_X8B8G8R8, {32, DDPF_RGB, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0}},
    {D3DFMT_G16R16, {32, DDPF_RGB, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0}},
    {D3DFMT_A2R10G10B10, {32, DDPF_ALPHAPIXELS | DDPF_RGB, 0, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}},
    {D3DFMT_A8P8, {32, DDPF_ALPHAPIXELS | DDPF_PALETTEINDEXED8, 0, 16, 0, 0, 0, 0xFF00}},
    {D3DFMT_P8, {32, DDPF_PALETTEINDEXED8, 0, 8, 0, 0, 0, 0}},
    {D3DFMT_L8, {32, DDPF_LUMINANCE, 0, 8, 0xFF, 0, 0, 0}},
    {D3DFMT_A8L8, {32, DDPF_ALPHAPIXELS | DDPF_LUMINANCE, 0, 16, 0xFF, 0, 0, 0xFF00}},
    {D3DFMT_A4L4, {32, DDPF_ALPHAPIXELS | DDPF_LUMINANCE, 0, 8, 0xF, 0, 0, 0xF0}},
    {D3DFMT_L16, {32, DDPF_LUMINANCE, 0, 16, 0xFFFF, 0, 0, 0}},
    {D3DFMT_V8U8, {32, DDPF_BUMPDUDV, 0, 16, 0xFF, 0xFF00, 0, 0}},
    {D3DFMT_L6V5U5, {32, DDPF_BUMPLUMINANCE, 0, 16, 0x1F, 0x3E0, 0xFC00, 0}},
    {D3DFMT_X8L8V8U8, {32, DDPF_BUMPLUMINANCE, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0}},
    {D3DFMT_Q8W8V8U8, {32, DDPF_BUMPDUDV, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000}},
    {D3DFMT_V16U16, {32, DDPF_BUMPDUDV, 0, 32, 0xFFFF, 0xFFFF0000, 0, 0}},
    {D3DFMT_A2W10V10U10, {32, DDPF_ALPHAPIXELS | DDPF_BUMPDUDV, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}},
    {D3DFMT_UYVY, {32, DDPF_FOURCC, FourCc("UYVY"), 0, 0, 0, 0, 0}},
    {D3DFMT_R8G8_B8G8, {32, DDPF_FOURCC, FourCc("RGBG"), 0, 0, 0, 0, 0}},
    {D3DFMT_YUY2, {32, DDPF_FOURCC, FourCc("YUY2"), 0, 0, 0, 0, 0}},
    {D3DFMT_G8R8_G8B8, {32, DDPF_FOURCC, FourCc("GRGB"), 0, 0, 0, 0, 0}},
    {D3DFMT_DXT1, {32, DDPF_FOURCC, FourCc("DXT1"), 0, 0, 0, 0, 0}},
    {D3DFMT_DXT2, {32, DDPF_FOURCC, FourCc("DXT2"), 0, 0, 0, 0, 0}},
    {D3DFMT_DXT3, {32, DDPF_FOURCC, FourCc("DXT3"), 0, 0, 0, 0, 0}},
    {D3DFMT_DXT4, {32, DDPF_FOURCC, FourCc("DXT4"), 0, 0, 0, 0, 0}},
    {D3DFMT_DXT5, {32, DDPF_FOURCC, FourCc("DXT5"), 0, 0, 0, 0, 0}},
    // Z-buffer bit depth, stencil bit depth and Z mask in the places of the
    // bit count and the red and green masks.
    {D3DFMT_D16_LOCKABLE, {32, DDPF_ZBUFFER, 0, 16, 0, 0xFFFF, 0, 0}},
    // The formats without a FOURCC of their own carry their format code.
    {D3DFMT_D32F_LOCKABLE, {32, DDPF_FOURCC, 82, 0, 0, 0, 0, 0}},
    {D3DFMT_A16B16G16R16, {32, DDPF_FOURCC, 36, 0, 0, 0, 0, 0}},
    {D3DFMT_Q16W16V16U16, {32, DDPF_FOURCC, 110, 0, 0, 0, 0, 0}},
    {D3DFMT_R16F, {32, DDPF_FOURCC, 111, 0, 0, 0, 0, 0}},
    {D3DFMT_G16R16F, {32, DDPF_FOURCC, 112, 0, 0, 0, 0, 0}},
    {D3DFMT_A16B16G16R16F, {32, DDPF_FOURCC, 113, 0, 0, 0, 0, 0}},
    {D3DFMT_R32F, {32, DDPF_FOURCC, 114, 0, 0, 0, 0, 0}},
    {D3DFMT_G32R32F, {32, DDPF_FOURCC, 115, 0, 0, 0, 0, 0}},
    {D3DFMT_A32B32G32R32F, {32, DDPF_FOURCC, 116, 0, 0, 0, 0, 0}},
    {D3DFMT_CxV8U8, {32, DDPF_FOURCC, 117, 0, 0, 0, 0, 0}},
    {0, {0, 0, 0, 0, 0, 0, 0, 0}},
};

const DdsFormatRow* FindDdsFormat(uint32_t format) {
    for (const DdsFormatRow* row = DdsFormatTable; row->format != 0; ++row)
        if (row->format == format) return row;
    return nullptr;
}

namespace {

enum class RowKind { Block8, Block16, Pair, Plain };

RowKind RowKindOf(uint32_t format) {
    switch (format) {
        case D3DFMT_DXT1:
            return RowKind::Block8;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return RowKind::Block16;
        case D3DFMT_YUY2:
        case D3DFMT_UYVY:
        case D3DFMT_R8G8_B8G8:
        case D3DFMT_G8R8_G8B8:
            return RowKind::Pair;
        default:
            return RowKind::Plain;
    }
}

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

bool Put(OutputStream& stream, const void* data, uint32_t length) {
    uint32_t written = 0;
    return SUCCEEDED(stream.Write(data, length, &written));
}

// Writes every row of every slice of one level. Offsets are formed in
// 64 bits so that large levels do not wrap.
bool PutLevel(OutputStream& stream, const ImageLayer& level, RowKind kind, uint32_t bpp) {
    uint64_t rowBytes = 0;
    uint32_t rowStep = 1;
    uint64_t left = 0;
    uint32_t topRow = level.box.top;
    switch (kind) {
        case RowKind::Block8:
        case RowKind::Block16: {
            const uint64_t block = kind == RowKind::Block8 ? 8 : 16;
            rowBytes = ((static_cast<uint64_t>(level.width) + 3) / 4) * block;
            left = (level.box.left / 4) * block;
            rowStep = 4;
            break;
        }
        case RowKind::Pair:
            rowBytes = ((static_cast<uint64_t>(level.width) + 1) / 2) * 4;
            left = static_cast<uint64_t>(level.box.left) * bpp;
            break;
        case RowKind::Plain:
            rowBytes = static_cast<uint64_t>(level.width) * bpp;
            left = static_cast<uint64_t>(level.box.left) * bpp;
            break;
    }
    if (rowBytes > UINT32_MAX) return false;
    const uint8_t* bits = static_cast<const uint8_t*>(level.bits);
    for (uint32_t z = 0; z < level.depth; ++z) {
        const uint8_t* slice =
            bits + (static_cast<uint64_t>(level.box.front) + z) * level.slicePitch + left;
        for (uint32_t y = 0; y < level.height; y += rowStep) {
            const uint64_t rowIndex = kind == RowKind::Block8 || kind == RowKind::Block16
                                          ? (static_cast<uint64_t>(topRow) + y) / 4
                                          : static_cast<uint64_t>(topRow) + y;
            if (rowBytes && !Put(stream, slice + rowIndex * level.rowPitch,
                                 static_cast<uint32_t>(rowBytes)))
                return false;
            if (level.height - y <= rowStep) break;  // y + rowStep would pass the end
        }
    }
    return true;
}

}  // namespace

HRESULT WriteDds(const ImageLayer& layer, OutputStream& stream) {
    uint32_t levels = 0;
    for (const ImageLayer* l = &layer; l; l = l->nextLevel) ++levels;

    const DdsFormatRow* row = FindDdsFormat(layer.format);
    if (!row) return E_FAIL;
    const PixelFormatInfo& info = FindPixelFormat(layer.format);
    const uint32_t bpp = info.bitsPerPixel / 8;

    const bool hasLevels = layer.nextLevel != nullptr;
    const bool hasFaces = layer.nextFace != nullptr;
    const bool isVolume = layer.depth > 1;

    uint32_t flags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    if (hasLevels) flags |= DDSD_MIPMAPCOUNT;
    if (isVolume) flags |= DDSD_DEPTH;
    uint32_t caps = DDSCAPS_TEXTURE;
    if (row->pixelFormat.flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) caps |= DDSCAPS_ALPHA;
    if (row->pixelFormat.flags & DDPF_PALETTEINDEXED8) caps |= DDSCAPS_PALETTE;
    if (hasLevels) caps |= DDSCAPS_COMPLEX | DDSCAPS_MIPMAP;
    if (hasFaces) caps |= DDSCAPS_COMPLEX;
    uint32_t caps2 = 0;
    if (hasFaces) caps2 |= DDSCAPS2_CUBEMAP_ALLFACES;
    if (isVolume) caps2 |= DDSCAPS2_VOLUME;

    uint8_t header[4 + kHeaderSize] = {};
    uint8_t* h = header + 4;
    PutLe32(header, kMagic);
    PutLe32(h + 0, kHeaderSize);
    PutLe32(h + 4, flags);
    PutLe32(h + 8, layer.height);
    PutLe32(h + 12, layer.width);
    PutLe32(h + 20, isVolume ? layer.depth : 0);
    PutLe32(h + 24, hasLevels ? levels : 0);
    const DdsPixelFormat& pf = row->pixelFormat;
    const uint32_t pfFields[8] = {pf.size, pf.flags, pf.fourCC, pf.rgbBitCount,
                                  pf.rBitMask, pf.gBitMask, pf.bBitMask, pf.aBitMask};
    for (int i = 0; i < 8; ++i) PutLe32(h + 72 + 4 * i, pfFields[i]);
    PutLe32(h + 104, caps);
    PutLe32(h + 108, caps2);

    if (!Put(stream, header, 4) || !Put(stream, h, kHeaderSize)) return E_FAIL;

    if (info.kind == Palette) {
        // A layer without a palette reads as opaque white everywhere; the
        // file says so rather than reading a palette that is not there.
        PALETTEENTRY white[256];
        std::memset(white, 0xFF, sizeof(white));
        const PALETTEENTRY* palette = layer.palette ? layer.palette : white;
        if (!Put(stream, palette, 256 * sizeof(PALETTEENTRY))) return E_FAIL;
    }

    const RowKind kind = RowKindOf(layer.format);
    for (const ImageLayer* face = &layer; face; face = face->nextFace)
        for (const ImageLayer* level = face; level; level = level->nextLevel)
            if (!PutLevel(stream, *level, kind, bpp)) return E_FAIL;
    return S_OK;
}

}  // namespace z3az
