// The console window on Windows, with real windows (the tests run on an X display of their own
// under Wine): its controls, the address typed into the edit, stored and announced, the log and
// its colours, the menus' shortcuts, hints and the placement kept in the registry, and the check
// for a newer version against a local web server. Each test sends the current user's hive to a
// key of its own, so the user's real settings are never touched.
#include <gtest/gtest.h>

#include "core/windows/WindowsHeaders.h"
#include <commctrl.h>
#include <richedit.h>
#include <winsock2.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MessageFilter.h"
#include "app/windows/Form1Window.h"
#include "core/Settings.h"
#include "core/windows/WideText.h"
#include "framework/MenuTable.h"
#include "framework/VersionCheck.h"
#include "support/ChildProgram.h"
#include "support/Loopback.h"

namespace {

std::string TextOf(HWND h)
{
    wchar_t text[4096] = {};
    GetWindowTextW(h, text, 4096);
    return Utf8Of(text);
}

std::string ClassOf(HWND h)
{
    wchar_t name[256] = {};
    GetClassNameW(h, name, 256);
    return Utf8Of(name);
}

// The rich edit's text, each paragraph's end a CR as the pane counts it (the pane's positions
// are this text's), and the colour of one character.
std::string PaneText(HWND pane)
{
    GETTEXTLENGTHEX lengthOf{GTL_USECRLF | GTL_PRECISE, 1200};
    auto length = SendMessageW(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthOf), 0);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    GETTEXTEX get{static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_USECRLF, 1200, nullptr, nullptr};
    SendMessageW(pane, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(text.data()));
    std::wstring crlf = text.data(), cr;
    for (size_t i = 0; i < crlf.size(); ++i)
        if (!(crlf[i] == L'\n' && i > 0 && crlf[i - 1] == L'\r'))
            cr += crlf[i];
    return Utf8Of(cr);
}

