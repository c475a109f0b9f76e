// Windows bitmap files: BITMAPFILEHEADER, a 40-, 52- or 56-byte info header
// (the longer ones carry channel masks), a colour table for the 8-bit
// formats, then the rows bottom-up exactly as they lie in memory, each padded
// to 4 bytes, and two closing zero bytes that round the file to 4 bytes.
#include <cstring>

#include "formats/writers.h"
#include "z3az/d3dformat.h"

namespace z3az {

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kColourTableSize = 256 * 4;
constexpr uint32_t kPelsPerMeter = 2834;  // 72 dots per inch

enum class ColourTable { None, Ramp332, Grey, Palette };

struct BmpLayout {
    uint32_t format;
    uint32_t infoSize;  // 40, 52 or 56
    uint32_t bitCount;
    uint32_t compression;
    uint32_t masks[4];  // red, green, blue, alpha (as many as infoSize holds)
    ColourTable table;
};

const BmpLayout kLayouts[] = {
    // format               size bits compression    red         green       blue        alpha
    {D3DFMT_R8G8B8,         40, 24, BI_RGB,       {0, 0, 0, 0}, ColourTable::None},
    {D3DFMT_A8R8G8B8,       40, 32, BI_RGB,       {0, 0, 0, 0}, ColourTable::None},
    {D3DFMT_X8R8G8B8,       40, 32, BI_RGB,       {0, 0, 0, 0}, ColourTable::None},
    {D3DFMT_X1R5G5B5,       40, 16, BI_RGB,       {0, 0, 0, 0}, ColourTable::None},
    {D3DFMT_R5G6B5,         52, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F, 0}, ColourTable::None},
    {D3DFMT_X4R4G4B4,       52, 16, BI_BITFIELDS, {0x0F00, 0x00F0, 0x000F, 0}, ColourTable::None},
    {D3DFMT_A1R5G5B5,       56, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F, 0x8000}, ColourTable::None},
    {D3DFMT_A4R4G4B4,       56, 16, BI_BITFIELDS, {0x0F00, 0x00F0, 0x000F, 0xF000}, ColourTable::None},
    {D3DFMT_A8R3G3B2,       56, 16, BI_BITFIELDS, {0x00E0, 0x001C, 0x0003, 0xFF00}, ColourTable::None},
    {D3DFMT_A8L8,           56, 16, BI_BITFIELDS, {0x00FF, 0x00FF, 0x00FF, 0xFF00}, ColourTable::None},
    {D3DFMT_L16,            52, 16, BI_BITFIELDS, {0xFFFF, 0xFFFF, 0xFFFF, 0}, ColourTable::None},
    {D3DFMT_X8B8G8R8,       52, 32, BI_BITFIELDS, {0x000000FF, 0x0000FF00, 0x00FF0000, 0}, ColourTable::None},
    {D3DFMT_A8B8G8R8,       56, 32, BI_BITFIELDS, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, ColourTable::None},
    {D3DFMT_A2B10G10R10,    56, 32, BI_BITFIELDS, {0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000}, ColourTable::None},
    {D3DFMT_A2R10G10B10,    56, 32, BI_BITFIELDS, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, ColourTable::None},
    {D3DFMT_G16R16,         52, 32, BI_BITFIELDS, {0x0000FFFF, 0xFFFF0000, 0, 0}, ColourTable::None},
    {D3DFMT_R3G3B2,         40,  8, BI_RGB,       {0, 0, 0, 0}, ColourTable::Ramp332},
    {D3DFMT_L8,             40,  8, BI_RGB,       {0, 0, 0, 0}, ColourTable::Grey},
    {D3DFMT_P8,             40,  8, BI_RGB,       {0, 0, 0, 0}, ColourTable::Palette},
};

// k * 255 / 7 and k * 255 / 3, rounded to nearest.
constexpr uint8_t kRamp3[8] = {0x00, 0x24, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
constexpr uint8_t kRamp2[4] = {0x00, 0x55, 0xAA, 0xFF};

const BmpLayout* FindLayout(uint32_t format) {
    for (const BmpLayout& layout : kLayouts) {
        if (layout.format == format) return &layout;
    }
    return nullptr;
}

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

bool Send(OutputStream& stream, const void* data, uint32_t n) {
    if (n == 0) return true;
    uint32_t written = 0;
    return SUCCEEDED(stream.Write(data, n, &written));
}

}  // namespace

