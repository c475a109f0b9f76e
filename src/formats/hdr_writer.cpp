// Radiance RGBE pictures: a text header with a local-time stamp, then every
// scanline run-length encoded as four separate planes (red, green, blue,
// exponent). The picture is reduced to RGBE in memory first.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "formats/writers.h"
#include "image/image_layer.h"
#include "image/output_stream.h"
#include "platform/heap.h"
#include "platform/win_time.h"

namespace z3az {
namespace {

constexpr char kHeaderText[] =
    "#?RADIANCE\n#File created by Ruzodivoz (R) Z3AZ library\nFORMAT=32-bit_rle_rgbe\n#Timestamp: ";
constexpr uint32_t kMaxExtent = 32767;
constexpr uint32_t kMaxRun = 127;
constexpr uint32_t kMinEncodedWidth = 8;
constexpr size_t kFloatPixelBytes = 16;

// The largest value an RGBE pixel holds: mantissa 255/256 with exponent 127.
// Larger values (and infinities) saturate there instead of overflowing the
// exponent byte.
constexpr float kLargestRgbe = 0x1.FEp126f;

float Positive(float c) {
    if (!(c > 0.0f)) return 0.0f;  // negative, zero and NaN
    return c > kLargestRgbe ? kLargestRgbe : c;
}

uint8_t Mantissa(float c, float f) {
    const float v = c * f;
    return v >= 255.0f ? 255 : static_cast<uint8_t>(v);
}

class Writer {
public:
    Writer(OutputStream& stream) : stream_(stream) {}

    bool Put(const void* data, uint32_t length) {
        uint32_t written = 0;
        return SUCCEEDED(stream_.Write(data, length, &written));
    }
    bool PutText(const char* text) { return Put(text, static_cast<uint32_t>(std::strlen(text))); }

    // One plane of one scanline (byte x at plane[4 * x]): runs of 2 to 127
    // equal bytes become (128 + count, value); everything else goes in
    // literal groups of up to 127 bytes that stop before the first pair of
    // equal neighbours.
    bool PutPlane(const uint8_t* plane, uint32_t width, uint8_t* literal) {
        auto at = [plane](uint32_t x) { return plane[static_cast<size_t>(x) * 4]; };
        uint32_t x = 0;
        while (x < width) {
            uint32_t count = 1;
            while (count < kMaxRun && x + count < width && at(x + count) == at(x)) ++count;
            if (count >= 2) {
                const uint8_t run[2] = {static_cast<uint8_t>(128 + count), at(x)};
                if (!Put(run, 2)) return false;
                x += count;
                continue;
            }
            uint32_t length = 1;
            literal[0] = at(x);
            while (length < kMaxRun && x + length < width &&
                   at(x + length) != at(x + length - 1)) {
                literal[length] = at(x + length);
                ++length;
            }
            const uint8_t lengthByte = static_cast<uint8_t>(length);
            if (!Put(&lengthByte, 1) || !Put(literal, length)) return false;
            x += length;
        }
        return true;
    }

private:
    OutputStream& stream_;
};

void FloatToRgbe(const float* rgb, uint8_t* rgbe) {
    const float r = Positive(rgb[0]);
    const float g = Positive(rgb[1]);
    const float b = Positive(rgb[2]);
    float m = r > g ? r : g;
    m = m > b ? m : b;
    if (!(m > 1e-32f)) {
        rgbe[0] = rgbe[1] = rgbe[2] = rgbe[3] = 0;
        return;
    }
    int e = 0;
    const float mantissa = static_cast<float>(std::frexp(m, &e));
    const float f = mantissa / m * 256.0f;
    rgbe[0] = Mantissa(r, f);
    rgbe[1] = Mantissa(g, f);
    rgbe[2] = Mantissa(b, f);
    rgbe[3] = static_cast<uint8_t>(e + 128);
}

}  // namespace

HRESULT WriteHdr(const ImageLayer& layer, OutputStream& stream) {
    const uint32_t width = layer.width;
    const uint32_t height = layer.height;
    if (width > kMaxExtent || height > kMaxExtent) return E_FAIL;

    // 32767 x 32767 x 4 still fits 32 bits; the product is formed in size_t.
    const size_t pictureBytes = static_cast<size_t>(width) * height * 4;
    uint8_t* picture = static_cast<uint8_t*>(Allocate(pictureBytes));
    uint8_t* literal = static_cast<uint8_t*>(Allocate(kMaxRun + 1));
    if (!picture || !literal) {
        Free(picture);
        Free(literal);
        return E_OUTOFMEMORY;
    }

    Writer out(stream);
    bool ok = out.PutText(kHeaderText);
    if (ok) {
        SYSTEMTIME now = {};
        GetLocalTime(&now);
        char text[32];
        std::snprintf(text, sizeof(text), "%02u:%02u:%02u", unsigned{now.wHour},
                      unsigned{now.wMinute}, unsigned{now.wSecond});
        ok = out.PutText(text) && out.PutText(" ");
        if (ok) {
            std::snprintf(text, sizeof(text), "%02u/%02u/%02u", unsigned{now.wMonth},
                          unsigned{now.wDay}, unsigned{now.wYear % 100u});
            ok = out.PutText(text) && out.PutText("\n\n");
        }
    }
    if (ok) {
        char resolution[256];
        std::snprintf(resolution, sizeof(resolution), "-Y %u +X %u\n", height, width);
        ok = out.PutText(resolution);
    }

    if (ok) {
        const uint8_t* origin = static_cast<const uint8_t*>(layer.bits) +
                                static_cast<size_t>(layer.box.front) * layer.slicePitch +
                                static_cast<size_t>(layer.box.top) * layer.rowPitch +
                                static_cast<size_t>(layer.box.left) * kFloatPixelBytes;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = origin + static_cast<size_t>(y) * layer.rowPitch;
            uint8_t* dst = picture + static_cast<size_t>(y) * width * 4;
            for (uint32_t x = 0; x < width; ++x) {
                float rgb[3];
                std::memcpy(rgb, row + x * kFloatPixelBytes, sizeof(rgb));
                FloatToRgbe(rgb, dst + static_cast<size_t>(x) * 4);
            }
        }
    }

    // Each scanline: its start marker, then the four planes read with a
    // stride of 4 straight from the RGBE picture. Radiance readers take a
    // scanline narrower than 8 pixels as flat RGBE pixels (the run-length
    // form is defined from 8 to 32767 only), so such scanlines are written
    // flat; encoding them would make every reader see different pixels.
    const bool flat = width > 0 && width < kMinEncodedWidth;
    for (uint32_t y = 0; ok && y < height; ++y) {
        const uint8_t* pixels = picture + static_cast<size_t>(y) * width * 4;
        if (flat) {
            ok = out.Put(pixels, width * 4);
            continue;
        }
        const uint8_t start[4] = {2, 2, static_cast<uint8_t>(width >> 8),
                                  static_cast<uint8_t>(width & 0xFF)};
        ok = out.Put(start, 4);
        for (uint32_t c = 0; ok && c < 4; ++c) ok = out.PutPlane(pixels + c, width, literal);
    }

    Free(picture);
    Free(literal);
    return ok ? S_OK : E_FAIL;
}

}  // namespace z3az
