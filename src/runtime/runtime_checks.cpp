// The process-wide state here is filled on first use and kept for the life
// of the process; it has no locks, as every caller is on the saving thread.
#include "runtime/runtime_checks.h"

#include <new>

#include "platform/win_debug.h"
#include "platform/win_module.h"
#include "platform/win_registry.h"

namespace z3az {
namespace {

typedef void (*MuteFunction)(int32_t mute);

MuteFunction g_retailMute = nullptr;
MuteFunction g_debugMute = nullptr;
int32_t g_doNotMute = -1;  // -1: not read yet
bool g_allocatorChecked = false;

// The mute export of a module the process has already loaded, or null.
// A module that is not loaded stays unloaded.
MuteFunction FindMute(const char* moduleName) {
    if (!GetModuleHandleA(moduleName)) return nullptr;
    HMODULE module = LoadLibraryA(moduleName);  // kept for the life of the process
    if (!module) return nullptr;
    // Through the generic function type, which converts to any other.
    FARPROC address = GetProcAddress(module, "DebugSetMute");
    return reinterpret_cast<MuteFunction>(reinterpret_cast<void (*)()>(address));
}

// Zero bytes from the global operator new; a throwing allocator counts as
// one that returned null.
void* AllocateZeroBytes() {
    try {
        return ::operator new(0);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

bool ReadDirect3DRegistryValue(uint32_t expectedType, const char* valueName, void* data,
                               uint32_t* size) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Ruzodivoz\\Direct3D", &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, static_cast<LPBYTE>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == expectedType;
}

void DebugMute(int32_t mute) {
    if (!g_retailMute && !g_debugMute) {
        g_retailMute = FindMute("d3d9.dll");
        g_debugMute = FindMute("d3d9d.dll");
    }
    if (g_doNotMute == -1) {
        uint32_t value = 0;
        uint32_t size = sizeof value;
        if (!ReadDirect3DRegistryValue(REG_DWORD, "Z3AZDoNotMute", &value, &size)) value = 0;
        g_doNotMute = value != 0 ? 1 : 0;
    }
    if (g_doNotMute == 1) return;
    if (g_retailMute) g_retailMute(mute);
    if (g_debugMute) g_debugMute(mute);
}

void CheckAllocatorConformance() {
    if (g_allocatorChecked) return;
    g_allocatorChecked = true;

    void* volatile first = AllocateZeroBytes();
    void* volatile second = AllocateZeroBytes();
    bool conforms = first != nullptr && second != nullptr && first != second;
    if (first) ::operator delete(first);
    if (second && second != first) ::operator delete(second);
    void* volatile none = nullptr;
    ::operator delete(none);

    if (!conforms) {
        OutputDebugStringA(
            "Z3AZ: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n");
        OutputDebugStringA(
            "Z3AZ: (WARN) An allocation of zero bytes should return a unique non-null pointer to at\r\n");
        OutputDebugStringA(
            "Z3AZ: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n");
        OutputDebugStringA("Z3AZ: (WARN) Z3AZ relies upon this behavior.\r\n");
    }
}

}  // namespace z3az
