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

// Four decimal numbers 0-255 joined by dots, as the listening socket takes an address; names
// are not looked up.
bool ParseIPv4(const std::string& text)
{
    const char* p = text.data();
    const char* end = p + text.size();
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (p == end || *p++ != '.'))
            return false;
        if (p == end || *p < '0' || *p > '9')  // no sign, no space
            return false;
        int value = 0;
        auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || next == p || next - p > 3 || value > 255 || (next - p > 1 && *p == '0'))
            return false;
        p = next;
    }
    return p == end;
}

}  // namespace

std::string UsageText()
{
    return "usage: trelubki-serwer [--headless] [--messenger-port N] [--http-port N]\n"
           "                       [--address TEXT] [--doc-dir DIR] [--http-timeout SECONDS]\n"
           "                       [--login-timeout SECONDS] [--metrics-port N]\n"
           "                       [--metrics-address ADDR] [--help] [--version]\n"
           "  --headless           no window; the activity log goes to standard output\n"
           "  --messenger-port N   messenger service port (default 8074)\n"
           "  --http-port N        bootstrap HTTP service port (default 80)\n"
           "  --address TEXT       address announced to clients for this run (not stored)\n"
           "  --doc-dir DIR        document directory of the HTTP service\n"
           "  --http-timeout SECONDS\n"
           "                       close an HTTP connection that has not sent a complete request\n"
           "                       this long after connecting or after its last reply\n"
           "                       (default 30; 0: never)\n"
           "  --login-timeout SECONDS\n"
           "                       close a messenger connection that has not logged in this long\n"
           "                       after connecting (default 60; 0: never); logged-in users may\n"
           "                       stay quiet as long as they like\n"
           "  --metrics-port N     serve GET /metrics (counters for monitoring) on this port\n"
           "                       (default: no endpoint)\n"
           "  --metrics-address ADDR\n"
           "                       the IPv4 address the metrics endpoint listens on\n"
           "                       (default 127.0.0.1; 0.0.0.0: every address)\n";
}

std::string ParseCommandLine(int argc, const char* const* argv, TCommandLine& options)
{
    bool metricsAddressGiven = false;
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
        } else if (arg == "--messenger-port" || arg == "--http-port" || arg == "--metrics-port") {
            int port = 0;
            if (!takeValue())
                return arg + " needs a port number";
            if (!ParsePort(value, port))
                return arg + ": '" + value + "' is not a port number (1-65535)";
            if (arg == "--metrics-port")
                options.MetricsPort = port;
            else
                (arg == "--http-port" ? options.HttpPort : options.MessengerPort) = port;
        } else if (arg == "--metrics-address") {
            if (!takeValue())
                return "--metrics-address needs an IPv4 address";
            if (!ParseIPv4(value))
                return "--metrics-address: '" + value + "' is not an IPv4 address (such as 127.0.0.1)";
            options.MetricsAddress = value;
            metricsAddressGiven = true;
        } else if (arg == "--address") {
            if (!takeValue())
                return "--address needs a text";
            options.Address = value;
        } else if (arg == "--doc-dir") {
            if (!takeValue())
                return "--doc-dir needs a directory";
            if (value.empty())  // "" would make every request path absolute
                return "--doc-dir: the directory name is empty";
            options.DocDir = value;
        } else if (arg == "--login-timeout" || arg == "--http-timeout") {
            bool login = arg == "--login-timeout";
            int most = login ? MaxLoginTimeout : MaxHttpTimeoutSeconds;
            if (!takeValue())
                return arg + " needs a number of seconds";
            if (!ParseSeconds(value, most, login ? options.LoginTimeout : options.HttpTimeoutSeconds))
                return arg + ": '" + value + "' is not a number of seconds (0-" + std::to_string(most) + ")";
        } else {
            return "unknown option '" + std::string(argv[i]) + "' (see --help)";
        }
    }
    // Said so now rather than found out when a scrape finds nothing there.
    if (metricsAddressGiven && !options.MetricsPort)
        return "--metrics-address needs --metrics-port";
    if (std::optional<int> m = options.MetricsPort; m && (*m == options.MessengerPort || *m == options.HttpPort))
        return "--metrics-port: " + std::to_string(*m) + " is the " +
               (*m == options.MessengerPort ? "messenger" : "HTTP") + " port";
    return {};
}
