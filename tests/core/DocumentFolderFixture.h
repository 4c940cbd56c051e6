#pragma once
// A document folder of its own in the system's temporary folder (Dir, "www"), with an outside
// folder above it (Top) for names that try to leave it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Utf8Path.h"
#include "support/TestPlatform.h"

struct TDocumentFolderTest : ::testing::Test {
    std::filesystem::path Top, Dir;
    std::string Folder;  // Dir as the server is given it (UTF-8)

    void SetUp() override
    {
        Top = PathOfUtf8(MakeTempDir("tzz-doc-"));
        Dir = Top / "www";
        std::filesystem::create_directories(Dir);
        Folder = Utf8OfPath(Dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(Top, ec);
    }
};
