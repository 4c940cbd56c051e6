// The receive path, top to bottom: a read into the client's buffer, the packets cut from it and
// handed to OnClientCommand in turns, and what is left handled when the connection ends.
#include "messenger/ZzSerwer.h"

#include <algorithm>

#include "messenger/ZZProtocol.h"

TZzSerwer::TZzSerwer(TEventLoop& loop)
    : TZzGenericSerwer(loop), FLoop(loop), FGate(std::make_unique<TReadGate>(*this, loop))
{
    FPort = 8074;
}

TZzSerwer::~TZzSerwer()
{
    FDestroying = true;
    try {
        CloseSocketServer();
    } catch (...) {
    }
    FGate.reset();  // before the clients go: nothing may resume or check them any more
}

void TZzGenericSerwer::ClientDataAvailable(TCustomWSocket* sender, uint16_t error)
{
    if (error != 0)
        return;
    auto* client = static_cast<TZzClient*>(sender);
    // At most one share per notification, so that a client streaming packets leaves the loop
    // to the others; the rest is reported again in the next round. One read into a buffer kept
    // for it: no count of waiting bytes asked first, no allocation per read. A nested read (a
    // handler's doing) finds the buffer taken and uses one of its own.
    ByteString buffer;
    buffer.swap(FReadBuffer);
    struct TGiveBack {
        ByteString& Buffer;
        ByteString& Kept;
        ~TGiveBack() { Kept.swap(Buffer); }
    } giveBack{buffer, FReadBuffer};
    buffer.resize(TCustomWSocket::ReadShare);
    int n = client->Receive(buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0)
        return;
    ByteView data(buffer.data(), static_cast<size_t>(n));
    DoClientDataAvailable(client, data);
    ClientReceived(client, data);
    // A long packet leaves its room behind once it has been consumed: give it back, so that
    // what a connection holds follows what is waiting, not the longest packet of its session.
    // An emptied buffer is freed (an idle connection holds none, whatever pieces its packets
    // came in).
    ByteString& held = client->ReceiveBuffer;
    if (held.empty()) {
        if (held.capacity() > ByteString().capacity())
            ByteString().swap(held);
    } else if (held.capacity() > TZzClient::KeptReceiveRoom && held.size() * 4 < held.capacity()) {
        held.shrink_to_fit();
    }
}

void TZzSerwer::ClientReceived(TZzClient* client, ByteView data)
{
    ByteString& held = client->ReceiveBuffer;
    if (held.empty() && !client->ReadPaused) {
        // Nothing of an earlier read waits: the packets are handled where they were read, and
        // only what they leave (a packet not yet whole, the rest of a turn) is kept. An idle
        // connection then keeps no buffer at all, and no byte is copied twice.
        size_t consumed = 0;
        struct TKeepRest {
            ByteString& Held;
            ByteView Data;
            size_t& Consumed;
            ~TKeepRest() { Held.insert(0, Data.substr(std::min(Consumed, Data.size()))); }
        } keep{held, data, consumed};
        DispatchPackets(client, data, consumed, true);
        return;
    }
    held.append(data);
    // A paused client's packets wait in its buffer (a read that still came, or the rest of the
    // read that paused it) until ResumeReaders dispatches them.
    if (client->ReadPaused)
        return;
    DispatchPackets(client, true);
}

void TZzSerwer::DispatchPackets(TZzClient* client, bool inTurns)
{
    ByteString& buffer = client->ReceiveBuffer;
    size_t consumed = 0;
    struct TTrim {
        ByteString& Buffer;
        size_t& Consumed;
        ~TTrim() { Buffer.erase(0, Consumed); }
    } trim{buffer, consumed};
    DispatchPackets(client, buffer, consumed, inTurns);
}

void TZzSerwer::DispatchPackets(TZzClient* client, ByteView bytes, size_t& consumed, bool inTurns)
{
    // Each packet counts as consumed before its handler runs, so a handler that raises can
    // never have the same packet dispatched again by the next read.
    TSendQueueTotal& total = FLoop.QueuedTotal();
    const uint64_t queuedBefore = total.QueuedEver();
    int handled = 0;
    // A handler that closes the connection (a logout) does not stop this: what the client sent
    // behind it is handled all the same, in order, until the client object goes.
    // What the client's packets queue for itself never holds it back (see Queued).
    struct TOwnQueue {
        TSendQueueTotal& Total;
        const void* Before;
        ~TOwnQueue() { Total.OwnQueue = Before; }
    } own{total, total.OwnQueue};
    total.OwnQueue = client;
    while (bytes.size() - consumed >= PacketHeaderSize) {
        // One thread serves everyone: a turn ends after a bounded number of packets or of bytes
        // they queued (a status change goes to every user online), and the rest waits for the
        // next round, after the other connections have had theirs.
        if (inTurns && (handled == MaxPacketsPerTurn || total.QueuedEver() - queuedBefore >= MaxQueuedPerTurn)) {
            YieldTurn(client);
            return;
        }
        ByteView rest = bytes.substr(consumed);
        uint32_t length = BytesToUInt32(rest.substr(4));
        if (length > MaxPacketLength) {
            consumed = bytes.size();
            client->MarkCloseCause(ccPacketTooLong);
            client->Close();
            return;
        }
        if (rest.size() < PacketHeaderSize + length) {
            if (inTurns)
                ReserveRoom(client, PacketHeaderSize + length);
            return;
        }
        auto type = static_cast<int32_t>(BytesToUInt32(rest));
        ByteView payload = rest.substr(PacketHeaderSize, length);
        consumed += PacketHeaderSize + length;
        ReleaseRoom(client);
        ++handled;
        total.FedBacklogOverLimit = false;
        if (OnClientCommand)
            OnClientCommand(client, type, payload);
        // A queue this packet made too long (or left behind over the bound) is watched until
        // its reader has caught up.
        if ((total.CongestedQueues() > 0 || total.OverLimit()) && FGate)
            FGate->ScheduleStallCheck();
        if (inTurns && total.FedBacklogOverLimit && HoldsAtBound(client)) {
            HoldAtBound(client);
            return;
        }
    }
}

void TZzSerwer::YieldTurn(TZzClient* client)
{
    if (Hold(client))
        FGate->PostContinue();
}

void TZzSerwer::ServerClientDisconnect(TCustomWSocketServer* sender, TWSocketClient* client, uint16_t error)
{
    auto* zz = static_cast<TZzClient*>(client);
    if (zz->ReadPaused) {
        zz->ReadPaused = false;
        zz->HeldAtBound = false;
        std::erase(FWaiting, zz);
    }
    if (zz->HeldForRoom) {
        zz->HeldForRoom = false;
        std::erase(FRoomWaiting, zz);
    }
    // What it sent before its connection ended and still waits for its turn is handled before
    // it goes, all of it now: nothing more comes, and nothing a closed connection asks for
    // reaches further than one recipient (it announces no status to others).
    try {
        DispatchPackets(zz, false);
    } catch (...) {
        // As in the receive loop: a handler's exception ends this dispatch and nothing else.
    }
    ReleaseRoom(zz);  // a long packet it did not finish
    TZzGenericSerwer::ServerClientDisconnect(sender, client, error);
}
