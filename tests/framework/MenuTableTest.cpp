#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "framework/AboutBox.h"
#include "framework/ContactActions.h"
#include "framework/MenuTable.h"
#include "framework/StatusHint.h"

namespace {

std::string Row(const TMenuItem& item)
{
    switch (item.Kind) {
    case TMenuItemKind::TopMenu:
        return std::string("[") + item.Caption + "]";
    case TMenuItemKind::Separator:
        return "-";
    case TMenuItemKind::Item:
        break;
    }
    std::string row = std::string(item.Name) + " " + item.Caption;
    if (!item.Shortcut.IsNone())
        row += " " + item.Shortcut.Text();
    return row;
}

}  // namespace

TEST(MenuTable, MenusInOrderWithCaptionsAndShortcuts)
{
    std::vector<std::string> rows;
    for (const TMenuItem& item : StandardMenu())
        rows.push_back(Row(item));
    const std::vector<std::string> expected = {
        "[&?]",
        "-",
        "FileExitItem &Zamknij Alt+X",
        "[Pomo&c]",
        "Contents1 Tematy &Pomocy F1",
        "Temmenu1 Użycie Pomocy",
        "-",
        "Telefon1 &Telefon",
        "Poczta1 Poczta",
        "Hipertekst1 Hipertekst",
        "-",
        "Uaktualnienie1 &Uaktualnienie",
        "-",
        "AboutItem Windows - &informacje Ctrl+Enter",
    };
    EXPECT_EQ(rows, expected);
}

TEST(MenuTable, ShortcutsCarryTheSystemsKeyCodes)
{
    // The window system builds its accelerators from these: letters as upper-case ASCII, F1
    // and Enter as Windows' virtual keys.
    EXPECT_EQ(MenuItemFor(TMenuCommand::FileExit)->Shortcut, (TShortcut{'X', false, true}));
    EXPECT_EQ(MenuItemFor(TMenuCommand::HelpContents)->Shortcut, (TShortcut{0x70, false, false}));
    EXPECT_EQ(MenuItemFor(TMenuCommand::About)->Shortcut, (TShortcut{0x0D, true, false}));
    EXPECT_TRUE(MenuItemFor(TMenuCommand::Mail)->Shortcut.IsNone());
    EXPECT_EQ(TShortcut{}.Text(), "");
}

TEST(MenuTable, EveryCommandHasOneItemAndEveryItemACommand)
{
    std::set<TMenuCommand> seen;
    for (const TMenuItem& item : StandardMenu()) {
        if (item.Kind != TMenuItemKind::Item) {
            EXPECT_EQ(item.Command, TMenuCommand::None) << item.Name;
            continue;
        }
        EXPECT_NE(item.Command, TMenuCommand::None) << item.Name;
        EXPECT_TRUE(seen.insert(item.Command).second) << item.Name;
        EXPECT_EQ(MenuItemFor(item.Command), &item);
        EXPECT_EQ(MenuItemNamed(item.Name), &item);
    }
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_EQ(MenuItemFor(TMenuCommand::None), nullptr);
    EXPECT_EQ(MenuItemNamed("Nic"), nullptr);
    EXPECT_EQ(MenuItemNamed("Help1")->Kind, TMenuItemKind::TopMenu);
    EXPECT_EQ(ExitButton().Command, TMenuCommand::FileExit);
}

TEST(MenuTable, HintsOfEveryItemAndTheAboutItemsNamesTheProduct)
{
    const std::vector<std::pair<const char*, const char*>> hints = {
        {"FileMenu", "Instalowanie nowego oprogramowania"},
        {"FileExitItem", "Zamknięcie"},
        {"Help1", "Informacje pomocnicze"},
        {"Contents1", "Pomoc główna"},
        {"Temmenu1", "Informacje o użyciu pomocy"},
        {"Telefon1", "Wykręcenie numeru telefonu do autora"},
        {"Poczta1", "Wysłanie poczty elektronicznej do autora"},
        {"Hipertekst1", "Podgląd strony hipertekstowej autora"},
        {"Uaktualnienie1", "Uaktualnienie z internetu"},
    };
    for (const auto& [name, hint] : hints) {
        ASSERT_NE(MenuItemNamed(name), nullptr) << name;
        EXPECT_EQ(MenuHint(*MenuItemNamed(name), "Produkt"), hint) << name;
    }
    EXPECT_EQ(MenuHint(*MenuItemNamed("AboutItem"), "Trelubki Serwer"), "O programie Trelubki Serwer...");
}

