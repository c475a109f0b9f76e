// The in-memory Direct3D 9 runtime. Devices, surfaces and textures are
// plain objects with COM reference counts; pixels live in memory from the
// library's heap. A texture owns its levels: a level's AddRef and Release
// count on the texture, and the levels go when the texture goes. Every
// resource holds one reference to its device.
#include "z3az/d3d9_runtime.h"

#include <cstring>
#include <mutex>

#include "platform/heap.h"
#include "platform/win_gdi.h"

namespace z3az {
namespace {

// ---------------------------------------------------------------------------
// Formats: how a format's pixels lie in memory.
// ---------------------------------------------------------------------------
enum class Layout : uint8_t { Plain, Block, Pair };

struct FormatLayout {
    uint32_t format;
    Layout layout;
    uint8_t bytes;        // per pixel, per 4x4 block, or per two pixels
    uint8_t depth;        // 1 depth format that never locks, 2 lockable depth
};

constexpr FormatLayout kFormats[] = {
    {D3DFMT_R8G8B8, Layout::Plain, 3, 0},
    {D3DFMT_A8R8G8B8, Layout::Plain, 4, 0},
    {D3DFMT_X8R8G8B8, Layout::Plain, 4, 0},
    {D3DFMT_R5G6B5, Layout::Plain, 2, 0},
    {D3DFMT_X1R5G5B5, Layout::Plain, 2, 0},
    {D3DFMT_A8P8, Layout::Plain, 2, 0},
    {D3DFMT_P8, Layout::Plain, 1, 0},
    {D3DFMT_A1R5G5B5, Layout::Plain, 2, 0},
    {D3DFMT_A4R4G4B4, Layout::Plain, 2, 0},
    {D3DFMT_R3G3B2, Layout::Plain, 1, 0},
    {D3DFMT_A8, Layout::Plain, 1, 0},
    {D3DFMT_A8R3G3B2, Layout::Plain, 2, 0},
    {D3DFMT_X4R4G4B4, Layout::Plain, 2, 0},
    {D3DFMT_A2B10G10R10, Layout::Plain, 4, 0},
    {D3DFMT_A8B8G8R8, Layout::Plain, 4, 0},
    {D3DFMT_X8B8G8R8, Layout::Plain, 4, 0},
    {D3DFMT_G16R16, Layout::Plain, 4, 0},
    {D3DFMT_A2R10G10B10, Layout::Plain, 4, 0},
    {D3DFMT_A16B16G16R16, Layout::Plain, 8, 0},
    {D3DFMT_L8, Layout::Plain, 1, 0},
    {D3DFMT_A8L8, Layout::Plain, 2, 0},
    {D3DFMT_A4L4, Layout::Plain, 1, 0},
    {D3DFMT_L16, Layout::Plain, 2, 0},
    {D3DFMT_V8U8, Layout::Plain, 2, 0},
    {D3DFMT_L6V5U5, Layout::Plain, 2, 0},
    {D3DFMT_X8L8V8U8, Layout::Plain, 4, 0},
    {D3DFMT_Q8W8V8U8, Layout::Plain, 4, 0},
    {D3DFMT_V16U16, Layout::Plain, 4, 0},
    {D3DFMT_A2W10V10U10, Layout::Plain, 4, 0},
    {D3DFMT_Q16W16V16U16, Layout::Plain, 8, 0},
    {D3DFMT_CxV8U8, Layout::Plain, 2, 0},
    {D3DFMT_UYVY, Layout::Pair, 4, 0},
    {D3DFMT_R8G8_B8G8, Layout::Pair, 4, 0},
    {D3DFMT_YUY2, Layout::Pair, 4, 0},
    {D3DFMT_G8R8_G8B8, Layout::Pair, 4, 0},
    {D3DFMT_DXT1, Layout::Block, 8, 0},
    {D3DFMT_DXT2, Layout::Block, 16, 0},
    {D3DFMT_DXT3, Layout::Block, 16, 0},
    {D3DFMT_DXT4, Layout::Block, 16, 0},
    {D3DFMT_DXT5, Layout::Block, 16, 0},
    {D3DFMT_D16_LOCKABLE, Layout::Plain, 2, 2},
    {D3DFMT_D32F_LOCKABLE, Layout::Plain, 4, 2},
    {D3DFMT_D32, Layout::Plain, 4, 1},
    {D3DFMT_D15S1, Layout::Plain, 2, 1},
    {D3DFMT_D24S8, Layout::Plain, 4, 1},
    {D3DFMT_D16, Layout::Plain, 2, 1},
    {D3DFMT_D24X8, Layout::Plain, 4, 1},
    {D3DFMT_D24X4S4, Layout::Plain, 4, 1},
    {D3DFMT_D24FS8, Layout::Plain, 4, 1},
    {D3DFMT_R16F, Layout::Plain, 2, 0},
    {D3DFMT_G16R16F, Layout::Plain, 4, 0},
    {D3DFMT_A16B16G16R16F, Layout::Plain, 8, 0},
    {D3DFMT_R32F, Layout::Plain, 4, 0},
    {D3DFMT_G32R32F, Layout::Plain, 8, 0},
    {D3DFMT_A32B32G32R32F, Layout::Plain, 16, 0},
};

const FormatLayout* FindLayout(uint32_t format) {
    for (const FormatLayout& f : kFormats) {
        if (f.format == format) return &f;
    }
    return nullptr;
}

// The largest side the runtime accepts; keeps every size product in range.
constexpr UINT kMaxSide = 16384;

// Bytes per row (per row of blocks) and rows of a surface.
void MemoryShape(const FormatLayout& f, UINT width, UINT height, uint32_t& pitch, uint32_t& rows) {
    switch (f.layout) {
    case Layout::Block:
        pitch = ((width + 3) / 4) * f.bytes;
        rows = (height + 3) / 4;
        break;
    case Layout::Pair:
        pitch = ((width + 1) / 2) * f.bytes;
        rows = height;
        break;
    case Layout::Plain:
        pitch = (width * f.bytes + 3) & ~3u;  // rows start on 4-byte boundaries
        rows = height;
        break;
    }
}

// A colour fill: where each channel of D3DCOLOR goes in a pixel. The X bits
// of the X formats receive the colour's alpha.
struct FillLayout {
    uint32_t format;
    uint8_t bytes;
    uint8_t aBits, aShift, rBits, rShift, gBits, gShift, bBits, bShift;
};

constexpr FillLayout kFillFormats[] = {
    {D3DFMT_R8G8B8, 3, 0, 0, 8, 16, 8, 8, 8, 0},
    {D3DFMT_A8R8G8B8, 4, 8, 24, 8, 16, 8, 8, 8, 0},
    {D3DFMT_X8R8G8B8, 4, 8, 24, 8, 16, 8, 8, 8, 0},
    {D3DFMT_R5G6B5, 2, 0, 0, 5, 11, 6, 5, 5, 0},
    {D3DFMT_X1R5G5B5, 2, 1, 15, 5, 10, 5, 5, 5, 0},
    {D3DFMT_A1R5G5B5, 2, 1, 15, 5, 10, 5, 5, 5, 0},
    {D3DFMT_A4R4G4B4, 2, 4, 12, 4, 8, 4, 4, 4, 0},
    {D3DFMT_X4R4G4B4, 2, 4, 12, 4, 8, 4, 4, 4, 0},
    {D3DFMT_R3G3B2, 1, 0, 0, 3, 5, 3, 2, 2, 0},
    {D3DFMT_A8, 1, 8, 0, 0, 0, 0, 0, 0, 0},
    {D3DFMT_A8R3G3B2, 2, 8, 8, 3, 5, 3, 2, 2, 0},
    {D3DFMT_A2B10G10R10, 4, 2, 30, 10, 0, 10, 10, 10, 20},
    {D3DFMT_A8B8G8R8, 4, 8, 24, 8, 0, 8, 8, 8, 16},
    {D3DFMT_X8B8G8R8, 4, 8, 24, 8, 0, 8, 8, 8, 16},
    {D3DFMT_G16R16, 4, 0, 0, 16, 0, 16, 16, 0, 0},
    {D3DFMT_A2R10G10B10, 4, 2, 30, 10, 20, 10, 10, 10, 0},
    {D3DFMT_A16B16G16R16, 8, 16, 48, 16, 0, 16, 16, 16, 32},
};

uint64_t ScaleChannel(uint32_t value8, uint32_t bits) {
    if (bits == 0) return 0;
    uint64_t max = (uint64_t{1} << bits) - 1;
    return (value8 * max + 127) / 255;
}

// FNV-1a over the memory, to notice writes made under a read-only lock.
uint64_t Fingerprint(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

// ---------------------------------------------------------------------------
// Process-wide controls and counts.
// ---------------------------------------------------------------------------
struct Controls {
    std::mutex mutex;
    unsigned long counts[static_cast<size_t>(D3DCall::Count)] = {};
    unsigned long failAt[static_cast<size_t>(D3DCall::Count)] = {};
    HRESULT failResult[static_cast<size_t>(D3DCall::Count)] = {};
    unsigned long creationFailAt = 0;
    HRESULT creationFailResult = E_OUTOFMEMORY;
    bool refuseAll = false;
    D3DCallObserver observer = nullptr;
    void* observerContext = nullptr;
    unsigned long live = 0;
    unsigned long readOnlyViolations = 0;
};

Controls& State() {
    static Controls* controls = new Controls;  // lives for the whole process
    return *controls;
}

// Counts a call; returns the planned failure for it, or S_OK.
HRESULT CountCall(D3DCall call) {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    size_t i = static_cast<size_t>(call);
    ++c.counts[i];
    if (c.failAt[i] != 0 && --c.failAt[i] == 0) return c.failResult[i];
    return S_OK;
}

HRESULT CountCreation() {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.creationFailAt != 0 && --c.creationFailAt == 0) return c.creationFailResult;
    return S_OK;
}

void Report(const D3DCallRecord& record) {
    D3DCallObserver observer;
    void* context;
    {
        Controls& c = State();
        std::lock_guard<std::mutex> lock(c.mutex);
        observer = c.observer;
        context = c.observerContext;
    }
    if (observer) observer(record, context);
}

D3DCallRecord NewRecord(D3DCall call, IUnknown* object) {
    D3DCallRecord r;
    std::memset(&r, 0, sizeof r);
    r.call = call;
    r.object = object;
    return r;
}

void SetRect(D3DCallRecord& r, const RECT* rect) {
    if (rect) {
        r.hasRect = TRUE;
        r.rect = *rect;
    }
}

void AddLive(long delta) {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.live += delta;
}

// Private interface id: QueryInterface hands out the runtime's own object
// behind an interface, without a reference.
constexpr GUID kIidRuntimeObject = {0x5a3c0d91, 0x27e4, 0x4b1f, {0x9e, 0x61, 0x0c, 0x3d, 0x77, 0x12, 0xa8, 0xff}};

class Device;
class Texture;

// ---------------------------------------------------------------------------
// Objects.
// ---------------------------------------------------------------------------
struct ObjectBase {
    virtual ~ObjectBase() = default;
    virtual ULONG RefCount() const = 0;
};

class Surface final : public IDirect3DSurface9, public ObjectBase {
public:
    Surface(Device* device, Texture* container, const FormatLayout& layout,
            const D3DSURFACE_DESC& desc, bool lockable)
        : device_(device), container_(container), layout_(layout), desc_(desc),
          lockable_(lockable) {
        AddLive(1);
    }
    ~Surface() override;

