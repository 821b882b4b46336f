#include "fixed_model.h"

#include <gtest/gtest.h>

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
#include "model_math.h"
#include "scores.h"
#include "screen.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();

std::uint64_t Bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

std::string Hex(double v) {
  std::ostringstream out;
  out << std::hex << "0x" << Bits(v);
  return out.str();
}

// Equality of bit patterns, so that infinities and -0.0 count too. Any NaN
// matches any NaN: where two NaNs of different sign or payload meet, which
// one an operation passes on depends on the operand order the compiler picks
// for a commutative operation, and the compiler also flips NaN signs when it
// moves a negation; C++ leaves both open. No comparison or other non-NaN
// result depends on which NaN it is, and the scores themselves are never NaN.
::testing::AssertionResult SameBits(const char* what, double expected,
                                    double actual) {
  if (Bits(expected) == Bits(actual) ||
      (std::isnan(expected) && std::isnan(actual))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << what << ": general " << expected << " (" << Hex(expected)
         << "), fixed " << actual << " (" << Hex(actual) << ")";
}

// The scores are never NaN, so these must agree to the last bit.
::testing::AssertionResult SameScore(const char* what, double expected,
                                     double actual) {
  if (Bits(expected) == Bits(actual) && !std::isnan(expected)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << what << ": general " << expected << " (" << Hex(expected)
         << "), fixed " << actual << " (" << Hex(actual) << ")";
}

// Stops a test's case loop after a handful of reported mismatches.
class FailureBudget {
 public:
  bool Check(const ::testing::AssertionResult& result,
             const std::string& context) {
    if (!result) {
      ADD_FAILURE() << context << ": " << result.message();
      ++failures_;
    }
    return failures_ < 10;
  }

 private:
  int failures_ = 0;
};

// One pair's columns as the engine holds them, convertible to the general
// functions' matrices.
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
      ymat(i, 0) = cls[i] == 0 ? 1 : 0;
      ymat(i, 1) = cls[i] == 1 ? 1 : 0;
    }
    return ymat;
  }
  std::string Describe(const std::string& kind) const {
    std::ostringstream out;
    out.precision(17);
    out << kind << " pair of " << Rows() << " rows:";
    for (std::size_t i = 0; i < Rows() && i < 12; ++i) {
      out << " (" << x0[i] << ", " << x1[i] << ", " << int(cls[i]) << ")";
    }
    return out.str();
  }
};

// Random pairs of the kinds the screen meets, degenerate ones included:
// plain noise, classes driven by the genes and their product, perfectly
// separated classes, empty and one-member classes, constant and collinear
// genes, -inf (log10 of 0), NaN (log10 of a negative value), -0.0, huge and
// tiny magnitudes, and small integers (exact ties).
class PairGenerator {
 public:
  explicit PairGenerator(std::uint64_t seed) : rng_(seed) {}

  double Uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  double Normal() { return normal_(rng_); }
  std::size_t Index(std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(rng_);
  }
  bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

  // A value outside the ordinary range: what log10 makes of 0 and of a
  // negative value, signed zeros, infinities, extreme magnitudes.
  double Special() {
    volatile double minusOne = -1.0;
    switch (Index(8)) {
      case 0:
        return -kInf;
      case 1:
        return std::log10(minusOne);
      case 2:
        return -0.0;
      case 3:
        return 0.0;
      case 4:
        return kInf;
      case 5:
        return std::ldexp(Uniform(-1.0, 1.0),
                          static_cast<int>(Index(2000)) - 1000);
      case 6:
        return std::numeric_limits<double>::denorm_min();
      default:
        return std::numeric_limits<double>::quiet_NaN();
    }
  }

