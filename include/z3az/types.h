// Types shared by every layer of the image library and by its hosts:
// result codes, boxes, colours, the two ends of a pixel conversion and
// the names of file types, output targets and filter-word bits.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Result codes. Negative values are failures.
// ---------------------------------------------------------------------------
#ifndef Z3AZ_HRESULT_DEFINED
#define Z3AZ_HRESULT_DEFINED
typedef int32_t HRESULT;
#endif

#ifndef S_OK
#define S_OK ((HRESULT)0)
#endif
#ifndef S_FALSE
#define S_FALSE ((HRESULT)1)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005u)
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL ((HRESULT)0x80004001u)
#endif
#ifndef E_NOINTERFACE
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#endif
#ifndef E_POINTER
#define E_POINTER ((HRESULT)0x80004003u)
#endif
#ifndef D3DERR_INVALIDCALL
#define D3DERR_INVALIDCALL ((HRESULT)0x8876086Cu)
#endif
#ifndef D3DERR_DEVICELOST
#define D3DERR_DEVICELOST ((HRESULT)0x88760868u)
#endif
#ifndef D3DERR_DEVICENOTRESET
#define D3DERR_DEVICENOTRESET ((HRESULT)0x88760869u)
#endif
#ifndef D3DERR_NOTAVAILABLE
#define D3DERR_NOTAVAILABLE ((HRESULT)0x8876086Au)
#endif
#ifndef D3DERR_OUTOFVIDEOMEMORY
#define D3DERR_OUTOFVIDEOMEMORY ((HRESULT)0x8876017Cu)
#endif
#ifndef D3DERR_WASSTILLDRAWING
#define D3DERR_WASSTILLDRAWING ((HRESULT)0x8876021Cu)
#endif
#ifndef IMAGEERR_CANNOTCREATEFILE
#define IMAGEERR_CANNOTCREATEFILE ((HRESULT)0x88760B59u)
#endif

#ifndef SUCCEEDED
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif

// ---------------------------------------------------------------------------
// Palette entry: red, green, blue and a flags byte that serves as alpha.
// ---------------------------------------------------------------------------
#ifndef Z3AZ_PALETTEENTRY_DEFINED
#define Z3AZ_PALETTEENTRY_DEFINED
struct PALETTEENTRY {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
};
#endif

#ifndef MAKEFOURCC
#define MAKEFOURCC(c0, c1, c2, c3)                                              \
    ((uint32_t)(uint8_t)(c0) | ((uint32_t)(uint8_t)(c1) << 8) |                 \
     ((uint32_t)(uint8_t)(c2) << 16) | ((uint32_t)(uint8_t)(c3) << 24))
#endif

namespace z3az {

// A box of pixels; right, bottom and back are exclusive.
struct ImageBox {
    uint32_t left;
    uint32_t top;
    uint32_t right;
    uint32_t bottom;
    uint32_t front;
    uint32_t back;
};

// Four 32-bit floats: the row currency of every codec and conversion path.
struct ColorF {
    float r;
    float g;
    float b;
    float a;
};

// One end of a pixel conversion.
struct BlitRegion {
    void* bits;              // surface memory; both boxes are measured from here
    uint32_t format;         // D3DFORMAT code or FOURCC
    uint32_t rowPitch;       // bytes between rows (rows of 4x4 blocks for DXT)
    uint32_t slicePitch;     // bytes between slices
    ImageBox bounds;         // extent of the whole surface
    ImageBox box;            // region read or written
    uint32_t dither;         // nonzero: ordered dithering when written
    uint32_t diffuse;        // nonzero: error diffusion when written
    uint32_t srgb;           // nonzero: pixels are sRGB-encoded
    uint32_t colorKey;       // ARGB colour read as transparent black; 0 = none
    PALETTEENTRY* palette;   // 256 entries for P8 and A8P8, or null
};

// File types.
enum ImageFileFormat : uint32_t {
    ImageFileBmp = 0,
    ImageFileJpg = 1,
    ImageFileTga = 2,
    ImageFilePng = 3,
    ImageFileDds = 4,
    ImageFilePpm = 5,
    ImageFileDib = 6,
    ImageFileHdr = 7,
    ImageFilePfm = 8,
};

// Where a save goes.
enum OutputTarget : uint32_t {
    FileA = 0,   // a file named by an 8-bit string
    FileW = 1,   // a file named by a UTF-16 string
    Memory = 2,  // a new DataBuffer receives the bytes
};

// The filter word of a conversion: low 16 bits the kind, bits 16-22 flags.
enum : uint32_t {
    FilterNone = 1,
    FilterPoint = 2,
    FilterLinear = 3,
    FilterTriangle = 4,
    FilterBox = 5,
    FilterClampU = 0x10000,
    FilterClampV = 0x20000,
    FilterClampW = 0x40000,
    FilterDither = 0x80000,
    FilterDiffuse = 0x100000,
    FilterSrgbIn = 0x200000,
    FilterSrgbOut = 0x400000,
};

// Value ranges of codec rows.
enum ValueRange : uint32_t {
    RangeUnsigned = 1,   // r, g, b, a in 0..1
    RangeSignedRgb = 2,  // r, g, b in -1..1, a in 0..1
    RangeSigned = 3,     // all four in -1..1
    RangeFloat = 4,      // unbounded
};

// The two formats that exist only inside the library.
constexpr uint32_t PrivateFormatA16L16 = MAKEFOURCC('A', 'L', '1', '6');
constexpr uint32_t PrivateFormatR16G16B16 = MAKEFOURCC(' ', 'R', '1', '6');

}  // namespace z3az
