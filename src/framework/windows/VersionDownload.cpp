#include "framework/windows/VersionDownload.h"

#include <winhttp.h>

#include <thread>
#include <vector>

#include "core/windows/WideText.h"

namespace {

// Closes a WinHTTP handle when it goes.
struct THttpHandle {
    HINTERNET H = nullptr;
    explicit THttpHandle(HINTERNET h) : H(h) {}
    ~THttpHandle()
    {
        if (H)
            WinHttpCloseHandle(H);
    }
    THttpHandle(const THttpHandle&) = delete;
    THttpHandle& operator=(const THttpHandle&) = delete;
};

std::string HeaderText(HINTERNET request, DWORD which)
{
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0 || bytes > 64 * 1024)
        return {};
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes, WINHTTP_NO_HEADER_INDEX))
        return {};
    return Utf8Of(text.data());
}

}  // namespace

std::shared_ptr<TVersionDownload> TVersionDownload::Start(HWND window, UINT message, WPARAM serial,
                                                          const TDownload& download, int timeLimitMs)
{
    std::shared_ptr<TVersionDownload> d(new TVersionDownload);
    d->FWindow = window;
    d->FMessage = message;
    d->FSerial = serial;
    d->FDownload = download;
    std::thread(&TVersionDownload::Run, d, timeLimitMs).detach();
    return d;
}

TDownloadResult TVersionDownload::Result()
{
    std::lock_guard lock(FMutex);
    return FResult;
}

void TVersionDownload::Abandon()
{
    std::lock_guard lock(FMutex);
    FAbandoned = true;
}

void TVersionDownload::Run(std::shared_ptr<TVersionDownload> self, int timeLimitMs)
{
    TDownloadResult result = self->Fetch(timeLimitMs);
    std::lock_guard lock(self->FMutex);
    self->FResult = result;
    if (self->FAbandoned) {
        // Nobody takes it any more: the file goes with the thread.
        if (auto wide = ExactWideOf(self->FDownload.File))
            DeleteFileW(wide->c_str());
        return;
    }
    PostMessageW(self->FWindow, self->FMessage, self->FSerial, 0);
}

TDownloadResult TVersionDownload::Fetch(int timeLimitMs)
{
    TDownloadResult result;
    std::wstring address = WideOf(FDownload.Address);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(address.c_str(), 0, 0, &parts))
        return result;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty())
        path = L"/";

    THttpHandle session(WinHttpOpen(L"Trelubki Serwer", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.H)
        return result;
    // Each step (name lookup, connection, request, every read) ends within the limit; the window
    // gives up on the whole at the same limit and does not wait for this thread.
    WinHttpSetTimeouts(session.H, timeLimitMs, timeLimitMs, timeLimitMs, timeLimitMs);
    THttpHandle connection(WinHttpConnect(session.H, host.c_str(), parts.nPort, 0));
    if (!connection.H)
        return result;
    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    THttpHandle request(WinHttpOpenRequest(connection.H, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request.H)
        return result;
    // A redirect is not the file that was asked for (a portal or a parked name answers so).
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.H, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    if (!WinHttpSendRequest(request.H, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.H, nullptr))
        return result;
    DWORD status = 0, size = sizeof status;
    if (WinHttpQueryHeaders(request.H, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &status, &size, WINHTTP_NO_HEADER_INDEX))
        result.HttpStatus = static_cast<int>(status);
    result.ContentType = HeaderText(request.H, WINHTTP_QUERY_CONTENT_TYPE);

    auto file = ExactWideOf(FDownload.File);
    if (!file)
        return result;
    HANDLE out = CreateFileW(file->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return result;
    uint64_t total = 0;
    bool ok = true;
    std::vector<char> buffer(16 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.H, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        total += got;
        DWORD written = 0;
        if (TVersionCheck::TooLarge(total) || !WriteFile(out, buffer.data(), got, &written, nullptr) || written != got) {
            ok = false;
            break;
        }
        std::lock_guard lock(FMutex);
        if (FAbandoned) {
            ok = false;
            break;
        }
    }
    CloseHandle(out);
    result.Completed = ok;
    return result;
}
