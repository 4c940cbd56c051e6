#include "support/ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/EventLoop.h"

struct TChildProgram::TProcess {
    int Out = -1, Err = -1;
};

namespace {

int ExitOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace

TChildProgram::TChildProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& env, const std::vector<std::string>& unset)
    : FProcess(std::make_unique<TProcess>())
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return;
    pid_t pid = fork();
    if (pid == 0) {
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
    Pid = pid;
    close(out[1]);
    close(err[1]);
    FProcess->Out = out[0];
    FProcess->Err = err[0];
    fcntl(FProcess->Out, F_SETFL, O_NONBLOCK);
    fcntl(FProcess->Err, F_SETFL, O_NONBLOCK);
}

TChildProgram::~TChildProgram()
{
    if (Pid > 0) {
        kill(static_cast<pid_t>(Pid), SIGKILL);
        waitpid(static_cast<pid_t>(Pid), nullptr, 0);
    }
    close(FProcess->Out);
    close(FProcess->Err);
}

void TChildProgram::Pull()
{
    char buf[4096];
    ssize_t n;
    while ((n = read(FProcess->Out, buf, sizeof buf)) > 0)
        Stdout.append(buf, static_cast<size_t>(n));
    while ((n = read(FProcess->Err, buf, sizeof buf)) > 0)
        Stderr.append(buf, static_cast<size_t>(n));
}

bool TChildProgram::WaitFor(const std::string& text, int timeoutMs)
{
    int64_t end = MonotonicMs() + timeoutMs;
    while (Stdout.find(text) == std::string::npos && MonotonicMs() < end) {
        pollfd p{FProcess->Out, POLLIN, 0};
        poll(&p, 1, 20);
        Pull();
    }
    return Stdout.find(text) != std::string::npos;
}

int TChildProgram::Stop(int sig, int timeoutMs)
{
    if (Pid <= 0)
        return -1000;  // kill(-1, ...) would signal every process of the user
    kill(static_cast<pid_t>(Pid), sig);
    int status = 0;
    int64_t end = MonotonicMs() + timeoutMs;
    pid_t done = 0;
    while ((done = waitpid(static_cast<pid_t>(Pid), &status, WNOHANG)) == 0 && MonotonicMs() < end)
        usleep(10000);
    Pull();
    if (done != Pid)
        return -1000;
    Pid = -1;
    return ExitOf(status);
}

int TChildProgram::Wait()
{
    if (Pid <= 0)
        return -1000;
    int status = 0;
    waitpid(static_cast<pid_t>(Pid), &status, 0);
    Pid = -1;
    Pull();
    return ExitOf(status);
}
