// The user list store: uploaded in pieces, kept for the connection's lifetime, sent back whole.
#include <algorithm>

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
        StoreUserListPiece(sender, piece, true);
        ++Serwer.Counters.UserListUploads;
        break;
    case ulMore:
        Log(t.KolejnaPorcja, {sender->UserNumber(), piece});
        // The rest of an upload that was refused: a list with a piece missing would be wrong.
        if (!sender->UserListRefused)
            StoreUserListPiece(sender, piece, false);
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
        Serwer.UserListResized(sender->UserListData.capacity(), 0);
        ByteString().swap(sender->UserListData);
        sender->MarkCloseCause(ccListTooLong);
        sender->Close();
    }
}

void TZzCommandHandler::StoreUserListPiece(TZzClient* sender, ByteView piece, bool first)
{
    ByteString& list = sender->UserListData;
    size_t before = list.capacity();
    size_t others = Serwer.UserListBytes() - std::min(before, Serwer.UserListBytes());
    size_t wanted = (first ? 0 : list.size()) + piece.size();
    if (others + wanted > Serwer.UserListLimit) {
        // The whole upload is dropped (its room given back) and the client is told, by a
        // message from the system as the server tells it other things; a later upload that
        // fits is stored as usual.
        ByteString().swap(list);
        Serwer.UserListResized(before, 0);
        sender->UserListRefused = true;
        SendPacket(sender, spMessage, MessagePayload(SystemSender, ZzTexts().BrakMiejscaNaListe));
        return;
    }
    sender->UserListRefused = false;
    if (first)
        list.assign(piece);
    else
        list.append(piece);
    Serwer.UserListResized(before, list.capacity());
}
