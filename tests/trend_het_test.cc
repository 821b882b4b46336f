// The two tests' vector loop over many pairs against the one-pair call.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "class_correlation.h"

namespace zirk_corr {
namespace {

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// zirk-corr's rows take apply() and the report's diagnosis operator(): a
// pair must get the same bits either way, zeros and extreme z included.
TEST(TrendHetTest, VectorLoopGivesEachPairTheOnePairBits) {
  std::mt19937_64 random(11);
  std::normal_distribution<double> normal(0.0, 0.6);
  for (const std::array<int, 3>& n :
       {std::array<int, 3>{4, 4, 4}, std::array<int, 3>{42, 164, 152},
        std::array<int, 3>{300, 50, 8}}) {
    const TrendHet test(n, {true, true, true});
    std::array<std::vector<double>, 3> z;
    for (auto& zk : z) {
      zk = {0.0, -0.0, 8.0, -8.0};
      while (zk.size() < 100) zk.push_back(normal(random));
    }
    std::vector<double> trend(100), het(100);
    test.apply(z[0].data(), z[1].data(), z[2].data(), 100, trend.data(),
               het.data());
    for (std::size_t i = 0; i < 100; ++i) {
      double oneHet;
      const double oneTrend = test({z[0][i], z[1][i], z[2][i]}, &oneHet);
      EXPECT_TRUE(same_bits(trend[i], oneTrend)) << "pair " << i;
      EXPECT_TRUE(same_bits(het[i], oneHet)) << "pair " << i;
    }
  }
}

}  // namespace
}  // namespace zirk_corr
