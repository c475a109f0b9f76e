// Reading the tool's inputs into pixels in memory: PNG through libpng, JPEG
// through libjpeg, and raw pixels in any format the library knows. Every
// decoder works on bytes already in memory, so that it can be driven by tests
// and fuzzers without files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buffer.h"
#include "options.h"
#include "z3az/types.h"

namespace z3az::cli {

// Pixels in memory in one of the library's formats, with their layout.
struct Picture {
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 1;
    uint32_t rowPitch = 0;    // bytes between rows (rows of blocks for DXT)
    uint32_t slicePitch = 0;  // bytes between slices
    Bytes bits;               // owned; may hold more bytes than the layout uses
    size_t offset = 0;        // where the first pixel lies within bits
    bool hasPalette = false;
    PALETTEENTRY palette[256] = {};

    uint8_t* first() { return bits.data() + offset; }
};

// Which decoder suits the bytes, by their signature.
enum class InputKind { Png, Jpeg, Unknown };
InputKind DetectInputKind(const uint8_t* data, size_t size);

// 8-bit images become A8R8G8B8 (X8R8G8B8 when they have no alpha); 16-bit
// PNG images become A16B16G16R16.
bool DecodePng(const uint8_t* data, size_t size, Picture* picture, Message* error);
bool DecodeJpeg(const uint8_t* data, size_t size, Picture* picture, Message* error);

// Raw pixels: rows tightly packed unless pitch is nonzero, slices one after
// another. Takes the bytes over without copying them. A palette of 1024
// bytes (red, green, blue, flags for each of 256 entries) may be given for
// P8 and A8P8.
bool DecodeRaw(Bytes data, const RawSpec& raw, uint32_t pitch, const Bytes* palette, Picture* picture,
               Message* error);

// Reads a whole file ('-' for standard input) into memory.
bool ReadWholeFile(const char* path, Bytes* data, Message* error);

}  // namespace z3az::cli
