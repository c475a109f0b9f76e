// The pixel format catalogue: one row per format the library knows, and the
// rule that picks which of a file type's formats can best hold an image.
#pragma once

#include <cstdint>

#include "z3az/d3dformat.h"
#include "z3az/types.h"

namespace z3az {

// The family of a format. Values are the row and column indices of
// KindCompatibility.
enum FormatKind : uint32_t {
    Rgb = 0,           // colour and alpha, float, packed YUV, DXT, 48-bit RGB
    Palette = 1,       // palette-indexed
    Luminance = 2,     // luminance, and the 16-bit luminance-alpha format
    Signed = 3,        // bump and normal maps
    DepthStencil = 4,  // depth and stencil
};

constexpr uint32_t FormatKindCount = 5;
constexpr uint32_t ChannelSlotCount = 5;

// One row of the catalogue. What the five channel slots stand for depends on
// the kind (Rgb: -, alpha, red, green, blue; Luminance: -, alpha, L, L, L;
// Signed: L/A/C, Q, W, V, U; DepthStencil: lockable, -, -, stencil, depth);
// slots are only ever compared position by position.
struct PixelFormatInfo {
    uint32_t format;        // D3DFORMAT code or FOURCC; 0 in the fallback row
    FormatKind kind;
    uint32_t bitsPerPixel;  // bits of one pixel in memory (16 for DXT)
    uint32_t channelBits[ChannelSlotCount];
};

// Number of catalogued formats (the fallback row is not counted).
constexpr uint32_t PixelFormatCount = 57;

// The catalogue rows, in table order, and the row returned for unknown codes.
extern const PixelFormatInfo PixelFormatCatalogue[PixelFormatCount];
extern const PixelFormatInfo FallbackPixelFormat;

// KindCompatibility[source kind][candidate kind]: 1 when an image of the
// source kind may be stored in a format of the candidate kind.
extern const uint8_t KindCompatibility[FormatKindCount][FormatKindCount];

// Cost value meaning "cannot hold the source".
constexpr uint32_t ImpossibleConversion = 0xFFFFFFFFu;

// The catalogue row of a code, or FallbackPixelFormat when it is not
// catalogued. Never fails.
const PixelFormatInfo& FindPixelFormat(uint32_t format);

// Packed cost of storing the source format as the candidate; smaller is
// better, compared as a number: dropped channels (bits 24-31), lost bits
// (16-23), added channels (8-10), wasted bits (0-7). ImpossibleConversion
// when the kinds are incompatible or every source channel would be dropped.
uint32_t FormatConversionCost(const PixelFormatInfo& source, const PixelFormatInfo& candidate);

// Picks from a 0-terminated list the candidate that best holds the source:
// an exact match wins at once; otherwise the lowest cost, ties going to
// fewer bits per pixel and then to the earlier entry. Palette candidates are
// skipped when palette is null. Returns 0 when nothing qualifies.
uint32_t MatchPixelFormat(const uint32_t* candidates, const PALETTEENTRY* palette,
                          const PixelFormatInfo& source);

}  // namespace z3az
