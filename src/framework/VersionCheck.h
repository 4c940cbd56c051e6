#pragma once
// The start-up check for a newer version of the program, without a toolkit: which address is
// fetched first, what counts as a real version file, what is fetched after it, and when the
// newer-version notice shows. The window system only downloads: "fetch this address into this
// file, within TimeLimitMs, and tell me how it ended". All calls come from the window's thread.
//
//   TVersionCheck& check = ...;   // the window's, made at its creation
//   if (auto d = check.Start(InstallLocationOf(ProgramPath()), FileVersionOf(ProgramPath())))
//       download d->Address into d->File;
//   ... when that download has stopped:
//   TVersionStep step = check.Stopped(result);
//   if (step.ShowNotice) the status bar shows NewerVersionNotice;
//   if (step.Next) download step.Next the same way;
//   ... when the window closes with a download running: stop it, then check.Abandon().
//
// Nothing waits for the check: the window and the servers go on meanwhile.
#include <cstdint>
#include <optional>
#include <string>

#include "framework/Wspolne99.h"

// Where the version files lie and the page fetched after one.
struct TVersionServer {
    std::string VersionBaseAddress;  // ends in "/"; empty: no check at all
    std::string FollowUpAddress;     // empty: no follow-up
};
// The maker's server, unless TRELUBKI_VERSION_URL names another (a mirror on the local network:
// the follow-up page is then its "pobrano.html"); set but empty, it turns the check off.
TVersionServer DefaultVersionServer();

// base + location code + "/" + relative path (slashes, without a leading one) + ".zawartosc.wersja"
std::string VersionFileAddress(const std::string& base, const TInstallLocation& location);
// True when the start of a reply, or its content type, is a web page (an error page, a portal's
// login page), which a version file never is.
bool LooksLikeWebPage(const std::string& head, const std::string& contentType);

inline constexpr const char* NewerVersionNotice =
    "Dostępna jest już nowsza wersja programu. Do uaktualnienia użyj: Pomoc, Uaktualnienie";
// The caption title of the notice when it is shown in a box rather than the status bar.
inline constexpr const char* NewerVersionTitle = "Informacja o nowej wersji";

// One download the window system is asked to make: the address, the file that receives it
// (created empty, to be overwritten).
struct TDownload {
    std::string Address;
    std::string File;
};

// How a download ended, as the window system saw it.
struct TDownloadResult {
    // The whole resource arrived into the file: no transport error, not stopped by the time
    // limit or the size limit, the file written in full.
    bool Completed = false;
    // The HTTP status of the reply; 0 when there was none (another scheme). Redirects are not
    // to be followed: a 3xx is what a portal or a parked name answers, never the file.
    int HttpStatus = 0;
    // The reply's Content-Type, empty when none.
    std::string ContentType;
};

struct TVersionStep {
    bool ShowNotice = false;         // a newer version exists: show NewerVersionNotice
    std::optional<TDownload> Next;   // the follow-up page to fetch now
};

class TVersionCheck {
public:
    // Each download, name lookup included, ends within this.
    static constexpr int TimeLimitMs = 3000;
    // A reply longer than this is not what the check asked for: the download fails (the window
    // system may stop it as soon as TooLarge says so).
    static constexpr uint64_t MaxBytes = 1 << 20;
    static bool TooLarge(uint64_t bytesSoFar) { return bytesSoFar > MaxBytes; }

    explicit TVersionCheck(TVersionServer server = DefaultVersionServer()) : Server(std::move(server)) {}
    // Deletes the kept follow-up page and a download's file still there.
    ~TVersionCheck();
    TVersionCheck(const TVersionCheck&) = delete;
    TVersionCheck& operator=(const TVersionCheck&) = delete;

    TVersionServer Server;

    // The version file's download, for a program at that location with that file version;
    // nothing when the check is off or no temporary file can be made.
    std::optional<TDownload> Start(const TInstallLocation& location, TVersionPair programVersion);
    // The current download has stopped: what follows. A failure announces nothing, fetches
    // nothing more and leaves no file behind.
    TVersionStep Stopped(const TDownloadResult& result);
    // The current download was stopped for good (the window closes): its file goes.
    void Abandon();

    bool Downloading() const { return !FCurrentFile.empty(); }
    const std::string& CurrentAddress() const { return FCurrentAddress; }
    const std::string& CurrentFile() const { return FCurrentFile; }
    // The follow-up page of the last check, kept until the check goes.
    const std::string& KeptFile() const { return FKeptFile; }

private:
    std::optional<TDownload> StartDownload(const std::string& address);
    bool IsTheResource(const TDownloadResult& result) const;
    void DropCurrentFile();

    TVersionPair FProgramVersion;
    std::string FCurrentAddress, FCurrentFile, FKeptFile;
};
