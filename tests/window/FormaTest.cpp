#include <QAction>
#include <QMenu>

#include "framework/FormaBezdokumentowaPozycjonowana.h"
#include "http/HttpSrv.h"
#include "window/WindowFixture.h"

namespace {

struct TQuietForm : TFormaBezdokumentowaPozycjonowana {
    std::vector<std::string> Opened;
    std::vector<QString> Boxes;
    bool OpenSucceeds = true;
    TQuietForm()
    {
        VersionBaseAddress = WindowTest::Nowhere;
        FollowUpAddress = WindowTest::Nowhere;
        ShellOpen = [this](const std::string& a) {
            Opened.push_back(a);
            return OpenSucceeds;
        };
        ShowMessageBox = [this](const QString& caption, const QString& text, bool) { Boxes.push_back(caption + "|" + text); };
    }
};

// A web server of our own holding the version file and the follow-up page.
struct VersionServer {
    std::filesystem::path Dir;
    THttpServer Http;
    VersionServer()
    {
        char tmpl[] = "/tmp/tzz-versions-XXXXXX";
        Dir = mkdtemp(tmpl);
        Http.SetAddr("127.0.0.1");
        Http.SetPort("0");
        Http.DocDir = Dir.string();
        Http.Start();
    }
    ~VersionServer() { std::filesystem::remove_all(Dir); }
    std::string Base() { return "http://127.0.0.1:" + std::to_string(BoundPort(*Http.WSocketServer())) + "/v/"; }
    void VersionFile(const std::string& bytes)
    {
        std::filesystem::path file = Dir / "v" / "~" / (ProgramPath().substr(1) + ".zawartosc.wersja");
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        std::ofstream(Dir / "pobrano.html") << "thanks";
    }
};

size_t WkFiles()
{
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(TempDir()))
        n += e.path().filename().string().rfind("wk", 0) == 0;
    return n;
}

}  // namespace

TEST_F(WindowTest, StandardWindowTextsAndHints)
{
    TQuietForm form;
    form.FormCreate();
    EXPECT_EQ(form.windowTitle(), "Trelubki Serwer Zuli-Zuli");
    EXPECT_EQ(form.FileExitItem->text(), "&Zamknij");
    EXPECT_EQ(form.FileExitItem->shortcut(), QKeySequence("Alt+X"));
    EXPECT_EQ(form.Help1->title(), "Pomo&c");
    EXPECT_EQ(form.Contents1->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_FALSE(form.Contents1->isEnabled());  // no help file next to the program
    EXPECT_TRUE(form.Temmenu1->isEnabled());
    EXPECT_TRUE(form.Uaktualnienie1->isEnabled());
    EXPECT_EQ(form.AboutItem->statusTip(), "O programie Trelubki Serwer Zuli-Zuli...");
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));
    form.PokazOpis("Zamknięcie");
    EXPECT_EQ(form.statusBar()->currentMessage(), "Zamknięcie");
    form.PokazOpis("");
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));

    form.ProductVersion = {0x00020001, 0x00000007};
    EXPECT_EQ(form.AboutText(), "Trelubki Serwer Zuli-Zuli wersja 2.01.00.07\n" + QString::fromStdString(form.LegalCopyright));
}

TEST_F(WindowTest, ContactActionsAndTheirErrorBoxes)
{
    EXPECT_EQ(MailAddressFor("mailto:a@b.pl", "Trelubki Serwer"), "mailto:a@b.pl?subject=Zapytanie%20o%20Trelubki%20Serwer");
    TQuietForm form;
    form.FormCreate();
    form.Poczta1Click();
    ASSERT_EQ(form.Opened.size(), 1u);
    EXPECT_EQ(form.Opened[0], form.MailAddress + "?subject=Zapytanie%20o%20Trelubki%20Serwer%20Zuli-Zuli");
    form.Telefon1Click();
    EXPECT_EQ(form.Opened.back(), "tel:+48000000000");
    EXPECT_TRUE(form.Boxes.empty());
    form.OpenSucceeds = false;
    form.Poczta1Click();
    form.Uaktualnienie1Click();
    ASSERT_EQ(form.Boxes.size(), 2u);
    EXPECT_EQ(form.Boxes[0], "Trelubki Serwer Zuli-Zuli - Błąd|Błąd podczas uruchamiania poczty. Możliwe, że brak odpowiedniego programu.");
    EXPECT_EQ(form.Boxes[1], "Trelubki Serwer Zuli-Zuli - Błąd|Błąd podczas uruchamiania przeglądarki. Możliwe, że brak odpowiedniego programu.");
    EXPECT_EQ(form.Opened.back(), form.ProductUrl);
}

