#include "framework/windows/FormaStandardowa.h"

#include <commctrl.h>
#include <shellapi.h>
#include <tapi.h>

#include <vector>

#include "core/windows/WideText.h"
#include "framework/AboutBox.h"
#include "framework/ContactActions.h"
#include "framework/StatusHint.h"
#include "framework/windows/VersionDownload.h"

namespace {

const wchar_t FrameClass[] = L"TFormaStandardowa";
constexpr UINT ExitButtonId = 0x7F00;
constexpr UINT_PTR DownloadTimer = 0x7F01;

// HTML Help lives in a library of the system's; asked for only when there is a help file.
using THtmlHelp = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
constexpr UINT HH_DISPLAY_TOPIC = 0x0000;
constexpr UINT HH_CLOSE_ALL = 0x0012;

THtmlHelp HtmlHelpFunction()
{
    static THtmlHelp function = [] {
        HMODULE library = LoadLibraryW(L"hhctrl.ocx");
        return library ? reinterpret_cast<THtmlHelp>(reinterpret_cast<void*>(GetProcAddress(library, "HtmlHelpW")))
                       : nullptr;
    }();
    return function;
}

// "MS Sans Serif" at 8 points, the window's font, at a dpi.
HFONT StandardFont(UINT dpi)
{
    return CreateFontW(-MulDiv(8, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       WideOf(StandardFontName).c_str());
}

// The dpi of a window's monitor. Windows 10 (1607 on) says it; older systems scale every monitor
// alike at start, and tell of a move to another scale by WM_DPICHANGED (8.1) or not at all.
UINT DpiOfWindow(HWND window)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static auto function = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = function ? function(window) : 0;
    return dpi ? dpi : TFormaStandardowa::SystemDpi();
}

}  // namespace

UINT TFormaStandardowa::SystemDpi()
{
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

TFormaStandardowa::TFormaStandardowa()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    ShellOpen = [this](const std::string& address) {
        auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(FWindow, L"open", WideOf(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        return result > 32;
    };
    ShowMessageBox = [this](const std::string& caption, const std::string& text, UINT icon) {
        MessageBoxW(FWindow, WideOf(text).c_str(), WideOf(caption).c_str(), MB_OK | icon);
    };
}

TFormaStandardowa::~TFormaStandardowa()
{
    FDestroying = true;
    AbandonDownload();
    if (FWindow) {
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
        DestroyWindow(FWindow);  // the menu goes with it
    }
    if (FShortcuts)
        DestroyAcceleratorTable(FShortcuts);
    if (FFont)
        DeleteObject(FFont);
    if (FIcon)
        DestroyIcon(FIcon);
    if (FSmallIcon)
        DestroyIcon(FSmallIcon);
}

void TFormaStandardowa::CreateFrame(const std::string& caption, int left, int top, int width, int height)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // The program's icon (resource 1), large and small; the system's application icon without it.
    FIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                          GetSystemMetrics(SM_CYICON), 0));
    FSmallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &TFormaStandardowa::StaticWndProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = FrameClass;
    RegisterClassExW(&cls);  // once per process; a second time fails harmlessly

    BuildMenus();
    FWindow = CreateWindowExW(0, FrameClass, WideOf(caption).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, left, top,
                              width, height, nullptr, FMenu, instance, this);
    if (!FWindow)
        return;
    // The font at the scale of the monitor the window is on (it has no controls yet).
    FDpi = DpiOfWindow(FWindow);
    FFont = StandardFont(FDpi);
    if (FIcon)
        SendMessageW(FWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
    if (FSmallIcon)
        SendMessageW(FWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FSmallIcon));
    BuildToolbar();
    FStatusBar = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, FWindow,
                                 nullptr, instance, nullptr);
    SendMessageW(FStatusBar, SB_SIMPLE, TRUE, 0);  // one simple panel: the hints
}

