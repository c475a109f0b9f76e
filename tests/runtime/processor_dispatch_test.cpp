// The dispatch table's choice of routines on presented processors under the
// registry switches, the per-path vector normalisation and the MMX test.
#include "runtime/processor_dispatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "platform/win_processor.h"
#include "platform/win_registry.h"
#include "runtime/half_float.h"
#include "runtime/normalize_vector.h"

namespace z3az {
namespace {

template <class Fn>
DispatchRoutine R(Fn fn) {
    return reinterpret_cast<DispatchRoutine>(fn);
}

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

constexpr const char* kKey = "Software\\Ruzodivoz\\Direct3D";

void SetValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}
void SetDword(const char* name, DWORD value) { SetValue(name, REG_DWORD, &value, 4); }
void DeleteValue(const char* name) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, name), ERROR_SUCCESS);
    RegCloseKey(key);
}

PresentedProcessor Processor(const char* vendor, uint32_t family, uint32_t edx,
                             uint32_t extendedEdx) {
    PresentedProcessor p;
    std::strcpy(p.vendor, vendor);
    p.family = family;
    p.standardEdx = edx;
    p.maxExtendedLeaf = extendedEdx ? 0x80000001u : 0x80000000u;
    p.extendedEdx = extendedEdx;
    return p;
}

const uint32_t kAmdExt = Cpuid3DNow | Cpuid3DNowExt | CpuidAmdMmxExt;
// An AMD processor with 3DNow! and SSE2.
const PresentedProcessor kAthlon64 =
    Processor("AuthenticAMD", 15, CpuidMmx | CpuidSse | CpuidSse2, kAmdExt);
// 3DNow! and MMX, no SSE.
const PresentedProcessor kK6 = Processor("AuthenticAMD", 5, CpuidMmx, Cpuid3DNow);
// 3DNow! reported, but no MMX.
const PresentedProcessor kOdd3DNow = Processor("AuthenticAMD", 6, 0, Cpuid3DNow);
const PresentedProcessor kPentium3 = Processor("GenuineIntel", 6, CpuidMmx | CpuidSse, 0);
const PresentedProcessor kPentium4 =
    Processor("GenuineIntel", 15, CpuidMmx | CpuidSse | CpuidSse2, 0);
// A processor with nothing: CPUID, but no feature at all.
const PresentedProcessor kPlain = Processor("GenuineIntel", 5, 0, 0);
const PresentedProcessor kNoCpuid = [] {
    PresentedProcessor p;
    p.hasCpuid = false;
    return p;
}();
const PresentedProcessor kLeafZeroOnly = [] {
    PresentedProcessor p = Processor("GenuineIntel", 6, CpuidMmx | CpuidSse | CpuidSse2, 0);
    p.maxStandardLeaf = 0;
    return p;
}();

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRegistry();
        ResetProcessorDispatch();
        ResetMmxAvailability();
    }
    void TearDown() override {
        PresentProcessor(nullptr);
        ClearRegistry();
        ResetProcessorDispatch();
        ResetMmxAvailability();
    }
};

struct Routines {
    DispatchRoutine normalize, toHalf, fromHalf;
};
const Routines kPortable = {R(&NormalizeVector3Generic), R(&Float32ToFloat16Portable),
                            R(&Float16ToFloat32Portable)};
const Routines kSse = {R(&NormalizeVector3Sse), R(&Float32ToFloat16Portable),
                       R(&Float16ToFloat32Sse)};
const Routines kSse2 = {R(&NormalizeVector3Sse2), R(&Float32ToFloat16Portable),
                        R(&Float16ToFloat32Sse2)};
const Routines k3DNow = {R(&NormalizeVector3ThreeDNow), R(&Float32ToFloat16ThreeDNow),
                         R(&Float16ToFloat32ThreeDNow)};

struct SelectionCase {
    const char* name;
    const PresentedProcessor* processor;
    std::optional<DWORD> disablePsgp;
    std::optional<DWORD> disableOwnPsgp;
    uint32_t state;
    const Routines* routines;
};

