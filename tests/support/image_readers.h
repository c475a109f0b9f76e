// Capturing what a writer appends to a stream, and reading image files back
// through decoders nobody here wrote (OpenImageIO's oiiotool, ImageMagick,
// Pillow), so that tests can compare pixel values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/output_stream.h"

namespace z3az::test {

// An OutputStream open in memory mode, and the bytes it has taken so far.
class MemoryStream {
public:
    MemoryStream();
    OutputStream& stream() { return stream_; }
    HRESULT openResult() const { return open_; }
    std::vector<uint8_t> Bytes() const;

private:
    OutputStream stream_;
    HRESULT open_;
};

// Pixels as a reader reports them: channels values per pixel, rows top to
// bottom, each value normalised to 0..1 for integer files and as stored for
// float files.
struct ReadPixels {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;
    std::vector<float> values;
    float At(uint32_t x, uint32_t y, uint32_t c) const {
        return values[(static_cast<size_t>(y) * width + x) * channels + c];
    }
};

// oiiotool --info --dumpdata on one subimage and mip level. Returns false
// (with the tool's output in *error) when the tool refuses the file.
bool ReadWithOiio(const std::string& path, ReadPixels* out, std::string* error = nullptr,
                  int subimage = 0, int miplevel = 0);

// ImageMagick, every pixel as RGBA floats (frame selects an image of a
// multi-image file).
bool ReadWithMagick(const std::string& path, ReadPixels* out, std::string* error = nullptr,
                    int frame = 0);

// Pillow, every pixel converted to RGBA bytes (scaled to 0..1).
bool ReadWithPillow(const std::string& path, ReadPixels* out, std::string* error = nullptr);

// Whether a program can be run at all on this machine.
bool HaveProgram(const std::string& name);

}  // namespace z3az::test
