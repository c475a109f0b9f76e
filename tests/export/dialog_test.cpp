// The real GTK save dialog and message box, answered by the test as a user
// would (see dialog_driver.h), alone and behind SavePicture.

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dialog_driver.h"
#include "support/file_helpers.h"
#include "image_file.h"
#include "platform/win_dialog.h"
#include "test_window.h"
#include "vandrop.h"
#include "z3az/d3d9_runtime.h"

namespace {

using vandrop::test::DecodedImage;
using vandrop::test::DecodeImageFile;
using vandrop::test::DialogDriver;
using vandrop::test::DialogStep;
using vandrop::test::FileTypeOf;
using vandrop::test::MappedGtkWindows;
using vandrop::test::TestWindow;
using z3az::test::ReadFileBytes;
using z3az::test::ScratchDir;

constexpr char kFilters[] =
    "Bitmap Image(*.bmp)\0*.bmp\0JPEG Image(*.jpg)\0*.jpg\0PNG Files(*.png)\0*.png\0";

uint32_t Scene(int x, int y) {
    return (static_cast<uint32_t>(x * 9) & 0xff) << 16 | (static_cast<uint32_t>(y * 13) & 0xff) << 8 |
           (x < 10 ? 0xff : 0x20);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

DialogStep Choose(int filter, const std::string& folder, const std::string& name) {
    return DialogStep{DialogStep::Chooser, GTK_RESPONSE_ACCEPT, filter, folder, name};
}
DialogStep CancelChooser() { return DialogStep{DialogStep::Chooser, GTK_RESPONSE_CANCEL, 0, "", ""}; }
DialogStep AnswerMessage(int response) { return DialogStep{DialogStep::Message, response, 0, "", ""}; }

class RealDialog : public ::testing::Test {
protected:
    static constexpr int kWidth = 48;
    static constexpr int kHeight = 32;

    void SetUp() override {
        ASSERT_NE(TestWindow::display(), nullptr) << "run under xvfb-run";
        ASSERT_EQ(z3az::InstallDialogScript(nullptr), nullptr) << "the real dialogs are tested here";
        z3az::ResetD3DControls();
        ASSERT_EQ(Z3azCreateDevice(&device_), S_OK);
        baseline_ = z3az::LiveD3DObjectCount();
        // Away from (0, 0), where the dialogs open without a window manager.
        ASSERT_TRUE(window_.Create(700, 500, kWidth, kHeight));
        window_.Paint(Scene);
    }
    void TearDown() override {
        EXPECT_EQ(MappedGtkWindows(), 0) << "a dialog was left on screen";
        EXPECT_EQ(z3az::LiveD3DObjectCount(), baseline_);
        if (device_) device_->Release();
    }
    unsigned char Save() { return SavePicture(0, device_, window_.id(), kWidth, kHeight); }

    IDirect3DDevice9* device_ = nullptr;
    unsigned long baseline_ = 0;
    TestWindow window_;
    ScratchDir dir_;
};

struct FilterCase {
    int filter;
    const char* name;
    const char* type;
};

class RealDialogFilters : public RealDialog, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(RealDialogFilters, ChosenFilterGivesTheTypeUnderTheTypedName) {
    const FilterCase& c = GetParam();
    DialogDriver driver({Choose(c.filter, dir_.path(), c.name)});
    EXPECT_EQ(Save(), 1);
    EXPECT_EQ(driver.stepsDone, 1u);
    EXPECT_TRUE(driver.unexpected.empty()) << Joined(driver.unexpected);
    ASSERT_EQ(driver.choosers.size(), 1u);
    const auto& seen = driver.choosers[0];
    EXPECT_EQ(seen.title, "Save your screenshot to file...");
    EXPECT_EQ(seen.filterNames,
              (std::vector<std::string>{"Bitmap Image(*.bmp)", "JPEG Image(*.jpg)", "PNG Files(*.png)"}));
    EXPECT_EQ(seen.filterPatterns,
              (std::vector<std::vector<std::string>>{{"*.bmp"}, {"*.jpg"}, {"*.png"}}));
    EXPECT_EQ(seen.currentFilter, 1) << "the bitmap filter is preselected";
    EXPECT_TRUE(seen.overwriteConfirmation);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.saveAction);
    EXPECT_EQ(seen.transientFor, window_.id()) << "the dialog is kept above the host's window";

    const std::string path = dir_.File(c.name);
    EXPECT_EQ(FileTypeOf(path), c.type);
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, &image));
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    if (std::strcmp(c.type, "jpeg") != 0) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) ASSERT_EQ(image.At(x, y), Scene(x, y)) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RealDialogFilters,
                         ::testing::Values(FilterCase{1, "first", "bmp"}, FilterCase{2, "second.png", "jpeg"},
                                           FilterCase{3, "third.bmp", "png"}));

