// Saving Direct3D 9 surfaces: every route of the surface lock (direct, copy
// through a texture level, through a lockable render target), its failures,
// the rectangle rules, the lost-device rule and the debug-runtime muting,
// each observed through the in-memory runtime's call log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/image_layer.h"
#include "platform/heap.h"
#include "platform/win_module.h"
#include "platform/win_registry.h"
#include "save/image_saver.h"
#include "save/surface_save.h"
#include "support/file_helpers.h"
#include "z3az/d3d9_runtime.h"
#include "z3az/data_buffer.h"

namespace z3az {
namespace {

// One line of the log: a Direct3D call or a call of the debug runtime's
// mute switch.
struct Event {
    bool mute;
    int32_t muteValue;
    D3DCallRecord record;
};
std::vector<Event>* g_log = nullptr;

void RecordMute(int32_t value) {
    if (g_log) g_log->push_back({true, value, {}});
}

void RecordCall(const D3DCallRecord& record, void*) {
    if (g_log) g_log->push_back({false, 0, record});
}

// The debug runtime is "loaded" for the whole test program, so that every
// save's muting shows in the log.
class DebugRuntimeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ClearRegistry();
        ModuleExport exports[] = {
            {"DebugSetMute", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(RecordMute))}};
        ASSERT_TRUE(RegisterModule("d3d9d.dll", exports, 1, true));
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new DebugRuntimeEnvironment);

class SurfaceSave : public ::testing::Test {
protected:
    void SetUp() override {
        ResetD3DControls();
        live_ = LiveD3DObjectCount();
        ASSERT_EQ(Z3azCreateDevice(&device_), D3D_OK);
        tags_[device_] = "D";
    }
    void TearDown() override {
        StopLog();
        ResetD3DControls();
        ResetAllocationCount();
        for (IUnknown* o : owned_) o->Release();
        EXPECT_EQ(device_->Release(), 0u) << "a reference to the device was left behind";
        EXPECT_EQ(LiveD3DObjectCount(), live_) << "an object was left alive";
    }

    void StartLog() {
        log_.clear();
        g_log = &log_;
        SetD3DCallObserver(RecordCall, nullptr);
    }
    void StopLog() {
        SetD3DCallObserver(nullptr, nullptr);
        g_log = nullptr;
    }

    // Keeps a surface until the end of the test and names it in traces.
    IDirect3DSurface9* Keep(IDirect3DSurface9* s, const char* tag = "S") {
        EXPECT_NE(s, nullptr);
        if (s) {
            owned_.push_back(s);
            tags_[s] = tag;
        }
        return s;
    }

    IDirect3DSurface9* Plain(UINT w, UINT h, D3DFORMAT f, D3DPOOL pool) {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(device_->CreateOffscreenPlainSurface(w, h, f, pool, &s, nullptr), D3D_OK);
        return Keep(s);
    }

    IDirect3DSurface9* RenderTarget(UINT w, UINT h, D3DFORMAT f, BOOL lockable) {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(device_->CreateRenderTarget(w, h, f, D3DMULTISAMPLE_NONE, 0, lockable, &s, nullptr),
                  D3D_OK);
        return Keep(s);
    }

