#include "support/ChildProgram.h"

#include <algorithm>

#include "SocketApi.h"
#include "core/windows/WideText.h"
#include "net/EventLoop.h"
#include "support/windows/Pipe.h"

struct TChildProgram::TProcess {
    HANDLE Process = nullptr;
    HANDLE Out = nullptr, Err = nullptr;
};

namespace {

// One argument as the program's command-line parser splits it again: quoted when it holds a
// space, tab or quote or is empty; backslashes doubled only where a quote follows them.
std::wstring Quoted(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

std::wstring NameOf(const std::wstring& entry)
{
    return entry.substr(0, entry.find(L'=', 1));  // "=C:=C:\\..." entries start with '='
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// This process's environment with unset removed and env set, as CreateProcessW takes it:
// entries sorted by name (case ignored), each ended by a zero, the block by another.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& env, const std::vector<std::string>& unset)
{
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1)
            entries.emplace_back(p);
        FreeEnvironmentStringsW(block);
    }
    auto remove = [&](const std::wstring& name) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring& e) { return SameName(NameOf(e), name); }),
                      entries.end());
    };
    for (const std::string& name : unset)
        remove(WideOf(name));
    for (const auto& [name, value] : env) {
        remove(WideOf(name));
        entries.push_back(WideOf(name) + L"=" + WideOf(value));
    }
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(NameOf(a).c_str(), -1, NameOf(b).c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::wstring out;
    for (const std::wstring& e : entries)
        out += e + L'\0';
    return out + L'\0';
}

// Sends event to every process on the console of process pid, as a user's key press on it
// would: this process joins that console for the moment, ignoring the event itself, and
// returns to the console it came from (if any).
bool ConsoleEvent(DWORD event, DWORD pid)
{
    bool hadConsole = GetConsoleWindow() != nullptr || GetConsoleCP() != 0;
    FreeConsole();
    bool sent = false;
    if (AttachConsole(pid)) {
        SetConsoleCtrlHandler(nullptr, TRUE);
        sent = GenerateConsoleCtrlEvent(event, 0);
        // The event reaches this process asynchronously too: it is ignored until it has passed.
        Sleep(50);
        FreeConsole();
        SetConsoleCtrlHandler(nullptr, FALSE);
    }
    if (hadConsole)
        AttachConsole(ATTACH_PARENT_PROCESS);
    return sent;
}

// A process ended by a console's Ctrl+C (or Ctrl+Break) that it did not handle.
constexpr DWORD ControlCExit = 0xC000013A;

int ExitOf(DWORD code)
{
    return code == ControlCExit ? -SIGINT : static_cast<int>(code);
}

}  // namespace

TChildProgram::TChildProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& env, const std::vector<std::string>& unset)
    : FProcess(std::make_unique<TProcess>())
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr, errWrite = nullptr;
    if (!CreatePipe(&FProcess->Out, &outWrite, &inherit, 1 << 16) ||
        !CreatePipe(&FProcess->Err, &errWrite, &inherit, 1 << 16))
        return;
    // Only the child's ends are inherited.
    SetHandleInformation(FProcess->Out, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(FProcess->Err, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    std::wstring commandLine = Quoted(WideOf(program));
    for (const std::string& a : args)
        commandLine += L" " + Quoted(WideOf(a));
    std::wstring environment = EnvironmentBlock(env, unset);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = nul;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    PROCESS_INFORMATION pi{};
    // A console of its own (hidden), as a user's console window would be: a Ctrl+C or Ctrl+Break
    // on it reaches the program and nobody else.
    if (CreateProcessW(WideOf(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_CONSOLE, environment.data(), nullptr, &si, &pi)) {
        FProcess->Process = pi.hProcess;
        CloseHandle(pi.hThread);
        Pid = static_cast<long>(pi.dwProcessId);
    }
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
}

TChildProgram::~TChildProgram()
{
    if (FProcess->Process) {
        if (Pid > 0) {
            TerminateProcess(FProcess->Process, 1);
            WaitForSingleObject(FProcess->Process, 5000);
        }
        CloseHandle(FProcess->Process);
    }
    if (FProcess->Out)
        CloseHandle(FProcess->Out);
    if (FProcess->Err)
        CloseHandle(FProcess->Err);
}

void TChildProgram::Pull()
{
    DrainPipe(FProcess->Out, Stdout);
    DrainPipe(FProcess->Err, Stderr);
}

bool TChildProgram::WaitFor(const std::string& text, int timeoutMs)
{
    int64_t end = MonotonicMs() + timeoutMs;
    Pull();
    while (Stdout.find(text) == std::string::npos && MonotonicMs() < end) {
        Sleep(20);
        Pull();
    }
    return Stdout.find(text) != std::string::npos;
}

int TChildProgram::Stop(int sig, int timeoutMs)
{
    if (!FProcess->Process || Pid <= 0)
        return -1000;
    bool terminated = false;
    if (sig == SIGINT)
        ConsoleEvent(CTRL_C_EVENT, static_cast<DWORD>(Pid));
    else if (sig == SIGBREAK)
        ConsoleEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(Pid));
    else
        terminated = TerminateProcess(FProcess->Process, 1);
    // Read while waiting: a child whose pipe is full would not end.
    int64_t end = MonotonicMs() + timeoutMs;
    DWORD state;
    while ((state = WaitForSingleObject(FProcess->Process, 10)) == WAIT_TIMEOUT && MonotonicMs() < end)
        Pull();
    Pull();
    if (state != WAIT_OBJECT_0)
        return -1000;
    Pid = -1;
    DWORD code = 0;
    GetExitCodeProcess(FProcess->Process, &code);
    return terminated ? -sig : ExitOf(code);
}

int TChildProgram::Wait()
{
    if (!FProcess->Process || Pid <= 0)
        return -1000;
    while (WaitForSingleObject(FProcess->Process, 10) == WAIT_TIMEOUT)
        Pull();
    Pull();
    Pid = -1;
    DWORD code = 0;
    GetExitCodeProcess(FProcess->Process, &code);
    return ExitOf(code);
}
