// Codecs of the four formats that pack two horizontally adjacent pixels into
// two 16-bit words sharing data: YUY2 and UYVY (one Cb and one Cr per pair),
// RGBG and GRGB (one red and one blue per pair, a green per pixel). A single
// pixel cannot be read or written alone, so the codec keeps one row of whole
// pairs decoded in a cache of ColorF, serves reads from it, collects writes in
// it and encodes it back into the surface when it moves to another row or is
// destroyed.
#pragma once

#include <cstdint>

#include "convert/pixel_codec.h"
#include "z3az/types.h"

namespace z3az {

class PackedPairCodec : public PixelCodec {
public:
    // lumaShift: bit position in each word of the pixel's own byte (Y or G);
    // chromaShift: that of the byte the pair shares (U/V or R/B).
    PackedPairCodec(const BlitRegion& region, uint32_t lumaShift, uint32_t chromaShift);
    ~PackedPairCodec() override;

    HRESULT ReadRow(uint32_t row, uint32_t slice, ColorF* out) override;
    HRESULT WriteRow(uint32_t row, uint32_t slice, ColorF* in) override;
    // The colour key is compared as the base constructor computed it.
    void PrepareColorKey() override {}

    // Makes the cache hold surface row (row, slice), storing a dirty cache
    // first; decodes the row when decode is set.
    HRESULT LoadCacheRow(uint32_t row, uint32_t slice, bool decode);
    // Stores a dirty cache into its surface row. Always succeeds.
    HRESULT FlushCache();

    ColorF* cache;            // owned, cacheWidth entries, or null
    uint32_t cacheLeft;       // box left rounded down to even
    uint32_t cachedRow;
    uint32_t cacheRight;      // box right rounded up to even
    uint32_t cachedRowEnd;    // cachedRow + 1 once a row is held, else 0
    uint32_t cachedSlice;
    uint32_t cachedSliceEnd;  // cachedSlice + 1 once a row is held, else 0
    uint32_t cacheWidth;
    uint32_t dirty;
    uint32_t cacheValid;
    uint32_t lumaShift;
    uint32_t chromaShift;

private:
    // Word 0 of the cached row's first pair (column cacheLeft).
    uint8_t* CachedRowWords() const;
    // Decode columns cacheLeft..cacheRight-1 from / encode them into the
    // surface row whose word cacheLeft is at words. Not virtual: the
    // destructor stores the cache through them.
    void DecodePairs(const uint8_t* words);
    void EncodePairs(uint8_t* words) const;
    void DecodeYuvPairs(const uint8_t* words);
    void EncodeYuvPairs(uint8_t* words) const;
    void DecodeRgbPairs(const uint8_t* words);
    void EncodeRgbPairs(uint8_t* words) const;
};

class CodecYUY2 final : public PackedPairCodec {
public:
    explicit CodecYUY2(const BlitRegion& region) : PackedPairCodec(region, 0, 8) {}
};

class CodecUYVY final : public PackedPairCodec {
public:
    explicit CodecUYVY(const BlitRegion& region) : PackedPairCodec(region, 8, 0) {}
};

class CodecR8G8_B8G8 final : public PackedPairCodec {
public:
    explicit CodecR8G8_B8G8(const BlitRegion& region) : PackedPairCodec(region, 0, 8) {}
};

class CodecG8R8_G8B8 final : public PackedPairCodec {
public:
    explicit CodecG8R8_G8B8(const BlitRegion& region) : PackedPairCodec(region, 8, 0) {}
};

// Returns the codec for YUY2, UYVY, RGBG and GRGB regions; null for any
// other format or when memory runs out for the codec object.
PixelCodec* CreatePackedPairCodec(const BlitRegion& region);

}  // namespace z3az
