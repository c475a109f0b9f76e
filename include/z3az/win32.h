// The Win32 basics that the Direct3D 9 interfaces and the platform services
// are written with: integer types, handles, drawing contexts, rectangles.
#pragma once

#include <cstdint>

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef void* HANDLE;

// A drawing context: over a window (Xlib) or over a surface's pixels.
struct HDC__;
typedef HDC__* HDC;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

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
