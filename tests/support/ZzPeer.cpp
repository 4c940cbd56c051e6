#include "support/ZzPeer.h"

ByteString U32(uint32_t v)
{
    return UInt32ToBytes(v);
}

ByteString TZzPeer::Frame(uint32_t type, ByteView payload)
{
    ByteString p = UInt32ToBytes(type) + UInt32ToBytes(static_cast<uint32_t>(payload.size()));
    p.append(payload);
    return p;
}

void TZzPeer::SendPacket(uint32_t type, ByteView payload)
{
    Send(Frame(type, payload));
}

TPacket TZzPeer::ReadPacket(int timeoutMs)
{
    TPacket p;
    ByteString header = ReadExactly(8, timeoutMs);
    if (header.size() < 8)
        return p;
    p.Type = BytesToUInt32(header);
    uint32_t len = BytesToUInt32(header.substr(4));
    p.Payload = ReadExactly(len, timeoutMs);
    p.Valid = p.Payload.size() == len;
    return p;
}

bool TZzPeer::Login(uint32_t user)
{
    TPacket welcome = ReadPacket();
    SendPacket(cpLogin, U32(user));
    TPacket ok = ReadPacket();
    return welcome.Valid && welcome.Type == spWelcome && ok.Valid && ok.Type == spLoginOk;
}
