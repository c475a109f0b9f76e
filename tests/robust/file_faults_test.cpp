// File-system faults: a full device, a file size limit, a read-only
// directory, a name that is a directory, names too long for the system and
// names outside ASCII through the wide entry. Each gives its result code,
// and a save that could not be written completely is never reported as done.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/file_helpers.h"
#include "z3az/d3d9_runtime.h"
#include "z3az/data_buffer.h"
#include "z3az/z3az.h"

namespace z3az {
namespace {

class FileFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ResetD3DControls();
        ASSERT_EQ(Z3azCreateDevice(&device_), D3D_OK);
        small_ = MakeSurface(8, 6);
        large_ = MakeSurface(160, 120);  // its BMP is larger than the 64 KiB file buffer
        ASSERT_NE(small_, nullptr);
        ASSERT_NE(large_, nullptr);
    }
    void TearDown() override {
        small_->Release();
        large_->Release();
        device_->Release();
        EXPECT_EQ(LiveD3DObjectCount(), 0u);
    }

    IDirect3DSurface9* MakeSurface(UINT w, UINT h) {
        IDirect3DSurface9* s = nullptr;
        if (FAILED(device_->CreateOffscreenPlainSurface(w, h, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &s, nullptr)))
            return nullptr;
        D3DLOCKED_RECT locked = {};
        if (SUCCEEDED(s->LockRect(&locked, nullptr, 0))) {
            // Noise, so that no file type compresses it far.
            uint32_t seed = 12345;
            for (UINT y = 0; y < h; ++y)
                for (UINT x = 0; x < w * 4; ++x) {
                    seed = seed * 1103515245u + 12345u;
                    static_cast<uint8_t*>(locked.pBits)[y * locked.Pitch + x] = uint8_t(seed >> 24);
                }
            s->UnlockRect();
        }
        return s;
    }

    std::vector<uint8_t> MemoryBytes(IDirect3DSurface9* s, uint32_t type) {
        IDataBuffer* buffer = nullptr;
        if (FAILED(SaveSurface(&buffer, type, nullptr, nullptr, Memory, s)) || !buffer) return {};
        const uint8_t* p = static_cast<const uint8_t*>(buffer->GetPointer());
        std::vector<uint8_t> bytes(p, p + buffer->GetSize());
        buffer->Release();
        return bytes;
    }

    IDirect3DDevice9* device_ = nullptr;
    IDirect3DSurface9* small_ = nullptr;
    IDirect3DSurface9* large_ = nullptr;
    test::ScratchDir dir_;
};

const uint32_t kWritableTypes[] = {ImageFileBmp, ImageFileJpg, ImageFileTga, ImageFilePng,
                                   ImageFileDds, ImageFileDib, ImageFileHdr, ImageFilePfm};

TEST_F(FileFaults, FullDeviceFailsEveryFileType) {
    for (uint32_t type : kWritableTypes) {
        for (IDirect3DSurface9* s : {small_, large_}) {
            SCOPED_TRACE(testing::Message() << "type " << type << (s == large_ ? " large" : " small"));
            EXPECT_EQ(SaveSurfaceToFile("/dev/full", type, s, nullptr, nullptr), E_FAIL);
            EXPECT_EQ(SaveSurface(u"/dev/full", type, nullptr, nullptr, FileW, s), E_FAIL);
            EXPECT_EQ(D3DRefCount(s), 1u);
            EXPECT_FALSE(IsSurfaceLocked(s));
        }
    }
}

// A file size limit stands in for a small file system: writes past it fail
// (with EFBIG once SIGXFSZ is ignored), in a child so that the limit stays
// there. Exit status: 0 when the expectations held, else the step that failed.
TEST_F(FileFaults, FileSizeLimitFailsTheSaveThatPassesIt) {
    const std::string fits = dir_.File("fits.bmp");
    const std::string grows = dir_.File("grows.bmp");
    const std::string grows_png = dir_.File("grows.png");
    const std::vector<uint8_t> smallBmp = MemoryBytes(small_, ImageFileBmp);
    const std::vector<uint8_t> largeBmp = MemoryBytes(large_, ImageFileBmp);
    ASSERT_LT(smallBmp.size(), 4096u);
    ASSERT_GT(largeBmp.size(), 65536u);
    ASSERT_GT(MemoryBytes(large_, ImageFilePng).size(), 4096u);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
        if (SaveSurfaceToFile(fits.c_str(), ImageFileBmp, small_, nullptr, nullptr) != S_OK) _exit(11);
        if (SaveSurfaceToFile(grows.c_str(), ImageFileBmp, large_, nullptr, nullptr) != E_FAIL) _exit(12);
        if (SaveSurfaceToFile(grows_png.c_str(), ImageFilePng, large_, nullptr, nullptr) != E_FAIL) _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::ReadFileBytes(fits), smallBmp);
    // The failed save leaves what fitted; it is never mistaken for the file.
    EXPECT_LE(test::ReadFileBytes(grows).size(), 4096u);
}

