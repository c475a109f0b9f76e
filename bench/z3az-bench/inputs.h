// The benchmark inputs: the two photographs decoded once, in every layout a
// job or a peer needs, plus small helpers shared by the jobs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "z3az/types.h"

namespace bench {

struct Inputs {
    // The 1920 x 1080 frame.
    uint32_t frameWidth = 0;
    uint32_t frameHeight = 0;
    std::vector<uint8_t> frameRgb;    // R, G, B bytes
    std::vector<uint8_t> frameRgba;   // R, G, B, 255
    std::vector<uint32_t> frameXrgb;  // X8R8G8B8 / A8R8G8B8 with alpha 255
    std::vector<float> frameFloat;    // A32B32G32R32F: r, g, b, a floats (x / 255)

    // The 1024 x 1024 texture with the synthetic radial alpha.
    uint32_t textureWidth = 0;
    uint32_t textureHeight = 0;
    std::vector<uint8_t> textureRgba;   // R, G, B, A bytes
    std::vector<uint32_t> textureArgb;  // A8R8G8B8
};

// Loads both photographs from dir; false (with a message on stderr) when
// one cannot be read or has an unexpected size.
bool LoadInputs(const std::string& dir);
const Inputs& TheInputs();

// A region over memory of one format covering width x height.
z3az::BlitRegion Region(void* bits, uint32_t format, uint32_t rowPitch, uint32_t width, uint32_t height);

// A growing byte sink for the peers, grown by doubling like the library's
// memory stream.
struct ByteSink {
    uint8_t* bytes = nullptr;
    size_t capacity = 0;
    size_t used = 0;
    ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;
    ~ByteSink();
    void Append(const void* data, size_t n);
};
void AppendToSink(void* context, void* data, int size);  // stb write callback

// Keeps a value from being optimised away.
void Consume(const void* p);

}  // namespace bench
