#include "test_window.h"

#include <X11/Xutil.h>

#include <bit>
#include <cstdlib>
#include <cstring>

namespace vandrop::test {

namespace {
Display* g_display = nullptr;

unsigned long Compose(uint32_t value8, unsigned long mask) {
    int shift = std::countr_zero(mask);
    int bits = std::popcount(mask >> shift);
    unsigned long max = (1ul << bits) - 1;
    return ((value8 * max + 127) / 255) << shift;
}
}  // namespace

Display* TestWindow::display() {
    if (!g_display && std::getenv("DISPLAY")) g_display = XOpenDisplay(nullptr);
    return g_display;
}

int TestWindow::Depth() { return display() ? DefaultDepth(display(), DefaultScreen(display())) : 0; }
int TestWindow::ScreenWidth() { return DisplayWidth(display(), DefaultScreen(display())); }
int TestWindow::ScreenHeight() { return DisplayHeight(display(), DefaultScreen(display())); }

bool TestWindow::ExactColours() {
    Visual* v = DefaultVisual(display(), DefaultScreen(display()));
    return v->red_mask == 0xff0000 && v->green_mask == 0xff00 && v->blue_mask == 0xff;
}

uint32_t PrimaryColour(int index) {
    static const uint32_t kColours[8] = {0x000000, 0xff0000, 0x00ff00, 0x0000ff,
                                         0xffff00, 0x00ffff, 0xff00ff, 0xffffff};
    return kColours[((index % 8) + 8) % 8];
}

TestWindow::~TestWindow() { Destroy(); }

bool TestWindow::Create(int x, int y, int width, int height, bool map) {
    Display* d = display();
    if (!d) return false;
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = BlackPixel(d, DefaultScreen(d));
    a.event_mask = ExposureMask | StructureNotifyMask;
    window_ = XCreateWindow(d, DefaultRootWindow(d), x, y, width, height, 0, CopyFromParent,
                            InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWBackPixel | CWEventMask, &a);
    width_ = width;
    height_ = height;
    if (map) {
        XMapWindow(d, window_);
        XEvent e;
        do {
            XWindowEvent(d, window_, StructureNotifyMask, &e);
        } while (e.type != MapNotify);
        XSync(d, False);
    }
    return true;
}

unsigned long TestWindow::PixelOf(uint32_t rgb) {
    Display* d = display();
    Visual* v = DefaultVisual(d, DefaultScreen(d));
    if (v->c_class == TrueColor || v->c_class == DirectColor) {
        const unsigned long unused = DefaultDepth(d, DefaultScreen(d)) == 24 ? 0xff000000ul : 0;
        return unused | Compose((rgb >> 16) & 0xff, v->red_mask) |
               Compose((rgb >> 8) & 0xff, v->green_mask) | Compose(rgb & 0xff, v->blue_mask);
    }
    auto found = allocated_.find(rgb);
    if (found != allocated_.end()) return found->second;
    XColor c{};
    c.red = static_cast<unsigned short>(((rgb >> 16) & 0xff) * 257);
    c.green = static_cast<unsigned short>(((rgb >> 8) & 0xff) * 257);
    c.blue = static_cast<unsigned short>((rgb & 0xff) * 257);
    c.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(d, DefaultColormap(d, DefaultScreen(d)), &c);
    allocated_[rgb] = c.pixel;
    return c.pixel;
}

void TestWindow::Paint(const std::function<uint32_t(int, int)>& colour) {
    Display* d = display();
    const int screen = DefaultScreen(d);
    XImage* image = XCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap, 0,
                                 nullptr, width_, height_, 32, 0);
    image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), height_));
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) XPutPixel(image, x, y, PixelOf(colour(x, y)));
    GC gc = XCreateGC(d, window_, 0, nullptr);
    XPutImage(d, window_, gc, image, 0, 0, 0, 0, width_, height_);
    XFreeGC(d, gc);
    XDestroyImage(image);  // frees the data too
    XSync(d, False);
}

void TestWindow::Unmap() {
    Display* d = display();
    XUnmapWindow(d, window_);
    XEvent e;
    do {
        XWindowEvent(d, window_, StructureNotifyMask, &e);
    } while (e.type != UnmapNotify);
    XSync(d, False);
}

void TestWindow::Destroy() {
    if (window_ && display()) {
        XDestroyWindow(display(), window_);
        XSync(display(), False);
    }
    window_ = 0;
}

}  // namespace vandrop::test
