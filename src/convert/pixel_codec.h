// The base of every pixel codec: translates between the bytes of one pixel
// format and rows of ColorF. Concrete codecs override the virtual slots.
#pragma once

#include <cstdint>

#include "z3az/types.h"

namespace z3az {

class PixelCodec {
public:
    // Base constructor: the concrete codec passes its bits per pixel (0 for
    // DXT and the two-pixel formats) and its value range.
    PixelCodec(const BlitRegion& region, uint32_t bitsPerPixel, ValueRange range);
    virtual ~PixelCodec();

    PixelCodec(const PixelCodec&) = delete;
    PixelCodec& operator=(const PixelCodec&) = delete;

    // Slot 1: fills width values of the given row of the given slice of the
    // box, in the codec's own value range.
    virtual HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out);
    // Slot 2: stores width values; the input is in convertFrom's range (or the
    // codec's own when convertFrom is 0) and may be overwritten.
    virtual HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in);
    // Slot 3: quantizes keyColor through the format.
    virtual void PrepareColorKey();

    uint32_t format;
    ValueRange valueRange;
    uint32_t byteAddressable;
    uint32_t srgb;
    uint32_t bothSrgb;
    uint32_t colorKey;
    uint32_t paletted;
    uint8_t* bits;
    ColorF keyColor;
    const float* ditherTable;   // 4 rows of 8 thresholds
    ColorF* palette;            // owned, 256 entries, or null
    ImageBox box;
    uint32_t convertFrom;       // ValueRange or 0
    ColorF* scratchRow;         // owned, width entries, or null
    ColorF* errorRow;           // owned, width + 2 entries, or null
    uint32_t rowPitch;
    uint32_t slicePitch;
    uint32_t width;
    uint32_t height;
    uint32_t depth;
    uint32_t rowBytes;
    uint32_t bytesPerPixel;
};

// Creates the codec for a region's format; null for a format without a codec
// or when memory runs out.
PixelCodec* CreatePixelCodec(const BlitRegion& region);

}  // namespace z3az
