// The allocator check against replaced global operators: the standard
// behaviour, null for zero bytes, and one shared address for zero bytes.
// The check runs once per process, so each case runs in a child process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/win_debug.h"
#include "runtime/runtime_checks.h"

namespace {

enum class Mode { Standard, NullForZero, SharedForZero };
std::atomic<Mode> g_mode{Mode::Standard};
alignas(std::max_align_t) unsigned char g_shared[16];
std::atomic<int> g_zeroRequests{0};
std::atomic<int> g_nullDeletes{0};
std::atomic<int> g_sharedDeletes{0};

void* Allocate(std::size_t n) {
    if (n == 0) {
        ++g_zeroRequests;
        if (g_mode == Mode::NullForZero) return nullptr;
        if (g_mode == Mode::SharedForZero) return g_shared;
    }
    return std::malloc(n ? n : 1);
}

void Release(void* p) {
    if (!p) {
        ++g_nullDeletes;
    } else if (p == g_shared) {
        ++g_sharedDeletes;
    } else {
        std::free(p);
    }
}

}  // namespace

void* operator new(std::size_t n) {
    void* p = Allocate(n);
    if (!p && (n != 0 || g_mode != Mode::NullForZero)) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace z3az {
namespace {

const char kWarning[] =
    "Z3AZ: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n"
    "Z3AZ: (WARN) An allocation of zero bytes should return a unique non-null pointer to at\r\n"
    "Z3AZ: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n"
    "Z3AZ: (WARN) Z3AZ relies upon this behavior.\r\n";

// Runs the check three times under `mode`; exits 0 when the debugger output
// is `expected` and the check made two zero-byte requests, deleted null once
// and the shared address at most once.
[[noreturn]] void RunCheck(Mode mode, const std::string& expected) {
    ClearDebugOutput();
    g_zeroRequests = 0;
    g_nullDeletes = 0;
    g_sharedDeletes = 0;
    g_mode = mode;
    CheckAllocatorConformance();
    CheckAllocatorConformance();
    CheckAllocatorConformance();
    g_mode = Mode::Standard;
    const int zero = g_zeroRequests, nulls = g_nullDeletes, shared = g_sharedDeletes;
    const std::string output = DebugOutput();
    const bool ok = output == expected && zero == 2 && nulls == 1 &&
                    shared == (mode == Mode::SharedForZero ? 1 : 0);
    if (!ok) {
        std::fprintf(stderr, "output [%s] zero-byte requests %d null deletes %d shared deletes %d\n",
                     output.c_str(), zero, nulls, shared);
    }
    std::exit(ok ? 0 : 1);
}

TEST(AllocatorConformanceDeathTest, StandardAllocatorWritesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunCheck(Mode::Standard, ""), ::testing::ExitedWithCode(0), "");
}

TEST(AllocatorConformanceDeathTest, NullForZeroBytesWarnsOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The warning also reaches standard error.
    EXPECT_EXIT(RunCheck(Mode::NullForZero, kWarning), ::testing::ExitedWithCode(0),
                "Z3AZ: \\(WARN\\) Z3AZ relies upon this behavior\\.");
}

TEST(AllocatorConformanceDeathTest, SharedAddressForZeroBytesWarnsOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunCheck(Mode::SharedForZero, kWarning), ::testing::ExitedWithCode(0),
                "Z3AZ: \\(WARN\\) Overloaded ::new");
}

}  // namespace
}  // namespace z3az
