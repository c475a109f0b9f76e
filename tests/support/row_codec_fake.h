// A codec that keeps its pixels as ColorF in memory and records which rows
// the engine reads and writes, so that conversion paths can be tested on
// exact float values without any pixel format in between.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "convert/conversion.h"
#include "convert/pixel_codec.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"
#include "z3az/types.h"

namespace z3az::test {

class RowCodecFake : public PixelCodec {
public:
    RowCodecFake(uint32_t w, uint32_t h, uint32_t d, ValueRange range, uint32_t srgbFlag = 0)
        : PixelCodec(Region(w, h, d, srgbFlag), 128, range),
          storedWidth(w),
          storedHeight(h),
          pixels(static_cast<size_t>(w) * h * d, ColorF{0, 0, 0, 0}),
          written(static_cast<size_t>(w) * h * d, 0) {}

    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override {
        reads.emplace_back(row, slice);
        if (failReads) return E_OUTOFMEMORY;
        const ColorF* in = &At(0, row, slice);
        for (uint32_t x = 0; x < width; ++x) out[x] = in[x];
        return S_OK;
    }

    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override {
        writes.emplace_back(row, slice);
        ColorF* out = &At(0, row, slice);
        for (uint32_t x = 0; x < width; ++x) {
            out[x] = in[x];
            ++written[Index(x, row, slice)];
        }
        return S_OK;
    }

    size_t Index(uint32_t x, uint32_t y, uint32_t z) const {
        return (static_cast<size_t>(z) * storedHeight + y) * storedWidth + x;
    }
    ColorF& At(uint32_t x, uint32_t y, uint32_t z = 0) { return pixels[Index(x, y, z)]; }

    uint32_t storedWidth;
    uint32_t storedHeight;
    std::vector<ColorF> pixels;
    std::vector<int> written;  // writes per pixel
    std::vector<std::pair<uint32_t, uint32_t>> reads;   // (row, slice)
    std::vector<std::pair<uint32_t, uint32_t>> writes;  // (row, slice)
    bool failReads = false;

private:
    static BlitRegion Region(uint32_t w, uint32_t h, uint32_t d, uint32_t srgbFlag) {
        static uint8_t dummy;
        BlitRegion r{};
        r.bits = &dummy;
        r.format = D3DFMT_A32B32G32R32F;
        r.rowPitch = 0;
        r.slicePitch = 0;
        r.bounds = ImageBox{0, 0, w, h, 0, d};
        r.box = r.bounds;
        r.srgb = srgbFlag;
        return r;
    }
};

// A job over two fakes; the job owns them and frees them when it ends.
struct FakeJob {
    FakeJob(uint32_t sw, uint32_t sh, uint32_t sd, uint32_t dw, uint32_t dh, uint32_t dd,
            uint32_t filter, ValueRange range = RangeFloat) {
        job.source = New<RowCodecFake>(sw, sh, sd, range);
        job.destination = New<RowCodecFake>(dw, dh, dd, range);
        job.filter = filter;
    }
    RowCodecFake& src() { return *static_cast<RowCodecFake*>(job.source); }
    RowCodecFake& dst() { return *static_cast<RowCodecFake*>(job.destination); }

    ConversionJob job;
};

}  // namespace z3az::test
