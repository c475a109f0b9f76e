// File saves into memory: the library's saver beside stb's writers and raw
// libpng and libjpeg calls set up as our writers set them up.
#include <cstdio>  // jpeglib.h needs FILE first
#include <cstring>

#include <jpeglib.h>
#include <png.h>
#include <stb_image_write.h>

#include <benchmark/benchmark.h>

#include "inputs.h"
#include "jobs.h"
#include "save/image_saver.h"
#include "z3az/d3dformat.h"
#include "z3az/data_buffer.h"

namespace bench {
namespace {

using benchmark::State;

// Saves a layer over the given pixels into memory; the saver converts it
// when the file type does not store its format.
void SaveOnce(State& state, void* bits, uint32_t format, uint32_t bytesPerPixel, uint32_t fileType) {
    const Inputs& in = TheInputs();
    z3az::ImageLayer layer;
    layer.format = format;
    layer.bits = bits;
    layer.width = in.frameWidth;
    layer.height = in.frameHeight;
    layer.depth = 1;
    layer.box = z3az::ImageBox{0, 0, in.frameWidth, in.frameHeight, 0, 1};
    layer.rowPitch = in.frameWidth * bytesPerPixel;
    layer.slicePitch = layer.rowPitch * in.frameHeight;
    z3az::IDataBuffer* buffer = nullptr;
    const HRESULT hr = z3az::ImageSaver::Save(layer, &buffer, fileType, z3az::Memory);
    if (FAILED(hr) || !buffer) {
        state.SkipWithError("save failed");
        return;
    }
    state.counters["bytes"] = buffer->GetSize();
    Consume(buffer->GetPointer());
    buffer->Release();
}

void SetPixels(State& state) {
    const Inputs& in = TheInputs();
    state.counters["px"] = double(in.frameWidth) * in.frameHeight;
}

void OursSave(State& state, uint32_t fileType) {
    const Inputs& in = TheInputs();
    void* bits = const_cast<uint32_t*>(in.frameXrgb.data());
    for (auto _ : state) SaveOnce(state, bits, D3DFMT_X8R8G8B8, 4, fileType);
    SetPixels(state);
}

void BmpOurs(State& state) { OursSave(state, z3az::ImageFileBmp); }
void TgaOurs(State& state) { OursSave(state, z3az::ImageFileTga); }
void PngOurs(State& state) { OursSave(state, z3az::ImageFilePng); }
void JpegOurs(State& state) { OursSave(state, z3az::ImageFileJpg); }
void HdrConvertOurs(State& state) { OursSave(state, z3az::ImageFileHdr); }

void HdrOurs(State& state) {
    const Inputs& in = TheInputs();
    void* bits = const_cast<float*>(in.frameFloat.data());
    for (auto _ : state) SaveOnce(state, bits, D3DFMT_A32B32G32R32F, 16, z3az::ImageFileHdr);
    SetPixels(state);
}

// The floor: one copy of the frame's bytes.
void FrameMemcpy(State& state) {
    const Inputs& in = TheInputs();
    const size_t n = in.frameXrgb.size() * 4;
    std::vector<uint8_t> target(n, 1);
    for (auto _ : state) {
        std::memcpy(target.data(), in.frameXrgb.data(), n);
        Consume(target.data());
    }
    SetPixels(state);
}

void BmpStb(State& state) {
    const Inputs& in = TheInputs();
    for (auto _ : state) {
        ByteSink sink;
        stbi_write_bmp_to_func(AppendToSink, &sink, int(in.frameWidth), int(in.frameHeight), 4,
                               in.frameRgba.data());
        Consume(sink.bytes);
    }
    SetPixels(state);
}

void TgaStb(State& state) {
    const Inputs& in = TheInputs();
    stbi_write_tga_with_rle = 0;
    for (auto _ : state) {
        ByteSink sink;
        stbi_write_tga_to_func(AppendToSink, &sink, int(in.frameWidth), int(in.frameHeight), 3,
                               in.frameRgb.data());
        Consume(sink.bytes);
    }
    SetPixels(state);
}

void HdrStb(State& state) {
    const Inputs& in = TheInputs();
    for (auto _ : state) {
        ByteSink sink;
        stbi_write_hdr_to_func(AppendToSink, &sink, int(in.frameWidth), int(in.frameHeight), 4,
                               in.frameFloat.data());
        Consume(sink.bytes);
    }
    SetPixels(state);
}

// Raw libpng with its defaults, rows converted from B, G, R, X to R, G, B
// one at a time as our writer does.
void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<ByteSink*>(png_get_io_ptr(png))->Append(data, length);
}
void PngFlush(png_structp) {}

// The setjmp frame holds nothing with a destructor.
bool PngEncode(ByteSink* sink, uint8_t* row) {
    const Inputs& in = TheInputs();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_IHDR(png, info, in.frameWidth, in.frameHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_write_fn(png, sink, PngWrite, PngFlush);
    png_write_info(png, info);
    for (uint32_t y = 0; y < in.frameHeight; ++y) {
        const uint8_t* src = reinterpret_cast<const uint8_t*>(in.frameXrgb.data() + size_t(y) * in.frameWidth);
        for (uint32_t x = 0; x < in.frameWidth; ++x) {
            row[3 * x] = src[4 * x + 2];
            row[3 * x + 1] = src[4 * x + 1];
            row[3 * x + 2] = src[4 * x];
        }
        png_bytep rows[1] = {row};
        png_write_rows(png, rows, 1);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void PngRaw(State& state) {
    const Inputs& in = TheInputs();
    std::vector<uint8_t> row(size_t(in.frameWidth) * 3);
    for (auto _ : state) {
        ByteSink sink;
        if (!PngEncode(&sink, row.data())) {
            state.SkipWithError("libpng failed");
            return;
        }
        state.counters["bytes"] = double(sink.used);
        Consume(sink.bytes);
    }
    SetPixels(state);
}

// Raw libjpeg: jpeg_set_defaults, a destination manager into memory, rows
// converted one at a time.
struct JpegSink {
    jpeg_destination_mgr pub;
    ByteSink* sink;
    JOCTET buffer[4096];
};
void JpegInit(j_compress_ptr cinfo) {
    JpegSink* d = reinterpret_cast<JpegSink*>(cinfo->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
}
boolean JpegEmpty(j_compress_ptr cinfo) {
    JpegSink* d = reinterpret_cast<JpegSink*>(cinfo->dest);
    d->sink->Append(d->buffer, sizeof d->buffer);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
    return TRUE;
}
void JpegTerm(j_compress_ptr cinfo) {
    JpegSink* d = reinterpret_cast<JpegSink*>(cinfo->dest);
    d->sink->Append(d->buffer, sizeof d->buffer - d->pub.free_in_buffer);
}

void JpegRaw(State& state) {
    const Inputs& in = TheInputs();
    std::vector<uint8_t> row(size_t(in.frameWidth) * 3);
    for (auto _ : state) {
        ByteSink sink;
        JpegSink dest = {};
        dest.pub.init_destination = JpegInit;
        dest.pub.empty_output_buffer = JpegEmpty;
        dest.pub.term_destination = JpegTerm;
        dest.sink = &sink;
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        cinfo.image_width = in.frameWidth;
        cinfo.image_height = in.frameHeight;
        cinfo.input_components = 3;
        cinfo.dest = &dest.pub;
        jpeg_start_compress(&cinfo, TRUE);
        for (uint32_t y = 0; y < in.frameHeight; ++y) {
            const uint8_t* src = reinterpret_cast<const uint8_t*>(in.frameXrgb.data() + size_t(y) * in.frameWidth);
            for (uint32_t x = 0; x < in.frameWidth; ++x) {
                row[3 * x] = src[4 * x + 2];
                row[3 * x + 1] = src[4 * x + 1];
                row[3 * x + 2] = src[4 * x];
            }
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        state.counters["bytes"] = double(sink.used);
        Consume(sink.bytes);
    }
    SetPixels(state);
}

}  // namespace

void RegisterSaveJobs() {
    benchmark::RegisterBenchmark("bmp/memcpy", FrameMemcpy);
    benchmark::RegisterBenchmark("bmp/z3az", BmpOurs);
    benchmark::RegisterBenchmark("bmp/stb", BmpStb);
    benchmark::RegisterBenchmark("tga/z3az", TgaOurs);
    benchmark::RegisterBenchmark("tga/stb", TgaStb);
    benchmark::RegisterBenchmark("png/z3az", PngOurs)->Iterations(2);
    benchmark::RegisterBenchmark("png/libpng", PngRaw)->Iterations(2);
    benchmark::RegisterBenchmark("jpeg/z3az", JpegOurs);
    benchmark::RegisterBenchmark("jpeg/libjpeg", JpegRaw);
    benchmark::RegisterBenchmark("hdr/z3az", HdrOurs);
    benchmark::RegisterBenchmark("hdr-convert/z3az", HdrConvertOurs);
    benchmark::RegisterBenchmark("hdr/stb", HdrStb);
}

}  // namespace bench
