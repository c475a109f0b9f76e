#include "image/output_stream.h"

#include <cstring>

#include "image/data_buffer.h"
#include "platform/heap.h"
#include "platform/win_file.h"

namespace z3az {

namespace {

// A name converted to UTF-8 for systems without wide file names.
HANDLE OpenWideThroughUtf8(const WCHAR* name, HRESULT* hr) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return INVALID_HANDLE_VALUE;
    char* utf8 = static_cast<char*>(Allocate(static_cast<size_t>(needed)));
    if (!utf8) {
        *hr = E_OUTOFMEMORY;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    if (WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, needed, nullptr, nullptr) == needed)
        h = CreateFileA(utf8, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    Free(utf8);
    return h;
}

bool WideNamesAvailable() {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

HRESULT OutputStream::Open(const void* destination, uint32_t target) {
    if (mode != StreamNotOpen) return E_FAIL;
    switch (target) {
        case FileA:
        case FileW: {
            if (!buffer) buffer = static_cast<uint8_t*>(Allocate(WriteBlockSize));
            if (!buffer) return E_OUTOFMEMORY;
            if (!destination) return D3DERR_INVALIDCALL;
            HRESULT hr = IMAGEERR_CANNOTCREATEFILE;
            HANDLE h;
            if (target == FileA) {
                h = CreateFileA(static_cast<const char*>(destination), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                0, nullptr);
            } else if (WideNamesAvailable()) {
                h = CreateFileW(static_cast<const WCHAR*>(destination), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                0, nullptr);
            } else {
                h = OpenWideThroughUtf8(static_cast<const WCHAR*>(destination), &hr);
            }
            if (h == INVALID_HANDLE_VALUE) return hr;
            file = h;
            mode = StreamFile;
            return S_OK;
        }
        case Memory: {
            const HRESULT hr = DataBuffer::Create(MemoryStartSize, &memory);
            if (FAILED(hr)) return hr;
            mode = StreamMemory;
            return S_OK;
        }
        default:
            return E_FAIL;
    }
}

HRESULT OutputStream::Write(const void* data, uint32_t n, uint32_t* written) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (n != 0 && !data) return E_FAIL;
    if (observer && !observer(observerContext, n)) return E_FAIL;
    if (mode == StreamMemory) {
        const uint64_t end = uint64_t(committed) + n;
        if (end > UINT32_MAX) return E_OUTOFMEMORY;
        const uint32_t size = memory->GetSize();
        if (end > size) {
            uint64_t grown = uint64_t(size) * 2;
            if (grown < end) grown = end;
            if (grown > UINT32_MAX) grown = UINT32_MAX;
            const HRESULT hr = memory->Grow(static_cast<uint32_t>(grown));
            if (FAILED(hr)) return hr;
        }
        if (n) std::memcpy(static_cast<uint8_t*>(memory->GetPointer()) + committed, bytes, n);
        committed += n;
        if (written) *written = n;
        return S_OK;
    }
    if (mode != StreamFile) return E_FAIL;
    if (uint64_t(committed) + buffered + n > UINT32_MAX) return E_FAIL;

    constexpr uint32_t B = WriteBlockSize;
    if (buffered + n <= B) {
        if (n) std::memcpy(buffer + buffered, bytes, n);
        buffered += n;
        if (written) *written = n;
        return S_OK;
    }
    uint32_t taken = 0;
    if (buffered > 0) {
        // Top the buffer up to a full block and pass it on.
        if (buffered < B) std::memcpy(buffer + buffered, bytes, B - buffered);
        if (!WriteFile(file, buffer, B, nullptr, nullptr)) return E_FAIL;
        committed += B;
        taken = B - buffered;
        buffered = 0;
    }
    if (n - taken >= B) {
        // Whole blocks go straight from the caller's data.
        const uint32_t direct = (n - taken) / B * B;
        if (!WriteFile(file, bytes + taken, direct, nullptr, nullptr)) return E_FAIL;
        committed += direct;
        taken += direct;
    }
    if (n > taken) std::memcpy(buffer, bytes + taken, n - taken);
    buffered = n - taken;
    if (written) *written = n;
    return S_OK;
}

HRESULT OutputStream::Flush() {
    switch (mode) {
        case StreamFile:
            if (buffered > 0) {
                if (!WriteFile(file, buffer, buffered, nullptr, nullptr)) return E_FAIL;
                committed += buffered;
                buffered = 0;
            }
            return S_OK;
        case StreamNotOpen:
        case StreamMemory:
            return S_OK;
        default:
            return E_FAIL;
    }
}

void OutputStream::Close() {
    Flush();
    if (memory) {
        memory->Release();
        memory = nullptr;
    }
    Free(buffer);
    buffer = nullptr;
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    mode = StreamNotOpen;
    buffered = 0;
}

}  // namespace z3az
