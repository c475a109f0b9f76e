// GDI drawing contexts: over an X11 window, or over a surface's own pixels.
#pragma once

#include "platform/win_types.h"

// What a drawing context stands for. A window context reads the window's
// pixels through Xlib; a memory context is X8R8G8B8 pixels in memory.
struct HDC__ {
    enum Kind { WindowDC = 1, MemoryDC = 2 } kind;
    HWND window;        // WindowDC: the X11 window
    void* bits;         // MemoryDC: first pixel
    uint32_t width;     // MemoryDC: pixels per row
    uint32_t height;    // MemoryDC: rows
    uint32_t rowPitch;  // MemoryDC: bytes between rows
    int bkMode;         // SetBkMode's last value
};

// Background modes of SetBkMode.
#define TRANSPARENT 1
#define OPAQUE 2
// Raster operation of StretchBlt that copies the source.
#define SRCCOPY 0x00CC0020u

extern "C" {
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int SetBkMode(HDC dc, int mode);
BOOL StretchBlt(HDC destination, int xDest, int yDest, int wDest, int hDest, HDC source, int xSrc,
                int ySrc, int wSrc, int hSrc, DWORD rop);
}

// A drawing context over X8R8G8B8 pixels in memory (a locked surface): what
// IDirect3DSurface9::GetDC hands out. Destroyed with DestroyMemoryDC.
HDC CreateMemoryDC(void* bits, uint32_t width, uint32_t height, uint32_t rowPitch);
void DestroyMemoryDC(HDC dc);
