#include <gtest/gtest.h>

#include "platform/heap.h"

namespace z3az {
namespace {

TEST(Heap, FailsExactlyTheNthAllocation) {
    ResetAllocationCount();
    FailAllocationAt(2);
    void* a = Allocate(8);
    void* b = Allocate(8);
    void* c = Allocate(8);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(AllocationCount(), 3u);
    Free(a);
    Free(c);
    ResetAllocationCount();
}

TEST(Heap, FailsFromTheNthOnAndRefusesOverflowingArrays) {
    ResetAllocationCount();
    FailAllocationsFrom(1);
    EXPECT_EQ(Allocate(1), nullptr);
    EXPECT_EQ(Allocate(1), nullptr);
    ResetAllocationCount();
    EXPECT_EQ(AllocateArray(SIZE_MAX / 2, 4), nullptr);
    struct Pair { int a, b; };
    Pair* p = New<Pair>(Pair{1, 2});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->b, 2);
    Delete(p);
}

}  // namespace
}  // namespace z3az