  Pair Make(std::size_t rows) {
    Pair pair;
    pair.x0.resize(rows);
    pair.x1.resize(rows);
    pair.cls.resize(rows);
    const double mean0 = Uniform(-1.0, 4.0);
    const double mean1 = Uniform(-1.0, 4.0);
    const double sd0 = std::exp(Uniform(-4.0, 0.5));
    const double sd1 = std::exp(Uniform(-4.0, 0.5));
    const bool integers = Chance(0.08);
    for (std::size_t i = 0; i < rows; ++i) {
      if (integers) {
        pair.x0[i] = static_cast<double>(Index(5)) - 2.0;
        pair.x1[i] = static_cast<double>(Index(5)) - 2.0;
      } else {
        pair.x0[i] = mean0 + sd0 * Normal();
        pair.x1[i] = mean1 + sd1 * Normal();
      }
    }
    if (Chance(0.08)) {
      const double c = Chance(0.5) ? 0.0 : mean0;
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
      for (std::size_t i = 0; i < rows; ++i) {
        pair.x0[i] *= scale;
        if (Chance(0.5)) pair.x1[i] *= scale;
      }
    }
    AssignClasses(pair);
    if (Chance(0.12)) {
      const double rate = Uniform(0.0, 0.1);
      for (std::size_t i = 0; i < rows; ++i) {
        if (Chance(rate)) pair.x0[i] = Special();
        if (Chance(rate)) pair.x1[i] = Special();
      }
    }
    if (rows > 0 && Chance(0.05)) {
      pair.x0[Index(rows)] = Special();
    }
    return pair;
  }

 private:
  void AssignClasses(Pair& pair) {
    const std::size_t rows = pair.Rows();
    const std::size_t kind = Index(10);
    if (kind < 3) {
      // Classes from a multinomial logistic model, strong effects allowed.
      double beta[2][4];
      const double scale = std::exp(Uniform(-3.0, 2.5));
      for (auto& block : beta) {
        for (double& v : block) v = scale * Normal();
      }
      for (std::size_t i = 0; i < rows; ++i) {
        const double x[4] = {1.0, pair.x0[i], pair.x1[i],
                             pair.x0[i] * pair.x1[i]};
        double eta[2] = {0.0, 0.0};
        for (int k = 0; k < 2; ++k) {
          for (int j = 0; j < 4; ++j) eta[k] += beta[k][j] * x[j];
        }
        const double top = std::max({eta[0], eta[1], 0.0});
        const double w0 = std::exp(eta[0] - top);
        const double w1 = std::exp(eta[1] - top);
        const double u = Uniform(0.0, w0 + w1 + std::exp(-top));
        pair.cls[i] = u < w0 ? 0 : (u < w0 + w1 ? 1 : 2);
      }
    } else if (kind < 5) {
      // Perfect separation by thresholds on one gene or on the product.
      const bool onProduct = Chance(0.5);
      const double cut0 = Uniform(-0.5, 0.5);
      const double cut1 = cut0 + Uniform(0.0, 1.0);
      for (std::size_t i = 0; i < rows; ++i) {
        const double centred = pair.x0[i] - (onProduct ? 0.0 : 1.5);
        const double v = onProduct ? centred * (pair.x1[i] - 1.5) : centred;
        pair.cls[i] = v < cut0 ? 0 : (v < cut1 ? 1 : 2);
      }
    } else {
      // Class frequencies at random, some classes empty or with one member.
      double weight[3];
      for (double& w : weight) w = Chance(0.15) ? 0.0 : Uniform(0.05, 1.0);
      if (weight[0] + weight[1] + weight[2] == 0.0) weight[2] = 1.0;
      for (std::size_t i = 0; i < rows; ++i) {
        const double u = Uniform(0.0, weight[0] + weight[1] + weight[2]);
        pair.cls[i] = u < weight[0] ? 0 : (u < weight[0] + weight[1] ? 1 : 2);
      }
      if (rows > 0 && Chance(0.2)) {
        const std::uint8_t lone = static_cast<std::uint8_t>(Index(3));
        for (std::uint8_t& c : pair.cls) {
          if (c == lone) c = static_cast<std::uint8_t>((lone + 1) % 3);
        }
        pair.cls[Index(rows)] = lone;
      }
    }
  }

