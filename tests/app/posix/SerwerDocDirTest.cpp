#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "app/Serwer.h"
#include "framework/Wspolne99.h"

namespace {

struct TNoLog : TActivityLog {
    void Append(ByteView) override {}
    void SetColour(TLogColour) override {}
};

}  // namespace

TEST(Serwer, TheDocumentFolderIsTheSystemsDefaultUnlessOneIsGiven)
{
    char tmpl[] = "/tmp/tzz-config-XXXXXX";
    std::filesystem::path config = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    TNoLog log;
    {
        TSerwer serwer(log, TCommandLine{});
        EXPECT_EQ(serwer.HttpPomocniczy().DocDir, DefaultDocumentFolder());
        EXPECT_EQ(serwer.HttpPomocniczy().DocDir, "/srv/wwwroot");
    }
    TCommandLine given;
    given.DocDir = "/srv/inny";
    TSerwer serwer(log, given);
    EXPECT_EQ(serwer.HttpPomocniczy().DocDir, "/srv/inny");
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(config);
}
