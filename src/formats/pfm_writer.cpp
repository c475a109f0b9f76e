// Colour Portable Float Map: "PF", the size, the scale -1 (little-endian
// data), then three floats per pixel, rows from the bottom up. Alpha is
// dropped.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "formats/writers.h"
#include "image/image_layer.h"
#include "image/output_stream.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

constexpr size_t kFloatPixelBytes = 16;
constexpr size_t kFilePixelBytes = 12;

bool Put(OutputStream& stream, const void* data, uint32_t length) {
    uint32_t written = 0;
    return SUCCEEDED(stream.Write(data, length, &written));
}

}  // namespace

HRESULT WritePfm(const ImageLayer& layer, OutputStream& stream) {
    const uint32_t width = layer.width;
    const uint32_t height = layer.height;
    // One file row is written at once; it must fit a single 32-bit write.
    const uint64_t rowBytes = static_cast<uint64_t>(width) * kFilePixelBytes;
    if (rowBytes > UINT32_MAX) return E_FAIL;

    uint8_t* row = static_cast<uint8_t*>(AllocateArray(width, kFilePixelBytes));
    if (!row) return E_OUTOFMEMORY;
    if (layer.format != D3DFMT_A32B32G32R32F) {
        Free(row);
        return E_FAIL;
    }

    char header[256];
    const int headerLength = std::snprintf(header, sizeof(header), "%u %u\n-1.000000\n", width, height);
    bool ok = Put(stream, "PF\n", 3) &&
              Put(stream, header, static_cast<uint32_t>(headerLength));

    const uint8_t* origin = static_cast<const uint8_t*>(layer.bits) +
                            static_cast<size_t>(layer.box.front) * layer.slicePitch +
                            static_cast<size_t>(layer.box.top) * layer.rowPitch +
                            static_cast<size_t>(layer.box.left) * kFloatPixelBytes;
    for (uint32_t y = height; ok && y-- > 0;) {
        const uint8_t* source = origin + static_cast<size_t>(y) * layer.rowPitch;
        for (uint32_t x = 0; x < width; ++x)
            std::memcpy(row + x * kFilePixelBytes, source + x * kFloatPixelBytes, kFilePixelBytes);
        if (width) ok = Put(stream, row, static_cast<uint32_t>(rowBytes));
    }

    Free(row);
    return ok ? S_OK : E_FAIL;
}

}  // namespace z3az