  std::mt19937_64 rng_;
  std::normal_distribution<double> normal_;
};

// Matrices for the LU checks: random, integer (ties in pivot magnitude and
// exact singularity), Hessian-like, with zero or repeated rows and columns,
// -0.0, NaN and infinite entries.
template <std::size_t N>
fixed_model::Square<N> MakeMatrix(PairGenerator& gen) {
  fixed_model::Square<N> a;
  const std::size_t kind = gen.Index(4);
  for (std::size_t r = 0; r < N; ++r) {
    for (std::size_t c = 0; c < N; ++c) {
      if (kind == 0) {
        a[r][c] = gen.Normal();
      } else if (kind == 1) {
        a[r][c] = static_cast<double>(gen.Index(5)) - 2.0;
      } else if (kind == 2) {
        a[r][c] = gen.Chance(0.5) ? 1.0 : -1.0;
      } else {
        a[r][c] = gen.Chance(0.7) ? 0.0 : gen.Normal();
      }
    }
  }
  if (gen.Chance(0.3)) {
    // Symmetric, as the Hessians are.
    for (std::size_t r = 0; r < N; ++r) {
      for (std::size_t c = 0; c < r; ++c) a[r][c] = a[c][r];
    }
  }
  if (gen.Chance(0.15)) {
    const std::size_t c = gen.Index(N);
    for (std::size_t r = 0; r < N; ++r) a[r][c] = gen.Chance(0.5) ? 0.0 : -0.0;
  }
  if (gen.Chance(0.1)) {
    a[gen.Index(N)] = a[gen.Index(N)];
  }
  if (gen.Chance(0.1)) {
    const std::size_t from = gen.Index(N);
    const std::size_t to = gen.Index(N);
    for (std::size_t r = 0; r < N; ++r) a[r][to] = -a[r][from];
  }
  if (gen.Chance(0.25)) {
    const std::size_t count = 1 + gen.Index(3);
    for (std::size_t k = 0; k < count; ++k) {
      a[gen.Index(N)][gen.Index(N)] = gen.Special();
    }
  }
  return a;
}

template <std::size_t N>
RealMatrix ToMatrix(const fixed_model::Square<N>& a) {
  RealMatrix m(N, N);
  for (std::size_t r = 0; r < N; ++r) {
    for (std::size_t c = 0; c < N; ++c) m(r, c) = a[r][c];
  }
  return m;
}

// The factorisation, determinant and solve against math::determinant and
// linear_solve: same determinant, same singularity verdict, same factors,
// same solution.
template <std::size_t N>
void CheckLu(std::uint64_t seed, int cases) {
  PairGenerator gen(seed);
  FailureBudget budget;
  for (int t = 0; t < cases; ++t) {
    const fixed_model::Square<N> a = MakeMatrix<N>(gen);
    fixed_model::Vector<N> b;
    for (double& v : b) v = gen.Chance(0.05) ? gen.Special() : gen.Normal();
    RealMatrix general = ToMatrix<N>(a);
    RealVector x(N);
    for (std::size_t j = 0; j < N; ++j) x(j) = b[j];
    const double generalDet = math::determinant(general);
    const bool solved = linear_solve(general, x, x);

    fixed_model::Square<N> lu = a;
    fixed_model::Permutation<N> pm;
    std::iota(pm.begin(), pm.end(), std::size_t{0});
    const std::size_t singular = fixed_model::lu_factorize<N>(lu, pm);
    const std::string context = "matrix case " + std::to_string(t);
    bool go = budget.Check(SameBits("determinant", generalDet,
                                    fixed_model::lu_determinant<N>(lu, pm)),
                           context);
    go = go && budget.Check(solved == (singular == 0)
                                ? ::testing::AssertionSuccess()
                                : ::testing::AssertionFailure()
                                      << "singularity verdict differs",
                            context);
    for (std::size_t r = 0; r < N && go; ++r) {
      for (std::size_t c = 0; c < N && go; ++c) {
        go = budget.Check(SameBits("factor", general(r, c), lu[r][c]), context);
      }
    }
    if (solved && singular == 0) {
      fixed_model::lu_solve<N>(lu, pm, b);
      for (std::size_t j = 0; j < N && go; ++j) {
        go = budget.Check(SameBits("solution", x(j), b[j]), context);
      }
    }
    if (!go) return;
  }
}

