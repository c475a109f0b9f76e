// The Direct3D registry reader and the debug-runtime mute switch. The mute
// switch keeps what it found for the life of the process, so every case of
// it runs in a child process of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win_module.h"
#include "platform/win_registry.h"
#include "runtime/runtime_checks.h"

namespace z3az {
namespace {

const char kKey[] = "Software\\Ruzodivoz\\Direct3D";

void StoreValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

class RegistryReader : public ::testing::Test {
protected:
    void SetUp() override { ClearRegistry(); }
    void TearDown() override {
        EXPECT_EQ(OpenRegistryKeyCount(), 0u) << "the key is closed after every read";
        ClearRegistry();
    }
};

TEST_F(RegistryReader, MissingKeyOrValueReadsAsAbsent) {
    uint32_t value = 0xDEADBEEF, size = 4;
    EXPECT_FALSE(ReadDirect3DRegistryValue(REG_DWORD, "DisableMMX", &value, &size));
    EXPECT_EQ(value, 0xDEADBEEFu);
    StoreValue("Other", REG_DWORD, &value, 4);
    EXPECT_FALSE(ReadDirect3DRegistryValue(REG_DWORD, "DisableMMX", &value, &size));
}

TEST_F(RegistryReader, ReadsAValueOfTheExpectedType) {
    uint32_t stored = 0x01020304;
    StoreValue("DisablePSGP", REG_DWORD, &stored, 4);
    uint32_t value = 0, size = 4;
    EXPECT_TRUE(ReadDirect3DRegistryValue(REG_DWORD, "DisablePSGP", &value, &size));
    EXPECT_EQ(value, 0x01020304u);
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryReader, AnotherTypeOrAValueTooLargeIsAbsent) {
    const BYTE binary[4] = {1, 0, 0, 0};
    StoreValue("AsBinary", REG_BINARY, binary, 4);
    const uint64_t wide = 1;
    StoreValue("AsQword", REG_QWORD, &wide, 8);
    uint32_t value = 0, size = 4;
    EXPECT_FALSE(ReadDirect3DRegistryValue(REG_DWORD, "AsBinary", &value, &size));
    size = 4;
    EXPECT_FALSE(ReadDirect3DRegistryValue(REG_DWORD, "AsQword", &value, &size));
    size = 4;
    EXPECT_TRUE(ReadDirect3DRegistryValue(REG_BINARY, "AsBinary", &value, &size));
}

// --- The mute switch --------------------------------------------------------

struct MuteCall {
    char module;  // 'r' for d3d9.dll, 'd' for d3d9d.dll
    int32_t value;
    bool operator==(const MuteCall&) const = default;
};
std::vector<MuteCall> g_calls;
void RetailMute(int32_t value) { g_calls.push_back({'r', value}); }
void DebugRuntimeMute(int32_t value) { g_calls.push_back({'d', value}); }

FARPROC AsProc(void (*f)(int32_t)) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

// Makes both modules known, each loaded or not.
void RegisterRuntimes(bool retailLoaded, bool debugLoaded) {
    ModuleExport retail[] = {{"DebugSetMute", AsProc(RetailMute)}};
    ModuleExport debug[] = {{"DebugSetMute", AsProc(DebugRuntimeMute)}};
    RegisterModule("d3d9.dll", retail, 1, retailLoaded);
    RegisterModule("d3d9d.dll", debug, 1, debugLoaded);
}

std::string Describe(const std::vector<MuteCall>& calls) {
    std::string s;
    for (const MuteCall& c : calls) s += std::string(1, c.module) + std::to_string(c.value) + " ";
    return s;
}

// Ends a child process: 0 when the calls are the expected ones.
[[noreturn]] void Finish(const std::vector<MuteCall>& expected, bool otherChecks = true) {
    if (g_calls == expected && otherChecks) std::exit(0);
    std::fprintf(stderr, "calls: %s expected: %s other checks: %d\n", Describe(g_calls).c_str(),
                 Describe(expected).c_str(), otherChecks);
    std::exit(1);
}

const std::vector<MuteCall> kBothOnAndOff = {{'r', 1}, {'d', 1}, {'r', 0}, {'d', 0}};

struct DoNotMuteCase {
    const char* name;
    DWORD type;      // REG_NONE: no value stored
    uint64_t data;
    DWORD size;
    bool muted;      // whether the mute functions are called
};

[[noreturn]] void DoNotMuteChild(const DoNotMuteCase& c) {
    ClearRegistry();
    if (c.type != REG_NONE) StoreValue("Z3AZDoNotMute", c.type, &c.data, c.size);
    RegisterRuntimes(true, true);
    DebugMute(1);
    DebugMute(0);
    Finish(c.muted ? kBothOnAndOff : std::vector<MuteCall>{});
}

TEST(DebugMuteDeathTest, DoNotMuteSetting) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const DoNotMuteCase cases[] = {
        {"absent", REG_NONE, 0, 0, true},
        {"dword 1", REG_DWORD, 1, 4, false},
        {"dword 7", REG_DWORD, 7, 4, false},
        {"dword 0", REG_DWORD, 0, 4, true},
        {"binary 1", REG_BINARY, 1, 4, true},
        {"string", REG_SZ, '1', 2, true},
        {"qword 1", REG_QWORD, 1, 8, true},
    };
    for (const DoNotMuteCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(DoNotMuteChild(c), ::testing::ExitedWithCode(0), "");
    }
}

// Child bodies: each ends the process through Finish.
[[noreturn]] void NoModuleLoaded() {
    ClearRegistry();
    RegisterRuntimes(false, false);
    unsigned long loads = LoadLibraryCallCount();
    DebugMute(1);
    DebugMute(0);
    bool nothingLoaded = LoadLibraryCallCount() == loads && ModuleLoadCount("d3d9.dll") == 0 &&
                         ModuleLoadCount("d3d9d.dll") == 0 && g_calls.empty();
    // The process loads the debug runtime; the next call finds it and keeps
    // a reference of its own.
    LoadLibraryA("d3d9d.dll");
    DebugMute(1);
    bool found = ModuleLoadCount("d3d9d.dll") == 2 && ModuleLoadCount("d3d9.dll") == 0;
    // Once one function is known the lookup stops: the retail runtime
    // loaded later is not used.
    LoadLibraryA("d3d9.dll");
    DebugMute(0);
    Finish({{'d', 1}, {'d', 0}}, nothingLoaded && found);
}

[[noreturn]] void MissingExport() {
    ClearRegistry();
    ModuleExport retail[] = {{"DebugSetMute", AsProc(RetailMute)}};
    RegisterModule("d3d9.dll", retail, 1, true);
    RegisterModule("d3d9d.dll", nullptr, 0, true);  // loaded, without the export
    DebugMute(1);
    DebugMute(0);
    Finish({{'r', 1}, {'r', 0}});
}

[[noreturn]] void SettingReadOnce() {
    ClearRegistry();
    RegisterRuntimes(true, false);
    unsigned long opens = RegistryOpenCallCount();
    DebugMute(1);
    uint64_t one = 1;
    StoreValue("Z3AZDoNotMute", REG_DWORD, &one, 4);  // too late to count
    DebugMute(0);
    DebugMute(1);
    DebugMute(0);
    Finish({{'r', 1}, {'r', 0}, {'r', 1}, {'r', 0}}, RegistryOpenCallCount() == opens + 1);
}

TEST(DebugMuteDeathTest, NoModuleLoadedLoadsNothingAndLooksAgainNextTime) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(NoModuleLoaded(), ::testing::ExitedWithCode(0), "");
}

TEST(DebugMuteDeathTest, MissingExportOrModuleIsSkipped) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(MissingExport(), ::testing::ExitedWithCode(0), "");
}

TEST(DebugMuteDeathTest, SettingIsReadOnceForTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(SettingReadOnce(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace z3az
