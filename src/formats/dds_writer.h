// The formats a DDS file can hold, with the pixel format record its header
// carries for each.
#pragma once

#include <cstdint>

namespace z3az {

// DDS_PIXELFORMAT as stored in the header, 32 bytes little-endian.
struct DdsPixelFormat {
    uint32_t size;  // always 32
    uint32_t flags;
    uint32_t fourCC;
    uint32_t rgbBitCount;
    uint32_t rBitMask;
    uint32_t gBitMask;
    uint32_t bBitMask;
    uint32_t aBitMask;
};

struct DdsFormatRow {
    uint32_t format;  // D3DFORMAT code; 0 ends the table
    DdsPixelFormat pixelFormat;
};

// 48 rows in the order of the DDS candidate list, then a row of format 0.
extern const DdsFormatRow DdsFormatTable[49];

// The first row for a format, or null when DDS cannot hold it.
const DdsFormatRow* FindDdsFormat(uint32_t format);

}  // namespace z3az
