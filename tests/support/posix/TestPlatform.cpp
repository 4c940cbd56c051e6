#include "support/TestPlatform.h"

#include <dirent.h>
#include <malloc.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

std::string MakeTempDir(const std::string& prefix)
{
    std::string path = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(path.data()))
        throw std::runtime_error("no temporary folder: " + path);
    return path;
}

size_t HeapInUse()
{
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

size_t OpenHandles()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

bool FileIsOpen(const std::string& path)
{
    auto real = std::filesystem::canonical(path);
    for (auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) == real && !ec)
            return true;
    }
    return false;
}

bool AllowOpenSockets(size_t count)
{
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < count) {
        lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, count);
        setrlimit(RLIMIT_NOFILE, &lim);
        getrlimit(RLIMIT_NOFILE, &lim);
    }
    return lim.rlim_cur >= count;
}

namespace {

bool Wait(TSocket s, short events, int timeoutMs)
{
    pollfd p{s, events, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

}  // namespace

bool WaitReadable(TSocket s, int timeoutMs)
{
    return Wait(s, POLLIN, timeoutMs);
}

bool WaitWritable(TSocket s, int timeoutMs)
{
    return Wait(s, POLLOUT, timeoutMs);
}
