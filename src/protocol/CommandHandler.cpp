#include "protocol/CommandHandler.h"

#include "messenger/ZZProtocol.h"
#include "protocol/Texts.h"

TZzCommandHandler::TZzCommandHandler(TZzGenericSerwer& serwer, TActivityLog& log, TRandomDraw& random)
    : Serwer(serwer), ActivityLog(log), Random(random)
{
}

void TZzCommandHandler::Bind()
{
    Serwer.OnClientConnect = [this](TZzGenericSerwer* s, TZzClient* c) { ZZSerwerClientConnect(s, c); };
    Serwer.OnClientCommand = [this](TZzClient* c, int32_t cmd, ByteView data) { ZZSerwerClientCommand(c, cmd, data); };
    Serwer.OnClientDataAvailable = [this](TZzGenericSerwer* s, TZzClient* c, ByteView d) {
        ZZSerwerClientDataAvailable(s, c, d);
    };
    Serwer.OnClientDisconnect = [this](TZzGenericSerwer* s, TZzClient* c) { ZZSerwerClientDisconnect(s, c); };
    Serwer.OnServerClosed = [this](TZzGenericSerwer* s, uint16_t e) { ZZSerwerServerClosed(s, e); };
}

void TZzCommandHandler::ZZSerwerClientCommand(TZzClient* ASender, int32_t ACommand, ByteView AZawartosc)
{
    auto type = static_cast<uint32_t>(ACommand);
    switch (type) {
    case cpNewStatus:
        NewStatus(ASender, AZawartosc);
        break;
    case cpSendMessage:
        SendMessage(ASender, AZawartosc);
        break;
    case cpRemoveContact:
    case cpContactsMore:
    case cpContactsLast:
    case cpContactsEmpty:
        Contacts(ASender, type, AZawartosc);
        break;
    case cpLogin:
        Login(ASender, AZawartosc);
        break;
    case cpPing:
        Log(ZzTexts().CiagleJestem, {ASender->UserNumber()});
        break;
    case cpPublicDirectory:
        Log(ZzTexts().KatalogPubliczny, {ASender->UserNumber()});
        break;
    case cpUserList:
        UserList(ASender, AZawartosc);
        break;
    default:
        Other(ACommand, AZawartosc);
        break;
    }
}

void TZzCommandHandler::Other(int32_t type, ByteView payload)
{
    Log(ZzTexts().Zadanie, {type, payload});
}

ByteString TZzCommandHandler::EscapeControlBytes(ByteView bytes)
{
    ByteString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 32)
            AppendControlByte(out, static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out;
}

void TZzCommandHandler::Log(ByteView format, std::initializer_list<TLogArg> args)
{
    LineBuffer.clear();
    FormatLogInto(LineBuffer, format, args);
    ActivityLog.Append(LineBuffer);
}

ByteString TZzCommandHandler::MessagePayload(uint32_t senderNumber, ByteView text)
{
    ByteString p;
    p.reserve(16 + text.size() + 1);
    AppendUInt32(p, senderNumber);
    AppendUInt32(p, Random.Random(MaxDraw));
    AppendUInt32(p, 0);
    AppendUInt32(p, MessageClass);
    p.append(text);
    p += '\0';
    return p;
}
