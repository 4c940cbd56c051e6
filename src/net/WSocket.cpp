#include "net/WSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/WinSockErrors.h"

namespace {

bool StartsWithDigit(const std::string& s)
{
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// Decimal value of the leading digits (leading spaces skipped); -1 when it exceeds limit.
long LeadingNumber(const std::string& s, long limit)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > limit)
            return -1;
    }
    return v;
}

std::string Quoted(const char* format, const std::string& text, int code)
{
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += text;
            ++p;
        } else if (p[0] == '%' && p[1] == 'd') {
            out += std::to_string(code);
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

bool IsConnectionEnd(int code)
{
    return code == WSAECONNRESET || code == WSAENOTSOCK || code == WSAENOTCONN || code == WSAEINVAL ||
           code == WSAECONNABORTED;
}

}  // namespace

std::string SocketErrorMessage(int code, const std::string& tag)
{
    return "Error " + std::to_string(code) + " in function " + tag + "\r\n" + WinSockErrorDesc(code);
}

int WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    std::string name = TrimText(proto);
    if (StartsWithDigit(name))
        return static_cast<int>(LeadingNumber(name, 255));
    if (const protoent* p = getprotobyname(name.c_str()))
        return p->p_proto;
    // Without a protocols database the two that matter are still known.
    if (name == "tcp")
        return IPPROTO_TCP;
    if (name == "udp")
        return IPPROTO_UDP;
    throw ESocketException(
        Quoted("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", name, WSANO_DATA));
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (StartsWithDigit(port)) {
        long v = LeadingNumber(port, 65535);
        if (v < 0)
            throw ESocketException(
                Quoted("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, WSAEINVAL));
        return static_cast<uint16_t>(v);
    }
    std::string name = TrimText(port);
    if (const servent* s = getservbyname(name.c_str(), TrimText(proto).c_str()))
        return ntohs(static_cast<uint16_t>(s->s_port));
    throw ESocketException(Quoted("WSocketResolvePort: Cannot convert port '%s', Error #%d", name, WSANO_DATA));
}

namespace {

// Four decimal parts of 0..255 separated by dots, spaces around allowed; network order.
bool ParseDotted(const std::string& text, in_addr_t& addr)
{
    std::string s = TrimText(text);
    uint32_t value = 0;
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        long v = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 4)
            v = v * 10 + (s[i++] - '0');
        if (i == start || i - start > 3 || v > 255)
            return false;
        value = (value << 8) | static_cast<uint32_t>(v);
        ++parts;
        if (i == s.size()) {
            addr = htonl(value);
            return parts == 4;
        }
        if (s[i] != '.' || parts == 4)
            return false;
        ++i;
    }
}

}  // namespace

bool WSocketIsDottedIP(const std::string& text)
{
    in_addr_t unused;
    return ParseDotted(text, unused);
}

in_addr_t WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    if (in_addr_t addr; ParseDotted(host, addr))
        return addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
        int code = rc == EAI_AGAIN ? WSATRY_AGAIN : rc == EAI_FAIL ? WSANO_RECOVERY : WSAHOST_NOT_FOUND;
        throw ESocketException(Quoted("WSocketResolveHost: Cannot convert host address '%s', Error #%d", host, code));
    }
    in_addr_t addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return addr;
}

// ---------------------------------------------------------------------------------------------

TCustomWSocket::TCustomWSocket(TEventLoop& loop) : FLoop(loop)
{
    FEndpoint = FLoop.AllocateEndpoint(this);
    AssignDefaultValue();
}

TCustomWSocket::~TCustomWSocket()
{
    BeginDestroy();
    if (FState != wsClosed || FHSocket != INVALID_SOCKET) {
        try {
            Close();
        } catch (...) {
        }
    }
    if (FHSocket != INVALID_SOCKET) {
        FLoop.AsyncSelect(FHSocket, 0, 0);
        ::close(FHSocket);
    }
    FLoop.ReleaseEndpoint(FEndpoint);
}

void TCustomWSocket::BeginDestroy()
{
    // From here on no event is raised: the owners of the handlers may be going away too.
    FDestroying = true;
}