TEST_F(WindowTest, NewerVersionIsAnnouncedAndTheFollowUpKeptUntilTheWindowGoes)
{
    VersionServer server;
    server.VersionFile(std::string("\x00\x00\x09\x00\x00\x00\x00\x00", 8));  // 9.0.0.0
    std::string kept;
    {
        TQuietForm form;
        form.VersionBaseAddress = server.Base();
        form.FollowUpAddress = server.Base().substr(0, server.Base().size() - 2) + "pobrano.html";
        form.FormCreate();
        EXPECT_EQ(form.statusBar()->currentMessage(),
                  "Dostępna jest już nowsza wersja programu. Do uaktualnienia użyj: Pomoc, Uaktualnienie");
        kept = form.KeptFile;
        ASSERT_FALSE(kept.empty());
        std::ifstream in(kept);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(text, "thanks");
        EXPECT_TRUE(form.CurrentFile.empty());  // the version file itself is gone
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST_F(WindowTest, SameVersionAnnouncesNothingButStillFetchesTheFollowUp)
{
    VersionServer server;
    server.VersionFile(std::string("\x00\x00\x01\x00\x00\x00\x00\x00", 8));  // 1.0.0.0, this build
    TQuietForm form;
    form.VersionBaseAddress = server.Base();
    form.FollowUpAddress = server.Base().substr(0, server.Base().size() - 2) + "pobrano.html";
    form.FormCreate();
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));
    EXPECT_FALSE(form.KeptFile.empty());
}

TEST_F(WindowTest, FailedCheckAnnouncesNothingAndLeavesNoTemporaryFile)
{
    VersionServer server;  // no version file: 404
    size_t before = WkFiles();
    TQuietForm form;
    form.VersionBaseAddress = server.Base();
    int64_t start = MonotonicMs();
    form.FormCreate();
    EXPECT_LT(MonotonicMs() - start, 5000);
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));
    EXPECT_TRUE(form.KeptFile.empty());
    EXPECT_EQ(WkFiles(), before);
}

TEST_F(WindowTest, FirstStartOpensAtTheTopLeftWithTheDefaultSize)
{
    TQuietForm form;
    form.FormCreate();
    EXPECT_EQ(form.width(), 522);
    EXPECT_EQ(form.height(), 342);
    EXPECT_EQ(form.pos(), QPoint(0, 0));
    EXPECT_EQ(form.windowState(), Qt::WindowNoState);
}

TEST_F(WindowTest, StoredPlacementIsKeptOnTheScreen)
{
    TPlacement p;
    p.Left = 1900;
    p.Width = 522;
    EXPECT_EQ(KeptOnScreen(p, 1280, 1024).Left, 758);
    p.Top = 900;
    EXPECT_EQ(KeptOnScreen(p, 1280, 1024).Top, 1024 - 342);
    TPlacement huge;
    huge.Width = 5000;
    huge.Height = 5000;
    EXPECT_EQ(KeptOnScreen(huge, 1280, 1024).Left, 0);
    EXPECT_EQ(KeptOnScreen(huge, 1280, 1024).Top, 0);

    TSettingsStore s("Welkor/Trelubki Serwer Zuli-Zuli");
    s.Write("StareRozmiary", "OdLewej", "1900");
    s.Write("StareRozmiary", "Szerokość", "522");
    s.Write("StareRozmiary", "Wysokość", "wysoko");  // not a number: the default
    TQuietForm form;
    form.ScreenWidth = 1280;
    form.ScreenHeight = 1024;
    form.FormCreate();
    EXPECT_EQ(form.pos().x(), 758);
    EXPECT_EQ(form.height(), 342);
}

TEST_F(WindowTest, ClosingMaximisedStoresStateTwoAndTheNormalBounds)
{
    {
        TQuietForm form;
        form.FormCreate();
        form.resize(600, 400);
        form.move(20, 30);
        form.show();
        Pump(50);
        form.showMaximized();
        Pump(50);
        form.close();
    }
    EXPECT_EQ(Placement("StanOkna"), "2");
    EXPECT_EQ(Placement("Szerokość"), "600");
    EXPECT_EQ(Placement("Wysokość"), "400");
    TQuietForm again;
    again.FormCreate();
    EXPECT_TRUE(again.windowState() & Qt::WindowMaximized);
}
