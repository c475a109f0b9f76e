// Start-up checks the library keeps for itself: the Direct3D registry
// reader, the debug-runtime mute switch and the global allocator check.
#pragma once

#include <cstdint>

namespace z3az {

// Reads one value under HKEY_LOCAL_MACHINE "Software\Ruzodivoz\Direct3D".
// True only when the value exists, fits in *size bytes and has the expected
// registry type. The buffer may have been written even when false.
bool ReadDirect3DRegistryValue(uint32_t expectedType, const char* valueName, void* data,
                               uint32_t* size);

// 1 silences the Direct3D debug runtime, 0 restores it. The mute functions
// are looked up in modules already loaded by the process; the registry value
// "Z3AZDoNotMute" (REG_DWORD, non-zero) keeps the messages.
void DebugMute(int32_t mute);

// Once per process: checks that zero-byte allocations of the global operator
// new give distinct non-null pointers, and warns on the debugger output if not.
void CheckAllocatorConformance();

}  // namespace z3az
