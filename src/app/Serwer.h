#pragma once
// The servers of the console and the handlers bound to them, as the main window owns them; the
// window and the headless runner both start and stop the service through this.
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "core/ActivityLog.h"
#include "messenger/ZzSerwer.h"
#include "protocol/CommandHandler.h"

class TSerwer {
public:
    TSerwer(TActivityLog& log, const TCommandLine& options, TEventLoop& loop = TEventLoop::Default());
    ~TSerwer();  // frees the messenger server (closing every client) first

    // The start-up sequence; returns the messenger server's error text (empty when it opened).
    std::string Start();

    TZzSerwer& ZZSerwer() { return *FZZSerwer; }

private:
    TActivityLog& FLog;
    std::unique_ptr<TZzSerwer> FZZSerwer;
    std::unique_ptr<TZzCommandHandler> FHandler;
};

// The start-up notice, one line of the log (code page 1250).
ByteString StartupNotice();
