// The MC test's fast path: the chi-squared(10) upper tail against Boost.Math
// bit for bit, McJudge against the exact p-value, and the four-lane kernel
// against the scalar arithmetic of the mean-covariance test. Together with
// the test of settle() for any error within the bound, this shows that the
// engine's outcomes are the exact judge's.
#include "mc_tail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mc_tile.h"
#include "row_format.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

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
    for (int k = 0; k < 50; ++k) s = std::nextafter(s, 0.0);
    for (int k = 0; k <= 100; ++k, s = std::nextafter(s, 1e9)) {
      if (s > 0 && s <= 9999.9) {
        ASSERT_TRUE(same_bits(mc_upper_tail(s), boost_tail(s))) << s;
      }
    }
  }
  EXPECT_EQ(mc_upper_tail(9999.9), 0.0);
  EXPECT_NEAR(mc_upper_tail(10.0), 0.440493, 1e-6);
}

std::string sixth_decimal(double value) {
  char text[330];
  return std::string(text, format_fixed6(text, value));
}

// Checks the judge's outcome for s against the exact p-value, for the
// judge's threshold and for thresholds at and beside that p-value (each
// compared through a judge of its own).
void ExpectSameOutcome(const McJudge& judge, double threshold, double s) {
  const double p = mc_pvalue_of_statistic(s, mc_upper_tail);
  const McOutcome outcome = judge.judge(s);
  ASSERT_EQ(sixth_decimal(outcome.log10Pvalue), sixth_decimal(std::log10(p)))
      << "s " << s;
  ASSERT_EQ(outcome.belowThreshold, threshold > p)
      << "s " << s << " threshold " << threshold;
}

TEST(McJudgeTest, PrintsAndComparesAsTheExactPvalue) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> wide(-10.0, 10010.0);
  std::uniform_real_distribution<double> usual(0.0, 60.0);
  std::uniform_real_distribution<double> exponent(-12.0, 3.2);
  const std::vector<double> thresholds = {0.05, 1e-4, 1e-8, 0.0,   1.0,
                                          1.5,  -0.5, kNaN, 1e-300};
  std::vector<McJudge> judges;
  for (double threshold : thresholds) judges.emplace_back(threshold);
  for (int trial = 0; trial < 400000; ++trial) {
    const double s = trial % 4 == 0   ? wide(random)
                     : trial % 4 == 1 ? std::pow(10.0, exponent(random))
                                      : usual(random);
    const std::size_t t = static_cast<std::size_t>(trial) % thresholds.size();
    ExpectSameOutcome(judges[t], thresholds[t], s);
    // A threshold equal to the p-value, or one double above or below it.
    const double p = mc_pvalue_of_statistic(s, mc_upper_tail);
    for (double threshold :
         {p, std::nextafter(p, 2.0), std::nextafter(p, -1.0)}) {
      ExpectSameOutcome(McJudge(threshold), threshold, s);
    }
  }
  for (double s : {0.0, -0.0, -1.0, kNaN, kInf, -kInf, 9999.9, 1e4, 1400.0,
                   std::nextafter(1400.0, 2000.0), 1e-300, 4.9e-324}) {
    for (std::size_t t = 0; t < thresholds.size(); ++t) {
      ExpectSameOutcome(judges[t], thresholds[t], s);
    }
  }
  // For log10(p) = -(k + 1/2) 1e-6, found by bisection on the exact p-value,
  // the statistics within 2000 doubles of the turning point, where the
  // shortcut must give way to the exact p-value.
  std::mt19937_64 steps(11);
  std::uniform_real_distribution<double> target(0.0, 300.0);
  const McJudge judge(0.05);
  const auto exact_log10 = [](double s) {
    return std::log10(mc_pvalue_of_statistic(s, mc_upper_tail));
  };
  for (int trial = 0; trial < 300; ++trial) {
    // Half the trials just below zero, where "-0.000000" turns into a
    // negative sixth decimal.
    const double level = trial % 2 == 0
                             ? -(std::floor(target(steps) * 1e6) + 0.5) * 1e-6
                             : -(static_cast<double>(trial % 7) + 0.5) * 1e-6;
    double low = 1e-3;  // log10 p decreases from about 0 here
    double high = 1400.0;
    if (!(exact_log10(low) > level && exact_log10(high) < level)) continue;
    for (int step = 0; step < 200; ++step) {
      const double middle = low + (high - low) / 2;
      if (middle == low || middle == high) break;
      (exact_log10(middle) > level ? low : high) = middle;
    }
    double s = low;
    for (int k = 0; k < 2000; ++k) s = std::nextafter(s, 0.0);
    for (int k = 0; k < 4000; ++k, s = std::nextafter(s, 1e4)) {
      ExpectSameOutcome(judge, 0.05, s);
    }
  }
}