void TFormaStandardowa::BuildMenus()
{
    FMenu = CreateMenu();
    HMENU current = nullptr;
    std::vector<ACCEL> shortcuts;
    for (const TMenuItem& item : StandardMenu()) {
        switch (item.Kind) {
        case TMenuItemKind::TopMenu: {
            current = CreatePopupMenu();
            std::string caption = item.Caption;
            if (std::string(item.Name) == "FileMenu") {
                caption = FileMenuCaption;
                FFileMenu = current;
            } else {
                FHelpMenu = current;
            }
            AppendMenuW(FMenu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(current), WideOf(caption).c_str());
            break;
        }
        case TMenuItemKind::Separator:
            AppendMenuW(current, MF_SEPARATOR, 0, nullptr);
            break;
        case TMenuItemKind::Item: {
            std::string caption = item.Caption;
            if (!item.Shortcut.IsNone())
                caption += "\t" + item.Shortcut.Text();
            AppendMenuW(current, MF_STRING, CommandId(item.Command), WideOf(caption).c_str());
            if (!item.Shortcut.IsNone()) {
                BYTE flags = FVIRTKEY;
                if (item.Shortcut.Ctrl)
                    flags |= FCONTROL;
                if (item.Shortcut.Alt)
                    flags |= FALT;
                shortcuts.push_back({flags, static_cast<WORD>(item.Shortcut.Key), static_cast<WORD>(CommandId(item.Command))});
            }
            break;
        }
        }
    }
    FShortcuts = CreateAcceleratorTableW(shortcuts.data(), static_cast<int>(shortcuts.size()));
}

