// The RGBE reduction of the Radiance writer, a row at a time: a portable
// routine and, where the processor has SSE2, a four-pixel one with the same
// bytes for every input (the tests compare the two).
#pragma once

#include <cstdint>

namespace z3az {

// width pixels of A32B32G32R32F (16 bytes each, alpha ignored) to width
// RGBE pixels of 4 bytes.
using RgbeRowRoutine = void (*)(const uint8_t* floats, uint8_t* rgbe, uint32_t width);

void RgbeRowPortable(const uint8_t* floats, uint8_t* rgbe, uint32_t width);

// The vector routine, or null when this build has none.
RgbeRowRoutine SimdRgbeRow();

}  // namespace z3az
