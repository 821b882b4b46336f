// The fixed-size scores against the general uBLAS versions, bit for bit, on
// seeded random data of every size and on degenerate data: any difference in
// the fits' pieces (passes, LU, steps) shows in these scores.
#include "fixed_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common.h"
#include "model.h"
#include "scores.h"
#include "screen.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();

std::uint64_t Bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// Compares bit patterns, so that infinities and -0.0 count; the scores are
// never NaN.
class Checker {
 public:
  bool Same(double general, double fixed, const char* what) {
    const bool same = Bits(general) == Bits(fixed) && !std::isnan(general);
    if (!same) {
      ADD_FAILURE() << what << ": general " << general << " (0x" << std::hex
                    << Bits(general) << "), fixed " << fixed << " (0x"
                    << Bits(fixed) << ")";
      ++failures_;
    }
    return same;
  }
  // False once a test has reported enough mismatches to stop.
  bool Going() const { return failures_ < 10; }

 private:
  int failures_ = 0;
};

// One pair's columns, and the general functions' matrices for them.
struct Pair {
  std::vector<double> x0;
  std::vector<double> x1;
  std::vector<std::uint8_t> cls;

  std::size_t Rows() const { return cls.size(); }
  PairColumns Columns() const {
    return {x0.data(), x1.data(), cls.data(), cls.size()};
  }
  RealMatrix Xmat() const {
    RealMatrix xmat(Rows(), 2);
    for (std::size_t i = 0; i < Rows(); ++i) {
      xmat(i, 0) = x0[i];
      xmat(i, 1) = x1[i];
    }
    return xmat;
  }
  CountMatrix Ymat() const {
    CountMatrix ymat(Rows(), 2);
    for (std::size_t i = 0; i < Rows(); ++i) {
      ymat(i, 0) = cls[i] == 0;
      ymat(i, 1) = cls[i] == 1;
    }
    return ymat;
  }
  std::string Describe() const {
    std::ostringstream out;
    out.precision(17);
    out << "pair of " << Rows() << " rows:";
    for (std::size_t i = 0; i < Rows() && i < 12; ++i) {
      out << " (" << x0[i] << ", " << x1[i] << ", " << int(cls[i]) << ")";
    }
    return out.str();
  }
};

