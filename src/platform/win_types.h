// The basic Win32 types the system's code is written against.
#pragma once

#include <cstdint>

#include "z3az/com.h"
#include "z3az/types.h"

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// A window is an X11 window id.
typedef uintptr_t HWND;
// A drawing context: over a window (Xlib) or over a surface's pixels.
struct HDC__;
typedef HDC__* HDC;

// Also declared by the public Direct3D 9 header, hence the guard.
#ifndef Z3AZ_RECT_DEFINED
#define Z3AZ_RECT_DEFINED
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct POINT {
    LONG x;
    LONG y;
};
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
