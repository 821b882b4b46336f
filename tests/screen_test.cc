// The screen's three scores of a pair: the MC test's statistic and p-value,
// the LDA value and the interaction test, against independent formulas.
#include "screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "common.h"
#include "scores.h"

namespace {

// One pair's inputs: values, classes and the moments of both genes (rows 0
// and 1 of mommat), plus the outputs of the screen.
struct Pair {
  RealMatrix xmat;
  CountMatrix ymat;
  RealMatrix mommat{2, 2};
  RealMatrix summat{3, 4, 0.0};
  RealMatrix covmat{4, 3, 0.0};
  RealVector nvec{3, 0.0};
  double mcstat = 0.0;
  unsigned gene1 = 0;
  unsigned gene2 = 1;
  std::vector<int> classes;

  Pair(const std::vector<double>& x0, const std::vector<double>& x1,
       const std::vector<int>& cls)
      : xmat(x0.size(), 2), ymat(x0.size(), 2), classes(cls) {
    double sum[2] = {0, 0}, squares[2] = {0, 0};
    for (std::size_t i = 0; i < x0.size(); ++i) {
      xmat(i, 0) = x0[i];
      xmat(i, 1) = x1[i];
      ymat(i, 0) = cls[i] == 0;
      ymat(i, 1) = cls[i] == 1;
      sum[0] += x0[i];
      sum[1] += x1[i];
      squares[0] += x0[i] * x0[i];
      squares[1] += x1[i] * x1[i];
    }
    for (int g = 0; g < 2; ++g) {
      mommat(g, 0) = sum[g] / x0.size();
      mommat(g, 1) = squares[g] / x0.size();
    }
  }

  double Test() {
    n = static_cast<std::int32_t>(xmat.size1());
    return test_mean_cov(xmat, ymat, mommat, summat, covmat, nvec, mcstat,
                         gene1, gene2);
  }

  // The LDA value from the class summaries as the screen leaves them.
  double Lda() {
    unsigned count = static_cast<unsigned>(xmat.size1());
    get_covmat_plusone_new(xmat, ymat, mommat, covmat, summat, count, gene1,
                           gene2, nvec);
    n = static_cast<std::int32_t>(count);
    return llvalue_lda(xmat, ymat, summat, covmat, nvec);
  }
};

// Upper tail of chi-squared with 10 degrees of freedom in closed form.
double Tail10(double s) {
  const double x = s / 2;
  return std::exp(-x) *
         (1 + x + x * x / 2 + x * x * x / 6 + x * x * x * x / 24);
}

// ln of the determinant of the covariance (divisor m) of the listed rows,
// from means taken first.
double LogDetTwoPass(const Pair& p, const std::vector<std::size_t>& rows) {
  double m0 = 0, m1 = 0;
  for (std::size_t i : rows) {
    m0 += p.xmat(i, 0);
    m1 += p.xmat(i, 1);
  }
  m0 /= rows.size();
  m1 /= rows.size();
  double v0 = 0, v1 = 0, c = 0;
  for (std::size_t i : rows) {
    const double d0 = p.xmat(i, 0) - m0, d1 = p.xmat(i, 1) - m1;
    v0 += d0 * d0;
    v1 += d1 * d1;
    c += d0 * d1;
  }
  const double k = static_cast<double>(rows.size());
  return std::log((v0 / k) * (v1 / k) - (c / k) * (c / k));
}

// Three classes of `size` members each, class k centred at centre[k] with
// the same fixed noise pattern scaled by `spread`.
Pair Clustered(unsigned size, double spread, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  const double centre[3][2] = {{0.0, 0.0}, {3.0, 1.0}, {1.0, 4.0}};
  std::vector<double> x0, x1;
  std::vector<int> classes;
  for (unsigned i = 0; i < 3 * size; ++i) {
    const int k = static_cast<int>(i % 3);
    x0.push_back(centre[k][0] + spread * normal(gen));
    x1.push_back(centre[k][1] + spread * (0.5 * normal(gen)));
    classes.push_back(k);
  }
  return Pair(x0, x1, classes);
}

TEST(MeanCovTest, DegenerateDataGiveFixedResults) {
  std::vector<double> x0 = {0.1, 0.9, 0.4, 1.3, 2.2, 1.7, 0.3, 2.5, 1.1, 3.0};
  std::vector<double> x1 = {0.2, 0.1, 1.2, 1.4, 0.8, 2.1, 2.0, 3.3, 2.9, 1.0};

  // One member in class 2: its determinant is exactly 0.
  Pair single(x0, x1, {0, 0, 0, 0, 1, 1, 1, 1, 1, 2});
  EXPECT_EQ(single.Test(), 2.0);
  EXPECT_EQ(single.mcstat, std::numeric_limits<double>::infinity());

  // No member in class 1.
  Pair empty(x0, x1, {0, 0, 0, 0, 0, 2, 2, 2, 2, 2});
  EXPECT_EQ(empty.Test(), 1.0);
  EXPECT_TRUE(std::isnan(empty.mcstat));
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isnan(empty.covmat(1, c)));