void TCustomWSocket::AssignDefaultValue()
{
    FHSocket = INVALID_SOCKET;
    FState = wsClosed;
    FAddrFamily = AF_INET;
    FSocketType = 1;
    FProtoNumber = 6;
    FProtoStr = "tcp";
    FProtoAssigned = true;
    FProtoResolved = false;
    FAddrAssigned = FAddrResolved = false;
    FPortAssigned = FPortResolved = false;
    FLocalAddr = "0.0.0.0";
    FLocalPort = "0";
    FSin = sockaddr_in{};
    FSin.sin_family = AF_INET;
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    FAllSent = true;
    FPaused = false;
    FReadCount = 0;
    FCloseInvoked = false;
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
    if (OnError) {
        OnError(this);
        return;
    }
    throw ESocketException(message);
}

void TCustomWSocket::SocketError(const std::string& tag, int code)
{
    std::string message = SocketErrorMessage(code, tag);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (FHSocket != INVALID_SOCKET) {
            FLoop.AsyncSelect(FHSocket, 0, 0);
            ::close(FHSocket);
        }
        FHSocket = INVALID_SOCKET;
        ChangeState(wsClosed);
        SessionDropped();
    }
    FLastError = code;
    RaiseException(message);
}

void TCustomWSocket::SocketErrorFromErrno(const std::string& tag)
{
    SocketError(tag, WinSockError(errno));
}

// --- properties ------------------------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    std::string v = TrimText(value);
    if (v == FAddrStr && FAddrAssigned)
        return;
    FAddrStr = v;
    FAddrAssigned = !v.empty();
    FAddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    std::string v = TrimText(value);
    if (v == FPortStr && FPortAssigned)
        return;
    FPortStr = v;
    FPortAssigned = !v.empty();
    FPortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    std::string v = TrimText(value);
    if (v == FProtoStr && FProtoAssigned)
        return;
    FProtoStr = v;
    FProtoAssigned = !v.empty();
    FProtoResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    in_addr a{};
    if (!ParseDotted(value.empty() ? "0.0.0.0" : value, a.s_addr)) {
        RaiseException("SetLocalAddr(): Invalid IP address");
        return;
    }
    char text[INET_ADDRSTRLEN];
    FLocalAddr = inet_ntop(AF_INET, &a, text, sizeof text);
}

void TCustomWSocket::SetLocalPort(const std::string& value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPort = value;
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
        SocketErrorFromErrno("GetPeerName");
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
        SocketErrorFromErrno("GetPeerPort");
        return "error";
    }
    return std::to_string(ntohs(sin.sin_port));
}

int TCustomWSocket::RcvdCount()
{
    int count = 0;
    if (ioctl(FHSocket, FIONREAD, &count) != 0) {
        SocketErrorFromErrno("ioctlSocket");
        return -1;
    }
    return count;
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
        if (handle != FHSocket || handle == INVALID_SOCKET || FPaused)
            return;
        uint32_t bits = static_cast<uint32_t>(msg.LParam) & 0xFFFF;
        auto error = static_cast<uint16_t>(static_cast<uint32_t>(msg.LParam) >> 16);
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

void TCustomWSocket::DoFdRead(uint16_t error)
{
    ReceiveLoop(error, ComponentOptions);
}

void TCustomWSocket::DoFdWrite(uint16_t error)
{
    TryToSend();
    if (FAllSent && OnDataSent)
        OnDataSent(this, error);
}

void TCustomWSocket::DoFdAccept(uint16_t error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, error);
}

void TCustomWSocket::DoFdClose(uint16_t error)
{
    if (FState == wsConnecting)
        return;
    ReceiveLoop(0, ComponentOptions & ~OptionBit(wsoNoReceiveLoop));
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(error);
    }
    if (FState != wsClosed)
        Close();
}

