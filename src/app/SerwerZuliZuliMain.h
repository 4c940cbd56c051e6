#pragma once
// The console window: the announced address in an edit field that is stored at every change,
// and the activity log. It owns the two servers (through TSerwer).
#include <memory>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/LogPane.h"
#include "app/ServerWindow.h"
#include "framework/FormaBezdokumentowaPozycjonowana.h"

class QIcon;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSocketNotifier;
class QSplitter;
class QWidget;

class TForm1 : public TFormaBezdokumentowaPozycjonowana {
public:
    explicit TForm1(const TCommandLine& options, TEventLoop& loop = TEventLoop::Default());
    ~TForm1() override;  // FormDestroy: the messenger server, then the HTTP server, then the bases

    void FormCreate() override;
    void AdresSerwisuEdChange(const QString& text);

    QWidget* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* AdresSerwisuEd = nullptr;
    QPlainTextEdit* RichEdit1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    // Says, in red under the address, what keeps the server from working as asked, a line each:
    // the messenger port that could not be opened, why the HTTP port could not be, settings that
    // cannot be read or stored (the log keeps only its own lines); hidden while all is well.
    QLabel* Problems = nullptr;
    // Shows a problem (TProblem's Key and WindowText) in that line; an empty text ends it.
    void ShowProblem(const std::string& key, const std::string& text) { FBehaviour->ShowProblem(key, text); }

    TSerwer& Serwer() { return FBehaviour->Serwer(); }
    TLogPane& Log() { return *FLog; }

private:
    void ShowProblems(const std::string& text);

    TEventLoop& FLoop;
    TLogPane* FLog = nullptr;  // owned by the pane
    QSocketNotifier* FNotifier = nullptr;
    std::unique_ptr<TServerWindow> FBehaviour;  // what the window does; this draws it
};

// The program's icon (window, about box).
QIcon ProgramIcon();

// Runs the program with its window; returns the exit status, or nothing (having said why on
// stderr) when no display can be reached, for the caller to run headless. SIGINT and SIGTERM,
// blocked by PrepareProcess before any thread starts, arrive on its descriptor and close the
// window.
std::optional<int> RunWindow(int argc, char** argv, const TCommandLine& options);
