#include "scores.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "common.h"
#include "screen.h"

namespace {

// One pair with its class summaries, as the screen leaves them.
struct Pair {
  RealMatrix xmat;
  CountMatrix ymat;
  RealMatrix summat{3, 4, 0.0};
  RealMatrix covmat{4, 3, 0.0};
  RealVector nvec{3, 0.0};
  std::vector<int> classes;

  Pair(const std::vector<double>& x0, const std::vector<double>& x1,
       const std::vector<int>& cls)
      : xmat(x0.size(), 2), ymat(x0.size(), 2), classes(cls) {
    RealMatrix mommat(2, 2, 0.0);
    for (std::size_t i = 0; i < x0.size(); ++i) {
      xmat(i, 0) = x0[i];
      xmat(i, 1) = x1[i];
      ymat(i, 0) = cls[i] == 0;
      ymat(i, 1) = cls[i] == 1;
      mommat(0, 0) += x0[i] / x0.size();
      mommat(0, 1) += x0[i] * x0[i] / x0.size();
      mommat(1, 0) += x1[i] / x0.size();
      mommat(1, 1) += x1[i] * x1[i] / x0.size();
    }
    unsigned count = static_cast<unsigned>(x0.size());
    unsigned gene1 = 0, gene2 = 1;
    get_covmat_plusone_new(xmat, ymat, mommat, covmat, summat, count, gene1,
                           gene2, nvec);
  }

  double Lda() {
    n = static_cast<std::int32_t>(xmat.size1());
    return llvalue_lda(xmat, ymat, summat, covmat, nvec);
  }
};

// Normal values around class-specific means; the first gene's mean shifts
// with the class, the second's with the class times the first (an
// interaction) scaled by `interaction`.
Pair Random(unsigned count, unsigned seed, double interaction) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> x0, x1;
  std::vector<int> cls;
  for (unsigned i = 0; i < count; ++i) {
    const int k = static_cast<int>(gen() % 3);
    const double a = 0.4 * k + normal(gen);
    const double b = 0.3 * normal(gen) + interaction * (k - 1) * a;
    x0.push_back(a);
    x1.push_back(b + 0.2 * a);
    cls.push_back(k);
  }
  return Pair(x0, x1, cls);
}

TEST(InteractionTest, NoEvidenceGivesOne) {
  double llReduced = 5.0, llFull = 5.0, statistic = 5.0;
  RealMatrix none(0, 2);
  CountMatrix noClasses(0, 2);
  EXPECT_EQ(interaction_test(none, noClasses, llReduced, llFull, statistic),
            1.0);
  EXPECT_EQ(llReduced, 0.0);
  EXPECT_EQ(llFull, 0.0);
  EXPECT_EQ(statistic, 0.0);

  // Constant genes: neither model can move off zero, the two fits are the
  // same and the statistic is exactly 0.
  Pair flat(std::vector<double>(12, 2.0), std::vector<double>(12, 4.0),
            {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 1});
  EXPECT_EQ(
      interaction_test(flat.xmat, flat.ymat, llReduced, llFull, statistic),
      1.0);
  EXPECT_EQ(statistic, 0.0);
  EXPECT_NEAR(llReduced, 12 * std::log(1.0 / 3), 1e-12);
  EXPECT_EQ(llFull, llReduced);
}

TEST(InteractionTest, PValueIsTheTwoDegreeTail) {
  int small = 0;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Pair p = Random(150, seed, seed % 2 == 0 ? 1.0 : 0.0);
    double llReduced = 0.0, llFull = 0.0, statistic = 0.0;
    const double pvalue =
        interaction_test(p.xmat, p.ymat, llReduced, llFull, statistic);
    EXPECT_EQ(statistic, 2 * (llFull - llReduced));
    // Both fits improve on the all-zero start.
    EXPECT_GT(llReduced, 150 * std::log(1.0 / 3));
    EXPECT_LT(llFull, 0.0);
    if (statistic > 0) {
      EXPECT_NEAR(pvalue / std::exp(-statistic / 2), 1.0, 1e-12);
    } else {
      EXPECT_EQ(pvalue, 1.0);
    }
    small += pvalue < 1e-3;
  }
  EXPECT_GE(small, 1);  // the interacting data sets are detected
}

TEST(LdaValue, FixedAndDegenerateCases) {
  // A first gene at 0 everywhere: the pooled covariance is singular.
  Pair flat(std::vector<double>(9, 0.0), {1, 2, 4, 0, 3, 1, 5, 2, 2},
            {0, 0, 0, 1, 1, 1, 2, 2, 2});
  EXPECT_EQ(flat.Lda(), -9999.0);

  // Three individuals, one per class: no degrees of freedom, a NaN
  // determinant, and every predictor capped so classes 0 and 1 share.
  const double s0 = std::log(1e-15);
  Pair three({1, 2, 3}, {3, 1, 2}, {0, 1, 2});
  EXPECT_NEAR(three.Lda(), 2 * std::log(0.5) + s0, 1e-12);

  // An empty class 1 makes every coefficient NaN in the same way.
  Pair empty({1, 2, 3, 4, 0.5, 1.5, 2.5, 5, 6}, {2, 1, 4, 3, 0, 2, 3, 1, 5},
             {0, 0, 0, 0, 2, 2, 2, 2, 2});
  EXPECT_NEAR(empty.Lda(), 4 * std::log(0.5) + 5 * s0, 1e-10);
}

TEST(LdaValue, MatchesPosteriorsOfNormalClasses) {
  for (unsigned seed = 10; seed <= 15; ++seed) {
    Pair p = Random(40 + 10 * seed, seed, 0.7);
    const std::size_t count = p.xmat.size1();
    // Class means and the pooled covariance, by two passes.
    double mean[3][2] = {}, size[3] = {};
    for (std::size_t i = 0; i < count; ++i) {
      mean[p.classes[i]][0] += p.xmat(i, 0);
      mean[p.classes[i]][1] += p.xmat(i, 1);
      size[p.classes[i]] += 1;
    }
    for (int k = 0; k < 3; ++k) {
      mean[k][0] /= size[k];
      mean[k][1] /= size[k];
    }
    double s00 = 0, s01 = 0, s11 = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const double d0 = p.xmat(i, 0) - mean[p.classes[i]][0];
      const double d1 = p.xmat(i, 1) - mean[p.classes[i]][1];
      s00 += d0 * d0;
      s01 += d0 * d1;
      s11 += d1 * d1;
    }
    const double dof = static_cast<double>(count) - 3;
    s00 /= dof;
    s01 /= dof;
    s11 /= dof;
    const double det = s00 * s11 - s01 * s01;
    double expected = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
      double density[3];
      for (int k = 0; k < 3; ++k) {
        const double d0 = p.xmat(i, 0) - mean[k][0];
        const double d1 = p.xmat(i, 1) - mean[k][1];
        const double q =
            (s11 * d0 * d0 - 2 * s01 * d0 * d1 + s00 * d1 * d1) / det;
        density[k] =
            std::exp(-0.5 * q) / (2 * std::numbers::pi * std::sqrt(det));
      }
      expected += std::log(density[p.classes[i]] /
                           (density[0] + density[1] + density[2]));
    }
    EXPECT_NEAR(p.Lda(), expected, 1e-9 * std::fabs(expected))
        << "seed " << seed;
  }
}

}  // namespace
