// Window drawing contexts over Xlib, and StretchBlt between drawing contexts.
//
// An HWND is an X11 window id (0 stands for the root window of the default
// screen). Window pixels are read with XGetImage on a display connection of
// the library's own, opened from DISPLAY on first use and kept for the life
// of the process. X errors during a capture are caught by a handler of our
// own (Xlib's default one would end the process), so a window that is gone,
// unmapped or partly off screen only makes the copy fail.
//
// A copy writes X8R8G8B8 pixels with the X byte 0, whatever the layout of the
// X image (bits per pixel, byte order, channel masks, or a colour map).
//
// Source rectangles that are not wholly readable (larger than the window,
// partly outside it, partly off screen): the readable part is copied, the rest
// of the destination is left as it was, and StretchBlt returns 0, so that the
// caller learns that the picture is incomplete.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/heap.h"
#include "platform/win_gdi.h"

namespace {

using z3az::Allocate;
using z3az::AllocateArray;
using z3az::Free;

// The library's own display connection; null until one could be opened.
Display* g_display = nullptr;

Display* OpenDisplay() {
    if (!g_display) {
        const char* name = std::getenv("DISPLAY");
        if (name && *name) g_display = XOpenDisplay(name);
    }
    return g_display;
}

// Collects X errors of our connection while a capture runs, and hands errors
// of other connections (a host's own) to the handler that was there before.
int g_trappedError = 0;
XErrorHandler g_previousHandler = nullptr;

int TrapError(Display* display, XErrorEvent* event) {
    if (display == g_display) {
        if (g_trappedError == 0) g_trappedError = event->error_code ? event->error_code : -1;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, event) : 0;
}

class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display) {
        XSync(display_, False);
        g_trappedError = 0;
        previous_ = XSetErrorHandler(TrapError);
        g_previousHandler = previous_;
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
        g_previousHandler = nullptr;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far.
    bool Failed() {
        XSync(display_, False);
        return g_trappedError != 0;
    }

private:
    Display* display_;
    XErrorHandler previous_;
};

// A rectangle in source coordinates; right and bottom exclusive.
struct Span {
    long left, top, right, bottom;
    bool Empty() const { return right <= left || bottom <= top; }
    long Width() const { return right - left; }
    long Height() const { return bottom - top; }
};

Span Intersect(const Span& a, const Span& b) {
    Span s{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
           a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    if (s.Empty()) s = Span{0, 0, 0, 0};
    return s;
}

// Pixels a copy reads from: X8R8G8B8 rows, and the part of the requested
// source rectangle they cover (in source coordinates).
struct SourcePixels {
    const uint8_t* bits = nullptr;  // pixel at (valid.left, valid.top)
    size_t rowPitch = 0;
    Span valid{0, 0, 0, 0};
    void* owned = nullptr;  // a capture buffer to free
};

// Expands the channel under `mask` of an X pixel to 8 bits.
uint32_t Channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = std::countr_zero(mask);
    unsigned long value = (pixel & mask) >> shift;
    int bits = std::popcount(mask >> shift);
    if (bits >= 8) return static_cast<uint32_t>(value >> (bits - 8));
    unsigned long max = (1ul << bits) - 1;
    return static_cast<uint32_t>((value * 255 + max / 2) / max);
}

// Converts an X image into X8R8G8B8 rows. `colors` maps pixel values when the
// visual has no channel masks (a colour map of `colorCount` entries).
void ConvertImage(XImage* image, uint8_t* out, size_t outPitch, const uint32_t* colors,
                  unsigned long colorCount) {
    const int w = image->width;
    const int h = image->height;
    const bool direct32 = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                          image->red_mask == 0xff0000 && image->green_mask == 0xff00 &&
                          image->blue_mask == 0xff;
    for (int y = 0; y < h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(out + y * outPitch);
        if (direct32) {
            const uint8_t* in = reinterpret_cast<const uint8_t*>(image->data) +
                                static_cast<size_t>(y) * image->bytes_per_line;
            for (int x = 0; x < w; ++x) {
                uint32_t p;
                std::memcpy(&p, in + 4 * x, 4);
                row[x] = p & 0x00ffffffu;  // the fourth byte is not reliably 0
            }
            continue;
        }
        for (int x = 0; x < w; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            if (colors) {
                row[x] = p < colorCount ? colors[p] : 0;
            } else {
                row[x] = (Channel(p, image->red_mask) << 16) |
                         (Channel(p, image->green_mask) << 8) | Channel(p, image->blue_mask);
            }
        }
    }
}

