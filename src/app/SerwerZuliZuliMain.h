#pragma once
// The console window: the announced address in an edit field that is stored at every change,
// and the activity log. It owns the two servers (through TSerwer).
#include <memory>

#include "app/CommandLine.h"
#include "app/LogPane.h"
#include "app/Serwer.h"
#include "framework/FormaBezdokumentowaPozycjonowana.h"

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

    TSerwer& Serwer() { return *FSerwer; }
    TLogPane& Log() { return *FLog; }

private:
    TCommandLine FOptions;
    TEventLoop& FLoop;
    TLogPane* FLog = nullptr;  // owned by the pane
    QSocketNotifier* FNotifier = nullptr;
    std::unique_ptr<TSerwer> FSerwer;
};

// Runs the program with its window; returns the exit status.
int RunWindow(int argc, char** argv, const TCommandLine& options);
