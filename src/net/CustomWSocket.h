#pragma once
// The non-blocking TCP socket on which both servers stand. It never waits inside a call: the
// event loop's messages become its events (session available, session closed, data available,
// data sent), raised from the one thread that runs the loop. Sent bytes go through a queue of
// fixed 1514-byte blocks, so a caller hands over any amount at once and hears later, through
// OnDataSent, that all of it has gone.
//
// Who owns what:
// - the socket owns its descriptor, its send queue and its loop endpoint; the descriptor is
//   closed by Close, Abort or the destructor, the endpoint (with whatever is still queued for
//   it) released by the destructor;
// - what Send takes is the socket's: it leaves at the end of the loop's round, together with
//   the round's other sends (at once past FlushAtOnce); Close, Abort, CloseLater and the
//   destructor hand it over first, as if it had gone out at once;
// - the owner of the object (a server, or the program) owns the handlers' targets and decides
//   when the object is destroyed; it must not destroy it from inside one of its own events (a
//   server frees its clients from a posted notification for that reason).
//
// When a call is safe:
// - everything runs on the loop's thread; nothing here is thread-safe;
// - every operation may be called from inside any of the socket's own events, including Close,
//   Abort and CloseLater; a call that ends the session raises OnSessionClosed itself, at most
//   once per session;
// - events are raised only from the loop's dispatch of this socket's messages, from the round's
//   flush, or from inside an operation the caller made; no event is raised while the object is
//   being destroyed;
// - one readiness notification reads at most ReadShare bytes of a connection (a close
//   notification included); the loop reports the rest in a later round, in order.
//
// Where it lives: the state machine, properties and message dispatch in WSocketState.cpp, the
// receive loop in WSocketReceive.cpp, the send queue and round flush in WSocketSend.cpp, the
// close paths in WSocketClose.cpp, listening and adopting in WSocketListen.cpp.
#include <climits>
#include <cstdint>
#include <vector>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "core/ByteString.h"
#include "net/ConnectionCounters.h"
#include "net/EventLoop.h"
#include "net/SendQueueTotal.h"
#include "net/SocketEvent.h"
#include "net/WSockbuf.h"
#include "net/WSocketNames.h"

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

enum TWSocketOption { wsoNoReceiveLoop };
using TWSocketOptions = uint32_t;  // a set of TWSocketOption, one bit each
inline constexpr TWSocketOptions OptionBit(TWSocketOption o) { return 1u << o; }

class TCustomWSocket;
using TSessionEvent = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSendData = std::function<void(TCustomWSocket* Sender, int BytesSent)>;
using TChangeState = std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;
using TBgExceptionEvent = std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;

class TCustomWSocket : public TNotificationTarget {
public:
    explicit TCustomWSocket(TEventLoop& loop = TEventLoop::Default());
    ~TCustomWSocket() override;
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    std::string Name;  // the component name

