#pragma once
// What the messenger service has done, for the operator: plain increments where each event
// happens (one thread, no lock). The connections' own counts (accepted, bytes, why each ended)
// are the listening server's (TCustomWSocketServer::Counters).
#include <cstdint>

struct TZzCounters {
    uint64_t LoggedIn = 0;           // clients logged in now (until their object is freed)
    uint64_t Logins = 0;             // login packets handled
    uint64_t MessagesRelayed = 0;    // messages passed on to a connected recipient
    uint64_t AbsenceNotices = 0;     // messages answered with "recipient absent"
    uint64_t StatusChanges = 0;      // status packets handled
    uint64_t StatusDeliveries = 0;   // status changes queued to the other clients
    uint64_t ContactLists = 0;       // contact lists answered (their last piece, or "empty")
    uint64_t UserListUploads = 0;    // pieces of user lists stored
    uint64_t UserListDownloads = 0;  // user lists sent back
    uint64_t ReaderHolds = 0;        // times a client was not read because all queues were full
    uint64_t RoomWaits = 0;          // times a client's long packet waited for receive room
};