void TCustomWSocket::ReceiveLoop(uint16_t error, TWSocketOptions options)
{
    try {
        for (;;) {
            int readBefore = FReadCount;
            FLastError = 0;
            if (!TriggerDataAvailable(error)) {
                char junk[1024];
                if (PlainReceive(junk, sizeof junk) < 0 && FLastError == WSAEWOULDBLOCK) {
                    FLastError = 0;
                    break;
                }
            }
            if (options & OptionBit(wsoNoReceiveLoop))
                break;
            if (FLastError != 0)
                break;
            int count = 0;
            if (ioctl(FHSocket, FIONREAD, &count) != 0) {
                FLastError = WinSockError(errno);
                break;
            }
            // A handler that read nothing would be asked again for ever.
            if (count == 0 || FReadCount == readBefore)
                break;
        }
    } catch (...) {
        // An exception of the data handler ends this read's processing and nothing else.
    }
}

bool TCustomWSocket::TriggerDataAvailable(uint16_t error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomWSocket::TriggerSessionClosed(uint16_t error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

// --- receiving -------------------------------------------------------------------------------

int TCustomWSocket::PlainReceive(void* buffer, int bufferSize)
{
    ssize_t n = ::recv(FHSocket, buffer, static_cast<size_t>(std::max(bufferSize, 0)), 0);
    if (n < 0) {
        FLastError = WinSockError(errno);
        return -1;
    }
    FReadCount += static_cast<int>(n);
    return static_cast<int>(n);
}

int TCustomWSocket::Receive(void* buffer, int bufferSize)
{
    return PlainReceive(buffer, bufferSize);
}

ByteString TCustomWSocket::ReceiveString()
{
    int n = RcvdCount();
    if (n < 0)
        return {};
    if (n == 0)
        n = 255;
    ByteString s(static_cast<size_t>(n), '\0');
    int r = Receive(s.data(), n);
    if (r <= 0)
        return {};
    s.resize(static_cast<size_t>(r));
    return s;
}

// --- sending ---------------------------------------------------------------------------------

void TCustomWSocket::PutDataInSendBuffer(const void* data, int len)
{
    auto p = static_cast<const char*>(data);
    if (FBufList.empty())
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
    int32_t done = FBufList.back()->Write(p, len);
    while (done < len) {
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
        done += FBufList.back()->Write(p + done, len - done);
    }
    FBufferedBytes += static_cast<size_t>(len);
}

void TCustomWSocket::DeleteBufferedData()
{
    FBufList.clear();
    FBufferedBytes = 0;
}

void TCustomWSocket::QueueString(ByteView str)
{
    if (!str.empty())
        PutDataInSendBuffer(str.data(), static_cast<int>(str.size()));
}

int TCustomWSocket::Send(const void* data, int len)
{
    if (FState != wsConnected) {
        SocketError("Send", WSAENOTCONN);
        return -1;
    }
    FAllSent = false;
    int result = 0;
    if (len > 0) {
        PutDataInSendBuffer(data, len);
        result = len;
    }
    // What is sent during a round leaves at its end, together; a long queue goes at once, and
    // so does a zero-length Send, which asks for exactly that push.
    if (FBufferedBytes > FlushAtOnce || len <= 0) {
        PushQueue();
    } else if (!FFlushRequested) {
        FFlushRequested = true;
        FLoop.RequestFlush(FEndpoint);
    }
    return result;
}

void TCustomWSocket::Flush()
{
    FFlushRequested = false;
    if (FState != wsConnected || FAllSent)
        return;
    try {
        PushQueue();
    } catch (const std::exception& e) {
        HandleBgException(e);
    }
}

void TCustomWSocket::PushQueue()
{
    TryToSend();
    // OnDataSent comes from the loop, after the caller's handler has returned.
    if (FAllSent && FHSocket != INVALID_SOCKET)
        PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(FHSocket), MakeSelectLParam(FD_WRITE, 0));
}

int TCustomWSocket::SendString(ByteView str)
{
    if (str.empty())
        return 0;
    return Send(str.data(), static_cast<int>(str.size()));
}

void TCustomWSocket::TryToSend()
{
    if (FHSocket == INVALID_SOCKET || FBufList.empty())
        return;
    for (;;) {
        int32_t len = 0;
        const char* p = FBufList.front()->Peek(len);
        if (len <= 0) {
            if (FBufList.size() == 1) {
                FAllSent = true;
                return;
            }
            FBufList.pop_front();
            continue;
        }
        int flags = MSG_NOSIGNAL | (FSendFlags == wsSendUrgent ? MSG_OOB : 0);
        ssize_t n = ::send(FHSocket, p, static_cast<size_t>(len), flags);
        if (n > 0) {
            FBufList.front()->Remove(static_cast<int32_t>(n));
            FBufferedBytes -= static_cast<size_t>(n);
            if (OnSendData)
                OnSendData(this, static_cast<int>(n));
            if (FHSocket == INVALID_SOCKET || FBufList.empty())
                return;  // the handler closed or aborted the session
            if (n < len) {
                FLoop.ArmWrite(FHSocket);
                return;
            }
            continue;
        }
        if (n == 0)
            return;
        int code = WinSockError(errno);
        if (IsConnectionEnd(code)) {
            FCloseInvoked = true;
            Close();
            TriggerSessionClosed(static_cast<uint16_t>(code));
            return;
        }
        if (code == WSAEWOULDBLOCK) {
            FLoop.ArmWrite(FHSocket);
            return;
        }
        SocketError("TryToSend failed", code);
        return;
    }
}

// --- closing ---------------------------------------------------------------------------------

void TCustomWSocket::InternalClose(bool shutdown, uint16_t error)
{
    if (FHSocket != INVALID_SOCKET) {
        if (FState == wsClosed)
            return;
        if (shutdown)
            ::shutdown(FHSocket, SHUT_WR);
        TSocket handle = FHSocket;
        FLoop.AsyncSelect(handle, 0, 0);
        FHSocket = INVALID_SOCKET;
        if (::close(handle) != 0 && errno != EINTR) {
            // The descriptor is released whatever close reports; only the state stays.
            FLastError = WinSockError(errno);
            SocketError("Disconnect (closesocket)", FLastError);
            return;
        }
        ChangeState(wsClosed);
        if (!FDestroying && !FCloseInvoked) {
            FCloseInvoked = true;
            TriggerSessionClosed(error);
        }
        try {
            AssignDefaultValue();
        } catch (...) {
        }
    } else if (FState != wsClosed) {
        ChangeState(wsClosed);
        AssignDefaultValue();
    }
}

void TCustomWSocket::Close()
{
    // What Send has queued in this round would have gone out at once: push it first.
    if (FFlushRequested && FState == wsConnected && FHSocket != INVALID_SOCKET) {
        FFlushRequested = false;
        TryToSend();
    }
    InternalClose(true, 0);
}

void TCustomWSocket::Abort()
{
    DeleteBufferedData();
    if (FState == wsConnected && FProtoNumber == IPPROTO_TCP) {
        LingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false, 0);
}

void TCustomWSocket::CloseLater()
{
    PostMessageToSelf(WM_CLOSE_DELAYED);
}

void TCustomWSocket::Shutdown(int how)
{
    if (FHSocket != INVALID_SOCKET)
        ::shutdown(FHSocket, how);
}

void TCustomWSocket::SetLingerOption()
{
    if (LingerOnOff == wsLingerNoSet)
        return;
    if (FHSocket == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    linger li{};
    li.l_onoff = static_cast<uint16_t>(LingerOnOff);
    li.l_linger = static_cast<uint16_t>(LingerTimeout);
    if (setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &li, sizeof li) != 0)
        SocketErrorFromErrno("setsockopt(SO_LINGER)");
}

// --- listening and adopting ------------------------------------------------------------------

void TCustomWSocket::ResolveForListen()
{
    if (!FProtoResolved) {
        FProtoNumber = WSocketResolveProto(FProtoStr);
        FSocketType = FProtoNumber == IPPROTO_UDP ? 2 : 1;
        FProtoResolved = true;
    }
    if (!FPortResolved) {
        FSin.sin_port = htons(WSocketResolvePort(FPortStr, FProtoStr));
        FPortResolved = true;
    }
    if (!FAddrResolved) {
        FSin.sin_addr.s_addr = WSocketResolveHost(FAddrStr);
        FAddrResolved = true;
    }
}

void TCustomWSocket::Listen()
{
    if (!FPortAssigned) {
        SocketError("listen: port not assigned", WSAEINVAL);
        return;
    }
    if (!FProtoAssigned) {
        SocketError("listen: protocol not assigned", WSAEINVAL);
        return;
    }
    if (!FAddrAssigned) {
        SocketError("listen: address not assigned", WSAEINVAL);
        return;
    }
    try {
        ResolveForListen();
    } catch (const ESocketException& e) {
        RaiseException(std::string("listen: ") + e.what());
        return;
    }
    DeleteBufferedData();

    int type = (FSocketType == 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    TSocket s = ::socket(FAddrFamily, type, FProtoNumber);
    if (s < 0) {
        SocketErrorFromErrno("socket");
        return;
    }
    // Without it a restart soon after clients were connected could not bind the port again
    // while their old connections wait out TIME_WAIT; a port another socket listens on is
    // still refused.
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(s, reinterpret_cast<sockaddr*>(&FSin), sizeof FSin) != 0) {
        int code = WinSockError(errno);
        ::close(s);
        SocketError("Bind", code);
        return;
    }
    FHSocket = s;
    ChangeState(wsBound);
    if (FSocketType == 2) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        if (OnSessionConnected)
            OnSessionConnected(this, 0);
    } else {
        // Five was all the old socket library allowed; here a burst of clients connecting at
        // once would have its SYNs dropped and wait seconds for the retry.
        if (::listen(FHSocket, SOMAXCONN) != 0) {
            SocketErrorFromErrno("Listen");
            return;
        }
        ChangeState(wsListening);
    }
    if (int e = FLoop.AsyncSelect(FHSocket, FEndpoint, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE); e != 0)
        SocketError("WSAASyncSelect", WinSockError(e));
}

