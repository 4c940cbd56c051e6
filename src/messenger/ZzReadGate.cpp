// Back-pressure: who is not read now and why, when they are read again, and which readers are
// dropped for not keeping up (see the rules above TZzSerwer in ZzSerwer.h).
#include "messenger/ZzSerwer.h"

#include <algorithm>

bool TZzSerwer::Hold(TZzClient* client)
{
    if (client->ReadPaused || !FGate)
        return false;
    client->ReadPaused = true;
    client->PauseReading(true);
    FWaiting.push_back(client);
    return true;
}

bool TZzSerwer::HoldsAtBound(const TZzClient* client) const
{
    // A client whose own queue is behind is most likely waiting for its write to end before
    // it reads again: holding it would keep both sides waiting. Past the hard limit it is held
    // all the same; and its queue is timed out as any other if it does not drain.
    // One whose peer has closed has no more to send than it already has.
    const TSendQueueTotal& total = FLoop.QueuedTotal();
    return (!client->SendBacklogged() && !client->PeerClosed) || total.Bytes() >= total.HardLimit();
}

void TZzSerwer::HoldAtBound(TZzClient* client)
{
    if (!Hold(client))
        return;
    client->HeldAtBound = true;
    ++Counters.ReaderHolds;
    // The congestion may already have cleared within this round: look again at its end.
    FGate->RequestCheck();
    FGate->ScheduleStallCheck();
}

int TZzSerwer::HeldAtBoundClients() const
{
    auto atBound = [](const TZzClient* c) { return c->HeldAtBound; };
    return static_cast<int>(std::count_if(FWaiting.begin(), FWaiting.end(), atBound));
}

void TZzSerwer::ClientClosedWhileHeld(TZzClient* client)
{
    // What its peer sent is all there is now, no more than the system holds for it: held at
    // the bound it is read again (see HoldsAtBound), in turns as everyone, and its close is
    // handled after the rest, so its descriptor and object go within a few rounds instead of
    // when the queues drain, and nothing it sent is lost. Held for its turn, it is read again
    // in the next round anyway. Waiting for room, it is given room for the same reason.
    client->PeerClosed = true;
    if (client->HeldAtBound && FGate)
        FGate->RequestCheck();
    if (client->HeldForRoom && FGate) {
        std::erase(FRoomWaiting, client);
        AdmitToRoom(client);
    }
}

void TZzSerwer::ResumeReaders()
{
    if (FWaiting.empty())
        return;
    const bool over = FLoop.QueuedTotal().OverLimit();
    // In the order they were held; one that is held again goes to the back of the new list.
    // Those held at the bound stay held while the total is over it. None of them is freed
    // meanwhile: freeing comes from a posted notification.
    std::vector<TZzClient*> waiting;
    waiting.swap(FWaiting);
    for (TZzClient* c : waiting) {
        if (c->HeldAtBound && over && HoldsAtBound(c) && c->State() == wsConnected) {
            FWaiting.push_back(c);
            continue;
        }
        c->ReadPaused = false;
        c->HeldAtBound = false;
        if (c->State() != wsConnected)
            continue;
        try {
            ClientReceived(c, ByteView());
        } catch (...) {
            // As in the receive loop: a handler's exception ends this dispatch and nothing else.
        }
        if (!c->ReadPaused)
            c->PauseReading(false);
    }
}

void TZzSerwer::DropStalledReaders()
{
    const int64_t now = MonotonicMs();
    const bool over = FLoop.QueuedTotal().OverLimit();
    const auto rate = static_cast<uint64_t>(std::max(MinReaderRate, 1));
    const uint64_t allowed = rate * static_cast<uint64_t>(std::max(SlowReaderTimeoutMs, 0)) / 1000;
    int count = ClientCount();
    for (int i = 0; i < count; ++i) {
        TZzClient* c = Client(i);
        if (!c)
            continue;
        bool watched = c->State() == wsConnected && (c->QueueCongested() || (over && c->SendBacklogged()));
        if (!watched) {
            c->FStallWatched = false;
            continue;
        }
        uint64_t acked = c->AcknowledgedBytes();
        if (!c->FStallWatched) {
            c->FStallWatched = true;
            c->FStallCheckedMs = now;
            c->FStallAcked = acked;
            c->FStallDebt = 0;
            continue;
        }
        // Owed at the minimum rate since the last look, paid by what the peer took; nothing is
        // saved up ahead, so a reader that was fast once may not stop for longer later.
        uint64_t owed = c->FStallDebt + rate * static_cast<uint64_t>(now - c->FStallCheckedMs) / 1000;
        uint64_t paid = acked - std::min(c->FStallAcked, acked);
        c->FStallDebt = owed > paid ? owed - paid : 0;
        c->FStallCheckedMs = now;
        c->FStallAcked = acked;
        if (c->FStallDebt >= allowed && c->FStallDebt > 0) {
            // A stalled reader: it stopped, or takes less than the minimum rate.
            c->FStallWatched = false;
            c->MarkCloseCause(ccStalledReader);
            try {
                c->Abort();
            } catch (...) {
            }
        }
    }
}