const SelectionCase kSelection[] = {
    {"AMD 3DNow!+SSE2 takes the AMD path", &kAthlon64, {}, {}, DispatchAmd, &k3DNow},
    {"switch 2 skips the AMD path", &kAthlon64, 2, {}, DispatchSse2, &kSse2},
    {"switch 1 forbids every set", &kAthlon64, 1, {}, DispatchPortable, &kPortable},
    {"own switch 0 overrides 1", &kAthlon64, 1, 0, DispatchAmd, &k3DNow},
    {"own switch 0 overrides 1 on SSE2", &kPentium4, 1, 0, DispatchSse2, &kSse2},
    {"own switch 1 alone", &kPentium4, {}, 1, DispatchPortable, &kPortable},
    {"own switch 2 over 0", &kAthlon64, 0, 2, DispatchSse2, &kSse2},
    {"an unknown switch value acts as 0", &kAthlon64, 3, {}, DispatchAmd, &k3DNow},
    {"SSE only", &kPentium3, {}, {}, DispatchSse, &kSse},
    {"SSE only with switch 2", &kPentium3, 2, {}, DispatchSse, &kSse},
    {"SSE2", &kPentium4, {}, {}, DispatchSse2, &kSse2},
    {"no features", &kPlain, {}, {}, DispatchPortable, &kPortable},
    {"no CPUID", &kNoCpuid, {}, {}, DispatchPortable, &kPortable},
    {"highest standard leaf 0", &kLeafZeroOnly, {}, {}, DispatchPortable, &kPortable},
    {"3DNow! without SSE", &kK6, {}, {}, DispatchAmd, &k3DNow},
    {"3DNow! without SSE, switch 2", &kK6, 2, {}, DispatchPortable, &kPortable},
    {"3DNow! without MMX: AMD path, no set", &kOdd3DNow, {}, {}, DispatchAmd, &kPortable},
};

TEST_F(DispatchTest, SwitchesAndProcessorsSelectThePath) {
    for (const SelectionCase& c : kSelection) {
        SCOPED_TRACE(c.name);
        ClearRegistry();
        ResetProcessorDispatch();
        PresentProcessor(c.processor);
        if (c.disablePsgp) SetDword("DisablePSGP", *c.disablePsgp);
        if (c.disableOwnPsgp) SetDword("DisableZ3AZPSGP", *c.disableOwnPsgp);
        EXPECT_EQ(InitProcessorDispatch(), c.state);
        EXPECT_EQ(DispatchState, c.state);
        EXPECT_EQ(ProcessorDispatchTable[SlotNormalizeVector3], c.routines->normalize);
        EXPECT_EQ(ProcessorDispatchTable[SlotFloat32ToFloat16Array], c.routines->toHalf);
        EXPECT_EQ(ProcessorDispatchTable[SlotFloat16ToFloat32Array], c.routines->fromHalf);
        // The reserved slots hold no routine on any path.
        for (uint32_t i = 0; i < DispatchSlotCount; ++i) {
            if (i != SlotNormalizeVector3 && i != SlotFloat32ToFloat16Array &&
                i != SlotFloat16ToFloat32Array) {
                EXPECT_EQ(ProcessorDispatchTable[i], nullptr) << "slot " << i;
            }
        }
    }
}

TEST_F(DispatchTest, SwitchOfAnotherTypeCountsAsAbsent) {
    PresentProcessor(&kPentium4);
    SetValue("DisablePSGP", REG_SZ, "1", 2);
    const DWORD one = 1;
    SetValue("DisableZ3AZPSGP", REG_BINARY, &one, 4);
    EXPECT_EQ(InitProcessorDispatch(), DispatchSse2);
}

TEST_F(DispatchTest, FilledOnceUntilReset) {
    PresentProcessor(&kPentium3);
    EXPECT_EQ(InitProcessorDispatch(), DispatchSse);
    PresentProcessor(&kPentium4);
    SetDword("DisablePSGP", 1);
    EXPECT_EQ(InitProcessorDispatch(), DispatchSse);
    EXPECT_EQ(ProcessorDispatchTable[SlotNormalizeVector3], R(&NormalizeVector3Sse));
}

TEST_F(DispatchTest, FirstCallEntriesFillTheTableAndCallTheChosenRoutine) {
    ASSERT_EQ(DispatchState, DispatchNotFilled);
    for (uint32_t slot : {SlotNormalizeVector3, SlotFloat32ToFloat16Array, SlotFloat16ToFloat32Array}) {
        EXPECT_NE(ProcessorDispatchTable[slot], nullptr);
        EXPECT_NE(ProcessorDispatchTable[slot], PortableRoutines[slot]);
    }
    // On the SSE path a vector of squared length below 2^-46 becomes zero;
    // the portable routine would normalise it.
    PresentProcessor(&kPentium3);
    float v[3] = {1e-10f, 0.0f, 0.0f};
    EXPECT_EQ(NormalizeVector3(v, v), v);
    EXPECT_EQ(DispatchState, DispatchSse);
    EXPECT_EQ(v[0], 0.0f);
}

