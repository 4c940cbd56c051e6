// The stored announced address, from the settings file of a Linux system.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/ProgramFixture.h"

TEST(Program, StoredAddressIsAnnouncedAndAnEmptyOneStaysEmpty)
{
    std::string folder = ConfigDir() + "/Welkor/Trelubki";
    std::filesystem::create_directories(folder);
    int http = FreePort();
    auto ask = [&](const std::string& stored) {
        std::ofstream(folder + "/Serwer.ini") << "[ustawienia]\nadres=" << stored << "\n";
        TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http)});
        EXPECT_TRUE(program.WaitFor("prawym klawiszem.\n"));
        TPeer peer;
        EXPECT_TRUE(peer.Connect(http));
        peer.Send("GET / HTTP/1.0\r\n\r\n");
        std::string reply = peer.ReadFor(300);
        EXPECT_EQ(program.Stop(SIGTERM), 0);
        return reply;
    };
    EXPECT_EQ(ask("żółw.lan"), "Content-Type: text/data\r\n\r\n0 0 \xBF\xF3\xB3w.lan:8074 \xBF\xF3\xB3w.lan");
    EXPECT_EQ(ask(""), "Content-Type: text/data\r\n\r\n0 0 :8074 ");
    std::filesystem::remove(folder + "/Serwer.ini");
}
