// The two tests' vector loop over many pairs against the one-pair call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "class_correlation.h"

namespace zirk_corr {
namespace {

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// zirk-corr's rows take apply() and the report's diagnosis operator() and
// the trend's tail: a pair must get the same bits either way, zeros and
// extreme z (trends whose tail takes the series) included,
// with three usable classes or any two (het then has one degree of freedom
// and its own tail), the third class's array not even there.
TEST(TrendHetTest, VectorLoopGivesEachPairTheOnePairBits) {
  std::mt19937_64 random(11);
  std::normal_distribution<double> normal(0.0, 0.6);
  for (const std::array<bool, 3>& usable :
       {std::array<bool, 3>{true, true, true},
        std::array<bool, 3>{true, true, false},
        std::array<bool, 3>{true, false, true},
        std::array<bool, 3>{false, true, true}}) {
    for (const std::array<int, 3>& n :
         {std::array<int, 3>{4, 4, 4}, std::array<int, 3>{42, 164, 152},
          std::array<int, 3>{300, 50, 8}}) {
      const TrendHet test(n, usable);
      std::array<std::vector<double>, 3> z;
      for (auto& zk : z) {
        zk = {0.0, -0.0, 8.0, -8.0};
        while (zk.size() < 100) zk.push_back(normal(random));
      }
      // Classes far apart: trends (and two classes' het) beyond erfc's range.
      for (int k = 0; k < 3; ++k) {
        z[k][4] = z[k][8] = (k - 1) * 8.0;
        z[k][5] = (1 - k) * 8.0;
      }
      // Caps: none, below every inverse factor, between, and 0.
      std::vector<float> cap(100);
      std::uniform_real_distribution<float> uniform(0.5f, 1.0f);
      for (std::size_t i = 0; i < 100; ++i) {
        cap[i] = i % 4 == 0 ? kNoCap : i % 4 == 1 ? 0.0f : uniform(random);
      }
      for (const float* caps : {static_cast<const float*>(nullptr),
                                static_cast<const float*>(cap.data())}) {
        std::vector<double> trend(100), het(100);
        const auto array = [&](int k) {
          return usable[k] ? z[k].data() : nullptr;
        };
        test.apply(array(0), array(1), array(2), caps, 100, trend.data(),
                   het.data());
        for (std::size_t i = 0; i < 100; ++i) {
          double oneHet;
          const double oneTrend =
              caps == nullptr
                  ? test({z[0][i], z[1][i], z[2][i]}, &oneHet)
                  : test({z[0][i], z[1][i], z[2][i]}, &oneHet, caps[i]);
          EXPECT_TRUE(same_bits(trend[i], log10_erfc(oneTrend)))
              << "pair " << i;
          EXPECT_TRUE(same_bits(het[i], oneHet)) << "pair " << i;
        }
      }
    }
  }
}

// A cap below the pair's inverse factor scales het's statistic and the
// trend's square by it; a cap of infinity leaves both as they were, bit for
// bit; a cap of 0 leaves the pair without tests.
TEST(TrendHetTest, CapScalesTheStatistics) {
  const TrendHet test({100, 150, 60}, {true, true, true});
  const std::array<double, 3> z{0.1, 0.3, 0.5};
  double het, hetNoCap, hetHalf, hetZero;
  const double trend = test(z, &het);
  const double trendNoCap = test(z, &hetNoCap, kNoCap);
  EXPECT_TRUE(same_bits(trend, trendNoCap));
  EXPECT_TRUE(same_bits(het, hetNoCap));
  const double trendHalf = test(z, &hetHalf, 0.5);
  // The inverse factor here is 1 / (1 + tanh(zbar)^2 / 2) > 0.9.
  EXPECT_NEAR(
      hetHalf / het,
      0.5 / (1.0 / (1.0 + std::pow(std::tanh((97 * 0.1 + 147 * 0.3 + 57 * 0.5) /
                                             301.0),
                                   2) /
                              2.0)),
      1e-12);
  EXPECT_NEAR(trendHalf * trendHalf / (trend * trend), hetHalf / het, 1e-12);
  EXPECT_TRUE(std::isnan(test(z, &hetZero, 0.0)));
  EXPECT_TRUE(std::isnan(hetZero));
}

}  // namespace
}  // namespace zirk_corr
