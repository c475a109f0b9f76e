// Window capture through GetDC / StretchBlt on an X server (run under Xvfb at
// several depths), and StretchBlt between memory contexts.

#include <gtest/gtest.h>
// After GoogleTest: Xlib defines None, Bool and Status as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/heap.h"
#include "platform/win_gdi.h"
#include "test_window.h"

namespace {

using vandrop::test::PrimaryColour;
using vandrop::test::TestWindow;

constexpr uint32_t kUntouched = 0xA5C3E1F7u;  // X byte set: a copy must clear it

// A pixel buffer with a memory drawing context over it.
struct Bitmap {
    uint32_t width, height;
    std::vector<uint32_t> pixels;
    HDC dc;
    Bitmap(uint32_t w, uint32_t h, uint32_t fill = kUntouched)
        : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill),
          dc(CreateMemoryDC(pixels.data(), w, h, w * 4)) {}
    ~Bitmap() { DestroyMemoryDC(dc); }
    uint32_t At(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A window context, given back on every way out of a test.
struct WindowDC {
    HWND window;
    HDC dc;
    explicit WindowDC(HWND w) : window(w), dc(GetDC(w)) {}
    ~WindowDC() { ReleaseDC(window, dc); }
};

// The test pattern: varied colours where the screen shows them exactly,
// primaries elsewhere.
uint32_t Pattern(int x, int y) {
    if (TestWindow::ExactColours())
        return (static_cast<uint32_t>(x * 5 + 17) & 0xff) << 16 |
               (static_cast<uint32_t>(y * 7 + 3) & 0xff) << 8 | (static_cast<uint32_t>(x ^ y) & 0xff);
    return PrimaryColour(x / 3 + y / 2);
}

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(TestWindow::display(), nullptr) << "these tests need DISPLAY (run under xvfb-run)";
    }
    void Show(TestWindow& w, int x, int y, int width, int height) {
        ASSERT_TRUE(w.Create(x, y, width, height));
        w.Paint(Pattern);
    }
};

TEST(CaptureScreen, ReportsItsDepth) {
    ASSERT_NE(TestWindow::display(), nullptr);
    const char* expected = std::getenv("VANDROP_TEST_DEPTH");
    ASSERT_NE(expected, nullptr) << "the test command names the depth it started the server with";
    EXPECT_EQ(TestWindow::Depth(), std::atoi(expected));
}

// The fixture's pixels keep a set top byte on a 24-bit screen, so the test
// below sees whether the capture clears it.
TEST_F(Capture, ScreenKeepsTheUnusedByteOfPaintedPixels) {
    if (TestWindow::Depth() != 24) GTEST_SKIP() << "32-bit pixels only at depth 24";
    TestWindow w;
    Show(w, 0, 0, 4, 4);
    XImage* image = XGetImage(TestWindow::display(), w.id(), 0, 0, 4, 4, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->bits_per_pixel, 32);
    uint32_t first;
    std::memcpy(&first, image->data, 4);
    XDestroyImage(image);
    EXPECT_EQ(first, 0xff000000u | Pattern(0, 0));
}

TEST_F(Capture, CopiesEveryPixelAsX8R8G8B8WithXByteZero) {
    TestWindow w;
    Show(w, 10, 20, 97, 61);
    Bitmap out(97, 61);
    WindowDC src(w.id());
    ASSERT_TRUE(StretchBlt(out.dc, 0, 0, 97, 61, src.dc, 0, 0, 97, 61, SRCCOPY));
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 97; ++x) ASSERT_EQ(out.At(x, y), Pattern(x, y)) << x << "," << y;
}

TEST_F(Capture, SourceOffsetAndDestinationOffset) {
    TestWindow w;
    Show(w, 0, 0, 50, 40);
    Bitmap out(30, 30);
    WindowDC src(w.id());
    // 20 x 10 from (7, 9) of the window to (4, 5) of the bitmap.
    ASSERT_TRUE(StretchBlt(out.dc, 4, 5, 20, 10, src.dc, 7, 9, 20, 10, SRCCOPY));
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 30; ++x) {
            const bool inside = x >= 4 && x < 24 && y >= 5 && y < 15;
            ASSERT_EQ(out.At(x, y), inside ? Pattern(x - 4 + 7, y - 5 + 9) : kUntouched) << x << "," << y;
        }
}

TEST_F(Capture, RootWindowStandsForTheScreen) {
    TestWindow w;
    Show(w, 33, 44, 16, 12);
    Bitmap out(16, 12);
    WindowDC src(0);
    ASSERT_TRUE(StretchBlt(out.dc, 0, 0, 16, 12, src.dc, 33, 44, 16, 12, SRCCOPY));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(out.At(x, y), Pattern(x, y));
}

