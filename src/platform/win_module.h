// Modules: a process-wide table of the libraries a process may load, with
// their exports. A module is known once it is registered (as if it were
// installed on the system) and loaded while its load count is above zero.
// GetModuleHandleA finds loaded modules only; LoadLibraryA loads a known one.
// Names compare without regard to ASCII case, ignore any directory part, and
// get ".dll" appended when they have no extension.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
typedef intptr_t (*FARPROC)();

extern "C" {

HMODULE GetModuleHandleA(LPCSTR moduleName);
// Adds a reference to a known module; null when the module is not known.
HMODULE LoadLibraryA(LPCSTR fileName);
// The address of an export of a loaded module, or null.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Takes back one reference of LoadLibraryA; FALSE for a module not loaded.
BOOL FreeLibrary(HMODULE module);

}  // extern "C"

namespace z3az {

struct ModuleExport {
    const char* name;
    FARPROC address;
};

// Makes a module known with the given exports (copied), replacing an earlier
// registration of the same name (its load count is kept). With `loaded` the
// module also gets one load reference, as if the process had loaded it.
// False when the name is empty or memory runs out.
bool RegisterModule(const char* name, const ModuleExport* exports, size_t exportCount,
                    bool loaded);
// Forgets a module entirely (for tests); handles to it become invalid.
void UnregisterModule(const char* name);
// The module's current load count; 0 when not loaded or not known.
unsigned long ModuleLoadCount(const char* name);
// Calls of LoadLibraryA and GetProcAddress since the process started.
unsigned long LoadLibraryCallCount();
unsigned long GetProcAddressCallCount();

}  // namespace z3az
