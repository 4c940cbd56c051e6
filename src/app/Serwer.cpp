#include "app/Serwer.h"

#include <chrono>

#include "app/Metrics.h"
#include "app/Platform.h"
#include "app/ProcessStats.h"
#include "core/Znaki.h"
#include "framework/Wspolne99.h"

namespace {

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

}  // namespace

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
    : FLog(log),
      FLoop(loop),
      FMetricsPort(options.MetricsPort),
      FMetricsAddress(options.MetricsAddress),
      FHttp(std::make_unique<THttpServer>(loop)),
      FZZSerwer(std::make_unique<TZzSerwer>(loop))
{
    using namespace std::chrono;
    FStartTimeSeconds = duration<double>(system_clock::now().time_since_epoch()).count();
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

    if (FMetricsPort) {
        FMetrics = std::make_unique<THttpServer>(loop);
        FMetrics->SetPort(std::to_string(*FMetricsPort));
        FMetrics->SetAddr(FMetricsAddress);
        FMetrics->SetRequestTimeoutMs(int64_t{options.HttpTimeoutSeconds} * 1000);
        FMetricsEndpoint = std::make_unique<TMetricsEndpoint>(*FMetrics, [this] { return MetricsText(); });
        FMetricsEndpoint->Bind();
    }
    FNotifier = std::make_unique<TServiceNotifier>(loop, [this] { return StatusLine(); });
}

TSerwer::~TSerwer()
{
    FNotifier->Stopping();
    FNotifier.reset();
    FMetrics.reset();
    FMetricsEndpoint.reset();
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
        FHttpFailed = true;
        FLog.SetColour(clRed);
        FLog.Append(HttpPortFailure(FHttp->GetPort(), FAddress, FZZSerwer->GetPort()));
        FLog.Append("");
    }
    std::string error;
    FZZSerwer->Open(error);
    FLog.SetColour(clBlue);
    FLog.Append(StartupNotice());
    StartMetrics();
    FNotifier->Ready();
    return error;
}

void TSerwer::StartMetrics()
{
    if (!FMetrics)
        return;
    try {
        FMetrics->Start();
    } catch (const std::exception& e) {
        // Not an activity-log line: the log keeps the servers' own entries.
        WriteStandardError("trelubki-serwer: metrics port " + FMetrics->GetPort() + " on " + FMetrics->GetAddr() +
                           " could not be opened: " + OneLine(e.what()) + "\n");
    }
}

std::string TSerwer::MetricsText()
{
    TMetricsInput in;
    in.Messenger = FZZSerwer->Counters;
    in.MessengerConnections = FZZSerwer->SocketServer().Counters;
    in.BootstrapConnections = FHttp->ConnectionCounters();
    in.BootstrapReplies = FHttp->Counters;
    if (FMetrics) {
        in.MetricsConnections = FMetrics->ConnectionCounters();
        in.MetricsReplies = FMetrics->Counters;
    }
    TSendQueueTotal& queued = FLoop.QueuedTotal();
    in.SendQueueBytes = queued.Bytes();
    in.ReadersHeld = static_cast<uint64_t>(FZZSerwer->HeldAtBoundClients());
    in.Process = ReadProcessStats();
    in.StartTimeSeconds = FStartTimeSeconds;
    return ::MetricsText(in);
}

std::string TSerwer::StatusLine()
{
    const TConnectionCounters& connections = FZZSerwer->SocketServer().Counters;
    std::string line = ::StatusLine(FZZSerwer->Counters.LoggedIn, FZZSerwer->Counters.MessagesRelayed,
                                    DroppedClients(connections));
    if (!FZZSerwer->Active)
        line += "; messenger port " + std::to_string(FZZSerwer->GetPort()) + " could not be opened";
    if (FHttpFailed)
        line += "; HTTP port " + FHttp->GetPort() + " could not be opened";
    return line;
}
