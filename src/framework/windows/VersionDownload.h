#pragma once
// One download of the version check, made with WinHTTP on a thread of its own so that neither
// the window nor the servers wait for it: the address into the file, redirects not followed, at
// most TVersionCheck::MaxBytes. When it has stopped it posts a message to the window; the window
// then takes Result(). A download the window gives up on (its time limit, the window closing) is
// Abandoned: it posts nothing, and its thread deletes the file once it has let go of it.
#include <memory>
#include <mutex>
#include <string>

#include "core/windows/WindowsHeaders.h"
#include "framework/VersionCheck.h"

class TVersionDownload {
public:
    // Starts the thread; `message` with wParam `serial` goes to `window` when it has stopped.
    static std::shared_ptr<TVersionDownload> Start(HWND window, UINT message, WPARAM serial, const TDownload& download,
                                                   int timeLimitMs);

    TDownloadResult Result();
    void Abandon();
    WPARAM Serial() const { return FSerial; }

private:
    TVersionDownload() = default;
    static void Run(std::shared_ptr<TVersionDownload> self, int timeLimitMs);
    TDownloadResult Fetch(int timeLimitMs);

    HWND FWindow = nullptr;
    UINT FMessage = 0;
    WPARAM FSerial = 0;
    TDownload FDownload;
    std::mutex FMutex;
    bool FAbandoned = false;
    TDownloadResult FResult;
};