TEST_F(RealDialog, ExistingFileIsReplacedAfterTheQuestionIsConfirmed) {
    const std::string path = dir_.File("exists.bmp");
    z3az::test::WriteFileBytes(path, std::vector<uint8_t>(50000, 0x33));
    DialogDriver driver({Choose(1, dir_.path(), "exists.bmp"), AnswerMessage(GTK_RESPONSE_ACCEPT)});
    EXPECT_EQ(Save(), 1);
    EXPECT_EQ(driver.stepsDone, 2u);
    EXPECT_TRUE(driver.unexpected.empty()) << Joined(driver.unexpected);
    ASSERT_EQ(driver.messages.size(), 1u);
    EXPECT_NE(driver.messages[0].text.find("already exists"), std::string::npos) << driver.messages[0].text;
    EXPECT_EQ(driver.messages[0].buttons, (std::vector<std::string>{"_Cancel", "_Replace"}));
    EXPECT_EQ(ReadFileBytes(path).size(), 54u + kWidth * kHeight * 4u + 2u);
    EXPECT_EQ(FileTypeOf(path), "bmp");
}

TEST_F(RealDialog, DecliningTheQuestionKeepsTheFile) {
    const std::string path = dir_.File("keep.png");
    const std::vector<uint8_t> old(1234, 0x77);
    z3az::test::WriteFileBytes(path, old);
    DialogDriver driver({Choose(3, dir_.path(), "keep.png"), AnswerMessage(GTK_RESPONSE_CANCEL), CancelChooser()});
    EXPECT_EQ(Save(), 0);
    EXPECT_EQ(driver.stepsDone, 3u);
    EXPECT_TRUE(driver.unexpected.empty()) << Joined(driver.unexpected);
    EXPECT_EQ(driver.messages.size(), 1u) << "only the question; a cancel shows no message";
    EXPECT_EQ(ReadFileBytes(path), old);
}

TEST_F(RealDialog, CancelShowsNoMessageAndWritesNothing) {
    DialogDriver driver({CancelChooser()});
    EXPECT_EQ(Save(), 0);
    EXPECT_EQ(driver.stepsDone, 1u);
    EXPECT_TRUE(driver.messages.empty());
    EXPECT_TRUE(driver.unexpected.empty()) << Joined(driver.unexpected);
    std::string listing;
    z3az::test::RunCommand("ls -A " + dir_.path(), &listing);
    EXPECT_EQ(listing, "");
}

// A save that fails after the file exists: the real message box, with its
// caption and one OK button, is shown and answered.
TEST_F(RealDialog, SaveErrorShowsTheMessageBox) {
    DialogDriver driver({Choose(1, "/dev", "full"), AnswerMessage(GTK_RESPONSE_ACCEPT), AnswerMessage(IDOK)});
    EXPECT_EQ(Save(), 0);
    EXPECT_EQ(driver.stepsDone, 3u);
    EXPECT_TRUE(driver.unexpected.empty()) << Joined(driver.unexpected);
    ASSERT_EQ(driver.messages.size(), 2u);
    const auto& box = driver.messages[1];
    EXPECT_EQ(box.title, "Errore");
    EXPECT_EQ(box.text, "Errore");
    EXPECT_EQ(box.buttons, std::vector<std::string>{"_OK"});
    EXPECT_TRUE(box.modal);
}

struct MessageCase {
    UINT type;
    int press;  // response id of the button pressed
    std::vector<std::string> buttons;
    int expected;
};

TEST_F(RealDialog, MessageBoxButtonsAndAnswers) {
    const MessageCase cases[] = {
        {MB_OK, IDOK, {"_OK"}, IDOK},
        {MB_OK, GTK_RESPONSE_DELETE_EVENT, {"_OK"}, IDOK},
        {MB_OKCANCEL, IDCANCEL, {"_OK", "_Cancel"}, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDNO, {"_Yes", "_No"}, IDNO},
        {MB_YESNOCANCEL, GTK_RESPONSE_DELETE_EVENT, {"_Yes", "_No", "_Cancel"}, IDCANCEL},
    };
    for (const auto& c : cases) {
        DialogDriver driver({AnswerMessage(c.press)});
        EXPECT_EQ(MessageBoxA(window_.id(), "Text with 100% and %s", "A caption", c.type), c.expected);
        ASSERT_EQ(driver.messages.size(), 1u);
        EXPECT_EQ(driver.messages[0].text, "Text with 100% and %s") << "the text is not a format";
        EXPECT_EQ(driver.messages[0].title, "A caption");
        EXPECT_EQ(driver.messages[0].buttons, c.buttons);
        EXPECT_EQ(MappedGtkWindows(), 0);
    }
    EXPECT_EQ(MessageBoxA(0, "x", "y", 0x0E), 0) << "an unknown button set is refused";
}

