// SavePicture with the scripted user: what the dialog is asked, which file
// type each filter gives, the messages of each failure, the released surface,
// and files holding the window's own pixels.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/file_helpers.h"
#include "image_file.h"
#include "platform/heap.h"
#include "platform/win_dialog.h"
#include "test_window.h"
#include "vandrop.h"
#include "z3az/d3d9_runtime.h"

namespace {

using vandrop::test::ChannelDistance;
using vandrop::test::DecodedImage;
using vandrop::test::DecodeImageFile;
using vandrop::test::FileTypeOf;
using vandrop::test::TestWindow;
using z3az::D3DCall;
using z3az::D3DCallCount;
using z3az::DialogScript;
using z3az::test::FileExists;
using z3az::test::ReadFileBytes;
using z3az::test::ScratchDir;

constexpr char kFilters[] =
    "Bitmap Image(*.bmp)\0*.bmp\0JPEG Image(*.jpg)\0*.jpg\0PNG Files(*.png)\0*.png\0";

uint32_t Scene(int x, int y) {
    // Bars of known colours over a gradient: every pixel differs from its
    // neighbours in some channel.
    static const uint32_t kBars[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff, 0x000000, 0x808080};
    if (y < 12) return kBars[(x / 8) % 6];
    return (static_cast<uint32_t>(x * 4) & 0xff) << 16 | (static_cast<uint32_t>(y * 6) & 0xff) << 8 |
           static_cast<uint32_t>((x + y) * 3 & 0xff);
}

class SavePictureTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 40;

    void SetUp() override {
        ASSERT_NE(TestWindow::display(), nullptr) << "run under xvfb-run";
        ASSERT_TRUE(TestWindow::ExactColours()) << "these tests compare colours at depth 24";
        z3az::ResetD3DControls();
        ASSERT_EQ(Z3azCreateDevice(&device_), S_OK);
        baseline_ = z3az::LiveD3DObjectCount();
        z3az::ClearDialogScript(script_);
        previous_ = z3az::InstallDialogScript(&script_);
        ASSERT_TRUE(window_.Create(20, 30, kWidth, kHeight));
        window_.Paint(Scene);
    }
    void TearDown() override {
        z3az::FailAllocationAt(0);
        z3az::InstallDialogScript(previous_);
        EXPECT_EQ(z3az::LiveD3DObjectCount(), baseline_) << "an object of the runtime was not released";
        if (device_) device_->Release();
        z3az::ResetD3DControls();
    }

    unsigned char Save(int width = kWidth, int height = kHeight) {
        return SavePicture(0xDEADBEEF, device_, window_.id(), width, height);
    }
    unsigned char SaveWindow(HWND window) { return SavePicture(0, device_, window, kWidth, kHeight); }

    void ExpectMessages(std::initializer_list<const char*> texts) {
        ASSERT_EQ(script_.messageCount, texts.size());
        unsigned i = 0;
        for (const char* t : texts) {
            const auto& m = script_.messages[i++];
            EXPECT_STREQ(m.text, t);
            EXPECT_STREQ(m.caption, "Errore");
            EXPECT_EQ(m.type, MB_OK);
            EXPECT_EQ(m.owner, 0u);
        }
    }

    IDirect3DDevice9* device_ = nullptr;
    unsigned long baseline_ = 0;
    DialogScript script_;
    DialogScript* previous_ = nullptr;
    TestWindow window_;
    ScratchDir dir_;
};

TEST_F(SavePictureTest, DialogIsAskedWithTheFixedRequest) {
    ASSERT_TRUE(z3az::ScriptSaveCancel(script_));
    Save();
    ASSERT_EQ(script_.saveRequestCount, 1u);
    const auto& r = script_.saveRequests[0];
    EXPECT_EQ(r.owner, static_cast<HWND>(window_.id()));
    EXPECT_STREQ(r.title, "Save your screenshot to file...");
    ASSERT_EQ(r.filterLength, sizeof kFilters);
    EXPECT_EQ(std::memcmp(r.filter, kFilters, sizeof kFilters), 0);
    EXPECT_EQ(r.filterIndex, 1u);
    EXPECT_STREQ(r.initialName, "");
    EXPECT_EQ(r.maxFile, 2048u);
    EXPECT_EQ(r.flags, OFN_OVERWRITEPROMPT);
    EXPECT_FALSE(r.hasDefaultExtension);
}

TEST_F(SavePictureTest, CancelWritesNothingShowsNothingAndReleasesTheSurface) {
    ASSERT_TRUE(z3az::ScriptSaveCancel(script_));
    EXPECT_EQ(Save(), 0);
    EXPECT_EQ(script_.saveRequestCount, 1u);
    ExpectMessages({});
    EXPECT_EQ(D3DCallCount(D3DCall::CreateOffscreenPlainSurface), 1u);
    std::string listing;
    z3az::test::RunCommand("ls -A " + dir_.path(), &listing);
    EXPECT_EQ(listing, "");
    // TearDown checks that no object of the runtime is left.
}