void TFormaStandardowa::BuildToolbar()
{
    const TToolButton& exit = ExitButton();
    FToolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, WideOf(MainToolbarCaption).c_str(),
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0, FWindow,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(FToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    // The glyph: the system's own "delete" cross, small.
    TBADDBITMAP bitmap{HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    auto first = static_cast<int>(SendMessageW(FToolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&bitmap)));
    TBBUTTON button{};
    button.iBitmap = (first < 0 ? 0 : first) + STD_DELETE;
    button.idCommand = static_cast<int>(CommandId(exit.Command));
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_BUTTON;
    button.iString = -1;  // glyph only; the caption is the tooltip
    SendMessageW(FToolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    SendMessageW(FToolbar, TB_AUTOSIZE, 0, 0);
}

RECT TFormaStandardowa::ClientArea() const
{
    RECT area{};
    GetClientRect(FWindow, &area);
    RECT r{};
    if (FToolbar && GetWindowRect(FToolbar, &r))
        area.top += r.bottom - r.top;
    if (FStatusBar && GetWindowRect(FStatusBar, &r))
        area.bottom -= r.bottom - r.top;
    if (area.bottom < area.top)
        area.bottom = area.top;
    return area;
}

void TFormaStandardowa::FormCreate()
{
    TProductInfo info = ProductInfoOf(ProgramPath());
    ProductName = info.ProductName;
    ProductUrl = info.ProductUrl;
    LegalCopyright = info.LegalCopyright;
    ProductVersion = info.ProductVersion;
    SetWindowTextW(FWindow, WideOf(ProductName).c_str());
    PokazOpis("");

    HelpFile = FindHelpFile(HelpFileBase(ProgramPath()));
    HtmlHelpFile = HelpViewerOf(HelpFile) == THelpViewer::HtmlHelp;
    TMenuState state{!HelpFile.empty(), !ProductUrl.empty()};
    for (const TMenuItem& item : StandardMenu())
        if (item.Kind == TMenuItemKind::Item)
            EnableMenuItem(FMenu, CommandId(item.Command),
                           MF_BYCOMMAND | (MenuItemEnabled(item.Command, state) ? MF_ENABLED : MF_GRAYED));
    CheckForNewVersion();
}

void TFormaStandardowa::FormClose()
{
    // The help windows close with the window.
    if (HtmlHelpFile) {
        if (THtmlHelp help = HtmlHelpFunction())
            help(nullptr, nullptr, HH_CLOSE_ALL, 0);
    } else if (!HelpFile.empty()) {
        WinHelpW(FWindow, WideOf(HelpFile).c_str(), HELP_QUIT, 0);
    }
    AbandonDownload();  // a check still running ends with the window
}

bool TFormaStandardowa::TranslateShortcut(MSG& msg)
{
    if (!FWindow || !FShortcuts)
        return false;
    if (msg.hwnd != FWindow && !IsChild(FWindow, msg.hwnd))
        return false;
    return TranslateAcceleratorW(FWindow, FShortcuts, &msg) != 0;
}

void TFormaStandardowa::RunCommand(TMenuCommand command)
{
    RunMenuCommand(*this, command);
}

void TFormaStandardowa::FileExitItemClick()
{
    PostMessageW(FWindow, WM_CLOSE, 0, 0);
}

void TFormaStandardowa::Contents1Click()
{
    if (HelpFile.empty())
        return;
    if (HtmlHelpFile) {
        if (THtmlHelp help = HtmlHelpFunction())
            help(nullptr, WideOf(HelpFile).c_str(), HH_DISPLAY_TOPIC, 0);
    } else {
        WinHelpW(FWindow, WideOf(HelpFile).c_str(), HELP_FINDER, 0);
    }
}

void TFormaStandardowa::Temmenu1Click()
{
    if (HelpFile.empty())
        return;  // no help file: nothing to ask about
    if (HtmlHelpFile)
        Contents1Click();
    else
        WinHelpW(FWindow, WideOf(HelpFile).c_str(), HELP_HELPONHELP, 0);
}

void TFormaStandardowa::AboutItemClick()
{
    ShellAboutW(FWindow, WideOf(SystemAboutTitle(ProductName)).c_str(),
                WideOf(AboutText(ProductName, ProductVersion, LegalCopyright)).c_str(), FIcon);
}

std::string TFormaStandardowa::StatusText() const
{
    if (!FStatusBar)
        return {};
    // The simple panel's text is asked for as its own (some status bars) or as the first part's.
    for (WPARAM part : {WPARAM(SB_SIMPLEID), WPARAM(0)}) {
        auto length = LOWORD(SendMessageW(FStatusBar, SB_GETTEXTLENGTHW, part, 0));
        if (length == 0)
            continue;
        std::vector<wchar_t> text(length + 1u, L'\0');
        SendMessageW(FStatusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data()));
        return Utf8Of(text.data());
    }
    return {};
}

void TFormaStandardowa::PokazOpis(const std::string& hint)
{
    if (!FStatusBar)
        return;
    std::string text = StatusBarText(LongHint(hint), LegalCopyright);
    if (StatusText() != text)
        SendMessageW(FStatusBar, SB_SETTEXTW, SB_SIMPLEID | SBT_NOBORDERS, reinterpret_cast<LPARAM>(WideOf(text).c_str()));
}

void TFormaStandardowa::MessageBox(const std::string& title, const std::string& text, UINT icon)
{
    ShowMessageBox(MessageBoxCaption(ProductName, title), text, icon);
}

void TFormaStandardowa::ShowError(const char* sentence)
{
    MessageBox(ErrorTitle, ErrorBoxText(sentence), 0);
}

void TFormaStandardowa::Telefon1Click()
{
    // The system's telephony places the call; its answer is not looked at.
    TContactData contact;
    tapiRequestMakeCallW(WideOf(contact.TelephoneNumber).c_str(), WideOf(ProductName).c_str(),
                         WideOf(contact.ContactName).c_str(), WideOf(EnquiryAbout(contact.ContactName)).c_str());
}

void TFormaStandardowa::Poczta1Click()
{
    if (!ShellOpen(MailAddressFor(TContactData{}.MailAddress, ProductName)))
        ShowError(MailFailure);
}

void TFormaStandardowa::Hipertekst1Click()
{
    if (!ShellOpen(TContactData{}.WebPage))
        ShowError(BrowserFailure);
}

void TFormaStandardowa::Uaktualnienie1Click()
{
    if (!ShellOpen(ProductUrl))
        ShowError(BrowserFailure);
}

// --- version check ---------------------------------------------------------------------------

void TFormaStandardowa::CheckForNewVersion()
{
    if (auto download = VersionCheck.Start(InstallLocationOf(ProgramPath()), FileVersionOf(ProgramPath())))
        StartDownload(*download);
}

bool TFormaStandardowa::DownloadRunning() const
{
    return FDownload != nullptr;
}

void TFormaStandardowa::StartDownload(const TDownload& download)
{
    static WPARAM serial = 0;
    FDownload = TVersionDownload::Start(FWindow, WM_DOWNLOAD_STOPPED, ++serial, download, TVersionCheck::TimeLimitMs);
    // The whole download ends within the limit: what has not come by then is a failure.
    SetTimer(FWindow, DownloadTimer, TVersionCheck::TimeLimitMs, nullptr);
}

void TFormaStandardowa::AbandonDownload()
{
    if (FWindow)
        KillTimer(FWindow, DownloadTimer);
    if (FDownload) {
        FDownload->Abandon();
        FDownload.reset();
    }
    if (VersionCheck.Downloading())
        VersionCheck.Abandon();
}

void TFormaStandardowa::DownloadStopped(const TDownloadResult& result)
{
    KillTimer(FWindow, DownloadTimer);
    FDownload.reset();
    TVersionStep step = VersionCheck.Stopped(result);
    if (step.ShowNotice)
        SendMessageW(FStatusBar, SB_SETTEXTW, SB_SIMPLEID | SBT_NOBORDERS,
                     reinterpret_cast<LPARAM>(WideOf(NewerVersionNotice).c_str()));
    if (step.Next)
        StartDownload(*step.Next);
}

// --- messages ----------------------------------------------------------------------------------

LRESULT CALLBACK TFormaStandardowa::StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<TFormaStandardowa*>(create->lpCreateParams);
        self->FWindow = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TFormaStandardowa*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || self->FDestroying)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->WndProc(message, wParam, lParam);
}

