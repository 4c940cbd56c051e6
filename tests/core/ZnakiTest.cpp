#include <gtest/gtest.h>

#include "core/Znaki.h"

TEST(Znaki, PolishLettersMapToCodePage1250)
{
    EXPECT_EQ(Znaki::ToCp1250("ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ"),
              "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF \xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF");
    EXPECT_EQ(Znaki::ToCp1250("„x”"), "\x84x\x94");
}

TEST(Znaki, ServerTextsHaveTheirWireLengths)
{
    EXPECT_EQ(Znaki::ToCp1250("Serwer nie rozróżnia przyjaciół od reszty, wyłącz pokazuj status tylko znajomym").size(), 79u);
    EXPECT_EQ(Znaki::ToCp1250("Użytkownik gdzieś se poszedł. Wiadomość nie zostanie mu przekazana.").size(), 67u);
}

TEST(Znaki, RoundTripAndUnmappable)
{
    std::string text = "Zażółć gęślą jaźń €";
    EXPECT_EQ(Znaki::FromCp1250(Znaki::ToCp1250(text)), text);
    EXPECT_EQ(Znaki::ToCp1250("日"), "?");
    EXPECT_EQ(Znaki::FromCp1250("\x81"), "\xEF\xBF\xBD");
    // A zero byte and a stray UTF-8 lead byte are kept, never cut at.
    EXPECT_EQ(Znaki::FromCp1250(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(Znaki::ToCp1250("\xC5"), "?");
}