    // Allocates the pixels; false when memory runs out.
    bool Init() {
        MemoryShape(layout_, desc_.Width, desc_.Height, pitch_, rows_);
        size_t bytes = size_t{pitch_} * rows_;
        bits_ = static_cast<uint8_t*>(Allocate(bytes));
        if (!bits_) return false;
        std::memset(bits_, 0, bytes ? bytes : 1);
        return true;
    }

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // IDirect3DResource9
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override {
        CountCall(D3DCall::GetType);
        Report(NewRecord(D3DCall::GetType, this));
        return D3DRTYPE_SURFACE;
    }
    // IDirect3DSurface9
    HRESULT GetContainer(REFIID riid, void** container) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override {
        D3DCallRecord r = NewRecord(D3DCall::GetDesc, this);
        HRESULT hr = CountCall(D3DCall::GetDesc);
        if (SUCCEEDED(hr)) hr = desc ? (*desc = desc_, D3D_OK) : D3DERR_INVALIDCALL;
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        D3DCallRecord r = NewRecord(D3DCall::LockRect, this);
        SetRect(r, rect);
        r.flags = flags;
        HRESULT hr = CountCall(D3DCall::LockRect);
        if (SUCCEEDED(hr)) hr = Lock(locked, rect, flags);
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT UnlockRect() override {
        D3DCallRecord r = NewRecord(D3DCall::UnlockRect, this);
        HRESULT hr = CountCall(D3DCall::UnlockRect);
        if (SUCCEEDED(hr)) hr = Unlock();
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT GetDC(HDC* dc) override {
        D3DCallRecord r = NewRecord(D3DCall::GetDC, this);
        HRESULT hr = CountCall(D3DCall::GetDC);
        if (SUCCEEDED(hr)) hr = MakeDC(dc);
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT ReleaseDC(HDC dc) override {
        D3DCallRecord r = NewRecord(D3DCall::ReleaseDC, this);
        HRESULT hr = CountCall(D3DCall::ReleaseDC);
        if (SUCCEEDED(hr)) {
            if (!dc_ || dc != dc_) {
                hr = D3DERR_INVALIDCALL;
            } else {
                DestroyMemoryDC(dc_);
                dc_ = nullptr;
            }
        }
        r.result = hr;
        Report(r);
        return hr;
    }

    ULONG RefCount() const override;

    // Runtime-internal operations, not counted.
    HRESULT Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
    HRESULT Unlock();
    HRESULT MakeDC(HDC* dc);
    HRESULT Fill(const RECT* rect, D3DCOLOR color);
    bool ValidRect(const RECT& rect) const;
    uint8_t* Address(LONG x, LONG y) const;

    Device* device_;
    Texture* container_;
    FormatLayout layout_;
    D3DSURFACE_DESC desc_;
    bool lockable_;
    uint8_t* bits_ = nullptr;
    uint32_t pitch_ = 0;
    uint32_t rows_ = 0;
    ULONG refs_ = 1;           // surfaces of their own only
    bool locked_ = false;
    bool readOnlyLock_ = false;
    uint64_t lockPrint_ = 0;
    HDC dc_ = nullptr;
    unsigned long refuseLocks_ = 0;
};

class Texture final : public IDirect3DTexture9, public ObjectBase {
public:
    Texture(Device* device, DWORD usage, D3DPOOL pool) : device_(device), usage_(usage), pool_(pool) {
        AddLive(1);
    }
    ~Texture() override;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    ULONG ReleaseInternal();
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override {
        CountCall(D3DCall::GetType);
        Report(NewRecord(D3DCall::GetType, this));
        return D3DRTYPE_TEXTURE;
    }
    DWORD GetLevelCount() override {
        CountCall(D3DCall::GetLevelCount);
        Report(NewRecord(D3DCall::GetLevelCount, this));
        return levelCount_;
    }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        D3DCallRecord r = NewRecord(D3DCall::GetLevelDesc, this);
        r.level = level;
        HRESULT hr = CountCall(D3DCall::GetLevelDesc);
        if (SUCCEEDED(hr)) {
            hr = (level < levelCount_ && desc) ? (*desc = levels_[level]->desc_, D3D_OK)
                                               : D3DERR_INVALIDCALL;
        }
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override {
        D3DCallRecord r = NewRecord(D3DCall::GetSurfaceLevel, this);
        r.level = level;
        HRESULT hr = CountCall(D3DCall::GetSurfaceLevel);
        if (surface && FAILED(hr)) *surface = nullptr;
        if (SUCCEEDED(hr)) {
            if (!surface || level >= levelCount_) {
                if (surface) *surface = nullptr;
                hr = D3DERR_INVALIDCALL;
            } else {
                ++refs_;
                *surface = levels_[level];
                r.created = levels_[level];
            }
        }
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        D3DCallRecord r = NewRecord(D3DCall::TextureLockRect, this);
        r.level = level;
        SetRect(r, rect);
        r.flags = flags;
        HRESULT hr = CountCall(D3DCall::TextureLockRect);
        if (SUCCEEDED(hr)) hr = level < levelCount_ ? levels_[level]->Lock(locked, rect, flags)
                                                    : D3DERR_INVALIDCALL;
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT UnlockRect(UINT level) override {
        D3DCallRecord r = NewRecord(D3DCall::TextureUnlockRect, this);
        r.level = level;
        HRESULT hr = CountCall(D3DCall::TextureUnlockRect);
        if (SUCCEEDED(hr)) hr = level < levelCount_ ? levels_[level]->Unlock() : D3DERR_INVALIDCALL;
        r.result = hr;
        Report(r);
        return hr;
    }

    ULONG RefCount() const override { return refs_; }

    Device* device_;
    DWORD usage_;
    D3DPOOL pool_;
    Surface** levels_ = nullptr;
    UINT levelCount_ = 0;
    ULONG refs_ = 1;
};

class Device final : public IDirect3DDevice9, public ObjectBase {
public:
    Device() { AddLive(1); }
    ~Device() override { AddLive(-1); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        D3DCallRecord r = NewRecord(D3DCall::QueryInterface, this);
        HRESULT hr = S_OK;
        if (!object) {
            hr = E_POINTER;
        } else if (riid == kIidRuntimeObject) {
            *object = static_cast<ObjectBase*>(this);
        } else if (riid == IID_IUnknown || riid == IID_IDirect3DDevice9) {
            ++refs_;
            *object = static_cast<IDirect3DDevice9*>(this);
        } else {
            *object = nullptr;
            hr = E_NOINTERFACE;
        }
        if (!(riid == kIidRuntimeObject)) {
            CountCall(D3DCall::QueryInterface);
            r.result = hr;
            Report(r);
        }
        return hr;
    }
    ULONG AddRef() override {
        CountCall(D3DCall::AddRef);
        ULONG n = ++refs_;
        Report(NewRecord(D3DCall::AddRef, this));
        return n;
    }
    ULONG Release() override {
        CountCall(D3DCall::Release);
        Report(NewRecord(D3DCall::Release, this));
        return ReleaseInternal();
    }
    ULONG ReleaseInternal() {
        ULONG n = --refs_;
        if (n == 0) Delete(this);
        return n;
    }

    HRESULT TestCooperativeLevel() override {
        D3DCallRecord r = NewRecord(D3DCall::TestCooperativeLevel, this);
        HRESULT hr = CountCall(D3DCall::TestCooperativeLevel);
        if (SUCCEEDED(hr)) hr = state_;
        r.result = hr;
        Report(r);
        return hr;
    }

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                               D3DMULTISAMPLE_TYPE multiSample, DWORD quality, BOOL lockable,
                               IDirect3DSurface9** surface, HANDLE* shared) override {
        D3DCallRecord r = NewRecord(D3DCall::CreateRenderTarget, this);
        r.width = width;
        r.height = height;
        r.format = format;
        r.lockable = lockable;
        r.multiSample = multiSample;
        HRESULT hr = CountCall(D3DCall::CreateRenderTarget);
        if (SUCCEEDED(hr)) {
            const FormatLayout* f = FindLayout(format);
            bool valid = f && !f->depth && !(lockable && multiSample != D3DMULTISAMPLE_NONE) &&
                         multiSample <= D3DMULTISAMPLE_16_SAMPLES;
            hr = valid ? MakeSurface(width, height, format, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET,
                                     multiSample, quality, lockable != FALSE, surface, shared)
                       : Refuse(surface);
        } else if (surface) {
            *surface = nullptr;
        }
        r.created = surface ? *surface : nullptr;
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                      D3DMULTISAMPLE_TYPE multiSample, DWORD quality, BOOL,
                                      IDirect3DSurface9** surface, HANDLE* shared) override {
        D3DCallRecord r = NewRecord(D3DCall::CreateDepthStencilSurface, this);
        r.width = width;
        r.height = height;
        r.format = format;
        r.multiSample = multiSample;
        HRESULT hr = CountCall(D3DCall::CreateDepthStencilSurface);
        if (SUCCEEDED(hr)) {
            const FormatLayout* f = FindLayout(format);
            hr = (f && f->depth && multiSample <= D3DMULTISAMPLE_16_SAMPLES)
                     ? MakeSurface(width, height, format, D3DPOOL_DEFAULT, D3DUSAGE_DEPTHSTENCIL,
                                   multiSample, quality, f->depth == 2, surface, shared)
                     : Refuse(surface);
        } else if (surface) {
            *surface = nullptr;
        }
        r.created = surface ? *surface : nullptr;
        r.result = hr;
        Report(r);
        return hr;
    }
    HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect,
                        IDirect3DSurface9* destination, const RECT* destinationRect,
                        D3DTEXTUREFILTERTYPE filter) override;
    HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* shared) override {
        D3DCallRecord r = NewRecord(D3DCall::CreateOffscreenPlainSurface, this);
        r.width = width;
        r.height = height;
        r.format = format;
        r.pool = pool;
        HRESULT hr = CountCall(D3DCall::CreateOffscreenPlainSurface);
        if (SUCCEEDED(hr)) {
            bool valid = FindLayout(format) && (pool == D3DPOOL_DEFAULT ||
                                                pool == D3DPOOL_SYSTEMMEM || pool == D3DPOOL_SCRATCH);
            const FormatLayout* f = FindLayout(format);
            hr = valid ? MakeSurface(width, height, format, pool, 0, D3DMULTISAMPLE_NONE, 0,
                                     f->depth != 1, surface, shared)
                       : Refuse(surface);
        } else if (surface) {
            *surface = nullptr;
        }
        r.created = surface ? *surface : nullptr;
        r.result = hr;
        Report(r);
        return hr;
    }

    ULONG RefCount() const override { return refs_; }

    static HRESULT Refuse(IDirect3DSurface9** surface) {
        if (surface) *surface = nullptr;
        return D3DERR_INVALIDCALL;
    }

    HRESULT MakeSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, DWORD usage,
                        D3DMULTISAMPLE_TYPE multiSample, DWORD quality, bool lockable,
                        IDirect3DSurface9** out, HANDLE* shared) {
        if (!out) return D3DERR_INVALIDCALL;
        *out = nullptr;
        if (shared || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
            return D3DERR_INVALIDCALL;
        }
        HRESULT hr = CountCreation();
        if (FAILED(hr)) return hr;
        D3DSURFACE_DESC desc = {format, D3DRTYPE_SURFACE, usage, pool, multiSample, quality,
                                width, height};
        Surface* s = New<Surface>(this, nullptr, *FindLayout(format), desc, lockable);
        if (!s) return E_OUTOFMEMORY;
        ++refs_;  // the surface's reference to its device
        if (!s->Init()) {
            Delete(s);
            --refs_;
            return E_OUTOFMEMORY;
        }
        *out = s;
        return D3D_OK;
    }