TEST(FixedLu, MatchesGeneralDeterminantFactorsAndSolve) {
  CheckLu<6>(1, 400000);
  CheckLu<8>(2, 400000);
}

TEST(FixedLu, TiesZeroPivotsAndNaNColumns) {
  // Two entries of equal magnitude: the first one is the pivot, with no
  // exchange when it is on the diagonal.
  fixed_model::Square<6> a{};
  for (std::size_t r = 0; r < 6; ++r) a[r][r] = 1.0;
  a[0][0] = -2.0;
  a[3][0] = 2.0;
  fixed_model::Permutation<6> pm = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(fixed_model::lu_factorize<6>(a, pm), 0u);
  EXPECT_EQ(pm[0], 0u);
  // A NaN is never the pivot: the 1.0 below it is, and then the second
  // column holds only NaN, so its diagonal NaN is kept as a pivot.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  fixed_model::Square<6> b{};
  for (std::size_t r = 0; r < 6; ++r) b[r][r] = 1.0;
  b[0][0] = nan;
  b[0][1] = 1.0;
  b[1][0] = 1.0;
  b[1][1] = 0.0;
  fixed_model::Permutation<6> pb = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(fixed_model::lu_factorize<6>(b, pb), 0u);
  EXPECT_EQ(pb[0], 1u);
  EXPECT_TRUE(std::isnan(b[1][1]));
  // A zero column: the first zero pivot is reported, the later steps still
  // run, and the determinant is a signed zero.
  fixed_model::Square<6> c{};
  for (std::size_t r = 0; r < 6; ++r) c[r][r] = -1.0;
  c[2][2] = 0.0;
  fixed_model::Permutation<6> pc = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(fixed_model::lu_factorize<6>(c, pc), 3u);
  EXPECT_EQ(Bits(fixed_model::lu_determinant<6>(c, pc)), Bits(-0.0));
  EXPECT_EQ(c[5][5], -1.0);
}

// Design matrix of the general functions from the fixed design rows.
RealMatrix Design(const std::vector<fixed_model::DesignRow>& rows,
                  std::size_t p) {
  RealMatrix X(rows.size(), p);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < p; ++j) X(i, j) = rows[i].x[j];
  }
  return X;
}

std::vector<fixed_model::DesignRow> DesignRows(const Pair& pair) {
  std::vector<fixed_model::DesignRow> rows;
  for (std::size_t i = 0; i < pair.Rows(); ++i) {
    rows.push_back(
        fixed_model::make_design_row(pair.x0[i], pair.x1[i], pair.cls[i]));
  }
  return rows;
}

// The design rows carry exactly what interaction_test puts in its design,
// and the class indicators of the class coding.
TEST(FixedDesign, RowsHoldInterceptGenesProductAndClass) {
  const fixed_model::DesignRow row =
      fixed_model::make_design_row(-kInf, 0.0, 1);
  EXPECT_EQ(row.x[0], 1.0);
  EXPECT_EQ(row.x[1], -kInf);
  EXPECT_EQ(row.x[2], 0.0);
  EXPECT_TRUE(std::isnan(row.x[3]));
  EXPECT_EQ(row.y[0], 0.0);
  EXPECT_EQ(row.y[1], 1.0);
  const fixed_model::DesignRow other =
      fixed_model::make_design_row(0.1, 3.0, 2);
  EXPECT_EQ(other.x[3], 0.1 * 3.0);
  EXPECT_EQ(other.m[fixed_model::triangle_index(1, 3)], 0.1 * (0.1 * 3.0));
  EXPECT_EQ(other.m[fixed_model::triangle_index(2, 2)], 9.0);
  EXPECT_EQ(other.y[0], 0.0);
  EXPECT_EQ(other.y[1], 0.0);
  EXPECT_EQ(fixed_model::make_design_row(0.1, 3.0, 0).y[0], 1.0);
}

