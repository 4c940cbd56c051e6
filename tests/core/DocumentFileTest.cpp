#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "core/DocumentFile.h"

namespace {

std::filesystem::path U8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const std::filesystem::path& p)
{
    std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
}

// A document folder of its own in the system's temporary folder, with an outside folder beside.
struct DocumentFileTest : ::testing::Test {
    std::filesystem::path Top, Dir;
    std::string Folder;

    void SetUp() override
    {
        Top = std::filesystem::temp_directory_path() / ("tzz-doc-" + std::to_string(std::random_device{}()));
        Dir = Top / "www";
        std::filesystem::create_directories(Dir);
        Folder = Utf8(Dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(Top, ec);
    }
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
    EXPECT_EQ(f.Modified(), FileDateOf(Utf8(Dir / "sub" / "a.bin")));
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
    EXPECT_FALSE(TDocumentFile::Exists(Folder, Utf8(Top / "secret.txt")));
    EXPECT_FALSE(TDocumentFile::Exists(Folder + "-other", Doc("-other/in.txt")));
    // A zero byte would cut the name short: "in.txt\0.html" is not in.txt.
    EXPECT_FALSE(TDocumentFile::Exists(Folder, Doc(std::string("/in.txt\0.html", 13))));
    // No folder, no documents, even for a name that exists.
    EXPECT_FALSE(TDocumentFile::Exists("", Utf8(Dir / "in.txt")));
    EXPECT_FALSE(TDocumentFile::Exists(Utf8(Top / "none"), Utf8(Top / "none") + "/in.txt"));
    EXPECT_TRUE(TDocumentFile::Exists(Folder, Doc("/in.txt")));
}

TEST_F(DocumentFileTest, OpeningAnotherClosesTheFirstAndAPolishNameIsFound)
{
    File(Dir / U8("zażółć.txt"), "gęślą");
    File(Dir / "b.txt", "bb");
    TDocumentFile f;
    ASSERT_TRUE(f.Open(Folder, Doc("/zażółć.txt")));
    EXPECT_EQ(f.Size(), std::string("gęślą").size());
    ASSERT_TRUE(f.Open(Folder, Doc("/b.txt")));
    char two[4];
    EXPECT_EQ(f.Read(two, sizeof two), 2);
    EXPECT_FALSE(f.Open(Folder, Doc("/missing")));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(FileDateOf(Utf8(Dir / "missing")), std::nullopt);
    EXPECT_TRUE(FileDateOf(Folder).has_value());  // a folder's entry has a date too
}
