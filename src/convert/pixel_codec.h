// The base of every pixel codec: translates between the bytes of one pixel
// format and rows of ColorF. Concrete codecs override the virtual slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "z3az/types.h"

namespace z3az {

// Dither thresholds: 4 rows of 8, each row holding its four values twice so
// that a column offset of up to 3 plus a position of up to 3 stays inside.
extern const float PlainThresholds[32];    // 0.5 everywhere: plain rounding
extern const float OrderedThresholds[32];  // the 4x4 ordered matrix, (2m + 1) / 32

// Entry i (0 to 254) is (i / 254) to the power 1 / 1.1, respectively 1.1;
// entry 255 is 1 and only serves the interpolation at 254. The tables are
// indexed by the square root, respectively the square, of the value, which
// gives the power curve with exponent 2.2.
extern const float SrgbEncodeTable[256];
extern const float SrgbDecodeTable[256];

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
    // Slot 3: quantizes keyColor through the format, so that it equals what
    // ReadRow gives for a pixel stored with the key's colour.
    virtual void PrepareColorKey();

    // The steps shared by the concrete codecs; each covers width pixels.
    // From convertFrom's range into the codec's own; returns the row to go on
    // with (scratchRow, or the row itself when there is no scratch row).
    ColorF* ConvertRange(ColorF* row);
    // sRGB-encodes the colour channels (the alpha channel for the signed
    // ranges); returns the row to go on with, like ConvertRange.
    ColorF* EncodeSrgb(ColorF* row);
    // sRGB-decodes in place.
    void DecodeSrgb(ColorF* row);
    // Pixels exactly equal to keyColor become transparent black.
    void ApplyColorKey(ColorF* row);
    // Adds the errors pushed down from the row before, then clears them.
    void AddDiffusedError(ColorF* row);
    // Fills palette from the region's entries (opaque white without any).
    HRESULT ExpandPalette(const BlitRegion& region);

    // First byte of the given row of the given slice of the box.
    uint8_t* RowBits(uint32_t row, uint32_t slice) const {
        return bits + static_cast<size_t>(slice) * slicePitch + static_cast<size_t>(row) * rowPitch;
    }

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

// One pixel from range `from` into range `own` (the table of ConvertRange).
ColorF ConvertPixelRange(const ColorF& pixel, ValueRange own, ValueRange from);

// Creates the codec for a region's format; null for a format without a codec
// or when memory runs out. Destroy it with Delete (platform/heap.h).
PixelCodec* CreatePixelCodec(const BlitRegion& region);

}  // namespace z3az
