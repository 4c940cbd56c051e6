#pragma once
// One messenger connection and everything the server knows of its user.
#include <cstdint>

#include "core/ByteString.h"
#include "net/WSocketS.h"

class TZzGenericSerwer;

// One messenger connection and everything the server knows of its user.
class TZzClient : public TWSocketClient {
public:
    explicit TZzClient(TCustomWSocketServer* owner);
    ~TZzClient() override;

    ByteString ReceiveBuffer;  // received, not yet consumed as whole packets
    // Room the receive buffer may keep when it holds little (see ClientDataAvailable).
    static constexpr size_t KeptReceiveRoom = 64 * 1024;
    ByteString ContactsReply;
    ByteString UserListData;
    // (The short fields, here and below, follow each other, so that each of thousands of idle
    // users carries no padding between them.)
    uint32_t Status = 0;
    // The upload in progress did not fit in the server's room for user lists: its remaining
    // pieces are not kept (see TZzGenericSerwer::UserListLimit).
    bool UserListRefused = false;
    // Not read now: held at the end of its turn, or (HeldAtBound) because its packets fed
    // queues that are behind while all queues are at their bound (TZzSerwer::ClientReceived).
    bool ReadPaused = false;
    bool HeldAtBound = false;
    // Not read now because the long packet it is sending does not fit in the room all
    // connections share for them (see TZzSerwer::ReceiveRoomLimit); read again when it does.
    bool HeldForRoom = false;
    // Its peer closed while it was not read: what is left to read is all it will send.
    bool PeerClosed = false;

    // The number named at login; 0 before it.
    uint32_t UserNumber() const { return FUserNumber; }
    // The number a login packet named. Written only through here, so that the server's lookup
    // by number always agrees; from then on the client counts as logged in.
    void SetUserNumber(uint32_t number);
    bool LoggedIn() const { return FLoggedIn; }
    // Order of acceptance among the server's clients (0 while not filed with a server).
    uint64_t AcceptSequence() const { return FAcceptSequence; }

protected:
    void ClosedWhileReadHeld() override;

private:
    friend class TZzGenericSerwer;
    friend class TZzSerwer;
    friend class TZzUserIndex;
    bool FLoggedIn = false;
    bool FAwaitingLogin = false;  // listed among the clients still to log in, oldest first
    // Whether its reader keeps up: watched while its queue is behind, with what the reader owes
    // at the minimum rate since (see TZzSerwer::DropStalledReaders).
    bool FStallWatched = false;
    uint32_t FUserNumber = 0;
    // Room for the long packet at the front of its buffer: granted, or asked for while held;
    // since when (granted or asked).
    uint32_t FRoomGranted = 0;
    uint32_t FRoomWanted = 0;
    int64_t FRoomSinceMs = 0;
    TZzGenericSerwer* FSerwer = nullptr;  // the server it is filed with; it outlives the client
    int64_t FStallCheckedMs = 0;
    uint64_t FStallAcked = 0;
    uint64_t FStallDebt = 0;
    uint64_t FAcceptSequence = 0;
    int64_t FAcceptedMs = 0;
    TZzClient* FAwaitingPrev = nullptr;
    TZzClient* FAwaitingNext = nullptr;
};
