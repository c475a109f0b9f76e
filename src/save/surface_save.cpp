#include "save/surface_save.h"

#include <algorithm>
#include <cstring>

#include "image/image_layer.h"
#include "platform/heap.h"
#include "runtime/runtime_checks.h"
#include "save/image_saver.h"
#include "z3az/data_buffer.h"

namespace z3az {
namespace {

bool IsDxt(uint32_t format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ||
           format == D3DFMT_DXT4 || format == D3DFMT_DXT5;
}

bool IsPairFormat(uint32_t format) {
    return format == D3DFMT_YUY2 || format == D3DFMT_UYVY || format == D3DFMT_R8G8_B8G8 ||
           format == D3DFMT_G8R8_G8B8;
}

template <class T>
void ReleaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// Releases an interface when it goes out of scope.
template <class T>
struct Held {
    T* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { ReleaseAndClear(p); }
};

}  // namespace

HRESULT SurfaceLock::Lock(BlitRegion* region, IDirect3DSurface9* source, const PALETTEENTRY* palette,
                          const RECT* rect, uint32_t colorKey, uint32_t flags) {
    Unlock();
    if (!region || !source) return D3DERR_INVALIDCALL;

    D3DSURFACE_DESC desc = {};
    HRESULT hr = source->GetDesc(&desc);
    if (FAILED(hr)) return hr;
    const uint32_t format = desc.Format;
    const UINT width = desc.Width;
    const UINT height = desc.Height;

    // The rectangle asked for, inside the surface; empty ones are fine.
    RECT want = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    bool partial = false;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left > rect->right || rect->top > rect->bottom ||
            static_cast<UINT>(rect->right) > width || static_cast<UINT>(rect->bottom) > height) {
            return D3DERR_INVALIDCALL;
        }
        want = *rect;
        partial = !(want.left == 0 && want.top == 0 && static_cast<UINT>(want.right) == width &&
                    static_cast<UINT>(want.bottom) == height);
    }

    const DWORD lockFlags = (flags & SurfaceLockReadOnly) ? (D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK)
                                                          : D3DLOCK_NOSYSLOCK;

    // The rectangle actually locked: whole 4x4 blocks, or whole pixel pairs.
    RECT locked = want;
    if (partial) {
        if (IsDxt(format)) {
            locked.left &= ~3;
            locked.top &= ~3;
            locked.right = static_cast<LONG>(
                std::min<uint64_t>((uint64_t(locked.right) + 3) & ~uint64_t{3}, width));
            locked.bottom = static_cast<LONG>(
                std::min<uint64_t>((uint64_t(locked.bottom) + 3) & ~uint64_t{3}, height));
        } else if (IsPairFormat(format)) {
            locked.left &= ~1;
            locked.right = static_cast<LONG>(
                std::min<uint64_t>((uint64_t(locked.right) + 1) & ~uint64_t{1}, width));
        }
        if (locked.left == 0 && locked.top == 0 && static_cast<UINT>(locked.right) == width &&
            static_cast<UINT>(locked.bottom) == height) {
            partial = false;
        }
    }
    const RECT* lockRect = partial ? &locked : nullptr;

    // Direct attempt; a refusal is expected and handled, so the debug
    // runtime is kept quiet about it.
    D3DLOCKED_RECT mapped = {};
    DebugMute(1);
    hr = source->LockRect(&mapped, lockRect, lockFlags);
    DebugMute(0);

    if (FAILED(hr)) {
        // A copy can only serve a read-only lock: nothing would carry writes
        // back into a surface that cannot be mapped.
        if (!(flags & SurfaceLockReadOnly)) return hr;

        // A block surface whose size is not whole blocks becomes level k of a
        // texture whose top level is: (W | H) << k is a multiple of 4.
        UINT level = 0;
        if (IsDxt(format) && ((width | height) & 3) != 0) level = ((width | height) & 1) ? 2 : 1;
        if ((uint64_t{width} << level) > 0xFFFFFFFFu || (uint64_t{height} << level) > 0xFFFFFFFFu) {
            return D3DERR_INVALIDCALL;
        }

        hr = source->GetDevice(&device);
        if (FAILED(hr) || !device) {
            device = nullptr;
            return FAILED(hr) ? hr : D3DERR_INVALIDCALL;
        }
        const D3DPOOL copyPool = desc.Pool == D3DPOOL_SCRATCH ? D3DPOOL_SCRATCH : D3DPOOL_SYSTEMMEM;
        hr = device->CreateTexture(width << level, height << level, level + 1, 0, desc.Format, copyPool,
                                   &copyTexture, nullptr);
        if (SUCCEEDED(hr) && !copyTexture) hr = D3DERR_INVALIDCALL;
        if (SUCCEEDED(hr)) {
            hr = copyTexture->GetSurfaceLevel(level, &copySurface);
            if (SUCCEEDED(hr) && !copySurface) hr = D3DERR_INVALIDCALL;
        }
        if (SUCCEEDED(hr)) {
            DebugMute(1);
            hr = CopySurfaceRows(source, copySurface);
            DebugMute(0);

            // A surface that cannot be mapped at all (a render target made
            // without the lockable option) goes through a lockable one.
            if (FAILED(hr) && level == 0) {
                Held<IDirect3DSurface9> target;
                hr = device->CreateRenderTarget(width, height, desc.Format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                                &target.p, nullptr);
                if (SUCCEEDED(hr) && !target.p) hr = D3DERR_INVALIDCALL;
                if (SUCCEEDED(hr)) hr = device->StretchRect(source, nullptr, target.p, nullptr, D3DTEXF_NONE);
                if (SUCCEEDED(hr)) hr = CopySurfaceRows(target.p, copySurface);
            }
        }
        if (SUCCEEDED(hr)) {
            hr = copySurface->LockRect(&mapped, lockRect, lockFlags);
        }
        if (FAILED(hr)) {
            // The copy was never locked: give everything back at once.
            ReleaseAndClear(copySurface);
            ReleaseAndClear(copyTexture);
            ReleaseAndClear(device);
            return hr;
        }
    }

    // The box in the locked area's own coordinates.
    if (partial) {
        want.left -= locked.left;
        want.right -= locked.left;
        want.top -= locked.top;
        want.bottom -= locked.top;
    }
    region->bits = mapped.pBits;
    region->format = format;
    region->rowPitch = static_cast<uint32_t>(mapped.Pitch);
    region->slicePitch = 0;
    region->bounds = ImageBox{0, 0, width, height, 0, 1};
    region->box = ImageBox{static_cast<uint32_t>(want.left), static_cast<uint32_t>(want.top),
                           static_cast<uint32_t>(want.right), static_cast<uint32_t>(want.bottom), 0, 1};
    region->dither = 1;
    region->diffuse = 0;
    region->srgb = 0;
    region->colorKey = colorKey;
    region->palette = const_cast<PALETTEENTRY*>(palette);

    readOnly = (flags & SurfaceLockReadOnly) ? 1 : 0;
    surface = source;
    surface->AddRef();
    return S_OK;
}