    ULONG refs_ = 1;
    HRESULT state_ = D3D_OK;
};

// ---------------------------------------------------------------------------
// Surface.
// ---------------------------------------------------------------------------
Surface::~Surface() {
    if (dc_) DestroyMemoryDC(dc_);
    Free(bits_);
    AddLive(-1);
}

HRESULT Surface::QueryInterface(REFIID riid, void** object) {
    if (object && riid == kIidRuntimeObject) {
        *object = static_cast<ObjectBase*>(this);
        return S_OK;
    }
    CountCall(D3DCall::QueryInterface);
    D3DCallRecord r = NewRecord(D3DCall::QueryInterface, this);
    HRESULT hr = S_OK;
    if (!object) {
        hr = E_POINTER;
    } else if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 ||
               riid == IID_IDirect3DSurface9) {
        if (container_) {
            ++container_->refs_;
        } else {
            ++refs_;
        }
        *object = static_cast<IDirect3DSurface9*>(this);
    } else {
        *object = nullptr;
        hr = E_NOINTERFACE;
    }
    r.result = hr;
    Report(r);
    return hr;
}

ULONG Surface::AddRef() {
    CountCall(D3DCall::AddRef);
    ULONG n = container_ ? ++container_->refs_ : ++refs_;
    Report(NewRecord(D3DCall::AddRef, this));
    return n;
}

ULONG Surface::Release() {
    CountCall(D3DCall::Release);
    Report(NewRecord(D3DCall::Release, this));
    if (container_) return container_->ReleaseInternal();
    ULONG n = --refs_;
    if (n == 0) {
        Device* device = device_;
        Delete(this);
        device->ReleaseInternal();
    }
    return n;
}

ULONG Surface::RefCount() const { return container_ ? container_->refs_ : refs_; }

HRESULT Surface::GetDevice(IDirect3DDevice9** device) {
    D3DCallRecord r = NewRecord(D3DCall::GetDevice, this);
    HRESULT hr = CountCall(D3DCall::GetDevice);
    if (SUCCEEDED(hr)) {
        if (!device) {
            hr = D3DERR_INVALIDCALL;
        } else {
            ++device_->refs_;
            *device = device_;
            r.created = device_;
        }
    } else if (device) {
        *device = nullptr;
    }
    r.result = hr;
    Report(r);
    return hr;
}

HRESULT Surface::GetContainer(REFIID riid, void** container) {
    D3DCallRecord r = NewRecord(D3DCall::GetContainer, this);
    HRESULT hr = CountCall(D3DCall::GetContainer);
    if (SUCCEEDED(hr)) {
        if (!container) {
            hr = D3DERR_INVALIDCALL;
        } else if (container_) {
            hr = container_->QueryInterface(riid, container);
        } else {
            hr = device_->QueryInterface(riid, container);
        }
    }
    r.result = hr;
    Report(r);
    return hr;
}

bool Surface::ValidRect(const RECT& rect) const {
    if (rect.left < 0 || rect.top < 0 || rect.left > rect.right || rect.top > rect.bottom) {
        return false;
    }
    if (static_cast<UINT>(rect.right) > desc_.Width || static_cast<UINT>(rect.bottom) > desc_.Height) {
        return false;
    }
    // Block formats lock whole blocks; pair formats whole pairs. An edge that
    // ends at the surface's edge may end inside a block or pair.
    auto edgeOk = [](LONG v, UINT size, LONG step) {
        return v % step == 0 || static_cast<UINT>(v) == size;
    };
    switch (layout_.layout) {
    case Layout::Block:
        return rect.left % 4 == 0 && rect.top % 4 == 0 && edgeOk(rect.right, desc_.Width, 4) &&
               edgeOk(rect.bottom, desc_.Height, 4);
    case Layout::Pair:
        return rect.left % 2 == 0 && edgeOk(rect.right, desc_.Width, 2);
    case Layout::Plain:
        break;
    }
    return true;
}

uint8_t* Surface::Address(LONG x, LONG y) const {
    switch (layout_.layout) {
    case Layout::Block:
        return bits_ + size_t(y / 4) * pitch_ + size_t(x / 4) * layout_.bytes;
    case Layout::Pair:
        return bits_ + size_t(y) * pitch_ + size_t(x / 2) * layout_.bytes;
    case Layout::Plain:
        break;
    }
    return bits_ + size_t(y) * pitch_ + size_t(x) * layout_.bytes;
}

HRESULT Surface::Lock(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (!locked) return D3DERR_INVALIDCALL;
    bool refused = false;
    {
        Controls& c = State();
        std::lock_guard<std::mutex> lock(c.mutex);
        if (refuseLocks_ != 0) {
            if (refuseLocks_ != kRefuseAlways) --refuseLocks_;
            refused = true;
        }
        if (c.refuseAll) refused = true;
    }
    if (refused || !lockable_ || locked_ || dc_) return D3DERR_INVALIDCALL;
    if (rect && !ValidRect(*rect)) return D3DERR_INVALIDCALL;
    locked->pBits = rect ? Address(rect->left, rect->top) : bits_;
    locked->Pitch = static_cast<INT>(pitch_);
    locked_ = true;
    readOnlyLock_ = (flags & D3DLOCK_READONLY) != 0;
    if (readOnlyLock_) lockPrint_ = Fingerprint(bits_, size_t{pitch_} * rows_);
    return D3D_OK;
}

HRESULT Surface::Unlock() {
    if (!locked_) return D3DERR_INVALIDCALL;
    if (readOnlyLock_ && Fingerprint(bits_, size_t{pitch_} * rows_) != lockPrint_) {
        Controls& c = State();
        std::lock_guard<std::mutex> lock(c.mutex);
        ++c.readOnlyViolations;
    }
    locked_ = false;
    readOnlyLock_ = false;
    return D3D_OK;
}

HRESULT Surface::MakeDC(HDC* dc) {
    if (!dc) return D3DERR_INVALIDCALL;
    *dc = nullptr;
    // Drawing contexts draw X8R8G8B8 pixels only.
    if (desc_.Format != D3DFMT_X8R8G8B8 || locked_ || dc_ ||
        desc_.MultiSampleType != D3DMULTISAMPLE_NONE) {
        return D3DERR_INVALIDCALL;
    }
    dc_ = CreateMemoryDC(bits_, desc_.Width, desc_.Height, pitch_);
    if (!dc_) return E_OUTOFMEMORY;
    *dc = dc_;
    return D3D_OK;
}

HRESULT Surface::Fill(const RECT* rect, D3DCOLOR color) {
    const FillLayout* fill = nullptr;
    for (const FillLayout& f : kFillFormats) {
        if (f.format == desc_.Format) fill = &f;
    }
    if (!fill || locked_ || dc_) return D3DERR_INVALIDCALL;
    RECT whole = {0, 0, static_cast<LONG>(desc_.Width), static_cast<LONG>(desc_.Height)};
    if (rect && !ValidRect(*rect)) return D3DERR_INVALIDCALL;
    const RECT& area = rect ? *rect : whole;
    uint64_t pixel = (ScaleChannel((color >> 24) & 0xFF, fill->aBits) << fill->aShift) |
                     (ScaleChannel((color >> 16) & 0xFF, fill->rBits) << fill->rShift) |
                     (ScaleChannel((color >> 8) & 0xFF, fill->gBits) << fill->gShift) |
                     (ScaleChannel(color & 0xFF, fill->bBits) << fill->bShift);
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(pixel >> (8 * i));
    for (LONG y = area.top; y < area.bottom; ++y) {
        uint8_t* p = Address(area.left, y);
        for (LONG x = area.left; x < area.right; ++x, p += fill->bytes) {
            std::memcpy(p, bytes, fill->bytes);
        }
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Texture.
// ---------------------------------------------------------------------------
Texture::~Texture() {
    for (UINT i = 0; i < levelCount_; ++i) Delete(levels_[i]);
    Free(levels_);
    AddLive(-1);
}

HRESULT Texture::QueryInterface(REFIID riid, void** object) {
    if (object && riid == kIidRuntimeObject) {
        *object = static_cast<ObjectBase*>(this);
        return S_OK;
    }
    CountCall(D3DCall::QueryInterface);
    D3DCallRecord r = NewRecord(D3DCall::QueryInterface, this);
    HRESULT hr = S_OK;
    if (!object) {
        hr = E_POINTER;
    } else if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 ||
               riid == IID_IDirect3DBaseTexture9 || riid == IID_IDirect3DTexture9) {
        ++refs_;
        *object = static_cast<IDirect3DTexture9*>(this);
    } else {
        *object = nullptr;
        hr = E_NOINTERFACE;
    }
    r.result = hr;
    Report(r);
    return hr;
}

ULONG Texture::AddRef() {
    CountCall(D3DCall::AddRef);
    ULONG n = ++refs_;
    Report(NewRecord(D3DCall::AddRef, this));
    return n;
}

ULONG Texture::Release() {
    CountCall(D3DCall::Release);
    Report(NewRecord(D3DCall::Release, this));
    return ReleaseInternal();
}

ULONG Texture::ReleaseInternal() {
    ULONG n = --refs_;
    if (n == 0) {
        Device* device = device_;
        Delete(this);
        device->ReleaseInternal();
    }
    return n;
}

HRESULT Texture::GetDevice(IDirect3DDevice9** device) {
    D3DCallRecord r = NewRecord(D3DCall::GetDevice, this);
    HRESULT hr = CountCall(D3DCall::GetDevice);
    if (SUCCEEDED(hr)) {
        if (!device) {
            hr = D3DERR_INVALIDCALL;
        } else {
            ++device_->refs_;
            *device = device_;
            r.created = device_;
        }
    } else if (device) {
        *device = nullptr;
    }
    r.result = hr;
    Report(r);
    return hr;
}

// ---------------------------------------------------------------------------
// Device operations.
// ---------------------------------------------------------------------------
HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) {
    D3DCallRecord r = NewRecord(D3DCall::CreateTexture, this);
    r.width = width;
    r.height = height;
    r.level = levels;
    r.usage = usage;
    r.format = format;
    r.pool = pool;
    HRESULT hr = CountCall(D3DCall::CreateTexture);
    if (texture) *texture = nullptr;
    if (SUCCEEDED(hr)) {
        hr = [&]() -> HRESULT {
            const FormatLayout* f = FindLayout(format);
            if (!texture || shared || !f || width == 0 || height == 0 || width > kMaxSide ||
                height > kMaxSide || pool > D3DPOOL_SCRATCH) {
                return D3DERR_INVALIDCALL;
            }
            const DWORD known = D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_DYNAMIC;
            if ((usage & ~known) != 0) return D3DERR_INVALIDCALL;
            if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT) {
                return D3DERR_INVALIDCALL;
            }
            if ((usage & D3DUSAGE_DYNAMIC) && (pool == D3DPOOL_MANAGED ||
                                               (usage & D3DUSAGE_RENDERTARGET))) {
                return D3DERR_INVALIDCALL;
            }
            // The top level of a block-compressed texture is whole blocks; the
            // smaller levels may be of any size.
            if (f->layout == Layout::Block && (width % 4 != 0 || height % 4 != 0)) {
                return D3DERR_INVALIDCALL;
            }
            UINT chain = 1;
            for (UINT side = width > height ? width : height; side > 1; side >>= 1) ++chain;
            if (levels == 0) levels = chain;
            if (levels > chain) return D3DERR_INVALIDCALL;
            hr = CountCreation();
            if (FAILED(hr)) return hr;

            Texture* t = New<Texture>(this, usage, pool);
            if (!t) return E_OUTOFMEMORY;
            ++refs_;  // the texture's reference to its device
            t->levels_ = static_cast<Surface**>(AllocateArray(levels, sizeof(Surface*)));
            auto discard = [&]() {
                Delete(t);
                --refs_;
                return E_OUTOFMEMORY;
            };
            if (!t->levels_) return discard();
            bool lockable = pool != D3DPOOL_DEFAULT ||
                            ((usage & D3DUSAGE_DYNAMIC) && !(usage & D3DUSAGE_RENDERTARGET));
            if (f->depth == 1) lockable = false;
            for (UINT i = 0; i < levels; ++i) {
                UINT w = width >> i ? width >> i : 1;
                UINT h = height >> i ? height >> i : 1;
                D3DSURFACE_DESC desc = {format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE,
                                        0, w, h};
                Surface* s = New<Surface>(this, t, *f, desc, lockable);
                if (!s) return discard();
                t->levels_[t->levelCount_++] = s;
                if (!s->Init()) return discard();
            }
            *texture = t;
            r.created = t;
            return D3D_OK;
        }();
    }
    r.result = hr;
    Report(r);
    return hr;
}

