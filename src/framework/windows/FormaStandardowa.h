#pragma once
// The standard window of the maker's applications, drawn with the system's own controls: the
// menu bar of the standard menu table, the main toolbar with its close button, a status bar that
// shows the hint of what is under the mouse or selected (the legal notice otherwise), the title
// from the version resource, help through a help file next to the program, the system's about
// box, the contact and update actions through the shell, and the check for a newer version in the
// background. What these decide lives in framework/ (MenuTable, StatusHint, VersionCheck,
// AboutBox, ContactActions); this class draws and calls the system.
//
// The window runs on the event loop's thread: the loop takes its messages out of the same queue
// as the sockets' (SetWindowMessageFilter gives it its keyboard shortcuts first).
#include <functional>
#include <memory>
#include <string>

#include "core/windows/WindowsHeaders.h"
#include "framework/MenuTable.h"
#include "framework/VersionCheck.h"
#include "framework/Wspolne99.h"

class TVersionDownload;

class TFormaStandardowa {
public:
    TFormaStandardowa();
    virtual ~TFormaStandardowa();  // FormDestroy: the window, the kept download
    TFormaStandardowa(const TFormaStandardowa&) = delete;
    TFormaStandardowa& operator=(const TFormaStandardowa&) = delete;

    // Start-up of the window, after construction; derived windows call the inherited one first.
    virtual void FormCreate();
    // Each time the window closes; derived windows call the inherited one first.
    virtual void FormClose();

    void FileExitItemClick();
    void Contents1Click();
    void Temmenu1Click();
    void AboutItemClick();
    // The status bar: the hint's long part, or the legal notice when it is empty.
    void PokazOpis(const std::string& hint);
    void Telefon1Click();
    void Poczta1Click();
    void Hipertekst1Click();
    void Uaktualnienie1Click();

    HWND Handle() const { return FWindow; }
    HWND StatusBar1() const { return FStatusBar; }
    HWND MainToolbar() const { return FToolbar; }
    HMENU MainMenu() const { return FMenu; }
    HMENU FileMenu() const { return FFileMenu; }
    HMENU Help1() const { return FHelpMenu; }
    // The menu command identifier of a command of the table.
    static UINT CommandId(TMenuCommand command) { return 100 + static_cast<UINT>(command); }
    // The status bar's text now.
    std::string StatusText() const;
    // Runs the command as its menu item does.
    void RunCommand(TMenuCommand command);
    // The system's dpi (the primary monitor's at log-on): what a control that does not follow
    // its window's monitor draws at.
    static UINT SystemDpi();
    // The keyboard shortcuts of the menus (Alt+X, F1, Ctrl+Enter); true when the message was one.
    bool TranslateShortcut(MSG& msg);

    std::string ProductName, ProductUrl, LegalCopyright;
    TVersionPair ProductVersion;
    std::string HelpFile;
    bool HtmlHelpFile = false;

    // Opens an address through the shell (true when it opened) and shows a message box;
    // replaceable so that tests stay quiet.
    std::function<bool(const std::string& address)> ShellOpen;
    std::function<void(const std::string& caption, const std::string& text, UINT icon)> ShowMessageBox;

    TVersionCheck VersionCheck;
    // Starts the check in the background; the notice appears when the answer arrives.
    void CheckForNewVersion();
    bool DownloadRunning() const;
    // Stops a running download and deletes its file (closing the window does this).
    void AbandonDownload();

    // The caption of the application menu (derived windows name it).
    std::string FileMenuCaption = "&?";

protected:
    // Called for every message of the window; the default handles the frame's own.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The client area between the toolbar and the status bar changed; derived windows lay out
    // their controls in it.
    virtual void LayOut(const RECT& area) { (void)area; }
    // The message box routine: "<product> - <title>", the text, the icon and buttons.
    void MessageBox(const std::string& title, const std::string& text, UINT icon);
    // Creates the frame window (hidden) with its menu, toolbar and status bar.
    void CreateFrame(const std::string& caption, int left, int top, int width, int height);
    // The area for the derived window's controls.
    RECT ClientArea() const;

    // The window's dots per inch (96 at 100%): its monitor's, where the system scales each
    // monitor on its own.
    UINT Dpi() const { return FDpi; }
    // A length of the design (drawn at 96 dpi) at the window's dpi.
    int Scaled(int designPixels) const { return MulDiv(designPixels, static_cast<int>(FDpi), 96); }
    // The window has come to a monitor of another scale: FFont is already the new one. Derived
    // windows give it to their controls and rescale what they keep in pixels (from oldDpi).
    virtual void DpiChanged(UINT oldDpi) { (void)oldDpi; }

    HWND FWindow = nullptr;
    HFONT FFont = nullptr;

private:
    static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void BuildMenus();
    void BuildToolbar();
    void MenuSelected(WPARAM wParam, LPARAM lParam);
    void StartDownload(const TDownload& download);
    void DownloadStopped(const struct TDownloadResult& result);
    void ShowError(const char* sentence);
    void ScaleTo(UINT dpi, const RECT* frame);

    UINT FDpi = 96;
    HWND FStatusBar = nullptr;
    HWND FToolbar = nullptr;
    HMENU FMenu = nullptr, FFileMenu = nullptr, FHelpMenu = nullptr;
    HACCEL FShortcuts = nullptr;
    HICON FIcon = nullptr, FSmallIcon = nullptr;
    std::shared_ptr<TVersionDownload> FDownload;
    bool FDestroying = false;
};

// The message a finished download posts to its window (wParam: the download's serial).
inline constexpr UINT WM_DOWNLOAD_STOPPED = WM_APP + 0x4100;
