#include "messenger/ZzSerwer.h"

#include <algorithm>
#include <stdexcept>

#include "core/ActivityLog.h"
#include "messenger/ZZProtocol.h"

TZzClient::TZzClient(TCustomWSocketServer* owner) : TWSocketClient(owner)
{
    Server = owner;
    ComponentOptions |= OptionBit(wsoNoReceiveLoop);
    SetSlowQueueMark(SlowReaderMark);
}

TZzClient::~TZzClient()
{
    if (FSerwer)
        FSerwer->ClientFreed(this);
}

void TZzClient::ClosedWhileReadHeld()
{
    if (FSerwer)
        FSerwer->ClientClosedWhileHeld(this);
}

void TZzClient::SetUserNumber(uint32_t number)
{
    if (FSerwer)
        FSerwer->ClientLoggedIn(this, number);
    else
        FUserNumber = number;
    FLoggedIn = true;
}

// ---------------------------------------------------------------------------------------------

TZzGenericSerwer::TZzGenericSerwer(TEventLoop& loop)
    : FLoginSweep(loop, *this), FSocketServer(std::make_unique<TWSocketServer>(loop))
{
    TWSocketServer& s = *FSocketServer;
    s.SetAddr("0.0.0.0");
    s.SetLocalAddr("0.0.0.0");
    s.SetLocalPort("0");
    s.SetProto("tcp");
    s.Banner.clear();
    s.ClientClass = [](TCustomWSocketServer* owner) { return new TZzClient(owner); };
    s.MaxClients = 0;
    s.SetLineMode(false);
    s.LineEcho = false;
    s.LineEdit = false;
    s.LingerOnOff = wsLingerOn;
    s.LingerTimeout = 0;
    s.MultiThreaded = false;
    s.SetSendFlags(wsSendNormal);
    s.OnBgException = [this](TCustomWSocket* sender, const std::exception& e, bool& canClose) {
        ServerBgException(sender, e, canClose);
    };
    // Filed as soon as it joins the client list, so that the lookup holds exactly the listed
    // clients, in list order, also those whose accept then fails.
    s.OnClientCreate = [this](TCustomWSocketServer*, TWSocketClient* c) { AdmitClient(c); };
    s.OnClientConnect = [this](TCustomWSocketServer* sender, TWSocketClient* c, uint16_t error) {
        ServerClientConnect(sender, c, error);
    };
    s.OnClientDisconnect = [this](TCustomWSocketServer* sender, TWSocketClient* c, uint16_t error) {
        ServerClientDisconnect(sender, c, error);
    };
    s.OnSessionClosed = [this](TCustomWSocket* sender, uint16_t error) { ServerSessionClosed(sender, error); };
}

TZzGenericSerwer::~TZzGenericSerwer()
{
    FDestroying = true;
    DoDebugLog("TZzGenericSerwer.Destroy");
    try {
        CloseSocketServer();
    } catch (...) {
    }
    FSocketServer.reset();  // frees every client still listed, without disconnect events
}

void TZzGenericSerwer::AdmitClient(TWSocketClient* client)
{
    auto* zz = static_cast<TZzClient*>(client);
    zz->FSerwer = this;
    FIndex.Add(zz);
    zz->FAcceptedMs = MonotonicMs();
    zz->FAwaitingLogin = true;
    zz->FAwaitingPrev = FAwaitingLast;
    (FAwaitingLast ? FAwaitingLast->FAwaitingNext : FAwaitingFirst) = zz;
    FAwaitingLast = zz;
    ScheduleLoginSweep();
}

void TZzGenericSerwer::ClientLoggedIn(TZzClient* client, uint32_t number)
{
    FIndex.Renumber(client, number);
    StopAwaitingLogin(client);
    ++Counters.Logins;
    if (!client->FLoggedIn)
        ++Counters.LoggedIn;
}

void TZzGenericSerwer::ClientFreed(TZzClient* client)
{
    FIndex.Remove(client);
    StopAwaitingLogin(client);
    UserListResized(client->UserListData.capacity(), 0);
    if (client->FLoggedIn)
        --Counters.LoggedIn;
}

void TZzGenericSerwer::StopAwaitingLogin(TZzClient* client)
{
    if (!client->FAwaitingLogin)
        return;
    client->FAwaitingLogin = false;
    (client->FAwaitingPrev ? client->FAwaitingPrev->FAwaitingNext : FAwaitingFirst) = client->FAwaitingNext;
    (client->FAwaitingNext ? client->FAwaitingNext->FAwaitingPrev : FAwaitingLast) = client->FAwaitingPrev;
    client->FAwaitingPrev = client->FAwaitingNext = nullptr;
}

void TZzGenericSerwer::SetLoginTimeoutMs(int32_t value)
{
    FLoginTimeoutMs = value < 0 ? 0 : value;
    ScheduleLoginSweep();
}

