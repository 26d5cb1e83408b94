#include "biegacz.h"

#include <csignal>
#include <cstdint>
#include <iostream>
#include <limits>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#endif

namespace {

// How many seconds the faster runner gains over 60 metres. Worked out in
// double: two speeds one float step apart give the same float time, yet the
// faster one still wins by a little. A slower runner who does not move
// forward never finishes.
double przewagaNa60M(float wolniejszy, float szybszy) {
  if (!(wolniejszy > 0.0F)) {
    return std::numeric_limits<double>::infinity();
  }
  return 60.0 / static_cast<double>(wolniejszy) - 60.0 / static_cast<double>(szybszy);
}

void werdykt(const Biegacz &biegacz, const Biegacz &aktualnyMistrz) {
  const float u = biegacz.jakSzybki;
  const float m = aktualnyMistrz.jakSzybki;
  if (u > m) {
    std::cout << "jeste\xC5\x9B szybszy od mistrza o " << przewagaNa60M(m, u) << "sekund"
              << std::endl;
    std::cout << "gratulacje!" << std::endl;
  } else if (u == m) {
    std::cout << "jestes tak samo szybki jak aktualny mistrz!" << std::endl;
  } else {
    // Also where the speeds cannot be ordered: the champion keeps the title.
    std::cout << "aktualny mistrz jest szybszy od ciebie o " << przewagaNa60M(u, m) << "sekund"
              << std::endl;
  }
}

} // namespace

int main() {
#ifdef SIGPIPE
  // A reader that goes away early is a write error like any other: ignored,
  // and the run still ends with status 0.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
  // Read the bytes as typed, as on every other platform: text mode would end
  // the input at a Ctrl-Z byte. CR is whitespace to the reads either way.
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  // Only the C++ streams are used, so keeping them in step with C stdio buys
  // nothing and makes every read a character at a time. std::cin stays tied
  // to std::cout, so each prompt is flushed before its read.
  std::ios_base::sync_with_stdio(false);

  // Zero stands wherever a read is skipped because the input failed or ended.
  std::int32_t wiek = 0;
  float jakSzybki = 0.0F;
  std::string imie;

  std::cout << "podaj imie:";
  std::cin >> imie;
  std::cout << std::endl << "czesc " << imie << ", podaj swoj wiek: ";
  std::cin >> wiek;
  std::cout << std::endl << "podaj w m/s jak szybko biegasz: ";
  std::cin >> jakSzybki;

  const Biegacz biegacz(imie, wiek, jakSzybki);
  const Biegacz aktualnyMistrz("Wichurek", 3, 13.7F);

  biegacz.info();
  biegacz.CzasNa60M();
  biegacz.CzasNa1KM();

  std::cout << std::endl << "statystyki aktualnego mistrza:" << std::endl;

  aktualnyMistrz.info();
  aktualnyMistrz.CzasNa60M();
  aktualnyMistrz.CzasNa1KM();

  werdykt(biegacz, aktualnyMistrz);
  return 0;
}
