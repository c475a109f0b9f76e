// Fuzz target: a random surface of the in-memory Direct3D 9 runtime (any
// format, pool and kind of surface, a few hundred pixels at most, any
// rectangle, a level of a texture) saved to every file type through the
// memory target; and a random working image with levels, cube faces and
// depth slices saved the same way through the image saver.
//
// Checks beyond the sanitizers: a failed save hands back no buffer, a
// successful one a non-empty buffer, the surface ends unlocked with the
// reference count it had, and no runtime object outlives the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_layout.h"
#include "image/image_layer.h"
#include "image/pixel_format.h"
#include "platform/heap.h"
#include "save/image_saver.h"
#include "z3az/d3d9_runtime.h"
#include "z3az/data_buffer.h"
#include "z3az/z3az.h"

namespace {

using namespace z3az;
using namespace z3az::fuzz;

constexpr uint32_t kFileTypes = 10;  // the nine types and one past them

[[noreturn]] void Fail(const char* what, uint32_t format, uint32_t fileType, HRESULT hr) {
    std::fprintf(stderr, "save_surface: %s (format 0x%08X, file type %u, result 0x%08X)\n", what, format, fileType,
                 static_cast<unsigned>(hr));
    std::abort();
}

template <class T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

uint32_t PickFormat(FuzzedDataProvider& in) {
    // The two private formats exist only inside the library: no surface has them.
    return PixelFormatCatalogue[in.ConsumeIntegralInRange<uint32_t>(0, PixelFormatCount - 3)].format;
}

// Fills what a lock gives from the input; surfaces that refuse locks get a
// colour fill where the runtime allows one.
void Fill(FuzzedDataProvider& in, IDirect3DDevice9* device, IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc = {};
    surface->GetDesc(&desc);
    D3DLOCKED_RECT locked = {};
    if (SUCCEEDED(surface->LockRect(&locked, nullptr, 0))) {
        const size_t row = RowBytes(desc.Format, desc.Width);
        const size_t rows = RowCount(desc.Format, desc.Height);
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
        for (size_t y = 0; y < rows; ++y) {
            uint8_t* out = static_cast<uint8_t*>(locked.pBits) + y * size_t(locked.Pitch);
            for (size_t x = 0; x < row; ++x)
                out[x] = bytes.empty() ? uint8_t(x * 7 + y * 13) : bytes[(y * row + x) % bytes.size()];
        }
        surface->UnlockRect();
    } else {
        device->ColorFill(surface, nullptr, in.ConsumeIntegral<uint32_t>());
    }
}

// Saves the surface to every file type in memory and checks what comes back.
void SaveToEveryType(FuzzedDataProvider& in, IDirect3DSurface9* surface, const PALETTEENTRY* palette) {
    D3DSURFACE_DESC desc = {};
    surface->GetDesc(&desc);
    RECT rect = {};
    const bool withRect = in.ConsumeBool();
    if (withRect) {
        // Mostly inside the surface; sometimes anything.
        const int32_t w = int32_t(desc.Width), h = int32_t(desc.Height);
        rect.left = in.ConsumeIntegralInRange<int32_t>(-1, w);
        rect.top = in.ConsumeIntegralInRange<int32_t>(-1, h);
        rect.right = in.ConsumeIntegralInRange<int32_t>(rect.left - 1, w + 1);
        rect.bottom = in.ConsumeIntegralInRange<int32_t>(rect.top - 1, h + 1);
    }
    const ULONG references = D3DRefCount(surface);
    for (uint32_t type = 0; type < kFileTypes; ++type) {
        IDataBuffer* buffer = reinterpret_cast<IDataBuffer*>(uintptr_t(0x1));  // must be overwritten
        const HRESULT hr = SaveSurface(&buffer, type, palette, withRect ? &rect : nullptr, Memory, surface);
        if (SUCCEEDED(hr) || hr == D3DERR_DEVICELOST) {
            // A lost device still gets the complete output.
            if (!buffer || buffer == reinterpret_cast<IDataBuffer*>(uintptr_t(0x1)) || buffer->GetSize() == 0)
                Fail("a completed save gave no buffer", desc.Format, type, hr);
            buffer->Release();
        } else if (buffer) {
            Fail("a failed save left a buffer", desc.Format, type, hr);
        }
        if (type == 5 && hr != D3DERR_INVALIDCALL) Fail("PPM was not refused", desc.Format, type, hr);
        if (IsSurfaceLocked(surface)) Fail("the surface stayed locked", desc.Format, type, hr);
        if (D3DRefCount(surface) != references) Fail("the reference count changed", desc.Format, type, hr);
    }
}

void FuzzSurface(FuzzedDataProvider& in) {
    Released<IDirect3DDevice9> device;
    if (FAILED(Z3azCreateDevice(&device.p))) return;
    const uint32_t format = PickFormat(in);
    const uint32_t width = in.ConsumeIntegralInRange<uint32_t>(1, in.ConsumeBool() ? 300 : 20);
    const uint32_t height = in.ConsumeIntegralInRange<uint32_t>(1, in.ConsumeBool() ? 300 : 20);
    const D3DPOOL pool = static_cast<D3DPOOL>(in.ConsumeIntegralInRange<int>(0, 3));

    Released<IDirect3DSurface9> surface;
    Released<IDirect3DTexture9> texture;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            device.p->CreateOffscreenPlainSurface(width, height, D3DFORMAT(format), pool, &surface.p, nullptr);
            break;
        case 1: {
            const UINT levels = in.ConsumeIntegralInRange<UINT>(0, 4);
            const DWORD usage = in.ConsumeBool() ? D3DUSAGE_DYNAMIC : 0;
            if (SUCCEEDED(device.p->CreateTexture(width, height, levels, usage, D3DFORMAT(format), pool, &texture.p,
                                                  nullptr))) {
                const UINT level = in.ConsumeIntegralInRange<UINT>(0, texture.p->GetLevelCount() - 1);
                texture.p->GetSurfaceLevel(level, &surface.p);
            }
            break;
        }
        case 2:
            device.p->CreateRenderTarget(width, height, D3DFORMAT(format), D3DMULTISAMPLE_NONE, 0, in.ConsumeBool(),
                                         &surface.p, nullptr);
            break;
        default:
            device.p->CreateDepthStencilSurface(width, height, D3DFORMAT(format), D3DMULTISAMPLE_NONE, 0, FALSE,
                                                &surface.p, nullptr);
            break;
    }
    if (!surface.p) return;
    Fill(in, device.p, surface.p);