// Reads the colour map of a visual without channel masks; null on failure.
uint32_t* ReadColormap(Display* display, Colormap colormap, int depth, unsigned long* count,
                       ErrorTrap& trap) {
    if (colormap == None || depth <= 0 || depth > 12) return nullptr;
    const unsigned long n = 1ul << depth;
    XColor* entries = static_cast<XColor*>(AllocateArray(n, sizeof(XColor)));
    uint32_t* colors = static_cast<uint32_t*>(AllocateArray(n, sizeof(uint32_t)));
    if (!entries || !colors) {
        Free(entries);
        Free(colors);
        return nullptr;
    }
    for (unsigned long i = 0; i < n; ++i) {
        entries[i] = XColor{};
        entries[i].pixel = i;
    }
    XQueryColors(display, colormap, entries, static_cast<int>(n));
    if (trap.Failed()) {
        Free(entries);
        Free(colors);
        return nullptr;
    }
    for (unsigned long i = 0; i < n; ++i) {
        colors[i] = (static_cast<uint32_t>(entries[i].red >> 8) << 16) |
                    (static_cast<uint32_t>(entries[i].green >> 8) << 8) |
                    static_cast<uint32_t>(entries[i].blue >> 8);
    }
    Free(entries);
    *count = n;
    return colors;
}

// Reads the part of `want` (window coordinates) that the window shows on
// screen. Leaves `source.valid` empty when nothing could be read.
void CaptureWindow(HWND hwnd, const Span& want, SourcePixels& source) {
    Display* display = OpenDisplay();
    if (!display) return;
    ErrorTrap trap(display);
    Window window = hwnd ? static_cast<Window>(hwnd) : DefaultRootWindow(display);

    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || trap.Failed()) return;
    if (attributes.map_state != IsViewable) return;

    int rootX = 0, rootY = 0;
    Window child;
    if (!XTranslateCoordinates(display, window, attributes.root, 0, 0, &rootX, &rootY, &child) ||
        trap.Failed())
        return;
    const Span inWindow{0, 0, attributes.width, attributes.height};
    const Span onScreen{-static_cast<long>(rootX), -static_cast<long>(rootY),
                        WidthOfScreen(attributes.screen) - static_cast<long>(rootX),
                        HeightOfScreen(attributes.screen) - static_cast<long>(rootY)};
    const Span readable = Intersect(Intersect(want, inWindow), onScreen);
    if (readable.Empty()) return;

    XImage* image = XGetImage(display, window, static_cast<int>(readable.left),
                              static_cast<int>(readable.top),
                              static_cast<unsigned>(readable.Width()),
                              static_cast<unsigned>(readable.Height()), AllPlanes, ZPixmap);
    if (trap.Failed() || !image) {
        if (image) XDestroyImage(image);
        return;
    }

    uint32_t* colors = nullptr;
    unsigned long colorCount = 0;
    if (image->red_mask == 0 && image->green_mask == 0 && image->blue_mask == 0) {
        colors = ReadColormap(display, attributes.colormap, image->depth, &colorCount, trap);
        if (!colors) {
            XDestroyImage(image);
            return;
        }
    }

    const size_t pitch = static_cast<size_t>(readable.Width()) * 4;
    uint8_t* pixels = static_cast<uint8_t*>(AllocateArray(pitch, static_cast<size_t>(readable.Height())));
    if (pixels) {
        ConvertImage(image, pixels, pitch, colors, colorCount);
        source.bits = pixels;
        source.rowPitch = pitch;
        source.valid = readable;
        source.owned = pixels;
    }
    Free(colors);
    XDestroyImage(image);
}