TEST_F(DispatchTest, PortableTableHoldsTheThreeRoutinesOnly) {
    EXPECT_EQ(PortableRoutines[SlotNormalizeVector3], R(&NormalizeVector3Generic));
    EXPECT_EQ(PortableRoutines[SlotFloat32ToFloat16Array], R(&Float32ToFloat16Portable));
    EXPECT_EQ(PortableRoutines[SlotFloat16ToFloat32Array], R(&Float16ToFloat32Portable));
    int filled = 0;
    for (DispatchRoutine r : PortableRoutines) filled += r != nullptr;
    EXPECT_EQ(filled, 3);
}

// NormalizeVector3 per path.
using NormalizeFn = float* (*)(float*, const float*);
struct NormalizeCase {
    const char* name;
    NormalizeFn fn;
    float in[3];
    float out[3];
    float tolerance;  // 0: bit for bit
};
const NormalizeCase kNormalize[] = {
    {"generic zero", &NormalizeVector3Generic, {0, 0, 0}, {0, 0, 0}, 0},
    {"generic unit copied", &NormalizeVector3Generic, {0.6f, 0.8f, 0}, {0.6f, 0.8f, 0}, 0},
    {"generic near unit copied", &NormalizeVector3Generic, {1.000004f, 0, 0}, {1.000004f, 0, 0}, 0},
    {"generic 3-4-0", &NormalizeVector3Generic, {3, 4, 0}, {0.6f, 0.8f, 0}, 2e-6f},
    {"generic tiny", &NormalizeVector3Generic, {1e-10f, 0, 0}, {1, 0, 0}, 2e-6f},
    {"generic negative", &NormalizeVector3Generic, {0, -2, 0}, {0, -1, 0}, 2e-6f},
    {"SSE zero", &NormalizeVector3Sse, {0, 0, 0}, {0, 0, 0}, 0},
    {"SSE 3-4-0", &NormalizeVector3Sse, {3, 4, 0}, {0.6f, 0.8f, 0}, 1e-6f},
    {"SSE below 2^-46", &NormalizeVector3Sse, {1e-10f, 0, 0}, {0, 0, 0}, 0},
    {"SSE at 2^-46", &NormalizeVector3Sse, {0x1p-23f, 0, 0}, {1, 0, 0}, 1e-6f},
    {"SSE2 2-2-1", &NormalizeVector3Sse2, {2, 2, 1}, {2.0f / 3, 2.0f / 3, 1.0f / 3}, 1e-6f},
    {"SSE2 below 2^-46", &NormalizeVector3Sse2, {0x1p-24f, 0, 0}, {0, 0, 0}, 0},
    {"3DNow! zero", &NormalizeVector3ThreeDNow, {0, 0, 0}, {0, 0, 0}, 0},
    {"3DNow! 3-4-0", &NormalizeVector3ThreeDNow, {3, 4, 0}, {0.6f, 0.8f, 0}, 1.2e-7f},
    {"3DNow! tiny still normalised", &NormalizeVector3ThreeDNow, {1e-10f, 0, 0}, {1, 0, 0}, 1.2e-7f},
    {"3DNow! at 2^-126", &NormalizeVector3ThreeDNow, {0x1p-63f, 0, 0}, {0, 0, 0}, 0},
    {"3DNow! above 2^-126", &NormalizeVector3ThreeDNow, {0x1p-62f, 0, 0}, {1, 0, 0}, 1.2e-7f},
};

TEST(NormalizeVector3Paths, ResultsPerPath) {
    for (const NormalizeCase& c : kNormalize) {
        SCOPED_TRACE(c.name);
        float out[3] = {9, 9, 9};
        EXPECT_EQ(c.fn(out, c.in), out);
        float inPlace[3] = {c.in[0], c.in[1], c.in[2]};
        c.fn(inPlace, inPlace);
        for (int i = 0; i < 3; ++i) {
            if (c.tolerance == 0) {
                EXPECT_EQ(Bits(out[i]), Bits(c.out[i])) << i;
            } else {
                EXPECT_NEAR(out[i], c.out[i], c.tolerance) << i;
            }
            EXPECT_EQ(Bits(inPlace[i]), Bits(out[i])) << "in place " << i;
        }
    }
}

TEST(NormalizeVector3Paths, GenericResultIsTheApproximateInverseSquareRootTimesTheSource) {
    const float in[3] = {1.0f, 2.0f, 2.0f};  // squared length 9
    float out[3];
    NormalizeVector3Generic(out, in);
    // ApproxInvSqrt(9): 9 = 0.5625 * 2^4, line 32 of the table, scaled by 1/4.
    EXPECT_NEAR(out[0], 1.0f / 3, 1e-6f);
    EXPECT_NEAR(out[1], 2.0f / 3, 1.5e-6f);
    EXPECT_EQ(Bits(out[1]), Bits(out[2]));
}

