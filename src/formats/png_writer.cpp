// PNG files through libpng: 8- or 16-bit RGB without alpha, rows converted
// to PNG sample order here so that libpng is asked for no transformation.
//
// libpng reports errors by longjmp to the jump point in its write structure.
// Everything the clean-up frees lives in a PngState owned by WritePng, one
// frame above the function that calls setjmp; that function itself holds
// no object with a destructor and changes no local after setjmp.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "formats/writers.h"
#include "platform/heap.h"
#include "z3az/d3dformat.h"

namespace z3az {

namespace {

struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint8_t* row = nullptr;
    HRESULT result = S_OK;
};

// libpng's error function: never returns to libpng.
[[noreturn]] void PngErrorCallback(png_structp png, png_const_charp) { longjmp(png_jmpbuf(png), 1); }

// libpng's warning function: warnings are neither shown nor logged.
void PngNoOpCallback(png_structp, png_const_charp) {}

// libpng's output-flush function: the stream is flushed by its owner.
void PngNoOpCallback(png_structp) {}

// libpng's write function. A stream that refuses bytes ends the encoding
// through the error function, so the writer reports E_FAIL instead of
// finishing a file that lost data.
void PngWriteCallback(png_structp png, png_bytep data, png_size_t length) {
    OutputStream* stream = static_cast<OutputStream*>(png_get_io_ptr(png));
    while (length > 0) {
        const uint32_t piece = length > 0x80000000u ? 0x80000000u : static_cast<uint32_t>(length);
        uint32_t written = 0;
        if (FAILED(stream->Write(data, piece, &written))) png_error(png, "stream write failed");
        data += piece;
        length -= piece;
    }
}

// One source row to PNG samples: B, G, R, X bytes to R, G, B; or R, G, B, A
// little-endian 16-bit channels to big-endian R, G, B.
void ConvertRow(const uint8_t* src, uint8_t* dst, uint32_t width, bool deep) {
    if (deep) {
        for (uint32_t x = 0; x < width; ++x, src += 8, dst += 6) {
            dst[0] = src[1];
            dst[1] = src[0];
            dst[2] = src[3];
            dst[3] = src[2];
            dst[4] = src[5];
            dst[5] = src[4];
        }
    } else {
        for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
            const uint32_t v = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16;
            dst[0] = static_cast<uint8_t>(v >> 16);
            dst[1] = static_cast<uint8_t>(v >> 8);
            dst[2] = static_cast<uint8_t>(v);
        }
    }
}

// Steps from the jump point on. Errors raised by libpng come back here.
void EncodeWithJumpPoint(PngState* state, const ImageLayer* layer, OutputStream* stream) {
    if (setjmp(png_jmpbuf(state->png)) != 0) {
        state->result = E_FAIL;
        return;
    }
    const bool deep = layer->format == D3DFMT_A16B16G16R16;
    png_set_IHDR(state->png, state->info, layer->width, layer->height, deep ? 16 : 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);

    state->row = static_cast<uint8_t*>(AllocateArray(layer->width, deep ? 6 : 3));
    if (!state->row) {
        state->result = E_OUTOFMEMORY;
        return;
    }
    png_set_write_fn(state->png, stream, PngWriteCallback, static_cast<void (*)(png_structp)>(PngNoOpCallback));
    png_write_info(state->png, state->info);

    const uint8_t* source = static_cast<const uint8_t*>(layer->bits);
    for (uint32_t y = 0; y < layer->height; ++y) {
        ConvertRow(source + size_t(y) * layer->rowPitch, state->row, layer->width, deep);
        png_bytep rows[1] = {state->row};
        png_write_rows(state->png, rows, 1);
    }
    png_write_end(state->png, state->info);
    state->result = S_OK;
}

}  // namespace

HRESULT WritePng(const ImageLayer& layer, OutputStream& stream) {
    PngState state;
    state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorCallback,
                                        static_cast<void (*)(png_structp, png_const_charp)>(PngNoOpCallback));
    if (!state.png) return E_OUTOFMEMORY;
    state.info = png_create_info_struct(state.png);
    if (state.info) {
        EncodeWithJumpPoint(&state, &layer, &stream);
    } else {
        state.result = E_OUTOFMEMORY;
    }
    png_destroy_write_struct(&state.png, state.info ? &state.info : nullptr);
    Free(state.row);
    return state.result;
}

}  // namespace z3az
