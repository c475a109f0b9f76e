#include "image/image_layer.h"

#include "platform/heap.h"

namespace z3az {

// Frees what the layer owns, then the rest of the chain: first the next
// level of this face, then the next face (each with its own links).
ImageLayer::~ImageLayer() {
    if (ownsBits) Free(bits);
    if (ownsPalette) Free(palette);
    bits = nullptr;
    palette = nullptr;
    Delete(nextLevel);
    nextLevel = nullptr;
    Delete(nextFace);
    nextFace = nullptr;
}

}  // namespace z3az