COLORREF ColourAt(HWND pane, LONG position)
{
    CHARRANGE range{position, position + 1};
    SendMessageW(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format.crTextColor;
}

// A web server on a thread of its own that answers every request with the reply for its path.
class TLocalWebServer {
public:
    explicit TLocalWebServer(std::function<std::string(const std::string&)> reply) : FReply(std::move(reply))
    {
        FListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FListen, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        listen(FListen, 8);
        int len = sizeof sin;
        getsockname(FListen, reinterpret_cast<sockaddr*>(&sin), &len);
        FPort = ntohs(sin.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TLocalWebServer()
    {
        closesocket(FListen);  // ends the accept
        FThread.join();
        for (SOCKET c : FHeld)
            closesocket(c);
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/"; }
    int Requests() const { return FRequests; }

private:
    void Serve()
    {
        for (;;) {
            SOCKET c = accept(FListen, nullptr, nullptr);
            if (c == INVALID_SOCKET)
                return;
            std::string request;
            char buf[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int n = recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, static_cast<size_t>(n));
            }
            size_t start = request.find(' ') + 1;
            std::string path = request.substr(start, request.find(' ', start) - start);
            std::string reply = FReply(path);
            if (reply.empty()) {  // a server that never answers
                FHeld.push_back(c);
                ++FRequests;
                continue;
            }
            send(c, reply.data(), static_cast<int>(reply.size()), 0);
            shutdown(c, SD_SEND);
            while (recv(c, buf, sizeof buf, 0) > 0) {
            }
            closesocket(c);
            ++FRequests;
        }
    }
    std::function<std::string(const std::string&)> FReply;
    SOCKET FListen = INVALID_SOCKET;
    int FPort = 0;
    std::atomic<int> FRequests{0};
    std::vector<SOCKET> FHeld;
    std::thread FThread;
};

struct Form1WindowTest : ::testing::Test {
    std::wstring Scratch;
    HKEY Root = nullptr;
    TCommandLine Options;

    void SetUp() override
    {
        Scratch = L"Software\\TzzWindowTest-" + std::to_wstring(std::random_device{}());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Root,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, Root), ERROR_SUCCESS);
        _putenv_s("TRELUBKI_VERSION_URL", "");  // no check unless a test asks for one
        Options.MessengerPort = FreePort();
        Options.HttpPort = FreePort();
    }
    void TearDown() override
    {
        SetWindowMessageFilter(nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(Root);
        RegDeleteTreeW(HKEY_CURRENT_USER, Scratch.c_str());
    }
    std::unique_ptr<TForm1> Start()
    {
        auto form = std::make_unique<TForm1>(Options);
        if (!form->Created())
            return form;
        form->FormCreate();
        form->Show();
        TForm1* f = form.get();
        SetWindowMessageFilter([f](MSG& m) { return f->TranslateShortcut(m); });
        RunFor(50);
        return form;
    }
    std::optional<std::string> Stored(const std::string& key, const std::string& section, const std::string& name)
    {
        return TSettingsStore(key).Read(section, name);
    }
    RECT Bounds(HWND h)
    {
        RECT r{};
        GetWindowRect(h, &r);
        return r;
    }
    // Listens on the port, alone (as another program holding it would), so the window cannot.
    void HoldPort(int port, SOCKET& held)
    {
        held = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_ANY);
        sin.sin_port = htons(static_cast<u_short>(port));
        BOOL exclusive = TRUE;
        setsockopt(held, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
        ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
        ASSERT_EQ(listen(held, 1), 0);
    }
    // Closes the window as its menu does, and lets the loop run until it is gone.
    void Close(TForm1& form)
    {
        HWND h = form.Handle();
        form.FileExitItemClick();
        ASSERT_TRUE(RunUntil([&] { return !IsWindow(h); }));
    }
};

constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 255);

TEST_F(Form1WindowTest, WindowIsMadeWithItsControlsMenusToolbarAndStatusBar)
{
    auto form = Start();
    ASSERT_TRUE(form->Created()) << "no window: is there a display?";
    EXPECT_EQ(TextOf(form->Handle()), "Trelubki Serwer Zuli-Zuli");
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    EXPECT_EQ(TextOf(form->Label1), "Nazwa serwera dla klientów");
    EXPECT_EQ(ClassOf(form->AdresSerwisuEd), "Edit");
    EXPECT_EQ(TextOf(form->AdresSerwisuEd), "localhost");
    EXPECT_FALSE(IsWindowVisible(form->Problems)) << "a problem shown on a normal start: " << TextOf(form->Problems);

    LONG style = GetWindowLongW(form->RichEdit1, GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_TRUE(style & WS_HSCROLL);
    EXPECT_TRUE(style & ES_DISABLENOSCROLL) << "both scroll bars always shown";
    // The log's font: bold, blue, "MS Sans Serif" at 8 points.
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(form->RichEdit1, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_TRUE(format.dwEffects & CFE_BOLD);
    EXPECT_EQ(format.crTextColor, Blue);
    EXPECT_EQ(Utf8Of(format.szFaceName), "MS Sans Serif");
    EXPECT_EQ(format.yHeight, 160);

    // The splitter between the panel and the log, the log below it.
    RECT band = form->Splitter1();
    EXPECT_EQ(band.bottom - band.top, TForm1::SplitterHeight);
    RECT log = Bounds(form->RichEdit1);
    MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&log), 2);
    EXPECT_EQ(log.top, band.bottom);
    form->SetLogHeight(100000);  // the panel keeps its minimum
    band = form->Splitter1();
    EXPECT_GE(band.top - (Bounds(form->MainToolbar()).bottom - Bounds(form->Handle()).top), 0);
    EXPECT_LT(form->LogHeight(), 100000);

    // Menus: "&Serwer" and "Pomo&c", their items with shortcuts.
    HMENU bar = form->MainMenu();
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    wchar_t caption[128] = {};
    GetMenuStringW(bar, 0, caption, 128, MF_BYPOSITION);
    EXPECT_EQ(Utf8Of(caption), "&Serwer");
    GetMenuStringW(bar, 1, caption, 128, MF_BYPOSITION);
    EXPECT_EQ(Utf8Of(caption), "Pomo&c");
    GetMenuStringW(bar, TFormaStandardowa::CommandId(TMenuCommand::FileExit), caption, 128, MF_BYCOMMAND);
    EXPECT_EQ(Utf8Of(caption), "&Zamknij\tAlt+X");
    GetMenuStringW(bar, TFormaStandardowa::CommandId(TMenuCommand::HelpContents), caption, 128, MF_BYCOMMAND);
    EXPECT_EQ(Utf8Of(caption), "Tematy &Pomocy\tF1");
    // No help file beside the test program: its item is disabled; "Użycie Pomocy" is not.
    EXPECT_TRUE(GetMenuState(bar, TFormaStandardowa::CommandId(TMenuCommand::HelpContents), MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(bar, TFormaStandardowa::CommandId(TMenuCommand::HelpOnHelp), MF_BYCOMMAND) & MF_GRAYED);

    // The toolbar holds the close button; the status bar the legal notice.
    EXPECT_EQ(SendMessageW(form->MainToolbar(), TB_BUTTONCOUNT, 0, 0), 1);
    EXPECT_EQ(form->StatusText(), form->LegalCopyright);
}

TEST_F(Form1WindowTest, AddressTypedIsStoredAtEveryKeyAndAnnouncedInTheNextBootstrapReply)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    // The key is made at start-up; the value only with the first change.
    EXPECT_FALSE(Stored("Welkor/Trelubki/Serwer", "ustawienia", "adres"));
    SetFocus(form->AdresSerwisuEd);
    SendMessageW(form->AdresSerwisuEd, EM_SETSEL, 0, -1);
    std::wstring typed = L"łódź.lan";
    for (size_t i = 0; i < typed.size(); ++i) {
        SendMessageW(form->AdresSerwisuEd, WM_CHAR, typed[i], 1);
        EXPECT_EQ(Stored("Welkor/Trelubki/Serwer", "ustawienia", "adres"), Utf8Of(typed.substr(0, i + 1)));
    }
    TPeer client(Options.HttpPort);
    client.Send("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n");
    std::string reply = client.ReadFor(300);
    std::string cp1250 = "0 0 \xB3\xF3" "d\x9F.lan:8074 \xB3\xF3" "d\x9F.lan";
    EXPECT_NE(reply.find(cp1250), std::string::npos) << reply;

    // Emptied, it is stored empty, and the next start shows it so.
    SetWindowTextW(form->AdresSerwisuEd, L"");
    EXPECT_EQ(Stored("Welkor/Trelubki/Serwer", "ustawienia", "adres"), "");
    Close(*form);
    form.reset();
    Options.MessengerPort = FreePort();
    Options.HttpPort = FreePort();
    form = Start();
    EXPECT_EQ(TextOf(form->AdresSerwisuEd), "");
}

TEST_F(Form1WindowTest, HttpPortHeldGivesRedFailureEmptyLineThenBlueNoticeAndClientsLogInBlue)
{
    SOCKET held = INVALID_SOCKET;
    ASSERT_NO_FATAL_FAILURE(HoldPort(Options.HttpPort, held));

    auto form = Start();
    ASSERT_TRUE(form->Created());
    std::string text = PaneText(form->RichEdit1);
    std::string port = std::to_string(Options.HttpPort);
    std::string failure = "Nie udało się otworzyć portu " + port + " !";
    ASSERT_EQ(text.rfind(failure, 0), 0u) << text;
    // The failure's two CRs, then the empty line, then the notice.
    size_t notice = text.find("Korzystanie z klientów Zuli-Zuli");
    ASSERT_NE(notice, std::string::npos) << text;
    EXPECT_EQ(text.substr(notice - 2, 2), "\r\r") << "an empty line before the notice";
    EXPECT_NE(text.find("„localhost” odpowiadał „0 0 localhost:" + std::to_string(Options.MessengerPort) + " localhost”"), std::string::npos) << text;
    EXPECT_EQ(ColourAt(form->RichEdit1, 0), Red);
    std::wstring wide = WideOf(text);
    LONG noticeAt = static_cast<LONG>(wide.find(L"Korzystanie"));
    EXPECT_EQ(ColourAt(form->RichEdit1, noticeAt), Blue);
    EXPECT_NE(form->ProblemsText().find("Nie udało się otworzyć portu HTTP " + port), std::string::npos)
        << form->ProblemsText();

    // A client's lines follow in blue, one entry each.
    TPeer client(Options.MessengerPort);
    ASSERT_TRUE(RunUntil([&] {
        form->Log().Flush();
        return PaneText(form->RichEdit1).find(">powitanie") != std::string::npos;
    }));
    wide = WideOf(PaneText(form->RichEdit1));
    EXPECT_EQ(ColourAt(form->RichEdit1, static_cast<LONG>(wide.find(L">powitanie"))), Blue);
    closesocket(held);
}

TEST_F(Form1WindowTest, PaneKeepsTheNewestEntriesAndCutsAMegabyteEntry)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    // A MiB in one entry shows as its cap and "…".
    form->Log().Append(ByteString(1 << 20, 'x'));
    form->Log().Flush();
    std::wstring text = WideOf(PaneText(form->RichEdit1));
    size_t cut = text.find(L'\u2026');
    ASSERT_NE(cut, std::wstring::npos);
    EXPECT_EQ(cut - text.rfind(L'\r', cut) - 1, static_cast<size_t>(TRichEditLog::MaxEntryChars));

    // Up to twice PaneEntries the pane grows; then a new pane shows the newest PaneEntries, in
    // their colours, and the old one is gone.
    const size_t most = TRichEditLog::PaneEntries;
    HWND first = form->RichEdit1;
    const size_t n = 2 * most - 1 - form->Log().ShownEntries();
    for (size_t i = 0; i < n; ++i) {
        form->Log().SetColour(i % 2 ? clRed : clBlue);
        form->Log().Append("wpis " + std::to_string(i));
        if (i % 1000 == 999)
            form->Log().Flush();
    }
    form->Log().Flush();
    EXPECT_EQ(form->RichEdit1, first);
    EXPECT_EQ(form->Log().ShownEntries(), 2 * most - 1);
    form->Log().SetColour(clRed);
    form->Log().Append("ostatni");
    form->Log().Flush();
    EXPECT_NE(form->RichEdit1, first);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindowVisible(form->RichEdit1));
    EXPECT_EQ(form->Log().ShownEntries(), most);
    std::string shown = PaneText(form->RichEdit1);
    EXPECT_EQ(shown.find("Korzystanie"), std::string::npos);
    std::string oldest = "wpis " + std::to_string(n - most + 1);
    EXPECT_EQ(shown.rfind(oldest + "\r", 0), 0u) << shown.substr(0, 40);
    EXPECT_EQ(shown.substr(shown.size() - 8), "\rostatni");
    std::wstring wide = WideOf(shown);
    EXPECT_EQ(ColourAt(form->RichEdit1, 0), (n - most + 1) % 2 ? Red : Blue);
    EXPECT_EQ(ColourAt(form->RichEdit1, static_cast<LONG>(wide.size() - 1)), Red);
    // Its place and the log's font are the old pane's.
    RECT band = form->Splitter1();
    RECT r{};
    GetWindowRect(form->RichEdit1, &r);
    MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.top, band.bottom);
    EXPECT_TRUE(GetWindowLongW(form->RichEdit1, GWL_STYLE) & ES_READONLY);
}

