// Number texts read like atof/atoi, whatever the locale.
#include "env/number_text.h"

#include <gtest/gtest.h>

#include "german_locale.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace rolta {
namespace {

std::uint32_t Bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct FloatCase {
  const char* text;
  float expected;
};

TEST(TextToFloat, ReadsLikeAtofAndStopsAtTheFirstCharacterThatDoesNotFit) {
  const FloatCase cases[] = {
      {"", 0.0f},           {"50", 50.0f},    {"12.5", 12.5f},        {"1e2", 100.0f}, {" -3.5x", -3.5f},
      {"abc", 0.0f},        {"12abc", 12.0f}, {"\t\n\v\f\r 7", 7.0f}, {"+.5", 0.5f},   {"5.", 5.0f},
      {".", 0.0f},          {"-", 0.0f},      {"+-1", 0.0f},          {"- 1", 0.0f},   {"1 2", 1.0f},
      {"1.5e3.7", 1500.0f}, {"2E-1x", 0.2f},  {"007", 7.0f},          {"0.000", 0.0f}, {"1,5", 1.0f},
  };
  for (const FloatCase& c : cases) {
    EXPECT_EQ(Bits(TextToFloat(c.text)), Bits(c.expected)) << '"' << c.text << '"';
  }
}

TEST(TextToFloat, AnExponentWithoutDigitsIsLeftUnread) {
  EXPECT_EQ(TextToFloat("1e"), 1.0f);
  EXPECT_EQ(TextToFloat("1e+"), 1.0f);
  EXPECT_EQ(TextToFloat("1E-x"), 1.0f);
  EXPECT_EQ(TextToFloat("e5"), 0.0f);
  EXPECT_EQ(TextToFloat(".e5"), 0.0f);
}

TEST(TextToFloat, HexInfinityAndNanAreNotNumbers) {
  EXPECT_EQ(TextToFloat("nan"), 0.0f);
  EXPECT_EQ(TextToFloat("NAN(123)"), 0.0f);
  EXPECT_EQ(TextToFloat("inf"), 0.0f);
  EXPECT_EQ(TextToFloat("-infinity"), 0.0f);
  EXPECT_EQ(TextToFloat("0x1A"), 0.0f);  // the "0" is read, the "x" stops it
  EXPECT_EQ(TextToFloat("1x1A"), 1.0f);
}

TEST(TextToFloat, RoundsTheDoubleToSinglePrecision) {
  EXPECT_EQ(Bits(TextToFloat("0.1")), Bits(0.1f));
  EXPECT_EQ(TextToFloat("16777217"), 16777216.0f);
  // atof first gives the double 1 + 2^-24 exactly, a tie in float that goes
  // to even: 1.0, where a direct conversion to float would give 1 + 2^-23.
  EXPECT_EQ(TextToFloat("1.0000000596046447755"), 1.0f);
  EXPECT_EQ(TextToDouble("1.0000000596046447755"), 1.0 + std::ldexp(1.0, -24));
}

TEST(TextToFloat, LongDigitStringsAreScaledByTheirExponent) {
  const std::string tiny = "0." + std::string(400, '0') + "1e401";
  EXPECT_EQ(TextToFloat(tiny), 1.0f);
  const std::string huge = "1" + std::string(300, '0') + "e-300";
  EXPECT_EQ(TextToFloat(huge), 1.0f);
  const std::string longMantissa = "3." + std::string(5000, '3');
  EXPECT_FLOAT_EQ(TextToFloat(longMantissa), 10.0f / 3.0f);
}

TEST(TextToFloat, OutOfRangeTextsClampInsteadOfBecomingInfinite) {
  constexpr float kMax = std::numeric_limits<float>::max();
  EXPECT_EQ(TextToFloat("1e99"), kMax);
  EXPECT_EQ(TextToFloat("-1e99"), -kMax);
  EXPECT_EQ(TextToFloat("3.4028236e38"), kMax);  // would round to infinity
  EXPECT_EQ(TextToFloat("3.4028234e38"), kMax);
  EXPECT_EQ(TextToFloat("1e99999999999999999999"), kMax);
  EXPECT_EQ(TextToDouble("1e400"), std::numeric_limits<double>::max());
  EXPECT_EQ(TextToDouble("-1e400"), -std::numeric_limits<double>::max());

  EXPECT_EQ(TextToFloat("1e-99"), 0.0f);
  EXPECT_EQ(TextToDouble("1e-400"), 0.0);
  EXPECT_TRUE(std::signbit(TextToFloat("-1e-99")));
  EXPECT_EQ(TextToDouble("1e-99999999999999999999"), 0.0);
}

TEST(TextToFloat, NeverYieldsANonFiniteValue) {
  const char* texts[] = {"1e38",  "9e38",   "1e39",     "-1e39",  "1e308",       "1.8e308", "1e309",
                         "1e-46", "1e-324", "4.9e-324", "1e-320", "99999e99999", "-0"};
  for (const char* text : texts) {
    EXPECT_TRUE(std::isfinite(TextToFloat(text))) << text;
    EXPECT_TRUE(std::isfinite(TextToDouble(text))) << text;
  }
  EXPECT_TRUE(std::isnan(NarrowToFloat(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(NarrowToFloat(1e300), std::numeric_limits<float>::max());
}

TEST(TextToFloat, IgnoresTheNumericLocale) {
  const test::GermanLocale german;
  if (!german.Active()) GTEST_SKIP() << "no German locale installed (locales package)";
  // The C library now reads a comma as the decimal separator ...
  EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);
  // ... the console still reads the point.
  EXPECT_EQ(TextToFloat("1.5"), 1.5f);
  EXPECT_EQ(TextToFloat("1,5"), 1.0f);
  EXPECT_EQ(TextToDouble("-2.25e1"), -22.5);
}

TEST(TextToInt, ReadsLikeAtoiAndSaturates) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 0},
      {" +42abc", 42},
      {"\t-7", -7},
      {"3.9", 3},
      {"1e5", 1},
      {"0x10", 0},
      {"  -0012", -12},
      {"- 5", 0},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"99999999999999999999999", kMax},
      {"-99999999999999999999999", kMin},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToInt(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
}  // namespace rolta
