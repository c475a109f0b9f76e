#include "image/output_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "image/data_buffer.h"
#include "platform/heap.h"
#include "support/file_helpers.h"

namespace z3az {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileRecorder;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed * 17) ^ (i >> 9));
    return v;
}

struct BufferingCase {
    const char* name;
    std::vector<uint32_t> writes;
    std::vector<uint32_t> fileWrites;  // WriteFile lengths before the flush
    uint32_t committed;
    uint32_t buffered;
};

TEST(OutputStream, FileBufferingAsSeenByWriteFile) {
    const BufferingCase cases[] = {
        {"10 then 65530", {10, 65530}, {65536}, 65536, 4},
        {"one write of 200000", {200000}, {196608}, 196608, 3392},
        {"exactly full stays buffered", {65536}, {}, 0, 65536},
        {"exactly full then one byte", {100, 65436, 1}, {65536}, 65536, 1},
        {"full buffer then a block", {65536, 65536}, {65536, 65536}, 131072, 0},
        {"topping up then direct blocks", {10, 200000}, {65536, 131072}, 196608, 3402},
        {"small writes gather", {1, 2, 3, 4}, {}, 0, 10},
        {"just over a block", {65537}, {65536}, 65536, 1},
        {"zero-length write", {0}, {}, 0, 0},
    };
    for (const BufferingCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.File("s.bin");
        std::vector<uint8_t> expected;
        OutputStream stream;
        ASSERT_EQ(stream.Open(path.c_str(), FileA), S_OK);
        EXPECT_EQ(stream.mode, StreamFile);
        {
            WriteFileRecorder recorder;
            uint32_t seed = 0;
            for (uint32_t n : c.writes) {
                const std::vector<uint8_t> data = Pattern(n, ++seed);
                uint32_t written = 12345;
                ASSERT_EQ(stream.Write(data.data(), n, &written), S_OK);
                EXPECT_EQ(written, n);
                expected.insert(expected.end(), data.begin(), data.end());
            }
            EXPECT_EQ(recorder.lengths(), c.fileWrites);
            EXPECT_EQ(stream.committed, c.committed);
            EXPECT_EQ(stream.buffered, c.buffered);
            // The file holds exactly the committed bytes so far.
            EXPECT_EQ(ReadFileBytes(path).size(), c.committed);

            ASSERT_EQ(stream.Flush(), S_OK);
            std::vector<uint32_t> withFlush = c.fileWrites;
            if (c.buffered) withFlush.push_back(c.buffered);
            EXPECT_EQ(recorder.lengths(), withFlush);
            EXPECT_EQ(stream.buffered, 0u);
            EXPECT_EQ(stream.Flush(), S_OK);  // nothing left: no further WriteFile
            EXPECT_EQ(recorder.lengths(), withFlush);
        }
        stream.Close();
        EXPECT_EQ(ReadFileBytes(path), expected);
    }
}

TEST(OutputStream, RefusedFileWriteGivesEFail) {
    ScratchDir dir;
    const std::string path = dir.File("f.bin");
    OutputStream stream;
    ASSERT_EQ(stream.Open(path.c_str(), FileA), S_OK);
    const std::vector<uint8_t> data = Pattern(70000, 1);
    WriteFileRecorder recorder(1);  // every WriteFile fails
    EXPECT_EQ(stream.Write(data.data(), 70000, nullptr), E_FAIL);
    EXPECT_EQ(stream.committed, 0u);
    EXPECT_EQ(stream.Write(data.data(), 100, nullptr), S_OK);  // still fits the buffer
    EXPECT_EQ(stream.Flush(), E_FAIL);
    EXPECT_EQ(stream.buffered, 100u);  // a failed flush changes nothing
}

TEST(OutputStream, FullDeviceFailsAtFlushOrBlockWrite) {
    OutputStream stream;
    ASSERT_EQ(stream.Open("/dev/full", FileA), S_OK);
    const std::vector<uint8_t> data = Pattern(65536, 2);
    EXPECT_EQ(stream.Write(data.data(), 10, nullptr), S_OK);
    EXPECT_EQ(stream.Flush(), E_FAIL);
    EXPECT_EQ(stream.Write(data.data(), 65536, nullptr), E_FAIL);
    stream.Close();
    EXPECT_EQ(stream.mode, StreamNotOpen);
}

TEST(OutputStream, OpenFailures) {
    ScratchDir dir;
    {
        OutputStream s;
        EXPECT_EQ(s.Open(nullptr, FileA), D3DERR_INVALIDCALL);
    }
    {
        OutputStream s;
        EXPECT_EQ(s.Open(nullptr, FileW), D3DERR_INVALIDCALL);
    }
    {
        OutputStream s;
        EXPECT_EQ(s.Open(dir.File("x").c_str(), 3), E_FAIL);
        EXPECT_FALSE(test::FileExists(dir.File("x")));
    }
    {
        OutputStream s;
        EXPECT_EQ(s.Open(dir.File("no/such/dir/x").c_str(), FileA), IMAGEERR_CANNOTCREATEFILE);
    }
    {
        OutputStream s;
        FailAllocationAt(1);
        EXPECT_EQ(s.Open(dir.File("y").c_str(), FileA), E_OUTOFMEMORY);
        FailAllocationAt(0);
        EXPECT_FALSE(test::FileExists(dir.File("y")));
    }
    {
        OutputStream s;
        FailAllocationAt(1);
        EXPECT_EQ(s.Open(nullptr, Memory), E_OUTOFMEMORY);  // the object
        FailAllocationAt(2);
        EXPECT_EQ(s.Open(nullptr, Memory), E_OUTOFMEMORY);  // its block
        FailAllocationAt(0);
        EXPECT_EQ(s.Open(nullptr, Memory), S_OK);
        EXPECT_EQ(s.Open(nullptr, Memory), E_FAIL);  // already open
    }
    {
        OutputStream s;
        uint8_t b = 0;
        EXPECT_EQ(s.Write(&b, 1, nullptr), E_FAIL);  // not open
    }
}