TEST_F(Form1WindowTest, AltXClosesAndThePlacementComesBackAtTheNextStart)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    // The first start: 522 x 342 at the top left corner.
    RECT first = Bounds(form->Handle());
    EXPECT_EQ(first.right - first.left, 522);
    EXPECT_EQ(first.bottom - first.top, 342);
    SetWindowPos(form->Handle(), nullptr, 130, 140, 600, 420, SWP_NOZORDER);
    RunFor(50);
    HWND h = form->Handle();
    // Alt+X, from the keyboard, to the focused edit.
    SetForegroundWindow(h);
    SetFocus(form->AdresSerwisuEd);
    RunFor(50);
    INPUT keys[4] = {};
    WORD order[4] = {VK_MENU, 'X', 'X', VK_MENU};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    ASSERT_EQ(SendInput(4, keys, sizeof(INPUT)), 4u);
    ASSERT_TRUE(RunUntil([&] { return !IsWindow(h); })) << "Alt+X did not close the window";
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "OdLewej"), "130");
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "OdGóry"), "140");
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "Szerokość"), "600");
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "Wysokość"), "420");
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "StanOkna"), "0");
    form.reset();

    Options.MessengerPort = FreePort();
    Options.HttpPort = FreePort();
    form = Start();
    RECT again = Bounds(form->Handle());
    EXPECT_EQ(again.left, 130);
    EXPECT_EQ(again.top, 140);
    EXPECT_EQ(again.right - again.left, 600);
    EXPECT_EQ(again.bottom - again.top, 420);

    // Closed maximized: comes back maximized, its normal place kept.
    ShowWindow(form->Handle(), SW_MAXIMIZE);
    RunFor(50);
    Close(*form);
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "StanOkna"), "2");
    EXPECT_EQ(Stored("Welkor/Trelubki Serwer Zuli-Zuli", "StareRozmiary", "OdLewej"), "130");
    form.reset();
    Options.MessengerPort = FreePort();
    Options.HttpPort = FreePort();
    form = Start();
    EXPECT_TRUE(IsZoomed(form->Handle()));
}

