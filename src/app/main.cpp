// trelubki-serwer: the messenger server for a local network, run headless.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/CommandLine.h"
#include "app/HeadlessLog.h"
#include "app/StopSignals.h"
#include "app/Serwer.h"
#include "core/Random.h"
#ifdef TZZ_WITH_GUI
#include "app/SerwerZuliZuliMain.h"
#endif

namespace {

// Every connection is a descriptor: take all the system allows this process.
void RaiseDescriptorLimit()
{
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    TCommandLine options;
    if (std::string error = ParseCommandLine(argc, argv, options); !error.empty()) {
        std::cerr << "trelubki-serwer: " << error << "\n";
        return 2;
    }
    if (options.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.Version) {
        std::cout << "Trelubki Serwer Zuli-Zuli " << TZZ_VERSION << "\n";
        return 0;
    }

    RaiseDescriptorLimit();
    signal(SIGPIPE, SIG_IGN);
    // Before any thread starts (the window's toolkit starts some): threads inherit the blocked
    // signals, so none of them can take SIGINT or SIGTERM and end the process on the spot.
    int stopFd = StopSignalsDescriptor();
#ifdef TZZ_WITH_GUI
    bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!options.Headless && display) {
        if (std::optional<int> status = RunWindow(argc, argv, options, stopFd)) {
            close(stopFd);
            return *status;
        }
    }
#endif

    ProcessRandom().Randomize();
    TEventLoop& loop = TEventLoop::Default();
    {
        THeadlessLog log(loop, STDOUT_FILENO);
        TSerwer serwer(log, options, loop);
        loop.WatchReadable(stopFd, [&] {
            if (TakeStopSignals(stopFd))
                loop.Quit();
        });
        if (std::string error = serwer.Start(); !error.empty()) {
            // Not an activity-log line: the log stays as the console shows it.
            std::string oneLine = error;
            for (char& c : oneLine)
                if (c == '\r' || c == '\n')
                    c = ' ';
            std::cerr << "trelubki-serwer: messenger port " << options.MessengerPort << " could not be opened: " << oneLine
                      << "\n";
        }
        log.Flush();
        loop.Run();
        loop.Unwatch(stopFd);
    }
    close(stopFd);
    return 0;
}