void SurfaceLock::Unlock() {
    if (copySurface) {
        copySurface->UnlockRect();
    } else if (surface) {
        surface->UnlockRect();
    }
    ReleaseAndClear(copySurface);
    ReleaseAndClear(copyTexture);
    ReleaseAndClear(device);
    ReleaseAndClear(surface);
    readOnly = 0;
}

HRESULT CopySurfaceRows(IDirect3DSurface9* source, IDirect3DSurface9* destination) {
    if (!source || !destination) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC from = {}, to = {};
    HRESULT hr = source->GetDesc(&from);
    if (FAILED(hr)) return hr;
    // Rows are copied at the source's size: a destination of another format
    // or size would be overrun.
    hr = destination->GetDesc(&to);
    if (FAILED(hr)) return hr;
    if (from.Format != to.Format || from.Width != to.Width || from.Height != to.Height) {
        return D3DERR_INVALIDCALL;
    }

    D3DLOCKED_RECT src = {}, dst = {};
    hr = source->LockRect(&src, nullptr, 0);
    if (FAILED(hr)) return hr;
    hr = destination->LockRect(&dst, nullptr, 0);
    if (FAILED(hr)) {
        source->UnlockRect();
        return hr;
    }

    const UINT rows = IsDxt(from.Format) ? (from.Height + 3) / 4 : from.Height;
    const INT bytes = src.Pitch < dst.Pitch ? src.Pitch : dst.Pitch;
    if (bytes > 0) {
        const uint8_t* in = static_cast<const uint8_t*>(src.pBits);
        uint8_t* out = static_cast<uint8_t*>(dst.pBits);
        for (UINT y = 0; y < rows; ++y) {
            std::memcpy(out + ptrdiff_t(y) * dst.Pitch, in + ptrdiff_t(y) * src.Pitch, size_t(bytes));
        }
    } else {
        hr = D3DERR_INVALIDCALL;  // no usable row length
    }

    destination->UnlockRect();
    source->UnlockRect();
    return hr;
}

