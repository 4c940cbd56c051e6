// trelubki-serwer: the messenger server for a local network, with its window (Qt on Linux, the
// system's own on Windows) or headless.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessLog.h"
#include "app/Platform.h"
#include "app/Serwer.h"
#include "core/Random.h"
#ifdef TZZ_WITH_GUI
#include "app/SerwerZuliZuliMain.h"
#endif
#ifdef TZZ_WITH_WIN32_WINDOW
#include "app/windows/Form1Window.h"
#include "app/windows/ParentConsole.h"
#endif

namespace {

// Exit status of a headless run whose messenger port could not be opened (2: a bad command line).
constexpr int MessengerPortStatus = 1;

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<const char*> args;
    for (const std::string& a : arguments)
        args.push_back(a.c_str());
    TCommandLine options;
    std::string error = ParseCommandLine(static_cast<int>(args.size()), args.data(), options);
#ifdef TZZ_WITH_WIN32_WINDOW
    // A program with a window has no console of its own: what it has to say on the command line
    // goes to the console of the prompt that started it.
    if (!error.empty() || options.Help || options.Version || options.Headless)
        UseParentConsole();
#endif
    if (!error.empty()) {
        WriteStandardError("trelubki-serwer: " + error + "\n");
        return 2;
    }
    if (options.Help) {
        WriteStandardOutput(UsageText());
        return 0;
    }
    if (options.Version) {
        WriteStandardOutput(std::string("Trelubki Serwer Zuli-Zuli ") + TZZ_VERSION + "\n");
        return 0;
    }

    // Before any thread starts (the window's toolkit starts some).
    PrepareProcess();
#ifdef TZZ_WITH_GUI
    bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!options.Headless && display) {
        if (std::optional<int> status = RunWindow(argc, argv, options)) {
            ShutDownDone();
            return *status;
        }
    }
#endif
#ifdef TZZ_WITH_WIN32_WINDOW
    if (!options.Headless) {
        if (std::optional<int> status = RunWindow(options)) {
            ShutDownDone();
            return *status;
        }
        UseParentConsole();
        WriteStandardError("trelubki-serwer: the window cannot be made (no desktop); running headless\n");
    }
#endif

    ProcessRandom().Randomize();
    TEventLoop& loop = TEventLoop::Default();
    int status = 0;
    {
        THeadlessLog log(loop);
        TSerwer serwer(log, options, loop);
        StopLoopOnRequest(loop);
        if (std::string error = serwer.Start(); !error.empty()) {
            // Without a window the messenger service is all there is: running on with HTTP alone
            // would look healthy to a service manager, which then never tries again. Not an
            // activity-log line: the log stays as the console shows it.
            std::string oneLine = error;
            for (char& c : oneLine)
                if (c == '\r' || c == '\n')
                    c = ' ';
            WriteStandardError("trelubki-serwer: messenger port " + std::to_string(options.MessengerPort) +
                               " could not be opened: " + oneLine + "; stopping (exit status " +
                               std::to_string(MessengerPortStatus) + ")\n");
            status = MessengerPortStatus;
        }
        log.Flush();
        if (status == 0)
            loop.Run();
        StopWatchingLoop();
    }
    ShutDownDone();
    return status;
}
