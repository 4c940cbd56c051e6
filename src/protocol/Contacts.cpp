// Contact lists: pieces collect the status of listed users who are connected; the last piece
// is answered with everything collected since the login.
#include <algorithm>

#include "messenger/ZZProtocol.h"
#include "protocol/CommandHandler.h"
#include "protocol/Texts.h"

void TZzCommandHandler::Contacts(TZzClient* sender, uint32_t type, ByteView payload)
{
    const TZzTexts& t = ZzTexts();
    if (type == cpRemoveContact) {
        Log(t.UsuniecieSledzenia, {});
        return;
    }
    if (type == cpContactsEmpty) {
        ++Serwer.Counters.ContactLists;
        Log(t.NieMamNikogo, {sender->UserNumber()});
        return;
    }

    // One lookup per entry: the cost follows the list, not the number of users online.
    for (ByteView work = payload; !work.empty() && sender->ContactsReply.size() <= MaxContactsReply;) {
        uint32_t contact = BytesToUInt32(work);
        work.remove_prefix(std::min<size_t>(5, work.size()));
        if (TZzClient* c = Serwer.FirstWithNumber(contact))
            AppendContactStatusEntry(sender->ContactsReply, c->UserNumber(), static_cast<uint8_t>(c->Status & 0xFF));
    }
    if (sender->ContactsReply.size() > MaxContactsReply) {
        ByteString().swap(sender->ContactsReply);
        sender->MarkCloseCause(ccListTooLong);
        sender->Close();
    }

    if (type == cpContactsMore) {
        Log(t.KolejnePozycje, {sender->UserNumber()});
    } else {
        Log(t.OstatniePozycje, {sender->UserNumber()});
        SendPacket(sender, spContactsStatus, sender->ContactsReply);
        ++Serwer.Counters.ContactLists;
    }
}
