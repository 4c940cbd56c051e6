#include "framework/ContactActions.h"

std::string EnquiryAbout(const std::string& name)
{
    return "Zapytanie o " + name;
}

std::string MailAddressFor(const std::string& mailAddress, const std::string& productName)
{
    std::string encoded;
    for (char c : EnquiryAbout(productName))
        encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    return mailAddress + "?subject=" + encoded;
}

std::string TelephoneAddress(const std::string& telephoneNumber)
{
    std::string number;
    for (char c : telephoneNumber)
        if (c == '+' || (c >= '0' && c <= '9'))
            number += c;
    return "tel:" + number;
}

std::string ErrorBoxText(const std::string& sentence)
{
    return sentence + " Możliwe, że brak odpowiedniego programu.";
}
