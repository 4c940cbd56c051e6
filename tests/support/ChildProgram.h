#pragma once
// The built program run in a child process, as a user starts it: its standard output and error
// are caught, and it is asked to stop or waited for. support/posix and support/windows each
// implement it.
#include <csignal>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TChildProgram {
public:
    // Runs program with args; in the child, the variables named in unset are removed first,
    // then those of env are set (UTF-8).
    TChildProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}, const std::vector<std::string>& unset = {});
    ~TChildProgram();
    TChildProgram(const TChildProgram&) = delete;
    TChildProgram& operator=(const TChildProgram&) = delete;

    // Reads what is waiting on stdout and stderr.
    void Pull();
    // Waits until stdout holds text (or the time is up); true when it does.
    bool WaitFor(const std::string& text, int timeoutMs = 5000);
    // Asks it to stop with sig and waits: the exit status, -signal when a signal ended it, -1000
    // when it did not end in time (it is then killed by the destructor). On Windows, SIGINT is a
    // Ctrl+C and SIGBREAK a Ctrl+Break on its console; any other ends it at once, as -sig.
    int Stop(int sig, int timeoutMs = 5000);
    // Waits for the end: the exit status, or -signal.
    int Wait();

    // The child's process number; -1 once it has been waited for (or when it could not start).
    long Pid = -1;
    std::string Stdout, Stderr;

private:
    struct TProcess;
    std::unique_ptr<TProcess> FProcess;
};
