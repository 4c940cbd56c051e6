#pragma once
// The console window on Windows: the announced address in an edit field stored at every change,
// a line of problems under it, the splitter and the activity log in a read-only rich edit. What
// it does is TServerWindow's (which owns the two servers); this class draws it with the system's
// controls. The servers run on the same thread: the event loop takes the window's messages and
// the sockets' out of one queue.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/ServerWindow.h"
#include "app/windows/RichEditLog.h"
#include "framework/windows/FormaBezdokumentowaPozycjonowana.h"

class TForm1 : public TFormaBezdokumentowaPozycjonowana {
public:
    // Creates the window (hidden) with its controls and the servers (not yet started).
    explicit TForm1(const TCommandLine& options, TEventLoop& loop = TEventLoop::Default());
    ~TForm1() override;  // FormDestroy: the messenger server, then the HTTP server, then the bases

    // Whether the window could be made (a session without a desktop cannot).
    bool Created() const { return FWindow != nullptr; }
    // The start-up sequence: the bases' start-up, the stored address, the servers.
    void FormCreate() override;
    // Shows the window in its stored state.
    void Show();
    void AdresSerwisuEdChange();

    HWND Label1 = nullptr;
    HWND AdresSerwisuEd = nullptr;
    HWND Problems = nullptr;
    HWND RichEdit1 = nullptr;
    // The splitter's band between the panel and the log, in client coordinates.
    RECT Splitter1() const;
    // The log's height; the splitter sets it, bounded by the panel's minimum and the log's.
    int LogHeight() const { return FLogHeight; }
    void SetLogHeight(int height);
    // The problems line's text (UTF-8), empty while all is well.
    std::string ProblemsText() const;

    TServerWindow& Server() { return *FServer; }
    TRichEditLog& Log() { return *FLog; }

    static constexpr int SplitterHeight = TServerWindowDesign::SplitterHeight;
    static constexpr int LogMinHeight = 40;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void LayOut(const RECT& area) override;
    void DpiChanged(UINT oldDpi) override;

private:
    int PanelHeightNeeded() const;
    void ProblemsChanged(const std::string& text);
    // The log's text drawn at the window's scale (the rich edit draws at the system's).
    void ZoomToWindow(HWND pane) const;

    TEventLoop& FLoop;
    std::unique_ptr<TRichEditLog> FLog;
    std::unique_ptr<TServerWindow> FServer;
    int FLogHeight = TServerWindowDesign::LogHeight;  // pixels at the window's dpi
    std::string FProblems;                             // the problems line's text, lines by LF
    int FProblemsHeight = 0;
    bool FDragging = false;
    int FDragOffset = 0;
};

// Runs the program with its window until the window closes; returns the exit status, or nothing
// when no window can be made (the caller then runs headless).
std::optional<int> RunWindow(const TCommandLine& options);
