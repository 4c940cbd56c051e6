// The console window's behaviour without a toolkit: start-up, the address shown and stored, the
// problems line. The settings go to a place of the test's own (a scratch folder, or on Windows
// a scratch registry key standing in for the current user's).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "app/ServerWindow.h"
#include "core/Settings.h"
#include "core/Znaki.h"
#include "net/WSocket.h"
#include "support/Loopback.h"
#include "support/TestPlatform.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct TRecordedLog : TActivityLog {
    struct TLine {
        TLogColour Colour;
        ByteString Text;
    };
    std::vector<TLine> Lines;
    TLogColour Colour = clBlue;
    void Append(ByteView line) override { Lines.push_back({Colour, ByteString(line)}); }
    void SetColour(TLogColour colour) override { Colour = colour; }
};

struct ServerWindowTest : ::testing::Test {
#ifdef _WIN32
    std::wstring Scratch;
    HKEY Root = nullptr;
    void SetUp() override
    {
        Scratch = L"Software\\TzzTest-" + std::to_wstring(std::random_device{}());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Root,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, Root), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(Root);
        RegDeleteTreeW(HKEY_CURRENT_USER, Scratch.c_str());
    }
#else
    std::string Saved, Scratch;
    bool HadSaved = false;
    void SetUp() override
    {
        if (const char* x = std::getenv("XDG_CONFIG_HOME")) {
            Saved = x;
            HadSaved = true;
        }
        Scratch = MakeTempDir("tzz-window-");
        setenv("XDG_CONFIG_HOME", Scratch.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(Scratch, ec);
        if (HadSaved)
            setenv("XDG_CONFIG_HOME", Saved.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
#endif

    static TCommandLine FreePorts()
    {
        TCommandLine o;
        o.MessengerPort = 0;
        o.HttpPort = 0;
        return o;
    }
    static std::optional<std::string> Stored()
    {
        return TSettingsStore("Welkor/Trelubki/Serwer").Read("ustawienia", "adres");
    }
    // What a client's bootstrap request is answered with now (the reply's body).
    static ByteString Bootstrap(TServerWindow& w)
    {
        TPeer peer(BoundPort(*w.Serwer().HttpPomocniczy().WSocketServer()));
        peer.Send("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n");
        ByteString reply = peer.ReadFor(300);  // it arrives while the connection stays open
        size_t body = reply.find("\r\n\r\n");
        return body == ByteString::npos ? reply : reply.substr(body + 4);
    }
};

// The edit as a toolkit has it: setting its text raises its change event when the text differs.
struct TEdit {
    explicit TEdit(TServerWindow* window) : Window(window) {}
    TServerWindow* Window;
    std::string Text = TServerWindowDesign::EditInitialText;
    std::vector<std::string> Shown;
    void Set(const std::string& text)
    {
        bool changed = text != Text;
        Text = text;
        if (changed)
            Window->AddressEdited(text);
    }
    std::function<void(const std::string&)> Show()
    {
        return [this](const std::string& a) {
            Shown.push_back(a);
            Set(a);
        };
    }
};

}  // namespace

TEST_F(ServerWindowTest, FirstStartShowsLocalhostAndLogsTheNoticeAlone)
{
    TRecordedLog log;
    TServerWindow w(log, FreePorts());
    std::vector<std::string> problems;
    w.OnProblemsChanged = [&](const std::string& t) { problems.push_back(t); };
    TEdit edit(&w);
    w.Start(edit.Show());
    EXPECT_EQ(edit.Shown, std::vector<std::string>{"localhost"});
    ASSERT_EQ(log.Lines.size(), 1u);
    EXPECT_EQ(log.Lines[0].Colour, clBlue);
    EXPECT_EQ(log.Lines[0].Text.rfind(Znaki::ToCp1250("Korzystanie z klientów Zuli-Zuli"), 0), 0u);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(w.ProblemsText(), "");
    EXPECT_TRUE(w.Serwer().ZZSerwer().Active);
    EXPECT_FALSE(Stored().has_value());  // the value appears only with the first change
    EXPECT_EQ(Bootstrap(w), "0 0 localhost:8074 localhost");
}

TEST_F(ServerWindowTest, EveryEditIsAnnouncedAtOnceStoredAndShownAtTheNextStart)
{
    {
        TRecordedLog log;
        TServerWindow w(log, FreePorts());
        TEdit edit(&w);
        w.Start(edit.Show());
        edit.Set("serwer.łódź");
        EXPECT_EQ(Stored(), "serwer.łódź");
        EXPECT_EQ(Bootstrap(w), "0 0 " + Znaki::ToCp1250("serwer.łódź") + ":8074 " + Znaki::ToCp1250("serwer.łódź"));
        edit.Set("s");  // keystroke by keystroke
        EXPECT_EQ(Stored(), "s");
        edit.Set("");
        EXPECT_EQ(Stored(), "");
    }
    TRecordedLog log;
    TServerWindow w(log, FreePorts());
    TEdit edit(&w);
    w.Start(edit.Show());
    EXPECT_EQ(edit.Shown, std::vector<std::string>{""});  // an empty address stays empty
    EXPECT_EQ(w.Serwer().AnnouncedAddress(), "");
}

TEST_F(ServerWindowTest, AnAddressGivenForThisRunIsShownAnnouncedButNotStored)
{
    TSettingsStore("Welkor/Trelubki/Serwer").Write("ustawienia", "adres", "zapisany");
    TCommandLine o = FreePorts();
    o.Address = "dany.lan";
    TRecordedLog log;
    TServerWindow w(log, o);
    TEdit edit(&w);
    w.Start(edit.Show());
    EXPECT_EQ(edit.Text, "dany.lan");
    EXPECT_EQ(Stored(), "zapisany");
    EXPECT_EQ(Bootstrap(w), "0 0 dany.lan:8074 dany.lan");
    edit.Set("wpisany");  // what the user types afterwards is stored as always
    EXPECT_EQ(Stored(), "wpisany");
}

TEST_F(ServerWindowTest, HeldHttpPortGivesTheRedMessageAnEmptyLineTheBlueNoticeAndAProblem)
{
    TWSocket holder;
    int held = HoldAnyPort(holder);
    TCommandLine o = FreePorts();
    o.HttpPort = held;
    TRecordedLog log;
    TServerWindow w(log, o);
    std::vector<std::string> problems;
    w.OnProblemsChanged = [&](const std::string& t) { problems.push_back(t); };
    TEdit edit(&w);
    w.Start(edit.Show());
    ASSERT_EQ(log.Lines.size(), 3u);
    EXPECT_EQ(log.Lines[0].Colour, clRed);
    EXPECT_EQ(log.Lines[0].Text, HttpPortFailure(std::to_string(o.HttpPort), "localhost", 0));
    EXPECT_EQ(log.Lines[1].Text, "");
    EXPECT_EQ(log.Lines[2].Colour, clBlue);
    EXPECT_TRUE(w.Serwer().ZZSerwer().Active);  // the messenger server opened all the same
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("Nie udało się otworzyć portu HTTP " + std::to_string(o.HttpPort) + ": Error 10048", 0), 0u)
        << problems[0];
}

