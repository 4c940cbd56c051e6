#include "app/SerwerZuliZuliMain.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/StopSignals.h"
#include "core/Random.h"
#include "core/Znaki.h"

TForm1::TForm1(const TCommandLine& options, TEventLoop& loop) : FOptions(options), FLoop(loop)
{
    setWindowTitle("Trelubki Serwer Zuli-Zuli");
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
    QGuiApplication::setApplicationDisplayName(windowTitle());
    std::string address = Znaki::FromCp1250(FSerwer->AnnouncedAddress());
    if (FOptions.Address) {
        // For this run only: shown, not stored.
        QSignalBlocker quiet(AdresSerwisuEd);
        AdresSerwisuEd->setText(QString::fromStdString(address));
    } else {
        AdresSerwisuEd->setText(QString::fromStdString(address));
    }
    FSerwer->Start();
    FLog->Flush();
}

void TForm1::AdresSerwisuEdChange(const QString& text)
{
    std::string utf8 = text.toStdString();
    FSerwer->SetAnnouncedAddress(Znaki::ToCp1250(utf8));
    FSerwer->StoreAddress(utf8);
}

int RunWindow(int argc, char** argv, const TCommandLine& options)
{
    QApplication app(argc, argv);
    int stopFd = StopSignalsDescriptor();

    ProcessRandom().Randomize();
    int status = 0;
    {
        TForm1 form(options);
        form.FormCreate();
        form.show();
        // SIGINT and SIGTERM close the window, as its close button does.
        QSocketNotifier stop(stopFd, QSocketNotifier::Read);
        QObject::connect(&stop, &QSocketNotifier::activated, &form, [&] {
            if (TakeStopSignals(stopFd))
                form.close();
        });
        status = app.exec();
    }
    close(stopFd);
    return status;
}