TEST(MenuTable, HelpNeedsAFileAndUpdateAProductAddress)
{
    for (bool help : {false, true})
        for (bool url : {false, true}) {
            TMenuState state{help, url};
            EXPECT_EQ(MenuItemEnabled(TMenuCommand::HelpContents, state), help);
            EXPECT_EQ(MenuItemEnabled(TMenuCommand::Update, state), url);
            // "Użycie Pomocy" stays enabled without a help file; the rest always are.
            for (TMenuCommand c : {TMenuCommand::FileExit, TMenuCommand::HelpOnHelp, TMenuCommand::Telephone,
                                   TMenuCommand::Mail, TMenuCommand::WebPage, TMenuCommand::About})
                EXPECT_TRUE(MenuItemEnabled(c, state));
        }
}

TEST(StatusHint, AnEmptyHintShowsTheLegalNotice)
{
    const std::string legal = "Copyright Welkor";
    EXPECT_EQ(StatusBarText("Zamknięcie", legal), "Zamknięcie");
    EXPECT_EQ(StatusBarText("", legal), legal);
    // The tool button's hint has an empty long part: the notice shows, its tooltip does not.
    EXPECT_EQ(ShortHint(ExitButton().Hint), "Zamknij");
    EXPECT_EQ(LongHint(ExitButton().Hint), "");
    EXPECT_EQ(StatusBarText(LongHint(ExitButton().Hint), legal), legal);
    // A hint without a bar is both parts; only the first bar divides.
    EXPECT_EQ(ShortHint("Pomoc główna"), "Pomoc główna");
    EXPECT_EQ(LongHint("Pomoc główna"), "Pomoc główna");
    EXPECT_EQ(ShortHint("a|b|c"), "a");
    EXPECT_EQ(LongHint("a|b|c"), "b|c");
}

TEST(AboutBox, TitleAndTextWithTheVersionInFourParts)
{
    EXPECT_EQ(AboutTitle("Trelubki Serwer"), "O programie Trelubki Serwer...");
    EXPECT_EQ(SystemAboutTitle("Trelubki Serwer"), "O programie Trelubki Serwer...#");
    EXPECT_EQ(AboutText("Trelubki Serwer", {0x00020001, 0x00000007}, "(c) Welkor"),
              "Trelubki Serwer wersja 2.01.00.07\n(c) Welkor");
    EXPECT_EQ(AboutText("X", {0x00010000, 0x0002000F}, ""), "X wersja 1.00.02.15\n");
    EXPECT_EQ(AboutText("", {}, ""), " wersja 0.00.00.00\n");
    EXPECT_EQ(MessageBoxCaption("Trelubki Serwer", ErrorTitle), "Trelubki Serwer - Błąd");
}

TEST(ContactActions, MailSubjectTelephoneAndErrorTexts)
{
    EXPECT_EQ(MailAddressFor("mailto:a@b.pl", "Trelubki Serwer"), "mailto:a@b.pl?subject=Zapytanie%20o%20Trelubki%20Serwer");
    // Only spaces are encoded.
    EXPECT_EQ(MailAddressFor("mailto:a@b.pl", "a&b  c"), "mailto:a@b.pl?subject=Zapytanie%20o%20a&b%20%20c");
    EXPECT_EQ(TelephoneAddress("+48 (000) 000-000"), "tel:+48000000000");
    EXPECT_EQ(TelephoneAddress(TContactData{}.TelephoneNumber), "tel:+48000000000");
    EXPECT_EQ(EnquiryAbout("Welkor"), "Zapytanie o Welkor");
    EXPECT_EQ(ErrorBoxText(MailFailure), "Błąd podczas uruchamiania poczty. Możliwe, że brak odpowiedniego programu.");
    EXPECT_EQ(ErrorBoxText(BrowserFailure),
              "Błąd podczas uruchamiania przeglądarki. Możliwe, że brak odpowiedniego programu.");
}
