#pragma once
// Test helpers: a raw loopback peer whose waits keep the event loop running, so that the
// server under test (on the same thread) serves while the test waits.
#include <functional>
#include <string>

#include "SocketApi.h"
#include "core/ByteString.h"
#include "net/EventLoop.h"

class TCustomWSocket;

// Runs the default loop until pred holds or timeoutMs passes; returns pred().
bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Runs the default loop for a while (to show that something does not happen).
void RunFor(int ms);
// The port a listening socket was bound to (listen on "0" to get a free one).
int BoundPort(const TCustomWSocket& socket);
int BoundPort(TSocket s);
// Listens on a free port of every address, as another program holding a port would; returns it.
int HoldAnyPort(TCustomWSocket& holder);
// A loopback port that was free a moment ago (bound, then released), for a program to listen on.
int FreePort();

class TPeer {
public:
    TPeer() = default;
    explicit TPeer(int port) { Connect(port); }
    ~TPeer();
    TPeer(const TPeer&) = delete;
    TPeer& operator=(const TPeer&) = delete;

    bool Connect(int port);
    void Send(ByteView bytes);
    // Collects what arrives within ms.
    ByteString ReadFor(int ms);
    // Waits until n bytes arrived (or timeout); returns what arrived, at most n bytes.
    ByteString ReadExactly(size_t n, int timeoutMs = 5000);
    // Waits for the server to end the connection; true when it did.
    bool WaitClosed(int timeoutMs = 5000);
    void Close();
    void Reset();  // closes with a reset instead of a FIN
    void ShutdownWrite();
    // Without waiting and without the loop: what the socket takes now (0 when full, -1 when
    // the connection has failed), and what it holds now (-1 when nothing, 0 at its end).
    int SendNow(const char* data, size_t size);
    int ReceiveNow(char* buffer, int size);
    // The system's own receive buffer, e.g. made small so that a server's sends back up.
    void SetReceiveBuffer(int bytes);
    TSocket Handle() const { return FSocket; }
    const ByteString& Pending() const { return FPending; }

private:
    bool Pull();  // one non-blocking read into FPending; false at end of stream
    TSocket FSocket = INVALID_SOCKET;
    bool FEnded = false;
    ByteString FPending;
};

// Connects peer to a program's port, trying again while the program is still starting; true
// once connected.
bool Connected(TPeer& peer, int port, int timeoutMs = 2000);

std::string Hex(ByteView bytes);

// Whether this system tells a connection's reset from its orderly end (WSAECONNRESET on the
// other side). Linux and Windows do; Wine 8 reports a reset as an orderly close, so a test of
// the reset's error code cannot pass there.
bool SystemReportsResets();
