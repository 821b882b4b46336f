// The engine's row formatter against the printf formats of the result file.
#include "row_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string printf_row(unsigned s, unsigned g1, unsigned g2, int flag,
                       double mc, double lda, double it) {
  char text[kMaxRowLength + 1];
  const char* format = flag == 0   ? "%d\t%d\t%d\t%d\t%f\t%.1f\t%.1f\n"
                       : flag == 1 ? "%d\t%d\t%d\t%d\t%f\t%f\t%f\n"
                                   : "%d\t%d\t%d\t%d\t%f\t%f\t%.1f\n";
  const double ldaShown = flag == 0 ? 1.0 : lda;
  std::snprintf(text, sizeof text, format, static_cast<int>(s),
                static_cast<int>(g1), static_cast<int>(g2), flag,
                std::log10(mc), ldaShown, std::log10(it));
  return text;
}

std::string engine_row(unsigned s, unsigned g1, unsigned g2, int flag,
                       double mc, double lda, double it) {
  char text[kMaxRowLength];
  return std::string(
      text, format_result_row(text, s, g1, g2, flag, std::log10(mc), lda, it));
}

// Special values, random bit patterns and values beside rounding ties print
// as the C library prints them, in rows and alone.
TEST(RowFormatTest, RowsMatchPrintfDigitForDigit) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {
      0.0,  -0.0,    inf,   -inf,     nan,          -nan,
      1e-7, -1e-7,   5e-7,  -5e-7,    4.9999995e-7, 0.5,
      2.0,  -9999.0, 1e308, -1.7e308, 4.9e-324,     123456.0000005};
  for (double lda : values) {
    for (double mc : {1.0, 0.0, 2.0, 0.5, 1e-320, -1.0, nan, inf}) {
      for (int flag : {0, 1, 2}) {
        const double it = flag == 1 ? mc : 10.0;
        EXPECT_EQ(engine_row(3, 7, 9, flag, mc, lda, it),
                  printf_row(3, 7, 9, flag, mc, lda, it))
            << "lda " << lda << " mc " << mc << " flag " << flag;
      }
    }
  }
  EXPECT_EQ(engine_row(3, 7, 9, 0, 0.5, 0.0, 10.0),
            "3\t7\t9\t0\t-0.301030\t1.0\t1.0\n");

  std::mt19937_64 bits(20261206);
  for (int trial = 0; trial < 300000; ++trial) {
    // Random bit patterns cover every exponent, subnormals and NaN payloads;
    // rounding ties are reached through values with few mantissa bits.
    double lda;
    const std::uint64_t pattern = bits();
    std::memcpy(&lda, &pattern, sizeof lda);
    if (trial % 3 == 0)
      lda = std::ldexp(static_cast<double>(pattern % 4096),
                       -static_cast<int>(pattern % 25));
    const double mc = std::ldexp(static_cast<double>(bits() >> 11),
                                 -53 - static_cast<int>(bits() % 900));
    const unsigned s = static_cast<unsigned>(bits() % 2147483648u);
    const int flag = static_cast<int>(bits() % 3);
    const double it = flag == 1 ? std::exp(-std::fabs(lda)) : 10.0;
    ASSERT_EQ(engine_row(s, s / 3, s / 2, flag, mc, lda, it),
              printf_row(s, s / 3, s / 2, flag, mc, lda, it));
  }

  // Doubles around (k + 1/2) millionths, exact ties among dyadic fractions
  // (k / 128), values near 2^52 millionths, where the integer digits reach
  // the precision of a double, and around ten, where the arithmetic
  // widens from 32 to 64 bits.
  bits.seed(5);
  std::vector<double> centres;
  for (int trial = 0; trial < 2000; ++trial) {
    const double k = static_cast<double>(bits() % 100000000);
    centres.push_back((k + 0.5) / 1e6);
    centres.push_back(
        std::ldexp(static_cast<double>(bits() % 4096 * 2 + 1), -7));
    centres.push_back(std::ldexp(1.0, 52) / 1e6 -
                      (static_cast<double>(bits() % 1000) + 0.5) / 1e6);
  }
  centres.push_back(std::ldexp(1.0, 52) / 1e6);
  centres.push_back(9.9999995);
  centres.push_back(10.0);
  for (double centre : centres) {
    for (double sign : {1.0, -1.0}) {
      double value = sign * centre;
      for (int k = 0; k < 40; ++k) value = std::nextafter(value, 0.0);
      for (int k = 0; k < 80; ++k) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%f", value);
        char text[330];
        ASSERT_EQ(std::string(text, format_fixed6(text, value)), expected);
        value = std::nextafter(value, sign * 1e300);
      }
    }
  }

  // Every six decimals, from the digit splitting alone.
  for (std::uint32_t v = 0; v < 1000000; ++v) {
    char expected[8];
    std::snprintf(expected, sizeof expected, "%06u", v);
    char text[7];
    row_format_detail::write_six_digits(text, v / 1000, v % 1000);
    ASSERT_EQ(std::string(text, 6), expected);
  }
}

}  // namespace