TEST(OutputStream, UnwritableDirectoryCannotCreateTheFile) {
    ScratchDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const std::string path = dir.File("x.bin");
    const int status = test::RunUnprivileged([&] {
        OutputStream s;
        return s.Open(path.c_str(), FileA) == IMAGEERR_CANNOTCREATEFILE ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(test::FileExists(path));
}

std::u16string Wide(const std::string& s) {
    std::u16string w;
    for (char c : s) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return w;
}

TEST(OutputStream, WideNamesOnBothPlatformKinds) {
    ScratchDir dir;
    for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
        SetReportedPlatformId(platform);
        const std::u16string name = Wide(dir.path() + "/") + u"\u00E4\u00F6-" + (platform == 2 ? u"nt" : u"9x");
        OutputStream s;
        const HRESULT hr = s.Open(name.c_str(), FileW);
        SetReportedPlatformId(VER_PLATFORM_WIN32_NT);
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(s.Write("ok", 2, nullptr), S_OK);
        s.Close();
        EXPECT_EQ(ReadFileBytes(dir.path() + "/\xC3\xA4\xC3\xB6-" + (platform == 2 ? "nt" : "9x")),
                  (std::vector<uint8_t>{'o', 'k'}));
    }
    // Without wide names the converted name is allocated (after the buffer).
    SetReportedPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    OutputStream s;
    FailAllocationAt(2);
    const std::u16string name = Wide(dir.File("oom"));
    EXPECT_EQ(s.Open(name.c_str(), FileW), E_OUTOFMEMORY);
    FailAllocationAt(0);
    SetReportedPlatformId(VER_PLATFORM_WIN32_NT);
    EXPECT_FALSE(test::FileExists(dir.File("oom")));
}

TEST(OutputStream, MemoryGrowsByDoublingAndKeepsTheBytes) {
    OutputStream s;
    ASSERT_EQ(s.Open(nullptr, Memory), S_OK);
    EXPECT_EQ(s.memory->GetSize(), 1024u);
    std::vector<uint32_t> sizes = {s.memory->GetSize()};
    std::vector<uint8_t> expected;
    for (int i = 0; i < 50; ++i) {
        const std::vector<uint8_t> data = Pattern(100, i);
        uint32_t written = 0;
        ASSERT_EQ(s.Write(data.data(), 100, &written), S_OK);
        EXPECT_EQ(written, 100u);
        expected.insert(expected.end(), data.begin(), data.end());
        if (s.memory->GetSize() != sizes.back()) sizes.push_back(s.memory->GetSize());
    }
    EXPECT_EQ(sizes, (std::vector<uint32_t>{1024, 2048, 4096, 8192}));
    EXPECT_EQ(s.committed, 5000u);
    const uint8_t* p = static_cast<const uint8_t*>(s.memory->GetPointer());
    EXPECT_EQ(std::vector<uint8_t>(p, p + 5000), expected);
}

TEST(OutputStream, MemoryGrowsStraightToALargeWrite) {
    OutputStream s;
    ASSERT_EQ(s.Open(nullptr, Memory), S_OK);
    const std::vector<uint8_t> data = Pattern(10000, 3);
    ASSERT_EQ(s.Write(data.data(), 1000, nullptr), S_OK);
    EXPECT_EQ(s.memory->GetSize(), 1024u);
    ASSERT_EQ(s.Write(data.data(), 10000, nullptr), S_OK);
    EXPECT_EQ(s.memory->GetSize(), 11000u);
}

TEST(OutputStream, MemoryGrowthFailureStoresNothing) {
    OutputStream s;
    ASSERT_EQ(s.Open(nullptr, Memory), S_OK);
    const std::vector<uint8_t> data = Pattern(2000, 4);
    ASSERT_EQ(s.Write(data.data(), 1000, nullptr), S_OK);
    FailAllocationAt(1);
    EXPECT_EQ(s.Write(data.data(), 2000, nullptr), E_OUTOFMEMORY);
    FailAllocationAt(0);
    EXPECT_EQ(s.committed, 1000u);
    EXPECT_EQ(s.memory->GetSize(), 1024u);
    const uint8_t* p = static_cast<const uint8_t*>(s.memory->GetPointer());
    EXPECT_EQ(std::vector<uint8_t>(p, p + 1000), std::vector<uint8_t>(data.begin(), data.begin() + 1000));
}

TEST(OutputStream, CountsNeverWrap) {
    OutputStream s;
    ASSERT_EQ(s.Open(nullptr, Memory), S_OK);
    s.committed = 0xFFFFFF00u;  // as if nearly 4 GiB had been stored
    uint8_t b[512] = {};
    EXPECT_EQ(s.Write(b, 512, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(s.committed, 0xFFFFFF00u);
    s.committed = 0;

    ScratchDir dir;
    OutputStream f;
    ASSERT_EQ(f.Open(dir.File("w").c_str(), FileA), S_OK);
    f.committed = 0xFFFFFF00u;
    EXPECT_EQ(f.Write(b, 512, nullptr), E_FAIL);
    EXPECT_EQ(f.buffered, 0u);
}

}  // namespace
}  // namespace z3az
