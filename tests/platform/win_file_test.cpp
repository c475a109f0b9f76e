#include "platform/win_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/heap.h"
#include "support/file_helpers.h"

namespace {

using z3az::test::ReadFileBytes;
using z3az::test::ScratchDir;

HANDLE OpenForSave(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
}

std::vector<uint8_t> Bytes(const char* s) { return std::vector<uint8_t>(s, s + std::char_traits<char>::length(s)); }

TEST(WinFile, CreateAlwaysCreatesWritesAndTruncates) {
    ScratchDir dir;
    const std::string path = dir.File("a.bin");
    z3az::test::WriteFileBytes(path, Bytes("old content that is longer"));

    HANDLE h = OpenForSave(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 99;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(WriteFile(h, "", 0, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ReadFileBytes(path), Bytes("hello"));
    EXPECT_FALSE(CloseHandle(h));  // already closed
}

TEST(WinFile, OpenedForWritingOnly) {
    ScratchDir dir;
    const std::string path = dir.File("w.bin");
    HANDLE h = OpenForSave(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char c;
    EXPECT_EQ(read(z3az::FileDescriptorOf(h), &c, 1), -1);
    CloseHandle(h);
}

TEST(WinFile, SecondOpenIsRefusedWhileTheFirstIsOpenAndDoesNotTruncate) {
    ScratchDir dir;
    const std::string path = dir.File("locked.bin");
    HANDLE first = OpenForSave(path);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteFile(first, "abc", 3, nullptr, nullptr));

    EXPECT_EQ(OpenForSave(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadFileBytes(path), Bytes("abc"));  // the refused open left the data alone

    ASSERT_TRUE(CloseHandle(first));
    HANDLE again = OpenForSave(path);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(ReadFileBytes(path).empty());
}

TEST(WinFile, FailuresGiveTheInvalidHandle) {
    ScratchDir dir;
    EXPECT_EQ(OpenForSave(dir.File("missing/sub/file.bin")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenForSave(dir.path()), INVALID_HANDLE_VALUE);  // a directory
    EXPECT_EQ(OpenForSave(""), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(dir.File("x").c_str(), GENERIC_WRITE, 0, nullptr, 77, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(z3az::test::FileExists(dir.File("x")));
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "a", 1, nullptr, nullptr));
    EXPECT_FALSE(WriteFile(nullptr, "a", 1, nullptr, nullptr));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(WinFile, UnwritableDirectoryIsRefused) {
    ScratchDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const std::string path = dir.File("no.bin");
    const int status = z3az::test::RunUnprivileged([&] {
        HANDLE h = OpenForSave(path);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return 1;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(z3az::test::FileExists(path));
}

TEST(WinFile, WriteToAFullDeviceFails) {
    HANDLE h = OpenForSave("/dev/full");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 7;
    EXPECT_FALSE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(h));
}

TEST(WinFile, LargeWriteArrivesWhole) {
    ScratchDir dir;
    const std::string path = dir.File("big.bin");
    std::vector<uint8_t> data(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    HANDLE h = OpenForSave(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    EXPECT_EQ(written, data.size());
    CloseHandle(h);
    EXPECT_EQ(ReadFileBytes(path), data);
}

TEST(WinFile, HookSeesEveryWriteAndCanRefuseIt) {
    ScratchDir dir;
    const std::string path = dir.File("hooked.bin");
    HANDLE h = OpenForSave(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        z3az::test::WriteFileRecorder recorder(3);
        EXPECT_TRUE(WriteFile(h, "ab", 2, nullptr, nullptr));
        EXPECT_TRUE(WriteFile(h, "cde", 3, nullptr, nullptr));
        EXPECT_FALSE(WriteFile(h, "fghi", 4, nullptr, nullptr));
        EXPECT_EQ(recorder.lengths(), (std::vector<uint32_t>{2, 3, 4}));
    }
    EXPECT_TRUE(WriteFile(h, "j", 1, nullptr, nullptr));  // hook gone
    CloseHandle(h);
    EXPECT_EQ(ReadFileBytes(path), Bytes("abcdej"));
}

TEST(WinFile, WideNamesReachTheFileSystemAsUtf8) {
    ScratchDir dir;
    // "Bild-ü€😀.bin": two-, three- and four-byte UTF-8 sequences.
    std::u16string wide;
    for (char c : dir.path() + "/Bild-") wide.push_back(static_cast<char16_t>(c));
    wide += u"\u00FC\u20AC\U0001F600.bin";
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteFile(h, "w", 1, nullptr, nullptr));
    CloseHandle(h);
    EXPECT_EQ(ReadFileBytes(dir.path() + "/Bild-\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80.bin"), Bytes("w"));
}

TEST(WinFile, WideOpenReportsAllocationFailure) {
    ScratchDir dir;
    std::u16string wide;
    for (char c : dir.File("a.bin")) wide.push_back(static_cast<char16_t>(c));
    z3az::FailAllocationAt(1);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    z3az::FailAllocationAt(0);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(z3az::test::FileExists(dir.File("a.bin")));
}

TEST(WinFile, DeleteOnCloseLeavesNoName) {
    ScratchDir dir;
    const std::string path = dir.File("tmp.bin");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_ALL, 0, nullptr, CREATE_NEW,
                           FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFile(h, "x", 1, nullptr, nullptr));
    EXPECT_FALSE(z3az::test::FileExists(path));
    CloseHandle(h);
}

TEST(WinVersion, ReportsNtForTheRightRecordSize) {
    OSVERSIONINFOA info = {};
    EXPECT_EQ(sizeof info, 148u);
    info.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    info.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_FALSE(GetVersionExA(nullptr));

    z3az::SetReportedPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    info.dwOSVersionInfoSize = 148;
    EXPECT_TRUE(GetVersionExA(&info));
    z3az::SetReportedPlatformId(VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
}

struct Utf8Case {
    std::u16string wide;
    int count;             // -1: up to and including the terminator
    std::string expected;  // including the terminator when count is -1
};

TEST(WideCharToMultiByte, ConvertsUtf16ToUtf8) {
    const Utf8Case cases[] = {
        {u"abc", -1, std::string("abc\0", 4)},
        {u"abc", 2, "ab"},
        {u"", -1, std::string("\0", 1)},
        {u"\u00E9", -1, std::string("\xC3\xA9\0", 3)},
        {u"\u20AC", 1, "\xE2\x82\xAC"},
        {u"\U0001F600", -1, std::string("\xF0\x9F\x98\x80\0", 5)},
        {std::u16string(1, char16_t(0xD800)) + u"x", 2, "\xEF\xBF\xBDx"},  // lone high surrogate
        {std::u16string(1, char16_t(0xDC00)), 1, "\xEF\xBF\xBD"},           // lone low surrogate
    };
    for (const Utf8Case& c : cases) {
        const int needed = WideCharToMultiByte(CP_UTF8, 0, c.wide.c_str(), c.count, nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(needed, static_cast<int>(c.expected.size()));
        std::string out(c.expected.size() + 4, '#');
        const int stored = WideCharToMultiByte(CP_UTF8, 0, c.wide.c_str(), c.count, out.data(),
                                               static_cast<int>(out.size()), nullptr, nullptr);
        ASSERT_EQ(stored, static_cast<int>(c.expected.size()));
        EXPECT_EQ(out.substr(0, stored), c.expected);
        EXPECT_EQ(out[stored], '#');  // nothing written past the result
    }
}

TEST(WideCharToMultiByte, RefusesWhatItCannotDo) {
    char out[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"abcdef", -1, out, 3, nullptr, nullptr), 0);  // too small
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"a", -1, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 0, out, 8, nullptr, nullptr), 0);
}

}  // namespace
