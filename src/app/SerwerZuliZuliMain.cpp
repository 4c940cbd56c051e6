#include "app/SerwerZuliZuliMain.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QSplitter>
#include <QVBoxLayout>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "app/posix/StopSignals.h"
#include "core/Random.h"
#include "core/Znaki.h"

QIcon ProgramIcon()
{
    Q_INIT_RESOURCE(Ikona);  // the icon is compiled into a static library
    return QIcon(":/trelubki-serwer.png");
}

TForm1::TForm1(const TCommandLine& options, TEventLoop& loop) : FOptions(options), FLoop(loop)
{
    setWindowTitle("Trelubki Serwer Zuli-Zuli");
    setWindowIcon(ProgramIcon());
    setGeometry(503, 80, 778, 657);
    FileMenu->setTitle("&Serwer");

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setHandleWidth(3);
    Panel1 = new QWidget(Splitter1);
    Panel1->setMinimumHeight(70);
    Label1 = new QLabel("Nazwa serwera dla klientów", Panel1);
    Label1->move(8, 8);
    AdresSerwisuEd = new QLineEdit("localhost", Panel1);
    AdresSerwisuEd->setGeometry(8, 24, 193, 21);
    Problems = new QLabel(Panel1);
    Problems->move(8, 48);
    Problems->setStyleSheet("color: rgb(255, 0, 0)");
    Problems->setWordWrap(true);
    Problems->setTextInteractionFlags(Qt::TextSelectableByMouse);  // a reason to copy and look up
    Problems->hide();
    RichEdit1 = new QPlainTextEdit(Splitter1);
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font("MS Sans Serif");
    font.setPointSize(8);
    font.setBold(true);
    RichEdit1->setFont(font);
    QPalette palette = RichEdit1->palette();
    palette.setColor(QPalette::Text, QColor(0, 0, 255));
    RichEdit1->setPalette(palette);
    RichEdit1->setMinimumHeight(40);
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(RichEdit1);
    Splitter1->setSizes({70, 379});
    Splitter1->setStretchFactor(0, 1);
    setCentralWidget(Splitter1);

    FLog = new TLogPane(RichEdit1);
    FSerwer = std::make_unique<TSerwer>(*FLog, FOptions, FLoop);
    FSerwer->OnProblem = [this](const TProblem& p) { ShowProblem(p.Key, p.WindowText); };
    connect(AdresSerwisuEd, &QLineEdit::textChanged, this, [this](const QString& t) { AdresSerwisuEdChange(t); });

    // The servers' loop runs on this thread, woken through its one descriptor.
    FNotifier = new QSocketNotifier(FLoop.Descriptor(), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { FLoop.ProcessEvents(0); });
}

TForm1::~TForm1()
{
    FNotifier->setEnabled(false);
    FSerwer.reset();  // messenger server first (closing every client), then the HTTP server
}

void TForm1::FormCreate()
{
    TFormaBezdokumentowaPozycjonowana::FormCreate();
    std::string address = Znaki::FromCp1250(FSerwer->AnnouncedAddress());
    if (FOptions.Address) {
        // For this run only: shown, not stored.
        QSignalBlocker quiet(AdresSerwisuEd);
        AdresSerwisuEd->setText(QString::fromStdString(address));
    } else {
        AdresSerwisuEd->setText(QString::fromStdString(address));
    }
    if (std::string error = FSerwer->Start(); !error.empty()) {
        std::string oneLine = error;
        for (char& c : oneLine)
            if (c == '\r' || c == '\n')
                c = ' ';
        ShowProblem("messenger", QString("Nie udało się otworzyć portu komunikatora %1: %2")
                                     .arg(FSerwer->ZZSerwer().GetPort())
                                     .arg(QString::fromStdString(oneLine).simplified())
                                     .toStdString());
    }
    FLog->Flush();
}

void TForm1::ShowProblem(const std::string& key, const std::string& text)
{
    if (text.empty())
        FProblems.erase(key);
    else
        FProblems[key] = text;
    QStringList lines;
    for (const auto& [k, line] : FProblems)
        lines << QString::fromStdString(line);
    Problems->setText(lines.join('\n'));
    Problems->setVisible(!lines.isEmpty());
    // As wide as the panel; the panel grows to show every line above the log.
    int width = std::max(Panel1->width(), this->width()) - 16;
    Problems->resize(width, Problems->heightForWidth(width));
    Panel1->setMinimumHeight(lines.isEmpty() ? 70 : 48 + Problems->height() + 4);
}

