#pragma once
// What the server's console window (TForm1) does, whatever toolkit draws it: its designed texts
// and layout, the start-up sequence that follows the start-up of the window's bases, the
// announced address shown in the edit and stored at every change, and the line of problems shown
// under the address. It owns the two servers (through TSerwer). Everything runs on the thread of
// the window's loop.
//
//   TServerWindow w(log, options, loop);            // with the window
//   w.OnProblemsChanged = [&](const std::string& text) { show text under the address; hide if empty };
//   ... the bases' FormCreate (caption, menus, help, placement) ...
//   w.Start([&](const std::string& address) { set the edit's text });
//   ... each change of the edit's text:  w.AddressEdited(text);
//   ... the window goes: w goes (messenger server first, then the HTTP server).
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/Serwer.h"

struct TServerWindowDesign {
    // Designed bounds (the window's placement replaces them at start-up).
    static constexpr int Left = 503, Top = 80, Width = 778, Height = 657;
    static constexpr const char* Caption = "Trelubki Serwer Zuli-Zuli";
    static constexpr const char* ServerMenuCaption = "&Serwer";  // the application menu's caption
    // Panel1: above the log, at least this high; Label1 and the address edit in it.
    static constexpr int PanelMinHeight = 70;
    static constexpr const char* AddressLabel = "Nazwa serwera dla klientów";
    static constexpr int LabelLeft = 8, LabelTop = 8;
    static constexpr int EditLeft = 8, EditTop = 24, EditWidth = 193, EditHeight = 21;
    static constexpr const char* EditInitialText = "localhost";
    // The problems line: below the edit, red, wrapped; hidden while there are none.
    static constexpr int ProblemsLeft = 8, ProblemsTop = 48;
    // RichEdit1, the log: at the bottom, this high; Splitter1 above it, this thick.
    static constexpr int LogHeight = 379, SplitterHeight = 3;
    static constexpr const char* LogFontName = "MS Sans Serif";
    static constexpr int LogFontPoints = 8;  // height -11 at 96 dpi, bold, blue
};

class TServerWindow {
public:
    TServerWindow(TActivityLog& log, const TCommandLine& options, TEventLoop& loop = TEventLoop::Default());
    // The messenger server first (closing every client), then the HTTP server.
    ~TServerWindow();

    // The window's own start-up steps, after its bases': the address into the edit (showAddress
    // sets the edit's text, UTF-8), then the HTTP service, the messenger server and the notice in
    // the log. The edit's change event that showAddress may raise goes to AddressEdited as any
    // other, except that an address given on the command line is shown but not stored. A
    // messenger port that cannot be opened is a problem (MessengerPortProblem).
    void Start(const std::function<void(const std::string& address)>& showAddress);
    // The edit's text changed (UTF-8): announced from now on and stored.
    void AddressEdited(const std::string& utf8);

    // The problems line changed: its text, one problem a line ('\n' between), empty when there
    // are none. Assign before Start.
    std::function<void(const std::string& text)> OnProblemsChanged;
    const std::string& ProblemsText() const { return FProblemsText; }
    // Shows a problem under its key; an empty text ends it.
    void ShowProblem(const std::string& key, const std::string& text);

    TSerwer& Serwer() { return *FSerwer; }

private:
    TCommandLine FOptions;
    std::unique_ptr<TSerwer> FSerwer;
    std::map<std::string, std::string> FProblems;  // key -> the line shown
    std::string FProblemsText;
    bool FShowingGivenAddress = false;
};

// The problems line's key and text when the messenger port cannot be opened: "Nie udało się
// otworzyć portu komunikatora <port>: <the socket layer's error, on one line>".
inline constexpr const char* ProblemMessengerPort = "messenger";
std::string MessengerPortProblem(int port, const std::string& error);
