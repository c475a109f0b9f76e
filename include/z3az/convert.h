// Pixel conversion for hosts and tools: moves the box of one surface
// description into the box of another, changing pixel format, size or both.
#pragma once

#include <cstdint>

#include "z3az/types.h"

namespace z3az {

// Converts source.box into destination.box. filter is a filter word: the kind
// (FilterNone, FilterPoint, FilterLinear, FilterTriangle, FilterBox) in the
// low 16 bits, optionally ORed with FilterClampU/V/W, FilterDither,
// FilterDiffuse, FilterSrgbIn and FilterSrgbOut.
//
// The conversion sets destination.dither, destination.diffuse,
// destination.srgb and source.srgb from the filter word; every other field is
// only read. Both boxes must lie inside their bounds. Returns S_OK,
// D3DERR_INVALIDCALL for a bad filter word or box, E_OUTOFMEMORY, or E_FAIL
// when a format has no codec or no conversion path can do the job.
HRESULT ConvertPixels(BlitRegion& destination, BlitRegion& source, uint32_t filter);

}  // namespace z3az
