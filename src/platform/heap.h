// The one allocator of the library. Every allocation the library makes goes
// through here, so that a test can make the Nth allocation fail and check
// that the failure is reported and nothing leaks.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace z3az {

// Returns null when the allocation fails (or is made to fail). Zero bytes
// allocate one byte so that a non-null result is always freeable.
void* Allocate(size_t bytes);
// Like Allocate, but refuses a product of two sizes that would overflow.
void* AllocateArray(size_t count, size_t size);
// Resizes a block from Allocate (or makes one when p is null), keeping the
// bytes both sizes share; the allocator may do this in place. Counted and
// made to fail like Allocate: on failure it returns null and p is unchanged.
// Zero bytes keep one byte.
void* Reallocate(void* p, size_t bytes);
void Free(void* p);

// Constructs a T in memory from Allocate; null on failure.
template <class T, class... Args>
T* New(Args&&... args) {
    void* p = Allocate(sizeof(T));
    if (!p) return nullptr;
    return ::new (p) T(std::forward<Args>(args)...);
}

// Destroys and frees an object made by New.
template <class T>
void Delete(T* p) {
    if (!p) return;
    p->~T();
    Free(p);
}

// Fault injection for tests. FailAllocationAt(n): the nth allocation from now
// (1-based) fails, and only that one; 0 disables. AllocationCount() counts
// allocations since the last call of ResetAllocationCount().
void FailAllocationAt(unsigned long n);
void FailAllocationsFrom(unsigned long n);  // the nth and every later one fail
unsigned long AllocationCount();
void ResetAllocationCount();

}  // namespace z3az
