// The user list store: uploaded in pieces, kept for the connection's lifetime, sent back whole.
#include "messenger/ZZProtocol.h"
#include "protocol/CommandHandler.h"
#include "protocol/Texts.h"

void TZzCommandHandler::UserList(TZzClient* sender, ByteView payload)
{
    if (payload.empty())
        return;
    const TZzTexts& t = ZzTexts();
    ByteView piece = payload.substr(1);
    switch (static_cast<uint8_t>(payload[0])) {
    case ulBegin:
        Log(t.RozpoczecieListy, {sender->UserNumber(), piece});
        sender->UserListData.assign(piece);
        ++Serwer.Counters.UserListUploads;
        break;
    case ulMore:
        Log(t.KolejnaPorcja, {sender->UserNumber(), piece});
        sender->UserListData.append(piece);
        ++Serwer.Counters.UserListUploads;
        break;
    case ulGet: {
        Log(t.PobranieListy, {sender->UserNumber()});
        // A closed connection gets nothing, so its copy of megabytes is not made either: a
        // client aborted for not reading still has the rest of its read's requests handled.
        if (sender->State() != wsConnected)
            return;
        ByteString reply(1, static_cast<char>(ulReplyGet));
        reply.append(sender->UserListData);
        SendPacket(sender, spUserListReply, reply);
        ++Serwer.Counters.UserListDownloads;
        return;
    }
    default:
        Log(t.NieznanyTypListy, {sender->UserNumber()});
        return;
    }
    if (sender->UserListData.size() > MaxUserListData) {
        ByteString().swap(sender->UserListData);
        sender->MarkCloseCause(ccListTooLong);
        sender->Close();
    }
}
