// The socket's state machine, its properties and the dispatch of the loop's messages to the
// steps of a readiness notification (see WSocketReceive, WSocketSend, WSocketClose).
#include "net/CustomWSocket.h"

#include "net/WinSockErrors.h"

TCustomWSocket::TCustomWSocket(TEventLoop& loop) : FLoop(loop)
{
    FEndpoint = FLoop.AllocateEndpoint(this);
    AssignDefaultValue();
}

void TCustomWSocket::AssignDefaultValue()
{
    FHSocket = INVALID_SOCKET;
    FState = wsClosed;
    if (FSettings)
        FSettings->Reset();
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    FAllSent = true;
    FPaused = false;
    FPausedBits = 0;
    FPausedError = 0;
    FReadCount = 0;
    FCloseInvoked = false;
    FReadHeld = false;
    FHeldClose = false;
}

void TCustomWSocket::TListenSettings::Reset()
{
    std::string addr = std::move(AddrStr), port = std::move(PortStr);
    *this = TListenSettings{};
    AddrStr = std::move(addr);
    PortStr = std::move(port);
    Sin.sin_family = AF_INET;
}

const TCustomWSocket::TListenSettings& TCustomWSocket::Settings() const
{
    static const TListenSettings defaults = [] {
        TListenSettings d;
        d.Sin.sin_family = AF_INET;
        return d;
    }();
    return FSettings ? *FSettings : defaults;
}

TCustomWSocket::TListenSettings& TCustomWSocket::EditSettings()
{
    if (!FSettings) {
        FSettings = std::make_unique<TListenSettings>();
        FSettings->Sin.sin_family = AF_INET;
    }
    return *FSettings;
}

void TCustomWSocket::ChangeState(TSocketState newState)
{
    TSocketState old = FState;
    FState = newState;
    if (OnChangeState && !FDestroying)
        OnChangeState(this, old, newState);
}

void TCustomWSocket::RaiseException(const std::string& message)
{
    if (OnError && !FDestroying) {
        OnError(this);
        return;
    }
    throw ESocketException(message);
}

void TCustomWSocket::SocketError(const std::string& tag, int code)
{
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (FHSocket != INVALID_SOCKET) {
            FLoop.AsyncSelect(FHSocket, 0, 0);
            SocketClose(FHSocket);
        }
        FHSocket = INVALID_SOCKET;
        DeleteBufferedData();  // nothing can send it any more
        ChangeState(wsClosed);
        SessionDropped();
    }
    ReportSocketError(tag, code);
}

void TCustomWSocket::ReportSocketError(const std::string& tag, int code)
{
    FLastError = code;
    RaiseException(SocketErrorMessage(code, tag));
}

void TCustomWSocket::SocketErrorOfLastCall(const std::string& tag)
{
    SocketError(tag, SocketLastError());
}

// --- properties ------------------------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    std::string v = TrimText(value);
    const TListenSettings& now = Settings();
    if (v == now.AddrStr && now.AddrAssigned)
        return;
    TListenSettings& set = EditSettings();
    set.AddrStr = v;
    set.AddrAssigned = !v.empty();
    set.AddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    std::string v = TrimText(value);
    const TListenSettings& now = Settings();
    if (v == now.PortStr && now.PortAssigned)
        return;
    TListenSettings& set = EditSettings();
    set.PortStr = v;
    set.PortAssigned = !v.empty();
    set.PortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    std::string v = TrimText(value);
    const TListenSettings& now = Settings();
    if (v == now.ProtoStr && now.ProtoAssigned)
        return;
    TListenSettings& set = EditSettings();
    set.ProtoStr = v;
    set.ProtoAssigned = !v.empty();
    set.ProtoResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    in_addr a{};
    if (!WSocketParseDotted(value.empty() ? "0.0.0.0" : value, a.s_addr)) {
        RaiseException("SetLocalAddr(): Invalid IP address");
        return;
    }
    char text[INET_ADDRSTRLEN];
    EditSettings().LocalAddr = inet_ntop(AF_INET, &a, text, sizeof text);
}

void TCustomWSocket::SetLocalPort(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    EditSettings().LocalPort = value;
}

void TCustomWSocket::SetSendFlags(int value)
{
    if (value != wsSendNormal && value != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    FSendFlags = static_cast<TSocketSendFlags>(value);
}

std::string TCustomWSocket::PeerAddr()
{
    if (FState != wsConnected)
        return "error";
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getpeername(FHSocket, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        SocketErrorOfLastCall("GetPeerName");
        return "error";
    }
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text);
}

