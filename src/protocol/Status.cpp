// Status changes: stored on the sender, logged by code, and broadcast to every client whose
// user number differs from the sender's. This broadcast is the whole presence service.
#include "messenger/ZZProtocol.h"
#include "protocol/CommandHandler.h"
#include "protocol/Texts.h"

namespace {

// Status changes whose payload is at least this long are shared between the recipients' queues.
constexpr size_t SharedBroadcastMin = 1024;

}  // namespace

void TZzCommandHandler::NewStatus(TZzClient* sender, ByteView payload)
{
    const TZzTexts& t = ZzTexts();
    ByteView description = payload.size() > 4 ? payload.substr(4) : ByteView();
    uint32_t status = PayloadUInt32(payload, 0);
    // A client whose connection has already closed (it logged out, or was ended, earlier in
    // what it sent) has left for the others: a status change behind that is logged, but
    // neither kept nor passed on, so that nobody is told that a user who has gone is back.
    // A logout's own change goes out after its close, as the others learn of it from that.
    const bool gone = sender->State() != wsConnected;
    if (!gone)
        sender->Status = status;
    if (status & stFriendsOnly)
        SendPacket(sender, spMessage, MessagePayload(SystemSender, t.TylkoZnajomym));

    uint32_t code = status & ~stFriendsOnly;
    uint32_t shown = code;
    auto length = static_cast<uint32_t>(payload.size());
    switch (code) {
    case stLogout:
    case stLogoutAlt:
        Log(t.WylogujMnie, {sender->UserNumber(), length});
        sender->MarkCloseCause(ccLogout);
        sender->Close();  // the object stays listed until this packet has been handled
        break;
    case stAvailable:
    case stAvailableAlt:
        Log(t.JestemDostepny, {sender->UserNumber(), length});
        break;
    case stBusy:
    case stBusyAlt:
        Log(t.JestemZajety, {sender->UserNumber(), length});
        break;
    case stHidden:
    case stHiddenAlt:
        shown = code == stHidden ? stLogout : stLogoutAlt;
        Log(t.UkryjMnie, {sender->UserNumber(), length});
        break;
    default:
        break;
    }

    ByteString change;
    change.reserve(ContactStatusEntrySize + description.size());
    AppendContactStatusEntry(change, sender->UserNumber(), static_cast<uint8_t>(shown & 0xFF));
    change.append(description);
    // A long description is held once for all recipients; a short one is cheaper copied into
    // each queue's block than sent as a piece of its own.
    TSharedBytes shared;
    if (change.size() >= SharedBroadcastMin)
        shared = SharedPacket(sender->Loop(), spStatusChange, change);
    int count = gone ? 0 : Serwer.ClientCount();  // one who has gone tells nobody
    uint64_t delivered = 0;
    for (int i = 0; i < count; ++i) {
        TZzClient* c = Serwer.Client(i);
        if (!c || c->UserNumber() == sender->UserNumber())
            continue;
        delivered += c->State() == wsConnected;  // a closed one is sent nothing
        if (shared)
            SendSharedPacket(c, shared);
        else
            SendPacket(c, spStatusChange, change);
    }
    ++Serwer.Counters.StatusChanges;
    Serwer.Counters.StatusDeliveries += delivered;
    Log(t.ZmienilStatus, {sender->UserNumber(), status, EscapeControlBytes(payload), length});
}
