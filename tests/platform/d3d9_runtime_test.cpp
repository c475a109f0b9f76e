// The in-memory Direct3D 9 runtime: memory layout of every format, the
// lockability rules, textures and their levels, copies, fills, drawing
// contexts, reference counts and the controls tests rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/heap.h"
#include "platform/win_gdi.h"
#include "z3az/d3d9_runtime.h"

namespace z3az {
namespace {

// A device per test; checks that every object the test made is gone.
class Runtime : public ::testing::Test {
protected:
    void SetUp() override {
        ResetD3DControls();
        live_ = LiveD3DObjectCount();
        ASSERT_EQ(Z3azCreateDevice(&device_), D3D_OK);
    }
    void TearDown() override {
        ResetD3DControls();
        ResetAllocationCount();
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u) << "something still holds the device";
        }
        EXPECT_EQ(LiveD3DObjectCount(), live_);
    }

    IDirect3DSurface9* Plain(UINT w, UINT h, D3DFORMAT f, D3DPOOL pool = D3DPOOL_SYSTEMMEM) {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(device_->CreateOffscreenPlainSurface(w, h, f, pool, &s, nullptr), D3D_OK);
        return s;
    }

    // Lock result of a surface: D3D_OK or the failure.
    static HRESULT TryLock(IDirect3DSurface9* s, const RECT* rect = nullptr, DWORD flags = 0) {
        D3DLOCKED_RECT lr = {};
        HRESULT hr = s->LockRect(&lr, rect, flags);
        if (SUCCEEDED(hr)) s->UnlockRect();
        return hr;
    }

    IDirect3DDevice9* device_ = nullptr;
    unsigned long live_ = 0;
};

