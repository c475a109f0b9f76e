// z3az-demo OUTDIR
//
// Draws a test pattern (colour bars over red, green, blue and grey
// gradients) into an X8R8G8B8 working image and saves it through the image
// saver as BMP, PNG and JPEG in OUTDIR, printing the path of each file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image_layer.h"
#include "save/image_saver.h"
#include "z3az/d3dformat.h"
#include "z3az/types.h"

namespace {

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;

uint32_t Pixel(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | r << 16 | g << 8 | b; }

// Top half: eight colour bars at 75 % intensity. Bottom half: four
// horizontal gradients (red, green, blue, grey) from black to full.
void DrawPattern(std::vector<uint32_t>& pixels) {
    static const uint32_t bars[8][3] = {
        {191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
        {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {16, 16, 16},
    };
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint32_t v;
            if (y < kHeight / 2) {
                const uint32_t* c = bars[x * 8 / kWidth];
                v = Pixel(c[0], c[1], c[2]);
            } else {
                const uint32_t band = (y - kHeight / 2) * 4 / (kHeight / 2);
                const uint32_t level = x * 255 / (kWidth - 1);
                v = band == 0 ? Pixel(level, 0, 0)
                    : band == 1 ? Pixel(0, level, 0)
                    : band == 2 ? Pixel(0, 0, level)
                                : Pixel(level, level, level);
            }
            pixels[size_t(y) * kWidth + x] = v;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string outDir = argv[1];
    std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
    DrawPattern(pixels);

    struct Output {
        const char* name;
        uint32_t fileFormat;
    } const outputs[] = {
        {"z3az-demo.bmp", z3az::ImageFileBmp},
        {"z3az-demo.png", z3az::ImageFilePng},
        {"z3az-demo.jpg", z3az::ImageFileJpg},
        {"z3az-demo.tga", z3az::ImageFileTga},
        {"z3az-demo.dds", z3az::ImageFileDds},
        {"z3az-demo.hdr", z3az::ImageFileHdr},
        {"z3az-demo.pfm", z3az::ImageFilePfm},
    };
    int status = 0;
    for (const Output& out : outputs) {
        // The layer borrows the pattern's memory; the saver reads it in place,
        // or converts it into memory of its own for TGA, HDR and PFM.
        z3az::ImageLayer layer;
        layer.format = D3DFMT_X8R8G8B8;
        layer.bits = pixels.data();
        layer.width = kWidth;
        layer.height = kHeight;
        layer.depth = 1;
        layer.box = {0, 0, kWidth, kHeight, 0, 1};
        layer.rowPitch = kWidth * 4;
        const std::string path = outDir + "/" + out.name;
        const HRESULT hr = z3az::ImageSaver::Save(layer, path.c_str(), out.fileFormat, z3az::FileA);
        if (FAILED(hr)) {
            std::fprintf(stderr, "z3az-demo: saving %s failed (0x%08X)\n", path.c_str(), static_cast<unsigned>(hr));
            status = 1;
            continue;
        }
        std::printf("%s\n", path.c_str());
    }
    return status;
}
