// The processor queries over the CPUID instruction, or over a processor that
// a test presents.
#include "platform/win_processor.h"

#include <unistd.h>

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define Z3AZ_HAVE_CPUID 1
#endif

namespace {

// Process-wide, unsynchronised like the rest of the platform state.
bool g_presented = false;
PresentedProcessor g_processor;

bool PresentedCpuid(uint32_t leaf, uint32_t regs[4]) {
    const PresentedProcessor& p = g_processor;
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    if (!p.hasCpuid) return false;
    if (leaf == 0) {
        regs[0] = p.maxStandardLeaf;
        // The vendor string is spread over EBX, EDX, ECX in that order.
        std::memcpy(&regs[1], p.vendor, 4);
        std::memcpy(&regs[3], p.vendor + 4, 4);
        std::memcpy(&regs[2], p.vendor + 8, 4);
    } else if (leaf == 1 && p.maxStandardLeaf >= 1) {
        uint32_t family = p.family;
        uint32_t extFamily = 0;
        if (family > 15) {
            extFamily = family - 15;
            family = 15;
        }
        uint32_t model = p.model & 0xF;
        uint32_t extModel = (p.model >> 4) & 0xF;
        regs[0] = (p.stepping & 0xF) | (model << 4) | ((family & 0xF) << 8) |
                  (extModel << 16) | ((extFamily & 0xFF) << 20);
        regs[2] = p.standardEcx;
        regs[3] = p.standardEdx;
    } else if (leaf == 0x80000000u) {
        regs[0] = p.maxExtendedLeaf;
    } else if (leaf == 0x80000001u && p.maxExtendedLeaf >= 0x80000001u) {
        regs[3] = p.extendedEdx;
    }
    return true;
}

bool RealCpuid(uint32_t leaf, uint32_t regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#if Z3AZ_HAVE_CPUID
    if (__get_cpuid_max(leaf & 0x80000000u, nullptr) < leaf) return true;
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, 0, a, b, c, d);
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
    return true;
#else
    (void)leaf;
    return false;
#endif
}

struct ProcessorBits {
    uint32_t maxStandard = 0;
    uint32_t signature = 0;  // leaf 1 EAX
    uint32_t edx = 0;        // leaf 1 EDX
    uint32_t extendedEdx = 0;
};

ProcessorBits ReadBits() {
    ProcessorBits bits;
    uint32_t regs[4];
    if (!QueryCpuid(0, regs)) return bits;
    bits.maxStandard = regs[0];
    if (bits.maxStandard >= 1 && QueryCpuid(1, regs)) {
        bits.signature = regs[0];
        bits.edx = regs[3];
    }
    if (QueryCpuid(0x80000000u, regs) && regs[0] >= 0x80000001u &&
        QueryCpuid(0x80000001u, regs)) {
        bits.extendedEdx = regs[3];
    }
    return bits;
}

bool IsX86() {
    // A presented processor is always an x86 one.
#if Z3AZ_HAVE_CPUID
    return true;
#else
    return g_presented;
#endif
}

}  // namespace

bool QueryCpuid(uint32_t leaf, uint32_t regs[4]) {
    return g_presented ? PresentedCpuid(leaf, regs) : RealCpuid(leaf, regs);
}

void PresentProcessor(const PresentedProcessor* processor) {
    if (processor) {
        g_processor = *processor;
        g_processor.vendor[12] = '\0';
        g_presented = true;
    } else {
        g_processor = PresentedProcessor{};
        g_presented = false;
    }
}

extern "C" BOOL IsProcessorFeaturePresent(DWORD feature) {
    if (!IsX86()) return FALSE;
    ProcessorBits bits = ReadBits();
    switch (feature) {
    case PF_MMX_INSTRUCTIONS_AVAILABLE: return (bits.edx & CpuidMmx) != 0;
    case PF_XMMI_INSTRUCTIONS_AVAILABLE: return (bits.edx & CpuidSse) != 0;
    case PF_XMMI64_INSTRUCTIONS_AVAILABLE: return (bits.edx & CpuidSse2) != 0;
    case PF_3DNOW_INSTRUCTIONS_AVAILABLE: return (bits.extendedEdx & Cpuid3DNow) != 0;
    case PF_RDTSC_INSTRUCTION_AVAILABLE: return (bits.edx & (1u << 4)) != 0;
    case PF_COMPARE_EXCHANGE_DOUBLE: return (bits.edx & (1u << 8)) != 0;
    case PF_PAE_ENABLED: return (bits.edx & (1u << 6)) != 0;
    default: return FALSE;
    }
}

extern "C" void GetSystemInfo(LPSYSTEM_INFO info) {
    if (!info) return;
    std::memset(info, 0, sizeof *info);
    long page = sysconf(_SC_PAGESIZE);
    info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
    info->dwAllocationGranularity = 65536;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x10000));
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x7FFEFFFF));
    DWORD count = 1;
    if (g_presented) {
        count = g_processor.processorCount ? g_processor.processorCount : 1;
    } else {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        if (online > 0) count = static_cast<DWORD>(online);
    }
    info->dwNumberOfProcessors = count;
    info->dwActiveProcessorMask =
        count >= sizeof(DWORD_PTR) * 8 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << count) - 1;
    if (!IsX86()) {
        info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
        return;
    }
    // Reported as a 32-bit process on an x86 processor sees it.
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    ProcessorBits bits = ReadBits();
    uint32_t family = (bits.signature >> 8) & 0xF;
    uint32_t model = (bits.signature >> 4) & 0xF;
    if (family == 0xF) family += (bits.signature >> 20) & 0xFF;
    if (family == 0x6 || family >= 0xF) model |= ((bits.signature >> 16) & 0xF) << 4;
    if (bits.maxStandard == 0) family = 4;  // no identification: a 486 at best
    info->wProcessorLevel = static_cast<WORD>(family);
    info->wProcessorRevision = static_cast<WORD>((model << 8) | (bits.signature & 0xF));
    info->dwProcessorType = family >= 5 ? PROCESSOR_INTEL_PENTIUM
                            : family == 4 ? PROCESSOR_INTEL_486
                                          : PROCESSOR_INTEL_386;
}