void TZzGenericSerwer::ScheduleLoginSweep()
{
    if (FLoginTimeoutMs <= 0 || !FAwaitingFirst)
        return;
    int64_t due = FAwaitingFirst->FAcceptedMs + FLoginTimeoutMs;
    if (FSweepDueMs >= 0 && FSweepDueMs <= due)
        return;  // the posted one comes in time
    FSweepDueMs = due;
    FLoginSweep.Post(static_cast<int>(std::max<int64_t>(due - MonotonicMs(), 0)));
}

void TZzGenericSerwer::SweepLogins()
{
    FSweepDueMs = -1;
    if (FLoginTimeoutMs <= 0)
        return;
    // Oldest first: the sweep ends at the first client whose time has not come, so it costs
    // what it closes, not what is connected.
    int64_t now = MonotonicMs();
    while (FAwaitingFirst && FAwaitingFirst->FAcceptedMs + FLoginTimeoutMs <= now) {
        TZzClient* late = FAwaitingFirst;
        StopAwaitingLogin(late);
        if (late->State() == wsConnected) {
            DoDebugLog("No login in time from " + late->PeerAddr() + ":" + late->PeerPort() + ", closing");
            late->MarkCloseCause(ccLoginTimeout);
            late->Close();
        }
    }
    ScheduleLoginSweep();
}

TZzGenericSerwer::TLoginSweep::TLoginSweep(TEventLoop& loop, TZzGenericSerwer& owner)
    : FLoop(loop), FOwner(owner), FEndpoint(loop.AllocateEndpoint(this))
{
}

TZzGenericSerwer::TLoginSweep::~TLoginSweep()
{
    FLoop.ReleaseEndpoint(FEndpoint);  // a sweep still due is dropped with it
}

void TZzGenericSerwer::TLoginSweep::Post(int delayMs)
{
    FLoop.PostDelayed(FEndpoint, TMessage{}, delayMs);
}

void TZzGenericSerwer::TLoginSweep::WndProc(TMessage&)
{
    FOwner.SweepLogins();
}

void TZzGenericSerwer::SetPort(int32_t value)
{
    if (Active)
        throw std::runtime_error("Port property can only be modified when proxy is not active");
    FPort = value;
}

TWSocketClientClass TZzGenericSerwer::GetClientClass() const
{
    return FSocketServer->ClientClass;
}

void TZzGenericSerwer::SetClientClass(TWSocketClientClass value)
{
    if (Active)
        throw std::runtime_error("ClientClass property can only be modified when proxy is not active");
    FSocketServer->ClientClass = std::move(value);
}

void TZzGenericSerwer::Open(std::string& errorText)
{
    errorText.clear();
    if (Active)
        return;
    try {
        FSocketServer->SetPort(std::to_string(FPort));
        FSocketServer->SetAddr("0.0.0.0");
        FSocketServer->SetProto("tcp");
        FSocketServer->Listen();
        AfterListen(errorText);
        if (!errorText.empty()) {
            DoDebugLog(FormatLog("Listen failed (%s), will close", {errorText}));
            Close();
        } else {
            Active = true;
            DoServerListening();
        }
    } catch (const ESocketException& e) {
        errorText = e.what();
    }
}

void TZzGenericSerwer::Close()
{
    DoDebugLog("TZzGenericSerwer.Close");
    CloseSocketServer();
    Active = false;
}

void TZzGenericSerwer::CloseSocketServer()
{
    DoDebugLog("TZzGenericSerwer.CloseSocketServer");
    int count = FSocketServer->ClientCount();
    for (int i = 0; i < count; ++i)
        if (TWSocketClient* c = FSocketServer->Client(i))
            c->Close();
    if (!FDestroying)
        FSocketServer->Close();
}

void TZzGenericSerwer::ServerBgException(TCustomWSocket*, const std::exception& e, bool& canClose)
{
    canClose = false;
    DoDebugLog(FormatLog("Background exception in server: %s", {e.what()}));
}

void TZzGenericSerwer::DoClientConnect(TZzClient* client)
{
    if (OnClientConnect)
        OnClientConnect(this, client);
}

void TZzGenericSerwer::DoClientDataAvailable(TZzClient* client, ByteView data)
{
    if (OnClientDataAvailable)
        OnClientDataAvailable(this, client, data);
}

void TZzGenericSerwer::DoClientDisconnect(TZzClient* client)
{
    if (OnClientDisconnect)
        OnClientDisconnect(this, client);
}

void TZzGenericSerwer::DoDebugLog(const std::string& text)
{
    if (OnDebugLog)
        OnDebugLog(this, text);
}

void TZzGenericSerwer::DoServerClosed(uint16_t error)
{
    if (OnServerClosed)
        OnServerClosed(this, error);
}

void TZzGenericSerwer::DoServerListening()
{
    if (OnServerListening)
        OnServerListening(this);
}

void TZzGenericSerwer::AfterListen(std::string& errorText)
{
    errorText.clear();
}

