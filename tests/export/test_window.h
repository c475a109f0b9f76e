// A top-level X11 window showing known pixels, on a connection of the test's
// own, for capture tests. Placed without a window manager's help
// (override-redirect) exactly where asked.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <map>

namespace vandrop::test {

class TestWindow {
public:
    TestWindow() = default;
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Opens the display (once), creates the window and, when `map` is set,
    // waits until it is viewable. False when there is no display.
    bool Create(int x, int y, int width, int height, bool map = true);
    // Paints every pixel: colour(x, y) as 0xRRGGBB. On 32-bit pixels the
    // unused top byte is set to 0xFF, so that a capture must clear it.
    // Colours the screen cannot
    // show exactly are shown as near as it can (tests keep to 0/255 channels
    // on screens deeper or shallower than 24 bits).
    void Paint(const std::function<uint32_t(int, int)>& colour);
    void Unmap();
    void Destroy();

    Window id() const { return window_; }
    int width() const { return width_; }
    int height() const { return height_; }

    static Display* display();
    static int Depth();
    static int ScreenWidth();
    static int ScreenHeight();
    // Whether the screen shows every 8-bit channel value exactly.
    static bool ExactColours();

private:
    unsigned long PixelOf(uint32_t rgb);
    Window window_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::map<uint32_t, unsigned long> allocated_;
};

// Colours every screen of depth 8, 16 or 24 shows exactly: each channel 0 or 255.
uint32_t PrimaryColour(int index);

}  // namespace vandrop::test