TEST_F(DispatchTest, EntryFollowsThePathOfThePresentedProcessor) {
    struct {
        const PresentedProcessor* processor;
        float expected;  // of the first component for (1e-10, 0, 0)
    } cases[] = {{&kK6, 1.0f}, {&kPentium4, 0.0f}, {&kPlain, 1.0f}};
    for (const auto& c : cases) {
        ResetProcessorDispatch();
        PresentProcessor(c.processor);
        float v[3] = {1e-10f, 0, 0};
        NormalizeVector3(v, v);
        EXPECT_NEAR(v[0], c.expected, 2e-6f);
    }
}

// MMX availability.
TEST_F(DispatchTest, MmxFollowsTheProcessor) {
    struct {
        PresentedProcessor processor;
        int32_t expected;
    } cases[] = {
        {Processor("GenuineIntel", 5, CpuidMmx, 0), 1},
        {Processor("GenuineIntel", 6, CpuidMmx | CpuidSse, 0), 1},
        {Processor("GenuineIntel", 5, 0, 0), 0},
        {Processor("GenuineIntel", 4, CpuidMmx, 0), 0},  // below level 5
        {kNoCpuid, 0},
    };
    for (const auto& c : cases) {
        ResetMmxAvailability();
        PresentProcessor(&c.processor);
        EXPECT_EQ(IsMmxAvailable(), c.expected) << c.processor.family;
    }
}

TEST_F(DispatchTest, DisableMmxForcesZeroForTheRestOfTheProcess) {
    PresentProcessor(&kPentium3);
    SetDword("DisableMMX", 1);
    EXPECT_EQ(IsMmxAvailable(), 0);
    DeleteValue("DisableMMX");
    EXPECT_EQ(IsMmxAvailable(), 0);
    EXPECT_EQ(IsMmxAvailable(), 0);
}

TEST_F(DispatchTest, DisableMmxIsLookedAtOnEveryCall) {
    PresentProcessor(&kPentium3);
    EXPECT_EQ(IsMmxAvailable(), 1);
    SetDword("DisableMMX", 7);
    EXPECT_EQ(IsMmxAvailable(), 0);
    DeleteValue("DisableMMX");
    EXPECT_EQ(IsMmxAvailable(), 0);
}

TEST_F(DispatchTest, DisableMmxZeroOrOfAnotherTypeIsIgnored) {
    PresentProcessor(&kPentium3);
    SetDword("DisableMMX", 0);
    EXPECT_EQ(IsMmxAvailable(), 1);
    const DWORD one = 1;
    SetValue("DisableMMX", REG_BINARY, &one, 4);
    EXPECT_EQ(IsMmxAvailable(), 1);
    EXPECT_EQ(OpenRegistryKeyCount(), 0u);
}

// The platform's view of a presented processor.
TEST_F(DispatchTest, PresentedProcessorThroughThePlatform) {
    PresentProcessor(&kAthlon64);
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE));
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE));
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_MMX_INSTRUCTIONS_AVAILABLE));
    uint32_t regs[4];
    ASSERT_TRUE(QueryCpuid(0, regs));
    char vendor[13] = {};
    std::memcpy(vendor, &regs[1], 4);
    std::memcpy(vendor + 4, &regs[3], 4);
    std::memcpy(vendor + 8, &regs[2], 4);
    EXPECT_STREQ(vendor, "AuthenticAMD");
    ASSERT_TRUE(QueryCpuid(0x80000001u, regs));
    EXPECT_EQ(regs[3], kAmdExt);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(info.wProcessorLevel, 15);

    PresentedProcessor zen = kAthlon64;
    zen.family = 23;
    zen.model = 0x31;
    zen.stepping = 2;
    PresentProcessor(&zen);
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorLevel, 23);
    EXPECT_EQ(info.wProcessorRevision, 0x3102);

    PresentProcessor(&kPentium3);
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE));
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE));

    PresentProcessor(&kNoCpuid);
    EXPECT_FALSE(QueryCpuid(0, regs));
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_MMX_INSTRUCTIONS_AVAILABLE));
}

#if defined(__x86_64__)
TEST_F(DispatchTest, RealX86_64ProcessorLooksLikeA32BitOneWithSse2) {
    PresentProcessor(nullptr);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_GE(info.wProcessorLevel, 6);
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    EXPECT_EQ(IsMmxAvailable(), 1);
    // So the vector routines serve here too.
    const uint32_t state = InitProcessorDispatch();
    EXPECT_TRUE(state == DispatchSse2 || state == DispatchAmd) << state;
}
#endif

}  // namespace
}  // namespace z3az
