#pragma once
// Sending packets: framed behind their header and queued on the client, a packet for many held
// once. A client whose queue passes its limit is dropped at once.
#include <cstdint>

#include "core/ByteString.h"
#include "messenger/ZzClient.h"

// Frames one packet and queues it on the client. A client whose connection has already closed
// (its object not yet freed) gets nothing and nothing is raised.
void SendPacket(TZzClient* client, uint32_t type, ByteView payload);
// A whole packet (header included) that several clients receive: framed and held once.
TSharedBytes SharedPacket(TEventLoop& loop, uint32_t type, ByteView payload);
// Queues a packet made by SharedPacket, as SendPacket queues its own.
void SendSharedPacket(TZzClient* client, const TSharedBytes& packet);
