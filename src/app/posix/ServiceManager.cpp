// The service manager's notifications through libsystemd, as Debian's daemons send them; a
// build without the library (TZZ_WITH_SYSTEMD unset) sends none.
#include <cstdlib>

#include "app/ServiceNotifier.h"

#ifdef TZZ_WITH_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

bool ServiceManagerListens()
{
#ifdef TZZ_WITH_SYSTEMD
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
#else
    return false;
#endif
}

void NotifyServiceManager(const std::string& state)
{
#ifdef TZZ_WITH_SYSTEMD
    // A failure (the manager gone) changes nothing for the servers: there is no one to tell.
    sd_notify(0, state.c_str());
#else
    (void)state;
#endif
}

uint64_t ServiceWatchdogUs()
{
#ifdef TZZ_WITH_SYSTEMD
    uint64_t us = 0;
    return sd_watchdog_enabled(0, &us) > 0 ? us : 0;
#else
    return 0;
#endif
}
