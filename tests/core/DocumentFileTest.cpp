#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/DocumentFile.h"
#include "core/DocumentFolderFixture.h"

namespace {

struct DocumentFileTest : TDocumentFolderTest {
    void File(const std::filesystem::path& at, const std::string& content)
    {
        std::filesystem::create_directories(at.parent_path());
        std::ofstream(at, std::ios::binary) << content;
    }
    // The name as the HTTP server forms it: the folder, then the request's path.
    std::string Doc(const std::string& path) { return Folder + path; }
};

}  // namespace

TEST_F(DocumentFileTest, AFileInsideIsReadInChunksWithItsSizeAndDate)
{
    std::string content(3000, 'x');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i % 251);
    File(Dir / "sub" / "a.bin", content);
    ASSERT_TRUE(TDocumentFile::Exists(Folder, Doc("/sub/a.bin")));
    TDocumentFile f;
    ASSERT_TRUE(f.Open(Folder, Doc("/sub/a.bin")));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.Size(), 3000u);
    ASSERT_TRUE(f.Modified().has_value());
    EXPECT_EQ(f.Modified(), FileDateOf(Utf8OfPath(Dir / "sub" / "a.bin")));
    std::string read;
    char chunk[1514];
    for (int64_t n; (n = f.Read(chunk, sizeof chunk)) > 0;)
        read.append(chunk, static_cast<size_t>(n));
    EXPECT_EQ(read, content);  // every byte as stored: no text-mode translation
    EXPECT_EQ(f.Read(chunk, sizeof chunk), 0);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Read(chunk, sizeof chunk), -1);
}

TEST_F(DocumentFileTest, FoldersMissingFilesAndNamesOutsideAreNoDocuments)
{
    File(Dir / "in.txt", "in");
    File(Top / "secret.txt", "secret");
    std::filesystem::create_directories(Dir / "folder");
    TDocumentFile f;
    for (const std::string path : {"/folder", "/folder/", "/missing.txt", "/../secret.txt", "/folder/../../secret.txt",
                                   "/", ""}) {
        EXPECT_FALSE(TDocumentFile::Exists(Folder, Doc(path))) << path;
        EXPECT_FALSE(f.Open(Folder, Doc(path))) << path;
        EXPECT_FALSE(f.IsOpen()) << path;
    }
    // A name that does not start in the folder, however it is spelled.
    EXPECT_FALSE(TDocumentFile::Exists(Folder, Utf8OfPath(Top / "secret.txt")));
    EXPECT_FALSE(TDocumentFile::Exists(Folder + "-other", Doc("-other/in.txt")));
    // A zero byte would cut the name short: "in.txt\0.html" is not in.txt.
    EXPECT_FALSE(TDocumentFile::Exists(Folder, Doc(std::string("/in.txt\0.html", 13))));
    // No folder, no documents, even for a name that exists.
    EXPECT_FALSE(TDocumentFile::Exists("", Utf8OfPath(Dir / "in.txt")));
    EXPECT_FALSE(TDocumentFile::Exists(Utf8OfPath(Top / "none"), Utf8OfPath(Top / "none") + "/in.txt"));
    EXPECT_TRUE(TDocumentFile::Exists(Folder, Doc("/in.txt")));
}

TEST_F(DocumentFileTest, OpeningAnotherClosesTheFirstAndAPolishNameIsFound)
{
    File(Dir / PathOfUtf8("zażółć.txt"), "gęślą");
    File(Dir / "b.txt", "bb");
    TDocumentFile f;
    ASSERT_TRUE(f.Open(Folder, Doc("/zażółć.txt")));
    EXPECT_EQ(f.Size(), std::string("gęślą").size());
    ASSERT_TRUE(f.Open(Folder, Doc("/b.txt")));
    char two[4];
    EXPECT_EQ(f.Read(two, sizeof two), 2);
    EXPECT_FALSE(f.Open(Folder, Doc("/missing")));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(FileDateOf(Utf8OfPath(Dir / "missing")), std::nullopt);
    EXPECT_TRUE(FileDateOf(Folder).has_value());  // a folder's entry has a date too
}
