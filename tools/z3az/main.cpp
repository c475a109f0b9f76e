// z3az: converts images and raw pixel dumps into BMP, DIB, JPEG, PNG, TGA,
// DDS, Radiance HDR and PFM files with the Z3AZ library.
#include <csignal>
#include <cstdio>

#include "options.h"
#include "pipeline.h"

#ifndef Z3AZ_VERSION
#define Z3AZ_VERSION "unknown"
#endif

namespace {

const char HelpText[] =
    "Usage: z3az [options] INPUT OUTPUT\n"
    "       z3az [options] --out-dir DIR INPUT...\n"
    "\n"
    "Reads a PNG or JPEG image (or raw pixels with --raw) and saves it as a BMP,\n"
    "DIB, JPEG, PNG, TGA, DDS, HDR or PFM file. '-' reads standard input or\n"
    "writes standard output.\n"
    "\n"
    "Input:\n"
    "  --raw FORMAT,W,H[,D]  raw pixels: rows packed, slices one after another\n"
    "                        (DXT: rows of 4x4 blocks; YUY2 and the like: pairs)\n"
    "  --pitch BYTES         bytes from one raw row to the next\n"
    "  --palette FILE        256 entries of red, green, blue, flags for P8, A8P8\n"
    "\n"
    "Output:\n"
    "  --type TYPE           bmp, jpg, tga, png, dds, ppm, dib, hdr or pfm\n"
    "                        (by default from OUTPUT's extension)\n"
    "  --out-dir DIR         one file per INPUT in DIR, named after it\n"
    "  --format NAME         convert to this pixel format first (see --list-formats)\n"
    "  --size WxH[xD]        resample to this size\n"
    "  --filter KIND         none, point, linear, triangle (default) or box\n"
    "  --dither, --diffuse   ordered dithering, error diffusion when storing\n"
    "  --srgb-in, --srgb-out the input, the output is sRGB-encoded\n"
    "  --clamp u,v,w         filters do not wrap around these edges\n"
    "  --mipmaps N|all       a chain of N (or all) levels, box filtered (DDS)\n"
    "  --cube                six inputs +X, -X, +Y, -Y, +Z, -Z make a cube map (DDS)\n"
    "  --rect L,T,R,B        save only this rectangle (of the image after --size)\n"
    "  --color-key AARRGGBB  pixels of this colour become transparent black\n"
    "\n"
    "  --list-formats        the pixel formats, their bits and the file types\n"
    "                        that store them as they are\n"
    "  --quiet               no warnings and no progress\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
    // A closed standard output is reported as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    z3az::cli::Options options;
    z3az::cli::Message error;
    if (!z3az::cli::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "z3az: %s\nTry 'z3az --help' for more information.\n", error.text);
        return z3az::cli::ExitUsage;
    }
    if (options.help) {
        std::fputs(HelpText, stdout);
        return z3az::cli::ExitOk;
    }
    if (options.version) {
        std::printf("z3az %s\n", Z3AZ_VERSION);
        return z3az::cli::ExitOk;
    }
    if (options.listFormats) return z3az::cli::ListFormats();
    return z3az::cli::RunTool(options);
}
