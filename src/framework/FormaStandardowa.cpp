#include "framework/FormaStandardowa.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <cstdio>

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

bool EndsWithNoCase(const std::string& s, const std::string& tail)
{
    if (s.size() < tail.size())
        return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) !=
            std::tolower(static_cast<unsigned char>(tail[i])))
            return false;
    return true;
}

const char* const NewerVersionNotice =
    "Dostępna jest już nowsza wersja programu. Do uaktualnienia użyj: Pomoc, Uaktualnienie";

}  // namespace

std::string MailAddressFor(const std::string& mailAddress, const std::string& productName)
{
    std::string subject = "Zapytanie o " + productName;
    std::string encoded;
    for (char c : subject)
        encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    return mailAddress + "?subject=" + encoded;
}

std::string VersionFileAddress(const std::string& base, const TInstallLocation& location)
{
    return base + location.Code + "/" + Slashes(location.RelativePath) + ".zawartosc" + ".wersja";
}

TFormaStandardowa::TFormaStandardowa(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle("?");
    resize(544, 375);
    QFont f("MS Sans Serif");
    f.setPointSize(8);
    setFont(f);

    FileMenu = menuBar()->addMenu("&?");
    FileMenu->menuAction()->setStatusTip("Instalowanie nowego oprogramowania");
    FileMenu->addSeparator();
    FileExitItem = FileMenu->addAction("&Zamknij", this, &TFormaStandardowa::FileExitItemClick);
    FileExitItem->setStatusTip("Zamknięcie");
    FileExitItem->setShortcut(QKeySequence("Alt+X"));

    Help1 = menuBar()->addMenu("Pomo&c");
    Help1->menuAction()->setStatusTip("Informacje pomocnicze");
    Contents1 = Help1->addAction("Tematy &Pomocy", this, &TFormaStandardowa::Contents1Click);
    Contents1->setStatusTip("Pomoc główna");
    Contents1->setShortcut(QKeySequence(Qt::Key_F1));
    Temmenu1 = Help1->addAction("Użycie Pomocy", this, &TFormaStandardowa::Temmenu1Click);
    Temmenu1->setStatusTip("Informacje o użyciu pomocy");
    Help1->addSeparator();
    Telefon1 = Help1->addAction("&Telefon", this, &TFormaStandardowa::Telefon1Click);
    Telefon1->setStatusTip("Wykręcenie numeru telefonu do autora");
    Poczta1 = Help1->addAction("Poczta", this, &TFormaStandardowa::Poczta1Click);
    Poczta1->setStatusTip("Wysłanie poczty elektronicznej do autora");
    Hipertekst1 = Help1->addAction("Hipertekst", this, &TFormaStandardowa::Hipertekst1Click);
    Hipertekst1->setStatusTip("Podgląd strony hipertekstowej autora");
    Help1->addSeparator();
    Uaktualnienie1 = Help1->addAction("&Uaktualnienie", this, &TFormaStandardowa::Uaktualnienie1Click);
    Uaktualnienie1->setStatusTip("Uaktualnienie z internetu");
    Help1->addSeparator();
    AboutItem = Help1->addAction("Windows - &informacje", this, &TFormaStandardowa::AboutItemClick);
    AboutItem->setShortcut(QKeySequence("Ctrl+Return"));

    // The four toolbar areas of the main window stand for the docks; the main toolbar sits on top.
    MainToolbar = new QToolBar("Main", this);
    MainToolbar->setObjectName("MainToolbar");
    addToolBar(Qt::TopToolBarArea, MainToolbar);
    ExitBtn = MainToolbar->addAction(style()->standardIcon(QStyle::SP_DialogCloseButton), "Zamknij", this,
                                     &TFormaStandardowa::FileExitItemClick);
    ExitBtn->setToolTip("Zamknij");
    ExitBtn->setStatusTip("");

    ShellOpen = [](const std::string& address) { return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(address))); };
    ShowMessageBox = [this](const QString& caption, const QString& text, bool information) {
        QMessageBox box(information ? QMessageBox::Information : QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
        box.exec();
    };
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& m) {
        if (m.isEmpty())
            PokazOpis(m);
    });
}

TFormaStandardowa::~TFormaStandardowa()
{
    if (!KeptFile.empty())
        std::remove(KeptFile.c_str());
    if (!CurrentFile.empty())
        std::remove(CurrentFile.c_str());
}

