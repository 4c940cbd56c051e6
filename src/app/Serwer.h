#pragma once
// The servers of the console and the handlers bound to them, as the main window owns them: the
// bootstrap HTTP service (HttpPomocniczy) and the messenger server (ZZSerwer). The window and
// the headless runner both start and stop the service through this. For the operator it also
// keeps the metrics endpoint (when asked for) and tells a service manager how things go.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ServiceNotifier.h"
#include "core/ActivityLog.h"
#include "core/Settings.h"
#include "http/Bootstrap.h"
#include "http/HttpSrv.h"
#include "http/MetricsEndpoint.h"
#include "messenger/ZzSerwer.h"
#include "protocol/CommandHandler.h"

// What keeps the server from doing what it was asked to, told to the person who runs it: Text
// (English) on stderr, WindowText (Polish) under the address in the window. Key tells one kind
// from another; a problem with empty texts is over.
struct TProblem {
    std::string Key;  // ProblemSettings or ProblemHttpPort
    std::string Text, WindowText;
};
inline constexpr const char* ProblemSettings = "settings";
inline constexpr const char* ProblemHttpPort = "http";

class TSerwer {
public:
    TSerwer(TActivityLog& log, const TCommandLine& options, TEventLoop& loop = TEventLoop::Default());
    // Tells the service manager it is stopping, then frees the metrics endpoint, the messenger
    // server (closing every client) and the HTTP server.
    ~TSerwer();

    // The start-up sequence: HTTP service, messenger server, notice; then the metrics endpoint
    // (a failure is said on stderr) and the service manager's READY. Returns the messenger
    // server's error text (empty when it opened). The problems met so far (settings that cannot
    // be read, the HTTP port) are reported from here, OnProblem being assigned by then.
    std::string Start();

    // Each problem goes to stderr once (again only when its text changes), then to OnProblem.
    std::function<void(const TProblem&)> OnProblem;

    // The announced address (code page 1250) that the bootstrap replies carry.
    const ByteString& AnnouncedAddress() const { return FAddress; }
    void SetAnnouncedAddress(const ByteString& address) { FAddress = address; }
    // Stores the address (UTF-8) as the value "adres" of section "ustawienia". When it cannot be
    // stored, says so (the address still holds for this run); once it can again, the problem is over.
    bool StoreAddress(const std::string& utf8);

    TZzSerwer& ZZSerwer() { return *FZZSerwer; }
    THttpServer& HttpPomocniczy() { return *FHttp; }
    // The metrics endpoint's server; none without --metrics-port.
    THttpServer* MetricsServer() { return FMetrics.get(); }

    // What the metrics endpoint answers, and the status line the service manager shows.
    std::string MetricsText();
    std::string StatusLine();

private:
    void StartMetrics();
    void Report(const TProblem& problem);

    TActivityLog& FLog;
    TEventLoop& FLoop;
    std::optional<int> FMetricsPort;
    std::string FMetricsAddress;
    double FStartTimeSeconds = 0;
    bool FHttpFailed = false;
    std::vector<TProblem> FEarly;                 // met before Start, reported by it
    std::map<std::string, std::string> FSaid;  // key -> text last written to stderr
    TSettingsStore FSettings{"Welkor/Trelubki/Serwer"};
    ByteString FAddress;
    std::unique_ptr<THttpServer> FHttp;
    std::unique_ptr<TBootstrapHandlers> FBootstrap;
    std::unique_ptr<TZzSerwer> FZZSerwer;
    std::unique_ptr<TZzCommandHandler> FHandler;
    std::unique_ptr<THttpServer> FMetrics;
    std::unique_ptr<TMetricsEndpoint> FMetricsEndpoint;
    std::unique_ptr<TServiceNotifier> FNotifier;
};

// The start-up notice, one line of the log (code page 1250).
ByteString StartupNotice();
// The red message when the HTTP port cannot be opened (code page 1250).
ByteString HttpPortFailure(const std::string& httpPort, ByteView address, int messengerPort);
// Why the HTTP port could not be opened (the system's reason, from the socket layer's message)
// and what to do about it.
TProblem HttpPortProblem(int port, const std::string& reason);