TEST(McJudgeTest, SettlesOnlyWhatTheStatisticsBoundCannotChange) {
  // A statistic known to within `bound`: wherever settle() decides, its
  // answer must be the exact statistic's, for any error up to the bound.
  std::mt19937_64 random(13);
  std::uniform_real_distribution<double> usual(0.0, 80.0);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_real_distribution<double> exponent(-13.0, -1.0);
  const McJudge judge(0.05);
  int settled = 0;
  for (int trial = 0; trial < 400000; ++trial) {
    const double exact = trial % 10 == 0 ? usual(random) * 17.0 : usual(random);
    const double bound = std::pow(10.0, exponent(random));
    const double s = exact + unit(random) * bound;
    const double x = s * 0.5;
    McOutcome outcome;
    if (!judge.settle(s, bound, std::log(tail_polynomial(x)) - x, outcome)) {
      continue;
    }
    ++settled;
    const McOutcome expected = judge.judge(exact);
    ASSERT_EQ(sixth_decimal(outcome.log10Pvalue),
              sixth_decimal(expected.log10Pvalue))
        << "exact " << exact << " bound " << bound;
    ASSERT_EQ(outcome.belowThreshold, expected.belowThreshold) << exact;
  }
  EXPECT_GT(settled, 200000);
  McOutcome outcome;
  EXPECT_FALSE(judge.settle(10.0, kNaN, -1.0, outcome));
  EXPECT_FALSE(judge.settle(10.0, HUGE_VAL, -1.0, outcome));
  EXPECT_FALSE(judge.settle(1e-3, 2e-3, -1e-10, outcome));
  EXPECT_FALSE(judge.settle(1399.0, 2.0, -690.0, outcome));
}

// One tile's data, drawn so that determinants range from far below to far
// above 1, with some exactly zero or negative.
struct TileData {
  double cross[3][kMcLanes];
  double sum[3][kMcLanes];
  double variance[3][kMcLanes];
  double whole[kMcLanes];
  McTileInput input;

  explicit TileData(std::mt19937_64& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> scale(-6.0, 2.0);
    for (std::size_t k = 0; k < 3; ++k) {
      const double size = std::floor(1.0 + 60.0 * unit(random));
      input.nvec[k] = size;
      const double spread = std::pow(10.0, scale(random));
      input.mean1[k] = 2.0 + unit(random);
      input.variance1[k] = spread * (0.5 + unit(random));
      for (std::size_t l = 0; l < kMcLanes; ++l) {
        const double mean2 = 2.0 + unit(random);
        variance[k][l] = spread * (0.5 + unit(random));
        sum[k][l] = mean2 * size;
        // A correlation in (-1.2, 1.2): beyond 1 the determinant is
        // negative; one lane in 50 is perfectly correlated.
        double rho = 2.4 * unit(random) - 1.2;
        if (random() % 50 == 0) rho = 1.0;
        const double c2 = rho * std::sqrt(input.variance1[k] * variance[k][l]);
        cross[k][l] = (c2 + input.mean1[k] * mean2) * size;
      }
      input.classCross[k] = cross[k];
      input.classSum[k] = sum[k];
      input.classVariance[k] = variance[k];
    }
    for (std::size_t l = 0; l < kMcLanes; ++l) {
      whole[l] = (input.nvec[0] + input.nvec[1] + input.nvec[2]) *
                 (std::log(input.variance1[0] * variance[0][l]) +
                  4.0 * unit(random) - 1.0);
    }
    input.wholeTerm = whole;
  }
};

TEST(McTileTest, CovariancesExactAndStatisticWithinItsBound) {
  std::mt19937_64 random(17);
  int finite = 0;
  for (int trial = 0; trial < 200000; ++trial) {
    const TileData data(random);
    const McTileInput& in = data.input;
    McTileOutput out;
    mc_tile(in, out);
    for (std::size_t l = 0; l < kMcLanes; ++l) {
      bool normal = true;
      for (std::size_t k = 0; k < 3; ++k) {
        const double c = in.nvec[k];
        double c2 = in.classCross[k][l] / c;
        c2 = c2 - (in.mean1[k] * in.classSum[k][l]) / c;
        ASSERT_TRUE(same_bits(out.c2[k][l], c2));
        const double determinant =
            in.variance1[k] * in.classVariance[k][l] - c2 * c2;
        normal = normal && std::isnormal(determinant) && determinant > 0;
      }
      const double exact = mc_exact_statistic(in, out, l);
      if (!normal) {
        ASSERT_EQ(out.bound[l], HUGE_VAL);
        continue;
      }
      ++finite;
      // The bound leaves a margin of eight over the worst error.
      ASSERT_LE(std::fabs(out.s[l] - exact), out.bound[l] / 8) << exact;
      const double x = out.s[l] * 0.5;
      ASSERT_NEAR(out.logPvalue[l], std::log(tail_polynomial(x)) - x,
                  1e-14 * (1.0 + std::fabs(out.logPvalue[l])));
    }
  }
  EXPECT_GT(finite, 200000);
}

}  // namespace
