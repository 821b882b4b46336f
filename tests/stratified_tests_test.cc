// The stratified tests: their chi-squared tail against closed forms (far
// below the smallest double too), one stratum against the unstratified
// tests, and strata that cannot contribute leaving the result alone.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "class_correlation.h"
#include "stratified_tests.h"

namespace zirk_corr {
namespace {

// For even df = 2a, Q(a, x) = e^-x sum_{j < a} x^j / j!.
double even_tail(double q, int df) {
  const double x = q / 2.0;
  double term = 1.0, sum = 1.0;
  for (int j = 1; j < df / 2; ++j) {
    term *= x / j;
    sum += term;
  }
  return (-x + std::log(sum)) / std::log(10.0);
}

TEST(StratifiedTestsTest, ChiSquaredTailMatchesClosedFormsIntoTheFarTail) {
  for (const double q : {0.01, 0.5, 3.0, 20.0, 150.0, 1200.0, 1300.0, 1400.0,
                         2000.0, 1e4, 1e6}) {
    for (const int df : {2, 4, 6, 10, 40}) {
      const double want = even_tail(q, df);
      EXPECT_NEAR(log10_chi_squared_tail(q, df), want, 1e-12 * std::fabs(want) + 1e-15)
          << "q " << q << " df " << df;
    }
    const double one = log10_erfc(std::sqrt(q / 2.0));
    EXPECT_NEAR(log10_chi_squared_tail(q, 1), one, 1e-12 * std::fabs(one) + 1e-15)
        << "q " << q;
  }
  EXPECT_EQ(log10_chi_squared_tail(0.0, 3), 0.0);
}

// Three random Fisher z.
std::array<double, 3> random_z(std::mt19937_64& random) {
  std::normal_distribution<double> normal(0.4, 0.5);
  return {normal(random), normal(random), normal(random)};
}

TEST(StratifiedTestsTest, OneStratumIsTheUnstratifiedTestAndSmallStrataAddNothing) {
  std::mt19937_64 random(5);
  const std::vector<std::array<int, 3>> sizes = {{40, 80, 25}, {120, 30, 8}};
  for (const std::array<int, 3>& n : sizes) {
    const StratifiedTests one(std::span<const std::array<int, 3>>(&n, 1));
    // With a second stratum whose pair has one usable class or none.
    const std::vector<std::array<int, 3>> two = {n, {50, 50, 50}};
    const StratifiedTests withSmall(two);
    for (int mask = 0; mask < 8; ++mask) {
      std::array<bool, 3> usable{};
      for (int k = 0; k < 3; ++k) usable[k] = (mask >> k & 1) != 0;
      const TrendHet plain(n, usable);
      for (int draw = 0; draw < 20; ++draw) {
        const std::array<double, 3> z = random_z(random);
        double hetPlain, hetOne, hetSmall;
        const double trendPlain = plain(z, &hetPlain);
        const std::uint8_t masks[2] = {static_cast<std::uint8_t>(mask),
                                       static_cast<std::uint8_t>(1 << (draw % 3))};
        const double trendOne = one(std::span(&z, 1), masks, &hetOne);
        const std::array<std::array<double, 3>, 2> zs = {z, random_z(random)};
        const double trendSmall = withSmall(zs, masks, &hetSmall);
        if (std::popcount(static_cast<unsigned>(mask)) < 2) {
          EXPECT_TRUE(std::isnan(trendOne) && std::isnan(hetOne));
          EXPECT_TRUE(std::isnan(trendSmall) && std::isnan(hetSmall));
          continue;
        }
        EXPECT_NEAR(trendOne, trendPlain, 1e-12 * trendPlain);
        EXPECT_NEAR(hetOne, hetPlain, 1e-12 * std::fabs(hetPlain) + 1e-15);
        EXPECT_EQ(trendSmall, trendOne);
        EXPECT_EQ(hetSmall, hetOne);
      }
    }
  }
}

// Two strata with the same slope of z on the class at different levels:
// each stratum's own mean z and class are removed, so the levels add
// neither trend nor heterogeneity, and the two slopes' evidence adds up.
TEST(StratifiedTestsTest, EachStratumsLevelIsItsOwn) {
  const std::vector<std::array<int, 3>> n = {{103, 103, 103}, {103, 103, 103}};
  const std::array<std::array<double, 3>, 2> z = {
      std::array<double, 3>{0.1, 0.2, 0.3}, std::array<double, 3>{0.6, 0.7, 0.8}};
  const std::uint8_t masks[2] = {7, 7};
  double het;
  const double t = StratifiedTests(n)(z, masks, &het);
  // Weights 100 / (1 + tanh(zbar_s)^2 / 2), kbar_s = 1, Sxx_s = 200 times
  // the factor, the slope 0.1 in both.
  double sxx = 0.0, q = 0.0;
  for (const double zBar : {0.2, 0.7}) {
    const double inverse = 1.0 / (1.0 + std::tanh(zBar) * std::tanh(zBar) / 2.0);
    sxx += 200.0 * inverse;
    q += 100.0 * inverse * (0.01 + 0.0 + 0.01);
  }
  EXPECT_NEAR(t, 0.1 * std::sqrt(sxx) / std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(het, even_tail(q, 4), 1e-12);
}

}  // namespace
}  // namespace zirk_corr
