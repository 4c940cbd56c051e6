#include "protocol/Texts.h"

#include "core/Znaki.h"

const TZzTexts& ZzTexts()
{
    using Znaki::ToCp1250;
    static const TZzTexts texts{
        ToCp1250(">powitanie"),
        ToCp1250(">logowanie użytkownika %d"),
        ToCp1250("<użytkownik zalogowany"),
        ToCp1250("%d>wyloguj mnie (paczka o długości %d)"),
        ToCp1250("%d>jestem dostępny (paczka o długości %d)"),
        ToCp1250("%d>jestem zajęty (paczka o długości %d)"),
        ToCp1250("%d>ukryj mnie (paczka o długości %d)"),
        ToCp1250("%d>użytkownik zmienił status na %x \"%s\" (paczka o długości %d)"),
        ToCp1250("%d>wypowiedź dla %d o treści \"%s\""),
        ToCp1250("%d>kolejne pozycje listy kontaktów"),
        ToCp1250("%d>ostatnie pozycje listy kontaktów"),
        ToCp1250("%d>nie mam nikogo na liście kontaktów"),
        ToCp1250(">usunięcie śledzenia użytkownika"),
        ToCp1250("%d>rozpoczęcie ustalenia listy użytkowników \"%s\""),
        ToCp1250("%d>ustalenie kolejnej porcji listy użytkowników \"%s\""),
        ToCp1250("%d>pobranie listy użytkowników"),
        ToCp1250("%d>żądanie nieznanego typu do listy użytkowników"),
        ToCp1250("%d>żądanie do katalogu publicznego"),
        ToCp1250("%d>ciągle jestem"),
        ToCp1250("<żądanie %d %s"),
        ToCp1250("Serwer nie rozróżnia przyjaciół od reszty, wyłącz pokazuj status tylko znajomym"),
        ToCp1250("Użytkownik gdzieś se poszedł. Wiadomość nie zostanie mu przekazana."),
        ToCp1250("Serwer nie ma miejsca na listę użytkowników. Lista nie została zapisana."),
    };
    return texts;
}
