// Takes the picture of the window for the README: the program's own window with a few clients
// having logged in, grabbed after it has been drawn. Run by tools/screenshot.sh under Xvfb.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QLineEdit>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "app/SerwerZuliZuliMain.h"
#include "core/Random.h"
#include "messenger/ZZProtocol.h"
#include "net/WSocket.h"

namespace {

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}


}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tzz-screenshot FILE.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(ProgramIcon());
    ProcessRandom().Randomize();
    TCommandLine options;
    options.MessengerPort = 0;
    options.HttpPort = 0;
    TForm1 form(options);
    form.VersionCheck.Server.VersionBaseAddress = "http://127.0.0.1:1/";
    form.FormCreate();
    form.resize(760, 420);
    form.move(0, 0);
    form.show();
    Pump(300);

    int port = 0;
    {
        sockaddr_in sin{};
        socklen_t len = sizeof sin;
        getsockname(form.Serwer().ZZSerwer().SocketServer().Handle(), reinterpret_cast<sockaddr*>(&sin), &len);
        port = ntohs(sin.sin_port);
    }
    // Two clients through plain sockets, so that the log shows a login and a status change.
    for (uint32_t user : {5u, 7u}) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            ByteString p = UInt32ToBytes(cpLogin) + UInt32ToBytes(4) + UInt32ToBytes(user) + UInt32ToBytes(cpNewStatus) +
                           UInt32ToBytes(4 + 7) + UInt32ToBytes(user == 5 ? 2 : 3) + "w pracy";
            ::send(fd, p.data(), p.size(), 0);
        }
        Pump(200);
    }
    Pump(500);
    // Beside it the about box, which carries the program's icon (Xvfb has no window manager to
    // draw a title bar with it), both grabbed from the screen as they stand.
    QMessageBox about(QMessageBox::Information, form.AboutTitle(), form.AboutText(), QMessageBox::Ok, &form);
    about.setIconPixmap(ProgramIcon().pixmap(64, 64));
    about.show();
    about.move(form.frameGeometry().right() + 12, 40);
    Pump(500);
    QRect both = form.frameGeometry().united(about.frameGeometry()).adjusted(0, 0, 8, 8);
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, both.x(), both.y(), both.width(), both.height());
    bool saved = shot.save(argv[1]);
    std::printf("%s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
