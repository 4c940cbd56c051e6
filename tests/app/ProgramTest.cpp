// The program itself, headless, driven by real clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/ProgramFixture.h"
#include "core/Znaki.h"
#include "net/WSocket.h"
#include "support/ZzPeer.h"

TEST(Program, GreetsLogsInRelaysAndStopsInOrder)
{
    int port = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(FreePort())});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));

    TZzPeer five, seven, third;
    ASSERT_TRUE(Connected(five, port));
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(Connected(seven, port));
    ASSERT_TRUE(seven.Login(7));
    ASSERT_TRUE(program.WaitFor(">powitanie\n>logowanie użytkownika 5\n<użytkownik zalogowany\n"));

    five.SendPacket(cpNewStatus, U32(2) + "hej");
    TPacket change = seven.ReadPacket();
    EXPECT_EQ(change.Payload, U32(5) + "\x02" + ByteString(9, '\0') + "hej");
    seven.SendPacket(cpSendMessage, U32(5) + U32(1) + U32(0) + Znaki::ToCp1250("cześć") + ByteString(1, '\0'));
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "02 00 00 00 07 00 00 00 01 00 00 00");
    TPacket msg = five.ReadPacket();
    EXPECT_EQ(msg.Type, spMessage);
    EXPECT_EQ(msg.Payload.substr(16), Znaki::ToCp1250("cześć") + ByteString(1, '\0'));

    ASSERT_TRUE(Connected(third, port));
    ASSERT_TRUE(third.Login(9));
    third.SendPacket(cpContactsLast, U32(5) + "x" + U32(7) + "x" + U32(8) + "x");
    TPacket contacts = third.ReadPacket();
    EXPECT_EQ(contacts.Payload, U32(5) + "\x02" + ByteString(9, '\0') + U32(7) + ByteString(10, '\0'));

    ASSERT_TRUE(program.WaitFor("9>ostatnie pozycje listy kontaktów\n"));
    EXPECT_NE(program.Stdout.find("5>jestem dostępny (paczka o długości 7)\n"), std::string::npos);
    EXPECT_NE(program.Stdout.find("7>wypowiedź dla 5 o treści \"cześć\"\n"), std::string::npos);
    EXPECT_NE(program.Stdout.find("5>użytkownik zmienił status na 2 \"{02}{00}{00}{00}hej\" (paczka o długości 7)\n"),
              std::string::npos);

    EXPECT_EQ(program.Stop(StopRequest), 0);
    EXPECT_TRUE(five.WaitClosed());
    EXPECT_TRUE(third.WaitClosed());
    EXPECT_EQ(program.Stderr, "");
}

TEST(Program, MessengerPortInUseEndsTheServiceWithALineAndStatusOne)
{
    TWSocket holder;
    int port = HoldAnyPort(holder);
    int http = FreePort();
    // Without a window the messenger port is the service: a service manager must see it fail.
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(http)});
    int64_t end = MonotonicMs() + 10000;
    while (program.Stderr.find('\n') == std::string::npos && MonotonicMs() < end) {
        program.Pull();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Ended by itself (asked to stop now, were it still running, it would end with 0).
    EXPECT_EQ(program.Stop(StopRequest), 1);
    EXPECT_EQ(program.Stderr.rfind("trelubki-serwer: messenger port " + std::to_string(port) +
                                       " could not be opened: Error 10048 in function Bind",
                                   0),
              0u)
        << program.Stderr;
    EXPECT_NE(program.Stderr.find("; stopping (exit status 1)\n"), std::string::npos) << program.Stderr;
    EXPECT_EQ(std::count(program.Stderr.begin(), program.Stderr.end(), '\n'), 1) << program.Stderr;
    TPeer peer;
    EXPECT_FALSE(peer.Connect(http));  // nothing of it runs on
}

TEST(Program, BadOptionIsOneLineAndExitStatusTwo)
{
    TProgram program({"--messenger-port", "http"});
    EXPECT_EQ(program.Wait(), 2);
    EXPECT_EQ(program.Stderr, "trelubki-serwer: --messenger-port: 'http' is not a port number (1-65535)\n");
    EXPECT_EQ(program.Stdout, "");
}

