// Turns a working image into a file (or a block of memory) of one of the
// nine file types: picks the stored format, converts the chain when needed,
// and runs the file type's writer through an output stream.
#pragma once

#include <cstdint>

#include "image/image_layer.h"
#include "z3az/types.h"

namespace z3az {

struct ImageSaver {
    // layer: the first layer of a chain, converted in place when its format
    // is not one the file type stores. destination: an 8-bit name (FileA), a
    // UTF-16 name (FileW) or an IDataBuffer** (Memory) that receives the
    // bytes on success and is set to null otherwise.
    static HRESULT Save(ImageLayer& layer, const void* destination, uint32_t fileFormat, uint32_t target);
};

// The 0-terminated list of formats a file type stores, in order of
// preference; null for PPM and unknown file types.
const uint32_t* CandidateList(uint32_t fileFormat);

// Bytes per row and per slice of a level stored in format, counting rows of
// 4x4 blocks for DXT and pairs of pixels for the two-pixel formats. False
// when a size does not fit in 32 bits.
bool StoredLevelPitches(uint32_t format, uint32_t width, uint32_t height, uint32_t depth, uint32_t* rowPitch,
                        uint32_t* slicePitch, uint32_t* totalBytes);

}  // namespace z3az