TSocket TCustomWSocket::Accept()
{
    if (FState != wsListening) {
        SocketError("not a listening socket", WSAEINVAL);
        return INVALID_SOCKET;
    }
    TSocket s = ::accept4(FHSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) {
        int e = errno;
        // The connection keeps waiting: stop asking for a while rather than spin on it.
        if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM)
            FLoop.SnoozeAccept(FHSocket, 100);
        SocketError("Accept", WinSockError(e));
        return INVALID_SOCKET;
    }
    return s;
}

void TCustomWSocket::Dup(TSocket newHSocket)
{
    // Descriptor 0 is a valid socket here when standard input is closed.
    if (newHSocket < 0) {
        SocketError("Dup", WSAEINVAL);
        return;
    }
    if (FState != wsClosed) {
        if (FHSocket != INVALID_SOCKET) {
            FLoop.AsyncSelect(FHSocket, 0, 0);
            TSocket old = FHSocket;
            FHSocket = INVALID_SOCKET;
            if (::close(old) != 0 && errno != EINTR) {
                SocketErrorFromErrno("Dup (closesocket)");
                return;
            }
        }
        ChangeState(wsClosed);
    }
    FHSocket = newHSocket;
    SetLingerOption();
    if (int e = FLoop.AsyncSelect(FHSocket, FEndpoint, FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT); e != 0) {
        SocketError("WSAAsyncSelect", WinSockError(e));
        return;
    }
    ChangeState(wsConnected);
}

