// The processor dispatch table: first-call entries, the routine sets of each
// path, the choice of path and the entry points of the three operations
// that have routines here.
#include "runtime/processor_dispatch.h"

#include <cstddef>

#include "platform/win_processor.h"
#include "platform/win_registry.h"
#include "runtime/half_float.h"
#include "runtime/normalize_vector.h"
#include "runtime/runtime_checks.h"

namespace z3az {
namespace {

using NormalizeFn = float* (*)(float*, const float*);
using ToHalfFn = uint16_t* (*)(uint16_t*, const float*, uint32_t);
using FromHalfFn = float* (*)(float*, const uint16_t*, uint32_t);

template <class Fn>
DispatchRoutine AsRoutine(Fn fn) {
    return reinterpret_cast<DispatchRoutine>(fn);
}
template <class Fn>
Fn SlotRoutine(DispatchSlot slot) {
    return reinterpret_cast<Fn>(ProcessorDispatchTable[slot]);
}

// First-call entries: fill the table, then go on to the routine it chose.
float* FirstCallNormalizeVector3(float* destination, const float* source) {
    InitProcessorDispatch();
    return SlotRoutine<NormalizeFn>(SlotNormalizeVector3)(destination, source);
}
uint16_t* FirstCallFloat32ToFloat16(uint16_t* destination, const float* source, uint32_t count) {
    InitProcessorDispatch();
    return SlotRoutine<ToHalfFn>(SlotFloat32ToFloat16Array)(destination, source, count);
}
float* FirstCallFloat16ToFloat32(float* destination, const uint16_t* source, uint32_t count) {
    InitProcessorDispatch();
    return SlotRoutine<FromHalfFn>(SlotFloat16ToFloat32Array)(destination, source, count);
}

struct SlotAssignment {
    DispatchSlot slot;
    DispatchRoutine routine;
};

// The routines each set installs. The sets also stand for slots of the
// operations this library has no routines for; those slots stay empty.
// generic: slots 0 to 7 and 35.
const SlotAssignment kGenericSet[] = {
    {SlotNormalizeVector3, AsRoutine(&NormalizeVector3Generic)},
};
// SSE: slots 0 to 11, 14, 17 to 23, 25, 26, 28, 29, 35, 45, 48 to 55, 59 to
// 66, 69 and 71.
const SlotAssignment kSseSet[] = {
    {SlotNormalizeVector3, AsRoutine(&NormalizeVector3Sse)},
    {SlotFloat16ToFloat32Array, AsRoutine(&Float16ToFloat32Sse)},
};
// SSE2: the SSE set's slots except 45, with routines of its own for 7, 14,
// 17, 22, 25, 26, 28, 29, 59 to 66 and 69. Slot 58 keeps the portable
// routine on both paths.
const SlotAssignment kSse2Set[] = {
    {SlotNormalizeVector3, AsRoutine(&NormalizeVector3Sse2)},
    {SlotFloat16ToFloat32Array, AsRoutine(&Float16ToFloat32Sse2)},
};
// 3DNow!: slots 0 to 11 and 13 to 59. The processor extensions it stands for
// are gone from current processors, so its routines are plain code that
// gives that path's results. The K7 set (slots 16, 19, 25, 39, 40) and the
// AMD SSE set (60 to 66, 69) hold only operations without routines here.
const SlotAssignment kThreeDNowSet[] = {
    {SlotNormalizeVector3, AsRoutine(&NormalizeVector3ThreeDNow)},
    {SlotFloat32ToFloat16Array, AsRoutine(&Float32ToFloat16ThreeDNow)},
    {SlotFloat16ToFloat32Array, AsRoutine(&Float16ToFloat32ThreeDNow)},
};

template <size_t N>
void Install(const SlotAssignment (&set)[N]) {
    for (const SlotAssignment& a : set) ProcessorDispatchTable[a.slot] = a.routine;
}

constexpr uint32_t kCpuidLeaf1Sse2 = 1u << 26;

DispatchRoutine InitialRoutine(uint32_t slot) {
    switch (slot) {
    case SlotNormalizeVector3: return AsRoutine(&FirstCallNormalizeVector3);
    case SlotFloat32ToFloat16Array: return AsRoutine(&FirstCallFloat32ToFloat16);
    case SlotFloat16ToFloat32Array: return AsRoutine(&FirstCallFloat16ToFloat32);
    default: return nullptr;
    }
}

struct InitialTable {
    DispatchRoutine slots[DispatchSlotCount];
    InitialTable() {
        for (uint32_t i = 0; i < DispatchSlotCount; ++i) slots[i] = InitialRoutine(i);
    }
};

const InitialTable& FirstCallEntries() {
    static const InitialTable table;
    return table;
}

// Process-wide, without locks: the library runs on its caller's thread.
int32_t g_mmxAvailable = -1;

constexpr const char* kDirect3DKey = "Software\\Ruzodivoz\\Direct3D";

bool ReadSwitch(const char* name, uint32_t& value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    if (!ReadDirect3DRegistryValue(REG_DWORD, name, &data, &size)) return false;
    value = data;
    return true;
}

}  // namespace

DispatchRoutine ProcessorDispatchTable[DispatchSlotCount] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    AsRoutine(&FirstCallNormalizeVector3),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    AsRoutine(&FirstCallFloat32ToFloat16),
    AsRoutine(&FirstCallFloat16ToFloat32),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr,
};
static_assert(SlotNormalizeVector3 == 7 && SlotFloat32ToFloat16Array == 58 &&
              SlotFloat16ToFloat32Array == 59 && DispatchSlotCount == 74);

