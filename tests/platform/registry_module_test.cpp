// The registry, module table and debugger output stand-ins.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win_debug.h"
#include "platform/win_module.h"
#include "platform/win_registry.h"

namespace z3az {
namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ClearRegistry(); }
    void TearDown() override {
        EXPECT_EQ(OpenRegistryKeyCount(), 0u) << "a test left a key open";
        ClearRegistry();
    }

    // Creates the key and stores a value in it.
    static void Store(const char* path, const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
};

TEST_F(Registry, StartsEmpty) {
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Ruzodivoz\\Direct3D", &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, StoresAndReadsTypedValuesWithoutRegardToCase) {
    DWORD seven = 7;
    Store("Software\\Ruzodivoz\\Direct3D", "Z3AZDoNotMute", REG_DWORD, &seven, 4);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\ruzodivoz\\DIRECT3D\\", &key),
              ERROR_SUCCESS);
    DWORD type = 0, value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, "z3azdonotmute", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, SizeQueriesAndShortBuffers) {
    const char text[] = "hello";
    Store("Software\\A", "Text", REG_SZ, text, sizeof text);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\A", &key), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(type, REG_SZ);

    BYTE small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(small[0], 0xAA) << "a short buffer is left untouched";

    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, DeletesValuesAndOpensSubkeysOfOpenKeys) {
    DWORD one = 1;
    Store("Software\\Ruzodivoz\\Direct3D", "DisableMMX", REG_DWORD, &one, 4);
    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Ruzodivoz", &parent), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyA(parent, "Direct3D", &child), ERROR_SUCCESS);
    EXPECT_EQ(OpenRegistryKeyCount(), 2u);
    EXPECT_EQ(RegDeleteValueA(child, "DisableMMX"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(child, "DisableMMX"), ERROR_FILE_NOT_FOUND);
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExA(child, "DisableMMX", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

TEST_F(Registry, RefusesBadHandlesAndArguments) {
    HKEY bogus = reinterpret_cast<HKEY>(uintptr_t{0x12345});
    HKEY key = nullptr;
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyA(bogus, "x", &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "x", nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "x", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a handle closes once";
    DWORD size = 4;
    BYTE data[4];
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
}

// --- Modules ---------------------------------------------------------------

int g_lastArgument = -1;
void RecordArgument(int32_t value) { g_lastArgument = value; }

FARPROC AsProc(void (*f)(int32_t)) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

TEST(Modules, KnownModulesLoadOnlyWhenAsked) {
    ModuleExport exports[] = {{"DebugSetMute", AsProc(RecordArgument)}};
    ASSERT_TRUE(RegisterModule("modtest_a.dll", exports, 1, false));
    EXPECT_EQ(GetModuleHandleA("modtest_a.dll"), nullptr) << "known but not loaded";

    HMODULE module = LoadLibraryA("MODTEST_A");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleA("C:\\Windows\\System32\\modtest_a.DLL"), module);
    EXPECT_EQ(ModuleLoadCount("modtest_a.dll"), 1u);

    FARPROC proc = GetProcAddress(module, "DebugSetMute");
    ASSERT_NE(proc, nullptr);
    reinterpret_cast<void (*)(int32_t)>(reinterpret_cast<void (*)()>(proc))(5);
    EXPECT_EQ(g_lastArgument, 5);
    EXPECT_EQ(GetProcAddress(module, "debugsetmute"), nullptr) << "export names keep their case";
    EXPECT_EQ(GetProcAddress(module, "Missing"), nullptr);

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleA("modtest_a.dll"), nullptr);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetProcAddress(module, "DebugSetMute"), nullptr) << "not loaded any more";
    UnregisterModule("modtest_a.dll");
}

TEST(Modules, UnknownModulesDoNotLoad) {
    unsigned long before = LoadLibraryCallCount();
    EXPECT_EQ(LoadLibraryA("modtest_none.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("modtest_none.dll"), nullptr);
    EXPECT_EQ(LoadLibraryCallCount(), before + 1);
    EXPECT_FALSE(RegisterModule("", nullptr, 0, true));
    EXPECT_FALSE(RegisterModule(nullptr, nullptr, 0, true));
}

TEST(Modules, RegisteredAsLoadedAndForgotten) {
    ASSERT_TRUE(RegisterModule("modtest_b.dll", nullptr, 0, true));
    HMODULE module = GetModuleHandleA("modtest_b.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "DebugSetMute"), nullptr);
    UnregisterModule("modtest_b.dll");
    EXPECT_EQ(GetModuleHandleA("modtest_b.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA("modtest_b.dll"), nullptr);
    EXPECT_FALSE(FreeLibrary(module)) << "a forgotten module's handle is refused";
}

// --- Debugger output ---------------------------------------------------------

TEST(DebugOutputSink, CollectsTextUntilCleared) {
    SetDebugOutputEcho(false);
    ClearDebugOutput();
    OutputDebugStringA("one\r\n");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("two");
    EXPECT_EQ(DebugOutput(), "one\r\ntwo");
    ClearDebugOutput();
    EXPECT_EQ(DebugOutput(), "");
    SetDebugOutputEcho(true);
}

}  // namespace
}  // namespace z3az
