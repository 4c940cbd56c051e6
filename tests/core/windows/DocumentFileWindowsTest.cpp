// The names by which Windows could lead a request out of the document folder, to a device or
// to another view of a file; each must name no document.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/DocumentFile.h"
#include "core/DocumentFolderFixture.h"
#include "core/windows/WindowsHeaders.h"

namespace {

struct DocumentFileWindowsTest : TDocumentFolderTest {
    void SetUp() override
    {
        TDocumentFolderTest::SetUp();
        std::filesystem::create_directories(Dir / "sub");
        std::ofstream(Dir / "a.html", std::ios::binary) << "<p>a</p>";
        std::ofstream(Dir / "sub" / "b.txt", std::ios::binary) << "b";
        std::ofstream(Top / "secret.txt", std::ios::binary) << "secret";
    }
    bool Named(const std::string& path) { return TDocumentFile::Exists(Folder, Folder + path); }
    bool Opens(const std::string& path)
    {
        TDocumentFile f;
        return f.Open(Folder, Folder + path);
    }
};

}  // namespace

TEST_F(DocumentFileWindowsTest, EitherSlashSeparatesAndCaseDoesNotMatter)
{
    EXPECT_TRUE(Named("/sub/b.txt"));
    EXPECT_TRUE(Named("/sub\\b.txt"));
    EXPECT_TRUE(Named("\\sub/b.txt"));
    EXPECT_TRUE(Named("/SUB/B.TXT"));
    EXPECT_TRUE(Opens("/sub\\b.txt"));
    // The folder given in another case, with '/' and a trailing separator, still holds them.
    std::string upper = Folder;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string slashed = upper;
    for (char& c : slashed)
        if (c == '\\')
            c = '/';
    EXPECT_TRUE(TDocumentFile::Exists(slashed + "/", slashed + "//a.html"));
}

TEST_F(DocumentFileWindowsTest, DotSegmentsEitherSlashNameNothing)
{
    for (const std::string path : {"/sub/../a.html", "/sub\\..\\a.html", "\\..\\secret.txt", "/..\\secret.txt",
                                   "/sub/..\\..\\secret.txt", "/./a.html", "/sub\\.\\b.txt"})
        EXPECT_FALSE(Named(path)) << path;
}

TEST_F(DocumentFileWindowsTest, StreamsDrivesWildcardsAndLongFormsNameNothing)
{
    for (const std::string path : {"/a.html::$DATA", "/a.html:$DATA", "/a.html:x", "/sub:b.txt", "/C:/Windows/win.ini",
                                   "/C:secret.txt", "/a.htm?", "/a.*", "/*", "/a<", "/a\"", "/a|b", "//?/C:/Windows/win.ini",
                                   "/\\\\?\\C:\\Windows\\win.ini", "/\\\\.\\C:\\Windows\\win.ini", "/a.html\t", "/a.html\r"})
        EXPECT_FALSE(Named(path)) << path;
    EXPECT_TRUE(Named("/a.html"));
}

TEST_F(DocumentFileWindowsTest, DevicesNameNothingAnywhere)
{
    for (const std::string path : {"/CON", "/con", "/NUL", "/nul.txt", "/sub/NUL", "/PRN", "/AUX.html", "/COM1", "/com9.txt",
                                   "/LPT1", "/lpt3.bin", "/CONIN$", "/CONOUT$", "/NUL .txt", "/COM\xC2\xB9"}) {
        EXPECT_FALSE(Named(path)) << path;
        EXPECT_FALSE(Opens(path)) << path;
    }
}

TEST_F(DocumentFileWindowsTest, TrailingDotsAndSpacesNameNothing)
{
    // The system would cut them and open a.html under another name (and another type).
    for (const std::string path : {"/a.html.", "/a.html ", "/a.html. .", "/a.html...", "/sub./b.txt", "/sub /b.txt"})
        EXPECT_FALSE(Named(path)) << path;
}

TEST_F(DocumentFileWindowsTest, LinksCountWhereTheyLead)
{
    std::filesystem::create_directories(Top / "out");
    std::ofstream(Top / "out" / "o.txt") << "o";
    auto link = [](const std::filesystem::path& at, const std::filesystem::path& to, DWORD flags) {
        return CreateSymbolicLinkW(at.wstring().c_str(), to.wstring().c_str(),
                                   flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
    };
    // Where links cannot be made, or are not followed (some emulators), there is nothing to test.
    if (!link(Dir / "sublink", Dir / "sub", SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        GetFileAttributesW((Dir / "sublink" / "b.txt").wstring().c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no links here";
    ASSERT_TRUE(link(Dir / "outlink", Top / "out", SYMBOLIC_LINK_FLAG_DIRECTORY));
    ASSERT_TRUE(link(Dir / "secret.txt", Top / "secret.txt", 0));
    ASSERT_TRUE(link(Dir / "alias.html", Dir / "a.html", 0));
    EXPECT_FALSE(Named("/outlink/o.txt"));
    EXPECT_FALSE(Opens("/outlink/o.txt"));
    EXPECT_FALSE(Named("/secret.txt"));
    EXPECT_FALSE(Opens("/secret.txt"));
    EXPECT_TRUE(Named("/sublink/b.txt"));
    EXPECT_TRUE(Opens("/alias.html"));
    // The folder itself may be reached through a link.
    ASSERT_TRUE(link(Top / "wwwlink", Dir, SYMBOLIC_LINK_FLAG_DIRECTORY));
    std::string linked = Utf8OfPath(Top / "wwwlink");
    EXPECT_TRUE(TDocumentFile::Exists(linked, linked + "/a.html"));
    EXPECT_FALSE(TDocumentFile::Exists(linked, linked + "/secret.txt"));
}

TEST_F(DocumentFileWindowsTest, AFileHeldForWritingExistsButDoesNotOpenAndAnOpenOneKeepsWritersButNotDeletersOut)
{
    std::wstring name = (Dir / "a.html").wstring();
    HANDLE writer = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Named("/a.html"));
    EXPECT_FALSE(Opens("/a.html"));
    CloseHandle(writer);

    TDocumentFile f;
    ASSERT_TRUE(f.Open(Folder, Folder + "/a.html"));
    HANDLE reader = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);  // other readers are welcome
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    writer = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    // A slow reader does not keep the file from being deleted; it still reads what it opened.
    EXPECT_TRUE(DeleteFileW(name.c_str()));
    char text[16];
    EXPECT_EQ(f.Read(text, sizeof text), 8);
    EXPECT_EQ(std::string(text, 8), "<p>a</p>");
}

TEST_F(DocumentFileWindowsTest, DatesBeforeAndAfterTheEpochComeOutInUtc)
{
    std::wstring name = (Dir / "a.html").wstring();
    HANDLE h = CreateFileW(name.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // 7 December 2026 01:54:11 UTC, and half a second before 1970.
    auto ticks = [](int64_t unixSeconds, int64_t extra) {
        uint64_t t = static_cast<uint64_t>((unixSeconds + 11644473600LL) * 10000000LL + extra);
        return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    };
    FILETIME when = ticks(1796608451, 0);
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
    TDocumentFile f;
    ASSERT_TRUE(f.Open(Folder, Folder + "/a.html"));
    EXPECT_EQ(f.Modified(), std::optional<time_t>(1796608451));
    f.Close();
    when = ticks(-1, 5000000);
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
    CloseHandle(h);
    EXPECT_EQ(FileDateOf(Folder + "/a.html"), std::optional<time_t>(-1));
}
