#include "app/windows/Form1Window.h"

#include <richedit.h>

#include <algorithm>
#include <vector>

#include "MessageFilter.h"
#include "core/Random.h"
#include "core/windows/WideText.h"

namespace {

constexpr int EditId = 1001;
constexpr int LabelHeight = 14;  // at 96 dpi, as every length of the design

std::string TextOf(HWND control)
{
    int length = GetWindowTextLengthW(control);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(control, text.data(), length + 1);
    return Utf8Of(text.data());
}

}  // namespace

TForm1::TForm1(const TCommandLine& options, TEventLoop& loop) : FLoop(loop)
{
    using D = TServerWindowDesign;
    LoadLibraryW(L"msftedit.dll");  // the rich edit's class
    FileMenuCaption = D::ServerMenuCaption;
    CreateFrame(D::Caption, D::Left, D::Top, D::Width, D::Height);
    if (!FWindow)
        return;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    auto child = [this, instance](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
        HWND h = CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 0, 0, FWindow,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
        return h;
    };
    Label1 = child(0, L"STATIC", WideOf(D::AddressLabel).c_str(), WS_VISIBLE | SS_NOPREFIX, 0);
    AdresSerwisuEd = child(WS_EX_CLIENTEDGE, L"EDIT", WideOf(D::EditInitialText).c_str(),
                           WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, EditId);
    Problems = child(0, L"STATIC", L"", SS_NOPREFIX | SS_EDITCONTROL, 0);
    // The log pane; made again, empty, when the log renews it.
    auto makePane = [this, child] {
        using D = TServerWindowDesign;
        HWND pane = child(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                          WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                              ES_AUTOHSCROLL | ES_DISABLENOSCROLL | ES_NOHIDESEL,
                          0);
        // The log's font: "MS Sans Serif", height -11 (8 points), bold, blue.
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        format.dwMask = CFM_FACE | CFM_SIZE | CFM_BOLD | CFM_COLOR | CFM_CHARSET;
        format.dwEffects = CFE_BOLD;
        format.yHeight = D::LogFontPoints * 20;  // twips
        format.crTextColor = RGB(clBlue.R, clBlue.G, clBlue.B);
        format.bCharSet = DEFAULT_CHARSET;
        wcsncpy(format.szFaceName, WideOf(D::LogFontName).c_str(), LF_FACESIZE - 1);
        SendMessageW(pane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
        SendMessageW(pane, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
        ZoomToWindow(pane);
        return pane;
    };
    FLog = std::make_unique<TRichEditLog>(makePane, FWindow);
    RichEdit1 = FLog->Pane();
    FLog->OnPaneRenewed = [this](HWND pane) {
        RichEdit1 = pane;
        LayOut(ClientArea());
    };
    FLogHeight = Scaled(TServerWindowDesign::LogHeight);
    FServer = std::make_unique<TServerWindow>(*FLog, options, FLoop);
    FServer->OnProblemsChanged = [this](const std::string& text) { ProblemsChanged(text); };
    LayOut(ClientArea());
}

TForm1::~TForm1()
{
    FServer.reset();  // messenger server first (closing every client), then the HTTP server
    if (FLog)
        FLog->Flush();
}

void TForm1::FormCreate()
{
    TFormaBezdokumentowaPozycjonowana::FormCreate();
    FServer->Start([this](const std::string& address) {
        // The edit says when its text is set, even to the same text: only a different one is
        // set (and stored), as a toolkit's edit does.
        if (TextOf(AdresSerwisuEd) != address)
            SetWindowTextW(AdresSerwisuEd, WideOf(address).c_str());
    });
    FLog->Flush();
}

void TForm1::Show()
{
    ShowWindow(FWindow, ShowCommand());
    UpdateWindow(FWindow);
}

void TForm1::AdresSerwisuEdChange()
{
    FServer->AddressEdited(TextOf(AdresSerwisuEd));
}

std::string TForm1::ProblemsText() const
{
    return IsWindowVisible(Problems) ? TextOf(Problems) : std::string();
}


void TForm1::ProblemsChanged(const std::string& text)
{
    FProblems = text;
    std::string lines;
    for (char c : text)
        lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
    SetWindowTextW(Problems, WideOf(lines).c_str());
    // As tall as its lines need at the panel's width.
    RECT area = ClientArea();
    RECT r{0, 0, std::max<LONG>(area.right - area.left - Scaled(16), Scaled(50)), 0};
    HDC dc = GetDC(Problems);
    HGDIOBJ old = SelectObject(dc, FFont);
    std::wstring wide = WideOf(lines);
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(Problems, dc);
    FProblemsHeight = lines.empty() ? 0 : r.bottom + 2;
    ShowWindow(Problems, lines.empty() ? SW_HIDE : SW_SHOWNA);
    LayOut(area);
}

int TForm1::PanelHeightNeeded() const
{
    using D = TServerWindowDesign;
    int least = Scaled(D::PanelMinHeight);
    return FProblemsHeight == 0 ? least : std::max(least, Scaled(D::ProblemsTop) + FProblemsHeight + Scaled(4));
}

RECT TForm1::Splitter1() const
{
    RECT area = ClientArea();
    int band = Scaled(SplitterHeight);
    int logTop = std::max<int>(area.bottom - FLogHeight, area.top + PanelHeightNeeded() + band);
    return {area.left, logTop - band, area.right, logTop};
}

void TForm1::SetLogHeight(int height)
{
    RECT area = ClientArea();
    int least = Scaled(LogMinHeight);
    int most = std::max<int>(least, area.bottom - area.top - PanelHeightNeeded() - Scaled(SplitterHeight));
    FLogHeight = std::clamp(height, least, most);
    LayOut(area);
}

void TForm1::LayOut(const RECT& area)
{
    if (!RichEdit1)
        return;
    int width = area.right - area.left;
    RECT splitter = Splitter1();
    int logTop = splitter.bottom;
    using D = TServerWindowDesign;
    MoveWindow(Label1, area.left + Scaled(D::LabelLeft), area.top + Scaled(D::LabelTop),
               std::max(width - 2 * Scaled(D::LabelLeft), 0), Scaled(LabelHeight), TRUE);
    MoveWindow(AdresSerwisuEd, area.left + Scaled(D::EditLeft), area.top + Scaled(D::EditTop), Scaled(D::EditWidth),
               Scaled(D::EditHeight), TRUE);
    MoveWindow(Problems, area.left + Scaled(D::ProblemsLeft), area.top + Scaled(D::ProblemsTop),
               std::max(width - 2 * Scaled(D::ProblemsLeft), 0), FProblemsHeight, TRUE);
    MoveWindow(RichEdit1, area.left, logTop, width, std::max<int>(area.bottom - logTop, 0), TRUE);
    InvalidateRect(FWindow, &splitter, TRUE);
}

void TForm1::DpiChanged(UINT oldDpi)
{
    for (HWND control : {Label1, AdresSerwisuEd, Problems})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), TRUE);
    ZoomToWindow(RichEdit1);
    FLogHeight = MulDiv(FLogHeight, static_cast<int>(Dpi()), static_cast<int>(oldDpi));
    ProblemsChanged(FProblems);  // its height at the new font
}