// --- line mode -------------------------------------------------------------------------------

void TCustomLineWSocket::SetLineMode(bool value)
{
    if (value == FLineMode)
        return;
    FLineMode = value;
    // A line that was handed over and not read, and everything behind it, is raw data now.
    if (!value)
        FLineLength = 0;
    if (FRcvCnt > 0)
        PostMessageToSelf(WM_TRIGGER_DATA_AVAILABLE);
}

int TCustomLineWSocket::RcvdCount()
{
    if (FLineMode)
        return FLineLength;
    if (FRcvCnt > 0)
        return FRcvCnt;
    return TCustomWSocket::RcvdCount();
}

int TCustomLineWSocket::Receive(void* buffer, int bufferSize)
{
    int size = std::max(bufferSize, 0);
    if ((FLineMode && FLineLength > 0) || (!FLineMode && FRcvCnt > 0)) {
        int available = FLineMode ? FLineLength : FRcvCnt;
        int n = std::min(size, available);
        std::memcpy(buffer, FRcvdPtr.data() + FRcvHead, static_cast<size_t>(n));
        FRcvHead += n;
        FRcvCnt -= n;
        if (FLineMode)
            FLineLength -= n;
        if (FRcvCnt == 0)
            FRcvHead = 0;
        return n;
    }
    return PlainReceive(buffer, bufferSize);
}

