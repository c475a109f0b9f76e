// Uncompressed true-colour TGA: an 18-byte header, a 13-character image ID
// and the pixel rows top to bottom, copied unchanged from the layer (R8G8B8
// and A8R8G8B8 already hold blue, green, red, alpha in file order).
#include <cstddef>
#include <cstdint>

#include "formats/writers.h"
#include "image/image_layer.h"
#include "image/output_stream.h"
#include "z3az/d3dformat.h"

namespace z3az {
namespace {

constexpr char kImageId[] = "Saved by Z3AZ";
constexpr uint32_t kImageIdLength = sizeof(kImageId) - 1;
constexpr uint32_t kMaxExtent = 0xFFFF;  // the header holds 16-bit sizes

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

}  // namespace

HRESULT WriteTga(const ImageLayer& layer, OutputStream& stream) {
    // Sizes that do not fit the header's 16-bit fields would be written as
    // a different picture; refuse them before anything reaches the stream.
    if (layer.width > kMaxExtent || layer.height > kMaxExtent) return E_FAIL;

    const bool withAlpha = layer.format == D3DFMT_A8R8G8B8;
    const uint32_t pixelBytes = withAlpha ? 4 : 3;

    uint8_t header[18] = {};
    header[0] = kImageIdLength;
    header[1] = 0;  // no colour map
    header[2] = 2;  // uncompressed true-colour
    PutLe16(header + 12, layer.width);
    PutLe16(header + 14, layer.height);
    header[16] = static_cast<uint8_t>(pixelBytes * 8);
    header[17] = withAlpha ? 0x28 : 0x20;  // top-left origin, 8 alpha bits

    uint32_t written = 0;
    HRESULT hr = stream.Write(header, sizeof(header), &written);
    if (FAILED(hr)) return hr;
    hr = stream.Write(kImageId, kImageIdLength, &written);
    if (FAILED(hr)) return hr;

    const uint32_t rowBytes = layer.width * pixelBytes;  // at most 65535 * 4
    const uint8_t* first = static_cast<const uint8_t*>(layer.bits) +
                           static_cast<size_t>(layer.box.top) * layer.rowPitch +
                           static_cast<size_t>(layer.box.left) * pixelBytes;
    const uint64_t total = static_cast<uint64_t>(rowBytes) * layer.height;
    if (total == 0) return S_OK;
    if (layer.rowPitch == rowBytes && total <= UINT32_MAX) {
        return stream.Write(first, static_cast<uint32_t>(total), &written);
    }
    for (uint32_t y = 0; y < layer.height; ++y) {
        hr = stream.Write(first + static_cast<size_t>(y) * layer.rowPitch, rowBytes, &written);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace z3az