const DispatchRoutine PortableRoutines[DispatchSlotCount] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    AsRoutine(&NormalizeVector3Generic),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    AsRoutine(&Float32ToFloat16Portable),
    AsRoutine(&Float16ToFloat32Portable),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr,
};

uint32_t DispatchState = DispatchNotFilled;

uint32_t InitProcessorDispatch() {
    CheckAllocatorConformance();
    if (DispatchState != DispatchNotFilled) return DispatchState;

    DispatchState = DispatchPortable;
    for (uint32_t i = 0; i < DispatchSlotCount; ++i) ProcessorDispatchTable[i] = PortableRoutines[i];
    Install(kGenericSet);

    uint32_t disable = 0;
    if (!ReadSwitch("DisablePSGP", disable)) disable = 0;
    uint32_t own = 0;
    if (ReadSwitch("DisableZ3AZPSGP", own)) disable = own;
    if (disable == 1) return DispatchState;

    if (disable != 2 && IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE)) {
        bool mmx = false, sse = false, threeDNow = false, threeDNowExt = false, mmxExt = false;
        uint32_t regs[4];
        if (QueryCpuid(0, regs) && regs[0] != 0) {
            QueryCpuid(1, regs);
            mmx = (regs[3] & CpuidMmx) != 0;
            sse = (regs[3] & CpuidSse) != 0;
            QueryCpuid(0x80000000u, regs);
            if (regs[0] > 0x80000000u) {
                QueryCpuid(0x80000001u, regs);
                threeDNow = (regs[3] & Cpuid3DNow) != 0;
                threeDNowExt = (regs[3] & Cpuid3DNowExt) != 0;
                mmxExt = (regs[3] & CpuidAmdMmxExt) != 0;
            }
        }
        if (mmx && threeDNow) {
            Install(kThreeDNowSet);
            if (threeDNowExt && mmxExt) {
                // The K7 set replaces slots 16, 19, 25, 39 and 40, none of
                // which has a routine here.
            }
        }
        if (sse) {
            // The AMD SSE set replaces slots 60 to 66 and 69, none of which
            // has a routine here.
        }
        DispatchState = DispatchAmd;
        return DispatchState;
    }

    // A processor without CPUID (or whose highest standard leaf is 0) has no
    // features; QueryCpuid reports that instead of faulting.
    uint32_t regs[4] = {0, 0, 0, 0};
    uint32_t edx = 0;
    if (QueryCpuid(0, regs) && regs[0] != 0 && QueryCpuid(1, regs)) edx = regs[3];
    if (edx & kCpuidLeaf1Sse2) {
        Install(kSse2Set);
        DispatchState = DispatchSse2;
    } else if (IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE)) {
        Install(kSseSet);
        DispatchState = DispatchSse;
    }
    return DispatchState;
}

int32_t IsMmxAvailable() {
    // The switch is looked at on every call.
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kDirect3DKey, &key) == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        const LONG read = RegQueryValueExA(key, "DisableMMX", nullptr, &type,
                                           reinterpret_cast<LPBYTE>(&value), &size);
        RegCloseKey(key);
        if (read == ERROR_SUCCESS && type == REG_DWORD && value != 0) {
            g_mmxAvailable = 0;
            return 0;
        }
    }
    if (g_mmxAvailable == -1) {
        g_mmxAvailable = 0;
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        uint32_t regs[4] = {0, 0, 0, 0};
        const bool mmx = QueryCpuid(1, regs) && (regs[3] & CpuidMmx) != 0;
        if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL &&
            info.wProcessorLevel >= 5 && mmx) {
#if defined(__x86_64__) || defined(__MMX__)
            // Leave the floating-point registers usable for x87 code. Every
            // x86-64 processor has the instruction, whatever is presented.
            __asm__ volatile("emms");
#endif
            g_mmxAvailable = 1;
        }
    }
    return g_mmxAvailable;
}

void ResetProcessorDispatch() {
    const InitialTable& initial = FirstCallEntries();
    for (uint32_t i = 0; i < DispatchSlotCount; ++i) ProcessorDispatchTable[i] = initial.slots[i];
    DispatchState = DispatchNotFilled;
}

void ResetMmxAvailability() { g_mmxAvailable = -1; }

// Entry points: one indirect call through the slot.
float* NormalizeVector3(float* destination, const float* source) {
    return SlotRoutine<NormalizeFn>(SlotNormalizeVector3)(destination, source);
}

uint16_t* Float32ToFloat16Array(uint16_t* destination, const float* source, uint32_t count) {
    return SlotRoutine<ToHalfFn>(SlotFloat32ToFloat16Array)(destination, source, count);
}

float* Float16ToFloat32Array(float* destination, const uint16_t* source, uint32_t count) {
    return SlotRoutine<FromHalfFn>(SlotFloat16ToFloat32Array)(destination, source, count);
}

}  // namespace z3az