HRESULT Device::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect,
                            IDirect3DSurface9* destination, const RECT* destinationRect,
                            D3DTEXTUREFILTERTYPE filter) {
    D3DCallRecord r = NewRecord(D3DCall::StretchRect, this);
    r.other = destination;
    r.filter = filter;
    SetRect(r, sourceRect);
    if (destinationRect) {
        r.hasRect2 = TRUE;
        r.rect2 = *destinationRect;
    }
    HRESULT hr = CountCall(D3DCall::StretchRect);
    if (SUCCEEDED(hr)) {
        hr = [&]() -> HRESULT {
            if (!source || !destination || source == destination || filter > D3DTEXF_LINEAR) {
                return D3DERR_INVALIDCALL;
            }
            void* a = nullptr;
            void* b = nullptr;
            if (FAILED(source->QueryInterface(kIidRuntimeObject, &a)) ||
                FAILED(destination->QueryInterface(kIidRuntimeObject, &b))) {
                return D3DERR_INVALIDCALL;
            }
            Surface* s = static_cast<Surface*>(static_cast<ObjectBase*>(a));
            Surface* d = static_cast<Surface*>(static_cast<ObjectBase*>(b));
            if (s->device_ != this || d->device_ != this) return D3DERR_INVALIDCALL;
            if (s->desc_.Pool != D3DPOOL_DEFAULT || d->desc_.Pool != D3DPOOL_DEFAULT ||
                s->desc_.Format != d->desc_.Format || s->layout_.depth || s->locked_ ||
                d->locked_ || s->dc_ || d->dc_ || d->desc_.MultiSampleType != D3DMULTISAMPLE_NONE) {
                return D3DERR_INVALIDCALL;
            }
            RECT sr = {0, 0, LONG(s->desc_.Width), LONG(s->desc_.Height)};
            RECT dr = {0, 0, LONG(d->desc_.Width), LONG(d->desc_.Height)};
            if (sourceRect) sr = *sourceRect;
            if (destinationRect) dr = *destinationRect;
            if (!s->ValidRect(sr) || !d->ValidRect(dr)) return D3DERR_INVALIDCALL;
            if (sr.right - sr.left != dr.right - dr.left || sr.bottom - sr.top != dr.bottom - dr.top) {
                return D3DERR_INVALIDCALL;  // no scaling
            }
            // Rows of the rectangle in memory: pixel rows, or rows of blocks.
            LONG step = s->layout_.layout == Layout::Block ? 4 : 1;
            size_t rowBytes = size_t(s->Address(sr.right, sr.top) - s->Address(sr.left, sr.top));
            if (s->layout_.layout != Layout::Plain && sr.right % (step == 4 ? 4 : 2) != 0) {
                // The rectangle ends inside the last block or pair at the edge.
                rowBytes += s->layout_.bytes;
            }
            for (LONG y = 0; y < sr.bottom - sr.top; y += step) {
                std::memmove(d->Address(dr.left, dr.top + y), s->Address(sr.left, sr.top + y), rowBytes);
            }
            return D3D_OK;
        }();
    }
    r.result = hr;
    Report(r);
    return hr;
}