TEST(Program, BadHttpTimeoutOrEmptyDocDirIsRefusedBeforeAnythingStarts)
{
    int http = FreePort();
    for (auto args : {std::vector<std::string>{"--headless", "--http-port", std::to_string(http), "--http-timeout", "-5"},
                      std::vector<std::string>{"--headless", "--http-port", std::to_string(http), "--doc-dir", ""}}) {
        TProgram program(args);
        EXPECT_EQ(program.Wait(), 2);
        EXPECT_EQ(program.Stdout, "");
        EXPECT_EQ(std::count(program.Stderr.begin(), program.Stderr.end(), '\n'), 1) << program.Stderr;
        TPeer peer;
        EXPECT_FALSE(peer.Connect(http));
    }
}

TEST(Program, HttpTimeoutEndsASilentConnection)
{
    int http = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http),
                      "--http-timeout", "1"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TPeer peer;
    ASSERT_TRUE(peer.Connect(http));
    ASSERT_TRUE(program.WaitFor("nowe połączenie\n"));
    EXPECT_TRUE(peer.WaitClosed(4000));
    EXPECT_TRUE(program.WaitFor("nowe połączenie\nrozłączenie\n"));
    EXPECT_EQ(program.Stop(StopRequest), 0);
}

TEST(Program, LoginTimeoutClosesWhoDoesNotLogInAndKeepsWhoDid)
{
    int port = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(FreePort()),
                      "--login-timeout", "1"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TZzPeer anonymous, five;
    ASSERT_TRUE(Connected(anonymous, port));
    ASSERT_TRUE(Connected(five, port));
    ASSERT_TRUE(five.Login(5));
    int64_t start = MonotonicMs();
    EXPECT_TRUE(anonymous.WaitClosed(5000));
    EXPECT_GE(MonotonicMs() - start, 500);
    EXPECT_TRUE(five.ReadFor(1200).empty());  // quiet, logged in, past the deadline: still here
    five.SendPacket(cpSendMessage, U32(5) + U32(1) + U32(0) + ByteString("me\0", 3));
    EXPECT_EQ(BytesToUInt32(five.ReadPacket().Payload), ackRelayed);
    EXPECT_EQ(five.ReadPacket().Type, spMessage);
    EXPECT_EQ(program.Stop(StopRequest), 0);
    EXPECT_EQ(program.Stderr, "");
}

TEST(Program, BadLoginTimeoutIsOneLineAndExitStatusTwo)
{
    for (std::string bad : {"-5", "soon", "1000001"}) {
        TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--login-timeout", bad});
        EXPECT_EQ(program.Wait(), 2);
        EXPECT_EQ(program.Stderr,
                  "trelubki-serwer: --login-timeout: '" + bad + "' is not a number of seconds (0-1000000)\n");
        EXPECT_EQ(program.Stdout, "");
    }
}

