// Saving a Direct3D 9 surface: lock it for reading (directly, or through a
// system-memory copy when the runtime refuses), describe the locked pixels
// as a working image without copying them, hand it to the image saver, and
// release everything again.
#pragma once

#include <cstdint>

#include "z3az/d3d9.h"
#include "z3az/types.h"
#include "z3az/z3az.h"  // SaveSurface and SaveSurfaceToFile

namespace z3az {

// SurfaceLock::Lock flag: lock for reading only; nothing is written back.
inline constexpr uint32_t SurfaceLockReadOnly = 1;

// One lock on one surface. It owns one reference to each interface it holds,
// from a successful Lock to Unlock (or its destruction).
struct SurfaceLock {
    uint32_t readOnly = 0;
    IDirect3DSurface9* surface = nullptr;      // the surface locked or copied
    IDirect3DSurface9* copySurface = nullptr;  // the locked copy, or null
    IDirect3DTexture9* copyTexture = nullptr;  // the texture copySurface is a level of
    IDirect3DDevice9* device = nullptr;        // the surface's device, when copying

    SurfaceLock() = default;
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;
    ~SurfaceLock() { Unlock(); }

    // Locks `rect` (null: the whole surface) of `surface` and describes it in
    // `region`. A surface that refuses a read-only lock is copied, in its own
    // format, into a system-memory (or scratch) texture level that is locked
    // instead; a writable lock is only ever taken directly.
    HRESULT Lock(BlitRegion* region, IDirect3DSurface9* surface, const PALETTEENTRY* palette,
                 const RECT* rect, uint32_t colorKey, uint32_t flags);
    // Unlocks and releases whatever the lock holds; harmless when idle.
    void Unlock();
};

// Copies the pixel rows of `source` into `destination`, a surface of the
// same format and size.
HRESULT CopySurfaceRows(IDirect3DSurface9* source, IDirect3DSurface9* destination);

}  // namespace z3az
