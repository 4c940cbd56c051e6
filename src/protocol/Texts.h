#pragma once
// The messenger side's texts, in code page 1250 as they go into the log and on the wire.
#include "core/ByteString.h"

struct TZzTexts {
    ByteString Powitanie;
    ByteString LogowanieUzytkownika;
    ByteString UzytkownikZalogowany;
    ByteString WylogujMnie;
    ByteString JestemDostepny;
    ByteString JestemZajety;
    ByteString UkryjMnie;
    ByteString ZmienilStatus;
    ByteString Wypowiedz;
    ByteString KolejnePozycje;
    ByteString OstatniePozycje;
    ByteString NieMamNikogo;
    ByteString UsuniecieSledzenia;
    ByteString RozpoczecieListy;
    ByteString KolejnaPorcja;
    ByteString PobranieListy;
    ByteString NieznanyTypListy;
    ByteString KatalogPubliczny;
    ByteString CiagleJestem;
    ByteString Zadanie;
    ByteString TylkoZnajomym;  // friends-only notice sent to the client
    ByteString PoszedlSobie;   // absence notice sent to the client
    ByteString BrakMiejscaNaListe;  // a user list upload the server has no room for
};

const TZzTexts& ZzTexts();
