#pragma once
// The standard window's menus and its toolbar button, as data: every window system builds its
// menu bar from this table, maps each command to its own action, and asks here which items are
// enabled and what hint each shows. Captions mark the access key with "&"; texts are UTF-8.
#include <span>
#include <string>

// What an item does; the toolkit maps each to its handler (FileExitItemClick, Contents1Click...).
// The values never change: a window system may use them as its command identifiers (offset as it
// likes).
enum class TMenuCommand : int {
    None = 0,           // a top menu or a separator
    FileExit = 1,       // FileExitItem, and the toolbar's ExitBtn
    HelpContents = 2,   // Contents1
    HelpOnHelp = 3,     // Temmenu1
    Telephone = 4,      // Telefon1
    Mail = 5,           // Poczta1
    WebPage = 6,        // Hipertekst1
    Update = 7,         // Uaktualnienie1
    About = 8,          // AboutItem
};

// A shortcut key. Key is the key's code as Windows' virtual keys number them: a letter or digit
// is its upper-case ASCII code, F1 is 0x70, Enter 0x0D; 0 is none.
struct TShortcut {
    static constexpr int KeyF1 = 0x70;
    static constexpr int KeyEnter = 0x0D;

    int Key = 0;
    bool Ctrl = false;
    bool Alt = false;

    bool IsNone() const { return Key == 0; }
    // As a menu shows it beside the caption: "Alt+X", "F1", "Ctrl+Enter"; empty for none.
    std::string Text() const;
    bool operator==(const TShortcut&) const = default;
};

enum class TMenuItemKind { TopMenu, Item, Separator };

struct TMenuItem {
    TMenuItemKind Kind;
    const char* Name;     // the component's name ("FileExitItem"); empty for a separator
    const char* Caption;  // "&Zamknij"; "&?" for the application menu, which windows caption themselves
    const char* Hint;     // the status-bar hint; AboutItem's is made at start-up (MenuHint)
    TShortcut Shortcut;
    TMenuCommand Command;
};

// The menu bar from left to right: each TopMenu is followed by its items and separators, in order.
std::span<const TMenuItem> StandardMenu();
// The item of that name (a top menu's too), or nullptr.
const TMenuItem* MenuItemNamed(const char* name);
// The item of that command (the first one: the toolbar button shares FileExit), or nullptr.
const TMenuItem* MenuItemFor(TMenuCommand command);

// The hint an item shows: its own, or for AboutItem "O programie <product name>...".
std::string MenuHint(const TMenuItem& item, const std::string& productName);

// What decides whether an item is enabled.
struct TMenuState {
    bool HasHelpFile = false;    // a help file was found next to the program
    bool HasProductUrl = false;  // the product information names the product's web address
};
// "Tematy Pomocy" needs a help file, "Uaktualnienie" a product address; everything else is
// always enabled.
bool MenuItemEnabled(TMenuCommand command, const TMenuState& state);

// Runs a command on a standard window, whichever toolkit draws it: each has the same click
// handlers, named after the menu items.
template <class TForm>
void RunMenuCommand(TForm& form, TMenuCommand command)
{
    switch (command) {
    case TMenuCommand::FileExit: form.FileExitItemClick(); break;
    case TMenuCommand::HelpContents: form.Contents1Click(); break;
    case TMenuCommand::HelpOnHelp: form.Temmenu1Click(); break;
    case TMenuCommand::Telephone: form.Telefon1Click(); break;
    case TMenuCommand::Mail: form.Poczta1Click(); break;
    case TMenuCommand::WebPage: form.Hipertekst1Click(); break;
    case TMenuCommand::Update: form.Uaktualnienie1Click(); break;
    case TMenuCommand::About: form.AboutItemClick(); break;
    case TMenuCommand::None: break;
    }
}

// The one button of the main toolbar ("Main", top dock, no close button of its own): glyph only,
// the tooltip is the hint's short part, the status bar shows its (empty) long part.
struct TToolButton {
    const char* Name;     // "ExitBtn"
    const char* Caption;  // "Zamknij"
    const char* Hint;     // "Zamknij|"
    TMenuCommand Command;
};
inline constexpr const char* MainToolbarCaption = "Main";
const TToolButton& ExitButton();

// The standard window's own caption until start-up sets the product name, its size, font.
inline constexpr const char* StandardCaption = "?";
inline constexpr int StandardWidth = 544, StandardHeight = 375;
inline constexpr const char* StandardFontName = "MS Sans Serif";
inline constexpr int StandardFontPoints = 8;