void TForm1::AdresSerwisuEdChange(const QString& text)
{
    std::string utf8 = text.toStdString();
    FSerwer->SetAnnouncedAddress(Znaki::ToCp1250(utf8));
    FSerwer->StoreAddress(utf8);
}

namespace {

QtMessageHandler QtOwnHandler = nullptr;
struct TQtMessage {
    QtMsgType Type;
    QByteArray Category, File, Function;
    int Line;
    QString Text;
};
std::vector<TQtMessage> HeldMessages;

// While the toolkit looks for a display, what it says is held back: when none can be reached the
// program says so in one line of its own instead.
void PassOn(const TQtMessage& m);

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    HeldMessages.push_back({type, context.category, context.file, context.function, context.line, message});
    if (type == QtFatalMsg)  // the toolkit ends the process after it: everything is said now
        for (const TQtMessage& m : HeldMessages)
            PassOn(m);
}

void PassOn(const TQtMessage& m)
{
    QMessageLogContext context(m.File.isNull() ? nullptr : m.File.constData(), m.Line,
                               m.Function.isNull() ? nullptr : m.Function.constData(),
                               m.Category.isNull() ? nullptr : m.Category.constData());
    if (QtOwnHandler)
        QtOwnHandler(m.Type, context, m.Text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(m.Type, context, m.Text)));
}

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

std::optional<int> RunWindow(int argc, char** argv, const TCommandLine& options)
{
    const int stopFd = StopSignalsDescriptor();
    // The toolkit aborts the process when the display it wants cannot be reached. Offered the
    // off-screen platform as its last choice, it falls back to that instead, which tells us.
    std::string asked = Env("QT_QPA_PLATFORM");
    bool probing = asked.find("offscreen") == std::string::npos && asked.find("minimal") == std::string::npos;
    if (probing) {
        std::string platforms = asked;
        if (platforms.empty()) {
            if (!Env("WAYLAND_DISPLAY").empty())
                platforms += "wayland;";
            if (!Env("DISPLAY").empty())
                platforms += "xcb;";
        } else {
            platforms += ";";
        }
        setenv("QT_QPA_PLATFORM", (platforms + "offscreen").c_str(), 1);
    }
    QtOwnHandler = qInstallMessageHandler(HoldMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(QtOwnHandler);
    std::vector<TQtMessage> held = std::move(HeldMessages);
    HeldMessages.clear();
    if (probing) {
        // What the program starts (help viewer, browser) gets the environment it was given.
        if (asked.empty())
            unsetenv("QT_QPA_PLATFORM");
        else
            setenv("QT_QPA_PLATFORM", asked.c_str(), 1);
        if (QGuiApplication::platformName() == "offscreen") {
            app.reset();
            std::string display = !Env("DISPLAY").empty() ? "DISPLAY=" + Env("DISPLAY")
                                  : !Env("WAYLAND_DISPLAY").empty() ? "WAYLAND_DISPLAY=" + Env("WAYLAND_DISPLAY")
                                                                      : "QT_QPA_PLATFORM=" + asked;
            std::cerr << "trelubki-serwer: the display (" << display << ") cannot be reached; running headless\n";
            return std::nullopt;
        }
    }
    for (const TQtMessage& m : held)
        PassOn(m);
    QGuiApplication::setDesktopFileName("trelubki-serwer-desktop");
    QApplication::setWindowIcon(ProgramIcon());

    ProcessRandom().Randomize();
    int status = 0;
    bool lookupMayLinger = false;
    {
        TForm1 form(options);
        // SIGINT and SIGTERM close the window, as its close button does; one that came during
        // start-up waits on the descriptor until the loop runs.
        QSocketNotifier stop(stopFd, QSocketNotifier::Read);
        QObject::connect(&stop, &QSocketNotifier::activated, &form, [&] {
            if (TakeStopSignals(stopFd))
                form.close();
        });
        form.FormCreate();
        form.show();
        status = app->exec();
        lookupMayLinger = form.DownloadCutShort();
    }
    if (lookupMayLinger) {
        // Everything is closed and stored; only the toolkit's name lookup of a version check
        // that was cut short may still be waiting for its answer, and ending the toolkit would
        // wait with it, for seconds. The process ends now instead.
        std::fflush(nullptr);
        _exit(status);
    }
    return status;
}
