// The Win32 types the system's code is written against, beyond the basics
// it shares with the public Direct3D 9 header (z3az/win32.h).
#pragma once

#include <cstdint>

#include "z3az/com.h"
#include "z3az/types.h"
#include "z3az/win32.h"

typedef char CHAR;
typedef char16_t WCHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

// A window is an X11 window id.
typedef uintptr_t HWND;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
