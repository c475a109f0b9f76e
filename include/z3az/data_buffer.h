// The block of bytes a save into memory hands back: a reference-counted
// COM-style object. The caller of a memory save receives it with one
// reference and releases it when done.
#pragma once

#include <cstdint>

#include "z3az/com.h"
#include "z3az/types.h"

namespace z3az {

// {8BA5FB08-5195-40E2-AC58-0D989C3A0102}
inline constexpr GUID IID_IDataBuffer = {0x8BA5FB08, 0x5195, 0x40E2,
                                         {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};

struct IDataBuffer : IUnknown {
    // The first byte of the block (valid while a reference is held).
    virtual void* GetPointer() = 0;
    // The number of bytes in the block.
    virtual uint32_t GetSize() = 0;

protected:
    ~IDataBuffer() = default;  // destroyed through Release
};

// Creates a buffer of size bytes (contents undefined) with one reference.
// D3DERR_INVALIDCALL for a null out pointer, E_OUTOFMEMORY when the object
// or its block cannot be allocated; *out is untouched on failure.
HRESULT CreateDataBuffer(uint32_t size, IDataBuffer** out);

}  // namespace z3az
