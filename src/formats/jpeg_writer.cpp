// Baseline JFIF files through libjpeg with its default parameters (quality
// 75, YCbCr with 2x2 luminance sampling, standard Huffman tables). The
// compressed bytes leave through a 4096-byte buffer into the stream.
//
// libjpeg reports errors through error_exit, which longjmps to the writer's
// jump point. Everything the clean-up frees lives in a JpegState owned by
// WriteJpeg, one frame above the function that calls setjmp; that function
// holds no object with a destructor and changes no local after setjmp.
//
// The distribution's libjpeg brings its own system-dependent memory layer
// and backing store, so the writer supplies neither.
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstring>

#include "formats/writers.h"
#include "image/pixel_format.h"
#include "platform/heap.h"

static_assert(JPEG_LIB_VERSION == 62, "the writer is built for the libjpeg 6b interface");

namespace z3az {

namespace {

constexpr uint32_t kJpegBufferSize = 4096;

struct JpegErrorManager {
    jpeg_error_mgr pub;  // first: libjpeg sees only this part
    jmp_buf jump;
};

struct JpegDestination {
    jpeg_destination_mgr pub;  // first: libjpeg sees only this part
    OutputStream* stream;
    JOCTET* buffer;            // allocated by init_destination, freed by WriteJpeg
};

struct JpegState {
    jpeg_compress_struct cinfo;
    JpegErrorManager error;
    JpegDestination destination;
    uint8_t* row;
    HRESULT result;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Messages and warnings are neither shown nor logged.
void JpegSilentMessage(j_common_ptr) {}

[[noreturn]] void RaiseJpegError(j_compress_ptr cinfo, int code) {
    cinfo->err->msg_code = code;
    (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);  // error_exit never returns
}

void SendOrRaise(j_compress_ptr cinfo, uint32_t n) {
    JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    uint32_t written = 0;
    if (FAILED(dest->stream->Write(dest->buffer, n, &written))) RaiseJpegError(cinfo, JERR_FILE_WRITE);
}

void InitDestination(j_compress_ptr cinfo) {
    JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    dest->buffer = static_cast<JOCTET*>(Allocate(kJpegBufferSize));
    if (!dest->buffer) RaiseJpegError(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJpegBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    SendOrRaise(cinfo, kJpegBufferSize);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJpegBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (dest->pub.free_in_buffer != kJpegBufferSize)
        SendOrRaise(cinfo, kJpegBufferSize - static_cast<uint32_t>(dest->pub.free_in_buffer));
}

// B, G, R, X bytes (a little-endian 32-bit value) to R, G, B.
void ConvertRow(const uint8_t* src, uint8_t* dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

// Steps from the jump point on. Errors raised by libjpeg come back here.
void CompressWithJumpPoint(JpegState* s, const ImageLayer* layer, uint32_t bytesPerPixel) {
    if (setjmp(s->error.jump) != 0) {
        s->result = E_FAIL;
        return;
    }
    // libjpeg compares the dimensions with JPEG_MAX_DIMENSION as `long`,
    // which on 32-bit systems lets sizes of 2^31 and more through (and then
    // divides by zero): refuse them here, before the library sees them.
    if (layer->width > JPEG_MAX_DIMENSION || layer->height > JPEG_MAX_DIMENSION) {
        s->result = E_FAIL;
        return;
    }
    jpeg_create_compress(&s->cinfo);
    s->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s->cinfo);
    s->cinfo.image_width = layer->width;
    s->cinfo.image_height = layer->height;
    s->cinfo.dest = &s->destination.pub;
    s->cinfo.input_components = 3;
    jpeg_start_compress(&s->cinfo, TRUE);

    s->row = static_cast<uint8_t*>(AllocateArray(layer->width, 3));
    if (!s->row) {
        s->result = E_OUTOFMEMORY;
        return;
    }
    const uint8_t* first = static_cast<const uint8_t*>(layer->bits) + size_t(layer->box.top) * layer->rowPitch +
                           size_t(layer->box.left) * bytesPerPixel;
    for (uint32_t y = 0; y < layer->height; ++y) {
        ConvertRow(first + size_t(y) * layer->rowPitch, s->row, layer->width);
        JSAMPROW rows[1] = {s->row};
        jpeg_write_scanlines(&s->cinfo, rows, 1);
    }
    jpeg_finish_compress(&s->cinfo);
    s->result = S_OK;
}

}  // namespace

HRESULT WriteJpeg(const ImageLayer& layer, OutputStream& stream) {
    JpegState s;
    std::memset(&s, 0, sizeof s);
    s.destination.pub.init_destination = InitDestination;
    s.destination.pub.empty_output_buffer = EmptyOutputBuffer;
    s.destination.pub.term_destination = TermDestination;
    s.destination.stream = &stream;
    s.destination.buffer = nullptr;
    s.row = nullptr;
    s.result = S_OK;
    const uint32_t bytesPerPixel = FindPixelFormat(layer.format).bitsPerPixel / 8;

    s.cinfo.err = jpeg_std_error(&s.error.pub);
    s.error.pub.error_exit = JpegErrorExit;
    s.error.pub.output_message = JpegSilentMessage;

    CompressWithJumpPoint(&s, &layer, bytesPerPixel);

    jpeg_destroy_compress(&s.cinfo);
    Free(s.row);
    Free(s.destination.buffer);
    return s.result;
}

}  // namespace z3az
