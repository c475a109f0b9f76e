// The sink every file writer appends to: a file behind a 64 KiB write
// buffer, or a growing block of memory.
#pragma once

#include <cstdint>

#include "platform/win_types.h"
#include "z3az/types.h"

namespace z3az {

class DataBuffer;

// Size of the file write buffer. Files receive writes of exactly this size
// or of a multiple of it, except for the last piece a flush writes.
constexpr uint32_t WriteBlockSize = 65536;

// Initial size of the memory work buffer; it doubles as writes demand.
constexpr uint32_t MemoryStartSize = 1024;

enum StreamMode : uint32_t {
    StreamNotOpen = 0,
    StreamFile = 1,
    StreamMemory = 2,
};

// Sees every Write call before it is carried out (length in bytes);
// returning false makes that call fail with E_FAIL. For tests and tools
// that need to know how a writer feeds its stream.
typedef bool (*StreamWriteObserver)(void* context, uint32_t length);

struct OutputStream {
    HANDLE file = INVALID_HANDLE_VALUE;  // open file in StreamFile mode
    uint32_t mode = StreamNotOpen;
    DataBuffer* memory = nullptr;        // one reference, in StreamMemory mode
    uint8_t* buffer = nullptr;           // WriteBlockSize bytes, in StreamFile mode
    uint32_t buffered = 0;               // bytes waiting in buffer
    uint32_t committed = 0;              // bytes passed to the file / stored in memory
    StreamWriteObserver observer = nullptr;
    void* observerContext = nullptr;

    OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;
    ~OutputStream() { Close(); }

    // destination: an 8-bit name (FileA), a UTF-16 name (FileW); ignored for
    // Memory. The file is created or truncated, write only, not shared.
    // D3DERR_INVALIDCALL for a null name, IMAGEERR_CANNOTCREATEFILE when the
    // file cannot be opened, E_OUTOFMEMORY, E_FAIL for an unknown target or a
    // stream that is already open.
    HRESULT Open(const void* destination, uint32_t target);

    // Takes all length bytes or fails; *written (may be null) is set to length
    // on success. E_FAIL when the file refuses bytes or the stream is not
    // open, E_OUTOFMEMORY when memory cannot grow. Counts never wrap: a write
    // that would take the stream past 4 GiB - 1 bytes is refused.
    HRESULT Write(const void* data, uint32_t length, uint32_t* written);

    // Writes the buffered bytes to the file (E_FAIL, nothing changes, when
    // that fails). Nothing to do in memory mode or when not open.
    HRESULT Flush();

    // Flushes (ignoring the result), releases the memory, frees the buffer
    // and closes the file. Safe to call again.
    void Close();
};

}  // namespace z3az
