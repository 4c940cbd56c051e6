#include "framework/VersionCheck.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/Utf8Path.h"

namespace {

// How much of a reply's start tells a web page from a version file.
constexpr size_t HeadBytes = 64;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWithNoCase(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && Lower(s.substr(s.size() - tail.size())) == Lower(tail);
}

void RemoveFile(const std::string& file)
{
    std::error_code ec;
    if (!file.empty())
        std::filesystem::remove(PathOfUtf8(file), ec);
}

}  // namespace

TVersionServer DefaultVersionServer()
{
    TVersionServer server{"http://www.welkor.pl/wersje/", "http://www.welkor.pl/wersje/pobrano.html"};
    if (const char* base = std::getenv("TRELUBKI_VERSION_URL")) {
        server.VersionBaseAddress = base;
        server.FollowUpAddress = *base ? server.VersionBaseAddress + "pobrano.html" : std::string();
    }
    return server;
}

std::string VersionFileAddress(const std::string& base, const TInstallLocation& location)
{
    // A program outside the known folders keeps its whole, absolute path: its own leading slash
    // would double the one after the code.
    std::string path = Slashes(location.RelativePath);
    path.erase(0, path.find_first_not_of('/'));
    return base + location.Code + "/" + path + ".zawartosc" + ".wersja";
}

bool LooksLikeWebPage(const std::string& head, const std::string& contentType)
{
    std::string type = Lower(contentType);
    if (type.find("html") != std::string::npos || type.find("xml") != std::string::npos)
        return true;
    std::string text = head;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    size_t start = text.find_first_not_of(" \t\r\n\v\f");
    text = start == std::string::npos ? std::string() : Lower(text.substr(start, 16));
    for (const char* page : {"<!doctype", "<html", "<head", "<body", "<?xml", "<!--"})
        if (text.rfind(page, 0) == 0)
            return true;
    return false;
}

TVersionCheck::~TVersionCheck()
{
    RemoveFile(FCurrentFile);
    RemoveFile(FKeptFile);
}

std::optional<TDownload> TVersionCheck::Start(const TInstallLocation& location, TVersionPair programVersion)
{
    if (Server.VersionBaseAddress.empty())
        return std::nullopt;
    FProgramVersion = programVersion;
    return StartDownload(VersionFileAddress(Server.VersionBaseAddress, location));
}

std::optional<TDownload> TVersionCheck::StartDownload(const std::string& address)
{
    DropCurrentFile();
    FCurrentAddress = address;
    FCurrentFile = NewTempFile();
    if (FCurrentFile.empty())
        return std::nullopt;  // as a download that failed: nothing follows
    return TDownload{FCurrentAddress, FCurrentFile};
}

bool TVersionCheck::IsTheResource(const TDownloadResult& result) const
{
    if (!result.Completed)
        return false;
    if (result.HttpStatus != 0 && (result.HttpStatus < 200 || result.HttpStatus > 299))
        return false;  // a redirect, or an error page that came with no error
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(PathOfUtf8(FCurrentFile), ec);
    if (ec || TooLarge(size))
        return false;
    if (!EndsWithNoCase(FCurrentAddress, ".wersja"))
        return true;
    std::string head(HeadBytes, '\0');
    std::ifstream in(PathOfUtf8(FCurrentFile), std::ios::binary);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return !LooksLikeWebPage(head, result.ContentType);
}

TVersionStep TVersionCheck::Stopped(const TDownloadResult& result)
{
    TVersionStep step;
    if (FCurrentFile.empty())
        return step;  // nothing was running
    if (!IsTheResource(result)) {
        DropCurrentFile();
        return step;
    }
    if (EndsWithNoCase(FCurrentAddress, ".wersja")) {
        TVersionPair offered = VersionPairFromFile(FCurrentFile);
        DropCurrentFile();
        step.ShowNotice = CompareVersions(offered, FProgramVersion) > 0;
        if (!Server.FollowUpAddress.empty())
            step.Next = StartDownload(Server.FollowUpAddress);
    } else {
        RemoveFile(FKeptFile);
        FKeptFile = FCurrentFile;
        FCurrentFile.clear();
    }
    return step;
}

void TVersionCheck::Abandon()
{
    DropCurrentFile();
}

void TVersionCheck::DropCurrentFile()
{
    RemoveFile(FCurrentFile);
    FCurrentFile.clear();
}
