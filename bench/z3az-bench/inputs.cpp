#include "inputs.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <stb_image.h>

namespace bench {
namespace {

Inputs g_inputs;

bool LoadRgb(const std::string& path, uint32_t wantWidth, uint32_t wantHeight, std::vector<uint8_t>& rgb) {
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &n, 3);
    if (!data) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), stbi_failure_reason());
        return false;
    }
    if (uint32_t(w) != wantWidth || uint32_t(h) != wantHeight) {
        std::fprintf(stderr, "%s is %dx%d, expected %ux%u\n", path.c_str(), w, h, wantWidth, wantHeight);
        stbi_image_free(data);
        return false;
    }
    rgb.assign(data, data + size_t(w) * h * 3);
    stbi_image_free(data);
    return true;
}

}  // namespace

bool LoadInputs(const std::string& dir) {
    Inputs& in = g_inputs;
    in.frameWidth = 1920;
    in.frameHeight = 1080;
    if (!LoadRgb(dir + "/frame_1920x1080.png", in.frameWidth, in.frameHeight, in.frameRgb)) return false;
    const size_t framePixels = size_t(in.frameWidth) * in.frameHeight;
    in.frameRgba.resize(framePixels * 4);
    in.frameXrgb.resize(framePixels);
    in.frameFloat.resize(framePixels * 4);
    for (size_t i = 0; i < framePixels; ++i) {
        const uint8_t r = in.frameRgb[3 * i], g = in.frameRgb[3 * i + 1], b = in.frameRgb[3 * i + 2];
        in.frameRgba[4 * i] = r;
        in.frameRgba[4 * i + 1] = g;
        in.frameRgba[4 * i + 2] = b;
        in.frameRgba[4 * i + 3] = 255;
        in.frameXrgb[i] = 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        in.frameFloat[4 * i] = r / 255.0f;
        in.frameFloat[4 * i + 1] = g / 255.0f;
        in.frameFloat[4 * i + 2] = b / 255.0f;
        in.frameFloat[4 * i + 3] = 1.0f;
    }

    in.textureWidth = 1024;
    in.textureHeight = 1024;
    std::vector<uint8_t> rgb;
    if (!LoadRgb(dir + "/texture_1024.png", in.textureWidth, in.textureHeight, rgb)) return false;
    const size_t texturePixels = size_t(in.textureWidth) * in.textureHeight;
    in.textureRgba.resize(texturePixels * 4);
    in.textureArgb.resize(texturePixels);
    const double cx = in.textureWidth / 2.0, cy = in.textureHeight / 2.0;
    for (uint32_t y = 0; y < in.textureHeight; ++y) {
        for (uint32_t x = 0; x < in.textureWidth; ++x) {
            const size_t i = size_t(y) * in.textureWidth + x;
            const double r = std::hypot(x - cx, y - cy);
            const uint8_t a = static_cast<uint8_t>(std::lround(127.5 + 127.5 * std::sin(2 * M_PI * r / 128)));
            std::memcpy(&in.textureRgba[4 * i], &rgb[3 * i], 3);
            in.textureRgba[4 * i + 3] = a;
            in.textureArgb[i] = uint32_t(a) << 24 | uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 |
                                rgb[3 * i + 2];
        }
    }
    return true;
}

const Inputs& TheInputs() { return g_inputs; }

z3az::BlitRegion Region(void* bits, uint32_t format, uint32_t rowPitch, uint32_t width, uint32_t height) {
    z3az::BlitRegion r = {};
    r.bits = bits;
    r.format = format;
    r.rowPitch = rowPitch;
    r.slicePitch = 0;
    r.bounds = z3az::ImageBox{0, 0, width, height, 0, 1};
    r.box = r.bounds;
    return r;
}

ByteSink::~ByteSink() { std::free(bytes); }

void ByteSink::Append(const void* data, size_t n) {
    if (used + n > capacity) {
        size_t size = capacity ? capacity : 1024;
        while (size < used + n) size *= 2;
        void* grown = std::realloc(bytes, size);
        if (!grown) std::abort();
        bytes = static_cast<uint8_t*>(grown);
        capacity = size;
    }
    std::memcpy(bytes + used, data, n);
    used += n;
}

void AppendToSink(void* context, void* data, int size) {
    static_cast<ByteSink*>(context)->Append(data, size_t(size));
}

void Consume(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

}  // namespace bench
