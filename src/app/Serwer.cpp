#include "app/Serwer.h"

#include "core/Znaki.h"

ByteString StartupNotice()
{
    return Znaki::ToCp1250(
        "Korzystanie z klientów Zuli-Zuli wymaga użycia na komputerach klienckich Konfiguratora Klienta Zuli Zuli"
        " http://www.welkor.pl/konfigurator"
        ", odpowiedniej konfiguracji DNS lub nietypowej funkcjonalności klienta Zuli-Zuli umożliwiającej "
        "wybieranie serwera inaczej niż przez odpytywanie serwera pomocniczego jak opisuje to protokól Zuli-Zuli"
        " http://www.welkor.pl/protokol"
        " jaką to funkcjonalność posiadają np. Trelubki Klient ZuliZuli"
        " http://www.welkor.pl/trelubki-klient"
        " w postaci możliwości wyboru alternatywnego serwera prawym klawiszem.");
}

TSerwer::TSerwer(TActivityLog& log, const TCommandLine& options, TEventLoop& loop)
    : FLog(log), FZZSerwer(std::make_unique<TZzSerwer>(loop))
{
    FZZSerwer->SetPort(options.MessengerPort);
    FHandler = std::make_unique<TZzCommandHandler>(*FZZSerwer, FLog);
    FHandler->Bind();
}

TSerwer::~TSerwer()
{
    FZZSerwer.reset();
    FHandler.reset();
}

std::string TSerwer::Start()
{
    std::string error;
    FZZSerwer->Open(error);
    FLog.SetColour(clBlue);
    FLog.Append(StartupNotice());
    return error;
}