TEST_F(Runtime, DeviceCountsItsReferencesAndEveryResourceHoldsOne) {
    EXPECT_EQ(D3DRefCount(device_), 1u);
    IDirect3DSurface9* s = Plain(4, 4, D3DFMT_X8R8G8B8);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(D3DRefCount(device_), 2u);
    EXPECT_EQ(D3DRefCount(s), 1u);

    IDirect3DDevice9* d = nullptr;
    ASSERT_EQ(s->GetDevice(&d), D3D_OK);
    EXPECT_EQ(d, device_);
    EXPECT_EQ(D3DRefCount(device_), 3u);
    d->Release();

    IUnknown* unknown = nullptr;
    ASSERT_EQ(s->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(D3DRefCount(s), 2u);
    unknown->Release();
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(s->QueryInterface(IID_IDirect3DTexture9, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    EXPECT_EQ(LiveD3DObjectCount(), live_ + 2);
    EXPECT_EQ(s->Release(), 0u);
    EXPECT_EQ(D3DRefCount(device_), 1u);
}

// Memory layout: the pitch every format gets for a 6 x 5 surface, and the
// rows its memory has (ASan checks that each row can be written whole).
struct LayoutCase {
    D3DFORMAT format;
    INT pitch;
    UINT rows;
};

TEST_F(Runtime, EveryCataloguedFormatHasItsMemoryLayout) {
    const LayoutCase cases[] = {
        {D3DFMT_R8G8B8, 20, 5},        {D3DFMT_A8R8G8B8, 24, 5},     {D3DFMT_X8R8G8B8, 24, 5},
        {D3DFMT_R5G6B5, 12, 5},        {D3DFMT_X1R5G5B5, 12, 5},     {D3DFMT_A8P8, 12, 5},
        {D3DFMT_P8, 8, 5},             {D3DFMT_A1R5G5B5, 12, 5},     {D3DFMT_A4R4G4B4, 12, 5},
        {D3DFMT_R3G3B2, 8, 5},         {D3DFMT_A8, 8, 5},            {D3DFMT_A8R3G3B2, 12, 5},
        {D3DFMT_X4R4G4B4, 12, 5},      {D3DFMT_A2B10G10R10, 24, 5},  {D3DFMT_A8B8G8R8, 24, 5},
        {D3DFMT_X8B8G8R8, 24, 5},      {D3DFMT_G16R16, 24, 5},       {D3DFMT_A2R10G10B10, 24, 5},
        {D3DFMT_A16B16G16R16, 48, 5},  {D3DFMT_L8, 8, 5},            {D3DFMT_A8L8, 12, 5},
        {D3DFMT_A4L4, 8, 5},           {D3DFMT_L16, 12, 5},          {D3DFMT_V8U8, 12, 5},
        {D3DFMT_L6V5U5, 12, 5},        {D3DFMT_X8L8V8U8, 24, 5},     {D3DFMT_Q8W8V8U8, 24, 5},
        {D3DFMT_V16U16, 24, 5},        {D3DFMT_A2W10V10U10, 24, 5},  {D3DFMT_Q16W16V16U16, 48, 5},
        {D3DFMT_CxV8U8, 12, 5},        {D3DFMT_UYVY, 12, 5},         {D3DFMT_R8G8_B8G8, 12, 5},
        {D3DFMT_YUY2, 12, 5},          {D3DFMT_G8R8_G8B8, 12, 5},    {D3DFMT_DXT1, 16, 2},
        {D3DFMT_DXT2, 32, 2},          {D3DFMT_DXT3, 32, 2},         {D3DFMT_DXT4, 32, 2},
        {D3DFMT_DXT5, 32, 2},          {D3DFMT_D16_LOCKABLE, 12, 5}, {D3DFMT_D32F_LOCKABLE, 24, 5},
        {D3DFMT_R16F, 12, 5},          {D3DFMT_G16R16F, 24, 5},      {D3DFMT_A16B16G16R16F, 48, 5},
        {D3DFMT_R32F, 24, 5},          {D3DFMT_G32R32F, 48, 5},      {D3DFMT_A32B32G32R32F, 96, 5},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.format);
        IDirect3DSurface9* s = Plain(6, 5, c.format);
        ASSERT_NE(s, nullptr);
        D3DSURFACE_DESC desc = {};
        ASSERT_EQ(s->GetDesc(&desc), D3D_OK);
        EXPECT_EQ(desc.Format, c.format);
        EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
        EXPECT_EQ(desc.Width, 6u);
        EXPECT_EQ(desc.Height, 5u);
        EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
        D3DLOCKED_RECT lr = {};
        ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
        EXPECT_EQ(lr.Pitch, c.pitch);
        std::memset(lr.pBits, 0x5A, size_t(c.pitch) * c.rows);
        EXPECT_EQ(s->UnlockRect(), D3D_OK);
        s->Release();
    }
    IDirect3DSurface9* s = nullptr;
    EXPECT_EQ(device_->CreateOffscreenPlainSurface(4, 4, D3DFORMAT(MAKEFOURCC('A', 'L', '1', '6')),
                                                   D3DPOOL_SYSTEMMEM, &s, nullptr),
              D3DERR_INVALIDCALL)
        << "the library's private formats are not surface formats";
    EXPECT_EQ(s, nullptr);
}

// A partial lock points at the rectangle's first pixel, block or pair.
TEST_F(Runtime, PartialLocksPointAtTheRectangle) {
    struct Case {
        D3DFORMAT format;
        RECT rect;
        ptrdiff_t offset;  // from the whole lock's first byte, pitch given
    };
    // 16 x 16 surfaces: X8R8G8B8 pitch 64, DXT1 pitch 32, DXT5 pitch 64, YUY2 pitch 32.
    const Case cases[] = {
        {D3DFMT_X8R8G8B8, {3, 2, 7, 9}, 2 * 64 + 3 * 4},
        {D3DFMT_R8G8B8, {1, 1, 2, 2}, 1 * 48 + 3},
        {D3DFMT_DXT1, {4, 4, 12, 12}, 1 * 32 + 1 * 8},
        {D3DFMT_DXT5, {8, 12, 16, 16}, 3 * 64 + 2 * 16},
        {D3DFMT_YUY2, {6, 3, 10, 4}, 3 * 32 + 3 * 4},
        {D3DFMT_X8R8G8B8, {5, 5, 5, 9}, 5 * 64 + 5 * 4},  // empty rectangles lock
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        IDirect3DSurface9* s = Plain(16, 16, c.format);
        ASSERT_NE(s, nullptr);
        D3DLOCKED_RECT whole = {}, part = {};
        ASSERT_EQ(s->LockRect(&whole, nullptr, 0), D3D_OK);
        s->UnlockRect();
        ASSERT_EQ(s->LockRect(&part, &c.rect, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(static_cast<uint8_t*>(part.pBits) - static_cast<uint8_t*>(whole.pBits), c.offset);
        EXPECT_EQ(part.Pitch, whole.Pitch);
        s->UnlockRect();
        s->Release();
    }
}

TEST_F(Runtime, RectanglesOutsideOrMisalignedAreRefused) {
    struct Case {
        D3DFORMAT format;
        UINT w, h;
        RECT rect;
        HRESULT expected;
    };
    const Case cases[] = {
        {D3DFMT_X8R8G8B8, 8, 8, {0, 0, 9, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_X8R8G8B8, 8, 8, {0, 0, 8, 9}, D3DERR_INVALIDCALL},
        {D3DFMT_X8R8G8B8, 8, 8, {-1, 0, 8, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_X8R8G8B8, 8, 8, {0, -1, 8, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_X8R8G8B8, 8, 8, {5, 0, 4, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_X8R8G8B8, 8, 8, {0, 5, 8, 4}, D3DERR_INVALIDCALL},
        {D3DFMT_X8R8G8B8, 8, 8, {8, 8, 8, 8}, D3D_OK},
        {D3DFMT_DXT1, 8, 8, {1, 0, 8, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_DXT1, 8, 8, {0, 2, 8, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_DXT1, 8, 8, {0, 0, 6, 8}, D3DERR_INVALIDCALL},
        {D3DFMT_DXT1, 6, 6, {4, 4, 6, 6}, D3D_OK},  // ends at the edge inside a block
        {D3DFMT_YUY2, 7, 2, {1, 0, 4, 1}, D3DERR_INVALIDCALL},
        {D3DFMT_YUY2, 7, 2, {2, 0, 3, 1}, D3DERR_INVALIDCALL},
        {D3DFMT_YUY2, 7, 2, {2, 0, 7, 1}, D3D_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.rect.left << "," << c.rect.top
                                        << "," << c.rect.right << "," << c.rect.bottom);
        IDirect3DSurface9* s = Plain(c.w, c.h, c.format);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(TryLock(s, &c.rect), c.expected);
        EXPECT_FALSE(IsSurfaceLocked(s));
        s->Release();
    }
}

TEST_F(Runtime, LockabilityFollowsPoolUsageAndKind) {
    enum Kind { Offscreen, TextureLevel, RenderTarget, DepthStencil };
    struct Case {
        Kind kind;
        D3DFORMAT format;
        D3DPOOL pool;
        DWORD usage;
        BOOL lockable;
        bool locks;
    };
    const Case cases[] = {
        {Offscreen, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, 0, FALSE, true},
        {Offscreen, D3DFMT_X8R8G8B8, D3DPOOL_SCRATCH, 0, FALSE, true},
        {Offscreen, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 0, FALSE, true},
        {Offscreen, D3DFMT_D24S8, D3DPOOL_SYSTEMMEM, 0, FALSE, false},
        {Offscreen, D3DFMT_D16_LOCKABLE, D3DPOOL_SYSTEMMEM, 0, FALSE, true},
        {TextureLevel, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, 0, FALSE, true},
        {TextureLevel, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, 0, FALSE, true},
        {TextureLevel, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, 0, FALSE, true},
        {TextureLevel, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, 0, FALSE, false},
        {TextureLevel, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC, FALSE, true},
        {TextureLevel, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET, FALSE, false},
        {TextureLevel, D3DFMT_DXT1, D3DPOOL_DEFAULT, 0, FALSE, false},
        {TextureLevel, D3DFMT_DXT1, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC, FALSE, true},
        {RenderTarget, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 0, FALSE, false},
        {RenderTarget, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 0, TRUE, true},
        {DepthStencil, D3DFMT_D24S8, D3DPOOL_DEFAULT, 0, FALSE, false},
        {DepthStencil, D3DFMT_D32, D3DPOOL_DEFAULT, 0, FALSE, false},
        {DepthStencil, D3DFMT_D16_LOCKABLE, D3DPOOL_DEFAULT, 0, FALSE, true},
        {DepthStencil, D3DFMT_D32F_LOCKABLE, D3DPOOL_DEFAULT, 0, FALSE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " format " << c.format << " pool "
                                        << c.pool << " usage " << c.usage);
        IDirect3DSurface9* s = nullptr;
        IDirect3DTexture9* t = nullptr;
        switch (c.kind) {
        case Offscreen:
            ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, c.format, c.pool, &s, nullptr), D3D_OK);
            break;
        case TextureLevel:
            ASSERT_EQ(device_->CreateTexture(8, 8, 1, c.usage, c.format, c.pool, &t, nullptr), D3D_OK);
            ASSERT_EQ(t->GetSurfaceLevel(0, &s), D3D_OK);
            break;
        case RenderTarget:
            ASSERT_EQ(device_->CreateRenderTarget(8, 8, c.format, D3DMULTISAMPLE_NONE, 0, c.lockable,
                                                  &s, nullptr),
                      D3D_OK);
            break;
        case DepthStencil:
            ASSERT_EQ(device_->CreateDepthStencilSurface(8, 8, c.format, D3DMULTISAMPLE_NONE, 0, FALSE,
                                                         &s, nullptr),
                      D3D_OK);
            break;
        }
        EXPECT_EQ(TryLock(s), c.locks ? D3D_OK : D3DERR_INVALIDCALL);
        if (t) {
            D3DLOCKED_RECT lr = {};
            HRESULT hr = t->LockRect(0, &lr, nullptr, 0);
            EXPECT_EQ(hr, c.locks ? D3D_OK : D3DERR_INVALIDCALL) << "the texture's own lock agrees";
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(t->UnlockRect(0), D3D_OK);
            }
            t->Release();
        }
        s->Release();
    }
}

TEST_F(Runtime, CreationRefusesWhatTheRuntimeCannotMake) {
    IDirect3DSurface9* s = nullptr;
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(device_->CreateOffscreenPlainSurface(0, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &s, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &s, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateOffscreenPlainSurface(100000, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &s,
                                                   nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(6, 6, 1, 0, D3DFMT_DXT1, D3DPOOL_SYSTEMMEM, &t, nullptr),
              D3DERR_INVALIDCALL)
        << "a block texture's top level is whole blocks";
    EXPECT_EQ(device_->CreateTexture(8, 8, 5, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr),
              D3DERR_INVALIDCALL)
        << "8 x 8 has four levels";
    EXPECT_EQ(device_->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM,
                                     &t, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t,
                                     nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateRenderTarget(8, 8, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE, &s, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateRenderTarget(8, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0, TRUE, &s,
                                          nullptr),
              D3DERR_INVALIDCALL)
        << "multisampled targets cannot be lockable";
    EXPECT_EQ(device_->CreateDepthStencilSurface(8, 8, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                                 &s, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(t, nullptr);
}

TEST_F(Runtime, TexturesHaveTheirLevelsAndCountReferencesOnTheTexture) {
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(device_->CreateTexture(20, 32, 0, 0, D3DFMT_DXT1, D3DPOOL_SYSTEMMEM, &t, nullptr), D3D_OK);
    ASSERT_EQ(t->GetLevelCount(), 6u);  // 32, 16, 8, 4, 2, 1
    const UINT widths[] = {20, 10, 5, 2, 1, 1};
    const UINT heights[] = {32, 16, 8, 4, 2, 1};
    const INT pitches[] = {40, 24, 16, 8, 8, 8};
    EXPECT_EQ(LiveD3DObjectCount(), live_ + 1 + 1 + 6);
    for (UINT i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        D3DSURFACE_DESC desc = {};
        ASSERT_EQ(t->GetLevelDesc(i, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, widths[i]);
        EXPECT_EQ(desc.Height, heights[i]);
        IDirect3DSurface9* level = nullptr;
        ASSERT_EQ(t->GetSurfaceLevel(i, &level), D3D_OK);
        EXPECT_EQ(D3DRefCount(t), 2u);
        EXPECT_EQ(D3DRefCount(level), 2u) << "a level counts on its texture";
        D3DLOCKED_RECT lr = {};
        ASSERT_EQ(level->LockRect(&lr, nullptr, 0), D3D_OK);
        EXPECT_EQ(lr.Pitch, pitches[i]);
        level->UnlockRect();
        IDirect3DTexture9* container = nullptr;
        ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
        EXPECT_EQ(container, t);
        container->Release();
        level->Release();
    }
    IDirect3DSurface9* level = reinterpret_cast<IDirect3DSurface9*>(1);
    EXPECT_EQ(t->GetSurfaceLevel(6, &level), D3DERR_INVALIDCALL);
    EXPECT_EQ(level, nullptr);

    // A level kept past the texture's last own reference keeps it alive.
    ASSERT_EQ(t->GetSurfaceLevel(2, &level), D3D_OK);
    EXPECT_EQ(t->Release(), 1u);
    D3DSURFACE_DESC desc = {};
    ASSERT_EQ(level->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 5u);
    EXPECT_EQ(level->Release(), 0u);
    EXPECT_EQ(LiveD3DObjectCount(), live_ + 1);
}

TEST_F(Runtime, StretchRectCopiesBetweenDefaultPoolSurfacesOfOneFormat) {
    IDirect3DSurface9* source = nullptr;
    IDirect3DSurface9* target = nullptr;
    ASSERT_EQ(device_->CreateRenderTarget(5, 3, D3DFMT_R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &source,
                                          nullptr),
              D3D_OK);
    ASSERT_EQ(device_->CreateRenderTarget(5, 3, D3DFMT_R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &target,
                                          nullptr),
              D3D_OK);
    // Fill the non-lockable source through a lockable twin and a copy.
    IDirect3DSurface9* filler = Plain(5, 3, D3DFMT_R8G8B8, D3DPOOL_DEFAULT);
    D3DLOCKED_RECT lr = {};
    ASSERT_EQ(filler->LockRect(&lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 15; ++x) static_cast<uint8_t*>(lr.pBits)[y * lr.Pitch + x] = uint8_t(y * 16 + x);
    }
    filler->UnlockRect();
    ASSERT_EQ(device_->StretchRect(filler, nullptr, source, nullptr, D3DTEXF_NONE), D3D_OK);
    ASSERT_EQ(device_->StretchRect(source, nullptr, target, nullptr, D3DTEXF_NONE), D3D_OK);
    ASSERT_EQ(target->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 15; ++x) {
            ASSERT_EQ(static_cast<uint8_t*>(lr.pBits)[y * lr.Pitch + x], uint8_t(y * 16 + x));
        }
    }
    target->UnlockRect();

    IDirect3DSurface9* system = Plain(5, 3, D3DFMT_R8G8B8);
    IDirect3DSurface9* other = Plain(5, 3, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT);
    IDirect3DSurface9* larger = Plain(6, 3, D3DFMT_R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(device_->StretchRect(source, nullptr, system, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->StretchRect(source, nullptr, other, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->StretchRect(source, nullptr, larger, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->StretchRect(source, nullptr, nullptr, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    RECT part = {1, 1, 4, 3};
    RECT at = {2, 0, 5, 2};
    EXPECT_EQ(device_->StretchRect(filler, &part, larger, &at, D3DTEXF_POINT), D3D_OK);
    for (IDirect3DSurface9* s : {source, target, filler, system, other, larger}) s->Release();
}

TEST_F(Runtime, ColorFillWritesTheColourInTheSurfaceFormat) {
    struct Case {
        D3DFORMAT format;
        D3DCOLOR color;
        std::vector<uint8_t> pixel;
    };
    const Case cases[] = {
        {D3DFMT_X8R8G8B8, 0x11223344, {0x44, 0x33, 0x22, 0x11}},
        {D3DFMT_A8B8G8R8, 0x11223344, {0x22, 0x33, 0x44, 0x11}},
        {D3DFMT_R8G8B8, 0x00A0B0C0, {0xC0, 0xB0, 0xA0}},
        {D3DFMT_R5G6B5, 0x00FF0000, {0x00, 0xF8}},
        {D3DFMT_A1R5G5B5, 0x800000FF, {0x1F, 0x80}},
        {D3DFMT_A4R4G4B4, 0xFF00FF00, {0xF0, 0xF0}},
        {D3DFMT_A8, 0x7F000000, {0x7F}},
        {D3DFMT_A2R10G10B10, 0xFFFF0000, {0x00, 0x00, 0xF0, 0xFF}},
        {D3DFMT_A16B16G16R16, 0xFF0000FF, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        IDirect3DSurface9* s = Plain(3, 2, c.format);
        ASSERT_EQ(device_->ColorFill(s, nullptr, c.color), D3D_OK);
        D3DLOCKED_RECT lr = {};
        ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                const uint8_t* p = static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * c.pixel.size();
                EXPECT_EQ(std::vector<uint8_t>(p, p + c.pixel.size()), c.pixel) << x << "," << y;
            }
        }
        s->UnlockRect();
        s->Release();
    }
    IDirect3DSurface9* s = Plain(4, 4, D3DFMT_L8);
    RECT rect = {1, 1, 3, 2};
    EXPECT_EQ(device_->ColorFill(s, nullptr, 0), D3DERR_INVALIDCALL) << "no fill for luminance";
    s->Release();
    s = Plain(4, 4, D3DFMT_X8R8G8B8);
    ASSERT_EQ(device_->ColorFill(s, &rect, 0xFFFFFFFF), D3D_OK);
    D3DLOCKED_RECT lr = {};
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
    const uint32_t* rows = static_cast<uint32_t*>(lr.pBits);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            bool inside = x >= 1 && x < 3 && y == 1;
            EXPECT_EQ(rows[y * 4 + x], inside ? 0xFFFFFFFFu : 0u) << x << "," << y;
        }
    }
    EXPECT_EQ(device_->ColorFill(s, nullptr, 0), D3DERR_INVALIDCALL) << "not while locked";
    s->UnlockRect();
    s->Release();
}

TEST_F(Runtime, DrawingContextDrawsIntoTheSurfacePixels) {
    IDirect3DSurface9* s = Plain(7, 3, D3DFMT_X8R8G8B8);
    HDC dc = nullptr;
    ASSERT_EQ(s->GetDC(&dc), D3D_OK);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dc->kind, HDC__::MemoryDC);
    EXPECT_EQ(dc->width, 7u);
    EXPECT_EQ(dc->height, 3u);
    EXPECT_EQ(dc->rowPitch, 28u);
    static_cast<uint32_t*>(dc->bits)[2 * 7 + 6] = 0x00ABCDEF;
    HDC second = nullptr;
    EXPECT_EQ(s->GetDC(&second), D3DERR_INVALIDCALL);
    EXPECT_EQ(TryLock(s), D3DERR_INVALIDCALL) << "no lock while the context is out";
    EXPECT_EQ(s->ReleaseDC(reinterpret_cast<HDC>(&second)), D3DERR_INVALIDCALL);
    EXPECT_EQ(s->ReleaseDC(dc), D3D_OK);
    D3DLOCKED_RECT lr = {};
    ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<uint32_t*>(lr.pBits)[2 * 7 + 6], 0x00ABCDEFu);
    s->UnlockRect();
    s->Release();

    s = Plain(4, 4, D3DFMT_R5G6B5);
    EXPECT_EQ(s->GetDC(&dc), D3DERR_INVALIDCALL) << "contexts draw X8R8G8B8 only";
    s->Release();
}

TEST_F(Runtime, LocksAreExclusiveAndUnlockNeedsALock) {
    IDirect3DSurface9* s = Plain(4, 4, D3DFMT_X8R8G8B8);
    D3DLOCKED_RECT lr = {};
    EXPECT_EQ(s->UnlockRect(), D3DERR_INVALIDCALL);
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
    EXPECT_TRUE(IsSurfaceLocked(s));
    EXPECT_EQ(s->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(s->UnlockRect(), D3D_OK);
    EXPECT_FALSE(IsSurfaceLocked(s));
    EXPECT_EQ(s->LockRect(nullptr, nullptr, 0), D3DERR_INVALIDCALL);
    s->Release();
}

TEST_F(Runtime, ReadOnlyLocksThatWriteAreNoticed) {
    IDirect3DSurface9* s = Plain(4, 4, D3DFMT_X8R8G8B8);
    unsigned long before = ReadOnlyLockViolationCount();
    D3DLOCKED_RECT lr = {};
    ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    s->UnlockRect();
    EXPECT_EQ(ReadOnlyLockViolationCount(), before);
    ASSERT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    static_cast<uint8_t*>(lr.pBits)[5] = 1;
    s->UnlockRect();
    EXPECT_EQ(ReadOnlyLockViolationCount(), before + 1);
    s->Release();
}

TEST_F(Runtime, LockRefusalsPerSurfaceAndForAll) {
    IDirect3DSurface9* a = Plain(4, 4, D3DFMT_X8R8G8B8);
    IDirect3DSurface9* b = Plain(4, 4, D3DFMT_X8R8G8B8);
    RefuseSurfaceLocks(a, 2);
    EXPECT_EQ(TryLock(a), D3DERR_INVALIDCALL);
    EXPECT_EQ(TryLock(b), D3D_OK);
    EXPECT_EQ(TryLock(a), D3DERR_INVALIDCALL);
    EXPECT_EQ(TryLock(a), D3D_OK) << "two refusals, then locks again";
    RefuseSurfaceLocks(a, kRefuseAlways);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(TryLock(a), D3DERR_INVALIDCALL);
    RefuseSurfaceLocks(a, 0);
    EXPECT_EQ(TryLock(a), D3D_OK);
    RefuseAllLocks(true);
    EXPECT_EQ(TryLock(a), D3DERR_INVALIDCALL);
    EXPECT_EQ(TryLock(b), D3DERR_INVALIDCALL);
    RefuseAllLocks(false);
    EXPECT_EQ(TryLock(b), D3D_OK);
    a->Release();
    b->Release();
}

TEST_F(Runtime, PlannedFailuresOfCreationsAndCalls) {
    IDirect3DSurface9* s = nullptr;
    IDirect3DTexture9* t = nullptr;
    FailD3DCreationAt(2, D3DERR_OUTOFVIDEOMEMORY);
    ASSERT_EQ(device_->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &s, nullptr),
              D3D_OK);
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr),
              D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(t, nullptr);
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr), D3D_OK);

    FailD3DCall(D3DCall::GetSurfaceLevel, 1, E_FAIL);
    IDirect3DSurface9* level = reinterpret_cast<IDirect3DSurface9*>(1);
    EXPECT_EQ(t->GetSurfaceLevel(0, &level), E_FAIL);
    EXPECT_EQ(level, nullptr);
    EXPECT_EQ(D3DRefCount(t), 1u);
    ASSERT_EQ(t->GetSurfaceLevel(0, &level), D3D_OK);
    level->Release();

    FailD3DCall(D3DCall::LockRect, 2, D3DERR_WASSTILLDRAWING);
    EXPECT_EQ(TryLock(s), D3D_OK);
    EXPECT_EQ(TryLock(s), D3DERR_WASSTILLDRAWING);
    EXPECT_EQ(TryLock(s), D3D_OK);
    t->Release();
    s->Release();
}

TEST_F(Runtime, ObserverSeesEveryCallInOrderWithItsArguments) {
    std::vector<D3DCallRecord> records;
    SetD3DCallObserver(
        [](const D3DCallRecord& r, void* context) {
            static_cast<std::vector<D3DCallRecord>*>(context)->push_back(r);
        },
        &records);
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(device_->CreateTexture(12, 12, 2, 0, D3DFMT_DXT1, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(1, &level), D3D_OK);
    RECT rect = {0, 0, 4, 4};
    D3DLOCKED_RECT lr = {};
    ASSERT_EQ(level->LockRect(&lr, &rect, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK), D3D_OK);
    level->UnlockRect();
    level->Release();
    t->Release();
    SetD3DCallObserver(nullptr, nullptr);

    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].call, D3DCall::CreateTexture);
    EXPECT_EQ(records[0].width, 12u);
    EXPECT_EQ(records[0].height, 12u);
    EXPECT_EQ(records[0].level, 2u);
    EXPECT_EQ(records[0].format, D3DFMT_DXT1);
    EXPECT_EQ(records[0].pool, D3DPOOL_SCRATCH);
    EXPECT_EQ(records[0].created, t);
    EXPECT_EQ(records[1].call, D3DCall::GetSurfaceLevel);
    EXPECT_EQ(records[1].level, 1u);
    EXPECT_EQ(records[2].call, D3DCall::LockRect);
    EXPECT_EQ(records[2].object, level);
    EXPECT_TRUE(records[2].hasRect);
    EXPECT_EQ(records[2].rect.right, 4);
    EXPECT_EQ(records[2].flags, 0x810u);
    EXPECT_EQ(records[2].result, D3D_OK);
    EXPECT_EQ(records[3].call, D3DCall::UnlockRect);
    EXPECT_EQ(records[4].call, D3DCall::Release);
    EXPECT_EQ(records[5].call, D3DCall::Release);
    EXPECT_EQ(D3DCallCount(D3DCall::Release), 2u);
    EXPECT_EQ(D3DCallCount(D3DCall::CreateTexture), 1u);
    EXPECT_STREQ(D3DCallName(D3DCall::StretchRect), "StretchRect");
}

TEST_F(Runtime, LostDeviceReportsItselfAndStillWorks) {
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    ASSERT_EQ(SetDeviceState(device_, D3DERR_DEVICELOST), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    IDirect3DSurface9* s = Plain(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(TryLock(s), D3D_OK);
    s->Release();
    ASSERT_EQ(SetDeviceState(device_, D3DERR_DEVICENOTRESET), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(SetDeviceState(device_, E_FAIL), D3DERR_INVALIDCALL);
    ASSERT_EQ(SetDeviceState(device_, D3D_OK), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
}

// Every allocation of a creation can fail; the failure is reported and
// nothing stays allocated or alive.
TEST_F(Runtime, AllocationFailuresDuringCreationLeaveNothingBehind) {
    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        ResetAllocationCount();
        FailAllocationAt(n);
        IDirect3DTexture9* t = nullptr;
        HRESULT hr = device_->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr);
        unsigned long made = AllocationCount();
        ResetAllocationCount();
        if (SUCCEEDED(hr)) {
            EXPECT_GT(n, made) << "an allocation failed unnoticed";
            t->Release();
            break;
        }
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        EXPECT_EQ(t, nullptr);
        EXPECT_EQ(LiveD3DObjectCount(), live_ + 1);
        EXPECT_EQ(D3DRefCount(device_), 1u);
    }
    ResetAllocationCount();
    FailAllocationAt(1);
    IDirect3DDevice9* d = reinterpret_cast<IDirect3DDevice9*>(1);
    EXPECT_EQ(Z3azCreateDevice(&d), E_OUTOFMEMORY);
    EXPECT_EQ(d, nullptr);
    ResetAllocationCount();
    EXPECT_EQ(Z3azCreateDevice(nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace z3az
