#include "messenger/ZzSend.h"

#include "messenger/ZZProtocol.h"

namespace {

// A send queue over its limit: the client is dropped at once (back-pressure keeps
// well-behaved readers far below it).
void AbortPastQueueLimit(TZzClient* client)
{
    if (client->OwnBufferedBytes() <= client->Loop().QueuedTotal().QueueLimit)
        return;
    client->MarkCloseCause(ccSendQueueOverLimit);
    client->Abort();
}

}  // namespace

void SendPacket(TZzClient* client, uint32_t type, ByteView payload)
{
    if (!client || client->State() != wsConnected)
        return;
    // Header and payload go into the send queue one behind the other with nothing between them
    // (one thread, no event in between), so packets never interleave; no copy of the payload
    // is made on the way.
    char header[PacketHeaderSize];
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<char>((type >> (8 * i)) & 0xFF);
        header[4 + i] = static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    }
    if (payload.empty()) {
        client->Send(header, PacketHeaderSize);
    } else {
        client->QueueString(ByteView(header, PacketHeaderSize));
        client->SendString(payload);
    }
    AbortPastQueueLimit(client);
}

TSharedBytes SharedPacket(TEventLoop& loop, uint32_t type, ByteView payload)
{
    ByteString packet;
    packet.reserve(PacketHeaderSize + payload.size());
    AppendUInt32(packet, type);
    AppendUInt32(packet, static_cast<uint32_t>(payload.size()));
    packet.append(payload);
    return std::make_shared<const TSharedPayload>(loop.QueuedTotal(), std::move(packet));
}

void SendSharedPacket(TZzClient* client, const TSharedBytes& packet)
{
    if (!client || client->State() != wsConnected)
        return;
    client->SendShared(packet);
    AbortPastQueueLimit(client);
}
