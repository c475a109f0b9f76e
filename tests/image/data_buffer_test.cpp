#include "image/data_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/heap.h"

namespace z3az {
namespace {

TEST(DataBuffer, CreateGivesOneReferenceAndTheSize) {
    IDataBuffer* buffer = nullptr;
    ASSERT_EQ(CreateDataBuffer(5000, &buffer), S_OK);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->GetSize(), 5000u);
    ASSERT_NE(buffer->GetPointer(), nullptr);
    std::memset(buffer->GetPointer(), 0xAB, 5000);  // the whole block is usable
    EXPECT_EQ(buffer->AddRef(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);  // destroyed; the leak checker sees nothing left
}

TEST(DataBuffer, CreateFailures) {
    EXPECT_EQ(CreateDataBuffer(10, nullptr), D3DERR_INVALIDCALL);
    for (unsigned long n : {1ul, 2ul}) {  // the object, then its block
        IDataBuffer* buffer = reinterpret_cast<IDataBuffer*>(0x1);
        FailAllocationAt(n);
        EXPECT_EQ(CreateDataBuffer(10, &buffer), E_OUTOFMEMORY);
        FailAllocationAt(0);
        EXPECT_EQ(buffer, reinterpret_cast<IDataBuffer*>(0x1));  // untouched
    }
}

TEST(DataBuffer, QueryInterface) {
    // The interface id as hosts write it: {8BA5FB08-5195-40E2-AC58-0D989C3A0102}.
    const GUID id = {0x8BA5FB08, 0x5195, 0x40E2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};
    EXPECT_EQ(IID_IDataBuffer, id);
    IDataBuffer* buffer = nullptr;
    ASSERT_EQ(CreateDataBuffer(4, &buffer), S_OK);

    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(buffer->QueryInterface(IID_IDataBuffer, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(buffer));
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(buffer->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(buffer));
    const GUID other = {0x8BA5FB08, 0x5195, 0x40E2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x03}};
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(buffer->QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // Two successful queries added two references.
    EXPECT_EQ(buffer->Release(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);
}

TEST(DataBuffer, GrowKeepsContentsAndFailsCleanly) {
    DataBuffer* buffer = nullptr;
    ASSERT_EQ(DataBuffer::Create(4, &buffer), S_OK);
    std::memcpy(buffer->GetPointer(), "abcd", 4);
    EXPECT_EQ(buffer->Grow(3), S_OK);  // already big enough
    EXPECT_EQ(buffer->GetSize(), 4u);
    const void* before = buffer->GetPointer();
    FailAllocationAt(1);
    EXPECT_EQ(buffer->Grow(100), E_OUTOFMEMORY);
    FailAllocationAt(0);
    EXPECT_EQ(buffer->GetSize(), 4u);
    EXPECT_EQ(buffer->GetPointer(), before);
    ASSERT_EQ(buffer->Grow(100), S_OK);
    EXPECT_EQ(buffer->GetSize(), 100u);
    EXPECT_EQ(std::memcmp(buffer->GetPointer(), "abcd", 4), 0);

    void* block = Allocate(7);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(buffer->Attach(block, 7), S_OK);
    EXPECT_EQ(buffer->GetPointer(), block);
    EXPECT_EQ(buffer->GetSize(), 7u);

    FailAllocationAt(1);
    EXPECT_EQ(buffer->Allocate(9), E_OUTOFMEMORY);
    FailAllocationAt(0);
    EXPECT_EQ(buffer->GetPointer(), block);
    EXPECT_EQ(buffer->Release(), 0u);
}

}  // namespace
}  // namespace z3az