    // Level `level` of a new texture (kept through the level's reference).
    IDirect3DSurface9* Level(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT f, D3DPOOL pool,
                             UINT level) {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device_->CreateTexture(w, h, levels, usage, f, pool, &t, nullptr), D3D_OK);
        if (!t) return nullptr;
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(t->GetSurfaceLevel(level, &s), D3D_OK);
        t->Release();
        return Keep(s);
    }

    // Fills a surface with a byte pattern (through a lockable twin and a
    // copy when it cannot be locked) and returns the pixels as rows of
    // `pitch` bytes.
    std::vector<uint8_t> Fill(IDirect3DSurface9* s, uint32_t seed = 1) {
        D3DSURFACE_DESC desc = {};
        s->GetDesc(&desc);
        IDirect3DSurface9* target = s;
        IDirect3DSurface9* twin = nullptr;
        D3DLOCKED_RECT lr = {};
        if (FAILED(s->LockRect(&lr, nullptr, 0))) {
            EXPECT_EQ(device_->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                                           D3DPOOL_DEFAULT, &twin, nullptr),
                      D3D_OK);
            target = twin;
            EXPECT_EQ(twin->LockRect(&lr, nullptr, 0), D3D_OK);
        }
        UINT rows = IsBlock(desc.Format) ? (desc.Height + 3) / 4 : desc.Height;
        pitch_ = uint32_t(lr.Pitch);
        std::vector<uint8_t> pixels(size_t(lr.Pitch) * rows);
        uint32_t x = seed * 2654435761u;
        for (uint8_t& b : pixels) {
            x = x * 1103515245u + 12345u;
            b = uint8_t(x >> 16);
        }
        std::memcpy(lr.pBits, pixels.data(), pixels.size());
        target->UnlockRect();
        if (twin) {
            EXPECT_EQ(device_->StretchRect(twin, nullptr, s, nullptr, D3DTEXF_NONE), D3D_OK);
            twin->Release();
        }
        return pixels;
    }

    static bool IsBlock(D3DFORMAT f) {
        return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 ||
               f == D3DFMT_DXT5;
    }

    // The calls of the log as one line: Name(object)! for a failure, mute1
    // and mute0 for the switch. Objects handed out get their names here:
    // T the copy texture, C its level, R the render target.
    std::string Trace() {
        std::string out;
        for (const Event& e : log_) {
            if (!out.empty()) out += ' ';
            if (e.mute) {
                out += "mute" + std::to_string(e.muteValue);
                continue;
            }
            const D3DCallRecord& r = e.record;
            if (r.created && !tags_.count(r.created)) {
                if (r.call == D3DCall::CreateTexture) tags_[r.created] = "T";
                if (r.call == D3DCall::GetSurfaceLevel) tags_[r.created] = "C";
                if (r.call == D3DCall::CreateRenderTarget) tags_[r.created] = "R";
            }
            auto it = tags_.find(r.object);
            out += std::string(D3DCallName(r.call)) + "(" + (it != tags_.end() ? it->second : "?") + ")";
            if (FAILED(r.result)) out += "!";
        }
        return out;
    }

    std::vector<D3DCallRecord> Calls(D3DCall call) const {
        std::vector<D3DCallRecord> out;
        for (const Event& e : log_) {
            if (!e.mute && e.record.call == call) out.push_back(e.record);
        }
        return out;
    }

    // The bytes of a memory save, with its result.
    static std::vector<uint8_t> SaveToMemory(IDirect3DSurface9* s, uint32_t fileFormat, const RECT* rect,
                                             HRESULT* result) {
        IDataBuffer* buffer = nullptr;
        *result = SaveSurface(&buffer, fileFormat, nullptr, rect, Memory, s);
        std::vector<uint8_t> bytes;
        if (buffer) {
            const uint8_t* p = static_cast<const uint8_t*>(buffer->GetPointer());
            bytes.assign(p, p + buffer->GetSize());
            buffer->Release();
        }
        return bytes;
    }

    // The bytes of saving an equivalent working image straight through the
    // saver: pixels in ordinary memory, the same format and box.
    static std::vector<uint8_t> SaveLayer(std::vector<uint8_t> pixels, uint32_t format, uint32_t pitch,
                                          ImageBox box, uint32_t fileFormat, HRESULT* result) {
        ImageLayer layer;
        layer.format = format;
        layer.bits = pixels.data();
        layer.rowPitch = pitch;
        layer.box = box;
        layer.width = box.right - box.left;
        layer.height = box.bottom - box.top;
        layer.depth = box.back - box.front;
        IDataBuffer* buffer = nullptr;
        *result = ImageSaver::Save(layer, &buffer, fileFormat, Memory);
        std::vector<uint8_t> bytes;
        if (buffer) {
            const uint8_t* p = static_cast<const uint8_t*>(buffer->GetPointer());
            bytes.assign(p, p + buffer->GetSize());
            buffer->Release();
        }
        return bytes;
    }

    IDirect3DDevice9* device_ = nullptr;
    unsigned long live_ = 0;
    std::vector<IUnknown*> owned_;
    std::map<IUnknown*, std::string> tags_;
    std::vector<Event> log_;
    uint32_t pitch_ = 0;
};

// --- Arguments -----------------------------------------------------------------