TEST_F(ServerWindowTest, HeldMessengerPortIsAProblemOnOneLineAndNotALogLine)
{
    TWSocket holder;
    int held = HoldAnyPort(holder);
    TCommandLine o = FreePorts();
    o.MessengerPort = held;
    TRecordedLog log;
    TServerWindow w(log, o);
    std::string shown;
    w.OnProblemsChanged = [&](const std::string& t) { shown = t; };
    TEdit edit(&w);
    w.Start(edit.Show());
    EXPECT_FALSE(w.Serwer().ZZSerwer().Active);
    EXPECT_EQ(shown, w.ProblemsText());
    std::string prefix = "Nie udało się otworzyć portu komunikatora " + std::to_string(o.MessengerPort) +
                         ": Error 10048 in function Bind ";
    EXPECT_EQ(shown.rfind(prefix, 0), 0u) << shown;
    EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(shown.find("  "), std::string::npos);
    ASSERT_EQ(log.Lines.size(), 1u);  // the log keeps its own lines: the notice alone
}

TEST_F(ServerWindowTest, ProblemsLineHasOneLineAProblemInKeyOrderAndAnEmptyTextEndsOne)
{
    TRecordedLog log;
    TServerWindow w(log, FreePorts());
    std::vector<std::string> shown;
    w.OnProblemsChanged = [&](const std::string& t) { shown.push_back(t); };
    w.ShowProblem(ProblemSettings, "ustawienia");
    w.ShowProblem(ProblemHttpPort, "port HTTP");
    w.ShowProblem(ProblemMessengerPort, "komunikator");
    EXPECT_EQ(w.ProblemsText(), "port HTTP\nkomunikator\nustawienia");
    w.ShowProblem(ProblemHttpPort, "port HTTP inaczej");  // a problem's text changes in place
    EXPECT_EQ(w.ProblemsText(), "port HTTP inaczej\nkomunikator\nustawienia");
    w.ShowProblem(ProblemMessengerPort, "");
    w.ShowProblem(ProblemHttpPort, "");
    EXPECT_EQ(w.ProblemsText(), "ustawienia");
    w.ShowProblem(ProblemSettings, "");
    w.ShowProblem("nieznany", "");  // ending one never shown changes nothing
    EXPECT_EQ(w.ProblemsText(), "");
    ASSERT_EQ(shown.size(), 8u);
    EXPECT_EQ(shown.back(), "");
}

TEST(ServerWindowProblems, TheMessengerPortsErrorOnOneLine)
{
    EXPECT_EQ(MessengerPortProblem(8074, "Error 10048 in function Bind\r\n  Address   in use \r\n"),
              "Nie udało się otworzyć portu komunikatora 8074: Error 10048 in function Bind Address in use");
    EXPECT_EQ(MessengerPortProblem(1, ""), "Nie udało się otworzyć portu komunikatora 1: ");
}
