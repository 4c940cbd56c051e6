#pragma once
// What the server does with each messenger packet: the main window's handlers of the messenger
// server's events. ZZSerwerClientCommand dispatches by packet type; each branch lives in the
// file named after what it does (Greeting, Status, Relay, Contacts, UserList).
#include <cstdint>

#include "core/ActivityLog.h"
#include "core/Random.h"
#include "messenger/ZzSerwer.h"

class TZzCommandHandler {
public:
    // What one connection may make the server keep: beyond these it is disconnected.
    static constexpr size_t MaxUserListData = 4 * 1024 * 1024;
    static constexpr size_t MaxContactsReply = 1024 * 1024;

    TZzCommandHandler(TZzGenericSerwer& serwer, TActivityLog& log, TRandomDraw& random = ProcessRandom());

    // Binds the handlers to the server's events.
    void Bind();

    void ZZSerwerClientConnect(TZzGenericSerwer* sender, TZzClient* Client);
    void ZZSerwerClientCommand(TZzClient* ASender, int32_t ACommand, ByteView AZawartosc);
    void ZZSerwerClientDataAvailable(TZzGenericSerwer*, TZzClient*, ByteView) {}
    void ZZSerwerClientDisconnect(TZzGenericSerwer*, TZzClient*) {}
    void ZZSerwerServerClosed(TZzGenericSerwer*, uint16_t) {}

    // Bytes below 32 as "{XX}" (upper-case hex), everything else as it is.
    static ByteString EscapeControlBytes(ByteView bytes);

private:
    void Login(TZzClient* sender, ByteView payload);
    void NewStatus(TZzClient* sender, ByteView payload);
    void SendMessage(TZzClient* sender, ByteView payload);
    void Contacts(TZzClient* sender, uint32_t type, ByteView payload);
    void UserList(TZzClient* sender, ByteView payload);
    // Stores an upload's piece (the first one replaces the list), or refuses the upload when
    // the server's room for user lists is taken.
    void StoreUserListPiece(TZzClient* sender, ByteView piece, bool first);
    void Other(int32_t type, ByteView payload);

    void Log(ByteView format, std::initializer_list<TLogArg> args);
    // A spMessage payload: sender, a fresh sequence number, time 0, class 4, text and one NUL.
    ByteString MessagePayload(uint32_t senderNumber, ByteView text);

    TZzGenericSerwer& Serwer;
    TActivityLog& ActivityLog;
    TRandomDraw& Random;
    ByteString LineBuffer;  // reused for every log line
};
