// The implementation behind IDataBuffer: a block of bytes owned by the
// object, with a plain (not atomic) reference count.
#pragma once

#include <cstdint>

#include "z3az/data_buffer.h"

namespace z3az {

class DataBuffer final : public IDataBuffer {
public:
    // What the caller sees.
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    void* GetPointer() override;
    uint32_t GetSize() override;

    // What the library uses.
    virtual ~DataBuffer();
    // Replaces the block with a new one of n bytes; on failure the buffer is
    // unchanged and E_OUTOFMEMORY is returned.
    virtual HRESULT Allocate(uint32_t n);
    // Frees the current block and takes ownership of block (n bytes).
    virtual HRESULT Attach(void* block, uint32_t n);
    // Makes the block at least n bytes long, keeping its contents; the bytes
    // beyond the old size are undefined. E_OUTOFMEMORY leaves it unchanged.
    HRESULT Grow(uint32_t n);

    // A new buffer of n bytes with one reference.
    static HRESULT Create(uint32_t n, DataBuffer** out);

private:
    DataBuffer() = default;
    template <class T, class... Args>
    friend T* New(Args&&... args);

    uint32_t refCount = 1;
    uint32_t size = 0;
    void* data = nullptr;
};

}  // namespace z3az
