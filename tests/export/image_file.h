// Reads BMP, PNG and JPEG files back with a decoder of its own (stb_image),
// and tells file types apart by their first bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrop::test {

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, rows top to bottom
    uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// False when the file cannot be read or decoded.
bool DecodeImageFile(const std::string& path, DecodedImage* out);

// "bmp", "png", "jpeg" by signature; "" for anything else (or no file).
std::string FileTypeOf(const std::string& path);

// Largest difference of one channel between two colours.
int ChannelDistance(uint32_t a, uint32_t b);

}  // namespace vandrop::test