TEST_F(FileFaults, NameThatIsADirectoryCannotBeCreated) {
    EXPECT_EQ(SaveSurfaceToFile(dir_.path().c_str(), ImageFileBmp, small_, nullptr, nullptr),
              IMAGEERR_CANNOTCREATEFILE);
    const std::u16string wide(dir_.path().begin(), dir_.path().end());
    EXPECT_EQ(SaveSurface(wide.c_str(), ImageFilePng, nullptr, nullptr, FileW, small_), IMAGEERR_CANNOTCREATEFILE);
    struct stat info = {};
    ASSERT_EQ(stat(dir_.path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode)) << "the directory is left as it was";
}

TEST_F(FileFaults, ReadOnlyDirectoryCannotTakeANewFile) {
    const std::string locked = dir_.File("read-only");
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);  // others may reach it, not write in it
    const std::string name = locked + "/shot.bmp";
    const int status = test::RunUnprivileged([&] {
        return SaveSurfaceToFile(name.c_str(), ImageFileBmp, small_, nullptr, nullptr) == IMAGEERR_CANNOTCREATEFILE
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(test::FileExists(name));
}

TEST_F(FileFaults, MissingDirectoryAndEmptyNameCannotBeCreated) {
    const std::string missing = dir_.File("no-such-dir/shot.bmp");
    EXPECT_EQ(SaveSurfaceToFile(missing.c_str(), ImageFileBmp, small_, nullptr, nullptr), IMAGEERR_CANNOTCREATEFILE);
    EXPECT_EQ(SaveSurfaceToFile("", ImageFileBmp, small_, nullptr, nullptr), IMAGEERR_CANNOTCREATEFILE);
    EXPECT_EQ(SaveSurface(u"", ImageFileBmp, nullptr, nullptr, FileW, small_), IMAGEERR_CANNOTCREATEFILE);
    EXPECT_EQ(SaveSurface(static_cast<const char16_t*>(nullptr), ImageFileBmp, nullptr, nullptr, FileW, small_),
              D3DERR_INVALIDCALL);
}

TEST_F(FileFaults, NamesOfFourThousandAndNinetySixCharacters) {
    // One component of 4096 characters, and a path of 4096 characters made
    // of components that are each short enough.
    const std::string component = dir_.path() + "/" + std::string(4096, 'a');
    std::string path = dir_.path();
    while (path.size() < 4096 - 10) path += "/" + std::string(200, 'b');
    path.resize(4096, 'c');
    for (const std::string& name : {component, path}) {
        ASSERT_GE(name.size(), 4096u);
        EXPECT_EQ(SaveSurfaceToFile(name.c_str(), ImageFileBmp, small_, nullptr, nullptr),
                  IMAGEERR_CANNOTCREATEFILE);
        const std::u16string wide(name.begin(), name.end());
        EXPECT_EQ(SaveSurface(wide.c_str(), ImageFileBmp, nullptr, nullptr, FileW, small_),
                  IMAGEERR_CANNOTCREATEFILE);
    }
    // A long name that the system does take (255 characters) is written.
    const std::string longest = dir_.File(std::string(251, 'd') + ".bmp");
    EXPECT_EQ(SaveSurfaceToFile(longest.c_str(), ImageFileBmp, small_, nullptr, nullptr), S_OK);
    EXPECT_EQ(test::ReadFileBytes(longest), MemoryBytes(small_, ImageFileBmp));
}

TEST_F(FileFaults, WideNamesOutsideAsciiReachTheFileSystemAsUtf8) {
    struct Case {
        std::u16string wide;
        std::string utf8;
    };
    const Case cases[] = {
        {u"bild-\u00e4\u00f6\u00fc\u00df.png", "bild-\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f.png"},
        {u"\u65e5\u672c\u8a9e.png", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.png"},
        {u"smile-\U0001F642.png", "smile-\xf0\x9f\x99\x82.png"},  // a surrogate pair
        // An unpaired surrogate cannot be spelled in UTF-8; it becomes U+FFFD.
        {std::u16string(u"lone-") + char16_t(0xD800) + u".png", "lone-\xef\xbf\xbd.png"},
    };
    const std::vector<uint8_t> expected = MemoryBytes(small_, ImageFilePng);
    ASSERT_FALSE(expected.empty());
    const std::u16string directory(dir_.path().begin(), dir_.path().end());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        const std::u16string wide = directory + u"/" + c.wide;
        EXPECT_EQ(SaveSurface(wide.c_str(), ImageFilePng, nullptr, nullptr, FileW, small_), S_OK);
        EXPECT_EQ(test::ReadFileBytes(dir_.File(c.utf8)), expected);
    }
}

}  // namespace
}  // namespace z3az