// Source rectangles the window cannot fill: the part it has is copied, the
// rest of the destination stays as it was, and the copy reports failure.
struct PartialCase {
    const char* name;
    int windowX, windowWidth, windowHeight;  // the window at (windowX, 8)
    int srcX, srcY, width, height;           // asked for
    int haveWidth, haveHeight;               // what lies inside the window and on screen
};

class PartialCapture : public Capture, public ::testing::WithParamInterface<PartialCase> {};

TEST_P(PartialCapture, CopiesWhatExistsAndFails) {
    const PartialCase& c = GetParam();
    const int windowX = c.windowX >= 0 ? c.windowX : TestWindow::ScreenWidth() + c.windowX;
    TestWindow w;
    Show(w, windowX, 8, c.windowWidth, c.windowHeight);
    Bitmap out(c.width, c.height);
    WindowDC src(w.id());
    EXPECT_FALSE(StretchBlt(out.dc, 0, 0, c.width, c.height, src.dc, c.srcX, c.srcY, c.width, c.height, SRCCOPY));
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const int wx = x + c.srcX, wy = y + c.srcY;
            const bool have = wx >= 0 && wy >= 0 && wx < c.haveWidth &&
                              wy < c.haveHeight;
            ASSERT_EQ(out.At(x, y), have ? Pattern(wx, wy) : kUntouched) << c.name << " " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartialCapture,
    ::testing::Values(PartialCase{"larger", 5, 40, 30, 0, 0, 50, 45, 40, 30},
                      PartialCase{"wider", 5, 40, 30, 0, 0, 41, 30, 40, 30},
                      PartialCase{"offset", 5, 40, 30, 10, 20, 40, 20, 40, 30},
                      PartialCase{"negative origin", 5, 40, 30, -3, -2, 20, 20, 40, 30},
                      // 25 columns of a 40-wide window are on screen.
                      PartialCase{"off screen", -25, 40, 30, 0, 0, 40, 30, 25, 30}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

TEST_F(Capture, UnmappedWindowFailsAndCopiesNothing) {
    TestWindow w;
    Show(w, 10, 10, 20, 20);
    w.Unmap();
    Bitmap out(20, 20);
    WindowDC src(w.id());
    EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 20, 20, src.dc, 0, 0, 20, 20, SRCCOPY));
    for (uint32_t p : out.pixels) ASSERT_EQ(p, kUntouched);
}

TEST_F(Capture, NeverMappedWindowFails) {
    TestWindow w;
    ASSERT_TRUE(w.Create(0, 0, 20, 20, /*map=*/false));
    Bitmap out(20, 20);
    WindowDC src(w.id());
    EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 20, 20, src.dc, 0, 0, 20, 20, SRCCOPY));
}

TEST_F(Capture, GoneOrBogusWindowFailsWithoutEndingTheProcess) {
    TestWindow w;
    Show(w, 0, 0, 8, 8);
    const Window gone = w.id();
    w.Destroy();
    for (HWND window : {static_cast<HWND>(gone), static_cast<HWND>(0x7ffffff1u)}) {
        Bitmap out(8, 8);
        WindowDC src(window);
        EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 8, 8, src.dc, 0, 0, 8, 8, SRCCOPY));
        for (uint32_t p : out.pixels) ASSERT_EQ(p, kUntouched);
    }
    // The library's connection still works after the errors.
    TestWindow again;
    Show(again, 0, 0, 8, 8);
    Bitmap out(8, 8);
    WindowDC src(again.id());
    EXPECT_TRUE(StretchBlt(out.dc, 0, 0, 8, 8, src.dc, 0, 0, 8, 8, SRCCOPY));
    EXPECT_EQ(out.At(7, 7), Pattern(7, 7));
}

// The host's own X error handler stays in place and still sees the errors of
// the host's connection.
int g_hostErrors = 0;
int HostHandler(Display*, XErrorEvent*) {
    ++g_hostErrors;
    return 0;
}

TEST_F(Capture, HostErrorHandlerIsKeptAndStillServesTheHost) {
    XErrorHandler before = XSetErrorHandler(HostHandler);
    g_hostErrors = 0;
    {
        Bitmap out(4, 4);
        WindowDC src(0x7ffffff3u);
        EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 4, 4, src.dc, 0, 0, 4, 4, SRCCOPY));
    }
    EXPECT_EQ(g_hostErrors, 0) << "errors of the library's connection reached the host";
    XWindowAttributes a;
    XGetWindowAttributes(TestWindow::display(), 0x7ffffff3u, &a);  // BadWindow on the host's connection
    XSync(TestWindow::display(), False);
    EXPECT_EQ(g_hostErrors, 1);
    EXPECT_EQ(XSetErrorHandler(before), HostHandler);
}