void TZzGenericSerwer::ServerClientConnect(TCustomWSocketServer*, TWSocketClient* client, uint16_t error)
{
    if (error != 0)
        return;
    auto* zz = static_cast<TZzClient*>(client);
    zz->ReceiveBuffer.clear();
    zz->OnDataAvailable = [this](TCustomWSocket* sender, uint16_t e) { ClientDataAvailable(sender, e); };
    zz->OnBgException = [this](TCustomWSocket* sender, const std::exception& e, bool& canClose) {
        ServerBgException(sender, e, canClose);
    };
    zz->SetLineMode(false);
    SocketBoundSendBuffer(zz->Handle());
    DoClientConnect(zz);
}

void TZzGenericSerwer::ServerClientDisconnect(TCustomWSocketServer*, TWSocketClient* client, uint16_t)
{
    DoClientDisconnect(static_cast<TZzClient*>(client));
}

void TZzGenericSerwer::ServerSessionClosed(TCustomWSocket*, uint16_t error)
{
    DoServerClosed(error);
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
    ByteString& held = client->ReceiveBuffer;
    if (held.capacity() > TZzClient::KeptReceiveRoom && held.size() * 4 < held.capacity())
        held.shrink_to_fit();
}

// ---------------------------------------------------------------------------------------------

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

void TZzSerwer::ClientReceived(TZzClient* client, ByteView data)
{
    client->ReceiveBuffer.append(data);
    // A paused client's packets wait in its buffer (a read that still came, or the rest of the
    // read that paused it) until ResumeReaders dispatches them.
    if (client->ReadPaused)
        return;
    DispatchPackets(client, true);
}

void TZzSerwer::DispatchPackets(TZzClient* client, bool inTurns)
{
    ByteString& buffer = client->ReceiveBuffer;
    // Each packet counts as consumed before its handler runs, so a handler that raises can
    // never have the same packet dispatched again by the next read.
    size_t consumed = 0;
    struct TTrim {
        ByteString& Buffer;
        size_t& Consumed;
        ~TTrim() { Buffer.erase(0, Consumed); }
    } trim{buffer, consumed};

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
    while (buffer.size() - consumed >= PacketHeaderSize) {
        // One thread serves everyone: a turn ends after a bounded number of packets or of bytes
        // they queued (a status change goes to every user online), and the rest waits for the
        // next round, after the other connections have had theirs.
        if (inTurns && (handled == MaxPacketsPerTurn || total.QueuedEver() - queuedBefore >= MaxQueuedPerTurn)) {
            YieldTurn(client);
            return;
        }
        ByteView rest = ByteView(buffer).substr(consumed);
        uint32_t length = BytesToUInt32(rest.substr(4));
        if (length > MaxPacketLength) {
            consumed = buffer.size();
            client->MarkCloseCause(ccPacketTooLong);
            client->Close();
            return;
        }
        if (rest.size() < PacketHeaderSize + length)
            return;
        auto type = static_cast<int32_t>(BytesToUInt32(rest));
        ByteView payload = rest.substr(PacketHeaderSize, length);
        consumed += PacketHeaderSize + length;
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
    // in the next round anyway.
    client->PeerClosed = true;
    if (client->HeldAtBound && FGate)
        FGate->RequestCheck();
}

void TZzSerwer::YieldTurn(TZzClient* client)
{
    if (Hold(client))
        FGate->PostContinue();
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

void TZzSerwer::CheckHeldForClose()
{
    // Where the system reports a close only after a read, those held at the bound ask.
    std::vector<TZzClient*> held;
    for (TZzClient* c : FWaiting)
        if (c->HeldAtBound && c->State() == wsConnected && SocketPeerEnded(c->Handle()))
            held.push_back(c);
    for (TZzClient* c : held)
        ClientClosedWhileHeld(c);
}

bool TZzSerwer::NeedsStallCheck() const
{
    const TSendQueueTotal& total = FLoop.QueuedTotal();
    return total.CongestedQueues() > 0 || total.OverLimit() || HeldAtBoundClients() > 0;
}

void TZzSerwer::ServerClientDisconnect(TCustomWSocketServer* sender, TWSocketClient* client, uint16_t error)
{
    auto* zz = static_cast<TZzClient*>(client);
    if (zz->ReadPaused) {
        zz->ReadPaused = false;
        zz->HeldAtBound = false;
        std::erase(FWaiting, zz);
    }
    // What it sent before its connection ended and still waits for its turn is handled before
    // it goes, all of it now: nothing more comes, and nothing a closed connection asks for
    // reaches further than one recipient (it announces no status to others).
    try {
        DispatchPackets(zz, false);
    } catch (...) {
        // As in the receive loop: a handler's exception ends this dispatch and nothing else.
    }
    TZzGenericSerwer::ServerClientDisconnect(sender, client, error);
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
    // Those held at the bound whose own queue has fallen behind meanwhile are read again.
    FOwner.ResumeReaders();
    if (FOwner.NeedsStallCheck())
        ScheduleStallCheck();
}

// ---------------------------------------------------------------------------------------------

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
