// The table-based approximation of 1/sqrt(x) used by the sRGB encoding and
// the portable vector normalisation.
#pragma once

#include <cstdint>

namespace z3az {

// 512 straight-line fits (slope, intercept) of 1/sqrt(x): entries 0 to 255
// cover [0.5, 1) in steps of 1/512, entries 256 to 511 cover [1, 2) in steps
// of 1/256. Each line stays within about 2e-6 relative error.
extern const float InvSqrtTable[512][2];

// Approximates 1/sqrt(x) for positive normal x. The steps are defined for
// every bit pattern: for x = 0 the result is about 1.3e19, so that
// x * ApproxInvSqrt(x) is 0.
float ApproxInvSqrt(float x);

}  // namespace z3az
