// A window may run a message loop of its own for as long as its user likes (a menu held open,
// the window being dragged, a message box): the sockets are served meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "net/ServerFixture.h"

namespace {

constexpr UINT RunOwnLoop = WM_APP + 1;
std::atomic<bool> Echoed{false};

// Runs a loop of its own, as the system's modal loops do, until the echo has come or 5 s pass.
LRESULT CALLBACK ModalWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != RunOwnLoop)
        return DefWindowProcW(window, message, wParam, lParam);
    SetTimer(window, 1, 5000, nullptr);
    MSG m;
    while (!Echoed && GetMessageW(&m, nullptr, 0, 0) > 0) {
        if (m.hwnd == window && m.message == WM_TIMER)
            break;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    KillTimer(window, 1);
    return 0;
}

// A client of its own thread, with blocking calls: sends, waits for the echo, wakes the window.
void EchoClient(int port, HWND window)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(static_cast<u_short>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && send(s, "ping", 4, 0) == 4) {
        std::string got;
        char buffer[16];
        int n;
        while (got.size() < 4 && (n = recv(s, buffer, sizeof buffer, 0)) > 0)
            got.append(buffer, static_cast<size_t>(n));
        Echoed = got == "ping";
    }
    closesocket(s);
    PostMessageW(window, WM_NULL, 0, 0);
}

}  // namespace

TEST_F(ServerTest, SocketsAreServedWhileAWindowRunsAMessageLoopOfItsOwn)
{
    Server->Banner.clear();
    Server->OnClientConnect = [](TCustomWSocketServer*, TWSocketClient* c, uint16_t) {
        c->OnDataAvailable = [c](TCustomWSocket*, uint16_t) {
            std::string s = c->ReceiveString();
            if (!s.empty())
                c->SendString(s);
        };
    };
    Listen();
    WNDCLASSW cls{};
    cls.lpfnWndProc = &ModalWindowProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"NestedLoopTestWindow";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    Echoed = false;
    PostMessageW(window, RunOwnLoop, 0, 0);
    std::thread client(EchoClient, Port(), window);
    // The window's loop starts in this round and ends only once the client has its echo: the
    // accept, the read and the reply all had to happen inside it.
    auto start = GetTickCount64();
    while (!Echoed && GetTickCount64() - start < 10000)
        TEventLoop::Default().ProcessEvents(50);
    client.join();
    EXPECT_TRUE(Echoed);
    EXPECT_LT(GetTickCount64() - start, 4000u) << "the sockets waited for the window's loop to end";
    DestroyWindow(window);
}