void ImageLayer::AdoptRegion(const BlitRegion& region) {
    if (ownsBits) Free(bits);
    if (ownsPalette) Free(palette);
    format = region.format;
    bits = region.bits;
    palette = region.palette;
    box = region.box;
    rowPitch = region.rowPitch;
    slicePitch = region.slicePitch;
    // A layer starts on a block or pair boundary of the memory it points at.
    if (IsDxt(format)) {
        box.left &= ~3u;
        box.top &= ~3u;
    } else if (IsPairFormat(format)) {
        box.left &= ~1u;
    }
    ownsBits = 0;
    ownsPalette = 0;
    width = box.right - box.left;
    height = box.bottom - box.top;
    depth = box.back - box.front;
}

HRESULT SaveSurface(const void* destination, uint32_t fileFormat, const PALETTEENTRY* palette,
                    const RECT* rect, uint32_t target, IDirect3DSurface9* surface) {
    if (!destination || !surface) return D3DERR_INVALIDCALL;
    // A memory save hands out a buffer only when it gets that far; a failed
    // lock must not leave the caller's pointer as it was.
    if (target == Memory) *static_cast<IDataBuffer**>(const_cast<void*>(destination)) = nullptr;

    ImageLayer layer;
    SurfaceLock lock;
    BlitRegion region = {};
    HRESULT hr = lock.Lock(&region, surface, palette, rect, 0, SurfaceLockReadOnly);
    if (SUCCEEDED(hr)) {
        layer.AdoptRegion(region);
        hr = ImageSaver::Save(layer, destination, fileFormat, target);
    }
    if (SUCCEEDED(hr)) {
        // The output is complete; a default-pool surface of a lost device
        // may hold stale pixels, which the caller learns from the result.
        D3DSURFACE_DESC desc = {};
        if (SUCCEEDED(surface->GetDesc(&desc)) && desc.Pool == D3DPOOL_DEFAULT) {
            IDirect3DDevice9* device = nullptr;
            if (SUCCEEDED(surface->GetDevice(&device)) && device) {
                hr = device->TestCooperativeLevel() == D3D_OK ? S_OK : D3DERR_DEVICELOST;
                device->Release();
            }
        } else {
            hr = S_OK;
        }
    }
    // The lock goes first; the layer then frees what the conversion made.
    lock.Unlock();
    return hr;
}

HRESULT SaveSurfaceToFile(const char* fileName, uint32_t fileFormat, IDirect3DSurface9* surface,
                          const PALETTEENTRY* palette, const RECT* rect) {
    return SaveSurface(fileName, fileFormat, palette, rect, FileA, surface);
}

}  // namespace z3az
