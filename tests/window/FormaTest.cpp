#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include "framework/FormaBezdokumentowaPozycjonowana.h"
#include "http/HttpSrv.h"
#include "support/RawHttpServer.h"
#include "window/WindowFixture.h"

namespace {

struct TQuietForm : TFormaBezdokumentowaPozycjonowana {
    std::vector<std::string> Opened;
    std::vector<QString> Boxes;
    bool OpenSucceeds = true;
    std::function<void(const QString&, const QString&, bool)> RealBox;
    TQuietForm()
    {
        RealBox = ShowMessageBox;
        VersionCheck.Server.VersionBaseAddress = WindowTest::Nowhere;
        VersionCheck.Server.FollowUpAddress = WindowTest::Nowhere;
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

// Runs the start-up and waits for the version check it began, as the window's loop would.
void CreateAndCheck(TFormaStandardowa& form)
{
    form.FormCreate();
    int64_t end = MonotonicMs() + 10000;
    while (form.DownloadRunning() && MonotonicMs() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

const std::string NewerVersion("\x00\x00\x09\x00\x00\x00\x00\x00", 8);  // 9.0.0.0

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
    EXPECT_EQ(form.Opened[0], form.Contact.MailAddress + "?subject=Zapytanie%20o%20Trelubki%20Serwer%20Zuli-Zuli");
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
        form.VersionCheck.Server.VersionBaseAddress = server.Base();
        form.VersionCheck.Server.FollowUpAddress = server.Base().substr(0, server.Base().size() - 2) + "pobrano.html";
        CreateAndCheck(form);
        EXPECT_EQ(form.statusBar()->currentMessage(),
                  "Dostępna jest już nowsza wersja programu. Do uaktualnienia użyj: Pomoc, Uaktualnienie");
        kept = form.VersionCheck.KeptFile();
        ASSERT_FALSE(kept.empty());
        std::ifstream in(kept);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(text, "thanks");
        EXPECT_TRUE(form.VersionCheck.CurrentFile().empty());  // the version file itself is gone
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST_F(WindowTest, SameVersionAnnouncesNothingButStillFetchesTheFollowUp)
{
    VersionServer server;
    server.VersionFile(std::string("\x00\x00\x01\x00\x00\x00\x00\x00", 8));  // 1.0.0.0, this build
    TQuietForm form;
    form.VersionCheck.Server.VersionBaseAddress = server.Base();
    form.VersionCheck.Server.FollowUpAddress = server.Base().substr(0, server.Base().size() - 2) + "pobrano.html";
    CreateAndCheck(form);
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));
    EXPECT_FALSE(form.VersionCheck.KeptFile().empty());
}

TEST_F(WindowTest, FailedCheckAnnouncesNothingAndLeavesNoTemporaryFile)
{
    VersionServer server;  // no version file: 404
    size_t before = WkFiles();
    TQuietForm form;
    form.VersionCheck.Server.VersionBaseAddress = server.Base();
    int64_t start = MonotonicMs();
    CreateAndCheck(form);
    EXPECT_LT(MonotonicMs() - start, 5000);
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));
    EXPECT_TRUE(form.VersionCheck.KeptFile().empty());
    EXPECT_EQ(WkFiles(), before);
}

TEST_F(WindowTest, VersionFileAddressHasOneSlashAfterTheCode)
{
    EXPECT_EQ(VersionFileAddress("http://v/", {'~', "/home/ala/trelubki-serwer"}),
              "http://v/~/home/ala/trelubki-serwer.zawartosc.wersja");
    EXPECT_EQ(VersionFileAddress("http://v/", {'P', "Welkor\\Trelubki\\Serwer.exe"}),
              "http://v/P/Welkor/Trelubki/Serwer.exe.zawartosc.wersja");
}

TEST_F(WindowTest, OnlyAVersionFileCountsAsOne)
{
    // Each reply would announce 9.0.0.0 if it were taken for the version file.
    std::string redirect;
    TRawHttpServer server([&](const std::string& path) {
        if (path == "/prawdziwy")
            return HttpReply("200 OK", "application/octet-stream", NewerVersion);
        return redirect;
    });
    struct TCase {
        const char* Name;
        std::string Reply;
        bool Announced;
    } cases[] = {
        {"a version file", HttpReply("200 OK", "application/octet-stream", NewerVersion), true},
        {"a redirect", HttpReply("302 Found", "text/plain", "", "Location: " + server.Base() + "prawdziwy\r\n"), false},
        {"a moved page", HttpReply("301 Moved Permanently", "application/octet-stream", NewerVersion), false},
        {"an error page", HttpReply("500 Internal Server Error", "application/octet-stream", NewerVersion), false},
        {"a portal's page", HttpReply("200 OK", "text/html; charset=utf-8", "<html><body>Zaloguj</body></html>"), false},
        {"a page without its type", HttpReply("200 OK", "application/octet-stream", "\r\n  <!DOCTYPE html>\n<html>"), false},
        {"a page in XML", HttpReply("200 OK", "application/xhtml+xml", NewerVersion), false},
    };
    for (const TCase& c : cases) {
        redirect = c.Reply;
        size_t before = WkFiles();
        TQuietForm form;
        form.VersionCheck.Server.VersionBaseAddress = server.Base();
        form.VersionCheck.Server.FollowUpAddress = server.Base() + "pobrano.html";
        CreateAndCheck(form);
        bool announced = form.statusBar()->currentMessage().startsWith("Dostępna jest już nowsza wersja");
        EXPECT_EQ(announced, c.Announced) << c.Name;
        EXPECT_EQ(form.VersionCheck.KeptFile().empty(), !c.Announced) << c.Name << ": the follow-up comes only after a version file";
        form.AbandonDownload();
        EXPECT_LE(WkFiles(), before + (c.Announced ? 1 : 0)) << c.Name;
    }
}

TEST_F(WindowTest, VersionCheckNeverHoldsTheWindowAndEndsWithinItsLimit)
{
    TRawHttpServer stalled([](const std::string&) { return std::string(); });
    size_t before = WkFiles();
    TQuietForm form;
    form.VersionCheck.Server.VersionBaseAddress = stalled.Base();
    form.DownloadTimeoutMs = 1500;
    int64_t start = MonotonicMs();
    form.FormCreate();
    EXPECT_LT(MonotonicMs() - start, 750);  // the check goes on in the background
    EXPECT_TRUE(form.DownloadRunning());
    EXPECT_EQ(WkFiles(), before + 1);
    while (form.DownloadRunning() && MonotonicMs() - start < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    int64_t took = MonotonicMs() - start;
    EXPECT_GE(took, 1400);
    EXPECT_LT(took, 1500 + 1500);  // its limit, with room for a loaded machine
    EXPECT_EQ(WkFiles(), before);
    EXPECT_EQ(form.statusBar()->currentMessage(), QString::fromStdString(form.LegalCopyright));

    // Closing the window during a check ends it at once and leaves no file behind.
    TQuietForm closing;
    closing.VersionCheck.Server.VersionBaseAddress = stalled.Base();
    closing.FormCreate();
    closing.show();
    ASSERT_TRUE(closing.DownloadRunning());
    closing.close();
    EXPECT_FALSE(closing.DownloadRunning());
    EXPECT_TRUE(closing.DownloadCutShort());
    EXPECT_TRUE(closing.VersionCheck.CurrentFile().empty());
    EXPECT_EQ(WkFiles(), before);
}

TEST_F(WindowTest, EmptyVersionServerTurnsTheCheckOff)
{
    setenv("TRELUBKI_VERSION_URL", "", 1);
    TFormaStandardowa off;
    unsetenv("TRELUBKI_VERSION_URL");
    EXPECT_EQ(off.VersionCheck.Server.VersionBaseAddress, "");
    off.ShowMessageBox = [](const QString&, const QString&, bool) {};
    off.FormCreate();
    EXPECT_FALSE(off.DownloadRunning());
    setenv("TRELUBKI_VERSION_URL", "http://lustro.lan/w/", 1);
    TFormaStandardowa mirror;
    unsetenv("TRELUBKI_VERSION_URL");
    EXPECT_EQ(mirror.VersionCheck.Server.VersionBaseAddress, "http://lustro.lan/w/");
    EXPECT_EQ(mirror.VersionCheck.Server.FollowUpAddress, "http://lustro.lan/w/pobrano.html");
}

TEST_F(WindowTest, HintsEndWithTheirMenuAndEmptyOnesShowTheLegalNotice)
{
    TQuietForm form;
    form.FormCreate();
    form.show();
    Pump(20);
    const QString legal = QString::fromStdString(form.LegalCopyright);
    auto hover = [](QWidget* w, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    };

    // A menu closed with Esc takes its item's hint with it.
    form.Help1->popup(QPoint(0, 0));
    Pump(20);
    hover(form.Help1, form.Help1->actionGeometry(form.Temmenu1).center());
    Pump(20);
    EXPECT_EQ(form.statusBar()->currentMessage(), "Informacje o użyciu pomocy");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(form.Help1, &esc);
    Pump(20);
    EXPECT_FALSE(form.Help1->isVisible());
    EXPECT_EQ(form.statusBar()->currentMessage(), legal);

    // A disabled item (no help file: "Tematy Pomocy") has no hint to show.
    ASSERT_FALSE(form.Contents1->isEnabled());
    form.PokazOpis("Informacje pomocnicze");  // the menu's own hint, as when it is opened
    form.Help1->popup(QPoint(0, 0));
    Pump(20);
    hover(form.Help1, form.Help1->actionGeometry(form.Contents1).center());
    Pump(20);
    EXPECT_EQ(form.statusBar()->currentMessage(), legal);
    form.Help1->hide();

    // The tool button's hint is empty ("Zamknij|").
    form.PokazOpis("Zamknięcie");
    QWidget* button = form.MainToolbar->widgetForAction(form.ExitBtn);
    ASSERT_NE(button, nullptr);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), button->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(button, &enter);
    Pump(20);
    EXPECT_EQ(form.statusBar()->currentMessage(), legal);
    // and a hint of an item under the mouse still shows
    QStatusTipEvent tip("Zamknięcie");
    QApplication::sendEvent(form.FileMenu, &tip);
    EXPECT_EQ(form.statusBar()->currentMessage(), "Zamknięcie");
}

TEST_F(WindowTest, DialogCaptionsAreExactlyTheirOwn)
{
    TQuietForm form;
    form.ShowMessageBox = form.RealBox;
    form.FormCreate();
    // The toolkit appends an application display name to every dialog's caption.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    form.OpenSucceeds = false;
    TBoxSeen error = SeeModalBox([&] { form.Poczta1Click(); });
    EXPECT_EQ(error.Title, "Trelubki Serwer Zuli-Zuli - Błąd");
    EXPECT_EQ(error.Text, "Błąd podczas uruchamiania poczty. Możliwe, że brak odpowiedniego programu.");
    TBoxSeen about = SeeModalBox([&] { form.AboutItemClick(); });
    EXPECT_EQ(about.Title, "O programie Trelubki Serwer Zuli-Zuli...");
    EXPECT_TRUE(about.Text.startsWith("Trelubki Serwer Zuli-Zuli wersja 1.00.00.00\n"));
}
