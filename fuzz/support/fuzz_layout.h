// Memory layout of surfaces in any catalogued format, for the fuzz targets:
// bytes per row, rows, and the bytes a conversion may touch for a box.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/pixel_format.h"
#include "z3az/d3dformat.h"

namespace z3az::fuzz {

inline bool IsDxt(uint32_t format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

inline bool IsPair(uint32_t format) {
    return format == D3DFMT_YUY2 || format == D3DFMT_UYVY || format == D3DFMT_R8G8_B8G8 ||
           format == D3DFMT_G8R8_G8B8;
}

inline bool IsPaletted(uint32_t format) { return format == D3DFMT_P8 || format == D3DFMT_A8P8; }

// Bytes of one row of `width` pixels (a row of 4x4 blocks for DXT).
inline size_t RowBytes(uint32_t format, uint32_t width) {
    if (IsDxt(format)) return (size_t(width) + 3) / 4 * (format == D3DFMT_DXT1 ? 8 : 16);
    if (IsPair(format)) return (size_t(width) + 1) / 2 * 4;
    return size_t(width) * (FindPixelFormat(format).bitsPerPixel / 8);
}

// Rows of memory for `height` pixel rows.
inline size_t RowCount(uint32_t format, uint32_t height) {
    return IsDxt(format) ? (size_t(height) + 3) / 4 : height;
}

// The byte columns [begin, end) of a memory row that a conversion writing
// pixels left..right may change: whole blocks for DXT, whole pairs for the
// two-pixel formats, the pixels themselves otherwise.
inline void TouchedColumns(uint32_t format, uint32_t left, uint32_t right, size_t* begin, size_t* end) {
    if (IsDxt(format)) {
        const size_t block = format == D3DFMT_DXT1 ? 8 : 16;
        *begin = left / 4 * block;
        *end = (size_t(right) + 3) / 4 * block;
    } else if (IsPair(format)) {
        *begin = left / 2 * 4;
        *end = (size_t(right) + 1) / 2 * 4;
    } else {
        const size_t bpp = FindPixelFormat(format).bitsPerPixel / 8;
        *begin = left * bpp;
        *end = right * bpp;
    }
}

// The memory rows [begin, end) that pixel rows top..bottom occupy.
inline void TouchedRows(uint32_t format, uint32_t top, uint32_t bottom, size_t* begin, size_t* end) {
    if (IsDxt(format)) {
        *begin = top / 4;
        *end = (size_t(bottom) + 3) / 4;
    } else {
        *begin = top;
        *end = bottom;
    }
}

}  // namespace z3az::fuzz