TEST_F(SurfaceSave, NullNameOrSurfaceIsRefusedBeforeAnythingIsTouched) {
    test::ScratchDir dir;
    IDirect3DSurface9* s = Plain(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM);
    const std::string name = dir.File("never.bmp");
    StartLog();
    EXPECT_EQ(SaveSurfaceToFile(nullptr, ImageFileBmp, s, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(SaveSurfaceToFile(name.c_str(), ImageFileBmp, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(SaveSurface(nullptr, ImageFileBmp, nullptr, nullptr, Memory, s), D3DERR_INVALIDCALL);
    EXPECT_EQ(SaveSurface(nullptr, ImageFileBmp, nullptr, nullptr, FileW, s), D3DERR_INVALIDCALL);
    StopLog();
    EXPECT_EQ(Trace(), "") << "not a single Direct3D call";
    EXPECT_FALSE(test::FileExists(name));
}

TEST_F(SurfaceSave, BadRectanglesAreRefusedAndEmptyOnesAccepted) {
    IDirect3DSurface9* s = Plain(8, 6, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM);
    std::vector<uint8_t> pixels = Fill(s);
    const RECT bad[] = {
        {0, 0, 9, 6}, {0, 0, 8, 7}, {-1, 0, 8, 6}, {0, -1, 8, 6}, {5, 0, 4, 6}, {0, 4, 8, 3},
        {INT32_MIN, 0, 1, 1}, {0, 0, INT32_MAX, 6},
    };
    for (const RECT& r : bad) {
        SCOPED_TRACE(testing::Message() << r.left << "," << r.top << "," << r.right << "," << r.bottom);
        StartLog();
        HRESULT hr = S_OK;
        EXPECT_TRUE(SaveToMemory(s, ImageFileBmp, &r, &hr).empty());
        StopLog();
        EXPECT_EQ(hr, D3DERR_INVALIDCALL);
        EXPECT_EQ(Trace(), "GetDesc(S)") << "refused before any lock";
        EXPECT_EQ(D3DRefCount(s), 1u);
    }
    // Empty rectangles lock and give an empty working image: the saver
    // decides what an empty image gives, exactly as for such a layer.
    const RECT empty[] = {{3, 0, 3, 6}, {0, 2, 8, 2}, {8, 6, 8, 6}};
    for (const RECT& r : empty) {
        SCOPED_TRACE(testing::Message() << r.left << "," << r.top << "," << r.right << "," << r.bottom);
        StartLog();
        HRESULT hr = S_OK, expectedHr = S_OK;
        std::vector<uint8_t> bytes = SaveToMemory(s, ImageFileBmp, &r, &hr);
        StopLog();
        std::vector<uint8_t> expected =
            SaveLayer(std::vector<uint8_t>(pixels.begin() + std::min(pixels.size(), size_t(r.top * pitch_ + r.left * 4)),
                                           pixels.end()),
                      D3DFMT_X8R8G8B8, pitch_,
                      ImageBox{0, 0, uint32_t(r.right - r.left), uint32_t(r.bottom - r.top), 0, 1},
                      ImageFileBmp, &expectedHr);
        EXPECT_EQ(hr, expectedHr);
        EXPECT_EQ(bytes, expected);
        std::vector<D3DCallRecord> locks = Calls(D3DCall::LockRect);
        ASSERT_EQ(locks.size(), 1u);
        ASSERT_TRUE(locks[0].hasRect);
        EXPECT_EQ(locks[0].rect.left, r.left);
        EXPECT_EQ(locks[0].rect.right, r.right);
        EXPECT_EQ(D3DRefCount(s), 1u);
    }
}

// --- Routes --------------------------------------------------------------------

TEST_F(SurfaceSave, SystemMemorySurfaceIsLockedDirectlyWithoutDeviceOrLostTest) {
    IDirect3DSurface9* s = Plain(7, 5, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM);
    std::vector<uint8_t> pixels = Fill(s);
    ASSERT_EQ(SetDeviceState(device_, D3DERR_DEVICELOST), D3D_OK);  // must not matter
    StartLog();
    HRESULT hr = E_FAIL;
    std::vector<uint8_t> bytes = SaveToMemory(s, ImageFileBmp, nullptr, &hr);
    StopLog();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Trace(), "GetDesc(S) mute1 LockRect(S) mute0 AddRef(S) GetDesc(S) UnlockRect(S) Release(S)");
    std::vector<D3DCallRecord> locks = Calls(D3DCall::LockRect);
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_FALSE(locks[0].hasRect);
    EXPECT_EQ(locks[0].flags, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK);
    HRESULT expectedHr = E_FAIL;
    EXPECT_EQ(bytes, SaveLayer(pixels, D3DFMT_X8R8G8B8, pitch_, {0, 0, 7, 5, 0, 1}, ImageFileBmp, &expectedHr));
    EXPECT_EQ(expectedHr, S_OK);
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(D3DRefCount(s), 1u);
    EXPECT_EQ(ReadOnlyLockViolationCount(), 0u);
}

TEST_F(SurfaceSave, DefaultPoolSurfaceOfALostDeviceIsWrittenAndReported) {
    test::ScratchDir dir;
    IDirect3DSurface9* s = Plain(6, 3, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT);
    std::vector<uint8_t> pixels = Fill(s);
    HRESULT expectedHr = E_FAIL;
    std::vector<uint8_t> expected =
        SaveLayer(pixels, D3DFMT_X8R8G8B8, pitch_, {0, 0, 6, 3, 0, 1}, ImageFileBmp, &expectedHr);
    ASSERT_EQ(expectedHr, S_OK);

    const HRESULT states[] = {D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET, D3D_OK};
    for (HRESULT state : states) {
        SCOPED_TRACE(state);
        ASSERT_EQ(SetDeviceState(device_, state), D3D_OK);
        const std::string name = dir.File("lost.bmp");
        StartLog();
        HRESULT hr = SaveSurfaceToFile(name.c_str(), ImageFileBmp, s, nullptr, nullptr);
        StopLog();
        EXPECT_EQ(hr, state == D3D_OK ? S_OK : D3DERR_DEVICELOST);
        EXPECT_EQ(test::ReadFileBytes(name), expected) << "the whole file is written";
        EXPECT_EQ(Trace(), std::string("GetDesc(S) mute1 LockRect(S) mute0 AddRef(S) GetDesc(S) GetDevice(S) "
                                       "TestCooperativeLevel(D)") +
                               (state == D3D_OK ? "" : "!") + " Release(D) UnlockRect(S) Release(S)");

        // A memory save hands the complete buffer over all the same.
        std::vector<uint8_t> bytes = SaveToMemory(s, ImageFileBmp, nullptr, &hr);
        EXPECT_EQ(hr, state == D3D_OK ? S_OK : D3DERR_DEVICELOST);
        EXPECT_EQ(bytes, expected);
        EXPECT_EQ(D3DRefCount(s), 1u);
        EXPECT_EQ(D3DRefCount(device_), 2u) << "the device, plus the surface's reference";
    }
}

struct CopyCase {
    const char* name;
    UINT width, height;
    D3DPOOL pool;
    UINT textureWidth, textureHeight, levels;
    D3DPOOL copyPool;
};

// Surfaces that refuse the direct lock but not the row copy's own lock.
TEST_F(SurfaceSave, RefusedLockIsCopiedThroughATextureLevel) {
    const CopyCase cases[] = {
        {"6x6 DXT1", 6, 6, D3DPOOL_SYSTEMMEM, 12, 12, 2, D3DPOOL_SYSTEMMEM},
        {"5x8 DXT1", 5, 8, D3DPOOL_SYSTEMMEM, 20, 32, 3, D3DPOOL_SYSTEMMEM},
        {"8x4 DXT1", 8, 4, D3DPOOL_DEFAULT, 8, 4, 1, D3DPOOL_SYSTEMMEM},
        {"6x10 DXT1 scratch", 6, 10, D3DPOOL_SCRATCH, 12, 20, 2, D3DPOOL_SCRATCH},
        {"3x3 DXT1", 3, 3, D3DPOOL_SYSTEMMEM, 12, 12, 3, D3DPOOL_SYSTEMMEM},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DSurface9* s = Plain(c.width, c.height, D3DFMT_DXT1, c.pool);
        std::vector<uint8_t> pixels = Fill(s);
        uint32_t pitch = pitch_;
        RefuseSurfaceLocks(s, 1);
        StartLog();
        HRESULT hr = E_FAIL;
        std::vector<uint8_t> bytes = SaveToMemory(s, ImageFileDds, nullptr, &hr);
        StopLog();
        std::string lost = c.pool == D3DPOOL_DEFAULT ? "GetDevice(S) TestCooperativeLevel(D) Release(D) " : "";
        EXPECT_EQ(Trace(),
                  "GetDesc(S) mute1 LockRect(S)! mute0 GetDevice(S) CreateTexture(D) GetSurfaceLevel(T) "
                  "mute1 GetDesc(S) GetDesc(C) LockRect(S) LockRect(C) UnlockRect(C) UnlockRect(S) mute0 "
                  "LockRect(C) AddRef(S) GetDesc(S) " + lost +
                      "UnlockRect(C) Release(C) Release(T) Release(D) Release(S)");
        std::vector<D3DCallRecord> textures = Calls(D3DCall::CreateTexture);
        ASSERT_EQ(textures.size(), 1u);
        EXPECT_EQ(textures[0].width, c.textureWidth);
        EXPECT_EQ(textures[0].height, c.textureHeight);
        EXPECT_EQ(textures[0].level, c.levels);
        EXPECT_EQ(textures[0].usage, 0u);
        EXPECT_EQ(textures[0].format, D3DFMT_DXT1);
        EXPECT_EQ(textures[0].pool, c.copyPool);
        std::vector<D3DCallRecord> levels = Calls(D3DCall::GetSurfaceLevel);
        ASSERT_EQ(levels.size(), 1u);
        EXPECT_EQ(levels[0].level, c.levels - 1);
        EXPECT_TRUE(Calls(D3DCall::CreateRenderTarget).empty());

        HRESULT expectedHr = E_FAIL;
        EXPECT_EQ(bytes, SaveLayer(pixels, D3DFMT_DXT1, pitch, {0, 0, c.width, c.height, 0, 1}, ImageFileDds,
                                   &expectedHr));
        EXPECT_EQ(hr, expectedHr);
        EXPECT_EQ(D3DRefCount(s), 1u);
        EXPECT_EQ(LiveD3DObjectCount(), live_ + 1 + owned_.size());
    }
}

TEST_F(SurfaceSave, NonLockableRenderTargetGoesThroughALockableOne) {
    IDirect3DSurface9* s = RenderTarget(9, 4, D3DFMT_X8R8G8B8, FALSE);
    std::vector<uint8_t> pixels = Fill(s);
    StartLog();
    HRESULT hr = E_FAIL;
    std::vector<uint8_t> bytes = SaveToMemory(s, ImageFilePng, nullptr, &hr);
    StopLog();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Trace(),
              "GetDesc(S) mute1 LockRect(S)! mute0 GetDevice(S) CreateTexture(D) GetSurfaceLevel(T) "
              "mute1 GetDesc(S) GetDesc(C) LockRect(S)! mute0 CreateRenderTarget(D) StretchRect(D) "
              "GetDesc(R) GetDesc(C) LockRect(R) LockRect(C) UnlockRect(C) UnlockRect(R) Release(R) "
              "LockRect(C) AddRef(S) GetDesc(S) GetDevice(S) TestCooperativeLevel(D) Release(D) "
              "UnlockRect(C) Release(C) Release(T) Release(D) Release(S)");
    std::vector<D3DCallRecord> targets = Calls(D3DCall::CreateRenderTarget);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].width, 9u);
    EXPECT_EQ(targets[0].height, 4u);
    EXPECT_EQ(targets[0].format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(targets[0].multiSample, D3DMULTISAMPLE_NONE);
    EXPECT_TRUE(targets[0].lockable);
    std::vector<D3DCallRecord> stretches = Calls(D3DCall::StretchRect);
    ASSERT_EQ(stretches.size(), 1u);
    EXPECT_FALSE(stretches[0].hasRect);
    EXPECT_FALSE(stretches[0].hasRect2);
    EXPECT_EQ(stretches[0].filter, D3DTEXF_NONE);
    HRESULT expectedHr = E_FAIL;
    EXPECT_EQ(bytes, SaveLayer(pixels, D3DFMT_X8R8G8B8, pitch_, {0, 0, 9, 4, 0, 1}, ImageFilePng, &expectedHr));
    EXPECT_EQ(expectedHr, S_OK);
    EXPECT_EQ(D3DRefCount(s), 1u);
}

TEST_F(SurfaceSave, BlockSurfaceNotWholeBlocksDoesNotTryTheRenderTarget) {
    // Level 1 of a default-pool 12 x 12 DXT1 texture: 6 x 6, never lockable.
    IDirect3DSurface9* s = Level(12, 12, 2, 0, D3DFMT_DXT1, D3DPOOL_DEFAULT, 1);
    StartLog();
    HRESULT hr = S_OK;
    EXPECT_TRUE(SaveToMemory(s, ImageFileDds, nullptr, &hr).empty());
    StopLog();
    EXPECT_EQ(hr, D3DERR_INVALIDCALL) << "the failure of the row copy";
    EXPECT_EQ(Trace(),
              "GetDesc(S) mute1 LockRect(S)! mute0 GetDevice(S) CreateTexture(D) GetSurfaceLevel(T) "
              "mute1 GetDesc(S) GetDesc(C) LockRect(S)! mute0 Release(C) Release(T) Release(D)");
    EXPECT_EQ(D3DRefCount(s), 1u);
}

// Every failing step of the copy routes reports its own failure and leaves
// every count as it was.
TEST_F(SurfaceSave, EachFailingStepOfTheCopyIsReported) {
    struct Case {
        const char* name;
        D3DCall call;
        unsigned long nth;
        bool creation;
    };
    const Case cases[] = {
        {"GetDevice", D3DCall::GetDevice, 1, false},
        {"CreateTexture", D3DCall::CreateTexture, 1, false},
        {"GetSurfaceLevel", D3DCall::GetSurfaceLevel, 1, false},
        {"CreateRenderTarget", D3DCall::CreateRenderTarget, 1, false},
        {"StretchRect", D3DCall::StretchRect, 1, false},
        {"lock of the render target", D3DCall::LockRect, 3, false},
        {"lock of the copy in the row copy", D3DCall::LockRect, 4, false},
        {"final lock of the copy", D3DCall::LockRect, 5, false},
        {"texture creation", D3DCall::Count, 1, true},
        {"render target creation", D3DCall::Count, 2, true},
    };
    const HRESULT failure = HRESULT(0x88760999u);
    IDirect3DSurface9* s = RenderTarget(4, 4, D3DFMT_A8R8G8B8, FALSE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetD3DControls();
        if (c.creation) {
            FailD3DCreationAt(c.nth, failure);
        } else {
            FailD3DCall(c.call, c.nth, failure);
        }
        IDataBuffer* buffer = reinterpret_cast<IDataBuffer*>(uintptr_t{1});
        HRESULT hr = SaveSurface(&buffer, ImageFileBmp, nullptr, nullptr, Memory, s);
        EXPECT_EQ(hr, failure);
        EXPECT_EQ(buffer, nullptr) << "a failed memory save leaves no stale pointer";
        EXPECT_EQ(D3DRefCount(s), 1u);
        EXPECT_EQ(D3DRefCount(device_), 1u + owned_.size());
        EXPECT_EQ(LiveD3DObjectCount(), live_ + 1 + owned_.size());
        EXPECT_FALSE(IsSurfaceLocked(s));
    }
}

// Every allocation of a save through the longest route can fail; whatever
// the result, nothing leaks and every count is restored.
TEST_F(SurfaceSave, AllocationFailuresOnTheRenderTargetRouteLeaveNothingBehind) {
    IDirect3DSurface9* s = RenderTarget(5, 3, D3DFMT_X8R8G8B8, FALSE);
    Fill(s);
    for (unsigned long n = 1;; ++n) {
        SCOPED_TRACE(n);
        ResetAllocationCount();
        FailAllocationAt(n);
        IDataBuffer* buffer = nullptr;
        HRESULT hr = SaveSurface(&buffer, ImageFileBmp, nullptr, nullptr, Memory, s);
        unsigned long made = AllocationCount();
        ResetAllocationCount();
        if (buffer) buffer->Release();
        EXPECT_EQ(D3DRefCount(s), 1u);
        EXPECT_EQ(LiveD3DObjectCount(), live_ + 1 + owned_.size());
        if (SUCCEEDED(hr)) {
            EXPECT_GT(n, made) << "an allocation failed and the save still succeeded";
            break;
        }
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(hr, E_OUTOFMEMORY);
    }
}

// --- Rectangles -------------------------------------------------------------------

struct AlignCase {
    D3DFORMAT format;
    UINT width, height;
    RECT rect;
    bool whole;       // locked with a null rectangle
    RECT locked;      // otherwise the rectangle locked
    ImageBox box;     // of the region, in the locked area's coordinates
    ImageBox layer;   // after AdoptRegion
};

TEST_F(SurfaceSave, PartialLocksAlignToBlocksAndPairs) {
    const AlignCase cases[] = {
        {D3DFMT_DXT1, 16, 16, {5, 6, 9, 10}, false, {4, 4, 12, 12}, {1, 2, 5, 6, 0, 1}, {0, 0, 5, 6, 0, 1}},
        {D3DFMT_DXT5, 16, 16, {13, 0, 15, 3}, false, {12, 0, 16, 4}, {1, 0, 3, 3, 0, 1}, {0, 0, 3, 3, 0, 1}},
        {D3DFMT_DXT1, 6, 6, {1, 1, 5, 5}, true, {}, {1, 1, 5, 5, 0, 1}, {0, 0, 5, 5, 0, 1}},
        {D3DFMT_DXT3, 16, 16, {0, 0, 16, 16}, true, {}, {0, 0, 16, 16, 0, 1}, {0, 0, 16, 16, 0, 1}},
        {D3DFMT_YUY2, 8, 2, {3, 0, 5, 2}, false, {2, 0, 6, 2}, {1, 0, 3, 2, 0, 1}, {0, 0, 3, 2, 0, 1}},
        {D3DFMT_UYVY, 7, 3, {5, 1, 7, 2}, false, {4, 1, 7, 2}, {1, 0, 3, 1, 0, 1}, {0, 0, 3, 1, 0, 1}},
        {D3DFMT_G8R8_G8B8, 8, 2, {1, 0, 8, 2}, true, {}, {1, 0, 8, 2, 0, 1}, {0, 0, 8, 2, 0, 1}},
        {D3DFMT_X8R8G8B8, 8, 8, {3, 2, 7, 8}, false, {3, 2, 7, 8}, {0, 0, 4, 6, 0, 1}, {0, 0, 4, 6, 0, 1}},
        {D3DFMT_R8G8B8, 8, 8, {0, 0, 8, 8}, true, {}, {0, 0, 8, 8, 0, 1}, {0, 0, 8, 8, 0, 1}},
        {D3DFMT_L8, 8, 8, {2, 0, 2, 8}, false, {2, 0, 2, 8}, {0, 0, 0, 8, 0, 1}, {0, 0, 0, 8, 0, 1}},
    };
    for (const AlignCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.rect.left << "," << c.rect.top << ","
                                        << c.rect.right << "," << c.rect.bottom);
        IDirect3DSurface9* s = Plain(c.width, c.height, c.format, D3DPOOL_SYSTEMMEM);
        D3DLOCKED_RECT whole = {};
        ASSERT_EQ(s->LockRect(&whole, nullptr, 0), D3D_OK);
        s->UnlockRect();

        PALETTEENTRY palette[256] = {};
        StartLog();
        SurfaceLock lock;
        BlitRegion region = {};
        ASSERT_EQ(lock.Lock(&region, s, palette, &c.rect, 0xFF00FF00u, SurfaceLockReadOnly), S_OK);
        StopLog();
        std::vector<D3DCallRecord> locks = Calls(D3DCall::LockRect);
        ASSERT_EQ(locks.size(), 1u);
        EXPECT_EQ(bool(locks[0].hasRect), !c.whole);
        if (!c.whole) {
            EXPECT_EQ(locks[0].rect.left, c.locked.left);
            EXPECT_EQ(locks[0].rect.top, c.locked.top);
            EXPECT_EQ(locks[0].rect.right, c.locked.right);
            EXPECT_EQ(locks[0].rect.bottom, c.locked.bottom);
        }
        EXPECT_EQ(region.format, uint32_t(c.format));
        EXPECT_EQ(region.rowPitch, uint32_t(whole.Pitch));
        EXPECT_EQ(region.slicePitch, 0u);
        const ImageBox bounds = {0, 0, c.width, c.height, 0, 1};
        EXPECT_EQ(std::memcmp(&region.bounds, &bounds, sizeof(ImageBox)), 0);
        EXPECT_EQ(std::memcmp(&region.box, &c.box, sizeof(ImageBox)), 0)
            << region.box.left << "," << region.box.top << "," << region.box.right << "," << region.box.bottom;
        EXPECT_EQ(region.dither, 1u);
        EXPECT_EQ(region.diffuse, 0u);
        EXPECT_EQ(region.srgb, 0u);
        EXPECT_EQ(region.colorKey, 0xFF00FF00u);
        EXPECT_EQ(region.palette, palette);
        EXPECT_EQ(lock.surface, s);
        EXPECT_EQ(lock.readOnly, 1u);
        EXPECT_EQ(D3DRefCount(s), 2u) << "the lock holds a reference";

        ImageLayer layer;
        layer.AdoptRegion(region);
        EXPECT_EQ(std::memcmp(&layer.box, &c.layer, sizeof(ImageBox)), 0)
            << layer.box.left << "," << layer.box.top << "," << layer.box.right << "," << layer.box.bottom;
        EXPECT_EQ(layer.width, c.layer.right);
        EXPECT_EQ(layer.height, c.layer.bottom);
        EXPECT_EQ(layer.depth, 1u);
        EXPECT_EQ(layer.bits, region.bits);
        EXPECT_EQ(layer.ownsBits, 0u);
        EXPECT_EQ(layer.ownsPalette, 0u);

        lock.Unlock();
        EXPECT_EQ(lock.surface, nullptr);
        EXPECT_FALSE(IsSurfaceLocked(s));
        EXPECT_EQ(D3DRefCount(s), 1u);
        lock.Unlock();  // harmless when idle
    }
}