TEST_F(Form1WindowTest, OffScreenAndOversizedPlacementsAreBroughtOntoTheWorkArea)
{
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    TSettingsStore store("Welkor/Trelubki Serwer Zuli-Zuli");
    for (auto [left, top, width, height] : {std::tuple{5000, 4000, 600, 400}, std::tuple{-3000, -200, 500, 300},
                                            std::tuple{10, 10, 20000, 15000}}) {
        store.Write("StareRozmiary", "OdLewej", std::to_string(left));
        store.Write("StareRozmiary", "OdGóry", std::to_string(top));
        store.Write("StareRozmiary", "Szerokość", std::to_string(width));
        store.Write("StareRozmiary", "Wysokość", std::to_string(height));
        Options.MessengerPort = FreePort();
        Options.HttpPort = FreePort();
        auto form = std::make_unique<TForm1>(Options);
        ASSERT_TRUE(form->Created());
        form->FormCreate();
        // What the window is given: the whole frame on the work area, no larger than it.
        TRect b = form->NormalBounds();
        std::string what = std::to_string(left) + "," + std::to_string(top) + " " + std::to_string(width) + "x" +
                           std::to_string(height) + " gave " + std::to_string(b.Left) + "," + std::to_string(b.Top) +
                           " " + std::to_string(b.Width) + "x" + std::to_string(b.Height);
        EXPECT_GE(b.Left, work.left) << what;
        EXPECT_GE(b.Top, work.top) << what;
        EXPECT_LE(b.Right(), work.right) << what;
        EXPECT_LE(b.Bottom(), work.bottom) << what;
        if (width < work.right - work.left) {
            EXPECT_EQ(b.Width, width) << what;
            EXPECT_EQ(b.Height, height) << what;
        }
        form->Show();
        RunFor(50);
        // And where it shows: on the work area too (the window manager may nudge it by its own
        // border's pixel). A window as large as the screen Wine makes a full-screen one, which the
        // X server may put a pixel off: that one is not measured here.
        RECT r = Bounds(form->Handle());
        if (width < work.right - work.left) {
            EXPECT_GE(r.left, work.left) << what;
            EXPECT_GE(r.top, work.top) << what;
            EXPECT_LE(r.right, work.right) << what;
            EXPECT_LE(r.bottom, work.bottom) << what;
            EXPECT_LE(std::abs(r.top - b.Top) + std::abs(r.left - b.Left), 2) << what;
        }
        Close(*form);
    }
}

