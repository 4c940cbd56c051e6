#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/Utf8Path.h"
#include "framework/VersionCheck.h"

namespace {

const TVersionPair Mine{0x00010000, 0};  // 1.0.0.0
const TInstallLocation Location{'P', "Welkor\\Trelubki\\Serwer.exe"};
const std::string Newer("\x00\x00\x09\x00\x00\x00\x00\x00", 8);  // 9.0.0.0
const std::string Same("\x00\x00\x01\x00\x00\x00\x00\x00", 8);

TVersionServer Server() { return {"http://v.lan/w/", "http://v.lan/w/pobrano.html"}; }

void Fill(const TDownload& d, const std::string& bytes)
{
    std::ofstream(PathOfUtf8(d.File), std::ios::binary | std::ios::trunc) << bytes;
}

bool Exists(const std::string& file) { return std::filesystem::exists(PathOfUtf8(file)); }

TDownloadResult Fetched(int status = 200, std::string type = "application/octet-stream")
{
    return {true, status, std::move(type)};
}

void SetEnv(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
    if (!value)
        _putenv((std::string(name) + "=").c_str());
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

}  // namespace

TEST(VersionCheck, NewerVersionIsAnnouncedThenTheFollowUpIsKeptUntilTheCheckGoes)
{
    std::string kept;
    {
        TVersionCheck check(Server());
        auto d = check.Start(Location, Mine);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Address, "http://v.lan/w/P/Welkor/Trelubki/Serwer.exe.zawartosc.wersja");
        EXPECT_TRUE(Exists(d->File));
        EXPECT_TRUE(check.Downloading());
        Fill(*d, Newer);
        TVersionStep step = check.Stopped(Fetched());
        EXPECT_TRUE(step.ShowNotice);
        EXPECT_FALSE(Exists(d->File));  // the version file is read and gone
        ASSERT_TRUE(step.Next);
        EXPECT_EQ(step.Next->Address, "http://v.lan/w/pobrano.html");
        Fill(*step.Next, "<html>dzięki</html>");  // a page is what the follow-up is
        TVersionStep last = check.Stopped(Fetched(200, "text/html"));
        EXPECT_FALSE(last.ShowNotice);
        EXPECT_FALSE(last.Next);
        EXPECT_FALSE(check.Downloading());
        kept = check.KeptFile();
        EXPECT_EQ(kept, step.Next->File);
        EXPECT_TRUE(Exists(kept));
    }
    EXPECT_FALSE(Exists(kept));
}

TEST(VersionCheck, SameOrOlderVersionAnnouncesNothingButStillFetchesTheFollowUp)
{
    for (const std::string& offered : {Same, std::string("\x00\x00\x00\x00\x05\x00\x00\x00", 8), std::string()}) {
        TVersionCheck check(Server());
        auto d = check.Start(Location, Mine);
        ASSERT_TRUE(d);
        Fill(*d, offered);  // an empty file reads as 0.0.0.0
        TVersionStep step = check.Stopped(Fetched());
        EXPECT_FALSE(step.ShowNotice);
        EXPECT_TRUE(step.Next);
    }
    // A short file counts its missing bytes as 0: 6 bytes give 2.1.0.3, newer than 2.1.0.2.
    TVersionCheck check(Server());
    auto d = check.Start(Location, {0x00020001, 0x00000002});
    ASSERT_TRUE(d);
    Fill(*d, std::string("\x01\x00\x02\x00\x03\x00", 6));
    EXPECT_TRUE(check.Stopped(Fetched()).ShowNotice);
}

TEST(VersionCheck, OnlyACompleteVersionFileCounts)
{
    struct TCase {
        const char* Name;
        TDownloadResult Result;
        std::string Bytes;
    } cases[] = {
        {"a failed download", {false, 200, ""}, Newer},
        {"a redirect", Fetched(302), Newer},
        {"a moved page", Fetched(301), Newer},
        {"an error page", Fetched(500), Newer},
        {"not found", Fetched(404), Newer},
        {"a portal's page", Fetched(200, "text/html; charset=utf-8"), "<html><body>Zaloguj</body></html>"},
        {"a page in XML", Fetched(200, "application/xhtml+xml"), Newer},
        {"a page without its type", Fetched(200, ""), "\r\n  <!DOCTYPE html>\n<html>"},
        {"a page with a byte order mark", Fetched(200, ""), "\xEF\xBB\xBF<HTML><body>"},
        {"a comment first", Fetched(200, ""), "<!-- x --><p>"},
        {"more than the limit", Fetched(), Newer + std::string(TVersionCheck::MaxBytes, 'x')},
    };
    for (const TCase& c : cases) {
        TVersionCheck check(Server());
        auto d = check.Start(Location, Mine);
        ASSERT_TRUE(d) << c.Name;
        Fill(*d, c.Bytes);
        TVersionStep step = check.Stopped(c.Result);
        EXPECT_FALSE(step.ShowNotice) << c.Name;
        EXPECT_FALSE(step.Next) << c.Name << ": the follow-up comes only after a version file";
        EXPECT_FALSE(Exists(d->File)) << c.Name << ": no file is left behind";
        EXPECT_FALSE(check.Downloading()) << c.Name;
    }

    // No status at all (another scheme) and a file exactly at the limit still count.
    TVersionCheck check(Server());
    auto d = check.Start(Location, Mine);
    ASSERT_TRUE(d);
    Fill(*d, Newer + std::string(TVersionCheck::MaxBytes - Newer.size(), 'x'));
    EXPECT_TRUE(check.Stopped(Fetched(0, "")).ShowNotice);
    EXPECT_FALSE(TVersionCheck::TooLarge(TVersionCheck::MaxBytes));
    EXPECT_TRUE(TVersionCheck::TooLarge(TVersionCheck::MaxBytes + 1));
}