bool TCustomLineWSocket::RaiseDataAvailable()
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, 0);
    return true;
}

void TCustomLineWSocket::Compact()
{
    if (FRcvHead > 0) {
        std::memmove(FRcvdPtr.data(), FRcvdPtr.data() + FRcvHead, static_cast<size_t>(FRcvCnt));
        FRcvHead = 0;
    }
}

void TCustomLineWSocket::FreeLineBuffer()
{
    std::string().swap(FRcvdPtr);
    FRcvHead = FRcvCnt = FLineLength = 0;
}

void TCustomLineWSocket::CutLines(int searchStart)
{
    while (FLineMode && FRcvCnt > 0) {
        std::string_view held(FRcvdPtr.data() + FRcvHead, static_cast<size_t>(FRcvCnt));
        size_t i = held.find(LineEnd, static_cast<size_t>(searchStart));
        if (i == std::string_view::npos)
            break;
        FLineLength = static_cast<int>(i + LineEnd.size());
        while (FLineMode && FLineLength > 0) {
            if (!RaiseDataAvailable()) {
                FRcvHead += FLineLength;  // nobody reads lines: this one is dropped
                FRcvCnt -= FLineLength;
                FLineLength = 0;
            }
        }
        searchStart = 0;
    }
    Compact();
    if (LineLimit > 0 && FRcvCnt > LineLimit) {
        FLineClearData = true;
        if (OnLineLimitExceeded)
            OnLineLimitExceeded(this, FRcvCnt, FLineClearData);
        if (FLineClearData)
            FRcvHead = FRcvCnt = FLineLength = 0;
    }
}

bool TCustomLineWSocket::TriggerDataAvailable(uint16_t error)
{
    if (!FLineMode || LineEnd.empty())
        return TCustomWSocket::TriggerDataAvailable(error);

    int n = 0;
    if (ioctl(FHSocket, FIONREAD, &n) != 0)
        return true;
    if (n == 0)
        n = 255;
    Compact();
    size_t need = static_cast<size_t>(FRcvCnt) + static_cast<size_t>(n) + 1;
    if (FRcvdPtr.size() < need)
        FRcvdPtr.resize(need);
    int r = PlainReceive(FRcvdPtr.data() + FRcvCnt, n);
    if (r <= 0)
        return true;
    FRcvdPtr[static_cast<size_t>(FRcvCnt + r)] = '\0';
    int searchStart = std::max(0, FRcvCnt - static_cast<int>(LineEnd.size()));
    FRcvCnt += r;
    CutLines(searchStart);
    return true;
}

void TCustomLineWSocket::Redeliver()
{
    // Ends when a pass takes nothing: no complete line and no read of buffered bytes.
    while (FRcvCnt > 0) {
        int before = FRcvCnt;
        if (FLineMode && !LineEnd.empty()) {
            CutLines(0);
        } else if (!RaiseDataAvailable()) {
            FRcvHead = FRcvCnt = 0;
        }
        if (FRcvCnt == before)
            break;
    }
}

void TCustomLineWSocket::Dispatch(TMessage& msg)
{
    if (msg.Msg == WM_TRIGGER_DATA_AVAILABLE) {
        Redeliver();
        return;
    }
    TCustomWSocket::Dispatch(msg);
}

void TCustomLineWSocket::TriggerSessionClosed(uint16_t error)
{
    if (FLineMode && FRcvCnt > 0) {
        // What is left is offered as one last line without its terminator.
        try {
            FLineLength = FRcvCnt;
            while (FLineMode && FLineLength > 0) {
                int before = FLineLength;
                if (!RaiseDataAvailable() || FLineLength == before)
                    break;
            }
        } catch (...) {
        }
    }
    FreeLineBuffer();
    TCustomWSocket::TriggerSessionClosed(error);
}
