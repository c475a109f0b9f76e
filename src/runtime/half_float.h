// Conversions between 32-bit floats and 16-bit half floats (1 sign bit,
// 5 exponent bits with bias 15, 10 mantissa bits, no infinities or NaNs:
// exponent 31 is ordinary and the largest magnitude is 131008).
#pragma once

#include <cstdint>

namespace z3az {

// Entry points; each goes through the processor dispatch table. Source and
// destination need no particular alignment.
uint16_t* Float32ToFloat16Array(uint16_t* destination, const float* source, uint32_t count);
float* Float16ToFloat32Array(float* destination, const uint16_t* source, uint32_t count);

// The routines the dispatch table chooses from.
// Rounds to nearest, ties to even; magnitudes at or above 131008 + half a
// step (infinities and NaNs too) saturate to 0x7FFF with the sign; the bits
// of a value below 2^-14 that lie below 2^-37 are dropped.
uint16_t* Float32ToFloat16Portable(uint16_t* destination, const float* source, uint32_t count);
// Four at a time, with the values below 2^-14 rounded at 2^-37 by a single
// precision addition instead of truncated there; a remainder of fewer than
// four elements goes through the portable routine.
uint16_t* Float32ToFloat16ThreeDNow(uint16_t* destination, const float* source, uint32_t count);

// All of these give the same result for every half value.
float* Float16ToFloat32Portable(float* destination, const uint16_t* source, uint32_t count);
float* Float16ToFloat32Sse(float* destination, const uint16_t* source, uint32_t count);
float* Float16ToFloat32Sse2(float* destination, const uint16_t* source, uint32_t count);
float* Float16ToFloat32ThreeDNow(float* destination, const uint16_t* source, uint32_t count);

}  // namespace z3az
