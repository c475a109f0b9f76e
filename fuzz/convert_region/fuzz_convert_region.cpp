// Fuzz target: a random but valid conversion between any two catalogued
// formats (boxes inside their surfaces, pitches at least the row size, any
// filter word, palettes, colour keys, sRGB flags) run through ConvertRegion.
//
// Besides the sanitizers' findings it checks that the call returns a known
// code, that the source memory is never written, and that the destination
// changes only inside its box (widened to whole blocks and pairs).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "convert/conversion.h"
#include "fuzz_layout.h"
#include "image/pixel_format.h"
#include "z3az/types.h"

namespace {

using namespace z3az;
using namespace z3az::fuzz;

struct Surface {
    BlitRegion region = {};
    uint8_t* memory = nullptr;  // exactly the bytes the layout spans
    size_t size = 0;
    uint32_t width = 0, height = 0, depth = 0;
    PALETTEENTRY palette[256] = {};

    ~Surface() { std::free(memory); }
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "convert_region: %s\n", what);
    std::abort();
}

uint32_t PickFormat(FuzzedDataProvider& in) {
    return PixelFormatCatalogue[in.ConsumeIntegralInRange<uint32_t>(0, PixelFormatCount - 1)].format;
}

void PickBox(FuzzedDataProvider& in, uint32_t extent, uint32_t* low, uint32_t* high) {
    *low = in.ConsumeIntegralInRange<uint32_t>(0, extent - 1);
    *high = in.ConsumeIntegralInRange<uint32_t>(*low + 1, extent);
}

// Lays out a surface of a random size with a box inside it, pitches at
// least the row size, and fills its memory from the input.
bool MakeSurface(FuzzedDataProvider& in, Surface* s) {
    const uint32_t format = PickFormat(in);
    const bool volume = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    s->width = in.ConsumeIntegralInRange<uint32_t>(1, 48);
    s->height = in.ConsumeIntegralInRange<uint32_t>(1, 48);
    s->depth = volume ? in.ConsumeIntegralInRange<uint32_t>(1, 6) : 1;

    const size_t rowBytes = RowBytes(format, s->width);
    const size_t rows = RowCount(format, s->height);
    const size_t rowPitch = rowBytes + in.ConsumeIntegralInRange<size_t>(0, 2) * in.ConsumeIntegralInRange<size_t>(0, 9);
    const size_t slicePitch = rowPitch * rows + in.ConsumeIntegralInRange<size_t>(0, 17);
    s->size = (s->depth - 1) * slicePitch + (rows - 1) * rowPitch + rowBytes;
    s->memory = static_cast<uint8_t*>(std::malloc(s->size));
    if (!s->memory) return false;

    BlitRegion& r = s->region;
    r.bits = s->memory;
    r.format = format;
    r.rowPitch = static_cast<uint32_t>(rowPitch);
    r.slicePitch = static_cast<uint32_t>(slicePitch);
    r.bounds = {0, 0, s->width, s->height, 0, s->depth};
    PickBox(in, s->width, &r.box.left, &r.box.right);
    PickBox(in, s->height, &r.box.top, &r.box.bottom);
    PickBox(in, s->depth, &r.box.front, &r.box.back);
    r.dither = in.ConsumeBool();
    r.diffuse = in.ConsumeBool();
    r.srgb = in.ConsumeBool();
    r.colorKey = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : 0;
    if (in.ConsumeBool()) {
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(sizeof s->palette);
        if (!bytes.empty()) std::memcpy(s->palette, bytes.data(), bytes.size());
        r.palette = s->palette;
    }
    return true;
}

void FillFrom(FuzzedDataProvider& in, Surface* s, size_t take) {
    const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(take);
    for (size_t i = 0; i < s->size; ++i)
        s->memory[i] = bytes.empty() ? uint8_t(i * 37 + 11) : bytes[i % bytes.size()];
}

uint32_t PickFilter(FuzzedDataProvider& in) {
    // Mostly valid words; now and then any 32-bit value.
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return in.ConsumeIntegral<uint32_t>();
    const uint32_t kind = in.ConsumeIntegralInRange<uint32_t>(FilterNone, FilterBox);
    const uint32_t flags = in.ConsumeIntegralInRange<uint32_t>(0, 0x7F) << 16;
    return kind | flags;
}

// Bytes of the destination outside its box (widened to blocks and pairs)
// must be as they were.
void CheckOutsideUnchanged(const Surface& d, const std::vector<uint8_t>& before) {
    const BlitRegion& r = d.region;
    size_t columnBegin, columnEnd, rowBegin, rowEnd;
    TouchedColumns(r.format, r.box.left, r.box.right, &columnBegin, &columnEnd);
    TouchedRows(r.format, r.box.top, r.box.bottom, &rowBegin, &rowEnd);
    for (size_t i = 0; i < d.size; ++i) {
        if (d.memory[i] == before[i]) continue;
        const size_t slice = i / r.slicePitch;
        const size_t inSlice = i % r.slicePitch;
        const size_t row = inSlice / r.rowPitch;
        const size_t column = inSlice % r.rowPitch;
        const bool inside = slice >= r.box.front && slice < r.box.back && row >= rowBegin && row < rowEnd &&
                            column >= columnBegin && column < columnEnd;
        if (!inside) Fail("a byte outside the destination box was written");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Surface destination, source;
    if (!MakeSurface(in, &destination) || !MakeSurface(in, &source)) return 0;
    const uint32_t filter = PickFilter(in);
    FillFrom(in, &destination, 64);
    FillFrom(in, &source, in.remaining_bytes());

    const std::vector<uint8_t> sourceBefore(source.memory, source.memory + source.size);
    const std::vector<uint8_t> destinationBefore(destination.memory, destination.memory + destination.size);

    ConversionJob job;
    const HRESULT hr = job.ConvertRegion(destination.region, source.region, filter);
    if (hr != S_OK && hr != E_FAIL && hr != E_OUTOFMEMORY && hr != D3DERR_INVALIDCALL)
        Fail("unexpected result code");
    if (job.source || job.destination) Fail("the job still holds a codec");
    const uint32_t kind = filter & 0xFFFF;
    const bool validWord = kind >= FilterNone && kind <= FilterBox && (filter & 0xFF800000u) == 0;
    if (validWord && hr == D3DERR_INVALIDCALL) Fail("a valid conversion was refused as a bad call");
    if (!validWord && hr != D3DERR_INVALIDCALL) Fail("a bad filter word was accepted");
    if (std::memcmp(source.memory, sourceBefore.data(), source.size) != 0) Fail("the source was written");
    CheckOutsideUnchanged(destination, destinationBefore);
    return 0;
}
