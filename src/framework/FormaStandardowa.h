#pragma once
// The standard window of the maker's applications: menu bar with an application menu and a
// help menu, the four toolbar areas with the main toolbar, a status bar that shows hints (and
// the legal notice when there is none), the title from the product information, help through a
// help file next to the program, the about box, the contact and update actions and the start-up
// check for a newer version.
#include <QByteArray>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

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

    // Contact data and the maker's version server.
    std::string ContactName = "Welkor";
    std::string TelephoneNumber = "+48 (000) 000-000";
    std::string MailAddress = "mailto:trelubki@welkor.pl";
    std::string WebPage = "http://www.welkor.pl/";
    // TRELUBKI_VERSION_URL in the environment names another version server (a mirror on the
    // local network); set but empty, it turns the check off.
    std::string VersionBaseAddress = "http://www.welkor.pl/wersje/";
    std::string FollowUpAddress = "http://www.welkor.pl/wersje/pobrano.html";
    // Each download, name lookup included, ends within this; nothing waits for it meanwhile.
    int DownloadTimeoutMs = 3000;
    // A reply longer than this is not what the check asked for: the download fails.
    static constexpr qint64 MaxDownloadBytes = 1 << 20;

    // Download state of the version check.
    std::string CurrentAddress, CurrentFile, KeptFile;

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
    void StartDownload(const std::string& address);
    void TakeDownloadedData();
    void DownloadFinished();
    bool ReplyIsTheResource(QNetworkReply* reply) const;
    void DownloadStopped(bool success);
    void ShowError(const char* sentence);

    QNetworkAccessManager* FNetwork = nullptr;
    QNetworkReply* FReply = nullptr;
    QTimer* FDeadline = nullptr;
    std::unique_ptr<QFile> FDownloadFile;
    QByteArray FDownloadHead;  // the first bytes, to tell a web page from a version file
    qint64 FDownloaded = 0;
    bool FDownloadFailed = false;
    bool FCutShort = false;
};

// True when the start of a reply is a web page (an error page, a portal's login page), which a
// version file never is.
bool LooksLikeWebPage(const QByteArray& head, const QByteArray& contentType);

// "Zapytanie o <product>" with every space as "%20", behind the mail address.
std::string MailAddressFor(const std::string& mailAddress, const std::string& productName);
// base + location code + "/" + relative path (slashes, without a leading one) + ".zawartosc.wersja"
std::string VersionFileAddress(const std::string& base, const TInstallLocation& location);