TEST(VersionCheck, AFailedFollowUpKeepsNothingAndANewOneReplacesTheOld)
{
    TVersionCheck check(Server());
    auto d = check.Start(Location, Mine);
    Fill(*d, Same);
    auto next = check.Stopped(Fetched()).Next;
    ASSERT_TRUE(next);
    check.Stopped(Fetched(404));
    EXPECT_TRUE(check.KeptFile().empty());
    EXPECT_FALSE(Exists(next->File));

    // A second check (another window's start) keeps only the newest follow-up page.
    d = check.Start(Location, Mine);
    Fill(*d, Same);
    next = check.Stopped(Fetched()).Next;
    check.Stopped(Fetched());
    std::string first = check.KeptFile();
    d = check.Start(Location, Mine);
    Fill(*d, Same);
    next = check.Stopped(Fetched()).Next;
    check.Stopped(Fetched());
    EXPECT_NE(check.KeptFile(), first);
    EXPECT_FALSE(Exists(first));
    EXPECT_TRUE(Exists(check.KeptFile()));
}

TEST(VersionCheck, OffWithoutABaseNoFollowUpWithoutItsAddressAndAbandonLeavesNoFile)
{
    TVersionCheck off(TVersionServer{"", ""});
    EXPECT_FALSE(off.Start(Location, Mine));
    EXPECT_FALSE(off.Stopped(Fetched()).ShowNotice);  // nothing running: nothing happens

    TVersionCheck alone(TVersionServer{"http://v.lan/w/", ""});
    auto d = alone.Start(Location, Mine);
    ASSERT_TRUE(d);
    Fill(*d, Newer);
    TVersionStep step = alone.Stopped(Fetched());
    EXPECT_TRUE(step.ShowNotice);
    EXPECT_FALSE(step.Next);

    TVersionCheck closing(Server());
    d = closing.Start(Location, Mine);
    ASSERT_TRUE(d);
    EXPECT_TRUE(Exists(d->File));
    std::string name = PathOfUtf8(d->File).filename().string();
    EXPECT_TRUE(name.rfind("wk", 0) == 0 || name.rfind("WK", 0) == 0) << name;
    closing.Abandon();
    EXPECT_FALSE(closing.Downloading());
    EXPECT_FALSE(Exists(d->File));
    EXPECT_FALSE(closing.Stopped(Fetched()).ShowNotice);  // a late report of the stopped download
}

TEST(VersionCheck, VersionServerFromTheEnvironment)
{
    SetEnv("TRELUBKI_VERSION_URL", nullptr);
    TVersionServer maker = DefaultVersionServer();
    EXPECT_EQ(maker.VersionBaseAddress.substr(0, 7), "http://");
    EXPECT_EQ(maker.VersionBaseAddress.back(), '/');
    EXPECT_FALSE(maker.FollowUpAddress.empty());
    SetEnv("TRELUBKI_VERSION_URL", "http://lustro.lan/w/");
    TVersionServer mirror = DefaultVersionServer();
    EXPECT_EQ(mirror.VersionBaseAddress, "http://lustro.lan/w/");
    EXPECT_EQ(mirror.FollowUpAddress, "http://lustro.lan/w/pobrano.html");
#ifndef _WIN32  // Windows' environment holds no empty value: setting one removes it
    SetEnv("TRELUBKI_VERSION_URL", "");
    TVersionServer off = DefaultVersionServer();
    EXPECT_EQ(off.VersionBaseAddress, "");
    EXPECT_EQ(off.FollowUpAddress, "");
#endif
    SetEnv("TRELUBKI_VERSION_URL", nullptr);
}

TEST(VersionCheck, AddressesAndWebPages)
{
    EXPECT_EQ(VersionFileAddress("http://v/", {'~', "/home/ala/trelubki-serwer"}),
              "http://v/~/home/ala/trelubki-serwer.zawartosc.wersja");
    EXPECT_EQ(VersionFileAddress("http://v/", {'~', "D:\\Tools\\X.exe"}), "http://v/~/D:/Tools/X.exe.zawartosc.wersja");
    EXPECT_EQ(VersionFileAddress("http://v/", {'S', "X.EXE"}), "http://v/S/X.EXE.zawartosc.wersja");

    EXPECT_TRUE(LooksLikeWebPage("", "text/html"));
    EXPECT_TRUE(LooksLikeWebPage("", "Application/XML"));
    EXPECT_TRUE(LooksLikeWebPage("  <HEAD>", ""));
    EXPECT_TRUE(LooksLikeWebPage("<body>", "application/octet-stream"));
    EXPECT_TRUE(LooksLikeWebPage("<?xml version", ""));
    EXPECT_FALSE(LooksLikeWebPage(Newer, "application/octet-stream"));
    EXPECT_FALSE(LooksLikeWebPage("", ""));
    EXPECT_FALSE(LooksLikeWebPage("   ", ""));
    EXPECT_FALSE(LooksLikeWebPage("<p>", "text/plain"));
}
