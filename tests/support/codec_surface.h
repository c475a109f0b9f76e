// A small surface in memory with the BlitRegion that describes it, for
// driving pixel codecs directly through CreatePixelCodec.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/pixel_codec.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"
#include "z3az/types.h"

namespace z3az::test {

struct CodecDeleter {
    void operator()(PixelCodec* codec) const { Delete(codec); }
};
using CodecPtr = std::unique_ptr<PixelCodec, CodecDeleter>;

class CodecSurface {
public:
    // width x height x depth pixels of bytesPerPixel bytes, rows packed, the
    // box covering everything.
    CodecSurface(uint32_t format, uint32_t bytesPerPixel, uint32_t width, uint32_t height = 1,
                 uint32_t depth = 1)
        : bytesPerPixel_(bytesPerPixel),
          bytes(size_t{bytesPerPixel} * width * height * depth, 0) {
        region = BlitRegion{};
        region.bits = bytes.data();
        region.format = format;
        region.rowPitch = bytesPerPixel * width;
        region.slicePitch = region.rowPitch * height;
        region.bounds = ImageBox{0, 0, width, height, 0, depth};
        region.box = region.bounds;
    }

    CodecPtr Codec() const { return CodecPtr(CreatePixelCodec(region)); }

    uint8_t* Pixel(uint32_t x, uint32_t y = 0, uint32_t z = 0) {
        return bytes.data() + size_t{z} * region.slicePitch + size_t{y} * region.rowPitch +
               size_t{x} * bytesPerPixel_;
    }
    // The pixel's bytes as a little-endian number (up to 8 bytes).
    uint64_t Code(uint32_t x, uint32_t y = 0, uint32_t z = 0) {
        uint64_t v = 0;
        std::memcpy(&v, Pixel(x, y, z), bytesPerPixel_ < 8 ? bytesPerPixel_ : 8);
        return v;
    }
    void SetCode(uint32_t x, uint64_t code, uint32_t y = 0, uint32_t z = 0) {
        std::memcpy(Pixel(x, y, z), &code, bytesPerPixel_ < 8 ? bytesPerPixel_ : 8);
    }
    std::vector<uint8_t> Bytes(uint32_t x, uint32_t y = 0, uint32_t z = 0) {
        return std::vector<uint8_t>(Pixel(x, y, z), Pixel(x, y, z) + bytesPerPixel_);
    }

    BlitRegion region;

private:
    uint32_t bytesPerPixel_;

public:
    std::vector<uint8_t> bytes;
};

}  // namespace z3az::test