void TZzSerwer::ReserveRoom(TZzClient* client, size_t need)
{
    if (need <= TZzClient::KeptReceiveRoom || client->FRoomGranted >= need || !FGate)
        return;
    // Those already waiting go first, so that a long packet is never passed for ever.
    if (FRoomWaiting.empty() && FRoomUsed + need <= ReceiveRoomLimit) {
        client->FRoomWanted = static_cast<uint32_t>(need);
        AdmitToRoom(client);
        return;
    }
    if (client->ReadPaused)
        return;
    client->ReadPaused = true;
    client->HeldForRoom = true;
    client->FRoomWanted = static_cast<uint32_t>(need);
    client->FRoomSinceMs = MonotonicMs();
    client->PauseReading(true);
    FRoomWaiting.push_back(client);
    ++Counters.RoomWaits;
    // Those who hold room are timed while anyone waits for it.
    FGate->ScheduleStallCheck();
}

void TZzSerwer::AdmitToRoom(TZzClient* client)
{
    client->FRoomGranted = client->FRoomWanted;
    client->FRoomWanted = 0;
    client->FRoomSinceMs = MonotonicMs();
    FRoomUsed += client->FRoomGranted;
    FRoomHolders.push_back(client);
    if (client->HeldForRoom) {
        // Read again in the next round, after what this round is doing.
        client->HeldForRoom = false;
        FWaiting.push_back(client);
        FGate->PostContinue();
    }
}

void TZzSerwer::ReleaseRoom(TZzClient* client)
{
    if (client->FRoomGranted == 0)
        return;
    FRoomUsed -= std::min<size_t>(client->FRoomGranted, FRoomUsed);
    client->FRoomGranted = 0;
    std::erase(FRoomHolders, client);
    AdmitWaitingForRoom();
}

void TZzSerwer::AdmitWaitingForRoom()
{
    while (!FRoomWaiting.empty() && FGate) {
        TZzClient* next = FRoomWaiting.front();
        if (FRoomUsed + next->FRoomWanted > ReceiveRoomLimit)
            return;
        FRoomWaiting.pop_front();
        AdmitToRoom(next);
    }
}

void TZzSerwer::DropSlowPackets()
{
    if (FRoomWaiting.empty())
        return;
    const int64_t now = MonotonicMs();
    const auto rate = static_cast<int64_t>(std::max(MinReaderRate, 1));
    std::vector<TZzClient*> slow;
    for (TZzClient* c : FRoomHolders) {
        // Not while the server itself holds it, nor once all it sends has come.
        if (c->ReadPaused || c->PeerClosed || c->State() != wsConnected)
            continue;
        int64_t allowed = std::max(SlowReaderTimeoutMs, 0) + static_cast<int64_t>(c->FRoomGranted) * 1000 / rate;
        if (now - c->FRoomSinceMs >= allowed)
            slow.push_back(c);
    }
    for (TZzClient* c : slow) {
        c->MarkCloseCause(ccSlowPacket);
        try {
            c->Abort();
        } catch (...) {
        }
    }
}

void TZzSerwer::CheckHeldForClose()
{
    // Where the system reports a close only after a read, those held at the bound ask.
    std::vector<TZzClient*> held;
    for (TZzClient* c : FWaiting)
        if (c->HeldAtBound && c->State() == wsConnected && SocketPeerEnded(c->Handle()))
            held.push_back(c);
    for (TZzClient* c : FRoomWaiting)
        if (c->State() == wsConnected && SocketPeerEnded(c->Handle()))
            held.push_back(c);
    for (TZzClient* c : held)
        ClientClosedWhileHeld(c);
}

bool TZzSerwer::NeedsStallCheck() const
{
    const TSendQueueTotal& total = FLoop.QueuedTotal();
    return total.CongestedQueues() > 0 || total.OverLimit() || HeldAtBoundClients() > 0 || !FRoomWaiting.empty();
}

TZzSerwer::TReadGate::TReadGate(TZzSerwer& owner, TEventLoop& loop)
    : FOwner(owner), FLoop(loop), FEndpoint(loop.AllocateEndpoint(this))
{
    FLoop.QueuedTotal().WatchClear(FEndpoint);
}

TZzSerwer::TReadGate::~TReadGate()
{
    FLoop.QueuedTotal().UnwatchClear(FEndpoint);
    FLoop.ReleaseEndpoint(FEndpoint);
}

void TZzSerwer::TReadGate::Flush()
{
    FOwner.ResumeReaders();
}

void TZzSerwer::TReadGate::ScheduleStallCheck()
{
    if (FStallCheckPosted)
        return;
    FStallCheckPosted = true;
    FLoop.PostDelayed(FEndpoint, TMessage{}, std::clamp(FOwner.SlowReaderTimeoutMs / 8, 10, 250));
}

void TZzSerwer::TReadGate::PostContinue()
{
    if (FContinuePosted)
        return;
    FContinuePosted = true;
    TMessage msg;
    msg.Msg = ContinueMessage;
    FLoop.Post(FEndpoint, msg);
}

void TZzSerwer::TReadGate::WndProc(TMessage& msg)
{
    if (msg.Msg == ContinueMessage) {
        FContinuePosted = false;
        FOwner.ResumeReaders();
        return;
    }
    FStallCheckPosted = false;
    FOwner.CheckHeldForClose();
    FOwner.DropStalledReaders();
    FOwner.DropSlowPackets();
    // Those held at the bound whose own queue has fallen behind meanwhile are read again.
    FOwner.ResumeReaders();
    if (FOwner.NeedsStallCheck())
        ScheduleStallCheck();
}