HRESULT WriteBmp(const ImageLayer& layer, OutputStream& stream) {
    const BmpLayout* layout = FindLayout(layer.format);
    if (!layout) return E_FAIL;
    if (layout->table == ColourTable::Palette && !layer.palette) return E_FAIL;

    // Every size in the file is a 32-bit field, and width and height are
    // signed: refuse anything that would not fit rather than wrap around.
    const uint64_t bytesPerPixel = layout->bitCount / 8;
    const uint64_t rowBytes = uint64_t(layer.width) * bytesPerPixel;
    const uint64_t stride = (rowBytes + 3) & ~uint64_t(3);
    const uint64_t tableSize = layout->table == ColourTable::None ? 0 : kColourTableSize;
    const uint64_t headers = kFileHeaderSize + layout->infoSize + tableSize;
    const uint64_t total = headers + uint64_t(layer.height) * stride;
    const uint64_t fileSize = (total + 3) & ~uint64_t(3);
    if (layer.width > 0x7FFFFFFFu || layer.height > 0x7FFFFFFFu || fileSize > 0xFFFFFFFFu) return E_FAIL;
    const uint32_t closing = static_cast<uint32_t>(fileSize - total);

    uint8_t header[kFileHeaderSize + 56] = {};
    uint8_t* file = header;
    Put16(file + 0, 0x4D42);  // "BM"
    Put32(file + 2, static_cast<uint32_t>(fileSize));
    Put32(file + 10, static_cast<uint32_t>(headers));
    uint8_t* info = header + kFileHeaderSize;
    Put32(info + 0, layout->infoSize);
    Put32(info + 4, layer.width);
    Put32(info + 8, layer.height);  // positive: rows stored bottom-up
    Put16(info + 12, 1);
    Put16(info + 14, layout->bitCount);
    Put32(info + 16, layout->compression);
    Put32(info + 20, 0);
    Put32(info + 24, kPelsPerMeter);
    Put32(info + 28, kPelsPerMeter);
    for (uint32_t offset = 40, m = 0; offset < layout->infoSize; offset += 4, ++m) Put32(info + offset, layout->masks[m]);

    if (!Send(stream, file, kFileHeaderSize)) return E_FAIL;
    if (!Send(stream, info, layout->infoSize)) return E_FAIL;

    if (layout->table != ColourTable::None) {
        uint8_t table[kColourTableSize];
        for (uint32_t i = 0; i < 256; ++i) {
            uint8_t* q = table + 4 * i;  // blue, green, red, reserved
            switch (layout->table) {
                case ColourTable::Ramp332:
                    q[0] = kRamp2[i & 3];
                    q[1] = kRamp3[(i >> 2) & 7];
                    q[2] = kRamp3[i >> 5];
                    break;
                case ColourTable::Grey:
                    q[0] = q[1] = q[2] = static_cast<uint8_t>(i);
                    break;
                default:
                    q[0] = layer.palette[i].peBlue;
                    q[1] = layer.palette[i].peGreen;
                    q[2] = layer.palette[i].peRed;
                    break;
            }
            q[3] = 0;
        }
        if (!Send(stream, table, kColourTableSize)) return E_FAIL;
    }

    if (layer.height > 0 && rowBytes > 0) {
        const uint8_t zeros[3] = {0, 0, 0};
        const uint8_t* first = static_cast<const uint8_t*>(layer.bits) + size_t(layer.box.top) * layer.rowPitch +
                               size_t(layer.box.left) * bytesPerPixel;
        for (uint32_t y = layer.height; y-- > 0;) {
            const uint8_t* row = first + size_t(y) * layer.rowPitch;
            if (!Send(stream, row, static_cast<uint32_t>(rowBytes))) return E_FAIL;
            if (!Send(stream, zeros, static_cast<uint32_t>(stride - rowBytes))) return E_FAIL;
        }
    }

    const uint8_t zeros[4] = {0, 0, 0, 0};
    if (!Send(stream, zeros, closing)) return E_FAIL;
    return S_OK;
}

}  // namespace z3az