void TForm1::ZoomToWindow(HWND pane) const
{
    // Off (0, 0) at the system's scale; the ratio of the two elsewhere.
    UINT system = SystemDpi();
    bool same = Dpi() == system;
    SendMessageW(pane, EM_SETZOOM, same ? 0 : Dpi(), same ? 0 : system);
}

LRESULT TForm1::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == EditId && HIWORD(wParam) == EN_CHANGE) {
            AdresSerwisuEdChange();
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Problems) {
            auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(255, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_TIMER:
        if (wParam == TRichEditLog::FlushTimer) {
            FLog->Flush();
            return 0;
        }
        break;
    case WM_SETCURSOR: {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(FWindow, &p);
        RECT band = Splitter1();
        if (reinterpret_cast<HWND>(wParam) == FWindow && PtInRect(&band, p)) {
            SetCursor(LoadCursorA(nullptr, IDC_SIZENS));
            return TRUE;
        }
        break;
    }
    case WM_LBUTTONDOWN: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT band = Splitter1();
        if (PtInRect(&band, p)) {
            FDragging = true;
            FDragOffset = p.y - band.top;
            SetCapture(FWindow);
            return 0;
        }
        break;
    }
    case WM_MOUSEMOVE:
        if (FDragging) {
            int y = static_cast<short>(HIWORD(lParam)) - FDragOffset;
            SetLogHeight(ClientArea().bottom - y - Scaled(SplitterHeight));
            return 0;
        }
        break;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (FDragging) {
            FDragging = false;
            if (message == WM_LBUTTONUP)
                ReleaseCapture();
            return 0;
        }
        break;
    case WM_DESTROY:
        FLoop.Quit();  // the loop ends with the window; the servers close after it
        break;
    default:
        break;
    }
    return TFormaBezdokumentowaPozycjonowana::WndProc(message, wParam, lParam);
}

std::optional<int> RunWindow(const TCommandLine& options)
{
    ProcessRandom().Randomize();
    TEventLoop& loop = TEventLoop::Default();
    TForm1 form(options, loop);
    if (!form.Created())
        return std::nullopt;
    form.FormCreate();
    form.Show();
    SetWindowMessageFilter([&form](MSG& m) { return form.TranslateShortcut(m); });
    loop.Run();
    SetWindowMessageFilter(nullptr);
    return 0;
}
