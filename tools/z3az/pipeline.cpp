#include "pipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "decode.h"
#include "format_names.h"
#include "result_names.h"
#include "z3az/convert.h"
#include "z3az/d3d9.h"
#include "z3az/d3d9_runtime.h"
#include "z3az/data_buffer.h"
#include "z3az/pixel_formats.h"
#include "z3az/z3az.h"

namespace z3az::cli {
namespace {

constexpr uint32_t MaxLevels = 32;
constexpr uint32_t CubeFaces = 6;

// A COM reference released when the holder goes.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { Reset(); }
    void Reset() {
        if (object_) object_->Release();
        object_ = nullptr;
    }
    T** Out() {
        Reset();
        return &object_;
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }

private:
    T* object_ = nullptr;
};

// Messages and progress on standard error.
class Reporter {
public:
    void Configure(bool quiet) {
        quiet_ = quiet;
        progress_ = !quiet && isatty(2);
    }
    void Error(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        ClearProgress();
        va_list args;
        va_start(args, format);
        std::fputs("z3az: ", stderr);
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
        va_end(args);
    }
    // The hint that follows a message about the command line.
    void UsageHint() { std::fputs("Try 'z3az --help' for more information.\n", stderr); }
    void Warning(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (quiet_) return;
        ClearProgress();
        va_list args;
        va_start(args, format);
        std::fputs("z3az: warning: ", stderr);
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
        va_end(args);
    }
    // One line, rewritten in place, only when standard error is a terminal.
    void Progress(const char* what, unsigned done, unsigned total) {
        if (!progress_) return;
        std::fprintf(stderr, "\rz3az: %s %u/%u ", what, done, total);
        std::fflush(stderr);
        shown_ = true;
    }
    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool quiet_ = false;
    bool progress_ = false;
    bool shown_ = false;
};

Reporter reporter;

const char* Described(HRESULT result, char (&buffer)[64]) { return DescribeResult(result, buffer, sizeof buffer); }

const char* NameOf(uint32_t format) {
    const char* name = FormatNameOf(format);
    return name ? name : "?";
}

const char* Shown(const char* path) { return std::strcmp(path, "-") == 0 ? "standard input" : path; }

bool IsFloatFormat(uint32_t format) {
    switch (format) {
        case D3DFMT_R16F: case D3DFMT_G16R16F: case D3DFMT_A16B16G16R16F: case D3DFMT_R32F:
        case D3DFMT_G32R32F: case D3DFMT_A32B32G32R32F: case D3DFMT_D32F_LOCKABLE:
            return true;
        default:
            return false;
    }
}

// The format a mip chain is filtered in before each level is stored in its
// final format: wide enough that the halvings lose nothing that matters,
// and of the final format's value range, so that every level passes through
// the same range conversion as the top level.
uint32_t ChainFormatFor(uint32_t format) {
    if (IsFloatFormat(format)) return D3DFMT_A32B32G32R32F;
    PixelFormatDescription description;
    if (SUCCEEDED(DescribePixelFormat(format, &description)) && description.kind == 3) return D3DFMT_Q16W16V16U16;
    return D3DFMT_A16B16G16R16;
}

uint32_t Half(uint32_t extent) { return extent > 1 ? extent / 2 : 1; }

uint32_t FullChainLength(uint32_t width, uint32_t height, uint32_t depth) {
    uint32_t largest = width > height ? width : height;
    if (depth > largest) largest = depth;
    uint32_t levels = 1;
    while (largest > 1) {
        largest /= 2;
        ++levels;
    }
    return levels;
}

// A new picture of the format and size, rows packed; false when the sizes do
// not fit 32-bit pitches or there is no memory.
bool AllocatePicture(uint32_t format, uint32_t width, uint32_t height, uint32_t depth, Picture* picture,
                     Message* error) {
    SliceLayout layout;
    if (!LayoutOf(format, width, height, &layout)) {
        error->Set("the library does not describe the format %s", NameOf(format));
        return false;
    }
    const uint64_t slice = layout.rowBytes * layout.rows;
    size_t total;
    if (layout.rowBytes > 0xFFFFFFFFu || slice > 0xFFFFFFFFu || !MultiplySizes(size_t(slice), depth, &total)) {
        error->Set("a %ux%ux%u image in %s is too large", width, height, depth, NameOf(format));
        return false;
    }
    if (!picture->bits.Allocate(total)) {
        error->Set("out of memory for a %ux%ux%u image in %s", width, height, depth, NameOf(format));
        return false;
    }
    picture->format = format;
    picture->width = width;
    picture->height = height;
    picture->depth = depth;
    picture->rowPitch = uint32_t(layout.rowBytes);
    picture->slicePitch = uint32_t(slice);
    picture->offset = 0;
    picture->hasPalette = false;
    return true;
}

BlitRegion RegionOf(Picture& picture, uint32_t colorKey) {
    BlitRegion region = {};
    region.bits = picture.first();
    region.format = picture.format;
    region.rowPitch = picture.rowPitch;
    region.slicePitch = picture.slicePitch;
    region.bounds = {0, 0, picture.width, picture.height, 0, picture.depth};
    region.box = region.bounds;
    region.colorKey = colorKey;
    region.palette = picture.hasPalette ? picture.palette : nullptr;
    return region;
}

// Converts the whole of source into a new picture of the format and size.
bool Convert(Picture& source, uint32_t format, uint32_t width, uint32_t height, uint32_t depth, uint32_t filter,
             uint32_t colorKey, const Picture* paletteFrom, Picture* out, const char* what) {
    Message error;
    if (!AllocatePicture(format, width, height, depth, out, &error)) {
        reporter.Error("%s: %s", what, error.text);
        return false;
    }
    if (paletteFrom && paletteFrom->hasPalette) {
        std::memcpy(out->palette, paletteFrom->palette, sizeof out->palette);
        out->hasPalette = true;
    }
    BlitRegion from = RegionOf(source, colorKey);
    BlitRegion to = RegionOf(*out, 0);
    const HRESULT result = ConvertPixels(to, from, filter);
    if (FAILED(result)) {
        char text[64];
        reporter.Error("%s: converting %s %ux%ux%u to %s %ux%ux%u failed with %s", what, NameOf(source.format),
                       source.width, source.height, source.depth, NameOf(format), width, height, depth,
                       Described(result, text));
        return false;
    }
    return true;
}

// The pixels of one output: faces of levels, all in the final format.
struct Face {
    Picture levels[MaxLevels];
    uint32_t levelCount = 0;
};

// What every face of an output is made into.
struct Plan {
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 1;
    uint32_t levels = 1;
};

// Level 0 straight from the input with the whole filter word; the smaller
// levels halved with the box filter in the chain format and then stored in
// the final format. Flags are split along the way: sRGB decoding happens when
// the input is read, encoding when a level is stored, so that the halving
// averages the values the flags ask for.
bool BuildFace(Picture& input, const Options& options, const Plan& plan, Face* face, const char* what) {
    const bool convertTop = options.haveFormat || options.haveSize || options.haveColorKey || options.flags != 0 ||
                            plan.format != input.format;
    const uint32_t key = options.haveColorKey ? options.colorKey : 0;
    const uint32_t clamp = options.flags & (FilterClampU | FilterClampV | FilterClampW);
    face->levelCount = 0;
    if (plan.levels > 1) reporter.Progress("mipmap level", 1, plan.levels);
    if (convertTop) {
        if (!Convert(input, plan.format, plan.width, plan.height, plan.depth, options.FilterWord(), key, &input,
                     &face->levels[0], what)) {
            return false;
        }
    } else {
        face->levels[0] = static_cast<Picture&&>(input);
    }
    face->levelCount = 1;
    if (plan.levels == 1) return true;

    Picture& top = convertTop ? input : face->levels[0];
    const uint32_t chainFormat = ChainFormatFor(plan.format);
    Picture chain[2];
    if (!Convert(top, chainFormat, plan.width, plan.height, plan.depth,
                 options.filterKind | clamp | (options.flags & FilterSrgbIn), key, nullptr, &chain[0], what)) {
        return false;
    }
    uint32_t width = plan.width, height = plan.height, depth = plan.depth;
    for (uint32_t level = 1; level < plan.levels; ++level) {
        reporter.Progress("mipmap level", level + 1, plan.levels);
        width = Half(width);
        height = Half(height);
        depth = Half(depth);
        Picture& larger = chain[(level - 1) % 2];
        Picture& smaller = chain[level % 2];
        if (!Convert(larger, chainFormat, width, height, depth, FilterBox | clamp, 0, nullptr, &smaller, what)) {
            return false;
        }
        larger.bits = Bytes();
        const uint32_t store = FilterNone | (options.flags & (FilterDither | FilterDiffuse | FilterSrgbOut));
        if (!Convert(smaller, plan.format, width, height, depth, store, 0, &face->levels[0], &face->levels[level],
                     what)) {
            return false;
        }
        face->levelCount = level + 1;
    }
    reporter.ClearProgress();
    return true;
}

// The two private formats exist only inside the library: no surface can hold
// them. Levels in them are widened, without loss, to the 64-bit colour
// format, which is also what every file type that keeps 16-bit channels
// stores them as.
bool IsPrivateFormat(uint32_t format) { return format == PrivateFormatA16L16 || format == PrivateFormatR16G16B16; }

bool WidenPrivateLevels(Face* face, const char* what) {
    for (uint32_t level = 0; level < face->levelCount; ++level) {
        Picture& picture = face->levels[level];
        if (!IsPrivateFormat(picture.format)) continue;
        Picture wide;
        if (!Convert(picture, D3DFMT_A16B16G16R16, picture.width, picture.height, picture.depth, FilterNone, 0,
                     nullptr, &wide, what)) {
            return false;
        }
        picture = static_cast<Picture&&>(wide);
    }
    return true;
}

// Copies one slice of a picture into a locked surface.
HRESULT FillSurface(IDirect3DSurface9* surface, Picture& picture, uint32_t slice) {
    SliceLayout layout;
    if (!LayoutOf(picture.format, picture.width, picture.height, &layout)) return E_FAIL;
    D3DLOCKED_RECT locked;
    HRESULT result = surface->LockRect(&locked, nullptr, 0);
    if (FAILED(result)) return result;
    if (locked.Pitch < 0 || uint64_t(locked.Pitch) < layout.rowBytes) {
        surface->UnlockRect();
        return E_FAIL;
    }
    const uint8_t* from = picture.first() + size_t(slice) * picture.slicePitch;
    auto* to = static_cast<uint8_t*>(locked.pBits);
    for (uint32_t row = 0; row < layout.rows; ++row) {
        std::memcpy(to + size_t(row) * size_t(locked.Pitch), from + size_t(row) * picture.rowPitch,
                    size_t(layout.rowBytes));
    }
    surface->UnlockRect();
    return S_OK;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Writes bytes the tool assembled itself to the output: standard output, or
// a file that is removed again when it cannot be written completely.
bool WriteOutput(const char* path, const uint8_t* data, size_t size) {
    if (std::strcmp(path, "-") == 0) {
        if (!WriteAll(1, data, size)) {
            reporter.Error("writing standard output: %s", std::strerror(errno));
            return false;
        }
        return true;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        reporter.Error("cannot create %s: %s", path, std::strerror(errno));
        return false;
    }
    bool ok = WriteAll(fd, data, size);
    const int writeErrno = errno;
    if (close(fd) != 0) ok = false;
    if (!ok) {
        reporter.Error("writing %s: %s", path, std::strerror(writeErrno ? writeErrno : EIO));
        unlink(path);
    }
    return ok;
}

class Session {
public:
    // The device every surface of this run is made on.
    bool Begin() {
        const HRESULT result = Z3azCreateDevice(device_.Out());
        if (FAILED(result)) {
            char text[64];
            reporter.Error("creating the Direct3D 9 device failed with %s", Described(result, text));
            return false;
        }
        return true;
    }

    // A system-memory surface holding one slice of the picture.
    bool MakeSurface(Picture& picture, uint32_t slice, ComRef<IDirect3DSurface9>* surface, const char* what) {
        char text[64];
        HRESULT result = device_->CreateOffscreenPlainSurface(picture.width, picture.height,
                                                              D3DFORMAT(picture.format), D3DPOOL_SYSTEMMEM,
                                                              surface->Out(), nullptr);
        if (FAILED(result)) {
            reporter.Error("%s: creating a %ux%u %s surface failed with %s", what, picture.width, picture.height,
                           NameOf(picture.format), Described(result, text));
            return false;
        }
        result = FillSurface(surface->get(), picture, slice);
        if (FAILED(result)) {
            reporter.Error("%s: filling a %s surface failed with %s", what, NameOf(picture.format),
                           Described(result, text));
            return false;
        }
        return true;
    }

    // A system-memory texture with one level per picture of the face.
    bool MakeTexture(Face& face, ComRef<IDirect3DTexture9>* texture, const char* what) {
        char text[64];
        Picture& top = face.levels[0];
        HRESULT result = device_->CreateTexture(top.width, top.height, face.levelCount, 0, D3DFORMAT(top.format),
                                                D3DPOOL_SYSTEMMEM, texture->Out(), nullptr);
        if (FAILED(result)) {
            reporter.Error("%s: creating a %ux%u %s texture of %u levels failed with %s", what, top.width,
                           top.height, NameOf(top.format), face.levelCount, Described(result, text));
            return false;
        }
        for (uint32_t level = 0; level < face.levelCount; ++level) {
            ComRef<IDirect3DSurface9> surface;
            result = (*texture)->GetSurfaceLevel(level, surface.Out());
            if (SUCCEEDED(result)) result = FillSurface(surface.get(), face.levels[level], 0);
            if (FAILED(result)) {
                reporter.Error("%s: filling level %u of the texture failed with %s", what, level,
                               Described(result, text));
                return false;
            }
        }
        return true;
    }

    // Saves one surface as a file, or to standard output through memory.
    bool SaveOne(IDirect3DSurface9* surface, Picture& picture, const Options& options, const char* output,
                 const RECT* rect) {
        PALETTEENTRY* palette = picture.hasPalette ? picture.palette : nullptr;
        const bool toStdout = std::strcmp(output, "-") == 0;
        IDataBuffer* buffer = nullptr;
        const HRESULT result = toStdout ? SaveSurface(&buffer, options.fileType, palette, rect, Memory, surface)
                                        : SaveSurface(output, options.fileType, palette, rect, FileA, surface);
        if (FAILED(result)) {
            if (buffer) buffer->Release();
            ReportSaveFailure(result, toStdout ? "standard output" : output, options.fileType, picture.format);
            return false;
        }
        if (!toStdout) return true;
        const bool ok = WriteOutput("-", static_cast<const uint8_t*>(buffer->GetPointer()), buffer->GetSize());
        buffer->Release();
        return ok;
    }

    // The result code, and for a refused save the likely reason.
    static void ReportSaveFailure(HRESULT result, const char* output, uint32_t fileType, uint32_t format) {
        char text[64];
        const char* reason = "";
        char because[160] = "";
        if (result == D3DERR_INVALIDCALL) {
            if (fileType == ImageFilePpm) {
                reason = ": the library does not write ppm files";
            } else {
                std::snprintf(because, sizeof because, ": %s files cannot hold %s images (convert with --format)",
                              ExtensionOf(fileType), NameOf(format));
                reason = because;
            }
        }
        reporter.Error("saving %s as %s failed with %s%s", output, ExtensionOf(fileType), Described(result, text),
                       reason);
    }

    // Saves one surface as a DDS file in memory and appends what it holds to
    // a file being assembled: everything for the first image, the pixels
    // alone for the others.
    bool AppendDds(IDirect3DSurface9* surface, Picture& picture, Bytes* file, size_t* used, const char* what) {
        char text[64];
        IDataBuffer* buffer = nullptr;
        PALETTEENTRY* palette = picture.hasPalette ? picture.palette : nullptr;
        const HRESULT result = SaveSurface(&buffer, ImageFileDds, palette, nullptr, Memory, surface);
        if (FAILED(result)) {
            if (buffer) buffer->Release();
            reporter.Error("%s: saving a %ux%u %s image as DDS failed with %s", what, picture.width,
                           picture.height, NameOf(picture.format), Described(result, text));
            return false;
        }
        const auto* bytes = static_cast<const uint8_t*>(buffer->GetPointer());
        const size_t size = buffer->GetSize();
        bool ok = size >= DdsDataOffset && std::memcmp(bytes, "DDS ", 4) == 0;
        size_t dataOffset = DdsDataOffset;
        if (ok && (ReadWord(bytes, DdsPixelFlags) & DdpfPaletteIndexed8)) dataOffset += 1024;
        ok = ok && size >= dataOffset;
        if (ok && *used > 0) {
            // Every image must have been stored in the format of the first.
            ok = std::memcmp(bytes + DdsPixelFormat, file->data() + DdsPixelFormat, 32) == 0;
        }
        const size_t start = *used == 0 ? 0 : dataOffset;
        const size_t adding = ok ? size - start : 0;
        if (ok && *used + adding > file->size()) {
            size_t capacity = file->size() ? file->size() : 65536;
            while (capacity < *used + adding) capacity *= 2;
            if (!file->Reserve(capacity)) {
                buffer->Release();
                reporter.Error("%s: out of memory assembling the DDS file", what);
                return false;
            }
        }
        if (ok) {
            std::memcpy(file->data() + *used, bytes + start, adding);
            *used += adding;
        }
        buffer->Release();
        if (!ok) reporter.Error("%s: the library's DDS output for a %s image is not usable here", what,
                                NameOf(picture.format));
        return ok;
    }

    static constexpr size_t DdsDataOffset = 128;
    static constexpr size_t DdsFlags = 8;
    static constexpr size_t DdsDepth = 24;
    static constexpr size_t DdsMipMapCount = 28;
    static constexpr size_t DdsPixelFormat = 76;
    static constexpr size_t DdsPixelFlags = 80;
    static constexpr size_t DdsCaps = 108;
    static constexpr size_t DdsCaps2 = 112;
    static constexpr uint32_t DdpfPaletteIndexed8 = 0x20;

    static uint32_t ReadWord(const uint8_t* bytes, size_t offset) {
        return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
               uint32_t(bytes[offset + 3]) << 24;
    }
    static void WriteWord(uint8_t* bytes, size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = uint8_t(value >> (8 * i));
    }

    // One DDS file of several images: each face with all its levels, each
    // level with all its slices, as DDS readers expect them. The header is
    // the first image's with the marks the library's own writer gives a
    // chain of levels, of faces or of slices.
    bool SaveComposite(Face* faces, uint32_t faceCount, const Plan& plan, const char* output, const char* what) {
        Bytes file;
        size_t used = 0;
        for (uint32_t f = 0; f < faceCount; ++f) {
            Face& face = faces[f];
            if (plan.depth == 1 && face.levelCount > 1) {
                ComRef<IDirect3DTexture9> texture;
                if (!MakeTexture(face, &texture, what)) return false;
                for (uint32_t level = 0; level < face.levelCount; ++level) {
                    ComRef<IDirect3DSurface9> surface;
                    const HRESULT result = texture->GetSurfaceLevel(level, surface.Out());
                    if (FAILED(result)) {
                        char text[64];
                        reporter.Error("%s: reading level %u of the texture failed with %s", what, level,
                                       Described(result, text));
                        return false;
                    }
                    if (!AppendDds(surface.get(), face.levels[level], &file, &used, what)) return false;
                }
                continue;
            }
            for (uint32_t level = 0; level < face.levelCount; ++level) {
                Picture& picture = face.levels[level];
                for (uint32_t slice = 0; slice < picture.depth; ++slice) {
                    ComRef<IDirect3DSurface9> surface;
                    if (!MakeSurface(picture, slice, &surface, what)) return false;
                    if (!AppendDds(surface.get(), picture, &file, &used, what)) return false;
                }
            }
        }
        uint8_t* header = file.data();
        uint32_t flags = ReadWord(header, DdsFlags);
        uint32_t caps = ReadWord(header, DdsCaps);
        uint32_t caps2 = ReadWord(header, DdsCaps2);
        if (plan.levels > 1) {
            flags |= 0x20000;  // DDSD_MIPMAPCOUNT
            caps |= 0x400008;  // DDSCAPS_COMPLEX | DDSCAPS_MIPMAP
            WriteWord(header, DdsMipMapCount, plan.levels);
        }
        if (faceCount > 1) {
            caps |= 0x8;       // DDSCAPS_COMPLEX
            caps2 |= 0xFE00;   // DDSCAPS2_CUBEMAP and all six faces
        }
        if (plan.depth > 1) {
            flags |= 0x800000;  // DDSD_DEPTH
            caps2 |= 0x200000;  // DDSCAPS2_VOLUME
            WriteWord(header, DdsDepth, plan.depth);
        }
        WriteWord(header, DdsFlags, flags);
        WriteWord(header, DdsCaps, caps);
        WriteWord(header, DdsCaps2, caps2);
        return WriteOutput(output, file.data(), used);
    }

private:
    ComRef<IDirect3DDevice9> device_;
};

bool LoadPalette(const char* path, Bytes* palette) {
    Message error;
    if (!ReadWholeFile(path, palette, &error)) {
        reporter.Error("palette: %s", error.text);
        return false;
    }
    if (palette->size() != 1024) {
        reporter.Error("palette %s holds %zu bytes; a palette is 256 entries of red, green, blue and flags "
                       "(1024 bytes)",
                       path, palette->size());
        return false;
    }
    return true;
}

bool LoadInput(const char* path, const Options& options, const Bytes* palette, Picture* picture) {
    Message error;
    Bytes data;
    if (!ReadWholeFile(path, &data, &error)) {
        reporter.Error("%s", error.text);
        return false;
    }
    if (options.haveRaw) {
        SliceLayout layout;
        LayoutOf(options.raw.format, options.raw.width, options.raw.height, &layout);
        const uint64_t pitch = options.pitch ? options.pitch : layout.rowBytes;
        const uint64_t expected = pitch * layout.rows * options.raw.depth;
        const size_t size = data.size();
        if (!DecodeRaw(static_cast<Bytes&&>(data), options.raw, options.pitch, palette, picture, &error)) {
            reporter.Error("%s: %s", Shown(path), error.text);
            return false;
        }
        if (size > expected) {
            reporter.Warning("%s: %llu bytes after the %llu of the image are not read", Shown(path),
                             (unsigned long long)(size - expected), (unsigned long long)expected);
        }
        return true;
    }
    bool ok = false;
    switch (DetectInputKind(data.data(), data.size())) {
        case InputKind::Png: ok = DecodePng(data.data(), data.size(), picture, &error); break;
        case InputKind::Jpeg: ok = DecodeJpeg(data.data(), data.size(), picture, &error); break;
        case InputKind::Unknown:
            error.Set("not a PNG or JPEG image (use --raw FORMAT,WIDTH,HEIGHT for raw pixels)");
            break;
    }
    if (!ok) reporter.Error("%s: %s", Shown(path), error.text);
    return ok;
}

// One output from one input (or six for a cube map). Returns the exit status.
int ProduceOutput(const Options& options, const char* const* inputs, int inputCount, const char* output,
                  const Bytes* palette) {
    std::unique_ptr<Picture[]> pictures(new (std::nothrow) Picture[size_t(inputCount)]);
    std::unique_ptr<Face[]> faces(new (std::nothrow) Face[size_t(inputCount)]);
    if (!pictures || !faces) {
        reporter.Error("out of memory");
        return ExitFailure;
    }
    for (int i = 0; i < inputCount; ++i) {
        if (!LoadInput(inputs[i], options, palette, &pictures[i])) return ExitFailure;
    }
    Picture& first = pictures[0];
    Plan plan;
    plan.format = options.haveFormat ? options.format : first.format;
    plan.width = options.haveSize ? options.width : first.width;
    plan.height = options.haveSize ? options.height : first.height;
    plan.depth = options.haveSize && options.depth ? options.depth : first.depth;

    // Converting into a palette format needs the entries to choose from; an
    // input that is already paletted may come without them (every entry then
    // reads as opaque white).
    if (options.haveFormat && IsPaletteFormat(plan.format) && !first.hasPalette) {
        reporter.Error("storing %s needs a palette: only P8 or A8P8 input given with --palette has one",
                       NameOf(plan.format));
        reporter.UsageHint();
        return ExitUsage;
    }
    if (plan.depth > 1 && options.fileType != ImageFileDds) {
        reporter.Error("%s is a volume of %u slices; only DDS files store volumes (or give --size WxHx1)",
                       Shown(inputs[0]), plan.depth);
        reporter.UsageHint();
        return ExitUsage;
    }
    if (options.cube) {
        for (int i = 1; i < inputCount; ++i) {
            const Picture& face = pictures[i];
            if (!options.haveSize && (face.width != first.width || face.height != first.height ||
                                      face.depth != first.depth)) {
                reporter.Error("cube faces differ in size: %s is %ux%u, %s is %ux%u (give --size)",
                               Shown(inputs[0]), first.width, first.height, Shown(inputs[i]), face.width,
                               face.height);
                return ExitFailure;
            }
            if (IsPaletteFormat(plan.format) && std::memcmp(face.palette, first.palette, sizeof first.palette)) {
                reporter.Error("cube faces in %s must share one palette", NameOf(plan.format));
                return ExitFailure;
            }
        }
        if (plan.width != plan.height || plan.depth != 1) {
            reporter.Error("cube faces must be square and flat, not %ux%ux%u (give --size)", plan.width,
                           plan.height, plan.depth);
            return ExitFailure;
        }
    }
    const uint32_t fullChain = FullChainLength(plan.width, plan.height, plan.depth);
    if (options.mipAll) {
        plan.levels = fullChain;
    } else if (options.mipLevels) {
        if (options.mipLevels > fullChain) {
            reporter.Error("a %ux%ux%u image has at most %u mipmap levels, not %u", plan.width, plan.height,
                           plan.depth, fullChain, options.mipLevels);
            return ExitFailure;
        }
        plan.levels = options.mipLevels;
    }
    RECT rect = {};
    if (options.haveRect) {
        rect = {options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
        if (rect.left < 0 || rect.top < 0 || rect.left >= rect.right || rect.top >= rect.bottom ||
            uint32_t(rect.right) > plan.width || uint32_t(rect.bottom) > plan.height) {
            reporter.Error("the rectangle %d,%d,%d,%d is %s the %ux%u image", rect.left, rect.top, rect.right,
                           rect.bottom,
                           rect.left >= rect.right || rect.top >= rect.bottom ? "empty or inverted, in"
                                                                               : "not inside",
                           plan.width, plan.height);
            return ExitFailure;
        }
    }

    Session session;
    if (!session.Begin()) return ExitFailure;
    for (int i = 0; i < inputCount; ++i) {
        char what[600];
        std::snprintf(what, sizeof what, "%s", Shown(inputs[i]));
        if (!BuildFace(pictures[i], options, plan, &faces[i], what)) return ExitFailure;
        if (!WidenPrivateLevels(&faces[i], what)) return ExitFailure;
        pictures[i].bits = Bytes();
    }
    const bool single = inputCount == 1 && plan.levels == 1 && plan.depth == 1;
    if (single) {
        ComRef<IDirect3DSurface9> surface;
        if (!session.MakeSurface(faces[0].levels[0], 0, &surface, Shown(inputs[0]))) return ExitFailure;
        return session.SaveOne(surface.get(), faces[0].levels[0], options, output,
                               options.haveRect ? &rect : nullptr)
                   ? ExitOk
                   : ExitFailure;
    }
    return session.SaveComposite(faces.get(), uint32_t(inputCount), plan, output, output) ? ExitOk : ExitFailure;
}

// DIR/NAME.EXT for an input path: its base name with the type's extension.
bool OutputPathFor(const char* directory, const char* input, uint32_t fileType, char* path, size_t size) {
    const char* slash = std::strrchr(input, '/');
    const char* base = slash ? slash + 1 : input;
    const char* dot = std::strrchr(base, '.');
    const int stem = int(dot && dot != base ? size_t(dot - base) : std::strlen(base));
    const int written = std::snprintf(path, size, "%s/%.*s.%s", directory, stem, base, ExtensionOf(fileType));
    return written > 0 && size_t(written) < size;
}

}  // namespace

int RunTool(const Options& options) {
    reporter.Configure(options.quiet);
    Bytes palette;
    if (options.paletteFile && !LoadPalette(options.paletteFile, &palette)) return ExitFailure;
    const Bytes* paletteUsed = options.paletteFile ? &palette : nullptr;
    if (!options.outDir) {
        return ProduceOutput(options, options.positionals, options.inputCount, options.output, paletteUsed);
    }
    int status = ExitOk;
    for (int i = 0; i < options.inputCount; ++i) {
        reporter.Progress("file", unsigned(i + 1), unsigned(options.inputCount));
        char path[4096];
        if (!OutputPathFor(options.outDir, options.positionals[i], options.fileType, path, sizeof path)) {
            reporter.Error("%s: the output name is too long", options.positionals[i]);
            status = ExitFailure;
            continue;
        }
        const int one = ProduceOutput(options, &options.positionals[i], 1, path, paletteUsed);
        if (one > status) status = one;
    }
    reporter.ClearProgress();
    return status;
}

int ListFormats() {
    static const uint32_t types[] = {ImageFileBmp, ImageFileJpg, ImageFileTga, ImageFilePng, ImageFileDds,
                                     ImageFileDib, ImageFileHdr, ImageFilePfm};
    std::printf("%-24s %4s  %s\n", "FORMAT", "BITS", "STORED AS IT IS IN");
    for (uint32_t i = 0; i < FormatNameCount; ++i) {
        PixelFormatDescription description;
        if (FAILED(DescribePixelFormat(FormatNames[i].format, &description))) continue;
        char stored[64] = "";
        size_t length = 0;
        for (uint32_t type : types) {
            if (FileTypeStoresFormat(type, description.format)) {
                length += size_t(std::snprintf(stored + length, sizeof stored - length, "%s%s",
                                               length ? " " : "", ExtensionOf(type)));
            }
        }
        std::printf("%-24s %4u  %s\n", FormatNames[i].name, description.bitsPerPixel, length ? stored : "-");
    }
    return ExitOk;
}

}  // namespace z3az::cli
