#include "decode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "format_names.h"
#include "z3az/d3dformat.h"

namespace z3az::cli {
namespace {

// The largest picture the tool decodes: rows and slices are addressed with
// 32-bit pitches, so every pitch and every slice must fit in 32 bits.
constexpr uint64_t MaxPitch = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// PNG
// ---------------------------------------------------------------------------

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t position;
};

// Everything the setjmp frame of DecodePngRows shares with its caller lives
// here, in memory, so that it survives a longjmp from libpng.
struct PngContext {
    PngSource source;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep* rows = nullptr;
    Picture* picture = nullptr;
    Message* error = nullptr;
    bool outOfMemory = false;
    char libraryMessage[200] = {};
};

void PngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    PngSource& source = context->source;
    if (length > source.size - source.position) png_error(png, "the file ends too early");
    std::memcpy(out, source.data + source.position, length);
    source.position += length;
}

void PngError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    std::snprintf(context->libraryMessage, sizeof context->libraryMessage, "%s", message ? message : "");
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Decodes into context->picture. The only function with a jump point: no
// object with a destructor lives in its frame, and everything it changes
// after setjmp is reached through context.
bool DecodePngRows(PngContext* context) {
    if (setjmp(png_jmpbuf(context->png))) return false;

    png_set_read_fn(context->png, context, PngRead);
    png_read_info(context->png, context->info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
    png_get_IHDR(context->png, context->info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
    const bool hasAlpha =
        (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(context->png, context->info, PNG_INFO_tRNS) != 0;
    const bool wide = bitDepth == 16;

    png_set_expand(context->png);  // palette, low-bit gray and tRNS to full channels
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(context->png);
    if (!hasAlpha) png_set_filler(context->png, wide ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    if (wide) {
        png_set_swap(context->png);  // little-endian 16-bit channels: R, G, B, A
    } else {
        png_set_bgr(context->png);   // B, G, R, A bytes: the A8R8G8B8 layout
    }
    png_set_interlace_handling(context->png);
    png_read_update_info(context->png, context->info);

    const size_t rowBytes = png_get_rowbytes(context->png, context->info);
    const size_t wanted = size_t(width) * (wide ? 8 : 4);
    if (rowBytes != wanted) png_error(context->png, "unexpected row layout");
    size_t total;
    if (rowBytes > MaxPitch || !MultiplySizes(rowBytes, height, &total) || total > MaxPitch) {
        png_error(context->png, "the image is too large");
    }

    Picture* picture = context->picture;
    context->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * (height ? height : 1)));
    if (!context->rows || !picture->bits.Allocate(total)) {
        context->outOfMemory = true;
        return false;
    }
    for (png_uint_32 y = 0; y < height; ++y) context->rows[y] = picture->bits.data() + size_t(y) * rowBytes;
    png_read_image(context->png, context->rows);
    png_read_end(context->png, nullptr);

    picture->format = wide ? D3DFMT_A16B16G16R16 : (hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8);
    picture->width = width;
    picture->height = height;
    picture->depth = 1;
    picture->rowPitch = uint32_t(rowBytes);
    picture->slicePitch = uint32_t(total);
    picture->offset = 0;
    return true;
}

// ---------------------------------------------------------------------------
// JPEG
// ---------------------------------------------------------------------------

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct JpegSource {
    jpeg_source_mgr manager;
    bool endReached;  // the data ran out before the image did
};

const JOCTET FakeEndOfImage[2] = {0xFF, JPEG_EOI};

void JpegInitSource(j_decompress_ptr) {}

boolean JpegFillInput(j_decompress_ptr decompress) {
    auto* source = reinterpret_cast<JpegSource*>(decompress->src);
    source->endReached = true;
    source->manager.next_input_byte = FakeEndOfImage;
    source->manager.bytes_in_buffer = sizeof FakeEndOfImage;
    return TRUE;
}

void JpegSkip(j_decompress_ptr decompress, long count) {
    jpeg_source_mgr& manager = *decompress->src;
    if (count <= 0) return;
    while (size_t(count) > manager.bytes_in_buffer) {
        count -= long(manager.bytes_in_buffer);
        JpegFillInput(decompress);
    }
    manager.next_input_byte += count;
    manager.bytes_in_buffer -= size_t(count);
}

void JpegTermSource(j_decompress_ptr) {}

void JpegErrorExit(j_common_ptr common) {
    auto* error = reinterpret_cast<JpegError*>(common->err);
    (*common->err->format_message)(common, error->message);
    longjmp(error->jump, 1);
}

void JpegOutputMessage(j_common_ptr) {}

struct JpegContext {
    jpeg_decompress_struct decompress;
    JpegError error;
    JpegSource source;
    uint8_t* row = nullptr;
    Picture* picture = nullptr;
    bool created = false;
    bool outOfMemory = false;
    bool truncated = false;
};

// Expands one decoded row of 1, 3 or 4 (inverted CMYK) components into
// X8R8G8B8 pixels.
void StoreJpegRow(const uint8_t* in, int components, uint32_t width, uint8_t* out) {
    for (uint32_t x = 0; x < width; ++x, out += 4) {
        uint8_t r, g, b;
        if (components == 1) {
            r = g = b = in[x];
        } else if (components == 3) {
            r = in[3 * x];
            g = in[3 * x + 1];
            b = in[3 * x + 2];
        } else {
            // Adobe writes CMYK inverted: each byte is 255 minus the ink.
            const unsigned k = in[4 * x + 3];
            r = uint8_t((in[4 * x] * k + 127) / 255);
            g = uint8_t((in[4 * x + 1] * k + 127) / 255);
            b = uint8_t((in[4 * x + 2] * k + 127) / 255);
        }
        out[0] = b;
        out[1] = g;
        out[2] = r;
        out[3] = 0xFF;
    }
}

bool DecodeJpegRows(JpegContext* context, const uint8_t* data, size_t size) {
    jpeg_decompress_struct* decompress = &context->decompress;
    decompress->err = jpeg_std_error(&context->error.manager);
    context->error.manager.error_exit = JpegErrorExit;
    context->error.manager.output_message = JpegOutputMessage;
    if (setjmp(context->error.jump)) return false;

    jpeg_create_decompress(decompress);
    context->created = true;
    context->source.manager.init_source = JpegInitSource;
    context->source.manager.fill_input_buffer = JpegFillInput;
    context->source.manager.skip_input_data = JpegSkip;
    context->source.manager.resync_to_restart = jpeg_resync_to_restart;
    context->source.manager.term_source = JpegTermSource;
    context->source.manager.next_input_byte = data;
    context->source.manager.bytes_in_buffer = size;
    context->source.endReached = false;
    decompress->src = &context->source.manager;

    jpeg_read_header(decompress, TRUE);
    if (decompress->jpeg_color_space == JCS_CMYK || decompress->jpeg_color_space == JCS_YCCK) {
        decompress->out_color_space = JCS_CMYK;
    } else if (decompress->jpeg_color_space == JCS_GRAYSCALE) {
        decompress->out_color_space = JCS_GRAYSCALE;
    } else {
        decompress->out_color_space = JCS_RGB;
    }
    jpeg_start_decompress(decompress);
    const int components = decompress->output_components;
    if (components != 1 && components != 3 && components != 4) {
        std::snprintf(context->error.message, sizeof context->error.message, "%d colour components", components);
        return false;
    }
    const uint32_t width = decompress->output_width;
    const uint32_t height = decompress->output_height;
    size_t pitch, total;
    if (!MultiplySizes(width, 4, &pitch) || pitch > MaxPitch || !MultiplySizes(pitch, height, &total) ||
        total > MaxPitch) {
        std::snprintf(context->error.message, sizeof context->error.message, "the image is too large");
        return false;
    }
    Picture* picture = context->picture;
    context->row = static_cast<uint8_t*>(std::malloc(size_t(width) * size_t(components) + 1));
    if (!context->row || !picture->bits.Allocate(total)) {
        context->outOfMemory = true;
        return false;
    }
    while (decompress->output_scanline < height) {
        // Once the data has run out, libjpeg only invents rows, and the
        // picture is refused below: stop, rather than invent the rest of a
        // picture whose header may claim gigabytes.
        if (context->source.endReached && context->error.manager.num_warnings > 0) break;
        const uint32_t y = decompress->output_scanline;
        JSAMPROW rows[1] = {context->row};
        if (jpeg_read_scanlines(decompress, rows, 1) != 1) break;
        StoreJpegRow(context->row, components, width, picture->bits.data() + size_t(y) * pitch);
    }
    // Data that runs out inside the image makes libjpeg warn and invent the
    // missing rows; a file that only lacks its end marker is whole.
    if (decompress->output_scanline < height ||
        (context->source.endReached && context->error.manager.num_warnings > 0)) {
        context->truncated = true;
        return false;
    }
    jpeg_finish_decompress(decompress);
    picture->format = D3DFMT_X8R8G8B8;
    picture->width = width;
    picture->height = height;
    picture->depth = 1;
    picture->rowPitch = uint32_t(pitch);
    picture->slicePitch = uint32_t(total);
    picture->offset = 0;
    return true;
}

}  // namespace

InputKind DetectInputKind(const uint8_t* data, size_t size) {
    static const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, PngSignature, 8) == 0) return InputKind::Png;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return InputKind::Jpeg;
    return InputKind::Unknown;
}