// GetSaveFileNameA on its own: initial name and filter, the answer's filter
// index, the default extension, a buffer too small.
TEST_F(RealDialog, SaveFileNameRequestAndAnswer) {
    char file[256] = "preset.png";
    OPENFILENAMEA r = {};
    r.lStructSize = sizeof r;
    r.lpstrFilter = kFilters;
    r.nFilterIndex = 3;
    r.lpstrFile = file;
    r.nMaxFile = sizeof file;
    {
        DialogDriver driver({Choose(0, dir_.path(), "kept name")});
        ASSERT_EQ(GetSaveFileNameA(&r), TRUE);
        ASSERT_EQ(driver.choosers.size(), 1u);
        EXPECT_EQ(driver.choosers[0].currentName, "preset.png");
        EXPECT_EQ(driver.choosers[0].currentFilter, 3);
        EXPECT_EQ(driver.choosers[0].title, "Save As") << "the default title";
        EXPECT_FALSE(driver.choosers[0].overwriteConfirmation);
        EXPECT_EQ(driver.choosers[0].transientFor, 0u);
        EXPECT_EQ(std::string(file), dir_.File("kept name"));
        EXPECT_EQ(r.nFilterIndex, 3u);
    }
    {
        DialogDriver driver({Choose(2, dir_.path(), "plain")});
        file[0] = 0;
        r.lpstrDefExt = "jpg";
        ASSERT_EQ(GetSaveFileNameA(&r), TRUE);
        EXPECT_EQ(std::string(file), dir_.File("plain.jpg"));
        EXPECT_EQ(r.nFilterIndex, 2u);
        r.lpstrDefExt = nullptr;
    }
    {
        DialogDriver driver({Choose(1, dir_.path(), "a-name-longer-than-the-buffer")});
        file[0] = 0;
        r.nMaxFile = 8;
        EXPECT_EQ(GetSaveFileNameA(&r), FALSE);
        EXPECT_EQ(driver.stepsDone, 1u);
    }
    r.nMaxFile = sizeof file;
    r.lStructSize = 88;  // not our record's size: refused without a dialog
    EXPECT_EQ(GetSaveFileNameA(&r), FALSE);
    EXPECT_EQ(MappedGtkWindows(), 0);
}

// GTK is started by the library for a host that is not a GTK program; the
// host's locale must stay what it was ("C" here, though the environment
// names another).
TEST(FirstStart, LocaleOfTheHostIsUnchanged) {
    ASSERT_NE(TestWindow::display(), nullptr);
    ASSERT_STREQ(std::getenv("LC_ALL"), "C.UTF-8") << "the test command sets the environment's locale";
    ASSERT_EQ(gdk_display_get_default(), nullptr) << "GTK must not have been started yet";
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_EQ(before, "C");

    char file[64] = "";
    OPENFILENAMEA r = {};
    r.lStructSize = sizeof r;
    r.lpstrFilter = kFilters;
    r.nFilterIndex = 1;
    r.lpstrFile = file;
    r.nMaxFile = sizeof file;
    DialogDriver driver({CancelChooser()});
    EXPECT_EQ(GetSaveFileNameA(&r), FALSE);
    EXPECT_EQ(driver.choosers.size(), 1u) << "the dialog was shown";
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
    // The environment's locale is a real one: starting GTK the usual way would
    // have switched to it.
    EXPECT_STREQ(std::setlocale(LC_ALL, ""), "C.UTF-8");
    std::setlocale(LC_ALL, "C");
}

TEST(NoDisplay, DialogsReportCancelAndMessagesGoToStandardError) {
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "run this one without a display";
    char file[64] = "";
    OPENFILENAMEA r = {};
    r.lStructSize = sizeof r;
    r.lpstrFilter = kFilters;
    r.lpstrFile = file;
    r.nMaxFile = sizeof file;
    EXPECT_EQ(GetSaveFileNameA(&r), FALSE);
    EXPECT_EQ(GetSaveFileNameA(&r), FALSE) << "and again";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(0, "Stretch Errore", "Errore", MB_OK), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Errore: Stretch Errore\n");

    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(Z3azCreateDevice(&device), S_OK);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SavePicture(0, device, 0x400001, 4, 4), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Errore: Stretch Errore\n");
    device->Release();
}

}  // namespace
