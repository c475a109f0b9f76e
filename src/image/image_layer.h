// Memory the layer owns (bits, palette) comes from z3az::Allocate and goes
// back through z3az::Free (platform/heap.h).
//
// The working image: one mip level of one face, with owned links to the
// next level of the same face and to the first level of the next face.
#pragma once

#include <cstdint>

#include "z3az/types.h"

namespace z3az {

struct ImageLayer {
    uint32_t format = 0;            // D3DFORMAT code or FOURCC
    void* bits = nullptr;           // pixel memory; box is measured from here
    PALETTEENTRY* palette = nullptr;  // 256 entries, or null
    uint32_t width = 0;             // box.right - box.left
    uint32_t height = 0;            // box.bottom - box.top
    uint32_t depth = 0;             // box.back - box.front
    ImageBox box = {};              // where the image lies in the memory at bits
    uint32_t rowPitch = 0;          // bytes between rows (rows of 4x4 blocks for DXT)
    uint32_t slicePitch = 0;        // bytes between slices; 0 for a surface
    uint32_t ownsBits = 0;          // free bits when destroyed or given new pixels
    uint32_t ownsPalette = 0;       // free palette likewise
    ImageLayer* nextLevel = nullptr;  // owned: next smaller level of this face
    ImageLayer* nextFace = nullptr;   // owned: first level of the next face

    ImageLayer() = default;
    ImageLayer(const ImageLayer&) = delete;
    ImageLayer& operator=(const ImageLayer&) = delete;
    ~ImageLayer();

    // Fills format, bits, palette, box, sizes and pitches from a locked
    // region without copying pixels; the layer owns nothing afterwards.
    void AdoptRegion(const BlitRegion& region);
};

}  // namespace z3az
