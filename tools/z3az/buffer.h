// Small owning holders for the tool: a block of bytes from the C heap and a
// fixed-size message. Nothing here throws; allocation failures are reported
// to the caller.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace z3az::cli {

// A block of bytes owned by whoever holds it. Move-only.
class Bytes {
public:
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    Bytes(Bytes&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    Bytes& operator=(Bytes&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~Bytes() { std::free(data_); }

    // Replaces the block with n new bytes (contents undefined); false and an
    // empty block when there is no memory.
    bool Allocate(size_t n) {
        std::free(data_);
        data_ = static_cast<uint8_t*>(std::malloc(n ? n : 1));
        size_ = data_ ? n : 0;
        return data_ != nullptr;
    }
    // Like Allocate, with every byte zero.
    bool AllocateZeroed(size_t n) {
        std::free(data_);
        data_ = static_cast<uint8_t*>(std::calloc(n ? n : 1, 1));
        size_ = data_ ? n : 0;
        return data_ != nullptr;
    }
    // Keeps the first n bytes and makes room for at least capacity bytes;
    // on failure the block is unchanged.
    bool Reserve(size_t capacity) {
        if (capacity <= size_) return true;
        void* grown = std::realloc(data_, capacity);
        if (!grown) return false;
        data_ = static_cast<uint8_t*>(grown);
        size_ = capacity;
        return true;
    }
    // Forgets bytes beyond n (n must not exceed the size); no reallocation.
    void Shrink(size_t n) {
        if (n < size_) size_ = n;
    }

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// A one-line message, formatted printf-style into a fixed buffer.
struct Message {
    char text[512] = {};

    void Set(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    bool empty() const { return text[0] == 0; }
};

// Multiplies sizes, reporting overflow of size_t instead of wrapping.
inline bool MultiplySizes(size_t a, size_t b, size_t* out) {
    return !__builtin_mul_overflow(a, b, out);
}

}  // namespace z3az::cli
