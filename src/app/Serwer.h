#pragma once
// The servers of the console and the handlers bound to them, as the main window owns them: the
// bootstrap HTTP service (HttpPomocniczy) and the messenger server (ZZSerwer). The window and
// the headless runner both start and stop the service through this.
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "core/ActivityLog.h"
#include "core/Settings.h"
#include "http/Bootstrap.h"
#include "http/HttpSrv.h"
#include "messenger/ZzSerwer.h"
#include "protocol/CommandHandler.h"

class TSerwer {
public:
    TSerwer(TActivityLog& log, const TCommandLine& options, TEventLoop& loop = TEventLoop::Default());
    ~TSerwer();  // frees the messenger server (closing every client), then the HTTP server

    // The start-up sequence: HTTP service, messenger server, notice. Returns the messenger
    // server's error text (empty when it opened).
    std::string Start();

    // The announced address (code page 1250) that the bootstrap replies carry.
    const ByteString& AnnouncedAddress() const { return FAddress; }
    void SetAnnouncedAddress(const ByteString& address) { FAddress = address; }
    // Stores the address (UTF-8) as the value "adres" of section "ustawienia".
    bool StoreAddress(const std::string& utf8) { return FSettings.Write("ustawienia", "adres", utf8); }

    TZzSerwer& ZZSerwer() { return *FZZSerwer; }
    THttpServer& HttpPomocniczy() { return *FHttp; }

private:
    TActivityLog& FLog;
    TSettingsStore FSettings{"Welkor/Trelubki/Serwer"};
    ByteString FAddress;
    std::unique_ptr<THttpServer> FHttp;
    std::unique_ptr<TBootstrapHandlers> FBootstrap;
    std::unique_ptr<TZzSerwer> FZZSerwer;
    std::unique_ptr<TZzCommandHandler> FHandler;
};

// The start-up notice, one line of the log (code page 1250).
ByteString StartupNotice();
// The red message when the HTTP port cannot be opened (code page 1250).
ByteString HttpPortFailure(const std::string& httpPort, ByteView address, int messengerPort);