// The filter alone decides the type; the name is used exactly as given.
struct TypeCase {
    DWORD filterIndex;
    const char* name;
    const char* type;
};

class FilterTypes : public SavePictureTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(FilterTypes, FilterGivesTheTypeAndTheNameIsKept) {
    const TypeCase& c = GetParam();
    const std::string path = dir_.File(c.name);
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), c.filterIndex));
    EXPECT_EQ(Save(), 1);
    ExpectMessages({});
    EXPECT_EQ(FileTypeOf(path), c.type) << path;
    std::string listing;
    z3az::test::RunCommand("ls -A " + dir_.path(), &listing);
    EXPECT_EQ(listing, std::string(c.name) + "\n") << "nothing added to the name";
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, &image));
    EXPECT_EQ(image.width, kWidth);
    EXPECT_EQ(image.height, kHeight);
}

INSTANTIATE_TEST_SUITE_P(Cases, FilterTypes,
                         ::testing::Values(TypeCase{1, "shot.bmp", "bmp"}, TypeCase{2, "shot.jpg", "jpeg"},
                                           TypeCase{3, "shot.png", "png"}, TypeCase{2, "shot.png", "jpeg"},
                                           TypeCase{1, "looks.jpg", "bmp"}, TypeCase{3, "noext", "png"},
                                           TypeCase{2, "noext", "jpeg"}, TypeCase{1, "no ext", "bmp"}));

// BMP and PNG keep every pixel of the window exactly.
class LosslessFiles : public SavePictureTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(LosslessFiles, FileHoldsTheWindowPixels) {
    const std::string path = dir_.File("exact");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), GetParam()));
    ASSERT_EQ(Save(), 1);
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, &image));
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) ASSERT_EQ(image.At(x, y), Scene(x, y)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(BmpAndPng, LosslessFiles, ::testing::Values(1u, 3u));

TEST_F(SavePictureTest, JpegIsCloseToTheWindowPixels) {
    const std::string path = dir_.File("near.jpg");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 2));
    ASSERT_EQ(Save(), 1);
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, &image));
    // The smooth part away from the bars compresses well.
    double total = 0;
    int count = 0;
    for (int y = 20; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x, ++count) total += ChannelDistance(image.At(x, y), Scene(x, y));
    EXPECT_LT(total / count, 8.0);
}

TEST_F(SavePictureTest, ExistingFileIsTruncatedAndRewritten) {
    const std::string path = dir_.File("again.bmp");
    z3az::test::WriteFileBytes(path, std::vector<uint8_t>(100000, 0x5A));
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 1));
    ASSERT_EQ(Save(), 1);
    const auto bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size(), 54u + kWidth * kHeight * 4u + 2u) << "a 32-bit BMP (with its two closing zeros) and nothing of the old file";
    EXPECT_EQ(FileTypeOf(path), "bmp");
}

TEST_F(SavePictureTest, FailedCopyIsToldAndTheBlackSurfaceStillSaved) {
    window_.Unmap();
    const std::string path = dir_.File("black.png");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 3));
    EXPECT_EQ(Save(), 0);
    ExpectMessages({"Stretch Errore"});
    EXPECT_EQ(script_.saveRequestCount, 1u) << "the dialog is still offered";
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, &image));
    for (uint32_t p : image.rgb) ASSERT_EQ(p, 0u);
}

TEST_F(SavePictureTest, GoneWindowIsAFailedCopyNotACrash) {
    const std::string path = dir_.File("gone.bmp");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 1));
    EXPECT_EQ(SaveWindow(0x7ffffff5u), 0);
    ExpectMessages({"Stretch Errore"});
    EXPECT_EQ(FileTypeOf(path), "bmp");
}

// A capture larger than the window keeps the part the window has, leaves the
// rest black and tells the user.
TEST_F(SavePictureTest, LargerThanTheWindowSavesWhatExists) {
    const std::string path = dir_.File("larger.bmp");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 1));
    EXPECT_EQ(Save(kWidth + 6, kHeight + 4), 0);
    ExpectMessages({"Stretch Errore"});
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, &image));
    ASSERT_EQ(image.width, kWidth + 6);
    ASSERT_EQ(image.height, kHeight + 4);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            ASSERT_EQ(image.At(x, y), x < kWidth && y < kHeight ? Scene(x, y) : 0u) << x << "," << y;
}

TEST_F(SavePictureTest, SaveFailingAfterTheFileWasCreatedIsTold) {
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, "/dev/full", 1));
    EXPECT_EQ(Save(), 0);
    ExpectMessages({"Errore"});
}