bool DecodePng(const uint8_t* data, size_t size, Picture* picture, Message* error) {
    PngContext context;
    context.source = {data, size, 0};
    context.picture = picture;
    context.error = error;
    context.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, PngError, PngWarning);
    if (context.png) context.info = png_create_info_struct(context.png);
    if (!context.png || !context.info) {
        png_destroy_read_struct(context.png ? &context.png : nullptr, nullptr, nullptr);
        error->Set("out of memory decoding the PNG image");
        return false;
    }
    const bool ok = DecodePngRows(&context);
    png_destroy_read_struct(&context.png, &context.info, nullptr);
    std::free(context.rows);
    if (!ok) {
        picture->bits = Bytes();
        if (context.outOfMemory) error->Set("out of memory decoding the PNG image");
        else error->Set("corrupt PNG image: %s", context.libraryMessage);
    }
    return ok;
}

bool DecodeJpeg(const uint8_t* data, size_t size, Picture* picture, Message* error) {
    JpegContext* context = static_cast<JpegContext*>(std::calloc(1, sizeof(JpegContext)));
    if (!context) {
        error->Set("out of memory decoding the JPEG image");
        return false;
    }
    context->picture = picture;
    const bool ok = DecodeJpegRows(context, data, size);
    if (context->created) jpeg_destroy_decompress(&context->decompress);
    std::free(context->row);
    if (!ok) {
        picture->bits = Bytes();
        if (context->outOfMemory) error->Set("out of memory decoding the JPEG image");
        else if (context->truncated) error->Set("corrupt JPEG image: the data ends before the image");
        else error->Set("corrupt JPEG image: %s", context->error.message);
    }
    std::free(context);
    return ok;
}