void TFormaStandardowa::FormCreate()
{
    TProductInfo info = ProductInfoOf(ProgramPath());
    ProductName = info.ProductName;
    ProductUrl = info.ProductUrl;
    LegalCopyright = info.LegalCopyright;
    ProductVersion = info.ProductVersion;

    QGuiApplication::setApplicationDisplayName(Q(ProductName));
    setWindowTitle(Q(ProductName));
    PokazOpis(QString());
    AboutItem->setStatusTip(QString("O programie %1...").arg(Q(ProductName)));

    HelpFile = FindHelpFile(HelpFileBase(ProgramPath()));
    Contents1->setEnabled(!HelpFile.empty());
    if (ProductUrl.empty())
        Uaktualnienie1->setEnabled(false);
    CheckForNewVersion();
}

void TFormaStandardowa::FormClose()
{
    // The help viewer is the desktop's own program: nothing of ours stays open to close.
}

void TFormaStandardowa::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TFormaStandardowa::FileExitItemClick()
{
    close();
}

void TFormaStandardowa::Contents1Click()
{
    if (!HelpFile.empty())
        ShellOpen(QUrl::fromLocalFile(Q(HelpFile)).toString().toStdString());
}

void TFormaStandardowa::Temmenu1Click()
{
    Contents1Click();
}

QString TFormaStandardowa::AboutTitle() const
{
    return QString("O programie %1...").arg(Q(ProductName));
}

QString TFormaStandardowa::AboutText() const
{
    return Q(ProductName + " wersja " + VersionText(ProductVersion) + "\n" + LegalCopyright);
}

void TFormaStandardowa::AboutItemClick()
{
    QMessageBox::about(this, AboutTitle(), AboutText());
}

void TFormaStandardowa::PokazOpis(const QString& hint)
{
    QString text = hint.isEmpty() ? Q(LegalCopyright) : hint;
    if (statusBar()->currentMessage() != text)
        statusBar()->showMessage(text);
}

void TFormaStandardowa::MessageBox(const std::string& title, const std::string& text, bool information)
{
    ShowMessageBox(Q(ProductName + " - " + title), Q(text), information);
}

void TFormaStandardowa::ShowError(const char* sentence)
{
    MessageBox("Błąd", std::string(sentence) + " Możliwe, że brak odpowiedniego programu.", false);
}

void TFormaStandardowa::Telefon1Click()
{
    // The desktop places the call; like the telephony request, its answer is not looked at.
    std::string number;
    for (char c : TelephoneNumber)
        if (c == '+' || (c >= '0' && c <= '9'))
            number += c;
    ShellOpen("tel:" + number);
}

void TFormaStandardowa::Poczta1Click()
{
    if (!ShellOpen(MailAddressFor(MailAddress, ProductName)))
        ShowError("Błąd podczas uruchamiania poczty.");
}

void TFormaStandardowa::Hipertekst1Click()
{
    if (!ShellOpen(WebPage))
        ShowError("Błąd podczas uruchamiania przeglądarki.");
}

void TFormaStandardowa::Uaktualnienie1Click()
{
    if (!ShellOpen(ProductUrl))
        ShowError("Błąd podczas uruchamiania przeglądarki.");
}

// --- version check ---------------------------------------------------------------------------

void TFormaStandardowa::CheckForNewVersion()
{
    StartDownload(VersionFileAddress(VersionBaseAddress, InstallLocationOf(ProgramPath())));
}

void TFormaStandardowa::StartDownload(const std::string& address)
{
    CurrentAddress = address;
    CurrentFile = NewTempFile();
    DownloadStopped(!CurrentFile.empty() && Download(address, CurrentFile));
}

bool TFormaStandardowa::Download(const std::string& address, const std::string& file)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(Q(address)));
    request.setTransferTimeout(DownloadTimeoutMs);
    QNetworkReply* reply = manager.get(request);
    QEventLoop wait;
    QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    QTimer::singleShot(DownloadTimeoutMs + 500, &wait, &QEventLoop::quit);  // whatever happens
    if (!reply->isFinished())
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError;
    if (ok) {
        QFile out(Q(file));
        ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(reply->readAll()) >= 0;
    }
    reply->abort();
    reply->deleteLater();
    return ok;
}

void TFormaStandardowa::DownloadStopped(bool success)
{
    if (!success) {
        // Nothing is announced; the empty temporary file is not left behind.
        if (!CurrentFile.empty())
            std::remove(CurrentFile.c_str());
        CurrentFile.clear();
        return;
    }
    if (EndsWithNoCase(CurrentAddress, ".wersja")) {
        TVersionPair mine = FileVersionOf(ProgramPath());
        TVersionPair offered = VersionPairFromFile(CurrentFile);
        std::remove(CurrentFile.c_str());
        CurrentFile.clear();
        if (CompareVersions(offered, mine) > 0)
            statusBar()->showMessage(NewerVersionNotice);
        StartDownload(FollowUpAddress);
    } else {
        if (!KeptFile.empty())
            std::remove(KeptFile.c_str());
        KeptFile = CurrentFile;
        CurrentFile.clear();
    }
}