TEST_F(SavePictureTest, FileThatCannotBeCreatedIsTold) {
    const std::string path = dir_.File("missing-folder/shot.bmp");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 1));
    EXPECT_EQ(Save(), 0);
    ExpectMessages({"Errore"});
    EXPECT_FALSE(FileExists(path));
}

TEST_F(SavePictureTest, CopyAndSaveFailuresAreBothTold) {
    window_.Unmap();
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, "/dev/full", 2));
    EXPECT_EQ(Save(), 0);
    ExpectMessages({"Stretch Errore", "Errore"});
}

// Filter indexes the dialog never gives: 0 maps to no type at all.
TEST_F(SavePictureTest, FilterIndexWithoutTypeIsASaveError) {
    const std::string path = dir_.File("zero");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 0));
    EXPECT_EQ(Save(), 0);
    ExpectMessages({"Errore"});
}

// Without a surface nothing can be copied or saved: the user is told and no
// dialog follows.
TEST_F(SavePictureTest, FailedSurfaceCreationIsToldAndTouchesNoSurface) {
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, dir_.File("never.bmp").c_str(), 1));
    z3az::FailD3DCreationAt(1, E_OUTOFMEMORY);
    EXPECT_EQ(Save(), 0);
    ExpectMessages({"Errore creazione"});
    EXPECT_EQ(script_.saveRequestCount, 0u);
    for (D3DCall call : {D3DCall::ColorFill, D3DCall::GetDC, D3DCall::ReleaseDC, D3DCall::LockRect})
        EXPECT_EQ(D3DCallCount(call), 0u) << z3az::D3DCallName(call);
    EXPECT_FALSE(FileExists(dir_.File("never.bmp")));
}

TEST_F(SavePictureTest, ImpossibleSizesAndNoDeviceAreFailedCreations) {
    struct Case {
        IDirect3DDevice9* device;
        int width, height;
    } cases[] = {{device_, 0, 10}, {device_, 10, 0}, {device_, -5, 10}, {device_, 10, -1}, {nullptr, 10, 10}};
    for (const auto& c : cases) {
        z3az::ClearDialogScript(script_);
        ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, dir_.File("never").c_str(), 1));
        EXPECT_EQ(SavePicture(0, c.device, window_.id(), c.width, c.height), 0);
        ExpectMessages({"Errore creazione"});
        EXPECT_EQ(script_.saveRequestCount, 0u);
    }
    EXPECT_EQ(D3DCallCount(D3DCall::ColorFill), 0u);
}

TEST_F(SavePictureTest, SecondCallWorksLikeTheFirst) {
    const std::string a = dir_.File("a.png"), b = dir_.File("b.bmp");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, a.c_str(), 3));
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, b.c_str(), 1));
    EXPECT_EQ(Save(), 1);
    EXPECT_EQ(Save(), 1);
    EXPECT_EQ(FileTypeOf(a), "png");
    EXPECT_EQ(FileTypeOf(b), "bmp");
    EXPECT_EQ(D3DCallCount(D3DCall::CreateOffscreenPlainSurface), 2u);
}

// Every allocation of a whole screenshot made to fail in turn: the result is
// false with a message, and nothing leaks (TearDown, LeakSanitizer).
TEST_F(SavePictureTest, EveryAllocationFailureIsToldAndCleanedUp) {
    const std::string path = dir_.File("oom.png");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 3));
    z3az::ResetAllocationCount();
    ASSERT_EQ(Save(), 1);
    const unsigned long total = z3az::AllocationCount();
    ASSERT_GT(total, 2u);
    for (unsigned long n = 1; n <= total; ++n) {
        z3az::ClearDialogScript(script_);
        ASSERT_TRUE(z3az::ScriptSaveAnswer(script_, path.c_str(), 3));
        z3az::FailAllocationAt(n);
        const unsigned char result = Save();
        z3az::FailAllocationAt(0);
        EXPECT_EQ(result, 0) << "allocation " << n;
        EXPECT_EQ(script_.messageCount, 1u) << "allocation " << n;
        EXPECT_EQ(z3az::LiveD3DObjectCount(), baseline_) << "allocation " << n;
    }
}

TEST(NoDisplay, CopyFailsAndTheRestGoesOn) {
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "run this one without a display";
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(Z3azCreateDevice(&device), S_OK);
    DialogScript script;
    z3az::ClearDialogScript(script);
    ScratchDir dir;
    const std::string path = dir.File("headless.bmp");
    ASSERT_TRUE(z3az::ScriptSaveAnswer(script, path.c_str(), 1));
    DialogScript* previous = z3az::InstallDialogScript(&script);
    EXPECT_EQ(SavePicture(0, device, 0x400001, 8, 8), 0);
    z3az::InstallDialogScript(previous);
    ASSERT_EQ(script.messageCount, 1u);
    EXPECT_STREQ(script.messages[0].text, "Stretch Errore");
    EXPECT_EQ(FileTypeOf(path), "bmp");
    device->Release();
}

}  // namespace
