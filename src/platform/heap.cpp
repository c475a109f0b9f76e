#include "platform/heap.h"

#include <cstdint>
#include <cstdlib>

namespace z3az {
namespace {
// Process-wide, unsynchronised: the library starts no threads.
unsigned long g_count = 0;
unsigned long g_failAt = 0;
bool g_failFrom = false;
}  // namespace

void* Allocate(size_t bytes) {
    ++g_count;
    if (g_failAt != 0 && (g_count == g_failAt || (g_failFrom && g_count > g_failAt))) return nullptr;
    return std::malloc(bytes ? bytes : 1);
}

void* AllocateArray(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        ++g_count;
        return nullptr;
    }
    return Allocate(count * size);
}

void* Reallocate(void* p, size_t bytes) {
    ++g_count;
    if (g_failAt != 0 && (g_count == g_failAt || (g_failFrom && g_count > g_failAt))) return nullptr;
    return std::realloc(p, bytes ? bytes : 1);
}

void Free(void* p) { std::free(p); }

void FailAllocationAt(unsigned long n) {
    g_failAt = n ? g_count + n : 0;
    g_failFrom = false;
}

void FailAllocationsFrom(unsigned long n) {
    g_failAt = n ? g_count + n : 0;
    g_failFrom = n != 0;
}

unsigned long AllocationCount() { return g_count; }

void ResetAllocationCount() { g_count = 0; g_failAt = 0; g_failFrom = false; }

}  // namespace z3az
