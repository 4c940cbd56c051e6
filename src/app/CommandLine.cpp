#include "app/CommandLine.h"

#include <charconv>
#include <cstring>

namespace {

bool ParsePort(const std::string& text, int& port)
{
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

bool ParseSeconds(const std::string& text, int most, int& seconds)
{
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0 || value > most)
        return false;
    seconds = value;
    return true;
}

}  // namespace

std::string UsageText()
{
    return "usage: trelubki-serwer [--headless] [--messenger-port N] [--http-port N]\n"
           "                       [--address TEXT] [--doc-dir DIR] [--login-timeout S]\n"
           "                       [--help] [--version]\n"
           "  --headless           no window; the activity log goes to standard output\n"
           "  --messenger-port N   messenger service port (default 8074)\n"
           "  --http-port N        bootstrap HTTP service port (default 80)\n"
           "  --address TEXT       address announced to clients for this run (not stored)\n"
           "  --doc-dir DIR        document directory of the HTTP service\n"
           "  --login-timeout S    close a messenger connection that has not logged in S seconds\n"
           "                       after connecting (default 60, 0: never); logged-in users may\n"
           "                       stay quiet as long as they like\n";
}

std::string ParseCommandLine(int argc, const char* const* argv, TCommandLine& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        if (arg == "--headless" && !hasValue) {
            options.Headless = true;
        } else if (arg == "--help" && !hasValue) {
            options.Help = true;
        } else if (arg == "--version" && !hasValue) {
            options.Version = true;
        } else if (arg == "--messenger-port" || arg == "--http-port") {
            int& port = arg == "--http-port" ? options.HttpPort : options.MessengerPort;
            if (!takeValue())
                return arg + " needs a port number";
            if (!ParsePort(value, port))
                return arg + ": '" + value + "' is not a port number (1-65535)";
        } else if (arg == "--address") {
            if (!takeValue())
                return "--address needs a text";
            options.Address = value;
        } else if (arg == "--doc-dir") {
            if (!takeValue())
                return "--doc-dir needs a directory";
            options.DocDir = value;
        } else if (arg == "--login-timeout") {
            if (!takeValue())
                return "--login-timeout needs a number of seconds";
            if (!ParseSeconds(value, MaxLoginTimeout, options.LoginTimeout))
                return "--login-timeout: '" + value + "' is not a number of seconds (0-" +
                       std::to_string(MaxLoginTimeout) + ")";
        } else {
            return "unknown option '" + std::string(argv[i]) + "' (see --help)";
        }
    }
    return {};
}
