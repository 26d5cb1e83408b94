#include "biegacz.h"

#include <iostream>
#include <utility>

namespace {

constexpr const char *kreska = "-----------------------------------";

} // namespace

Biegacz::Biegacz(std::string i, std::int32_t w, float jS)
    : imie(std::move(i)), wiek(w), jakSzybki(jS) {}

void Biegacz::info() const {
  std::cout << kreska << std::endl;
  std::cout << "imie zawodnika: " << imie << std::endl;
  std::cout << "wiek zawodnika: " << wiek << std::endl;
  std::cout << kreska << std::endl;
}

// Both times are single-precision quotients, rounded once: the local float is
// what gets printed, never a wider intermediate.
void Biegacz::CzasNa60M() const {
  const float c60m = 60.0F / jakSzybki;
  std::cout << " | czas na 60 metrow: " << c60m << " | " << std::endl;
}

void Biegacz::CzasNa1KM() const {
  const float c1km = 1000.0F / jakSzybki;
  std::cout << " | czas na 1000 metrow: " << c1km << " | " << std::endl;
}
