// Takes the picture of the Windows window for the README: the program's own window with two
// clients logged in, grabbed from the screen after it has been drawn, as a BMP file (the script
// makes it a PNG). Run by tools/screenshot-windows.sh under Wine with a display of its own.
#include "core/windows/WindowsHeaders.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "MessageFilter.h"
#include "app/windows/Form1Window.h"
#include "core/Random.h"
#include "messenger/ZZProtocol.h"
#include "support/Loopback.h"
#include "support/ZzPeer.h"

namespace {

bool WriteBmp(const char* file, HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as BMP files are
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(file, "wb");
    if (!out)
        return false;
    bool ok = std::fwrite(&header, sizeof header, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1 &&
              std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tzz-screenshot FILE.bmp\n");
        return 2;
    }
    _putenv_s("TRELUBKI_VERSION_URL", "");
    ProcessRandom().Randomize();
    TCommandLine options;
    options.MessengerPort = FreePort();
    options.HttpPort = FreePort();
    TForm1 form(options);
    if (!form.Created())
        return 1;
    form.FormCreate();
    SetWindowPos(form.Handle(), nullptr, 0, 0, 760, 440, SWP_NOZORDER);
    form.Show();
    SetWindowMessageFilter([&form](MSG& m) { return form.TranslateShortcut(m); });
    RunFor(300);
    // Two clients log in and change their status, so that the log shows what a day looks like.
    std::vector<std::unique_ptr<TZzPeer>> clients;
    for (uint32_t user : {5u, 7u}) {
        auto client = std::make_unique<TZzPeer>(options.MessengerPort);
        client->Login(user);
        client->SendPacket(cpNewStatus, UInt32ToBytes(user == 5 ? 2 : 3) + "w pracy");
        RunFor(200);
        clients.push_back(std::move(client));
    }
    TPeer http(options.HttpPort);
    http.Send("GET /appsvc/appmsg4.asp?fmnumber=5&version=7 HTTP/1.0\r\n\r\n");
    http.ReadFor(300);
    form.Log().Flush();
    RunFor(500);
    bool ok = WriteBmp(argv[1], form.Handle());
    SetWindowMessageFilter(nullptr);
    return ok ? 0 : 1;
}