TEST_F(SurfaceSave, AdoptRegionFreesWhatTheLayerOwned) {
    ImageLayer layer;
    layer.bits = Allocate(64);
    layer.ownsBits = 1;
    layer.palette = static_cast<PALETTEENTRY*>(Allocate(256 * sizeof(PALETTEENTRY)));
    layer.ownsPalette = 1;
    uint8_t pixels[64] = {};
    BlitRegion region = {};
    region.bits = pixels;
    region.format = D3DFMT_A8R8G8B8;
    region.rowPitch = 16;
    region.box = {1, 1, 3, 4, 0, 1};
    layer.AdoptRegion(region);  // LeakSanitizer notices if the old blocks stay
    EXPECT_EQ(layer.bits, pixels);
    EXPECT_EQ(layer.palette, nullptr);
    EXPECT_EQ(layer.width, 2u);
    EXPECT_EQ(layer.height, 3u);
    EXPECT_EQ(layer.rowPitch, 16u);
    EXPECT_EQ(layer.ownsBits, 0u);
}

TEST_F(SurfaceSave, PartialSaveOfABlockSurfaceEqualsItsBlockAlignedLayer) {
    IDirect3DSurface9* s = Plain(16, 16, D3DFMT_DXT1, D3DPOOL_SYSTEMMEM);
    std::vector<uint8_t> pixels = Fill(s);
    RECT rect = {5, 6, 9, 10};
    HRESULT hr = E_FAIL, expectedHr = E_FAIL;
    std::vector<uint8_t> bytes = SaveToMemory(s, ImageFileDds, &rect, &hr);
    // The 5 x 6 layer starts at block (1, 1): 8 bytes per block, 32 per row.
    std::vector<uint8_t> expected = SaveLayer(std::vector<uint8_t>(pixels.begin() + 32 + 8, pixels.end()),
                                              D3DFMT_DXT1, 32, {0, 0, 5, 6, 0, 1}, ImageFileDds, &expectedHr);
    EXPECT_EQ(hr, expectedHr);
    EXPECT_EQ(bytes, expected);
}

