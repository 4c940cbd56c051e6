#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int32_t capacity) : BufSize(capacity <= 0 ? DefaultBufSize : capacity)
{
    Buf = std::make_unique<char[]>(static_cast<size_t>(BufSize));
}

int32_t TBuffer::Write(const void* data, int32_t len)
{
    int32_t n = std::min(BufSize - WrCount, std::max(len, 0));
    if (n > 0) {
        std::memcpy(Buf.get() + WrCount, data, static_cast<size_t>(n));
        WrCount += n;
    }
    return n;
}

const char* TBuffer::Peek(int32_t& len) const
{
    len = WrCount - RdCount;
    return len > 0 ? Buf.get() + RdCount : nullptr;
}

int32_t TBuffer::Remove(int32_t n)
{
    int32_t taken = std::min(std::max(n, 0), WrCount - RdCount);
    RdCount += taken;
    if (RdCount >= WrCount)
        RdCount = WrCount = 0;
    return taken;
}
