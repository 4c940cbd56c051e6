// Message relay: to the first connected client with the recipient's number, or an absence
// notice to the sender. The acknowledgement always goes first; nothing is kept for later.
#include <algorithm>

#include "messenger/ZZProtocol.h"
#include "protocol/CommandHandler.h"
#include "protocol/Texts.h"

namespace {

constexpr size_t TextOffset = 12;
constexpr size_t TextWindow = 2000;  // a text must end (NUL) within this many bytes

ByteView MessageText(ByteView payload)
{
    if (payload.size() <= TextOffset)
        return {};
    ByteView window = payload.substr(TextOffset, TextWindow);
    size_t nul = window.find('\0');
    return nul == ByteView::npos ? ByteView() : window.substr(0, nul);
}

}  // namespace

void TZzCommandHandler::SendMessage(TZzClient* sender, ByteView payload)
{
    uint32_t recipient = PayloadUInt32(payload, 0);
    uint32_t sequence = PayloadUInt32(payload, 4);
    ByteView text = MessageText(payload);
    Log(ZzTexts().Wypowiedz, {sender->UserNumber(), recipient, text});

    // A client whose connection has closed in this round cannot receive: it is not "relayed".
    TZzClient* found = Serwer.FirstConnectedWithNumber(recipient);
    ByteString ack;
    AppendUInt32(ack, found ? ackRelayed : ackRecipientAbsent);
    AppendUInt32(ack, sender->UserNumber());
    AppendUInt32(ack, sequence);
    SendPacket(sender, spMessageAck, ack);
    if (found) {
        SendPacket(found, spMessage, MessagePayload(sender->UserNumber(), text));
        ++Serwer.Counters.MessagesRelayed;
    } else {
        SendPacket(sender, spMessage, MessagePayload(SystemSender, ZzTexts().PoszedlSobie));
        ++Serwer.Counters.AbsenceNotices;
    }
}
