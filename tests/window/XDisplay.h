#pragma once
// An X server of a test's own (Xvfb) and, on it, a window manager (openbox), so that windows get
// real frames, placement and states as on a desktop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace XDisplay {

inline bool Runnable(const char* path) { return access(path, X_OK) == 0; }

inline bool Accepts(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::snprintf(to.sun_path, sizeof to.sun_path, "%s", path.c_str());
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    return ok;
}

inline void Sleep(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

inline void Reap(pid_t& pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

}  // namespace XDisplay

// Xvfb with one screen of the given size; Display is empty when none could be started.
struct TXServer {
    pid_t Pid = -1;
    std::string Display;
    explicit TXServer(const char* screen = "1024x768x24")
    {
        if (!XDisplay::Runnable("/usr/bin/Xvfb"))
            return;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        Pid = fork();
        if (Pid == 0) {
            fcntl(fds[1], F_SETFD, 0);  // the one descriptor it inherits
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            std::string fd = std::to_string(fds[1]);
            // -noreset: the server does not start over when its last client leaves.
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-ac", "-nolisten", "tcp", "-screen",
                  "0", screen, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 10000) > 0 && read(fds[0], number, sizeof number - 1) > 0)
            Display = ":" + std::to_string(std::atoi(number));
        FNumberPipe = fds[0];  // open while it runs: it may write its number again, and dies when it cannot
        // Its number comes a moment before it takes connections.
        std::string socketPath = "/tmp/.X11-unix/X" + std::to_string(std::atoi(number));
        for (int i = 0; !Display.empty() && i < 1000 && !XDisplay::Accepts(socketPath); ++i)
            XDisplay::Sleep(10);
    }
    ~TXServer()
    {
        XDisplay::Reap(Pid);
        if (FNumberPipe >= 0)
            close(FNumberPipe);
    }
    TXServer(const TXServer&) = delete;
    TXServer& operator=(const TXServer&) = delete;

private:
    int FNumberPipe = -1;
};

// openbox on a display, with its own default settings; Ready once it manages windows.
struct TWindowManager {
    pid_t Pid = -1;
    bool Ready = false;
    explicit TWindowManager(const std::string& display)
    {
        if (display.empty() || !XDisplay::Runnable("/usr/bin/openbox"))
            return;
        char tmpl[] = "/tmp/tzz-wm-XXXXXX";
        if (!mkdtemp(tmpl))
            return;
        FFolder = tmpl;
        std::string ready = FFolder + "/ready";
        Pid = fork();
        if (Pid == 0) {
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            setenv("DISPLAY", display.c_str(), 1);
            // Its settings and session files in a folder of its own, not the user's.
            setenv("XDG_CONFIG_HOME", FFolder.c_str(), 1);
            setenv("XDG_CACHE_HOME", FFolder.c_str(), 1);
            setenv("XDG_DATA_HOME", FFolder.c_str(), 1);
            // It runs the start-up command once it has taken over the screen.
            std::string startup = "touch " + ready;
            execl("/usr/bin/openbox", "openbox", "--sm-disable", "--startup", startup.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 1000 && !Ready; ++i) {
            Ready = std::filesystem::exists(ready);
            if (!Ready)
                XDisplay::Sleep(10);
        }
    }
    ~TWindowManager()
    {
        XDisplay::Reap(Pid);
        std::error_code ec;
        if (!FFolder.empty())
            std::filesystem::remove_all(FFolder, ec);
    }
    TWindowManager(const TWindowManager&) = delete;
    TWindowManager& operator=(const TWindowManager&) = delete;

private:
    std::string FFolder;
};
