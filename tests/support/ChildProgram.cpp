#include "support/ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/EventLoop.h"

namespace {

int ExitOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace

TChildProgram::TChildProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& env, const std::vector<std::string>& unset)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return;
    Pid = fork();
    if (Pid == 0) {
        for (const std::string& name : unset)
            unsetenv(name.c_str());
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        dup2(out[1], 1);
        dup2(err[1], 2);
        std::vector<char*> argv;
        std::string path = program;
        argv.push_back(path.data());
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
    fcntl(FOut, F_SETFL, O_NONBLOCK);
    fcntl(FErr, F_SETFL, O_NONBLOCK);
}

TChildProgram::~TChildProgram()
{
    if (Pid > 0) {
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
    }
    close(FOut);
    close(FErr);
}

void TChildProgram::Pull()
{
    char buf[4096];
    ssize_t n;
    while ((n = read(FOut, buf, sizeof buf)) > 0)
        Stdout.append(buf, static_cast<size_t>(n));
    while ((n = read(FErr, buf, sizeof buf)) > 0)
        Stderr.append(buf, static_cast<size_t>(n));
}

bool TChildProgram::WaitFor(const std::string& text, int timeoutMs)
{
    int64_t end = MonotonicMs() + timeoutMs;
    while (Stdout.find(text) == std::string::npos && MonotonicMs() < end) {
        pollfd p{FOut, POLLIN, 0};
        poll(&p, 1, 20);
        Pull();
    }
    return Stdout.find(text) != std::string::npos;
}

int TChildProgram::Stop(int sig, int timeoutMs)
{
    kill(Pid, sig);
    int status = 0;
    int64_t end = MonotonicMs() + timeoutMs;
    pid_t done = 0;
    while ((done = waitpid(Pid, &status, WNOHANG)) == 0 && MonotonicMs() < end)
        usleep(10000);
    Pull();
    if (done != Pid)
        return -1000;
    Pid = -1;
    return ExitOf(status);
}

int TChildProgram::Wait()
{
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
    Pull();
    return ExitOf(status);
}
