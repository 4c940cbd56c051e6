// Greeting on connect and login: the server trusts the user number the client names.
#include "messenger/ZZProtocol.h"
#include "protocol/CommandHandler.h"
#include "protocol/Texts.h"

void TZzCommandHandler::ZZSerwerClientConnect(TZzGenericSerwer*, TZzClient* Client)
{
    SendPacket(Client, spWelcome, UInt32ToBytes(Random.Random(MaxDraw)));
    Log(ZzTexts().Powitanie, {});
}

void TZzCommandHandler::Login(TZzClient* sender, ByteView payload)
{
    sender->SetUserNumber(PayloadUInt32(payload, 0));
    Log(ZzTexts().LogowanieUzytkownika, {sender->UserNumber()});
    SendPacket(sender, spLoginOk, {});
    Log(ZzTexts().UzytkownikZalogowany, {});
    sender->ContactsReply.clear();
}
