// The fast chi-squared(10) upper tail against Boost.Math, bit for bit.
#include "mc_tail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

double boost_tail(double s) {
  const boost::math::chi_squared_distribution<double> chi2(10.0);
  return boost::math::cdf(boost::math::complement(chi2, s));
}

TEST(McTailTest, EqualsBoostBitForBit) {
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> wide(0.0, 9999.9);
  std::uniform_real_distribution<double> usual(0.0, 60.0);
  std::uniform_real_distribution<double> series(0.0, 8.0);
  std::uniform_real_distribution<double> exponent(-300.0, 1.0);
  for (int trial = 0; trial < 2000000; ++trial) {
    // Most trials in the series range, where the finite sum stands in for
    // Boost's series; some tiny arguments, where Q is 1 to the last bit.
    const double s = trial % 8 == 0   ? wide(random)
                     : trial % 8 == 1 ? usual(random)
                     : trial % 8 == 2 ? std::pow(10.0, exponent(random))
                                      : series(random);
    if (!(s > 0)) continue;
    ASSERT_TRUE(same_bits(mc_upper_tail(s), boost_tail(s))) << s;
  }
  // Around the switch from the series to the finite sum, the underflow to
  // subnormal and zero, and the ends of the range.
  for (double s :
       {8.0, 2.0, 1537.0, 1463.0, 1500.0, 9999.9, 1e-300, 4.9e-324}) {
    for (int step = -50; step <= 50; ++step) {
      double t = s;
      for (int k = 0; k < std::abs(step); ++k) {
        t = std::nextafter(t, step < 0 ? 0.0 : 1e9);
      }
      if (t > 0 && t <= 9999.9) {
        ASSERT_TRUE(same_bits(mc_upper_tail(t), boost_tail(t))) << t;
      }
    }
  }
  EXPECT_EQ(mc_upper_tail(9999.9), 0.0);
  EXPECT_NEAR(mc_upper_tail(10.0), 0.440493, 1e-6);
}

}  // namespace
