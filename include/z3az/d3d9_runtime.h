// The in-memory Direct3D 9 runtime: pixels in ordinary memory, the four
// pools, COM reference counts and devices a host or test can mark lost.
//
// What a surface allows: system-memory, scratch and managed surfaces lock;
// default-pool offscreen plain surfaces lock; default-pool textures lock only
// with dynamic usage; render targets lock only when created lockable; depth
// formats other than D16_LOCKABLE and D32F_LOCKABLE never lock. StretchRect
// copies between default-pool surfaces of one format, without scaling.
//
// The controls below let tests reach every route of a caller: refuse locks,
// fail creations or any call, watch every call, read reference counts, lose
// the device and count the objects still alive.
#pragma once

#include <cstdint>

#include "z3az/d3d9.h"

extern "C" {

// A new device with one reference.
HRESULT Z3azCreateDevice(IDirect3DDevice9** device);

}  // extern "C"

namespace z3az {

// The operations the runtime counts and reports.
enum class D3DCall : uint32_t {
    QueryInterface,
    AddRef,
    Release,
    TestCooperativeLevel,
    CreateTexture,
    CreateRenderTarget,
    CreateDepthStencilSurface,
    StretchRect,
    ColorFill,
    CreateOffscreenPlainSurface,
    GetDevice,
    GetType,
    GetContainer,
    GetDesc,
    LockRect,
    UnlockRect,
    GetDC,
    ReleaseDC,
    GetLevelCount,
    GetLevelDesc,
    GetSurfaceLevel,
    TextureLockRect,
    TextureUnlockRect,
    Count
};
const char* D3DCallName(D3DCall call);

// One call as the runtime saw it, reported after it returned. Fields that do
// not apply to the call are zero.
struct D3DCallRecord {
    D3DCall call;
    IUnknown* object;       // the device, surface or texture called
    IUnknown* other;        // StretchRect: the destination; ColorFill: the surface
    IUnknown* created;      // the object handed out, if any
    UINT width;
    UINT height;
    UINT level;             // GetSurfaceLevel, texture locks: the level; CreateTexture: levels
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
    BOOL lockable;          // CreateRenderTarget
    D3DMULTISAMPLE_TYPE multiSample;
    D3DTEXTUREFILTERTYPE filter;
    BOOL hasRect;           // LockRect, StretchRect (source), ColorFill
    RECT rect;
    BOOL hasRect2;          // StretchRect: the destination rectangle
    RECT rect2;
    DWORD flags;            // LockRect
    HRESULT result;
};

typedef void (*D3DCallObserver)(const D3DCallRecord& record, void* context);
// Every call is reported to the observer (null: none).
void SetD3DCallObserver(D3DCallObserver observer, void* context);

// Calls of one operation since the last reset.
unsigned long D3DCallCount(D3DCall call);
// Clears call counts, lock refusals, failure plans and the observer.
void ResetD3DControls();

// The next `count` lock attempts of this surface (or texture level) fail with
// D3DERR_INVALIDCALL; kRefuseAlways refuses until cleared with 0.
inline constexpr unsigned long kRefuseAlways = ~0ul;
void RefuseSurfaceLocks(IDirect3DSurface9* surface, unsigned long count);
// Every lock of every surface fails while set.
void RefuseAllLocks(bool refuse);
// The nth creation from now (1-based; any Create* call of any device) fails
// with `result`; 0 disables.
void FailD3DCreationAt(unsigned long n, HRESULT result = E_OUTOFMEMORY);
// The nth call of `call` from now (1-based) returns `result` and does
// nothing else; 0 disables. AddRef and Release cannot be failed.
void FailD3DCall(D3DCall call, unsigned long n, HRESULT result);

// What TestCooperativeLevel returns from now on: D3D_OK, D3DERR_DEVICELOST or
// D3DERR_DEVICENOTRESET. Locks and copies still work on a lost device.
HRESULT SetDeviceState(IDirect3DDevice9* device, HRESULT state);

// The reference count of a runtime object (a level counts on its texture),
// read without calling AddRef or Release; 0 for something not ours.
ULONG D3DRefCount(IUnknown* object);
// Devices, surfaces, textures and texture levels alive in the process.
unsigned long LiveD3DObjectCount();
// Whether a surface is locked now (a texture level counts as a surface).
bool IsSurfaceLocked(IDirect3DSurface9* surface);
// Read-only locks whose memory was changed before the unlock.
unsigned long ReadOnlyLockViolationCount();

}  // namespace z3az