TEST_F(Form1WindowTest, OnAMonitorOfAnotherScaleTheFontsAndControlsFollowAndTheFrameTakesTheSuggestedRectangle)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    auto height = [](HWND h) {
        RECT r{};
        GetWindowRect(h, &r);
        return r.bottom - r.top;
    };
    auto fontHeight = [](HWND h) {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font.lfHeight;
    };
    auto zoom = [&] {
        DWORD numerator = 0, denominator = 0;
        SendMessageW(form->RichEdit1, EM_GETZOOM, reinterpret_cast<WPARAM>(&numerator),
                     reinterpret_cast<LPARAM>(&denominator));
        return denominator ? double(numerator) / denominator : 1.0;
    };
    // Here the window starts at the system's scale, 100%.
    ASSERT_EQ(height(form->AdresSerwisuEd), 21);
    EXPECT_EQ(fontHeight(form->Label1), -11);
    int logHeight = form->LogHeight();

    // Dragged to a monitor at 200%: the system suggests a frame twice as large.
    RECT before = Bounds(form->Handle());
    RECT suggested{before.left, before.top, before.left + 2 * (before.right - before.left),
                   before.top + 2 * (before.bottom - before.top)};
    SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    RunFor(50);
    RECT now = Bounds(form->Handle());
    EXPECT_EQ(now.right - now.left, suggested.right - suggested.left);
    EXPECT_EQ(now.bottom - now.top, suggested.bottom - suggested.top);
    for (HWND control : {form->Label1, form->AdresSerwisuEd, form->Problems})
        EXPECT_EQ(fontHeight(control), -21) << ClassOf(control);  // 8 points at 192 dpi
    EXPECT_EQ(height(form->AdresSerwisuEd), 42);
    EXPECT_EQ(height(form->Label1), 28);
    RECT band = form->Splitter1();
    EXPECT_EQ(band.bottom - band.top, 2 * TForm1::SplitterHeight);
    EXPECT_EQ(form->LogHeight(), 2 * logHeight);
    EXPECT_DOUBLE_EQ(zoom(), 2.0) << "the log's text at the new scale";
    RECT log = Bounds(form->RichEdit1);
    MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&log), 2);
    EXPECT_EQ(log.top, band.bottom);

    // And back: everything as it was, the log's zoom off.
    SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&before));
    RunFor(50);
    EXPECT_EQ(height(form->AdresSerwisuEd), 21);
    EXPECT_EQ(fontHeight(form->AdresSerwisuEd), -11);
    EXPECT_EQ(form->LogHeight(), logHeight);
    EXPECT_DOUBLE_EQ(zoom(), 1.0);
    Close(*form);
}

