// Growing a buffer by resizing its block: the bytes kept, the sizes, the
// allocations counted, and the resize itself failing like an allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/data_buffer.h"
#include "platform/heap.h"

namespace z3az {
namespace {

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 37 + 11);
    return v;
}

TEST(DataBufferGrowth, GrowingIsOneCountedAllocationAndKeepsTheBytes) {
    const std::vector<uint8_t> bytes = Pattern(1024);
    DataBuffer* buffer = nullptr;
    ASSERT_EQ(DataBuffer::Create(1024, &buffer), S_OK);
    std::memcpy(buffer->GetPointer(), bytes.data(), bytes.size());
    for (uint32_t size : {2048u, 4096u, 1u << 20, 1u << 23}) {
        SCOPED_TRACE(size);
        const unsigned long before = AllocationCount();
        ASSERT_EQ(buffer->Grow(size), S_OK);
        EXPECT_EQ(AllocationCount() - before, 1u);
        EXPECT_EQ(buffer->GetSize(), size);
        EXPECT_EQ(std::memcmp(buffer->GetPointer(), bytes.data(), bytes.size()), 0);
        std::memset(static_cast<uint8_t*>(buffer->GetPointer()) + 1024, 0x5A, size - 1024);
    }
    EXPECT_EQ(buffer->Release(), 0u);
}

TEST(Heap, ReallocateKeepsBytesAndFailsLikeAllocate) {
    uint8_t* p = static_cast<uint8_t*>(Allocate(16));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) p[i] = static_cast<uint8_t>(i);
    FailAllocationAt(1);
    EXPECT_EQ(Reallocate(p, 1 << 16), nullptr);
    FailAllocationAt(0);
    EXPECT_EQ(p[15], 15);  // still the caller's block
    uint8_t* q = static_cast<uint8_t*>(Reallocate(p, 1 << 16));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(q[i], i);
    q = static_cast<uint8_t*>(Reallocate(q, 0));  // keeps one byte, not freed
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[0], 0);
    Free(q);
    void* fresh = Reallocate(nullptr, 8);
    EXPECT_NE(fresh, nullptr);
    Free(fresh);
}

}  // namespace
}  // namespace z3az
