#include "messenger/ZZProtocol.h"

ByteString UInt32ToBytes(uint32_t value)
{
    ByteString out;
    AppendUInt32(out, value);
    return out;
}

void AppendUInt32(ByteString& out, uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
    out.append(bytes, 4);
}

uint32_t BytesToUInt32(ByteView bytes)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return v;
}

uint32_t PayloadUInt32(ByteView payload, size_t offset)
{
    return offset < payload.size() ? BytesToUInt32(payload.substr(offset)) : 0;
}

void AppendContactStatusEntry(ByteString& out, uint32_t userNumber, uint8_t status)
{
    AppendUInt32(out, userNumber);
    out += static_cast<char>(status);
    out.append(9, '\0');
}