TEST_F(Form1WindowTest, MenuItemShowsItsHintThenTheLegalNotice)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    HWND h = form->Handle();
    ASSERT_FALSE(form->LegalCopyright.empty());
    // The system says which item is selected as the user moves through the menu.
    SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(TFormaStandardowa::CommandId(TMenuCommand::FileExit), MF_STRING),
                 reinterpret_cast<LPARAM>(form->FileMenu()));
    EXPECT_EQ(form->StatusText(), "Zamknięcie");
    SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(TFormaStandardowa::CommandId(TMenuCommand::About), MF_STRING),
                 reinterpret_cast<LPARAM>(form->Help1()));
    EXPECT_EQ(form->StatusText(), "O programie Trelubki Serwer Zuli-Zuli...");
    SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(1, MF_POPUP), reinterpret_cast<LPARAM>(form->MainMenu()));
    EXPECT_EQ(form->StatusText(), "Informacje pomocnicze");
    // The menu closes: the legal notice again.
    SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(form->StatusText(), form->LegalCopyright);
}

TEST_F(Form1WindowTest, VersionCheckAnnouncesANewerVersionFileButNotAWebPage)
{
    std::string newer("\x00\x00\x63\x00\x00\x00\x00\x00", 8);  // 99.0.0.0
    for (bool page : {false, true}) {
        TLocalWebServer web([&](const std::string& path) {
            if (path.size() > 7 && path.substr(path.size() - 7) == ".wersja")
                return page ? std::string("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>nie ma</html>")
                            : "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + newer;
            return std::string("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>dzięki</html>");
        });
        _putenv_s("TRELUBKI_VERSION_URL", web.Base().c_str());
        Options.MessengerPort = FreePort();
        Options.HttpPort = FreePort();
        auto form = Start();
        ASSERT_TRUE(form->Created());
        // The servers answer while the check runs.
        TPeer client(Options.HttpPort);
        client.Send("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n");
        EXPECT_NE(client.ReadFor(300).find("0 0 localhost:8074"), std::string::npos);
        if (!page) {
            ASSERT_TRUE(RunUntil([&] { return form->StatusText() == NewerVersionNotice; }, 8000)) << form->StatusText();
            // Then the follow-up page.
            EXPECT_TRUE(RunUntil([&] { return web.Requests() >= 2 && !form->DownloadRunning(); }, 8000));
        } else {
            ASSERT_TRUE(RunUntil([&] { return web.Requests() >= 1 && !form->DownloadRunning(); }, 8000));
            RunFor(100);
            EXPECT_EQ(form->StatusText(), form->LegalCopyright) << "a web page counted as a version file";
            EXPECT_EQ(web.Requests(), 1) << "no follow-up after a failed check";
        }
        Close(*form);
    }
}


