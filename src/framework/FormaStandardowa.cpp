#include "framework/FormaStandardowa.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <utility>

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
    // A program outside the known folders keeps its whole, absolute path: its own leading slash
    // would double the one after the code.
    std::string path = Slashes(location.RelativePath);
    path.erase(0, path.find_first_not_of('/'));
    return base + location.Code + "/" + path + ".zawartosc" + ".wersja";
}

bool LooksLikeWebPage(const QByteArray& head, const QByteArray& contentType)
{
    QByteArray type = contentType.toLower();
    if (type.contains("html") || type.contains("xml"))
        return true;
    QByteArray text = head;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    text = text.trimmed().left(16).toLower();
    for (const char* start : {"<!doctype", "<html", "<head", "<body", "<?xml", "<!--"})
        if (text.startsWith(start))
            return true;
    return false;
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

    // Hints the toolkit leaves standing: a menu closed with Esc, a disabled item, a tool button
    // without a hint of its own.
    FileMenu->installEventFilter(this);
    Help1->installEventFilter(this);
    if (QWidget* button = MainToolbar->widgetForAction(ExitBtn))
        button->installEventFilter(this);

    FDeadline = new QTimer(this);
    FDeadline->setSingleShot(true);
    connect(FDeadline, &QTimer::timeout, this, [this] {
        if (FReply) {
            FCutShort = true;
            FReply->abort();  // finishes it, as a failure
        }
    });
    if (const char* base = std::getenv("TRELUBKI_VERSION_URL")) {
        VersionBaseAddress = base;
        FollowUpAddress = *base ? VersionBaseAddress + "pobrano.html" : std::string();
    }

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
    AbandonDownload();
    if (!KeptFile.empty())
        std::remove(KeptFile.c_str());
}

void TFormaStandardowa::FormCreate()
{
    TProductInfo info = ProductInfoOf(ProgramPath());
    ProductName = info.ProductName;
    ProductUrl = info.ProductUrl;
    LegalCopyright = info.LegalCopyright;
    ProductVersion = info.ProductVersion;

    // The caption alone: an application display name would be appended by the toolkit to the
    // caption of every dialog ("... - Błąd — Trelubki Serwer Zuli-Zuli").
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
    AbandonDownload();  // a check still running ends with the window
    event->accept();
}

bool TFormaStandardowa::event(QEvent* event)
{
    // Every hint goes through PokazOpis, so an empty one shows the legal notice.
    if (event->type() == QEvent::StatusTip) {
        PokazOpis(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

bool TFormaStandardowa::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::StatusTip:
        // A menu of its own (a popup) keeps its items' hints to itself otherwise.
        PokazOpis(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    case QEvent::Hide:
    case QEvent::Leave:
        PokazOpis(QString());
        break;
    case QEvent::Enter:
        if (auto* button = qobject_cast<QToolButton*>(watched))
            PokazOpis(button->defaultAction() ? button->defaultAction()->statusTip() : QString());
        break;
    case QEvent::MouseMove:
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            QAction* item = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            if (!item || !item->isEnabled())
                PokazOpis(QString());
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
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
    if (VersionBaseAddress.empty())
        return;
    StartDownload(VersionFileAddress(VersionBaseAddress, InstallLocationOf(ProgramPath())));
}

void TFormaStandardowa::StartDownload(const std::string& address)
{
    CurrentAddress = address;
    CurrentFile = NewTempFile();
    FDownloadFile = std::make_unique<QFile>(Q(CurrentFile));
    if (CurrentFile.empty() || !FDownloadFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        FDownloadFile.reset();
        DownloadStopped(false);
        return;
    }
    if (!FNetwork)
        FNetwork = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(Q(address)));
    // A redirect is not the file that was asked for (a portal or a parked name answers so).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(DownloadTimeoutMs);
    FDownloadHead.clear();
    FDownloaded = 0;
    FDownloadFailed = false;
    FReply = FNetwork->get(request);
    connect(FReply, &QNetworkReply::readyRead, this, &TFormaStandardowa::TakeDownloadedData);
    connect(FReply, &QNetworkReply::finished, this, &TFormaStandardowa::DownloadFinished);
    FDeadline->start(DownloadTimeoutMs);
}

void TFormaStandardowa::TakeDownloadedData()
{
    if (!FReply || FDownloadFailed)
        return;
    QByteArray data = FReply->readAll();
    FDownloaded += data.size();
    if (FDownloadHead.size() < 64)
        FDownloadHead += data.left(64 - FDownloadHead.size());
    if (FDownloaded > MaxDownloadBytes || FDownloadFile->write(data) != data.size()) {
        FDownloadFailed = true;
        FReply->abort();
    }
}

bool TFormaStandardowa::ReplyIsTheResource(QNetworkReply* reply) const
{
    if (FDownloadFailed || reply->error() != QNetworkReply::NoError)
        return false;
    QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return false;  // a redirect, or an error page that came with no error
    if (EndsWithNoCase(CurrentAddress, ".wersja") &&
        LooksLikeWebPage(FDownloadHead, reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()))
        return false;
    return true;
}

void TFormaStandardowa::DownloadFinished()
{
    QNetworkReply* reply = std::exchange(FReply, nullptr);
    FDeadline->stop();
    if (!FDownloadFailed && reply->error() == QNetworkReply::NoError) {
        FReply = reply;  // what arrived with the end
        TakeDownloadedData();
        FReply = nullptr;
    }
    bool success = ReplyIsTheResource(reply);
    success = FDownloadFile->flush() && success;
    FDownloadFile.reset();
    reply->disconnect(this);
    reply->deleteLater();
    DownloadStopped(success);
}

void TFormaStandardowa::AbandonDownload()
{
    if (FReply) {
        QNetworkReply* reply = std::exchange(FReply, nullptr);
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        FCutShort = true;
    }
    if (FDeadline)
        FDeadline->stop();
    FDownloadFile.reset();
    if (!CurrentFile.empty())
        std::remove(CurrentFile.c_str());
    CurrentFile.clear();
}

void TFormaStandardowa::DownloadStopped(bool success)
{
    if (!success) {
        // Nothing is announced; the temporary file is not left behind.
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
        if (!FollowUpAddress.empty())
            StartDownload(FollowUpAddress);
    } else {
        if (!KeptFile.empty())
            std::remove(KeptFile.c_str());
        KeptFile = CurrentFile;
        CurrentFile.clear();
    }
}
