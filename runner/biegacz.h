#pragma once

// The times are single-precision quotients, rounded once, and the verdict
// works in double. On 32-bit x86 the x87 unit would keep both in extended
// precision and print other digits, so the maths must be done in SSE2
// registers there (-msse2 -mfpmath=sse, or /arch:SSE2).
#if (defined(__i386__) || defined(_M_IX86)) && !defined(__SSE2_MATH__) &&                          \
    !(defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#error "x87 floating point: 32-bit x86 needs SSE2 maths to round the times to single precision"
#endif

#include <cstdint>
#include <limits>
#include <string>

// A speed of 0 gives infinite times, which only IEEE floats have.
static_assert(std::numeric_limits<float>::is_iec559, "float must be an IEEE 754 single");

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