// The part of `want` that a memory context holds.
void ReadMemory(HDC dc, const Span& want, SourcePixels& source) {
    const Span inBitmap{0, 0, static_cast<long>(dc->width), static_cast<long>(dc->height)};
    const Span readable = Intersect(want, inBitmap);
    if (readable.Empty()) return;
    source.rowPitch = dc->rowPitch;
    source.bits = static_cast<const uint8_t*>(dc->bits) + readable.top * dc->rowPitch +
                  readable.left * 4;
    source.valid = readable;
}

bool IsContext(HDC dc) {
    return dc && (dc->kind == HDC__::WindowDC || (dc->kind == HDC__::MemoryDC && dc->bits));
}

}  // namespace

extern "C" {

HDC GetDC(HWND window) {
    HDC dc = z3az::New<HDC__>();
    if (!dc) return nullptr;
    dc->kind = HDC__::WindowDC;
    dc->window = window;
    dc->bits = nullptr;
    dc->width = 0;
    dc->height = 0;
    dc->rowPitch = 0;
    dc->bkMode = OPAQUE;
    return dc;
}

int ReleaseDC(HWND window, HDC dc) {
    if (!dc || dc->kind != HDC__::WindowDC || dc->window != window) return 0;
    z3az::Delete(dc);
    return 1;
}

int SetBkMode(HDC dc, int mode) {
    if (!IsContext(dc) || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

// Copies (and scales, nearest pixel) a rectangle of a window or memory
// context into a memory context. The destination is clipped to its bitmap.
// Mirroring (negative sizes) and raster operations other than SRCCOPY are not
// supported and fail.
BOOL StretchBlt(HDC destination, int xDest, int yDest, int wDest, int hDest, HDC source, int xSrc,
                int ySrc, int wSrc, int hSrc, DWORD rop) {
    if (!IsContext(destination) || destination->kind != HDC__::MemoryDC || !IsContext(source))
        return FALSE;
    if (rop != SRCCOPY || wDest <= 0 || hDest <= 0 || wSrc <= 0 || hSrc <= 0) return FALSE;

    const Span want{xSrc, ySrc, static_cast<long>(xSrc) + wSrc, static_cast<long>(ySrc) + hSrc};
    SourcePixels pixels;
    if (source->kind == HDC__::WindowDC)
        CaptureWindow(source->window, want, pixels);
    else
        ReadMemory(source, want, pixels);

    const Span target = Intersect(
        Span{xDest, yDest, static_cast<long>(xDest) + wDest, static_cast<long>(yDest) + hDest},
        Span{0, 0, static_cast<long>(destination->width), static_cast<long>(destination->height)});
    uint8_t* out = static_cast<uint8_t*>(destination->bits);
    if (!pixels.valid.Empty()) {
        for (long y = target.top; y < target.bottom; ++y) {
            const long sy = ySrc + (y - yDest) * static_cast<long>(hSrc) / hDest;
            if (sy < pixels.valid.top || sy >= pixels.valid.bottom) continue;
            const uint8_t* in = pixels.bits + (sy - pixels.valid.top) * pixels.rowPitch;
            uint32_t* row = reinterpret_cast<uint32_t*>(out + y * destination->rowPitch);
            for (long x = target.left; x < target.right; ++x) {
                const long sx = xSrc + (x - xDest) * static_cast<long>(wSrc) / wDest;
                if (sx < pixels.valid.left || sx >= pixels.valid.right) continue;
                uint32_t p;
                std::memcpy(&p, in + (sx - pixels.valid.left) * 4, 4);
                row[x] = p & 0x00ffffffu;
            }
        }
    }
    Free(pixels.owned);

    const bool complete = pixels.valid.left == want.left && pixels.valid.top == want.top &&
                          pixels.valid.right == want.right && pixels.valid.bottom == want.bottom;
    return complete ? TRUE : FALSE;
}

}  // extern "C"