TEST_F(Form1WindowTest, MessengerPortHeldIsShownInTheProblemsLineAndTheLogHoldsTheNoticeAlone)
{
    SOCKET held = INVALID_SOCKET;
    ASSERT_NO_FATAL_FAILURE(HoldPort(Options.MessengerPort, held));
    auto form = Start();
    ASSERT_TRUE(form->Created());
    EXPECT_TRUE(IsWindowVisible(form->Problems));
    EXPECT_EQ(form->ProblemsText().rfind("Nie udało się otworzyć portu komunikatora " +
                                             std::to_string(Options.MessengerPort) + ": ",
                                         0),
              0u)
        << form->ProblemsText();
    EXPECT_EQ(PaneText(form->RichEdit1).rfind("Korzystanie z klientów Zuli-Zuli", 0), 0u);
    EXPECT_EQ(PaneText(form->RichEdit1).find('\r'), std::string::npos) << "the notice alone";
    // The log pane makes room for the line: it starts below it.
    RECT problems = Bounds(form->Problems), log = Bounds(form->RichEdit1);
    EXPECT_GT(log.top, problems.bottom);
    closesocket(held);
}

TEST_F(Form1WindowTest, ToolbarButtonClosesAndItsEmptyHintShowsTheLegalNotice)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    HWND h = form->Handle();
    form->PokazOpis("Zamknięcie");
    form->PokazOpis(ExitButton().Hint);  // "Zamknij|": no long part
    EXPECT_EQ(form->StatusText(), form->LegalCopyright);
    TBBUTTON button{};
    ASSERT_TRUE(SendMessageW(form->MainToolbar(), TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&button)));
    EXPECT_EQ(static_cast<UINT>(button.idCommand), TFormaStandardowa::CommandId(TMenuCommand::FileExit));
    // A click on it, as the toolbar reports one.
    PostMessageW(h, WM_COMMAND, MAKEWPARAM(button.idCommand, BN_CLICKED),
                 reinterpret_cast<LPARAM>(form->MainToolbar()));
    EXPECT_TRUE(RunUntil([&] { return !IsWindow(h); }));
}