  // Moments that make the whole sample singular while the classes are not:
  // a first gene of mean and mean square 0 and a cross sum of exactly 0.
  Pair flat({1, -1, 2, -2, 3, -3, 1, -1, 0.5}, {1, 1, 2, 2, 3, 3, 4, 4, 0},
            {0, 1, 2, 0, 1, 2, 0, 1, 2});
  flat.mommat(0, 0) = 0.0;
  flat.mommat(0, 1) = 0.0;
  EXPECT_EQ(flat.Test(), 1.0);
  EXPECT_EQ(flat.mcstat, -std::numeric_limits<double>::infinity());
}

TEST(MeanCovTest, BoundaryOfTheFixedResultTwo) {
  // The statistic grows as the classes tighten around distinct centres;
  // bisect on the spread until it brackets 9999.9 closely from both sides.
  double tight = 1e-3, loose = 1.0;
  auto statistic = [](double spread) {
    Pair p = Clustered(300, spread, 17);
    p.Test();
    return p.mcstat;
  };
  ASSERT_GT(statistic(tight), 10000.0);
  ASSERT_LT(statistic(loose), 9999.0);
  while (statistic(tight) - statistic(loose) > 0.05) {
    const double mid = std::sqrt(tight * loose);
    (statistic(mid) > 9999.9 ? tight : loose) = mid;
  }
  Pair below = Clustered(300, loose, 17);
  const double belowResult = below.Test();
  ASSERT_GT(below.mcstat, 9999.8);
  ASSERT_LE(below.mcstat, 9999.9);
  EXPECT_EQ(belowResult, 0.0);

  Pair above = Clustered(300, tight, 17);
  const double aboveResult = above.Test();
  ASSERT_GT(above.mcstat, 9999.9);
  ASSERT_LT(above.mcstat, 10000.0);
  EXPECT_EQ(aboveResult, 2.0);
}

TEST(MeanCovTest, StatisticAndPValueAgainstIndependentFormulas) {
  // The closed form itself, against known quantiles.
  EXPECT_NEAR(Tail10(10), 0.440493, 5e-7);
  EXPECT_NEAR(Tail10(18.307), 0.0500006, 5e-8);
  EXPECT_NEAR(Tail10(23.209), 0.0100009, 5e-8);
  EXPECT_NEAR(Tail10(100) / 5.4497e-17, 1.0, 1e-4);

  int tails = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    // Growing separation sweeps the statistic from a few units upwards.
    const double spread = 40.0 / (seed * seed);
    Pair p = Clustered(20 + seed, spread, seed);
    const double pvalue = p.Test();
    std::vector<std::size_t> all, members[3];
    for (std::size_t i = 0; i < p.xmat.size1(); ++i) {
      all.push_back(i);
      members[i % 3].push_back(i);
    }
    double expected = p.xmat.size1() * LogDetTwoPass(p, all);
    for (int k = 0; k < 3; ++k)
      expected -= members[k].size() * LogDetTwoPass(p, members[k]);
    EXPECT_NEAR(p.mcstat, expected, 1e-9 * std::max(1.0, expected))
        << "seed " << seed;
    ASSERT_GT(p.mcstat, 0.0);
    ASSERT_LT(p.mcstat, 1400.0);
    EXPECT_NEAR(pvalue / Tail10(p.mcstat), 1.0, 1e-10) << "seed " << seed;
    tails += pvalue > 1e-3 && pvalue < 0.9;
  }
  EXPECT_GE(tails, 1);  // the sweep reaches the body of the distribution

  // Far into the tail the probability lies below the smallest double.
  Pair far = Clustered(100, 0.02, 3);
  const double pvalue = far.Test();
  ASSERT_GT(far.mcstat, 1540.0);
  ASSERT_LT(far.mcstat, 9999.9);
  EXPECT_EQ(pvalue, 0.0);
}

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
