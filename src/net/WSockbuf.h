#pragma once
// One block of a socket's send queue. Room exists only behind what has been written; a block
// is never compacted, and when everything written has been taken out it is whole again.
#include <cstdint>
#include <memory>

inline constexpr int32_t DefaultBufSize = 1514;

class TBuffer {
public:
    explicit TBuffer(int32_t capacity = DefaultBufSize);

    // Copies as much as fits; returns the number of bytes taken (0 when full).
    int32_t Write(const void* data, int32_t len);
    // The first unsent byte and the count of unsent bytes (nullptr and 0 when empty).
    const char* Peek(int32_t& len) const;
    // Marks up to n bytes as sent; returns how many. An emptied block is reset for reuse.
    int32_t Remove(int32_t n);

    int32_t Capacity() const { return BufSize; }
    int32_t Unsent() const { return WrCount - RdCount; }

private:
    std::unique_ptr<char[]> Buf;
    int32_t BufSize;
    int32_t WrCount = 0;
    int32_t RdCount = 0;
};
