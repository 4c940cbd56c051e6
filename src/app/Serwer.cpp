#include "app/Serwer.h"

#include "core/Znaki.h"
#include "framework/Wspolne99.h"

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

ByteString HttpPortFailure(const std::string& httpPort, ByteView address, int messengerPort)
{
    static const ByteString format = Znaki::ToCp1250(
        "Nie udało się otworzyć portu %s !\r\rNajprawdopodobniej jest on blokowany przez funkcjonujący serwer HTTP. "
        "Wyłącz go lub skonfiguruj tak, by na żądanie dokumentu „\\appsvc\\appmsg4.asp” serwera witrualnego „%s” "
        "odpowiadał „0 0 %s:%d %s”");
    return FormatLog(format, {httpPort, address, address, messengerPort, address});
}

TSerwer::TSerwer(TActivityLog& log, const TCommandLine& options, TEventLoop& loop)
    : FLog(log), FHttp(std::make_unique<THttpServer>(loop)), FZZSerwer(std::make_unique<TZzSerwer>(loop))
{
    // The key is made at start-up; the value appears with the first change of the address.
    FSettings.Open();
    if (options.Address)
        FAddress = Znaki::ToCp1250(*options.Address);
    else if (auto stored = FSettings.Read("ustawienia", "adres"))
        FAddress = Znaki::ToCp1250(*stored);
    else
        FAddress = "localhost";

    FHttp->SetPort(std::to_string(options.HttpPort));
    FHttp->SetAddr("0.0.0.0");
    FHttp->DocDir = options.DocDir ? *options.DocDir : DefaultDocumentFolder();
    FHttp->SetRequestTimeoutMs(int64_t{options.HttpTimeoutSeconds} * 1000);
    FBootstrap = std::make_unique<TBootstrapHandlers>(*FHttp, FLog, [this] { return FAddress; });
    FBootstrap->Bind();

    FZZSerwer->SetPort(options.MessengerPort);
    FZZSerwer->SetLoginTimeoutMs(options.LoginTimeout * 1000);
    FHandler = std::make_unique<TZzCommandHandler>(*FZZSerwer, FLog);
    FHandler->Bind();
}

TSerwer::~TSerwer()
{
    FZZSerwer.reset();
    FHandler.reset();
    FHttp.reset();
    FBootstrap.reset();
}

std::string TSerwer::Start()
{
    try {
        FHttp->Start();
    } catch (...) {
        FLog.SetColour(clRed);
        FLog.Append(HttpPortFailure(FHttp->GetPort(), FAddress, FZZSerwer->GetPort()));
        FLog.Append("");
    }
    std::string error;
    FZZSerwer->Open(error);
    FLog.SetColour(clBlue);
    FLog.Append(StartupNotice());
    return error;
}
