// Symbolic links in and out of the document folder, made as any user makes them on Linux (on
// Windows a link needs a privilege, and the C++ library there makes none).
#include "http/HttpFixture.h"

TEST_F(HttpTest, LinksAreServedOnlyWhereTheyLeadInsideTheDocumentFolder)
{
    std::filesystem::path outside = MakeTempDir("tzz-outside-");
    std::ofstream(outside / "secret.txt") << "secret";
    std::filesystem::create_directories(outside / "folder");
    std::ofstream(outside / "folder" / "index.html") << "<p>outside</p>";
    File("inside.txt", "inside");
    File("sub/page.html", "<p>");
    std::filesystem::create_symlink(outside / "secret.txt", Dir / "secret.txt");
    std::filesystem::create_symlink("../" + outside.filename().string() + "/secret.txt", Dir / "relative.txt");
    std::filesystem::create_directory_symlink(outside / "folder", Dir / "folder");
    std::filesystem::create_symlink(Dir / "inside.txt", Dir / "alias.txt");
    std::filesystem::create_directory_symlink("sub", Dir / "subalias");

    EXPECT_EQ(Head("/secret.txt"), NotFound("HTTP/1.0", "/secret.txt"));
    EXPECT_EQ(Head("/relative.txt"), NotFound("HTTP/1.0", "/relative.txt"));
    EXPECT_EQ(Head("/folder/index.html"), NotFound("HTTP/1.0", "/folder/index.html"));
    EXPECT_EQ(Head("/folder/"), NotFound("HTTP/1.0", "/folder/"));
    EXPECT_EQ(Head("/alias.txt"), Block("text/plain", 6, "inside.txt"));
    EXPECT_EQ(Head("/subalias/page.html"), Block("text/html", 3, "sub/page.html"));
    EXPECT_EQ(Head("/subalias/"), NotFound("HTTP/1.0", "/subalias/"));

    // The document folder itself may be reached through a link.
    std::filesystem::create_directory_symlink(Dir, outside / "www");
    Server.DocDir = (outside / "www").string();
    EXPECT_EQ(Head("/alias.txt"), Block("text/plain", 6, "inside.txt"));
    EXPECT_EQ(Head("/secret.txt"), NotFound("HTTP/1.0", "/secret.txt"));
    std::filesystem::remove_all(outside);
}