std::string TCustomWSocket::PeerPort()
{
    if (FState != wsConnected)
        return "error";
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getpeername(FHSocket, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        SocketErrorOfLastCall("GetPeerPort");
        return "error";
    }
    return std::to_string(ntohs(sin.sin_port));
}

int TCustomWSocket::RcvdCount()
{
    int count = 0;
    if (int code = SocketPendingBytes(FHSocket, count); code != 0) {
        SocketError("ioctlSocket", code);
        return -1;
    }
    return count;
}

void TCustomWSocket::Pause()
{
    if (FPaused)
        return;
    FPaused = true;
    if (FHSocket != INVALID_SOCKET)
        FLoop.PauseReading(FHSocket, true);
}

void TCustomWSocket::Resume()
{
    if (!FPaused)
        return;
    FPaused = false;
    if (FHSocket == INVALID_SOCKET)
        return;
    FLoop.PauseReading(FHSocket, false);
    if (FPausedBits != 0) {
        uint32_t bits = FPausedBits;
        FPausedBits = 0;
        PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(FHSocket), MakeSelectLParam(bits, (bits & FD_CLOSE) ? FPausedError : 0));
    }
}

// --- notifications ---------------------------------------------------------------------------

void TCustomWSocket::PostMessageToSelf(uint32_t msg, uintptr_t wparam, intptr_t lparam)
{
    TMessage m;
    m.Msg = msg;
    m.WParam = wparam;
    m.LParam = lparam;
    FLoop.Post(FEndpoint, m);
}

void TCustomWSocket::PostTestException()
{
    PostMessageToSelf(WM_TRIGGER_EXCEPTION);
}

void TCustomWSocket::WndProc(TMessage& msg)
{
    try {
        Dispatch(msg);
    } catch (const std::exception& e) {
        HandleBgException(e);
    }
}

void TCustomWSocket::HandleBgException(const std::exception& e)
{
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
        }
    }
    if (canClose) {
        MarkCloseCause(ccError);
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomWSocket::Dispatch(TMessage& msg)
{
    switch (msg.Msg) {
    case WM_ASYNCSELECT: {
        TSocket handle = static_cast<TSocket>(msg.WParam);
        if (handle != FHSocket || handle == INVALID_SOCKET)
            return;
        uint32_t bits = static_cast<uint32_t>(msg.LParam) & 0xFFFF;
        auto error = static_cast<uint16_t>(static_cast<uint32_t>(msg.LParam) >> 16);
        if (FPaused) {
            // Reported once only (a close, or room to write again): kept for Resume. A read
            // is reported again once reading is asked for again.
            if (bits & FD_CLOSE)
                FPausedError = error;
            FPausedBits |= bits & (FD_WRITE | FD_CLOSE);
            return;
        }
        // While reading is paused the data waits (it is reported again on resume); the peer's
        // close is kept, and the owner hears of it at once.
        bool closedWhileHeld = false;
        if (FReadHeld) {
            bits &= ~static_cast<uint32_t>(FD_READ);
            if (bits & FD_CLOSE) {
                bits &= ~static_cast<uint32_t>(FD_CLOSE);
                FHeldClose = true;
                FHeldCloseError = error;
                closedWhileHeld = true;
            }
        }
        // Each step may close the session; the bits left belong to it, not to what follows.
        if ((bits & FD_CONNECT) && FHSocket == handle) {
            ChangeState(wsConnected);
            if (OnSessionConnected)
                OnSessionConnected(this, error);
            if (error != 0 && FState != wsClosed)
                Close();
        }
        if ((bits & FD_READ) && FHSocket == handle)
            DoFdRead(error);
        if ((bits & FD_WRITE) && FHSocket == handle)
            DoFdWrite(error);
        if ((bits & FD_ACCEPT) && FHSocket == handle)
            DoFdAccept(error);
        if ((bits & FD_CLOSE) && FHSocket == handle)
            DoFdClose(error);
        if (closedWhileHeld && FHSocket == handle)
            ClosedWhileReadHeld();
        return;
    }
    case WM_CLOSE_DELAYED:
        Close();
        return;
    case WM_TRIGGER_EXCEPTION:
        throw ESocketException("Test exception in WSocket");
    default:
        return;
    }
}

void TCustomWSocket::DoFdAccept(uint16_t error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, error);
}
