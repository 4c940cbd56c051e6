#pragma once
// The help menu's ways to reach the maker: telephone, mail, web page, and the product's page for
// an update. What to open is decided here; the window system opens it (its shell) and shows the
// error box when that fails. Texts are UTF-8.
#include <string>

// The maker's contact data.
struct TContactData {
    std::string ContactName = "Welkor";
    std::string TelephoneNumber = "+48 (000) 000-000";
    std::string MailAddress = "mailto:trelubki@welkor.pl";
    std::string WebPage = "http://www.welkor.pl/";
};

// "Zapytanie o <product>" with every space as "%20", behind the mail address.
std::string MailAddressFor(const std::string& mailAddress, const std::string& productName);
// The call as an address the desktop places: "tel:" and the number's "+" and digits.
std::string TelephoneAddress(const std::string& telephoneNumber);
// "Zapytanie o <name>": the call's comment, the mail's subject.
std::string EnquiryAbout(const std::string& name);

// The error box of a contact action that could not be started: its title (for MessageBoxCaption)
// and its text.
inline constexpr const char* ErrorTitle = "Błąd";
inline constexpr const char* MailFailure = "Błąd podczas uruchamiania poczty.";
inline constexpr const char* BrowserFailure = "Błąd podczas uruchamiania przeglądarki.";
// The sentence followed by " Możliwe, że brak odpowiedniego programu.".
std::string ErrorBoxText(const std::string& sentence);