// One pass (class probabilities, gradient, Hessian) at random coefficients
// against get_pimat, get_gradient and get_hessian.
template <std::size_t P>
void CheckPass(std::uint64_t seed, int cases) {
  PairGenerator gen(seed);
  FailureBudget budget;
  for (int t = 0; t < cases; ++t) {
    const Pair pair = gen.Make(gen.Index(40));
    const std::vector<fixed_model::DesignRow> rows = DesignRows(pair);
    fixed_model::Vector<2 * P> coef;
    const double scale = std::exp(gen.Uniform(-5.0, 5.0));
    for (double& v : coef) {
      v = gen.Chance(0.03) ? gen.Special() : scale * gen.Normal();
    }
    RealMatrix X = Design(rows, P);
    CountMatrix ymat = pair.Ymat();
    unsigned count = static_cast<unsigned>(pair.Rows());
    unsigned p = P;
    RealMatrix pimat(count, 2);
    RealVector generalCoef(2 * P);
    for (std::size_t j = 0; j < 2 * P; ++j) generalCoef(j) = coef[j];
    RealVector gradient(2 * P);
    RealMatrix hessian(2 * P, 2 * P);
    get_pimat(X, ymat, pimat, generalCoef, count, p);
    get_gradient(X, ymat, pimat, gradient, p);
    get_hessian(X, ymat, pimat, hessian, count, p);

    std::vector<double> fixedPimat(2 * pair.Rows());
    const fixed_model::ModelPass<P> pass = fixed_model::evaluate_model<P>(
        rows.data(), pair.Rows(), coef, fixedPimat.data());
    const fixed_model::Square<2 * P> h = fixed_model::assemble_hessian<P>(pass);
    const std::string context = pair.Describe("pass");
    bool go = true;
    for (std::size_t i = 0; i < pair.Rows() && go; ++i) {
      go = budget.Check(SameBits("pi0", pimat(i, 0), fixedPimat[2 * i]),
                        context) &&
           budget.Check(SameBits("pi1", pimat(i, 1), fixedPimat[2 * i + 1]),
                        context);
    }
    for (std::size_t j = 0; j < 2 * P && go; ++j) {
      go = budget.Check(SameBits("gradient", gradient(j), pass.gradient[j]),
                        context);
    }
    for (std::size_t r = 0; r < 2 * P && go; ++r) {
      for (std::size_t c = 0; c < 2 * P && go; ++c) {
        go = budget.Check(SameBits("hessian", hessian(r, c), h[r][c]), context);
      }
    }
    if (!go) return;
  }
}

TEST(FixedModelPass, MatchesGeneralPimatGradientAndHessian) {
  CheckPass<3>(3, 60000);
  CheckPass<4>(4, 60000);
}

