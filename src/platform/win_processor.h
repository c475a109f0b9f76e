// Processor identification: the feature query, the system information record
// and the CPUID instruction, as the library sees them. On x86 and x86-64 they
// report the real processor; elsewhere a processor without features. Tests
// can present any processor instead (vendor, feature bits, family).
#pragma once

#include <cstdint>

#include "platform/win_types.h"

#define PF_FLOATING_POINT_PRECISION_ERRATA 0
#define PF_FLOATING_POINT_EMULATED 1
#define PF_COMPARE_EXCHANGE_DOUBLE 2
#define PF_MMX_INSTRUCTIONS_AVAILABLE 3
#define PF_XMMI_INSTRUCTIONS_AVAILABLE 6
#define PF_3DNOW_INSTRUCTIONS_AVAILABLE 7
#define PF_RDTSC_INSTRUCTION_AVAILABLE 8
#define PF_PAE_ENABLED 9
#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10
#define PF_SSE3_INSTRUCTIONS_AVAILABLE 13

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF

#define PROCESSOR_INTEL_386 386
#define PROCESSOR_INTEL_486 486
#define PROCESSOR_INTEL_PENTIUM 586

typedef uintptr_t DWORD_PTR;

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;     // the CPUID family (6 for most current x86)
    WORD wProcessorRevision;  // model in the high byte, stepping in the low
};
typedef SYSTEM_INFO* LPSYSTEM_INFO;

extern "C" {

// True when the processor has the feature (PF_* above).
BOOL IsProcessorFeaturePresent(DWORD feature);
// The processor as a 32-bit x86 process sees it: architecture Intel on x86
// and x86-64, the level from the CPUID family.
void GetSystemInfo(LPSYSTEM_INFO info);

}  // extern "C"

// Executes CPUID for `leaf` (sub-leaf 0) and stores EAX, EBX, ECX, EDX into
// regs. Returns false, with regs zeroed, on a processor without CPUID.
bool QueryCpuid(uint32_t leaf, uint32_t regs[4]);

// A processor that tests present to the library in place of the real one.
// The CPUID leaves 0, 1, 0x80000000 and 0x80000001 are built from these
// fields; every other leaf reads as zeros. The feature query and the system
// information follow from the same bits.
struct PresentedProcessor {
    bool hasCpuid = true;
    char vendor[13] = "GenuineIntel";
    uint32_t maxStandardLeaf = 1;
    uint32_t family = 6;
    uint32_t model = 0;
    uint32_t stepping = 0;
    uint32_t standardEcx = 0;     // leaf 1 ECX
    uint32_t standardEdx = 0;     // leaf 1 EDX: bit 23 MMX, 25 SSE, 26 SSE2
    uint32_t maxExtendedLeaf = 0; // leaf 0x80000000 EAX (0 or 0x8000000x)
    uint32_t extendedEdx = 0;     // leaf 0x80000001 EDX: 31 3DNow!, 30 ext 3DNow!, 22 AMD MMX ext
    uint32_t processorCount = 1;
};

// CPUID feature bits, for building presented processors.
constexpr uint32_t CpuidMmx = 1u << 23;
constexpr uint32_t CpuidSse = 1u << 25;
constexpr uint32_t CpuidSse2 = 1u << 26;
constexpr uint32_t Cpuid3DNow = 1u << 31;
constexpr uint32_t Cpuid3DNowExt = 1u << 30;
constexpr uint32_t CpuidAmdMmxExt = 1u << 22;

// Presents `processor` until the next call; null goes back to the real one.
void PresentProcessor(const PresentedProcessor* processor);