// Random pairs of the kinds the screen meets, degenerate ones included:
// classes driven by the genes and their product (up to perfect separation),
// empty and one-member classes, constant and collinear genes, small
// integers (exact ties), huge and tiny magnitudes, and scattered -inf (log10
// of 0), NaN (log10 of a negative value), -0.0 and other special values.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  double Uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  double Normal() { return std::normal_distribution<double>()(rng_); }
  std::size_t Index(std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng_);
  }
  bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

  double Special() {
    volatile double minusOne = -1.0;
    const double values[] = {
        -kInf,
        std::log10(minusOne),
        -0.0,
        0.0,
        kInf,
        std::ldexp(Uniform(-1.0, 1.0), static_cast<int>(Index(2000)) - 1000),
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::quiet_NaN()};
    return values[Index(8)];
  }

  Pair Make(std::size_t rows) {
    Pair pair{std::vector<double>(rows), std::vector<double>(rows),
              std::vector<std::uint8_t>(rows)};
    const double mean[2] = {Uniform(-1.0, 4.0), Uniform(-1.0, 4.0)};
    const double sd[2] = {std::exp(Uniform(-4.0, 0.5)),
                          std::exp(Uniform(-4.0, 0.5))};
    const bool integers = Chance(0.08);
    for (std::size_t i = 0; i < rows; ++i) {
      pair.x0[i] = integers ? Index(5) - 2.0 : mean[0] + sd[0] * Normal();
      pair.x1[i] = integers ? Index(5) - 2.0 : mean[1] + sd[1] * Normal();
    }
    if (Chance(0.08)) {
      const double c = Chance(0.5) ? 0.0 : mean[0];
      for (double& v : (Chance(0.5) ? pair.x0 : pair.x1)) v = c;
    }
    if (Chance(0.08)) {
      const double slope = Chance(0.3) ? 1.0 : Uniform(-3.0, 3.0);
      const double offset = Chance(0.3) ? 0.0 : Uniform(-2.0, 2.0);
      for (std::size_t i = 0; i < rows; ++i) {
        pair.x1[i] = slope * pair.x0[i] + offset;
      }
    }
    if (Chance(0.06)) {
      const double scale = std::ldexp(1.0, static_cast<int>(Index(1200)) - 600);
      const bool both = Chance(0.5);
      for (std::size_t i = 0; i < rows; ++i) {
        pair.x0[i] *= scale;
        if (both) pair.x1[i] *= scale;
      }
    }
    AssignClasses(pair);
    const double rate = Chance(0.12) ? Uniform(0.0, 0.1) : 0.0;
    for (std::size_t i = 0; i < rows; ++i) {
      if (Chance(rate)) pair.x0[i] = Special();
      if (Chance(rate)) pair.x1[i] = Special();
    }
    if (rows > 0 && Chance(0.05)) pair.x0[Index(rows)] = Special();
    return pair;
  }

 private:
  void AssignClasses(Pair& pair) {
    const std::size_t kind = Index(10);
    double beta[2][4];
    const double scale = std::exp(Uniform(-3.0, 2.5));
    for (auto& block : beta) {
      for (double& v : block) v = scale * Normal();
    }
    const double cut0 = Uniform(-0.5, 0.5);
    const double cut1 = cut0 + Uniform(0.0, 1.0);
    const bool onProduct = Chance(0.5);
    double weight[3];
    for (double& w : weight) w = Chance(0.15) ? 0.0 : Uniform(0.05, 1.0);
    if (weight[0] + weight[1] + weight[2] == 0.0) weight[2] = 1.0;
    for (std::size_t i = 0; i < pair.Rows(); ++i) {
      double w0 = weight[0];
      double w1 = weight[1];
      double w2 = weight[2];
      if (kind < 3) {
        // A multinomial logistic model, strong effects allowed.
        const double x[4] = {1.0, pair.x0[i], pair.x1[i],
                             pair.x0[i] * pair.x1[i]};
        double eta[2] = {0.0, 0.0};
        for (int k = 0; k < 2; ++k) {
          for (int j = 0; j < 4; ++j) eta[k] += beta[k][j] * x[j];
        }
        const double top = std::max({eta[0], eta[1], 0.0});
        w0 = std::exp(eta[0] - top);
        w1 = std::exp(eta[1] - top);
        w2 = std::exp(-top);
      } else if (kind < 5) {
        // Perfect separation on one gene or on the product.
        const double v = onProduct ? (pair.x0[i] - 1.5) * (pair.x1[i] - 1.5)
                                   : pair.x0[i] - 1.5;
        w0 = v < cut0;
        w1 = !(v < cut0) && v < cut1;
        w2 = !(v < cut1);
      }
      const double u = Uniform(0.0, w0 + w1 + w2);
      pair.cls[i] = u < w0 ? 0 : (u < w0 + w1 ? 1 : 2);
    }
    if (kind >= 5 && pair.Rows() > 0 && Chance(0.2)) {
      // One member in a class.
      const std::uint8_t lone = static_cast<std::uint8_t>(Index(3));
      for (std::uint8_t& c : pair.cls) {
        if (c == lone) c = static_cast<std::uint8_t>((lone + 1) % 3);
      }
      pair.cls[Index(pair.Rows())] = lone;
    }
  }

  std::mt19937_64 rng_;
};

