// The file writers. Each reads the working image it is given (the first
// layer; DDS also its chain) and appends one complete file to the stream
// through OutputStream::Write. They never open, flush or close the stream.
#pragma once

#include "image/image_layer.h"
#include "image/output_stream.h"
#include "z3az/types.h"

namespace z3az {

// Uncompressed Windows bitmap, for BMP and DIB alike: S_OK, or E_FAIL for a
// format it cannot describe, a size that does not fit the file's fields or
// a refused write.
HRESULT WriteBmp(const ImageLayer& layer, OutputStream& stream);

// PNG through libpng: 8-bit RGB from X8R8G8B8 or A8R8G8B8, 16-bit RGB from
// A16B16G16R16. S_OK, E_OUTOFMEMORY or E_FAIL.
HRESULT WritePng(const ImageLayer& layer, OutputStream& stream);

// Baseline JFIF through libjpeg at its default quality, from X8R8G8B8.
// S_OK, E_OUTOFMEMORY or E_FAIL.
HRESULT WriteJpeg(const ImageLayer& layer, OutputStream& stream);

// Uncompressed true-colour TGA from R8G8B8 or A8R8G8B8 (anything else is
// written as 24-bit). S_OK, E_FAIL for a width or height above 65535, or
// the code of the first failed write.
HRESULT WriteTga(const ImageLayer& layer, OutputStream& stream);

// DDS of the whole chain (levels, cube faces, slices) in the layer's own
// format. S_OK, or E_FAIL for a format DDS cannot hold or a failed write.
HRESULT WriteDds(const ImageLayer& layer, OutputStream& stream);

// Radiance RGBE, run-length encoded, from A32B32G32R32F, stamped with the
// local time. S_OK, E_OUTOFMEMORY, or E_FAIL for a side above 32767 or a
// failed write.
HRESULT WriteHdr(const ImageLayer& layer, OutputStream& stream);

// Colour PFM from A32B32G32R32F, rows bottom up. S_OK, E_OUTOFMEMORY, or
// E_FAIL for another format or a failed write.
HRESULT WritePfm(const ImageLayer& layer, OutputStream& stream);

}  // namespace z3az
