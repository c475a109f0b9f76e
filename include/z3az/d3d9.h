// The Direct3D 9 interfaces the image library works with: devices, surfaces
// and textures, their descriptions, lock records and codes. Only the
// operations the library and its hosts use are declared; the in-memory
// runtime (z3az/d3d9_runtime.h) implements them.
#pragma once

#include <cstdint>

#include "z3az/com.h"
#include "z3az/d3dformat.h"
#include "z3az/types.h"
#include "z3az/win32.h"

#ifndef D3D_OK
#define D3D_OK S_OK
#endif

typedef DWORD D3DCOLOR;  // 0xAARRGGBB

enum D3DPOOL : uint32_t {
    D3DPOOL_DEFAULT = 0,
    D3DPOOL_MANAGED = 1,
    D3DPOOL_SYSTEMMEM = 2,
    D3DPOOL_SCRATCH = 3,
    D3DPOOL_FORCE_DWORD = 0x7fffffff,
};

enum D3DRESOURCETYPE : uint32_t {
    D3DRTYPE_SURFACE = 1,
    D3DRTYPE_VOLUME = 2,
    D3DRTYPE_TEXTURE = 3,
    D3DRTYPE_VOLUMETEXTURE = 4,
    D3DRTYPE_CUBETEXTURE = 5,
    D3DRTYPE_VERTEXBUFFER = 6,
    D3DRTYPE_INDEXBUFFER = 7,
    D3DRTYPE_FORCE_DWORD = 0x7fffffff,
};

enum D3DMULTISAMPLE_TYPE : uint32_t {
    D3DMULTISAMPLE_NONE = 0,
    D3DMULTISAMPLE_NONMASKABLE = 1,
    D3DMULTISAMPLE_2_SAMPLES = 2,
    D3DMULTISAMPLE_4_SAMPLES = 4,
    D3DMULTISAMPLE_8_SAMPLES = 8,
    D3DMULTISAMPLE_16_SAMPLES = 16,
    D3DMULTISAMPLE_FORCE_DWORD = 0x7fffffff,
};

enum D3DTEXTUREFILTERTYPE : uint32_t {
    D3DTEXF_NONE = 0,
    D3DTEXF_POINT = 1,
    D3DTEXF_LINEAR = 2,
    D3DTEXF_ANISOTROPIC = 3,
    D3DTEXF_FORCE_DWORD = 0x7fffffff,
};

// Usage bits of a resource.
#define D3DUSAGE_RENDERTARGET 0x00000001u
#define D3DUSAGE_DEPTHSTENCIL 0x00000002u
#define D3DUSAGE_DYNAMIC 0x00000200u

// Lock flags.
#define D3DLOCK_READONLY 0x00000010u
#define D3DLOCK_NOSYSLOCK 0x00000800u
#define D3DLOCK_NOOVERWRITE 0x00001000u
#define D3DLOCK_DISCARD 0x00002000u
#define D3DLOCK_DONOTWAIT 0x00004000u
#define D3DLOCK_NO_DIRTY_UPDATE 0x00008000u

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    UINT Width;
    UINT Height;
};

// A locked rectangle: its first pixel and the bytes between its rows (rows
// of 4x4 blocks for the DXT formats).
struct D3DLOCKED_RECT {
    INT Pitch;
    void* pBits;
};

// Interface ids of the in-memory runtime.
inline constexpr GUID IID_IDirect3DDevice9 = {0x5a3c0d91, 0x27e4, 0x4b1f, {0x9e, 0x61, 0x0c, 0x3d, 0x77, 0x12, 0xa8, 0x01}};
inline constexpr GUID IID_IDirect3DResource9 = {0x5a3c0d91, 0x27e4, 0x4b1f, {0x9e, 0x61, 0x0c, 0x3d, 0x77, 0x12, 0xa8, 0x02}};
inline constexpr GUID IID_IDirect3DSurface9 = {0x5a3c0d91, 0x27e4, 0x4b1f, {0x9e, 0x61, 0x0c, 0x3d, 0x77, 0x12, 0xa8, 0x03}};
inline constexpr GUID IID_IDirect3DBaseTexture9 = {0x5a3c0d91, 0x27e4, 0x4b1f, {0x9e, 0x61, 0x0c, 0x3d, 0x77, 0x12, 0xa8, 0x04}};
inline constexpr GUID IID_IDirect3DTexture9 = {0x5a3c0d91, 0x27e4, 0x4b1f, {0x9e, 0x61, 0x0c, 0x3d, 0x77, 0x12, 0xa8, 0x05}};

struct IDirect3DDevice9;

// What every surface and texture has: its device and its kind.
struct IDirect3DResource9 : IUnknown {
    // The device, with a reference the caller releases.
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual D3DRESOURCETYPE GetType() = 0;

protected:
    ~IDirect3DResource9() = default;
};

struct IDirect3DSurface9 : IDirect3DResource9 {
    // The texture a level belongs to, or the device of a surface of its own.
    virtual HRESULT GetContainer(REFIID riid, void** container) = 0;
    virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
    // Null rect: the whole surface. Fails for a surface that cannot be mapped.
    virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect() = 0;
    // A drawing context over the surface's pixels, until ReleaseDC.
    virtual HRESULT GetDC(HDC* dc) = 0;
    virtual HRESULT ReleaseDC(HDC dc) = 0;

protected:
    ~IDirect3DSurface9() = default;
};

struct IDirect3DBaseTexture9 : IDirect3DResource9 {
    virtual DWORD GetLevelCount() = 0;

protected:
    ~IDirect3DBaseTexture9() = default;
};

struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    // One level as a surface, with a reference (counted on the texture).
    virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;

protected:
    ~IDirect3DTexture9() = default;
};

struct IDirect3DDevice9 : IUnknown {
    // D3D_OK while the device can be used; D3DERR_DEVICELOST or
    // D3DERR_DEVICENOTRESET once it is lost.
    virtual HRESULT TestCooperativeLevel() = 0;
    // levels 0 asks for the whole chain down to 1 x 1.
    virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                  D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture,
                                  HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality,
                                       BOOL lockable, IDirect3DSurface9** surface,
                                       HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample,
                                              DWORD multiSampleQuality, BOOL discard,
                                              IDirect3DSurface9** surface,
                                              HANDLE* sharedHandle) = 0;
    // Copies a rectangle (null: the whole surface) between default-pool
    // surfaces of one format; the two rectangles must have the same size.
    virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect,
                                IDirect3DSurface9* destination, const RECT* destinationRect,
                                D3DTEXTUREFILTERTYPE filter) = 0;
    virtual HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) = 0;
    virtual HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format,
                                                D3DPOOL pool, IDirect3DSurface9** surface,
                                                HANDLE* sharedHandle) = 0;

protected:
    ~IDirect3DDevice9() = default;
};
