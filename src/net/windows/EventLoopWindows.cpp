// The event loop's readiness on Windows (see EventLoopBackend.h).
#include <algorithm>
#include <stdexcept>
#include <string>

#include "EventLoopBackend.h"
#include "MessageFilter.h"

namespace {

// Each registration selects with a message number of its own, taken from its serial: a message
// still queued for a socket handle that was closed and reused since carries the old number and
// is dropped, not taken for the new connection's.
constexpr UINT SelectFirst = WM_APP;
constexpr UINT SelectCount = 0x4000;  // WM_APP ... 0xBFFF
constexpr UINT QuitRequest = WM_USER + 0x100;
constexpr UINT NestedWake = WM_USER + 0x101;
constexpr UINT_PTR NestedWakeTimer = 1;

UINT SelectMessage(uint64_t serial)
{
    return SelectFirst + static_cast<UINT>(serial % SelectCount);
}

// One message-only window per loop, not one per socket: a process may hold only 10,000 window
// handles by default, fewer than the connections a server may have.
const wchar_t WindowClass[] = L"XSocketWindowClass";

thread_local std::function<bool(MSG&)> MessageFilter;

}  // namespace

void SetWindowMessageFilter(std::function<bool(MSG&)> filter)
{
    MessageFilter = std::move(filter);
}

TEventLoop::TBackend::TBackend(TEventLoop& loop) : Loop(loop)
{
    SocketStartup();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &TBackend::WindowProc;
    cls.hInstance = instance;
    cls.lpszClassName = WindowClass;
    if (!RegisterClassExW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("event loop: the window class cannot be registered (" + std::to_string(GetLastError()) + ")");
    // While the desktop of a session is still starting (seen under Wine, with several programs
    // starting at once) the first window of a process can fail for a moment: try for a while.
    for (int attempt = 0; attempt < 40 && !Window; ++attempt) {
        if (attempt > 0)
            Sleep(50);
        Window = CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    }
    if (!Window)
        throw std::runtime_error("event loop: the message window cannot be made (" + std::to_string(GetLastError()) + ")");
    SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TEventLoop::TBackend::~TBackend()
{
    for (auto& [s, reg] : Registrations)
        WSAAsyncSelect(s, Window, 0, 0);
    SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
    DestroyWindow(Window);
}

TEventLoop::TBackend::TRegistration* TEventLoop::TBackend::Find(TSocket s)
{
    auto it = Registrations.find(s);
    return it == Registrations.end() ? nullptr : &it->second;
}

int TEventLoop::AsyncSelect(TSocket s, TEndpoint endpoint, uint32_t mask)
{
    if (s == INVALID_SOCKET)
        return WSAENOTSOCK;
    if (mask == 0) {
        if (Backend->Registrations.erase(s))
            WSAAsyncSelect(s, Backend->Window, 0, 0);
        return 0;
    }
    // A listening socket reports only connections waiting, as it does on every system.
    long events = (mask & FD_ACCEPT) ? FD_ACCEPT : static_cast<long>(mask & (FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT | FD_OOB));
    TBackend::TRegistration reg;
    reg.Endpoint = endpoint;
    reg.Mask = mask;
    reg.Serial = Backend->NextSerial++;
    Backend->Registrations[s] = reg;
    if (WSAAsyncSelect(s, Backend->Window, SelectMessage(reg.Serial), events) != 0) {
        int code = WSAGetLastError();
        Backend->Registrations.erase(s);
        return code;
    }
    return 0;
}

void TEventLoop::ArmWrite(TSocket)
{
    // The system reports write by itself once room is free after a send that would block.
}

void TEventLoop::TBackend::GiveReadBack(TRegistration& reg, TSocket s)
{
    // The system reports read or accept again only after the call that takes it: one delivered
    // while the socket did not want it (paused, snoozed) is not repeated. A read costs nothing
    // when nothing waits. A listener is selected again instead: the system then reports a
    // connection that waits now, and the next one that comes, also after a failed accept that
    // left it silent (as Wine was seen to be).
    if (!(reg.Mask & FD_ACCEPT)) {
        Queue(reg, s, FD_READ, 0);
        return;
    }
    WSAAsyncSelect(s, Window, SelectMessage(reg.Serial), FD_ACCEPT);
}

void TEventLoop::PauseReading(TSocket s, bool paused)
{
    TBackend::TRegistration* reg = Backend->Find(s);
    if (!reg || reg->ReadPaused == paused)
        return;
    reg->ReadPaused = paused;
    if (paused)
        return;
    // A read that came meanwhile is reported now (the peer's close was reported when it came).
    if (!reg->Snoozed)
        Backend->GiveReadBack(*reg, s);
}

const char* TEventLoop::BackendName() const
{
    return "windows";
}

void TEventLoop::QuitFromAnyThread()
{
    PostMessageW(Backend->Window, QuitRequest, 0, 0);
}

void TEventLoop::TBackend::Queue(TRegistration& reg, TSocket s, uint32_t events, uint32_t error)
{
    TMessage msg;
    msg.Msg = WM_ASYNCSELECT;
    msg.WParam = static_cast<uintptr_t>(s);
    msg.LParam = MakeSelectLParam(events, error);
    msg.Serial = reg.Serial;
    Loop.Queue.push_back({reg.Endpoint, msg});
    if (events & (FD_READ | FD_ACCEPT))
        reg.ReadQueuedFor = NextRound();
}

void TEventLoop::TBackend::Translate(UINT message, TSocket s, LPARAM lParam)
{
    TRegistration* reg = Find(s);
    if (!reg || SelectMessage(reg->Serial) != message)
        return;  // forgotten, or meant for an earlier registration of the same handle
    uint32_t events = WSAGETSELECTEVENT(lParam);
    uint32_t error = WSAGETSELECTERROR(lParam);
    // A read or accept that comes while not wanted is given back on resume. The selection
    // made again on resume may report a connection twice: once per round is enough, as one
    // accept per round is all a listener does.
    if ((events & FD_ACCEPT) && !reg->ReadPaused && !reg->Snoozed && reg->ReadQueuedFor != NextRound())
        Queue(*reg, s, FD_ACCEPT, error);
    // Each read that leaves data makes the system post read again: one connection's several
    // messages in a round would give it several shares of that round.
    if ((events & (FD_READ | FD_OOB)) && !reg->ReadPaused && reg->ReadQueuedFor != NextRound())
        Queue(*reg, s, events & (FD_READ | FD_OOB), error);
    if (events & (FD_WRITE | FD_CONNECT))
        Queue(*reg, s, events & (FD_WRITE | FD_CONNECT), error);
    // Also while reading is paused: a connection not read now must still learn that its peer
    // has gone (the socket decides whether that waits for the read).
    if ((events & FD_CLOSE) && !reg->CloseReported) {
        reg->CloseReported = true;
        Queue(*reg, s, FD_CLOSE, error);
    }
}

LRESULT CALLBACK TEventLoop::TBackend::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TBackend*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message >= SelectFirst && message < SelectFirst + SelectCount) {
        self->Translate(message, static_cast<TSocket>(wParam), lParam);
        if (self->NestedInDispatch(message, wParam))
            self->RunNestedRound();
        return 0;
    }
    if (self && (message == NestedWake || (message == WM_TIMER && wParam == NestedWakeTimer))) {
        if (message == NestedWake) {
            self->WakePosted = false;
        } else {
            KillTimer(window, NestedWakeTimer);
            self->WakeTimerDueMs = -1;
        }
        if (self->NestedInDispatch(message, wParam))
            self->RunNestedRound();
        return 0;
    }
    if (self && message == QuitRequest) {
        self->Loop.Quit();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TEventLoop::TBackend::Poll(int timeoutMs)
{
    // Delayed messages wake the loop when they are due.
    int64_t due = Loop.EarliestDueMs();
    if (due >= 0) {
        int64_t untilDue = std::max<int64_t>(due - MonotonicMs(), 0);
        if (timeoutMs < 0 || untilDue < timeoutMs)
            timeoutMs = static_cast<int>(std::min<int64_t>(untilDue, INT32_MAX));
    }
    ++Polls;
    Polling = true;
    MSG m;
    if (!PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE))
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    // Everything waiting now: the system's queue of posted messages is limited, and each socket
    // has at most one message of each event waiting, so this is bounded by the sockets open.
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            Loop.Quit();
            continue;
        }
        if (MessageFilter && MessageFilter(m))
            continue;
        TranslateMessage(&m);
        if (m.hwnd != Window)
            WakeNestedLoop();
        const MSG* outer = Dispatching;
        Dispatching = &m;
        DispatchMessageW(&m);
        Dispatching = outer;
    }
    Polling = false;
}

