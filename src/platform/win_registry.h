// The registry: a process-wide, in-memory tree of keys holding typed values.
// It starts empty; hosts and tests fill it with RegCreateKeyA/RegSetValueExA.
// Key paths and value names compare without regard to ASCII case, and a path
// may separate its parts with one or more backslashes.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
#define HKEY_CURRENT_CONFIG ((HKEY)(uintptr_t)0x80000005u)

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0L
#endif
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2L
#endif
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6L
#endif
#ifndef ERROR_NOT_ENOUGH_MEMORY
#define ERROR_NOT_ENOUGH_MEMORY 8L
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87L
#endif
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234L
#endif

extern "C" {

// Opens an existing key below `key` (a root or an open key); a null or empty
// subkey opens `key` itself again. ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
// Opens the key, creating it and every missing key on the way.
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCloseKey(HKEY key);
// Reads a value of an open key. `type`, `data` and `size` may be null. When
// `data` is given and *size is too small, ERROR_MORE_DATA is returned, nothing
// is copied and *size receives the size needed.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD size);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);

}  // extern "C"

namespace z3az {

// Empties the whole registry (for tests). Handles still open become invalid.
void ClearRegistry();
// Counts the keys opened and not yet closed (for tests that check balance).
unsigned long OpenRegistryKeyCount();
// Counts calls of RegOpenKeyA since the process started (for tests).
unsigned long RegistryOpenCallCount();

}  // namespace z3az
