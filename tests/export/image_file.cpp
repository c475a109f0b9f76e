#include "image_file.h"

#include <cstdio>
#include <cstdlib>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace vandrop::test {

bool DecodeImageFile(const std::string& path, DecodedImage* out) {
    int w = 0, h = 0, channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &channels, 3);
    if (!data) return false;
    out->width = w;
    out->height = h;
    out->rgb.resize(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < out->rgb.size(); ++i)
        out->rgb[i] = (uint32_t{data[3 * i]} << 16) | (uint32_t{data[3 * i + 1]} << 8) | data[3 * i + 2];
    stbi_image_free(data);
    return true;
}

std::string FileTypeOf(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "";
    unsigned char b[8] = {};
    size_t n = std::fread(b, 1, sizeof b, f);
    std::fclose(f);
    if (n >= 2 && b[0] == 'B' && b[1] == 'M') return "bmp";
    if (n >= 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G' && b[4] == 0x0D &&
        b[5] == 0x0A && b[6] == 0x1A && b[7] == 0x0A)
        return "png";
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return "jpeg";
    return "";
}

int ChannelDistance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift : {16, 8, 0}) {
        int e = std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff));
        if (e > d) d = e;
    }
    return d;
}

}  // namespace vandrop::test