// Whole fits from zero against newton_raphson, with the promise about the
// class probabilities left behind.
template <std::size_t P>
void CheckFit(std::uint64_t seed, int cases) {
  PairGenerator gen(seed);
  FailureBudget budget;
  for (int t = 0; t < cases; ++t) {
    const Pair pair = gen.Make(gen.Index(60));
    const std::vector<fixed_model::DesignRow> rows = DesignRows(pair);
    RealMatrix X = Design(rows, P);
    CountMatrix ymat = pair.Ymat();
    unsigned count = static_cast<unsigned>(pair.Rows());
    RealVector generalCoef(2 * P, 0.0);
    newton_raphson(X, ymat, generalCoef, count);

    fixed_model::Vector<2 * P> coef;
    coef.fill(0.0);
    std::vector<double> pimat(2 * pair.Rows());
    const bool pimatCurrent = fixed_model::newton_raphson<P>(
        rows.data(), pair.Rows(), coef, pimat.data());
    const std::string context = pair.Describe("fit");
    bool go = true;
    for (std::size_t j = 0; j < 2 * P && go; ++j) {
      go = budget.Check(SameBits("coefficient", generalCoef(j), coef[j]),
                        context);
    }
    if (pimatCurrent) {
      RealMatrix generalPimat(count, 2);
      unsigned p = P;
      get_pimat(X, ymat, generalPimat, generalCoef, count, p);
      for (std::size_t i = 0; i < pair.Rows() && go; ++i) {
        go = budget.Check(
            SameBits("kept pi0", generalPimat(i, 0), pimat[2 * i]), context);
      }
    }
    if (!go) return;
  }
}

TEST(FixedNewtonRaphson, MatchesGeneralFit) {
  CheckFit<3>(5, 30000);
  CheckFit<4>(6, 30000);
}

// The interaction test's four results against interaction_test on pairs of
// `minRows` to `maxRows` rows, one workspace serving every size in turn.
void CheckInteraction(std::uint64_t seed, int cases, std::size_t minRows,
                      std::size_t maxRows) {
  PairGenerator gen(seed);
  FailureBudget budget;
  FixedModelWorkspace work;
  for (int t = 0; t < cases; ++t) {
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
    const std::string context = pair.Describe("interaction");
    const bool go =
        budget.Check(SameScore("llReduced", llReduced, scores.llReduced),
                     context) &&
        budget.Check(SameScore("llFull", llFull, scores.llFull), context) &&
        budget.Check(SameScore("statistic", statistic, scores.statistic),
                     context) &&
        budget.Check(SameScore("p-value", pValue, scores.pValue), context) &&
        budget.Check(SameScore("p-value only", pValue,
                               fixed_interaction_test(pair.Columns(), work)),
                     context);
    if (!go) return;
  }
}

TEST(FixedInteractionTest, MatchesGeneralOnPairsOfEverySize) {
  CheckInteraction(7, 6000, 0, 300);
  CheckInteraction(8, 30000, 4, 40);
}

TEST(FixedInteractionTest, MatchesGeneralOnPairsOfUpToThreeRows) {
  CheckInteraction(9, 200000, 0, 3);
}

TEST(FixedInteractionTest, NoRowsGiveZeroLikelihoodsAndOne) {
  FixedModelWorkspace work;
  const InteractionScores scores =
      fixed_interaction_scores({nullptr, nullptr, nullptr, 0}, work);
  EXPECT_EQ(Bits(scores.llReduced), Bits(0.0));
  EXPECT_EQ(Bits(scores.llFull), Bits(0.0));
  EXPECT_EQ(Bits(scores.statistic), Bits(0.0));
  EXPECT_EQ(scores.pValue, 1.0);
}

