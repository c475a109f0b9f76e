// Same-format DXT conversions of equal size copy the compressed blocks row of
// blocks by row of blocks instead of decoding and encoding them again.
#include <cstddef>
#include <cstring>

#include "convert/conversion.h"
#include "convert/pixel_codec.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

uint32_t BlockBytes(uint32_t format) {
    switch (format) {
        case D3DFMT_DXT1: return 8;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5: return 16;
        default: return 0;
    }
}

bool BlockAligned(const ImageBox& b) {
    return ((b.left | b.top | b.right | b.bottom) & 3u) == 0;
}

// The first block of a block codec's box; its bits are the surface origin
// and its box is in surface coordinates.
const uint8_t* FirstBlock(const PixelCodec& c, uint32_t blockBytes) {
    return c.bits + static_cast<size_t>(c.box.top / 4) * c.rowPitch +
           static_cast<size_t>(c.box.front) * c.slicePitch +
           static_cast<size_t>(c.box.left / 4) * blockBytes;
}

}  // namespace

HRESULT CopyBlocks(ConversionJob& job) {
    if (!job.destination || !job.source) return E_FAIL;
    PixelCodec& dst = *job.destination;
    const PixelCodec& src = *job.source;
    const uint32_t blockBytes = BlockBytes(dst.format);
    if (blockBytes == 0 || src.format != dst.format) return E_FAIL;
    if (dst.width != src.width || dst.height != src.height || dst.depth != src.depth)
        return E_FAIL;
    if (!BlockAligned(dst.box) || !BlockAligned(src.box)) return E_FAIL;

    const size_t rowBytes = static_cast<size_t>(dst.width / 4) * blockBytes;
    uint8_t* dstSlice = const_cast<uint8_t*>(FirstBlock(dst, blockBytes));
    const uint8_t* srcSlice = FirstBlock(src, blockBytes);
    for (uint32_t z = 0; z < dst.depth; ++z) {
        uint8_t* d = dstSlice;
        const uint8_t* s = srcSlice;
        for (uint32_t y = 0; y < dst.height; y += 4) {
            std::memmove(d, s, rowBytes);
            d += dst.rowPitch;
            s += src.rowPitch;
        }
        dstSlice += dst.slicePitch;
        srcSlice += src.slicePitch;
    }
    return S_OK;
}

}  // namespace z3az
