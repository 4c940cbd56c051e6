#include "framework/MenuTable.h"

#include <cstring>

namespace {

using K = TMenuItemKind;
using C = TMenuCommand;

constexpr TShortcut NoKey{};
constexpr TShortcut AltX{'X', false, true};
constexpr TShortcut F1{TShortcut::KeyF1, false, false};
constexpr TShortcut CtrlEnter{TShortcut::KeyEnter, true, false};

const TMenuItem Items[] = {
    {K::TopMenu, "FileMenu", "&?", "Instalowanie nowego oprogramowania", NoKey, C::None},
    {K::Separator, "", "-", "", NoKey, C::None},
    {K::Item, "FileExitItem", "&Zamknij", "Zamknięcie", AltX, C::FileExit},
    {K::TopMenu, "Help1", "Pomo&c", "Informacje pomocnicze", NoKey, C::None},
    {K::Item, "Contents1", "Tematy &Pomocy", "Pomoc główna", F1, C::HelpContents},
    {K::Item, "Temmenu1", "Użycie Pomocy", "Informacje o użyciu pomocy", NoKey, C::HelpOnHelp},
    {K::Separator, "", "-", "", NoKey, C::None},
    {K::Item, "Telefon1", "&Telefon", "Wykręcenie numeru telefonu do autora", NoKey, C::Telephone},
    {K::Item, "Poczta1", "Poczta", "Wysłanie poczty elektronicznej do autora", NoKey, C::Mail},
    {K::Item, "Hipertekst1", "Hipertekst", "Podgląd strony hipertekstowej autora", NoKey, C::WebPage},
    {K::Separator, "", "-", "", NoKey, C::None},
    {K::Item, "Uaktualnienie1", "&Uaktualnienie", "Uaktualnienie z internetu", NoKey, C::Update},
    {K::Separator, "", "-", "", NoKey, C::None},
    {K::Item, "AboutItem", "Windows - &informacje", "", CtrlEnter, C::About},
};

const TToolButton Exit{"ExitBtn", "Zamknij", "Zamknij|", C::FileExit};

}  // namespace

std::string TShortcut::Text() const
{
    std::string text;
    if (Ctrl)
        text += "Ctrl+";
    if (Alt)
        text += "Alt+";
    if (Key == KeyF1)
        text += "F1";
    else if (Key == KeyEnter)
        text += "Enter";
    else if (Key != 0)
        text += static_cast<char>(Key);
    return Key == 0 ? std::string() : text;
}

std::span<const TMenuItem> StandardMenu()
{
    return Items;
}

const TMenuItem* MenuItemNamed(const char* name)
{
    for (const TMenuItem& item : Items)
        if (*item.Name && std::strcmp(item.Name, name) == 0)
            return &item;
    return nullptr;
}

const TMenuItem* MenuItemFor(TMenuCommand command)
{
    if (command == C::None)
        return nullptr;
    for (const TMenuItem& item : Items)
        if (item.Command == command)
            return &item;
    return nullptr;
}

std::string MenuHint(const TMenuItem& item, const std::string& productName)
{
    if (item.Command == C::About)
        return "O programie " + productName + "...";
    return item.Hint;
}

bool MenuItemEnabled(TMenuCommand command, const TMenuState& state)
{
    switch (command) {
    case C::HelpContents:
        return state.HasHelpFile;
    case C::Update:
        return state.HasProductUrl;
    default:
        return true;
    }
}

const TToolButton& ExitButton()
{
    return Exit;
}
