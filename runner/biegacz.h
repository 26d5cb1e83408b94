#pragma once

#include <cstdint>
#include <string>

// A runner: name, age and speed in metres per second, with the three reports
// the program prints about them on standard output.
class Biegacz {
public:
  std::string imie;
  std::int32_t wiek;
  float jakSzybki;

  // The name is taken by value: the caller hands over its own copy, which the
  // record then keeps without copying it again.
  Biegacz(std::string i, std::int32_t w, float jS);

  // The runner's card: a rule, the name, the age, a rule.
  void info() const;
  // The time in seconds the runner needs for 60 metres.
  void CzasNa60M() const;
  // The time in seconds the runner needs for 1000 metres.
  void CzasNa1KM() const;
};