void TFormaStandardowa::ScaleTo(UINT dpi, const RECT* frame)
{
    // The window is on a monitor of another scale now (or its scale was changed): its font and
    // every length follow, and the frame takes the rectangle the system suggests, which keeps
    // it under the mouse while it is dragged across.
    UINT oldDpi = FDpi;
    if (dpi != 0 && dpi != oldDpi) {
        FDpi = dpi;
        HFONT previous = FFont;
        FFont = StandardFont(FDpi);
        DpiChanged(oldDpi);
        if (previous)
            DeleteObject(previous);
    }
    if (frame)
        SetWindowPos(FWindow, nullptr, frame->left, frame->top, frame->right - frame->left, frame->bottom - frame->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (FToolbar)
        SendMessageW(FToolbar, TB_AUTOSIZE, 0, 0);
    if (FStatusBar)
        SendMessageW(FStatusBar, WM_SIZE, 0, 0);
    LayOut(ClientArea());
}

void TFormaStandardowa::MenuSelected(WPARAM wParam, LPARAM lParam)
{
    UINT item = LOWORD(wParam);
    UINT flags = HIWORD(wParam);
    auto menu = reinterpret_cast<HMENU>(lParam);
    if (flags == 0xFFFF && !menu) {  // the menu closed
        PokazOpis("");
        return;
    }
    const TMenuItem* shown = nullptr;
    if (flags & MF_POPUP) {
        HMENU popup = GetSubMenu(menu, static_cast<int>(item));
        shown = MenuItemNamed(popup == FFileMenu ? "FileMenu" : "Help1");
    } else if (!(flags & MF_SEPARATOR) && item >= CommandId(TMenuCommand::FileExit)) {
        shown = MenuItemFor(static_cast<TMenuCommand>(item - CommandId(TMenuCommand::None)));
    }
    // A disabled item or a separator shows no hint of its own.
    bool disabled = (flags & (MF_GRAYED | MF_DISABLED)) != 0;
    PokazOpis(shown && !disabled ? MenuHint(*shown, ProductName) : std::string());
}

LRESULT TFormaStandardowa::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: {
        if (FToolbar)
            SendMessageW(FToolbar, TB_AUTOSIZE, 0, 0);
        if (FStatusBar)
            SendMessageW(FStatusBar, WM_SIZE, 0, 0);
        LayOut(ClientArea());
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) <= 1 && lParam == 0) {  // a menu item or a shortcut
            RunCommand(static_cast<TMenuCommand>(LOWORD(wParam) - CommandId(TMenuCommand::None)));
            return 0;
        }
        if (reinterpret_cast<HWND>(lParam) == FToolbar) {  // the toolbar's button
            RunCommand(static_cast<TMenuCommand>(LOWORD(wParam) - CommandId(TMenuCommand::None)));
            return 0;
        }
        break;
    case WM_DPICHANGED:
        ScaleTo(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_MENUSELECT:
        MenuSelected(wParam, lParam);
        return 0;
    case WM_EXITMENULOOP:
        PokazOpis("");
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == TTN_GETDISPINFOW) {
            // The button's tooltip is its hint's short part; the status bar its empty long part.
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            static std::wstring tip;
            tip = WideOf(ShortHint(ExitButton().Hint));
            info->lpszText = tip.data();
            PokazOpis(ExitButton().Hint);
            return 0;
        }
        if (header->hwndFrom == FToolbar && header->code == static_cast<UINT>(TBN_HOTITEMCHANGE)) {
            auto* hot = reinterpret_cast<NMTBHOTITEM*>(lParam);
            PokazOpis((hot->dwFlags & HICF_LEAVING) ? std::string() : std::string(ExitButton().Hint));
            return 0;
        }
        break;
    }
    case WM_TIMER:
        if (wParam == DownloadTimer) {
            // The limit has passed: the download is a failure, whenever it ends.
            KillTimer(FWindow, DownloadTimer);
            if (FDownload) {
                FDownload->Abandon();
                FDownload.reset();
                TVersionStep step = VersionCheck.Stopped(TDownloadResult{});
                (void)step;  // a failure fetches nothing more
            }
            return 0;
        }
        break;
    case WM_DOWNLOAD_STOPPED:
        if (FDownload && FDownload->Serial() == wParam)
            DownloadStopped(FDownload->Result());
        return 0;
    case WM_CLOSE:
        FormClose();
        DestroyWindow(FWindow);
        return 0;
    case WM_DESTROY:
        FStatusBar = FToolbar = nullptr;
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
        FWindow = nullptr;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}
