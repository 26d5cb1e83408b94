#include "biegacz.h"

#include <gtest/gtest.h>

#include <iostream>
#include <limits>
#include <sstream>
#include <string>

namespace {

// What one report writes to standard output.
template <typename Report> std::string captured(Report report) {
  std::ostringstream out;
  std::streambuf *const saved = std::cout.rdbuf(out.rdbuf());
  report();
  std::cout.rdbuf(saved);
  return out.str();
}

struct TimesCase {
  float speed;
  const char *t60;
  const char *t1000;
};

void PrintTo(const TimesCase &c, std::ostream *os) { *os << "speed " << c.speed; }

class Times : public testing::TestWithParam<TimesCase> {};

TEST_P(Times, AreSinglePrecisionQuotientsInSixDigits) {
  const Biegacz b("x", 1, GetParam().speed);
  EXPECT_EQ(captured([&] { b.CzasNa60M(); }),
            std::string(" | czas na 60 metrow: ") + GetParam().t60 + " | \n");
  EXPECT_EQ(captured([&] { b.CzasNa1KM(); }),
            std::string(" | czas na 1000 metrow: ") + GetParam().t1000 + " | \n");
}

// 6.24 and 1.04 print differently when divided in double (9.61538, 961.538).
INSTANTIATE_TEST_SUITE_P(
    Speeds, Times,
    testing::Values(TimesCase{13.7F, "4.37956", "72.9927"}, TimesCase{5.0F, "12", "200"},
                    TimesCase{7.5F, "8", "133.333"}, TimesCase{15.0F, "4", "66.6667"},
                    TimesCase{0.5F, "120", "2000"}, TimesCase{6.24F, "9.61539", "160.256"},
                    TimesCase{1.04F, "57.6923", "961.539"}, TimesCase{-4.0F, "-15", "-250"},
                    TimesCase{0.0F, "inf", "inf"},
                    TimesCase{std::numeric_limits<float>::max(), "1.76324e-37", "2.93874e-36"}));

TEST(Card, WritesNameAndAgeBetweenRules) {
  const std::string rule = "-----------------------------------\n";
  EXPECT_EQ(captured([] { Biegacz("Ala", 20, 5.0F).info(); }),
            rule + "imie zawodnika: Ala\nwiek zawodnika: 20\n" + rule);
  EXPECT_EQ(captured([] { Biegacz("", -4, 5.0F).info(); }),
            rule + "imie zawodnika: \nwiek zawodnika: -4\n" + rule);
}

} // namespace