TEST(Program, ClientsCannotForgeLogEntries)
{
    int port = FreePort();
    int http = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(http)});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TZzPeer five, seven;
    ASSERT_TRUE(Connected(five, port));
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(Connected(seven, port));
    ASSERT_TRUE(seven.Login(7));

    // Each carries a CR (and worse) followed by a real entry's text.
    const ByteString forged = Znaki::ToCp1250("7>ciągle jestem");
    five.SendPacket(cpSendMessage, U32(7) + U32(1) + U32(0) + "hej\r" + forged + "\r\n" + forged + ByteString(1, '\0'));
    five.SendPacket(cpNewStatus, U32(2) + "opis\r" + forged);
    five.SendPacket(cpUserList, ByteString(1, ulBegin) + "lista\r" + forged);
    five.SendPacket(99, "x\r" + forged);
    five.SendPacket(cpUserList, "\x01" + ByteString(40000, 'd') + forged);  // past any reader's line limit
    TPeer web;
    ASSERT_TRUE(web.Connect(http));
    web.Send("GET /x\r" + Znaki::ToCp1250("rozłączenie") + " HTTP/1.0\r\n\r\n");
    web.ReadFor(200);
    web.Close();
    seven.SendPacket(cpPing, "");  // the one real entry of that text
    ASSERT_TRUE(program.WaitFor("\n7>ciągle jestem\n"));
    ASSERT_TRUE(program.WaitFor("\nrozłączenie\n"));

    std::vector<std::string> lines;
    for (size_t start = 0; start < program.Stdout.size();) {
        size_t end = std::min(program.Stdout.find('\n', start), program.Stdout.size());
        lines.push_back(program.Stdout.substr(start, end - start));
        start = end + 1;
    }
    auto starting = [&](const std::string& text) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(text, 0) == 0; });
    };
    // Only the real entries start a line; every forged one is an indented continuation.
    EXPECT_EQ(starting("7>"), 1);
    EXPECT_EQ(starting("rozłączenie"), 1);
    EXPECT_EQ(starting("    7>ciągle jestem"), 3);  // the message, the user list piece, the unknown packet
    EXPECT_EQ(starting("    rozłączenie"), 1);      // the HTTP path
    EXPECT_NE(program.Stdout.find("\n    {0A}7>ciągle jestem\"\n"), std::string::npos);
    // The status line shows its control bytes escaped, as it always has.
    EXPECT_NE(program.Stdout.find("\"{02}{00}{00}{00}opis{0D}7>ciągle jestem\""), std::string::npos);
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 16 * 1024 + 4u);
    EXPECT_EQ(program.Stop(StopRequest), 0);
}

TEST(Program, HttpPortTakenGivesTheRedMessageThenTheNotice)
{
    TWSocket holder;
    std::string http = std::to_string(HoldAnyPort(holder));
    int port = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", http, "--address", "łódź.lan"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    std::string expected = "Nie udało się otworzyć portu " + http +
                           " !\n    \n    Najprawdopodobniej jest on blokowany przez funkcjonujący serwer HTTP. Wyłącz go lub "
                           "skonfiguruj tak, by na żądanie dokumentu „\\appsvc\\appmsg4.asp” serwera witrualnego "
                           "„łódź.lan” odpowiadał „0 0 łódź.lan:" +
                           std::to_string(port) + " łódź.lan”\n\nKorzystanie z klientów";
    EXPECT_EQ(program.Stdout.substr(0, expected.size()), expected);
    TZzPeer client;
    ASSERT_TRUE(Connected(client, port));  // the messenger server opened all the same
    EXPECT_TRUE(client.Login(3));
    EXPECT_EQ(program.Stop(StopRequest), 0);
    // The log's text guesses; stderr gives the system's reason and what to do.
    EXPECT_EQ(program.Stderr, "trelubki-serwer: HTTP port " + http +
                                  " could not be opened: Error 10048 in function Bind Address already in use. Another "
                                  "program listens on it: stop it, or choose another port with --http-port\n");
}

TEST(Program, DocumentFolderNamedWithPolishLettersIsServed)
{
    std::filesystem::path folder = PathOfUtf8(ConfigDir() + "/źródła www");
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "a.txt") << "hej";
    int http = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http),
                      "--doc-dir", ConfigDir() + "/źródła www"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TPeer peer;
    ASSERT_TRUE(peer.Connect(http));
    peer.Send("HEAD /a.txt HTTP/1.0\r\n\r\n");
    std::string reply = peer.ReadFor(300);
    EXPECT_EQ(reply.substr(0, 17), "HTTP/1.0 200 OK\r\n") << reply;
    EXPECT_NE(reply.find("Content-Length: 3\r\n"), std::string::npos) << reply;
    EXPECT_EQ(program.Stop(StopRequest), 0);
}

TEST(Program, BootstrapRequestCarriesTheAnnouncedAddress)
{
    int http = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http),
                      "--address", "192.168.1.5"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TPeer peer;
    ASSERT_TRUE(peer.Connect(http));
    peer.Send("GET /appsvc/appmsg4.asp?fmnumber=5 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(peer.ReadFor(300), "Content-Type: text/data\r\n\r\n0 0 192.168.1.5:8074 192.168.1.5");
    peer.Close();
    ASSERT_TRUE(program.WaitFor("nowe połączenie\nget /appsvc/appmsg4.asp\nrozłączenie\n"));
    EXPECT_EQ(program.Stop(StopRequest), 0);
}
