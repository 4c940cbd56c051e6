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

QIcon ProgramIcon()
{
    Q_INIT_RESOURCE(Ikona);  // the icon is compiled into a static library
    return QIcon(":/trelubki-serwer.png");
}

TForm1::TForm1(const TCommandLine& options, TEventLoop& loop) : FLoop(loop)
{
    using D = TServerWindowDesign;
    setWindowTitle(D::Caption);
    setWindowIcon(ProgramIcon());
    setGeometry(D::Left, D::Top, D::Width, D::Height);
    FileMenu->setTitle(D::ServerMenuCaption);

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setHandleWidth(D::SplitterHeight);
    Panel1 = new QWidget(Splitter1);
    Panel1->setMinimumHeight(D::PanelMinHeight);
    Label1 = new QLabel(D::AddressLabel, Panel1);
    Label1->move(D::LabelLeft, D::LabelTop);
    AdresSerwisuEd = new QLineEdit(D::EditInitialText, Panel1);
    AdresSerwisuEd->setGeometry(D::EditLeft, D::EditTop, D::EditWidth, D::EditHeight);
    Problems = new QLabel(Panel1);
    Problems->move(D::ProblemsLeft, D::ProblemsTop);
    Problems->setStyleSheet("color: rgb(255, 0, 0)");
    Problems->setWordWrap(true);
    Problems->setTextInteractionFlags(Qt::TextSelectableByMouse);  // a reason to copy and look up
    Problems->hide();
    RichEdit1 = new QPlainTextEdit(Splitter1);
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font(D::LogFontName);
    font.setPointSize(D::LogFontPoints);
    font.setBold(true);
    RichEdit1->setFont(font);
    QPalette palette = RichEdit1->palette();
    palette.setColor(QPalette::Text, QColor(clBlue.R, clBlue.G, clBlue.B));
    RichEdit1->setPalette(palette);
    RichEdit1->setMinimumHeight(40);
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(RichEdit1);
    Splitter1->setSizes({D::PanelMinHeight, D::LogHeight});
    Splitter1->setStretchFactor(0, 1);
    setCentralWidget(Splitter1);

    FLog = new TLogPane(RichEdit1);
    FBehaviour = std::make_unique<TServerWindow>(*FLog, options, FLoop);
    FBehaviour->OnProblemsChanged = [this](const std::string& text) { ShowProblems(text); };
    connect(AdresSerwisuEd, &QLineEdit::textChanged, this, [this](const QString& t) { AdresSerwisuEdChange(t); });

    // The servers' loop runs on this thread, woken through its one descriptor.
    FNotifier = new QSocketNotifier(FLoop.Descriptor(), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { FLoop.ProcessEvents(0); });
}

TForm1::~TForm1()
{
    FNotifier->setEnabled(false);
    FBehaviour.reset();  // messenger server first (closing every client), then the HTTP server
}

void TForm1::FormCreate()
{
    TFormaBezdokumentowaPozycjonowana::FormCreate();
    FBehaviour->Start([this](const std::string& address) { AdresSerwisuEd->setText(QString::fromStdString(address)); });
    FLog->Flush();
}

void TForm1::ShowProblems(const std::string& text)
{
    Problems->setText(QString::fromStdString(text));
    Problems->setVisible(!text.empty());
    // As wide as the panel; the panel grows to show every line above the log.
    int width = std::max(Panel1->width(), this->width()) - 16;
    Problems->resize(width, Problems->heightForWidth(width));
    Panel1->setMinimumHeight(text.empty() ? TServerWindowDesign::PanelMinHeight : TServerWindowDesign::ProblemsTop + Problems->height() + 4);
}

void TForm1::AdresSerwisuEdChange(const QString& text)
{
    FBehaviour->AddressEdited(text.toStdString());
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