    PALETTEENTRY palette[256];
    const bool withPalette = in.ConsumeBool();
    if (withPalette) {
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(sizeof palette);
        std::memset(palette, 0x5A, sizeof palette);
        if (!bytes.empty()) std::memcpy(palette, bytes.data(), bytes.size());
    }
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) SetDeviceState(device.p, D3DERR_DEVICELOST);
    SaveToEveryType(in, surface.p, withPalette ? palette : nullptr);
}

// Gives `layer` pixels of its own: one level of a face, with depth slices.
bool FillLayer(FuzzedDataProvider& in, ImageLayer* layer, uint32_t format, uint32_t width, uint32_t height,
               uint32_t depth, PALETTEENTRY* palette, const std::vector<uint8_t>& pattern) {
    const size_t row = RowBytes(format, width);
    const size_t rows = RowCount(format, height);
    const size_t rowPitch = row + in.ConsumeIntegralInRange<size_t>(0, 5);
    const size_t slicePitch = rowPitch * rows;
    const size_t bytes = slicePitch * depth;
    layer->bits = Allocate(bytes);
    if (!layer->bits) return false;
    for (size_t i = 0; i < bytes; ++i)
        static_cast<uint8_t*>(layer->bits)[i] = pattern.empty() ? uint8_t(i * 29) : pattern[i % pattern.size()];
    layer->ownsBits = 1;
    layer->format = format;
    layer->palette = palette;
    layer->width = width;
    layer->height = height;
    layer->depth = depth;
    layer->box = {0, 0, width, height, 0, depth};
    layer->rowPitch = uint32_t(rowPitch);
    layer->slicePitch = uint32_t(slicePitch);
    return true;
}

// Builds a chain from `first` (which the caller owns): faces of levels, each
// level half the one before. False without memory; what was built belongs
// to `first` either way.
bool MakeChain(FuzzedDataProvider& in, ImageLayer* first, uint32_t format, PALETTEENTRY* palette) {
    const uint32_t width = in.ConsumeIntegralInRange<uint32_t>(1, 40);
    const uint32_t height = in.ConsumeIntegralInRange<uint32_t>(1, 40);
    const uint32_t depth = in.ConsumeBool() ? 1 : in.ConsumeIntegralInRange<uint32_t>(1, 6);
    const uint32_t faces = in.ConsumeBool() ? 1 : in.ConsumeIntegralInRange<uint32_t>(1, 6);
    const uint32_t levels = in.ConsumeIntegralInRange<uint32_t>(1, 4);
    const std::vector<uint8_t> pattern = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 512));

    ImageLayer* face = nullptr;
    for (uint32_t f = 0; f < faces; ++f) {
        ImageLayer* level = nullptr;
        uint32_t w = width, h = height, d = depth;
        for (uint32_t l = 0; l < levels; ++l) {
            ImageLayer* made = f == 0 && l == 0 ? first : New<ImageLayer>();
            if (!made) return false;
            if (l == 0 && f > 0) face->nextFace = made;
            if (l > 0) level->nextLevel = made;
            if (l == 0) face = made;
            level = made;
            if (!FillLayer(in, made, format, w, h, d, palette, pattern)) return false;
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
            d = d > 1 ? d / 2 : 1;
        }
    }
    return true;
}

void FuzzChain(FuzzedDataProvider& in) {
    const uint32_t format = PixelFormatCatalogue[in.ConsumeIntegralInRange<uint32_t>(0, PixelFormatCount - 1)].format;
    PALETTEENTRY palette[256];
    std::memset(palette, 0xA5, sizeof palette);
    const bool withPalette = in.ConsumeBool();
    const uint32_t type = in.ConsumeIntegralInRange<uint32_t>(0, kFileTypes - 1);
    ImageLayer layer;
    if (!MakeChain(in, &layer, format, withPalette ? palette : nullptr)) return;
    IDataBuffer* buffer = nullptr;
    const HRESULT hr = ImageSaver::Save(layer, &buffer, type, Memory);
    if (SUCCEEDED(hr)) {
        if (!buffer || buffer->GetSize() == 0) Fail("a completed save gave no buffer", format, type, hr);
        buffer->Release();
    } else if (buffer) {
        Fail("a failed save left a buffer", format, type, hr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned long alive = LiveD3DObjectCount();
    if (in.ConsumeBool())
        FuzzSurface(in);
    else
        FuzzChain(in);
    ResetD3DControls();
    if (LiveD3DObjectCount() != alive) Fail("runtime objects outlived the save", 0, 0, 0);
    return 0;
}
