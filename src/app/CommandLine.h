#pragma once
// The command line. With no option the program behaves as it always has: ports 8074 and 80,
// the stored announced address, the default document directory.
#include <optional>
#include <string>

struct TCommandLine {
    bool Headless = false;
    int MessengerPort = 8074;
    int HttpPort = 80;
    std::optional<std::string> Address;  // announced for this run only, not stored
    std::optional<std::string> DocDir;
    int LoginTimeout = 60;  // seconds a messenger connection has to log in; 0: no limit
    int HttpTimeoutSeconds = 30;  // 0: an HTTP connection may wait for its request for ever
    // The metrics endpoint's port; none: no endpoint (0, for tests only: any free port).
    std::optional<int> MetricsPort;
    std::string MetricsAddress = "127.0.0.1";  // an IPv4 address; 0.0.0.0 for every one
    bool Help = false;
    bool Version = false;
};

// Fills options from argv; returns an error line (empty on success).
std::string ParseCommandLine(int argc, const char* const* argv, TCommandLine& options);
std::string UsageText();

// The longest --login-timeout accepted, in seconds (about eleven and a half days).
inline constexpr int MaxLoginTimeout = 1000000;
// The longest --http-timeout accepted, in seconds: a day.
inline constexpr int MaxHttpTimeoutSeconds = 24 * 60 * 60;
