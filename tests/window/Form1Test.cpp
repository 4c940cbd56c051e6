#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>

#include "app/SerwerZuliZuliMain.h"
#include "core/Znaki.h"
#include "net/WSocket.h"
#include "support/ZzPeer.h"
#include "window/WindowFixture.h"

namespace {

TCommandLine FreePorts()
{
    TCommandLine o;
    o.MessengerPort = 0;
    o.HttpPort = 0;
    return o;
}

struct TTestForm1 : TForm1 {
    explicit TTestForm1(const TCommandLine& o) : TForm1(o)
    {
        VersionCheck.Server.VersionBaseAddress = WindowTest::Nowhere;
        VersionCheck.Server.FollowUpAddress = WindowTest::Nowhere;
    }
    std::vector<QString> Entries()
    {
        Log().Flush();
        std::vector<QString> out;
        for (QTextBlock b = RichEdit1->document()->begin(); b.isValid(); b = b.next())
            out.push_back(b.text());
        return out;
    }
    QColor ColourOf(int entry)
    {
        QTextBlock b = RichEdit1->document()->findBlockByNumber(entry);
        for (auto it = b.begin(); !it.atEnd(); ++it)
            return it.fragment().charFormat().foreground().color();
        return {};
    }
};

}  // namespace

TEST_F(WindowTest, NormalStartShowsTheAddressAndTheNoticeAlone)
{
    TTestForm1 form(FreePorts());
    form.FormCreate();
    EXPECT_EQ(form.windowTitle(), "Trelubki Serwer Zuli-Zuli");
    EXPECT_EQ(form.FileMenu->title(), "&Serwer");
    EXPECT_EQ(form.AdresSerwisuEd->text(), "localhost");
    auto entries = form.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].startsWith("Korzystanie z klientów Zuli-Zuli"));
    EXPECT_EQ(form.ColourOf(0), QColor(0, 0, 255));
    EXPECT_TRUE(form.Serwer().ZZSerwer().Active);
    // The key exists from the start; the value only after the first change.
    TSettingsStore store("Welkor/Trelubki/Serwer");
    EXPECT_TRUE(std::filesystem::exists(store.Location()));
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());
}

TEST_F(WindowTest, AddressIsStoredAtEveryChangeAndComesBack)
{
    {
        TTestForm1 form(FreePorts());
        form.FormCreate();
        form.AdresSerwisuEd->setText("serwer.łódź");
        EXPECT_EQ(form.Serwer().AnnouncedAddress(), Znaki::ToCp1250("serwer.łódź"));
    }
    {
        TTestForm1 form(FreePorts());
        form.FormCreate();
        EXPECT_EQ(form.AdresSerwisuEd->text(), "serwer.łódź");
        form.AdresSerwisuEd->setText("");
    }
    TTestForm1 form(FreePorts());
    form.FormCreate();
    EXPECT_EQ(form.AdresSerwisuEd->text(), "");
    EXPECT_EQ(form.Serwer().AnnouncedAddress(), "");
}

TEST_F(WindowTest, HttpPortHeldGivesRedMessageEmptyLineAndBlueNotice)
{
    TWSocket holder;
    int held = HoldAnyPort(holder);
    TCommandLine o = FreePorts();
    o.HttpPort = held;
    TTestForm1 form(o);
    form.FormCreate();
    auto entries = form.Entries();
    ASSERT_EQ(entries.size(), 3u);
    QString expected = QString("Nie udało się otworzyć portu %1 !").arg(o.HttpPort) + QChar(QChar::LineSeparator) +
                       "    " + QChar(QChar::LineSeparator) +
                       "    Najprawdopodobniej jest on blokowany przez funkcjonujący serwer HTTP.";
    EXPECT_TRUE(entries[0].startsWith(expected)) << entries[0].toStdString();
    EXPECT_TRUE(entries[0].endsWith("„0 0 localhost:0 localhost”"));
    EXPECT_EQ(form.ColourOf(0), QColor(255, 0, 0));
    EXPECT_EQ(entries[1], "");
    EXPECT_TRUE(entries[2].startsWith("Korzystanie"));
    EXPECT_EQ(form.ColourOf(2), QColor(0, 0, 255));
    EXPECT_TRUE(form.Serwer().ZZSerwer().Active);  // the messenger server opened all the same
    // Beside the log's guess, the system's reason and what to do, in red under the address.
    EXPECT_FALSE(form.Problems->isHidden());
    EXPECT_EQ(form.Problems->text(), QString("Nie udało się otworzyć portu HTTP %1: Error 10048 in function Bind Address "
                                             "already in use. Słucha na nim inny program: zatrzymaj go albo wybierz "
                                             "inny port (--http-port)")
                                         .arg(o.HttpPort));
}

TEST_F(WindowTest, AddressThatCannotBeStoredIsSaidInRedAndHoldsForThisRun)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    std::filesystem::create_directories(std::filesystem::path(store.Location()).parent_path());
    std::ofstream(store.Location()) << "[ustawienia]\nadres=stary\n";
    std::filesystem::permissions(store.Location(), std::filesystem::perms(0444));  // the administrator's
    TTestForm1 form(FreePorts());
    form.FormCreate();
    EXPECT_EQ(form.AdresSerwisuEd->text(), "stary");
    form.AdresSerwisuEd->setText("nowy");
    EXPECT_EQ(form.Serwer().AnnouncedAddress(), "nowy");  // used all the same, for this run
    EXPECT_EQ(store.Read("ustawienia", "adres"), "stary");
    EXPECT_FALSE(form.Problems->isHidden());
    EXPECT_EQ(form.Problems->text().toStdString(),
              "Nie można zapisać adresu, obowiązuje tylko do końca tej sesji: cannot write " + store.Location() +
                  ": Permission denied (the file is read-only)");
    EXPECT_EQ(std::filesystem::status(store.Location()).permissions(), std::filesystem::perms(0444));

    std::filesystem::permissions(store.Location(), std::filesystem::perms(0644));
    form.AdresSerwisuEd->setText("nowszy");
    EXPECT_TRUE(form.Problems->isHidden());  // stored again: the line goes
    EXPECT_EQ(store.Read("ustawienia", "adres"), "nowszy");
}

