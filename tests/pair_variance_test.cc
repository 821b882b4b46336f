// The pairs' variance caps: the packed table against the one-pair function,
// the thread count, and the genes that get no cap or a cap of 0. The values
// themselves are checked against numpy in corr_oracle.py.
#include "pair_variance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace zirk_corr {
namespace {

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PairVarianceTest, TableHoldsEachPairsCapWhateverTheThreads) {
  constexpr std::size_t kGenes = 9, kIndividuals = 57;
  std::mt19937_64 random(5);
  std::normal_distribution<double> normal;
  std::vector<double> values(kGenes * kIndividuals);
  for (double& v : values) v = normal(random);
  double* gene = values.data();
  // Gene 1 nearly gene 0 (a cap well below 1), gene 2 exactly gene 0 (cap
  // 0), gene 3 heavily tied, gene 4 with a NaN and gene 5 constant (no cap).
  for (std::size_t i = 0; i < kIndividuals; ++i) {
    gene[kIndividuals + i] = gene[i] + 0.05 * normal(random);
    gene[2 * kIndividuals + i] = 2.0 * gene[i] + 1.0;
    gene[3 * kIndividuals + i] = std::round(gene[3 * kIndividuals + i]);
    gene[5 * kIndividuals + i] = 1.0;
  }
  gene[4 * kIndividuals + 7] = std::numeric_limits<double>::quiet_NaN();

  std::vector<GeneRank> ranks;
  for (std::size_t g = 0; g < kGenes; ++g) {
    ranks.emplace_back(&values[g * kIndividuals], kIndividuals);
  }
  EXPECT_FALSE(ranks[4].complete());
  EXPECT_FALSE(ranks[5].complete());
  EXPECT_TRUE(ranks[3].complete());
  std::vector<double> scratch;
  EXPECT_LT(variance_cap(ranks[0], ranks[1], scratch), 0.9f);
  EXPECT_EQ(variance_cap(ranks[0], ranks[2], scratch), 0.0f);
  EXPECT_EQ(variance_cap(ranks[0], ranks[4], scratch), kNoCap);
  EXPECT_EQ(variance_cap(ranks[5], ranks[1], scratch), kNoCap);
  // Symmetric in the two genes up to rounding.
  EXPECT_NEAR(variance_cap(ranks[1], ranks[0], scratch),
              variance_cap(ranks[0], ranks[1], scratch), 1e-6);

  const PairVariance one(values, kGenes, kIndividuals, 1);
  const PairVariance two(values, kGenes, kIndividuals, 2);
  for (std::size_t g1 = 0; g1 < kGenes; ++g1) {
    std::vector<std::uint32_t> partners;
    for (std::size_t g2 = kGenes; g2-- > g1 + 1;) {
      partners.push_back(static_cast<std::uint32_t>(g2));  // any order
    }
    std::vector<float> a(partners.size()), b(partners.size());
    one.gather(g1, partners, a.data());
    two.gather(g1, partners, b.data());
    for (std::size_t i = 0; i < partners.size(); ++i) {
      const float want = variance_cap(ranks[g1], ranks[partners[i]], scratch);
      EXPECT_TRUE(same_bits(a[i], want)) << g1 << ", " << partners[i];
      EXPECT_TRUE(same_bits(b[i], want)) << g1 << ", " << partners[i];
    }
  }
}

}  // namespace
}  // namespace zirk_corr