// The interaction test's four results against interaction_test on pairs of
// `minRows` to `maxRows` rows, one workspace serving every size in turn.
void CheckInteraction(std::uint64_t seed, int cases, std::size_t minRows,
                      std::size_t maxRows) {
  Generator gen(seed);
  Checker check;
  FixedModelWorkspace work;
  for (int t = 0; t < cases && check.Going(); ++t) {
    const Pair pair = gen.Make(minRows + gen.Index(maxRows - minRows + 1));
    RealMatrix xmat = pair.Xmat();
    CountMatrix ymat = pair.Ymat();
    double llReduced = 0.0;
    double llFull = 0.0;
    double statistic = 0.0;
    const double pValue =
        interaction_test(xmat, ymat, llReduced, llFull, statistic);
    const InteractionScores scores =
        fixed_interaction_scores(pair.Columns(), work);
    if (!(check.Same(llReduced, scores.llReduced, "llReduced") &&
          check.Same(llFull, scores.llFull, "llFull") &&
          check.Same(statistic, scores.statistic, "statistic") &&
          check.Same(pValue, scores.pValue, "p-value"))) {
      ADD_FAILURE() << pair.Describe();
    }
  }
}

TEST(FixedInteractionTest, MatchesGeneralOnPairsOfEverySize) {
  CheckInteraction(7, 12000, 0, 300);
  CheckInteraction(8, 60000, 4, 40);
  CheckInteraction(9, 300000, 0, 3);
}

// The LDA value against llvalue_lda, from the summaries the mean-covariance
// screen computes for the pair, some made degenerate on purpose (zero
// variances, special values); pairs of 3 rows or fewer give a divisor n - 3
// of zero or below.
TEST(FixedLlvalueLda, MatchesGeneralOnScreenSummaries) {
  Generator gen(10);
  Checker check;
  for (int t = 0; t < 200000 && check.Going(); ++t) {
    const Pair pair = gen.Make(gen.Index(t % 10 == 0 ? 300 : 30));
    RealMatrix xmat = pair.Xmat();
    CountMatrix ymat = pair.Ymat();
    n = static_cast<std::int32_t>(pair.Rows());
    RealMatrix mommat(2, 2, 0.0);
    for (std::size_t i = 0; i < pair.Rows(); ++i) {
      const double x[2] = {pair.x0[i], pair.x1[i]};
      for (std::size_t g = 0; g < 2; ++g) {
        mommat(g, 0) = mommat(g, 0) + x[g] / n;
        mommat(g, 1) = mommat(g, 1) + (x[g] * x[g]) / n;
      }
    }
    RealMatrix summat(3, 4, 0.0);
    RealMatrix covmat(4, 3, 0.0);
    RealVector nvec(3, 0.0);
    std::int32_t count = n;
    std::int32_t gene1 = 0;
    std::int32_t gene2 = 1;
    get_covmat_plusone_new(xmat, ymat, mommat, covmat, summat, count, gene1,
                           gene2, nvec);
    if (gen.Chance(0.1)) {
      for (std::size_t k = 0; k < 3; ++k) {
        covmat(k, 0) = 0.0;
        covmat(k, 2) = gen.Chance(0.5) ? 0.0 : -0.0;
      }
    }
    if (gen.Chance(0.05)) summat(gen.Index(3), gen.Index(2)) = gen.Special();
    if (gen.Chance(0.05)) covmat(gen.Index(3), gen.Index(3)) = gen.Special();
    // Row-major uBLAS storage is the fixed arrays' layout.
    double fixedSummat[3][4];
    double fixedCovmat[4][3];
    double fixedNvec[3];
    std::copy(summat.data().begin(), summat.data().end(), &fixedSummat[0][0]);
    std::copy(covmat.data().begin(), covmat.data().end(), &fixedCovmat[0][0]);
    std::copy(nvec.data().begin(), nvec.data().end(), fixedNvec);
    const double general = llvalue_lda(xmat, ymat, summat, covmat, nvec);
    if (!check.Same(general,
                    fixed_llvalue_lda(pair.Columns(), n, fixedSummat,
                                      fixedCovmat, fixedNvec),
                    "LDA value")) {
      ADD_FAILURE() << pair.Describe();
    }
  }
}

}  // namespace
