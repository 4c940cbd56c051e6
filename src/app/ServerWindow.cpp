#include "app/ServerWindow.h"

#include "core/Znaki.h"

namespace {

// Line breaks and runs of blanks as single spaces, none at either end.
std::string Simplified(const std::string& text)
{
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

}  // namespace

std::string MessengerPortProblem(int port, const std::string& error)
{
    return "Nie udało się otworzyć portu komunikatora " + std::to_string(port) + ": " + Simplified(error);
}

TServerWindow::TServerWindow(TActivityLog& log, const TCommandLine& options, TEventLoop& loop)
    : FOptions(options), FSerwer(std::make_unique<TSerwer>(log, options, loop))
{
    FSerwer->OnProblem = [this](const TProblem& p) { ShowProblem(p.Key, p.WindowText); };
}

TServerWindow::~TServerWindow()
{
    FSerwer.reset();
}

void TServerWindow::Start(const std::function<void(const std::string& address)>& showAddress)
{
    // The stored address, or the one given for this run, which is shown but not stored.
    std::string address = Znaki::FromCp1250(FSerwer->AnnouncedAddress());
    FShowingGivenAddress = FOptions.Address.has_value();
    showAddress(address);
    FShowingGivenAddress = false;
    if (std::string error = FSerwer->Start(); !error.empty())
        ShowProblem(ProblemMessengerPort, MessengerPortProblem(FSerwer->ZZSerwer().GetPort(), error));
}

void TServerWindow::AddressEdited(const std::string& utf8)
{
    if (FShowingGivenAddress)
        return;
    FSerwer->SetAnnouncedAddress(Znaki::ToCp1250(utf8));
    FSerwer->StoreAddress(utf8);
}

void TServerWindow::ShowProblem(const std::string& key, const std::string& text)
{
    if (text.empty())
        FProblems.erase(key);
    else
        FProblems[key] = text;
    std::string lines;
    for (const auto& [k, line] : FProblems)
        lines += (lines.empty() ? "" : "\n") + line;
    FProblemsText = lines;
    if (OnProblemsChanged)
        OnProblemsChanged(FProblemsText);
}
