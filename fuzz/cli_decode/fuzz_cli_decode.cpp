// Fuzz target: the z3az tool's input decoding. The first byte picks the
// decoder: PNG, JPEG (both on the rest of the input as a file), or raw
// pixels with a random format, size, pitch and palette.
//
// Checks beyond the sanitizers: a decoded picture names a catalogued format
// and its layout lies inside the bytes it owns; a refusal says why.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode.h"
#include "fuzz_layout.h"
#include "image/pixel_format.h"

namespace {

using namespace z3az;
using namespace z3az::cli;
using namespace z3az::fuzz;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "cli_decode: %s\n", what);
    std::abort();
}

void CheckPicture(Picture& picture) {
    if (FindPixelFormat(picture.format).format != picture.format || picture.format == 0)
        Fail("the picture's format is not catalogued");
    if (picture.width == 0 || picture.height == 0 || picture.depth == 0) Fail("an empty picture was decoded");
    const size_t rowBytes = RowBytes(picture.format, picture.width);
    const size_t rows = RowCount(picture.format, picture.height);
    if (picture.rowPitch < rowBytes) Fail("the row pitch is below the row size");
    if (picture.depth > 1 && picture.slicePitch < picture.rowPitch * rows) Fail("slices overlap");
    const size_t needed = size_t(picture.depth - 1) * picture.slicePitch + (rows - 1) * picture.rowPitch + rowBytes;
    if (picture.offset > picture.bits.size() || picture.bits.size() - picture.offset < needed)
        Fail("the layout reaches past the picture's bytes");
    // Touch the first and the last byte of the layout.
    volatile uint8_t sum = picture.first()[0];
    sum = sum + picture.first()[needed - 1];
    (void)sum;
}

// The decoders take pictures of up to 4 GiB, as the header declares them,
// and libjpeg fills in the rows of a scan that ends early: a few hundred
// bytes can ask for gigabytes. The fuzzer keeps to files that declare at
// most 2^24 pixels, so that such inputs stay within its memory limit.
constexpr uint64_t kMaxDeclaredPixels = uint64_t(1) << 24;

uint64_t Be16(const uint8_t* p) { return uint64_t(p[0]) << 8 | p[1]; }
uint64_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

bool DeclaresTooManyPixels(const uint8_t* data, size_t size, bool png) {
    if (png) return size >= 24 && Be32(data + 16) * Be32(data + 20) > kMaxDeclaredPixels;
    // Every frame header (SOF0 to SOF15 but DHT, JPG and DAC) in the file.
    for (size_t i = 0; i + 9 <= size; ++i) {
        if (data[i] != 0xFF || data[i + 1] < 0xC0 || data[i + 1] > 0xCF) continue;
        if (data[i + 1] == 0xC4 || data[i + 1] == 0xC8 || data[i + 1] == 0xCC) continue;
        if (Be16(data + i + 5) * Be16(data + i + 7) > kMaxDeclaredPixels) return true;
    }
    return false;
}

bool CopyInto(Bytes* out, const std::vector<uint8_t>& bytes) {
    if (!out->Allocate(bytes.size())) return false;
    if (!bytes.empty()) std::memcpy(out->data(), bytes.data(), bytes.size());
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Picture picture;
    Message error;
    bool ok = false;
    const uint8_t selector = data[0] % 3;
    const uint8_t* rest = data + 1;
    const size_t restSize = size - 1;
    if (selector < 2 && DeclaresTooManyPixels(rest, restSize, selector == 0)) return 0;
    switch (selector) {
        case 0:
            ok = DecodePng(rest, restSize, &picture, &error);
            if (ok && DetectInputKind(rest, restSize) != InputKind::Png) Fail("a PNG without the PNG signature");
            break;
        case 1:
            ok = DecodeJpeg(rest, restSize, &picture, &error);
            break;
        default: {
            FuzzedDataProvider in(rest, restSize);
            RawSpec raw;
            raw.format = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>()
                                          : PixelFormatCatalogue[in.ConsumeIntegralInRange<uint32_t>(
                                                0, PixelFormatCount - 1)].format;
            raw.width = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 0xFFFFFFFFu : 40);
            raw.height = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 0xFFFFFFFFu : 40);
            raw.depth = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 0xFFFFFFFFu : 4);
            const uint32_t pitch = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
            const bool withPalette = in.ConsumeBool();
            Bytes palette;
            if (withPalette && !CopyInto(&palette, in.ConsumeBytes<uint8_t>(in.ConsumeBool() ? 1024 : 1100)))
                return 0;
            Bytes pixels;
            if (!CopyInto(&pixels, in.ConsumeRemainingBytes<uint8_t>())) return 0;
            ok = DecodeRaw(static_cast<Bytes&&>(pixels), raw, pitch, withPalette ? &palette : nullptr, &picture,
                           &error);
            if (ok && (picture.format != raw.format || picture.width != raw.width || picture.height != raw.height))
                Fail("raw pixels decoded to another format or size");
            break;
        }
    }
    if (ok) CheckPicture(picture);
    else if (error.empty()) Fail("a refusal without a message");
    return 0;
}
