// Drawing contexts over pixels in memory, handed out by a surface's GetDC.
#include "platform/heap.h"
#include "platform/win_gdi.h"

HDC CreateMemoryDC(void* bits, uint32_t width, uint32_t height, uint32_t rowPitch) {
    if (!bits) return nullptr;
    HDC dc = z3az::New<HDC__>();
    if (!dc) return nullptr;
    dc->kind = HDC__::MemoryDC;
    dc->window = 0;
    dc->bits = bits;
    dc->width = width;
    dc->height = height;
    dc->rowPitch = rowPitch;
    dc->bkMode = OPAQUE;
    return dc;
}

void DestroyMemoryDC(HDC dc) {
    if (dc && dc->kind == HDC__::MemoryDC) z3az::Delete(dc);
}
