// The conversion engine: moves a box of pixels from one surface description
// into another, changing format, size or both.
#pragma once

#include <cstdint>

#include "z3az/types.h"

namespace z3az {

class PixelCodec;

struct ConversionJob {
    PixelCodec* source = nullptr;       // owned while a conversion runs
    PixelCodec* destination = nullptr;  // owned while a conversion runs
    uint32_t filter = 0;

    ConversionJob() = default;
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;
    ~ConversionJob();

    // Converts source's box into destination's box with the filter word.
    // Overwrites destination.dither, .diffuse, .srgb and source.srgb.
    HRESULT ConvertRegion(BlitRegion& destination, BlitRegion& source, uint32_t filter);
};

// The conversion paths; a negative result hands the job to the next path.
HRESULT PrepareConversion(PixelCodec* destination, PixelCodec* source);
HRESULT CopyRaw(ConversionJob& job);
HRESULT CopyBlocks(ConversionJob& job);
HRESULT ConvertSameSize(ConversionJob& job);
HRESULT CropOrPad(ConversionJob& job);
HRESULT ScalePoint(ConversionJob& job);
HRESULT HalveBox2D(ConversionJob& job);
HRESULT HalveBox3D(ConversionJob& job);
HRESULT ScaleLinear2D(ConversionJob& job);
HRESULT ScaleLinear3D(ConversionJob& job);
HRESULT ScaleTriangle2D(ConversionJob& job);
HRESULT ScaleTriangle3D(ConversionJob& job);

}  // namespace z3az
