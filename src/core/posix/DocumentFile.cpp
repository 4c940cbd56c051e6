#include "core/DocumentFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

std::string RealPath(const std::string& name)
{
    std::unique_ptr<char, decltype(&std::free)> real(realpath(name.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// The name a document has once every link is resolved, or "" when it is no regular file or
// lies outside the folder: a link inside the folder may lead anywhere, so only where it ends up
// counts.
std::string ResolvedDocument(const std::string& folder, const std::string& document)
{
    // The file system would read the name only up to a zero byte: "/a.html\0.txt" would be
    // answered with a.html's size and date under the type of a .txt. No file has such a name.
    if (document.find('\0') != std::string::npos || folder.find('\0') != std::string::npos)
        return {};
    std::string root = RealPath(folder);
    std::string real = RealPath(document);
    if (root.empty() || real.empty())
        return {};
    if (root.back() != '/')
        root += '/';
    if (real.compare(0, root.size(), root) != 0)
        return {};
    struct stat st{};
    return stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? real : std::string();
}

}  // namespace

bool TDocumentFile::Exists(const std::string& folder, const std::string& document)
{
    return !ResolvedDocument(folder, document).empty();
}

bool TDocumentFile::Open(const std::string& folder, const std::string& document)
{
    Close();
    // Opened by its resolved name, which is no link: what was checked is what is read. A pipe or
    // a device put there meanwhile neither blocks the open nor passes the check after it.
    std::string real = ResolvedDocument(folder, document);
    if (real.empty())
        return false;
    int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    FHandle = fd;
    FSize = static_cast<uint64_t>(st.st_size);
    FModified = st.st_mtime;  // the date of the very file that is read
    return true;
}

int64_t TDocumentFile::Read(char* buffer, size_t size)
{
    if (FHandle == Closed)
        return -1;
    for (;;) {
        ssize_t n = ::read(static_cast<int>(FHandle), buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

void TDocumentFile::Close()
{
    if (FHandle != Closed)
        ::close(static_cast<int>(FHandle));
    FHandle = Closed;
    FSize = 0;
    FModified.reset();
}

std::optional<time_t> FileDateOf(const std::string& fileName)
{
    struct stat st{};
    if (fileName.find('\0') != std::string::npos || stat(fileName.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_mtime;
}