bool TEventLoop::TBackend::NestedInDispatch(UINT message, WPARAM wParam) const
{
    // Not when Poll dispatches this very message, and not inside a round (a handler's own
    // message box): rounds never run inside one another.
    return Polling && Dispatching && !Loop.InRound &&
           !(Dispatching->hwnd == Window && Dispatching->message == message && Dispatching->wParam == wParam);
}

void TEventLoop::TBackend::RunNestedRound()
{
    // The messages dispatched so far were queued for this round; what the system reports
    // after it belongs to the next (a read reported again after its recv must not be taken
    // for one already queued).
    Loop.RunRound();
    ++Polls;
    WakeNestedLoop();
}

void TEventLoop::TBackend::WakeNestedLoop()
{
    if (!WakePosted && (!Loop.Queue.empty() || !Loop.FlushRequests.empty()))
        WakePosted = PostMessageW(Window, NestedWake, 0, 0) != 0;
    int64_t due = Loop.EarliestDueMs();
    if (due >= 0 && due != WakeTimerDueMs) {
        auto delay = static_cast<UINT>(std::clamp<int64_t>(due - MonotonicMs(), USER_TIMER_MINIMUM, 60 * 1000));
        if (SetTimer(Window, NestedWakeTimer, delay, nullptr))
            WakeTimerDueMs = due;
    }
}