TEST_F(WindowTest, ServersRunOnTheWindowsLoopAndLogIntoThePane)
{
    TTestForm1 form(FreePorts());
    form.FormCreate();
    TZzPeer peer(BoundPort(form.Serwer().ZZSerwer().SocketServer()));
    EXPECT_TRUE(peer.Login(5));
    peer.SendPacket(cpPing, "");
    RunUntil([&] {
        QApplication::processEvents();
        return form.Entries().size() >= 5;
    });
    auto entries = form.Entries();
    ASSERT_GE(entries.size(), 5u);
    EXPECT_EQ(entries[1], ">powitanie");
    EXPECT_EQ(entries[2], ">logowanie użytkownika 5");
    EXPECT_EQ(entries[4], "5>ciągle jestem");
}

TEST_F(WindowTest, PaneKeepsTheNewestEntriesOnly)
{
    TTestForm1 form(FreePorts());
    form.FormCreate();
    int64_t start = MonotonicMs();
    for (int i = 0; i < TLogPane::MaxEntries + 5; ++i)
        form.Log().Append("wpis " + std::to_string(i));
    form.Log().Append(std::string("a\rb\0c", 5));
    auto entries = form.Entries();
    ASSERT_EQ(entries.size(), static_cast<size_t>(TLogPane::MaxEntries));
    EXPECT_EQ(entries.front(), "wpis 6");
    EXPECT_EQ(entries.back(), QString("a") + QChar(QChar::LineSeparator) + "    b{00}c");
    EXPECT_LT(MonotonicMs() - start, 20000);
}

TEST_F(WindowTest, AnEntryHoldsAtMostItsCapSoThePaneStaysBounded)
{
    TTestForm1 form(FreePorts());
    form.FormCreate();
    constexpr int Cap = TLogPane::MaxEntryChars;
    const QString ellipsis(QChar(0x2026));
    // A path or text of a MiB, entered many times over: each is cut to the cap.
    ByteString huge = "get /" + ByteString(1024 * 1024, 'a');
    for (int i = 0; i < 300; ++i)
        form.Log().Append(huge);
    form.Log().Append(ByteString(Cap, 'b'));                   // exactly the cap: whole
    form.Log().Append(ByteString(Cap / 2, '\x01'));           // shown four times longer: cut
    form.Log().Append(ByteString("x\r", 2) + ByteString(Cap, 'c'));  // the indent counts too
    auto entries = form.Entries();
    ASSERT_GE(entries.size(), 303u);
    const QString& first = entries[entries.size() - 303];
    EXPECT_EQ(first, "get /" + QString(Cap - 5, 'a') + ellipsis);
    EXPECT_EQ(entries[entries.size() - 3], QString(Cap, 'b'));
    EXPECT_EQ(entries[entries.size() - 2], QString("{01}").repeated(Cap / 4) + ellipsis);
    const QString& last = entries.back();
    EXPECT_EQ(last.size(), Cap + 1);
    EXPECT_TRUE(last.startsWith(QString("x") + QChar(QChar::LineSeparator) + "    ccc"));
    EXPECT_TRUE(last.endsWith("c" + ellipsis));
    EXPECT_LT(form.RichEdit1->document()->characterCount(), 310 * (Cap + 2) + 2000);
}

TEST_F(WindowTest, MessengerPortThatCannotBeOpenedIsShownInTheWindow)
{
    TWSocket holder;
    int held = HoldAnyPort(holder);
    TCommandLine o = FreePorts();
    o.MessengerPort = held;
    TTestForm1 form(o);
    form.FormCreate();
    form.show();
    EXPECT_FALSE(form.Serwer().ZZSerwer().Active);
    EXPECT_TRUE(form.Problems->isVisible());
    QString text = form.Problems->text();
    EXPECT_TRUE(text.startsWith(QString("Nie udało się otworzyć portu komunikatora %1: Error 10048 in function Bind")
                                    .arg(o.MessengerPort)))
        << text.toStdString();
    EXPECT_FALSE(text.contains('\r') || text.contains('\n'));
    auto entries = form.Entries();  // the log keeps its own lines: the notice alone
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].startsWith("Korzystanie"));

    TTestForm1 fine(FreePorts());
    fine.FormCreate();
    fine.show();
    EXPECT_FALSE(fine.Problems->isVisible());
}

TEST_F(WindowTest, WindowAndAboutBoxCarryTheProgramsIcon)
{
    TTestForm1 form(FreePorts());
    form.FormCreate();
    ASSERT_FALSE(ProgramIcon().isNull());
    EXPECT_EQ(ProgramIcon().availableSizes().value(0), QSize(256, 256));
    EXPECT_FALSE(form.windowIcon().isNull());
    TBoxSeen about = SeeModalBox([&] { form.AboutItemClick(); });
    EXPECT_TRUE(about.Seen);
    EXPECT_TRUE(about.Icon);
}
