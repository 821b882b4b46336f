// The four-lane MC kernel against the scalar arithmetic of the
// mean-covariance test. Together with McJudge's test of settle() for any
// error within the bound, this shows that the engine's outcomes are the exact
// judge's.
#include "mc_tile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "mc_tail.h"

namespace {

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
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