// The LDA value against llvalue_lda, from the summaries that the
// mean-covariance screen computes for the pair and from summaries made
// degenerate on purpose (zero variances, NaN, n of 3 or less).
TEST(FixedLlvalueLda, MatchesGeneralOnScreenSummaries) {
  PairGenerator gen(10);
  FailureBudget budget;
  for (int t = 0; t < 150000; ++t) {
    const Pair pair = gen.Make(gen.Index(t % 10 == 0 ? 300 : 30));
    RealMatrix xmat = pair.Xmat();
    CountMatrix ymat = pair.Ymat();
    n = static_cast<std::int32_t>(pair.Rows());
    RealMatrix mommat(2, 2, 0.0);
    for (std::size_t i = 0; i < pair.Rows(); ++i) {
      const double N = static_cast<double>(n);
      mommat(0, 0) = mommat(0, 0) + pair.x0[i] / N;
      mommat(0, 1) = mommat(0, 1) + (pair.x0[i] * pair.x0[i]) / N;
      mommat(1, 0) = mommat(1, 0) + pair.x1[i] / N;
      mommat(1, 1) = mommat(1, 1) + (pair.x1[i] * pair.x1[i]) / N;
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
    if (gen.Chance(0.05)) {
      summat(gen.Index(3), gen.Index(2)) = gen.Special();
    }
    if (gen.Chance(0.05)) {
      covmat(gen.Index(3), gen.Index(3)) = gen.Special();
    }
    double fixedSummat[3][4];
    double fixedCovmat[4][3];
    double fixedNvec[3];
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t j = 0; j < 4; ++j) fixedSummat[k][j] = summat(k, j);
      fixedNvec[k] = nvec(k);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      for (std::size_t j = 0; j < 3; ++j) fixedCovmat[k][j] = covmat(k, j);
    }
    const double general = llvalue_lda(xmat, ymat, summat, covmat, nvec);
    const double fixed = fixed_llvalue_lda(pair.Columns(), n, fixedSummat,
                                           fixedCovmat, fixedNvec);
    if (!budget.Check(SameScore("LDA value", general, fixed),
                      pair.Describe("LDA"))) {
      return;
    }
  }
}

TEST(FixedLlvalueLda, SingularCovarianceAndTooFewColumnRows) {
  Pair pair;
  pair.x0 = {0.0, 0.0, 0.0, 0.0, 0.0};
  pair.x1 = {1.0, 2.0, 3.0, 1.5, 2.5};
  pair.cls = {0, 1, 2, 0, 1};
  const double flat[3][4] = {{0, 2.5, 0, 0}, {0, 4.5, 0, 0}, {0, 3, 0, 0}};
  const double noSpread[4][3] = {{0, 0.25, 0}, {0, 0.25, 0}, {0, 0, 0}, {}};
  const double sizes[3] = {2, 2, 1};
  EXPECT_EQ(fixed_llvalue_lda(pair.Columns(), 5, flat, noSpread, sizes),
            -9999.0);

  // Summaries of five individuals, columns holding only the first three: the
  // sum stops at the columns' end. Class 0 lies above class 2 and class 1
  // below it in the first gene, so rows 3 and 4 below (first gene +inf,
  // class 0) have the probability 1.0 exactly and add 0.0: five full rows
  // give the general function's value for the three.
  pair.x0 = {0.5, 1.5, 2.5, kInf, kInf};
  pair.cls = {0, 1, 2, 0, 0};
  const double summat[3][4] = {{4, 2, 0, 0}, {0, 2, 0, 0}, {1, 1, 0, 0}};
  const double covmat[4][3] = {{0.5, 0.5, 0}, {0.5, 0.5, 0}, {0.5, 0.5, 0}, {}};
  RealMatrix xmat = pair.Xmat();
  CountMatrix ymat = pair.Ymat();
  RealMatrix generalSummat(3, 4);
  RealMatrix generalCovmat(4, 3);
  RealVector nvec(3);
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t j = 0; j < 4; ++j) generalSummat(k, j) = summat[k][j];
    for (std::size_t j = 0; j < 3; ++j) generalCovmat(k, j) = covmat[k][j];
    nvec(k) = sizes[k];
  }
  n = 5;
  const double general =
      llvalue_lda(xmat, ymat, generalSummat, generalCovmat, nvec);
  Pair shorter = pair;
  shorter.x0.resize(3);
  shorter.x1.resize(3);
  shorter.cls.resize(3);
  EXPECT_TRUE(SameScore(
      "LDA value", general,
      fixed_llvalue_lda(shorter.Columns(), 5, summat, covmat, sizes)));
  EXPECT_LT(general, 0.0);
}

}  // namespace