HRESULT Device::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) {
    D3DCallRecord r = NewRecord(D3DCall::ColorFill, this);
    r.other = surface;
    SetRect(r, rect);
    HRESULT hr = CountCall(D3DCall::ColorFill);
    if (SUCCEEDED(hr)) {
        void* a = nullptr;
        if (!surface || FAILED(surface->QueryInterface(kIidRuntimeObject, &a))) {
            hr = D3DERR_INVALIDCALL;
        } else {
            Surface* s = static_cast<Surface*>(static_cast<ObjectBase*>(a));
            hr = s->device_ == this ? s->Fill(rect, color) : D3DERR_INVALIDCALL;
        }
    }
    r.result = hr;
    Report(r);
    return hr;
}

ObjectBase* Ours(IUnknown* object) {
    void* p = nullptr;
    if (!object || FAILED(object->QueryInterface(kIidRuntimeObject, &p))) return nullptr;
    return static_cast<ObjectBase*>(p);
}

Surface* OurSurface(IDirect3DSurface9* surface) {
    return static_cast<Surface*>(Ours(surface));
}

}  // namespace

const char* D3DCallName(D3DCall call) {
    static const char* const names[] = {
        "QueryInterface", "AddRef", "Release", "TestCooperativeLevel", "CreateTexture",
        "CreateRenderTarget", "CreateDepthStencilSurface", "StretchRect", "ColorFill",
        "CreateOffscreenPlainSurface", "GetDevice", "GetType", "GetContainer", "GetDesc",
        "LockRect", "UnlockRect", "GetDC", "ReleaseDC", "GetLevelCount", "GetLevelDesc",
        "GetSurfaceLevel", "TextureLockRect", "TextureUnlockRect"};
    static_assert(sizeof(names) / sizeof(names[0]) == static_cast<size_t>(D3DCall::Count));
    size_t i = static_cast<size_t>(call);
    return i < static_cast<size_t>(D3DCall::Count) ? names[i] : "?";
}

