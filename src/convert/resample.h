// Resampling: the conversion paths that change the size of an image with the
// point, linear and triangle filters, and the tables they are built from.
// The paths themselves (ScalePoint, ScaleLinear2D, ScaleLinear3D,
// ScaleTriangle2D, ScaleTriangle3D) are declared with the other conversion
// paths in convert/conversion.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "z3az/types.h"

namespace z3az {

// Nearest-sample stepping along one axis: destination index i takes source
// index (i * step) >> shift. Extents below 65536 use 16.16 fixed point
// (step = (source << 16) / destination, truncated); larger extents use 32
// fractional bits in 64-bit arithmetic so that every index stays inside the
// source.
struct PointAxis {
    uint64_t step;
    uint32_t shift;
};
PointAxis MakePointAxis(uint32_t sourceCount, uint32_t destinationCount);

// One destination coordinate of a linear filter: the two source samples
// around it and their weights.
struct LinearTap {
    int32_t index0;
    float weight0;
    int32_t index1;
    float weight1;
};

// One tap per destination coordinate; null when memory runs out or a count
// is 0. Free the array with z3az::Free.
LinearTap* BuildLinearTaps(uint32_t sourceCount, uint32_t destinationCount, bool wrap);

// A (destination index, weight) pair of the triangle filter.
struct TrianglePair {
    int32_t index;
    float weight;
};

// The pairs one source sample contributes; `bytes` counts the record's own
// 4 bytes and its pairs, which follow it directly in memory.
struct TriangleRecord {
    uint32_t bytes;

    uint32_t Count() const { return (bytes - sizeof(uint32_t)) / sizeof(TrianglePair); }
    const TrianglePair* Pairs() const {
        return reinterpret_cast<const TrianglePair*>(reinterpret_cast<const uint8_t*>(this) +
                                                     sizeof(uint32_t));
    }
    const TriangleRecord* Next() const {
        return reinterpret_cast<const TriangleRecord*>(reinterpret_cast<const uint8_t*>(this) +
                                                       bytes);
    }
};

// The weights of one axis in one contiguous block: the bytes used (this
// header included), then one record per source index in increasing order.
struct TriangleWeightTable {
    uint32_t bytes;

    const TriangleRecord* First() const {
        return reinterpret_cast<const TriangleRecord*>(reinterpret_cast<const uint8_t*>(this) +
                                                       sizeof(uint32_t));
    }
};

// The integral of every source sample's tent over every destination pixel.
// Null when a count is 0 or memory runs out. Free with z3az::Free.
TriangleWeightTable* BuildTriangleWeights(uint32_t sourceCount, uint32_t destinationCount,
                                          bool wrap);

// Clamps a row of `count` values into the bounds of a value range (nothing
// for RangeFloat). A NaN becomes the upper bound.
void ClampToRange(ColorF* values, size_t count, ValueRange range);

}  // namespace z3az
