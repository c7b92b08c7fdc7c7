#include "scan/format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace ampdots {
namespace {

std::string Fixed(float x, int decimals) {
  char text[kMaxNumberText];
  return std::string(text, FormatFixed(x, decimals, text));
}

std::string Printf(float x, int decimals) {
  char text[kMaxNumberText];
  std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(x));
  return text;
}

TEST(FormatFixed, ExactTiesGoToEvenAsPrintfDoes) {
  EXPECT_EQ(Fixed(0.125f, 2), "0.12");
  EXPECT_EQ(Fixed(0.375f, 2), "0.38");
  EXPECT_EQ(Fixed(1.0625f, 3), "1.062");
  EXPECT_EQ(Fixed(0.0625f, 3), "0.062");
  EXPECT_EQ(Fixed(0.025f, 2), "0.03");  // 0.025f lies just above the tie
  EXPECT_EQ(Fixed(0.0f, 3), "0.000");
  EXPECT_EQ(Fixed(0.005f, 2), "0.00");  // 0.005f lies just below the tie
  EXPECT_EQ(Fixed(4294967296.0f, 3), "4294967296.000");
}

TEST(FormatFixed, MatchesPrintfOnEveryKindOfFloat) {
  std::mt19937 random(11);
  for (int i = 0; i < 300000; ++i) {
    // Random bits cover subnormals, huge values, signs and not-a-numbers.
    const float x = i % 2 == 0 ? std::bit_cast<float>(static_cast<std::uint32_t>(random()))
                               : static_cast<float>(random() % 100000000) / 1000.0f;
    const int decimals = static_cast<int>(random() % 4);
    ASSERT_EQ(Fixed(x, decimals), Printf(x, decimals)) << std::bit_cast<std::uint32_t>(x);
  }
  EXPECT_EQ(Fixed(std::numeric_limits<float>::infinity(), 2), "inf");
}

TEST(FormatInteger, WholeRange) {
  char text[kMaxNumberText];
  EXPECT_EQ(std::string(text, FormatInteger(0, text)), "0");
  EXPECT_EQ(std::string(text, FormatInteger(4294967296, text)), "4294967296");
  EXPECT_EQ(std::string(text, FormatInteger(-7, text)), "-7");
  EXPECT_EQ(std::string(text, FormatInteger(std::numeric_limits<std::int64_t>::min(), text)),
            "-9223372036854775808");
}

}  // namespace
}  // namespace ampdots

namespace ampdots {
namespace {

// Where FormatDecimal answers, it answers as printf; it leaves to printf
// the values it cannot decide (near a tie, too large, not finite).
TEST(FormatDecimal, AnswersAsPrintfOrNotAtAll) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::size_t answered = 0;
  const auto check = [&](double x, int decimals) {
    char fast[kMaxNumberText];
    const std::size_t n = FormatDecimal(x, decimals, fast);
    if (n == 0) return;
    ++answered;
    char slow[400];
    std::snprintf(slow, sizeof slow, "%.*f", decimals, x);
    ASSERT_EQ(std::string(fast, n), slow) << x << " to " << decimals;
  };
  for (int i = 0; i < 200000; ++i) {
    const double x = unit(random) * std::pow(10.0, static_cast<int>(random() % 16) - 6);
    check(x, 2);
    check(x, 6);
  }
  EXPECT_GT(answered, 300000u);
  // Ties in binary go to printf, which rounds them to even; so do values
  // past 2^40 units, and infinities.
  char text[kMaxNumberText];
  EXPECT_EQ(FormatDecimal(0.125, 2, text), 0u);
  EXPECT_EQ(FormatDecimal(1e30, 2, text), 0u);
  EXPECT_EQ(FormatDecimal(-std::numeric_limits<double>::infinity(), 2, text), 0u);
  check(-0.0, 2);
  check(-0.001, 2);
  check(0.0, 0);
  check(123456.5e-3, 2);
}

}  // namespace
}  // namespace ampdots
