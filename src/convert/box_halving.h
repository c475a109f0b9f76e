// Box halving: exact 2:1 reductions that average each 2x2 (2x2x2) block.
// The conversion paths HalveBox2D and HalveBox3D are declared with the other
// paths in convert/conversion.h; this header holds the packed fast path.
#pragma once

#include <atomic>
#include <cstdint>

namespace z3az {

class PixelCodec;

// Halves a block of 32-bit pixels: (destination bits, source bits, source
// width, source height, source row pitch, destination row pitch). The bits
// point at the first pixel of each box; the source extents are even.
using HalveRoutine32 = void (*)(uint8_t* destination, const uint8_t* source,
                                uint32_t sourceWidth, uint32_t sourceHeight,
                                uint32_t sourceRowPitch, uint32_t destinationRowPitch);

// The two process-wide routine slots. Each starts out holding its resolver,
// which picks the routines for the processor, fills both slots and runs the
// routine now in its own slot.
extern std::atomic<HalveRoutine32> HalveArgb32;  // A8R8G8B8, A8B8G8R8
extern std::atomic<HalveRoutine32> HalveXrgb32;  // X8R8G8B8, X8B8G8R8

void ResolveHalveArgb32(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                        uint32_t sourceHeight, uint32_t sourceRowPitch,
                        uint32_t destinationRowPitch);
void ResolveHalveXrgb32(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                        uint32_t sourceHeight, uint32_t sourceRowPitch,
                        uint32_t destinationRowPitch);

// The plain routines: all four bytes averaged, respectively the three
// colour bytes averaged and the fourth written as 0.
void HalveFourBytes(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                    uint32_t sourceHeight, uint32_t sourceRowPitch, uint32_t destinationRowPitch);
void HalveThreeBytes(uint8_t* destination, const uint8_t* source, uint32_t sourceWidth,
                     uint32_t sourceHeight, uint32_t sourceRowPitch,
                     uint32_t destinationRowPitch);

// The vector routine, bytes identical to HalveFourBytes; null when this
// build or this processor has none.
HalveRoutine32 SimdHalveRoutine();

// Halves the source codec's (trimmed, even) box into the destination's on
// the packed pixels, when both share a format of the packed table. False
// for any other format; nothing is written then.
bool HalvePacked(PixelCodec& destination, PixelCodec& source);

}  // namespace z3az
