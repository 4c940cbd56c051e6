#include "app/Serwer.h"

#include <chrono>

#include "app/Metrics.h"
#include "app/Platform.h"
#include "app/ProcessStats.h"
#include "core/Znaki.h"
#include "framework/Wspolne99.h"
#include "SocketApi.h"

#include <cstdlib>

namespace {

// The socket layer's message ("Error 10013 in function Bind" CR LF "Permission denied") as one line.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::string out;
    for (char c : text)
        if (c != ' ' || (!out.empty() && out.back() != ' '))
            out += c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
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

TProblem HttpPortProblem(int port, const std::string& reason)
{
    std::string p = std::to_string(port);
    TProblem problem{ProblemHttpPort, "HTTP port " + p + " could not be opened: " + OneLine(reason),
                     "Nie udało się otworzyć portu HTTP " + p + ": " + OneLine(reason)};
    if (reason.find("Error " + std::to_string(WSAEACCES) + " ") != std::string::npos) {
        problem.Text += ". Ports below 1024 need privilege: run the server as its service "
                        "(trelubki-serwer.service), give the program CAP_NET_BIND_SERVICE "
                        "(setcap cap_net_bind_service=+ep), or choose another port with --http-port";
        problem.WindowText += ". Porty poniżej 1024 wymagają uprawnień: uruchom serwer jako usługę "
                              "(trelubki-serwer.service), nadaj programowi CAP_NET_BIND_SERVICE "
                              "(setcap cap_net_bind_service=+ep) albo wybierz inny port (--http-port)";
    } else if (reason.find("Error " + std::to_string(WSAEADDRINUSE) + " ") != std::string::npos) {
        problem.Text += ". Another program listens on it: stop it, or choose another port with --http-port";
        problem.WindowText += ". Słucha na nim inny program: zatrzymaj go albo wybierz inny port (--http-port)";
    } else {
        problem.Text += ". Choose another port with --http-port";
        problem.WindowText += ". Wybierz inny port (--http-port)";
    }
    return problem;
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
    std::string unreadable;
    if (!FSettings.Open())
        unreadable = FSettings.Error();
    if (options.Address) {
        FAddress = Znaki::ToCp1250(*options.Address);
    } else if (auto stored = FSettings.Read("ustawienia", "adres")) {
        FAddress = Znaki::ToCp1250(*stored);
    } else {
        FAddress = "localhost";
        if (!FSettings.Error().empty())
            unreadable = FSettings.Error();
    }
    if (!unreadable.empty()) {
        if (options.Address)
            FEarly.push_back({ProblemSettings, "settings cannot be kept: " + unreadable,
                              "Nie można przechowywać ustawień: " + unreadable});
        else
            FEarly.push_back({ProblemSettings,
                              "the stored address cannot be read: " + unreadable + "; \"localhost\" is announced",
                              "Nie można odczytać zapisanego adresu: " + unreadable + "; ogłaszany jest „localhost”"});
    }

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

bool TSerwer::StoreAddress(const std::string& utf8)
{
    if (FSettings.Write("ustawienia", "adres", utf8)) {
        if (FSaid.count(ProblemSettings))
            Report({ProblemSettings, "", ""});
        return true;
    }
    Report({ProblemSettings, "the address cannot be stored, it holds for this run only: " + FSettings.Error(),
            "Nie można zapisać adresu, obowiązuje tylko do końca tej sesji: " + FSettings.Error()});
    return false;
}

void TSerwer::Report(const TProblem& problem)
{
    auto said = FSaid.find(problem.Key);
    if (problem.Text.empty()) {
        if (said != FSaid.end())
            FSaid.erase(said);
    } else if (said == FSaid.end() || said->second != problem.Text) {
        FSaid[problem.Key] = problem.Text;
        WriteStandardError("trelubki-serwer: " + problem.Text + "\n");
    }
    if (OnProblem)
        OnProblem(problem);
}

std::string TSerwer::Start()
{
    for (const TProblem& problem : FEarly)
        Report(problem);
    FEarly.clear();
    std::string httpError;
    try {
        FHttp->Start();
    } catch (const std::exception& e) {
        httpError = e.what();
    } catch (...) {
        httpError = "unknown failure";
    }
    if (!httpError.empty()) {
        FHttpFailed = true;
        FLog.SetColour(clRed);
        FLog.Append(HttpPortFailure(FHttp->GetPort(), FAddress, FZZSerwer->GetPort()));
        FLog.Append("");
        // The log's text is the one the clients' administrators know; the reason goes beside it.
        Report(HttpPortProblem(std::atoi(FHttp->GetPort().c_str()), httpError));
    }
    std::string error;
    FZZSerwer->Open(error);
    FLog.SetColour(clBlue);
    FLog.Append(StartupNotice());
    StartMetrics();
    // Without its messenger port the headless program ends (status 1): it never was ready.
    if (error.empty())
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