TEST_F(Form1WindowTest, VersionServerThatNeverAnswersIsGivenUpWithinTheLimitWhileTheServersServe)
{
    TLocalWebServer web([](const std::string&) { return std::string(); });
    _putenv_s("TRELUBKI_VERSION_URL", web.Base().c_str());
    auto form = Start();
    ASSERT_TRUE(form->Created());
    EXPECT_TRUE(RunUntil([&] { return web.Requests() >= 1; }));
    EXPECT_TRUE(form->DownloadRunning());
    TPeer client(Options.HttpPort);
    client.Send("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n");
    EXPECT_NE(client.ReadFor(300).find("0 0 localhost:8074"), std::string::npos);
    // Given up at the limit (with room for a loaded machine), with nothing announced or fetched.
    EXPECT_TRUE(RunUntil([&] { return !form->DownloadRunning(); }, TVersionCheck::TimeLimitMs + 2000));
    EXPECT_FALSE(form->VersionCheck.Downloading());
    EXPECT_EQ(form->StatusText(), form->LegalCopyright);
    RunFor(200);
    EXPECT_EQ(web.Requests(), 1);
}

TEST_F(Form1WindowTest, ContactActionsGoThroughTheShellAndSayWhenItFails)
{
    auto form = Start();
    ASSERT_TRUE(form->Created());
    std::vector<std::string> opened;
    std::vector<std::pair<std::string, std::string>> boxes;
    bool shellWorks = true;
    form->ShellOpen = [&](const std::string& address) {
        opened.push_back(address);
        return shellWorks;
    };
    form->ShowMessageBox = [&](const std::string& caption, const std::string& text, UINT) {
        boxes.emplace_back(caption, text);
    };
    form->RunCommand(TMenuCommand::Mail);
    form->RunCommand(TMenuCommand::WebPage);
    form->RunCommand(TMenuCommand::Update);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], "mailto:trelubki@welkor.pl?subject=Zapytanie%20o%20Trelubki%20Serwer%20Zuli-Zuli");
    EXPECT_EQ(opened[1], "http://www.welkor.pl/");
    EXPECT_EQ(opened[2], form->ProductUrl);
    EXPECT_TRUE(boxes.empty());
    shellWorks = false;
    form->RunCommand(TMenuCommand::Mail);
    form->RunCommand(TMenuCommand::Update);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].first, "Trelubki Serwer Zuli-Zuli - Błąd");
    EXPECT_EQ(boxes[0].second, "Błąd podczas uruchamiania poczty. Możliwe, że brak odpowiedniego programu.");
    EXPECT_EQ(boxes[1].second, "Błąd podczas uruchamiania przeglądarki. Możliwe, że brak odpowiedniego programu.");
}
}  // namespace

namespace {

// What a user double-clicks still takes every option from a prompt or a script: its output goes
// where the prompt's output goes.
TEST(WindowProgram, TakesEveryOptionAndRunsHeadlessWhenAsked)
{
    {
        TChildProgram version(TZZ_WINDOW_PROGRAM, {"--version"});
        EXPECT_EQ(version.Wait(), 0);
        version.Pull();
        EXPECT_EQ(version.Stdout.rfind("Trelubki Serwer Zuli-Zuli ", 0), 0u) << version.Stdout;
    }
    {
        TChildProgram bad(TZZ_WINDOW_PROGRAM, {"--messenger-port", "x"});
        EXPECT_EQ(bad.Wait(), 2);
        bad.Pull();
        EXPECT_NE(bad.Stderr.find("trelubki-serwer: "), std::string::npos) << bad.Stderr;
    }
    int http = FreePort();
    TChildProgram headless(TZZ_WINDOW_PROGRAM, {"--headless", "--messenger-port", std::to_string(FreePort()),
                                                "--http-port", std::to_string(http), "--address", "serwer.lan"});
    ASSERT_TRUE(headless.WaitFor("Korzystanie z klientów Zuli-Zuli", 20000)) << headless.Stdout << headless.Stderr;
    TPeer client;
    ASSERT_TRUE(Connected(client, http, 5000));
    client.Send("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n");
    EXPECT_NE(client.ReadFor(500).find("0 0 serwer.lan:8074 serwer.lan"), std::string::npos);
    EXPECT_TRUE(headless.WaitFor("get /appsvc/appmsg4.asp"));
    headless.Stop(SIGTERM);
}

}  // namespace