// --- Muting ---------------------------------------------------------------------

TEST_F(SurfaceSave, MutingSurroundsExactlyTheDirectLockAndTheFirstRowCopy) {
    struct Case {
        const char* name;
        int kind;  // 0 direct, 1 texture copy, 2 render target
        const char* muted;  // the calls between each mute1 and mute0, joined with |
    };
    const Case cases[] = {
        {"direct", 0, "LockRect(S)"},
        {"texture copy", 1, "LockRect(S)!|GetDesc(S) GetDesc(C) LockRect(S) LockRect(C) UnlockRect(C) UnlockRect(S)"},
        {"render target", 2, "LockRect(S)!|GetDesc(S) GetDesc(C) LockRect(S)!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DSurface9* s = c.kind == 2 ? RenderTarget(4, 4, D3DFMT_X8R8G8B8, FALSE)
                                           : Plain(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM);
        if (c.kind == 1) RefuseSurfaceLocks(s, 1);
        StartLog();
        HRESULT hr = E_FAIL;
        SaveToMemory(s, ImageFileBmp, nullptr, &hr);
        StopLog();
        EXPECT_EQ(hr, S_OK);
        std::string trace = Trace();
        // The parts between the switches, and that they alternate on, off.
        std::string muted;
        size_t at = 0;
        int switches = 0;
        while ((at = trace.find("mute", at)) != std::string::npos) {
            char value = trace[at + 4];
            EXPECT_EQ(value, switches % 2 == 0 ? '1' : '0') << trace;
            if (value == '1') {
                size_t end = trace.find(" mute0", at);
                ASSERT_NE(end, std::string::npos);
                if (!muted.empty()) muted += "|";
                muted += trace.substr(at + 6, end - at - 6);
            }
            ++switches;
            at += 5;
        }
        EXPECT_EQ(muted, c.muted) << trace;
    }
}

// --- Same bytes as the working image -------------------------------------------

size_t BytesPerPixel(D3DFORMAT f) {
    switch (f) {
    case D3DFMT_L8: return 1;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5: return 2;
    case D3DFMT_R8G8B8: return 3;
    default: return 4;
    }
}

struct EquivalenceCase {
    const char* name;
    int kind;  // 0 offscreen plain, 1 texture level, 2 render target
    D3DFORMAT format;
    D3DPOOL pool;
    DWORD usage;
    uint32_t fileFormat;
    bool useRect;
    RECT rect;
};

TEST_F(SurfaceSave, SavesEqualSavingTheEquivalentWorkingImageToEveryTarget) {
    const EquivalenceCase cases[] = {
        {"X8R8G8B8 system memory BMP", 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, 0, ImageFileBmp, false, {}},
        {"A8R8G8B8 scratch PNG", 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, 0, ImageFilePng, false, {}},
        {"R5G6B5 default pool BMP", 0, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, 0, ImageFileBmp, false, {}},
        {"X8R8G8B8 default texture JPEG", 1, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 0, ImageFileJpg, false, {}},
        {"A8R8G8B8 dynamic texture DIB", 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC, ImageFileDib,
         false, {}},
        {"X8R8G8B8 render target PNG", 2, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, 0, ImageFilePng, false, {}},
        {"X1R5G5B5 part BMP", 0, D3DFMT_X1R5G5B5, D3DPOOL_SYSTEMMEM, 0, ImageFileBmp, true, {2, 1, 9, 6}},
        {"R8G8B8 render target part BMP", 2, D3DFMT_R8G8B8, D3DPOOL_DEFAULT, 0, ImageFileBmp, true,
         {1, 2, 11, 7}},
        {"DXT1 default texture DDS", 1, D3DFMT_DXT1, D3DPOOL_DEFAULT, 0, ImageFileDds, false, {}},
        {"L8 system memory TGA", 0, D3DFMT_L8, D3DPOOL_SYSTEMMEM, 0, ImageFileTga, false, {}},
    };
    test::ScratchDir dir;
    uint32_t seed = 1;
    for (const EquivalenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const UINT w = 12, h = 8;
        IDirect3DSurface9* s = c.kind == 0   ? Plain(w, h, c.format, c.pool)
                               : c.kind == 1 ? Level(w, h, 1, c.usage, c.format, c.pool, 0)
                                             : RenderTarget(w, h, c.format, FALSE);
        ASSERT_NE(s, nullptr);
        std::vector<uint8_t> pixels = Fill(s, seed++);
        const RECT* rect = c.useRect ? &c.rect : nullptr;
        RECT r = c.useRect ? c.rect : RECT{0, 0, LONG(w), LONG(h)};
        size_t bpp = BytesPerPixel(c.format);
        size_t offset = IsBlock(c.format) ? 0 : size_t(r.top) * pitch_ + size_t(r.left) * bpp;
        HRESULT expectedHr = E_FAIL;
        std::vector<uint8_t> expected =
            SaveLayer(std::vector<uint8_t>(pixels.begin() + offset, pixels.end()), c.format, pitch_,
                      {0, 0, uint32_t(r.right - r.left), uint32_t(r.bottom - r.top), 0, 1}, c.fileFormat,
                      &expectedHr);

        // File types whose writer is not in this build are refused alike.
        if (SUCCEEDED(expectedHr)) {
            EXPECT_FALSE(expected.empty());
        } else {
            EXPECT_EQ(expectedHr, D3DERR_INVALIDCALL);
        }
        HRESULT hr = E_FAIL;
        EXPECT_EQ(SaveToMemory(s, c.fileFormat, rect, &hr), expected) << "memory";
        EXPECT_EQ(hr, expectedHr);

        const std::string nameA = dir.File(std::string("a") + std::to_string(seed));
        EXPECT_EQ(SaveSurfaceToFile(nameA.c_str(), c.fileFormat, s, nullptr, rect), expectedHr);
        if (SUCCEEDED(expectedHr)) {
            EXPECT_EQ(test::ReadFileBytes(nameA), expected) << "8-bit name";
        }

        const std::string nameW = dir.File(std::string("w\xC3\xA9") + std::to_string(seed));  // "wé"
        const std::string number = std::to_string(seed);
        std::u16string full(dir.path().begin(), dir.path().end());
        full += u"/w\u00E9" + std::u16string(number.begin(), number.end());
        EXPECT_EQ(SaveSurface(full.c_str(), c.fileFormat, nullptr, rect, FileW, s), expectedHr);
        if (SUCCEEDED(expectedHr)) {
            EXPECT_EQ(test::ReadFileBytes(nameW), expected) << "wide name";
        }

        EXPECT_EQ(D3DRefCount(s), 1u);
        EXPECT_FALSE(IsSurfaceLocked(s));
    }
    EXPECT_EQ(ReadOnlyLockViolationCount(), 0u) << "a read-only lock wrote into a surface";
}

}  // namespace
}  // namespace z3az
