// The conversion engine: checks the filter word, builds a codec for each end,
// and tries the conversion paths in a fixed order until one accepts the job.
#include "convert/conversion.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "convert/pixel_codec.h"
#include "platform/heap.h"

namespace z3az {
namespace {

constexpr uint32_t kFilterKindMask = 0xFFFF;
constexpr uint32_t kFilterReservedMask = 0xFF800000u;

uint32_t FilterKind(uint32_t filter) { return filter & 0xFF; }

// Row y of slice z of a byte-addressable codec. The offsets are formed in
// size_t so that large surfaces do not wrap at 32 bits.
uint8_t* RowAddress(const PixelCodec& codec, uint32_t y, uint32_t z) {
    return codec.bits + static_cast<size_t>(z) * codec.slicePitch +
           static_cast<size_t>(y) * codec.rowPitch;
}

bool SameSize(const PixelCodec& a, const PixelCodec& b) {
    return a.width == b.width && a.height == b.height && a.depth == b.depth;
}

bool PalettesEqual(const PixelCodec& a, const PixelCodec& b) {
    if (a.palette == b.palette) return true;
    if (!a.palette || !b.palette) return false;
    for (int i = 0; i < 256; ++i) {
        const ColorF& p = a.palette[i];
        const ColorF& q = b.palette[i];
        if (p.r != q.r || p.g != q.g || p.b != q.b || p.a != q.a) return false;
    }
    return true;
}

// When both ends are sRGB-encoded, the values pass through in encoded form.
void ClearSharedSrgb(PixelCodec& destination, PixelCodec& source) {
    if (destination.srgb && source.srgb) {
        destination.srgb = 0;
        source.srgb = 0;
    }
}

void ZeroColors(ColorF* row, size_t count) {
    if (count) std::memset(row, 0, count * sizeof(ColorF));
}

bool BoxIsInverted(const ImageBox& b) {
    return b.right < b.left || b.bottom < b.top || b.back < b.front;
}

bool BoxIsEmpty(const ImageBox& b) {
    return b.right == b.left || b.bottom == b.top || b.back == b.front;
}

bool BoxInsideBounds(const ImageBox& box, const ImageBox& bounds) {
    return box.left >= bounds.left && box.top >= bounds.top && box.front >= bounds.front &&
           box.right <= bounds.right && box.bottom <= bounds.bottom && box.back <= bounds.back;
}

using ConversionPath = HRESULT (*)(ConversionJob&);

constexpr ConversionPath kPaths[] = {
    CopyRaw,       ConvertSameSize, CropOrPad,       ScalePoint,      HalveBox2D,
    HalveBox3D,    ScaleLinear2D,   ScaleLinear3D,   ScaleTriangle2D, ScaleTriangle3D,
};

}  // namespace

ConversionJob::~ConversionJob() {
    Delete(destination);
    Delete(source);
}

HRESULT ConversionJob::ConvertRegion(BlitRegion& dst, BlitRegion& src, uint32_t filterWord) {
    // A job left holding codecs (it never should) gives them up first.
    Delete(destination);
    Delete(source);
    destination = nullptr;
    source = nullptr;
    filter = filterWord;

    const uint32_t kind = filterWord & kFilterKindMask;
    if (kind == 0 || kind > FilterBox || (filterWord & kFilterReservedMask) != 0)
        return D3DERR_INVALIDCALL;

    // A box that is turned inside out or reaches past its surface would make
    // the codecs read or write outside the memory they were given.
    if (BoxIsInverted(dst.box) || BoxIsInverted(src.box) ||
        !BoxInsideBounds(dst.box, dst.bounds) || !BoxInsideBounds(src.box, src.bounds) ||
        !dst.bits || !src.bits)
        return D3DERR_INVALIDCALL;
    // Nothing to write is done at once; something to write from nothing is
    // a bad call (the scaling paths would divide by the empty extent).
    if (BoxIsEmpty(dst.box)) return S_OK;
    if (BoxIsEmpty(src.box)) return D3DERR_INVALIDCALL;

    dst.srgb = filterWord & FilterSrgbOut;
    dst.dither = filterWord & FilterDither;
    dst.diffuse = filterWord & FilterDiffuse;
    src.srgb = filterWord & FilterSrgbIn;

    destination = CreatePixelCodec(dst);
    source = CreatePixelCodec(src);

    HRESULT hr = E_FAIL;
    if (destination && source) {
        hr = PrepareConversion(destination, source);
        if (SUCCEEDED(hr)) {
            hr = E_FAIL;
            for (ConversionPath path : kPaths) {
                if (SUCCEEDED(path(*this))) {
                    hr = S_OK;
                    break;
                }
            }
        }
    }

    Delete(destination);
    Delete(source);
    destination = nullptr;
    source = nullptr;
    return hr;
}

HRESULT PrepareConversion(PixelCodec* destination, PixelCodec* source) {
    if (destination->valueRange != source->valueRange && destination->valueRange != RangeFloat)
        destination->convertFrom = source->valueRange;
    if (destination->convertFrom == 0 && destination->srgb == 0) return S_OK;

    if (!destination->scratchRow) {
        destination->scratchRow =
            static_cast<ColorF*>(AllocateArray(destination->width, sizeof(ColorF)));
        if (!destination->scratchRow) return E_OUTOFMEMORY;
    }
    if (destination->srgb && source->srgb) {
        destination->bothSrgb = 1;
        source->bothSrgb = 1;
    }
    return S_OK;
}

HRESULT CopyRaw(ConversionJob& job) {
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;
    // The two ends carry different masked flag values (FilterSrgbOut and
    // FilterSrgbIn); the setting is whether each end is encoded at all.
    if (dst.format != src.format || src.colorKey != 0 || !SameSize(dst, src) ||
        (dst.srgb != 0) != (src.srgb != 0))
        return E_FAIL;
    if (!dst.byteAddressable) return CopyBlocks(job);
    if (dst.paletted && !PalettesEqual(dst, src)) return E_FAIL;

    dst.srgb = 0;
    src.srgb = 0;
    for (uint32_t z = 0; z < dst.depth; ++z)
        for (uint32_t y = 0; y < dst.height; ++y)
            std::memmove(RowAddress(dst, y, z), RowAddress(src, y, z), dst.rowBytes);
    return S_OK;
}

HRESULT ConvertSameSize(ConversionJob& job) {
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;
    if (!SameSize(dst, src)) return E_FAIL;

    ColorF* row = static_cast<ColorF*>(AllocateArray(dst.width, sizeof(ColorF)));
    if (!row) return E_FAIL;
    ZeroColors(row, dst.width);
    ClearSharedSrgb(dst, src);

    // A codec that cannot deliver a row (a pair codec out of memory) would
    // leave the buffer stale; the path then fails instead of writing it.
    HRESULT hr = S_OK;
    for (uint32_t z = 0; z < dst.depth && SUCCEEDED(hr); ++z) {
        for (uint32_t y = 0; y < dst.height; ++y) {
            hr = src.ReadRow(y, z, row);
            if (SUCCEEDED(hr)) hr = dst.WriteRow(y, z, row);
            if (FAILED(hr)) break;
        }
    }
    Free(row);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CropOrPad(ConversionJob& job) {
    if (FilterKind(job.filter) != FilterNone) return E_FAIL;
    PixelCodec& dst = *job.destination;
    PixelCodec& src = *job.source;

    const uint32_t readWidth = std::max(src.width, dst.width);
    ColorF* readRow = static_cast<ColorF*>(AllocateArray(readWidth, sizeof(ColorF)));
    ColorF* fillRow = static_cast<ColorF*>(AllocateArray(dst.width, sizeof(ColorF)));
    if (!readRow || !fillRow) {
        Free(readRow);
        Free(fillRow);
        return E_FAIL;
    }
    ZeroColors(readRow, readWidth);
    ClearSharedSrgb(dst, src);

    const uint32_t h = std::min(src.height, dst.height);
    const uint32_t d = std::min(src.depth, dst.depth);
    // WriteRow may use its input row as scratch (luminance, error diffusion),
    // so the padding columns and the fill row are zeroed before every write:
    // every padded pixel is stored as transparent black.
    const size_t tail = dst.width > src.width ? dst.width - src.width : 0;
    HRESULT hr = S_OK;
    auto writeFill = [&](uint32_t y, uint32_t z) {
        ZeroColors(fillRow, dst.width);
        return dst.WriteRow(y, z, fillRow);
    };
    for (uint32_t z = 0; z < dst.depth && SUCCEEDED(hr); ++z) {
        for (uint32_t y = 0; y < dst.height && SUCCEEDED(hr); ++y) {
            if (z < d && y < h) {
                ZeroColors(readRow + src.width, tail);
                hr = src.ReadRow(y, z, readRow);
                if (SUCCEEDED(hr)) hr = dst.WriteRow(y, z, readRow);
            } else {
                hr = writeFill(y, z);
            }
        }
    }
    Free(readRow);
    Free(fillRow);
    return FAILED(hr) ? hr : S_OK;
}

}  // namespace z3az
