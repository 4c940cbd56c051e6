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

#include <cstring>
#include <utility>

#include "framework/AboutBox.h"
#include "framework/StatusHint.h"

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QKeySequence KeyOf(const TShortcut& k)
{
    if (k.IsNone())
        return {};
    int key = k.Key == TShortcut::KeyF1 ? Qt::Key_F1 : k.Key == TShortcut::KeyEnter ? Qt::Key_Return : k.Key;
    return QKeySequence(QKeyCombination((k.Ctrl ? Qt::ControlModifier : Qt::NoModifier) |
                                            (k.Alt ? Qt::AltModifier : Qt::NoModifier),
                                        static_cast<Qt::Key>(key)));
}

}  // namespace

TFormaStandardowa::TFormaStandardowa(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(StandardCaption);
    resize(StandardWidth, StandardHeight);
    QFont f(StandardFontName);
    f.setPointSize(StandardFontPoints);
    setFont(f);

    // The menus as the table has them; each item's command reaches its handler through Run.
    QMenu* menu = nullptr;
    for (const TMenuItem& item : StandardMenu()) {
        if (item.Kind == TMenuItemKind::TopMenu) {
            menu = menuBar()->addMenu(item.Caption);
            menu->menuAction()->setStatusTip(item.Hint);
            (std::strcmp(item.Name, "FileMenu") == 0 ? FileMenu : Help1) = menu;
            continue;
        }
        if (item.Kind == TMenuItemKind::Separator) {
            menu->addSeparator();
            continue;
        }
        const TMenuCommand command = item.Command;
        QAction* action = menu->addAction(item.Caption, this, [this, command] { Run(command); });
        if (command != TMenuCommand::About)  // its hint names the product: FormCreate sets it
            action->setStatusTip(Q(MenuHint(item, ProductName)));
        action->setShortcut(KeyOf(item.Shortcut));
        ActionFor(command) = action;
    }

    // The four toolbar areas of the main window stand for the docks; the main toolbar sits on top.
    MainToolbar = new QToolBar(MainToolbarCaption, this);
    MainToolbar->setObjectName("MainToolbar");
    addToolBar(Qt::TopToolBarArea, MainToolbar);
    const TToolButton& exit = ExitButton();
    ExitBtn = MainToolbar->addAction(style()->standardIcon(QStyle::SP_DialogCloseButton), exit.Caption, this,
                                     [this, command = exit.Command] { Run(command); });
    ExitBtn->setToolTip(Q(ShortHint(exit.Hint)));
    ExitBtn->setStatusTip(Q(LongHint(exit.Hint)));

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
    AbandonDownload();  // the kept download goes with VersionCheck
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
    AboutItem->setStatusTip(Q(MenuHint(*MenuItemFor(TMenuCommand::About), ProductName)));

    HelpFile = FindHelpFile(HelpFileBase(ProgramPath()));
    TMenuState state{!HelpFile.empty(), !ProductUrl.empty()};
    Contents1->setEnabled(MenuItemEnabled(TMenuCommand::HelpContents, state));
    Uaktualnienie1->setEnabled(MenuItemEnabled(TMenuCommand::Update, state));
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

QAction*& TFormaStandardowa::ActionFor(TMenuCommand command)
{
    switch (command) {
    case TMenuCommand::FileExit: return FileExitItem;
    case TMenuCommand::HelpContents: return Contents1;
    case TMenuCommand::HelpOnHelp: return Temmenu1;
    case TMenuCommand::Telephone: return Telefon1;
    case TMenuCommand::Mail: return Poczta1;
    case TMenuCommand::WebPage: return Hipertekst1;
    case TMenuCommand::Update: return Uaktualnienie1;
    case TMenuCommand::About:
    case TMenuCommand::None: break;
    }
    return AboutItem;
}

void TFormaStandardowa::Run(TMenuCommand command)
{
    RunMenuCommand(*this, command);
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
    return Q(::AboutTitle(ProductName));
}

QString TFormaStandardowa::AboutText() const
{
    return Q(::AboutText(ProductName, ProductVersion, LegalCopyright));
}

void TFormaStandardowa::AboutItemClick()
{
    QMessageBox::about(this, AboutTitle(), AboutText());
}

void TFormaStandardowa::PokazOpis(const QString& hint)
{
    QString text = Q(StatusBarText(hint.toStdString(), LegalCopyright));
    if (statusBar()->currentMessage() != text)
        statusBar()->showMessage(text);
}

void TFormaStandardowa::MessageBox(const std::string& title, const std::string& text, bool information)
{
    ShowMessageBox(Q(MessageBoxCaption(ProductName, title)), Q(text), information);
}

void TFormaStandardowa::ShowError(const char* sentence)
{
    MessageBox(ErrorTitle, ErrorBoxText(sentence), false);
}

void TFormaStandardowa::Telefon1Click()
{
    // The desktop places the call; like the telephony request, its answer is not looked at.
    ShellOpen(TelephoneAddress(Contact.TelephoneNumber));
}

void TFormaStandardowa::Poczta1Click()
{
    if (!ShellOpen(MailAddressFor(Contact.MailAddress, ProductName)))
        ShowError(MailFailure);
}

void TFormaStandardowa::Hipertekst1Click()
{
    if (!ShellOpen(Contact.WebPage))
        ShowError(BrowserFailure);
}

void TFormaStandardowa::Uaktualnienie1Click()
{
    if (!ShellOpen(ProductUrl))
        ShowError(BrowserFailure);
}

// --- version check: the decisions are TVersionCheck's, the downloads Qt Network's ------------

void TFormaStandardowa::CheckForNewVersion()
{
    if (auto download = VersionCheck.Start(InstallLocationOf(ProgramPath()), FileVersionOf(ProgramPath())))
        StartDownload(*download);
}

void TFormaStandardowa::StartDownload(const TDownload& download)
{
    FDownloadFile = std::make_unique<QFile>(Q(download.File));
    if (!FDownloadFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        FDownloadFile.reset();
        VersionCheck.Stopped({});
        return;
    }
    if (!FNetwork)
        FNetwork = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(Q(download.Address)));
    // A redirect is not the file that was asked for (a portal or a parked name answers so).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(DownloadTimeoutMs);
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
    if (TVersionCheck::TooLarge(static_cast<uint64_t>(FDownloaded)) || FDownloadFile->write(data) != data.size()) {
        FDownloadFailed = true;
        FReply->abort();
    }
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
    TDownloadResult result;
    result.Completed = !FDownloadFailed && reply->error() == QNetworkReply::NoError;
    result.Completed = FDownloadFile->flush() && result.Completed;
    FDownloadFile.reset();
    QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.HttpStatus = status.isValid() ? status.toInt() : 0;
    result.ContentType = reply->header(QNetworkRequest::ContentTypeHeader).toString().toStdString();
    reply->disconnect(this);
    reply->deleteLater();
    TVersionStep step = VersionCheck.Stopped(result);
    if (step.ShowNotice)
        statusBar()->showMessage(Q(NewerVersionNotice));
    if (step.Next)
        StartDownload(*step.Next);
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
    VersionCheck.Abandon();
}
