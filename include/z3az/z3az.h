// What a host program needs to save Direct3D 9 surfaces with the image
// library: the in-memory Direct3D 9 runtime and its device factory, the
// save entries, the memory buffer a save into memory returns, the file
// types, output targets and result codes.
//
//   IDirect3DDevice9* device = nullptr;
//   Z3azCreateDevice(&device);
//   IDirect3DSurface9* surface = nullptr;
//   device->CreateOffscreenPlainSurface(640, 480, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &surface, nullptr);
//   ... draw into it (LockRect, or GetDC) ...
//   HRESULT hr = z3az::SaveSurfaceToFile("shot.png", z3az::ImageFilePng, surface, nullptr, nullptr);
//   surface->Release();
//   device->Release();
#pragma once

#include <cstdint>

#include "z3az/com.h"
#include "z3az/d3d9.h"
#include "z3az/d3d9_runtime.h"
#include "z3az/d3dformat.h"
#include "z3az/data_buffer.h"
#include "z3az/types.h"

namespace z3az {

// Saves `surface` as a file of type `fileFormat` (an ImageFileFormat) under
// an 8-bit name. palette: 256 entries for palette formats, or null. rect: the
// part to save, or null for the whole surface. S_OK on success;
// D3DERR_INVALIDCALL for a null name or surface, a rectangle outside the
// surface, or a file type that cannot be written; IMAGEERR_CANNOTCREATEFILE
// when the file cannot be created; D3DERR_DEVICELOST when the surface is in
// the default pool and its device was lost (the file is written all the
// same); otherwise the failing Direct3D call's result or E_OUTOFMEMORY.
HRESULT SaveSurfaceToFile(const char* fileName, uint32_t fileFormat, IDirect3DSurface9* surface,
                          const PALETTEENTRY* palette, const RECT* rect);

// The same for any target (an OutputTarget): FileA takes a `const char*`
// name, FileW a `const char16_t*` (UTF-16) name, and Memory an
// `IDataBuffer**` that receives a new buffer holding the file's bytes, which
// the caller releases (null when the save fails). Note that a memory save of a default-pool surface of
// a lost device stores the buffer and returns D3DERR_DEVICELOST.
HRESULT SaveSurface(const void* destination, uint32_t fileFormat, const PALETTEENTRY* palette,
                    const RECT* rect, uint32_t target, IDirect3DSurface9* surface);

}  // namespace z3az
