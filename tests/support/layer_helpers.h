// Helpers for tests of the writers: working images over test-owned pixels
// and streams whose bytes a test can read.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/data_buffer.h"
#include "image/image_layer.h"
#include "image/output_stream.h"

namespace z3az::test {

// A single-slice layer over pixels the test owns (the layer owns nothing).
inline void PointLayerAt(ImageLayer& layer, uint32_t format, void* bits, uint32_t width, uint32_t height,
                         uint32_t rowPitch, uint32_t left = 0, uint32_t top = 0) {
    layer.format = format;
    layer.bits = bits;
    layer.width = width;
    layer.height = height;
    layer.depth = 1;
    layer.box = {left, top, left + width, top + height, 0, 1};
    layer.rowPitch = rowPitch;
    layer.slicePitch = 0;
}

// The bytes a memory stream holds so far.
inline std::vector<uint8_t> StreamBytes(const OutputStream& stream) {
    if (stream.mode != 2 || !stream.memory) return {};
    const uint8_t* p = static_cast<const uint8_t*>(stream.memory->GetPointer());
    return std::vector<uint8_t>(p, p + stream.committed);
}

// Records the length of every OutputStream::Write call; with failFrom set to
// n, the nth call (1-based) and every later one fail.
struct StreamRecorder {
    std::vector<uint32_t> lengths;
    size_t failFrom = 0;
    void Attach(OutputStream& stream) {
        stream.observer = &Observe;
        stream.observerContext = this;
    }
    static bool Observe(void* context, uint32_t length) {
        auto* self = static_cast<StreamRecorder*>(context);
        self->lengths.push_back(length);
        return self->failFrom == 0 || self->lengths.size() < self->failFrom;
    }
};

inline uint32_t Le16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

}  // namespace z3az::test
