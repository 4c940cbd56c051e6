// Windows has no notify-type service manager: nobody listens, nothing is sent.
#include "app/ServiceNotifier.h"

bool ServiceManagerListens()
{
    return false;
}

void NotifyServiceManager(const std::string&) {}

uint64_t ServiceWatchdogUs()
{
    return 0;
}
