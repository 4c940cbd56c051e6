// The headless log on Windows redirected to a file or pipe: UTF-8 as on other systems, and a
// reader that stalls never holds the servers.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/HeadlessLog.h"
#include "app/Serwer.h"
#include "app/windows/ConsoleText.h"
#include "core/Znaki.h"
#include "support/windows/Pipe.h"

namespace {

std::wstring TempFile()
{
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"tzz", 0, name);
    return name;
}

std::string FileBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    std::string out;
    char buf[65536];
    DWORD n = 0;
    while (h != INVALID_HANDLE_VALUE && ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0)
        out.append(buf, n);
    CloseHandle(h);
    return out;
}

}  // namespace

TEST(HeadlessLogOutput, RedirectedToAFileTheLogIsUtf8LinesWrittenAtTheRoundsEnd)
{
    std::wstring path = TempFile();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    const ByteString failure = HttpPortFailure("80", Znaki::ToCp1250("łódź"), 8074);
    const ByteString said = Znaki::ToCp1250("5>wypowiedź dla 7 o treści \"zażółć gęślą jaźń\"");
    {
        TEventLoop loop;
        THeadlessLog log(loop, fd);
        log.SetColour(clRed);
        log.Append(failure);
        log.Append("");
        log.SetColour(clBlue);
        log.Append(said);
        EXPECT_EQ(FileBytes(path), "");  // nothing before the round ends
        log.Flush();
        std::string seen;
        for (int i = 0; i < 200 && seen.find("jaźń") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            seen = FileBytes(path);
        }
        EXPECT_EQ(seen, ShowLogEntry(failure) + "\n\n5>wypowiedź dla 7 o treści \"zażółć gęślą jaźń\"\n");
        log.Append("ostatni");
    }
    _close(fd);
    std::string all = FileBytes(path);
    // No colour codes, no CR LF: the bytes are those of the other systems.
    EXPECT_EQ(all, ShowLogEntry(failure) + "\n\n5>wypowiedź dla 7 o treści \"zażółć gęślą jaźń\"\nostatni\n");
    EXPECT_NE(all.find("Nie udało się otworzyć portu 80 !\n    \n    Najprawdopodobniej"), std::string::npos);
    DeleteFileW(path.c_str());
}

TEST(HeadlessLogOutput, StalledReaderNeverBlocksAndIsToldWhatWasDropped)
{
    const DWORD pipeSize = 4096;
    TPipe pipe(pipeSize);
    TEventLoop loop;
    {
        THeadlessLog log(loop, pipe.Fd);
        std::string line(1000, 'L');
        // Far more than the pipe holds plus the bound: every call must return at once.
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 6000; ++i) {
            log.Append(line);
            log.Flush();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_GT(log.Dropped(), 0u);
        std::string seen;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (seen.find("dropped") == std::string::npos && std::chrono::steady_clock::now() < end) {
            std::string got = pipe.Drain();
            if (got.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            seen += got;
        }
        EXPECT_NE(seen.find("log entries dropped: standard output was not being read)\n"), std::string::npos);
        // What the log held (its bound and the entry that crossed it), what the pipe had taken
        // before it filled, and the line that tells of the rest.
        EXPECT_LE(seen.size(), THeadlessLog::MaxPending + (line.size() + 1) + pipeSize + 200);
        EXPECT_EQ(log.Dropped(), 0u);
        log.Append("after");
    }
    std::string rest = pipe.Drain();
    EXPECT_NE(rest.find("after\n"), std::string::npos);  // written out at the end
}

TEST(HeadlessLogOutput, AReaderThatNeverReadsDelaysTheEndTwoSecondsAtMost)
{
    TPipe pipe(4096);
    auto start = std::chrono::steady_clock::now();
    {
        TEventLoop loop;
        THeadlessLog log(loop, pipe.Fd);
        for (int i = 0; i < 100; ++i)
            log.Append(std::string(1000, 'x'));
        log.Flush();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