    // Properties. Writes that the state forbids are reported through the error path.
    const std::string& GetAddr() const { return Settings().AddrStr; }
    void SetAddr(const std::string& value);
    const std::string& GetPort() const { return Settings().PortStr; }
    void SetPort(const std::string& value);
    const std::string& GetProto() const { return Settings().ProtoStr; }
    void SetProto(const std::string& value);
    const std::string& GetLocalAddr() const { return Settings().LocalAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& GetLocalPort() const { return Settings().LocalPort; }
    void SetLocalPort(const std::string& value);
    TSocketState State() const { return FState; }
    virtual std::string PeerAddr();
    virtual std::string PeerPort();
    virtual int RcvdCount();
    // Bytes read in this session; 64 bits, as a session may well carry more than 2 GiB.
    int64_t ReadCount() const { return FReadCount; }
    int LastError() const { return FLastError; }
    bool SendQueueEmpty() const { return FAllSent; }
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;
    TSocketSendFlags GetSendFlags() const { return FSendFlags; }
    void SetSendFlags(int value);
    TWSocketOptions ComponentOptions = 0;
    bool MultiThreaded = false;
    TSocket Handle() const { return FHSocket; }
    // Queued, not yet handed to the network: copied bytes and what is left of shared payloads.
    size_t BufferedBytes() const { return FBufferedBytes; }
    TEventLoop& Loop() const { return FLoop; }
    // Why this session ends, said by whoever ends it before Close, Abort or CloseLater (which
    // give ccServer when nobody said); the first reason given stays.
    void MarkCloseCause(TCloseCause cause)
    {
        if (FCloseCause == ccNone)
            FCloseCause = cause;
    }
    TCloseCause CloseCause() const { return FCloseCause; }

    // Events; an unassigned one is skipped.
    TSocketEvent<TSessionEvent> OnSessionAvailable;
    TSocketEvent<TSessionEvent> OnSessionClosed;
    TSocketEvent<TSessionEvent> OnDataAvailable;
    TSocketEvent<TSessionEvent> OnDataSent;
    TSocketEvent<TSessionEvent> OnSessionConnected;
    TSocketEvent<TSendData> OnSendData;
    TSocketEvent<TChangeState> OnChangeState;
    TSocketEvent<TNotifyEvent> OnError;
    TSocketEvent<TBgExceptionEvent> OnBgException;

    // Operations; none of them waits for the network.
    virtual void Listen();
    virtual TSocket Accept();
    virtual void Dup(TSocket newHSocket);
    int Send(const void* data, int len);
    int SendString(ByteView str);
    void QueueString(ByteView str);
    // Queues bytes that other queues send too: only a reference is kept, and this queue's
    // unsent count grows by the payload's length. Otherwise as Send.
    int SendShared(const TSharedBytes& payload);
    // A queue holding at least this much counts as congested (0: never) until it has drained
    // to half of it; see TSendQueueTotal.
    void SetSlowQueueMark(size_t bytes);
    bool QueueCongested() const { return FCongested; }
    // The network refused part of the queue and it has not emptied since: its reader is behind.
    bool SendBacklogged() const { return FBacklogged; }
    // What this queue holds for this connection alone: copied bytes and its references to
    // shared payloads (TSendQueueTotal::SharedEntryCost each), not the shared bytes themselves.
    size_t OwnBufferedBytes() const { return FOwnBytes; }
    // Bytes of this session the peer has acknowledged (where the system tells; elsewhere what
    // the network took, which a bounded send buffer keeps close to it): what the reader really
    // took, not what waits in the system's send buffer.
    uint64_t AcknowledgedBytes() const;
    // Stops or resumes the read readiness of the connection (see TEventLoop::PauseReading), for
    // an owner that has not yet handled all it read. Meanwhile the peer's close waits too, also
    // one already reported: it is taken up when reading resumes, so that everything the peer
    // sent before closing is handled before the session ends. The owner hears of it at once
    // (ClosedWhileReadHeld), so that it need not keep the connection waiting for long.
    void PauseReading(bool paused);
    virtual int Receive(void* buffer, int bufferSize);
    // Reads what is waiting (in line mode: the pending line), at most maxBytes.
    ByteString ReceiveString(int maxBytes = INT_MAX);
    void Close();
    virtual void Abort();
    void CloseLater();
    void Shutdown(int how);
    // While paused nothing is read or accepted and no readiness is handled; the loop stops
    // asking for reads meanwhile. A write or close readiness that came in the pause is kept
    // and handled after Resume, so nothing queued stalls and no close is lost.
    void Pause();
    void Resume();
    // Posts the test notification whose handling raises "Test exception in WSocket".
    void PostTestException();
    void PostMessageToSelf(uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);

    // Bytes one connection reads per readiness notification before the others get their turn.
    static constexpr int ReadShare = 16 * 1024;
    // A queue this long goes out at once instead of at the end of the round.
    static constexpr size_t FlushAtOnce = 16 * 1024;

protected:
    void WndProc(TMessage& msg) override;
    void Flush() override;
    bool GatherSend(TGatheredSend& send) override;
    void SentTogether(const TGatheredSend& send) override;
    virtual void Dispatch(TMessage& msg);  // a layer handles its numbers and passes on the rest
    void HandleBgException(const std::exception& e);

    // Steps of a readiness message, in the order they run.
    virtual void DoFdRead(uint16_t error);
    virtual void DoFdWrite(uint16_t error);
    virtual void DoFdAccept(uint16_t error);
    virtual void DoFdClose(uint16_t error);

    // Returns true when it stopped with data waiting because this notification's share of
    // bytes (ReadShare) was used up.
    bool ReceiveLoop(uint16_t error, TWSocketOptions options);
    // Data-available step of the receive loop; returns whether the data was taken care of.
    virtual bool TriggerDataAvailable(uint16_t error);
    virtual void TriggerSessionClosed(uint16_t error);
    // The error report dropped the handle (10054, 10057): no session-closed event follows.
    virtual void SessionDropped() {}
    // The peer closed while reading is paused (PauseReading). By default the close waits for
    // reading to resume, and is then handled after what is still to be read; an owner that
    // holds a connection for long may resume it at once instead.
    virtual void ClosedWhileReadHeld() {}

    void ChangeState(TSocketState newState);
    void SocketError(const std::string& tag, int code);  // Windows Sockets code
    // The report alone, without dropping the handle on a reset (10054, 10057).
    void ReportSocketError(const std::string& tag, int code);
    void SocketErrorOfLastCall(const std::string& tag);
    void RaiseException(const std::string& message);
    void InternalClose(bool shutdown, uint16_t error);
    void TryToSend();
    void PushQueue();  // TryToSend, then the posted write notification when all has gone
    // What Send queued in this round would have gone out at once: every path that ends the
    // session or defers its end hands it over first (no event of its own while destroying).
    void PushRound();
    void SetLingerOption();
    void AssignDefaultValue();
    void PutDataInSendBuffer(const void* data, int len);
    void DeleteBufferedData();
    // Counts len bytes just put in the queue (copied or shared) as this queue's, own of them
    // as held for this connection alone (see OwnBufferedBytes).
    void Queued(size_t len, size_t own);
    // A shared payload at the queue's front has gone out.
    void SharedEntryDone();
    // Keeps the congested flag (and the loop's count of congested queues) in step with the
    // queue's length; the usual case, a short queue that was not congested, costs one compare.
    void QueueLengthChanged()
    {
        if (FSlowQueueMark != 0 && (FCongested || FBufferedBytes >= FSlowQueueMark))
            UpdateCongestion();
    }
    void UpdateCongestion();
    int RequestPush(int len);
    int PlainReceive(void* buffer, int bufferSize);
    bool Destroying() const { return FDestroying; }
    void BeginDestroy();

    TEventLoop& FLoop;
    TEventLoop::TEndpoint FEndpoint;
    TSocket FHSocket = INVALID_SOCKET;
    TSocketState FState = wsClosed;
    // Where the bytes this socket carries are counted (a server's client: its server's
    // counters); none for a socket of its own.
    TConnectionCounters* FCounters = nullptr;
    TCloseCause FCloseCause = ccNone;

private:
    // What Listen is told and resolves: address, port, protocol, local address. Only a socket
    // that is told any of it holds them; an accepted connection (one of thousands of idle
    // users) reads the defaults and holds none.
    struct TListenSettings {
        int AddrFamily = AF_INET;
        int SocketType = 1;
        int ProtoNumber = 6;
        std::string AddrStr, PortStr, ProtoStr = "tcp";
        bool AddrAssigned = false, AddrResolved = false;
        bool PortAssigned = false, PortResolved = false;
        bool ProtoAssigned = true, ProtoResolved = false;
        std::string LocalAddr = "0.0.0.0";
        std::string LocalPort = "0";
        sockaddr_in Sin{};
        // All but the address and port given, as a new socket has them.
        void Reset();
    };
    const TListenSettings& Settings() const;
    TListenSettings& EditSettings();
    void ResolveForListen();

    // One entry of the send queue: a block of copied bytes, or a shared payload and how much
    // of it has gone.
    struct TSendEntry {
        std::unique_ptr<TBuffer> Block;
        TSharedBytes Shared;
        size_t SharedSent = 0;
    };
    // A vector with a moving front: an empty queue holds no memory (a deque keeps a node and
    // its map even when empty, some 600 bytes per idle connection).
    class TSendEntries {
    public:
        bool empty() const { return FHead == FItems.size(); }
        size_t size() const { return FItems.size() - FHead; }
        TSendEntry& front() { return FItems[FHead]; }
        TSendEntry& back() { return FItems.back(); }
        auto begin() const { return FItems.begin() + static_cast<std::ptrdiff_t>(FHead); }
        auto end() const { return FItems.end(); }
        void push_back(TSendEntry&& e)
        {
            // Slots already sent are reclaimed once they are half the vector.
            if (FHead > 0 && FHead >= FItems.size() / 2) {
                FItems.erase(FItems.begin(), FItems.begin() + static_cast<std::ptrdiff_t>(FHead));
                FHead = 0;
            }
            FItems.push_back(std::move(e));
        }
        void pop_front()
        {
            FItems[FHead] = TSendEntry{};
            if (++FHead == FItems.size())
                clear();
        }
        // An emptied queue gives its slots back: an idle connection holds none.
        void clear()
        {
            std::vector<TSendEntry>().swap(FItems);
            FHead = 0;
        }

    private:
        std::vector<TSendEntry> FItems;
        size_t FHead = 0;
    };
    // Grouped by size, so that each of thousands of idle connections carries no padding.
    uint32_t FPausedBits = 0;     // write and close readiness that came while paused
    int FLastError = 0;
    int32_t FBufSize = DefaultBufSize;
    TSocketSendFlags FSendFlags = wsSendNormal;
    // The loop made the first send of this round's flush together with others' (GatherSend):
    // its outcome, taken by the next TryToSend as the result of the send it would make.
    int32_t FSentTogetherResult = 0;
    uint16_t FSentTogetherCode = 0;  // Windows Sockets number of a failure
    bool FSentTogether = false;
    uint16_t FPausedError = 0;    // the error the close came with
    uint16_t FHeldCloseError = 0;
    bool FAllSent = true;
    bool FPaused = false;
    bool FCloseInvoked = false;
    bool FQueuedBefore = false;  // something was queued in this session (until the queue is dropped)
    bool FCongested = false;
    bool FBacklogged = false;
    bool FReadHeld = false;     // PauseReading
    bool FHeldClose = false;    // the peer's close, kept while reading is paused
    bool FDestroying = false;
    bool FFlushRequested = false;
    std::unique_ptr<TListenSettings> FSettings;
    int64_t FReadCount = 0;
    TSendEntries FBufList;
    size_t FBufferedBytes = 0;
    size_t FSlowQueueMark = 0;
    size_t FOwnBytes = 0;
    uint64_t FHandedBytes = 0;  // to the network in this session
};
