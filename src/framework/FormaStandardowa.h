#pragma once
// The standard window of the maker's applications: menu bar with an application menu and a
// help menu, the four toolbar areas with the main toolbar, a status bar that shows hints (and
// the legal notice when there is none), the title from the product information, help through a
// help file next to the program, the about box, the contact and update actions and the start-up
// check for a newer version. What it shows and decides is written without a toolkit
// (MenuTable, StatusHint, AboutBox, ContactActions, VersionCheck, Wspolne99); this class draws it
// with Qt and makes Qt's calls (menus, status tips, the desktop's open action, Qt Network).
#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

#include "framework/ContactActions.h"
#include "framework/MenuTable.h"
#include "framework/VersionCheck.h"
#include "framework/Wspolne99.h"

class QAction;
class QFile;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QToolBar;

class TFormaStandardowa : public QMainWindow {
public:
    explicit TFormaStandardowa(QWidget* parent = nullptr);
    ~TFormaStandardowa() override;  // FormDestroy: the kept download is deleted

    // Start-up of the window, after construction; derived windows call the inherited one first.
    virtual void FormCreate();
    // Each time the window closes; derived windows call the inherited one first.
    virtual void FormClose();

    void FileExitItemClick();
    void Contents1Click();
    void Temmenu1Click();
    void AboutItemClick();
    void PokazOpis(const QString& hint);
    void Telefon1Click();
    void Poczta1Click();
    void Hipertekst1Click();
    void Uaktualnienie1Click();

    // "%s wersja %d.%.2d.%.2d.%.2d", a line feed, the legal notice.
    QString AboutText() const;
    QString AboutTitle() const;

    QMenu* FileMenu = nullptr;
    QAction* FileExitItem = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* Temmenu1 = nullptr;
    QAction* Telefon1 = nullptr;
    QAction* Poczta1 = nullptr;
    QAction* Hipertekst1 = nullptr;
    QAction* Uaktualnienie1 = nullptr;
    QAction* AboutItem = nullptr;
    QToolBar* MainToolbar = nullptr;
    QAction* ExitBtn = nullptr;

    std::string ProductName, ProductUrl, LegalCopyright;
    TVersionPair ProductVersion;
    std::string HelpFile;

    // Contact data and the maker's version server (TRELUBKI_VERSION_URL: DefaultVersionServer).
    TContactData Contact;
    TVersionCheck VersionCheck;
    // Each download, name lookup included, ends within this; nothing waits for it meanwhile.
    int DownloadTimeoutMs = TVersionCheck::TimeLimitMs;

    // The desktop's open action and the message box; replaceable so that tests stay quiet.
    std::function<bool(const std::string& address)> ShellOpen;
    std::function<void(const QString& caption, const QString& text, bool information)> ShowMessageBox;

    // Starts the check in the background: the version file, then the follow-up page. The
    // window and the servers go on meanwhile; the newer-version notice appears when it arrives.
    void CheckForNewVersion();
    bool DownloadRunning() const { return FReply != nullptr; }
    // Stops a running download and deletes its file (closing the window does this).
    void AbandonDownload();
    // True once a download was stopped before it ended: a name lookup of it may still be
    // running in the toolkit's thread, which the process should not wait for when it ends.
    bool DownloadCutShort() const { return FCutShort; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void MessageBox(const std::string& title, const std::string& text, bool information);

private:
    QAction*& ActionFor(TMenuCommand command);  // the member that holds the item's action
    void Run(TMenuCommand command);
    void StartDownload(const TDownload& download);
    void TakeDownloadedData();
    void DownloadFinished();
    void ShowError(const char* sentence);

    QNetworkAccessManager* FNetwork = nullptr;
    QNetworkReply* FReply = nullptr;
    QTimer* FDeadline = nullptr;
    std::unique_ptr<QFile> FDownloadFile;
    qint64 FDownloaded = 0;
    bool FDownloadFailed = false;
    bool FCutShort = false;
};
