#include "image/data_buffer.h"

#include "platform/heap.h"

namespace z3az {

HRESULT DataBuffer::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDataBuffer) {
        *object = static_cast<IDataBuffer*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG DataBuffer::AddRef() { return ++refCount; }

ULONG DataBuffer::Release() {
    const ULONG count = --refCount;
    if (count == 0) Delete(this);
    return count;
}

void* DataBuffer::GetPointer() { return data; }

uint32_t DataBuffer::GetSize() { return size; }

DataBuffer::~DataBuffer() { Free(data); }

HRESULT DataBuffer::Allocate(uint32_t n) {
    void* block = z3az::Allocate(n);
    if (!block) return E_OUTOFMEMORY;
    Free(data);
    data = block;
    size = n;
    return S_OK;
}

HRESULT DataBuffer::Attach(void* block, uint32_t n) {
    Free(data);
    data = block;
    size = n;
    return S_OK;
}

HRESULT DataBuffer::Grow(uint32_t n) {
    if (size >= n) return S_OK;
    // A resize, not a fresh block and a copy: a large block usually grows
    // where it is, without moving its bytes.
    void* block = Reallocate(data, n);
    if (!block) return E_OUTOFMEMORY;
    data = block;
    size = n;
    return S_OK;
}

HRESULT DataBuffer::Create(uint32_t n, DataBuffer** out) {
    if (!out) return D3DERR_INVALIDCALL;
    DataBuffer* buffer = New<DataBuffer>();
    if (!buffer) return E_OUTOFMEMORY;
    const HRESULT hr = buffer->Allocate(n);
    if (FAILED(hr)) {
        buffer->Release();
        return hr;
    }
    *out = buffer;
    return S_OK;
}

HRESULT CreateDataBuffer(uint32_t size, IDataBuffer** out) {
    if (!out) return D3DERR_INVALIDCALL;
    DataBuffer* buffer = nullptr;
    const HRESULT hr = DataBuffer::Create(size, &buffer);
    if (FAILED(hr)) return hr;
    *out = buffer;
    return S_OK;
}

}  // namespace z3az