void SetD3DCallObserver(D3DCallObserver observer, void* context) {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.observer = observer;
    c.observerContext = context;
}

unsigned long D3DCallCount(D3DCall call) {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    size_t i = static_cast<size_t>(call);
    return i < static_cast<size_t>(D3DCall::Count) ? c.counts[i] : 0;
}

void ResetD3DControls() {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (size_t i = 0; i < static_cast<size_t>(D3DCall::Count); ++i) {
        c.counts[i] = 0;
        c.failAt[i] = 0;
        c.failResult[i] = S_OK;
    }
    c.creationFailAt = 0;
    c.refuseAll = false;
    c.observer = nullptr;
    c.observerContext = nullptr;
}

void RefuseSurfaceLocks(IDirect3DSurface9* surface, unsigned long count) {
    Surface* s = OurSurface(surface);
    if (!s) return;
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    s->refuseLocks_ = count;
}

void RefuseAllLocks(bool refuse) {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.refuseAll = refuse;
}

void FailD3DCreationAt(unsigned long n, HRESULT result) {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.creationFailAt = n;
    c.creationFailResult = result;
}

void FailD3DCall(D3DCall call, unsigned long n, HRESULT result) {
    if (call == D3DCall::AddRef || call == D3DCall::Release || call >= D3DCall::Count) return;
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.failAt[static_cast<size_t>(call)] = n;
    c.failResult[static_cast<size_t>(call)] = result;
}

HRESULT SetDeviceState(IDirect3DDevice9* device, HRESULT state) {
    Device* d = static_cast<Device*>(Ours(device));
    if (!d) return D3DERR_INVALIDCALL;
    if (state != D3D_OK && state != D3DERR_DEVICELOST && state != D3DERR_DEVICENOTRESET) {
        return D3DERR_INVALIDCALL;
    }
    d->state_ = state;
    return D3D_OK;
}

ULONG D3DRefCount(IUnknown* object) {
    ObjectBase* o = Ours(object);
    return o ? o->RefCount() : 0;
}

unsigned long LiveD3DObjectCount() {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.live;
}

bool IsSurfaceLocked(IDirect3DSurface9* surface) {
    Surface* s = OurSurface(surface);
    return s && s->locked_;
}

unsigned long ReadOnlyLockViolationCount() {
    Controls& c = State();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.readOnlyViolations;
}

}  // namespace z3az

extern "C" HRESULT Z3azCreateDevice(IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = z3az::New<z3az::Device>();
    return *device ? D3D_OK : E_OUTOFMEMORY;
}