bool DecodeRaw(Bytes data, const RawSpec& raw, uint32_t pitch, const Bytes* palette, Picture* picture,
               Message* error) {
    SliceLayout layout;
    const char* name = FormatNameOf(raw.format);
    // An empty picture has nothing to save, and a depth of 0 would wrap the
    // size computed below.
    if (raw.width == 0 || raw.height == 0 || raw.depth == 0) {
        error->Set("raw sizes must not be zero; got %ux%ux%u", raw.width, raw.height, raw.depth);
        return false;
    }
    if (!LayoutOf(raw.format, raw.width, raw.height, &layout)) {
        error->Set("the library does not describe the format %s", name ? name : "?");
        return false;
    }
    const uint64_t rowPitch = pitch ? pitch : layout.rowBytes;
    if (rowPitch < layout.rowBytes || rowPitch > MaxPitch) {
        error->Set("rows of %llu bytes do not fit the pitch", (unsigned long long)layout.rowBytes);
        return false;
    }
    const uint64_t slicePitch = rowPitch * layout.rows;
    if (slicePitch > MaxPitch) {
        error->Set("a slice of %llu bytes is too large", (unsigned long long)slicePitch);
        return false;
    }
    // The last row need not be padded to the pitch.
    const uint64_t needed = slicePitch * (raw.depth - 1) + rowPitch * (layout.rows - 1) + layout.rowBytes;
    if (data.size() < needed) {
        error->Set("raw %s input of %ux%ux%u needs %llu bytes, but only %zu are there", name, raw.width,
                   raw.height, raw.depth, (unsigned long long)needed, data.size());
        return false;
    }
    if (palette) {
        if (palette->size() != sizeof picture->palette) {
            error->Set("a palette file holds 256 entries of 4 bytes (1024 bytes), not %zu bytes", palette->size());
            return false;
        }
        std::memcpy(picture->palette, palette->data(), sizeof picture->palette);
        picture->hasPalette = true;
    } else {
        picture->hasPalette = false;
    }
    picture->format = raw.format;
    picture->width = raw.width;
    picture->height = raw.height;
    picture->depth = raw.depth;
    picture->rowPitch = uint32_t(rowPitch);
    picture->slicePitch = uint32_t(slicePitch);
    picture->bits = static_cast<Bytes&&>(data);
    picture->offset = 0;
    return true;
}

bool ReadWholeFile(const char* path, Bytes* data, Message* error) {
    const bool useStdin = std::strcmp(path, "-") == 0;
    const char* shown = useStdin ? "standard input" : path;
    int fd = useStdin ? 0 : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error->Set("cannot open %s: %s", shown, std::strerror(errno));
        return false;
    }
    struct stat info;
    size_t capacity = 65536;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0) {
        if (uint64_t(info.st_size) >= SIZE_MAX) {
            error->Set("cannot read %s: the file is too large", shown);
            if (!useStdin) close(fd);
            return false;
        }
        capacity = size_t(info.st_size) + 1;
    } else if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        error->Set("cannot read %s: it is a directory", shown);
        if (!useStdin) close(fd);
        return false;
    }
    Bytes buffer;
    size_t used = 0;
    bool ok = buffer.Allocate(capacity);
    while (ok) {
        if (used == buffer.size() && (buffer.size() > SIZE_MAX / 2 || !buffer.Reserve(buffer.size() * 2))) {
            ok = false;
            break;
        }
        ssize_t got = read(fd, buffer.data() + used, buffer.size() - used);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error->Set("cannot read %s: %s", shown, std::strerror(errno));
            if (!useStdin) close(fd);
            return false;
        }
        if (got == 0) break;
        used += size_t(got);
    }
    if (!useStdin) close(fd);
    if (!ok) {
        error->Set("out of memory reading %s", shown);
        return false;
    }
    buffer.Shrink(used);
    *data = static_cast<Bytes&&>(buffer);
    return true;
}

}  // namespace z3az::cli
