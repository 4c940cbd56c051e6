#pragma once
// The program's counters as the operator sees them: the metrics endpoint's text (the text
// exposition format monitoring systems scrape: HELP and TYPE lines, counters ending in _total,
// base units, every name starting with trelubki_) and the service manager's status line.
#include <cstdint>
#include <string>

#include "app/ProcessStats.h"
#include "http/HttpSrv.h"
#include "messenger/ZzCounters.h"
#include "net/ConnectionCounters.h"

struct TMetricsInput {
    TZzCounters Messenger;
    TConnectionCounters MessengerConnections;
    TConnectionCounters BootstrapConnections;
    THttpCounters BootstrapReplies;
    TConnectionCounters MetricsConnections;
    THttpCounters MetricsReplies;
    uint64_t SendQueueBytes = 0;
    uint64_t ReadersHeld = 0;  // not read now because all send queues together are full
    TProcessStats Process;
    double StartTimeSeconds = 0;  // since 1970, UTC
};

std::string MetricsText(const TMetricsInput& in);

// Messenger clients the server ended for what they did (or failed to do): a packet or list
// over its limit, a send queue over its limit or stalled, no login in time.
uint64_t DroppedClients(const TConnectionCounters& messenger);
// "120 users online, 45,210 messages relayed, 2 clients dropped".
std::string StatusLine(uint64_t usersOnline, uint64_t messagesRelayed, uint64_t clientsDropped);
// 45210 as "45,210".
std::string GroupedNumber(uint64_t n);
