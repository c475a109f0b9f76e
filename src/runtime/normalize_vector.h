// Unit-length normalisation of a three-float vector, one routine per
// processor path.
#pragma once

namespace z3az {

// Entry point through the processor dispatch table. destination and source
// hold three floats each and may be the same; returns destination.
float* NormalizeVector3(float* destination, const float* source);

// Sum of squares in extended precision; 0 gives (0, 0, 0), a vector whose
// squared length is within 1e-5 of 1 is copied unchanged, others are scaled
// by ApproxInvSqrt of the squared length.
float* NormalizeVector3Generic(float* destination, const float* source);
// Single-precision sum of squares; from 2^-46 up scaled by the reciprocal
// square root estimate refined by one Newton step, below that (0, 0, 0).
float* NormalizeVector3Sse(float* destination, const float* source);
float* NormalizeVector3Sse2(float* destination, const float* source);
// Single-precision sum of squares; above 2^-126 scaled by the reciprocal
// square root at full single precision, otherwise (0, 0, 0).
float* NormalizeVector3ThreeDNow(float* destination, const float* source);

}  // namespace z3az