TEST_F(Capture, AllocationFailureFailsTheCopy) {
    TestWindow w;
    Show(w, 0, 0, 16, 16);
    Bitmap out(16, 16);
    WindowDC src(w.id());
    z3az::FailAllocationAt(1);
    EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 16, 16, src.dc, 0, 0, 16, 16, SRCCOPY));
    z3az::FailAllocationAt(0);
    for (uint32_t p : out.pixels) ASSERT_EQ(p, kUntouched);
}

TEST_F(Capture, StretchesToTheDestinationSize) {
    TestWindow w;
    Show(w, 0, 0, 20, 10);
    Bitmap out(40, 5);
    WindowDC src(w.id());
    ASSERT_TRUE(StretchBlt(out.dc, 0, 0, 40, 5, src.dc, 0, 0, 20, 10, SRCCOPY));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(out.At(x, y), Pattern(x / 2, y * 2));
}

// ---------------------------------------------------------------------------
// Memory contexts, contexts and arguments (no server needed for these)
// ---------------------------------------------------------------------------

TEST(MemoryBlt, NearestPixelScalingClipsToTheDestination) {
    Bitmap src(2, 2, 0);
    src.pixels = {0xFF112233u, 0x00445566u, 0x80778899u, 0x00AABBCCu};
    Bitmap out(5, 4);
    // 2 x 2 to 4 x 4 at (1, 0): the last column falls outside and is clipped.
    ASSERT_TRUE(StretchBlt(out.dc, 1, 0, 4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
    const uint32_t a = 0x112233, b = 0x445566, c = 0x778899, d = 0xAABBCC, u = kUntouched;
    const std::vector<uint32_t> expected = {u, a, a, b, b, u, a, a, b, b, u, c, c, d, d, u, c, c, d, d};
    EXPECT_EQ(out.pixels, expected);
}

TEST(MemoryBlt, SourceOutsideTheBitmapFails) {
    Bitmap src(2, 2, 0x00010203u);
    Bitmap out(3, 2);
    EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 3, 2, src.dc, 0, 0, 3, 2, SRCCOPY));
    const uint32_t s = 0x00010203u, u = kUntouched;
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{s, s, u, s, s, u}));
}

TEST(MemoryBlt, RefusesBadArguments) {
    Bitmap src(4, 4, 0);
    Bitmap out(4, 4);
    HDC window = GetDC(0x1234);
    struct Case {
        const char* name;
        HDC dst, source;
        int w, h, sw, sh;
        DWORD rop;
    } cases[] = {
        {"null destination", nullptr, src.dc, 4, 4, 4, 4, SRCCOPY},
        {"null source", out.dc, nullptr, 4, 4, 4, 4, SRCCOPY},
        {"window destination", window, src.dc, 4, 4, 4, 4, SRCCOPY},
        {"other raster operation", out.dc, src.dc, 4, 4, 4, 4, 0x00EE0086u},
        {"mirrored width", out.dc, src.dc, -4, 4, 4, 4, SRCCOPY},
        {"zero height", out.dc, src.dc, 4, 4, 4, 0, SRCCOPY},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(StretchBlt(c.dst, 0, 0, c.w, c.h, c.source, 0, 0, c.sw, c.sh, c.rop)) << c.name;
    for (uint32_t p : out.pixels) EXPECT_EQ(p, kUntouched);
    EXPECT_EQ(ReleaseDC(0x1234, window), 1);
}

TEST(Contexts, BackgroundModeAndRelease) {
    HDC dc = GetDC(0x42);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), TRANSPARENT);
    EXPECT_EQ(SetBkMode(dc, 7), 0);
    EXPECT_EQ(SetBkMode(nullptr, TRANSPARENT), 0);
    EXPECT_EQ(ReleaseDC(0x43, dc), 0) << "a context is given back by its own window";
    EXPECT_EQ(ReleaseDC(0x42, dc), 1);
    Bitmap memory(1, 1);
    EXPECT_EQ(ReleaseDC(0, memory.dc), 0) << "a memory context is not a window's";
    z3az::FailAllocationAt(1);
    EXPECT_EQ(GetDC(0x42), nullptr);
    z3az::FailAllocationAt(0);
}

// Run with DISPLAY unset: a capture then fails quietly.
TEST(NoDisplay, CaptureFails) {
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "run this one without a display";
    Bitmap out(4, 4);
    HDC window = GetDC(0x400001);
    EXPECT_FALSE(StretchBlt(out.dc, 0, 0, 4, 4, window, 0, 0, 4, 4, SRCCOPY));
    for (uint32_t p : out.pixels) EXPECT_EQ(p, kUntouched);
    ReleaseDC(0x400001, window);
}

}  // namespace
