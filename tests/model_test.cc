#include "model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common.h"
#include "model_math.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

RealMatrix Matrix(std::size_t rows, std::size_t cols,
                  const std::vector<double>& values) {
  RealMatrix m(rows, cols);
  for (std::size_t i = 0; i < values.size(); ++i)
    m(i / cols, i % cols) = values[i];
  return m;
}

// Data for the multinomial model: a design (intercept first), the
// indicator matrix of the classes, and the row count and width of the design
// that the model takes by reference.
struct Data {
  RealMatrix X;
  CountMatrix ymat;
  unsigned rows = static_cast<unsigned>(X.size1());
  unsigned p = static_cast<unsigned>(X.size2());
};

Data MakeData(const std::vector<std::vector<double>>& rows,
              const std::vector<int>& classes) {
  Data d{RealMatrix(rows.size(), rows.empty() ? 0 : rows[0].size()),
         CountMatrix(rows.size(), 2)};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows[i].size(); ++j) d.X(i, j) = rows[i][j];
    d.ymat(i, 0) = classes[i] == 0;
    d.ymat(i, 1) = classes[i] == 1;
  }
  return d;
}

// Individuals with a normal covariate x and a noise covariate: class 0 has
// weight exp(slope x), class 1 exp(offset - slope x), class 2 one. With
// `separate`, the classes instead lie in disjoint bands of x.
Data Simulate(unsigned count, unsigned seed, double slope, bool separate,
              double offset = 0.5) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Data d{RealMatrix(count, 3), CountMatrix(count, 2)};
  for (unsigned i = 0; i < count; ++i) {
    int k;
    double x;
    if (separate) {
      k = static_cast<int>(i % 3);
      x = (k == 0 ? -2.0 : (k == 1 ? 0.0 : 2.0)) + 0.3 * normal(gen);
    } else {
      x = normal(gen);
      const double e0 = std::exp(slope * x);
      const double e1 = std::exp(offset - slope * x);
      const double u = uniform(gen) * (e0 + e1 + 1.0);
      k = u < e0 ? 0 : (u < e0 + e1 ? 1 : 2);
    }
    d.X(i, 0) = 1.0;
    d.X(i, 1) = x;
    d.X(i, 2) = normal(gen);
    d.ymat(i, 0) = k == 0;
    d.ymat(i, 1) = k == 1;
  }
  return d;
}

// Solves a x = rhs by Gaussian elimination with partial pivoting; det is
// the determinant of a.
std::vector<double> Solve(std::vector<std::vector<double>> a,
                          std::vector<double> rhs, double& det) {
  const std::size_t size = rhs.size();
  det = 1.0;
  for (std::size_t c = 0; c < size; ++c) {
    std::size_t best = c;
    for (std::size_t r = c + 1; r < size; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[best][c])) best = r;
    if (best != c) {
      std::swap(a[best], a[c]);
      std::swap(rhs[best], rhs[c]);
      det = -det;
    }
    det *= a[c][c];
    for (std::size_t r = c + 1; r < size; ++r) {
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < size; ++k) a[r][k] -= f * a[c][k];
      rhs[r] -= f * rhs[c];
    }
  }
  std::vector<double> x(size);
  for (std::size_t r = size; r-- > 0;) {
    double t = rhs[r];
    for (std::size_t k = r + 1; k < size; ++k) t -= a[r][k] * x[k];
    x[r] = t / a[r][r];
  }
  return x;
}

// Reference Newton-Raphson written from the model's formulas with plain
// loops and Gaussian elimination, to compare iterates against.
struct ReferenceFit {
  std::vector<std::vector<double>> iterates;
  std::vector<double> dets;
};

// Newton iterates from zero: iterates[k] after k steps; dets[k] is the
// Hessian determinant at iterates[k].
ReferenceFit Iterate(const Data& d, int steps) {
  ReferenceFit fit;
  const std::size_t p = d.X.size2();
  std::vector<double> b(2 * p, 0.0);
  for (int s = 0; s <= steps; ++s) {
    fit.iterates.push_back(b);
    std::vector<double> g(2 * p, 0.0);
    std::vector<std::vector<double>> h(2 * p, std::vector<double>(2 * p));
    for (std::size_t i = 0; i < d.X.size1(); ++i) {
      double eta[2] = {0.0, 0.0};
      for (int k = 0; k < 2; ++k)
        for (std::size_t j = 0; j < p; ++j) eta[k] += d.X(i, j) * b[k * p + j];
      const double denom = 1.0 + std::exp(eta[0]) + std::exp(eta[1]);
      const double pi[2] = {std::exp(eta[0]) / denom, std::exp(eta[1]) / denom};
      for (int k = 0; k < 2; ++k) {
        const double y = d.ymat(i, k) != 0 ? 1.0 : 0.0;
        for (std::size_t j = 0; j < p; ++j) {
          g[k * p + j] += d.X(i, j) * (y - pi[k]);
          for (int l = 0; l < 2; ++l)
            for (std::size_t m = 0; m < p; ++m)
              h[k * p + j][l * p + m] -= d.X(i, j) * d.X(i, m) * pi[k] *
                                         ((k == l ? 1.0 : 0.0) - pi[l]);
        }
      }
    }
    double det = 1.0;
    const std::vector<double> step = Solve(h, g, det);
    fit.dets.push_back(det);
    for (std::size_t j = 0; j < 2 * p; ++j) b[j] -= step[j];
  }
  return fit;
}

// The model's fit from zero coefficients.
RealVector Fit(Data& d) {
  RealVector coef(2 * d.p, 0.0);
  newton_raphson(d.X, d.ymat, coef, d.rows);
  return coef;
}

double MaxRelativeGap(const RealVector& a, const std::vector<double>& b) {
  double gap = 0.0;
  for (std::size_t j = 0; j < b.size(); ++j)
    gap =
        std::max(gap, std::fabs(a(j) - b[j]) / std::max(1.0, std::fabs(b[j])));
  return gap;
}

TEST(ClassProbabilities, CapSubstituteAndClassRules) {
  // One intercept column; rows of class 0, 1, 2 and a (1,1) row.
  Data d = MakeData({{1.0}, {1.0}, {1.0}, {1.0}}, {0, 1, 2, 0});
  d.ymat(3, 1) = 1;
  RealMatrix pimat(4, 2);
  RealVector zero(2, 0.0);
  get_pimat(d.X, d.ymat, pimat, zero, d.rows, d.p);
  EXPECT_DOUBLE_EQ(pimat(2, 0), 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(pimat(2, 1), 1.0 / 3.0);
  EXPECT_NEAR(loglikelihood(d.X, d.ymat, zero, d.rows), 4 * std::log(1.0 / 3.0),
              1e-12);

  // eta0 = 1000 is capped to 500: class 0 certain, class 1 tiny but positive.
  RealVector high(2, 0.0);
  high(0) = 1000.0;
  get_pimat(d.X, d.ymat, pimat, high, d.rows, d.p);
  EXPECT_EQ(pimat(0, 0), 1.0);
  EXPECT_NEAR(pimat(0, 1) / 7.12e-218, 1.0, 1e-3);
  const double s0 = std::log(1e-15);
  Data one = MakeData({{1.0}}, {1});
  EXPECT_NEAR(loglikelihood(one.X, one.ymat, high, one.rows), -500.0, 1e-9);
  Data two = MakeData({{1.0}}, {2});
  EXPECT_EQ(loglikelihood(two.X, two.ymat, high, two.rows), s0);
  // The (1,1) row counts as class 0, whose log-probability is 0 here.
  Data both = MakeData({{1.0}}, {0});
  both.ymat(0, 1) = 1;
  EXPECT_EQ(loglikelihood(both.X, both.ymat, high, both.rows), 0.0);

  // eta0 = -800: exp underflows, class 0 gets the substitute.
  RealVector low(2, 0.0);
  low(0) = -800.0;
  Data zeroClass = MakeData({{1.0}}, {0});
  EXPECT_EQ(loglikelihood(zeroClass.X, zeroClass.ymat, low, zeroClass.rows),
            s0);

  // -inf times a zero coefficient: both predictors NaN, both capped to 500.
  Data nanRow = MakeData({{1.0, -kInf}, {1.0, -kInf}}, {0, 2});
  RealVector zero4(4, 0.0);
  RealMatrix pim2(2, 2);
  get_pimat(nanRow.X, nanRow.ymat, pim2, zero4, nanRow.rows, nanRow.p);
  EXPECT_EQ(pim2(0, 0), 0.5);
  EXPECT_EQ(pim2(0, 1), 0.5);
  EXPECT_NEAR(loglikelihood(nanRow.X, nanRow.ymat, zero4, nanRow.rows),
              std::log(0.5) + s0, 1e-12);
}

TEST(Determinant, PivotSignsSingularAndBadShapes) {
  EXPECT_EQ(math::determinant(Matrix(2, 2, {0, 1, 1, 0})), -1.0);
  // Two row exchanges: the signs cancel.
  EXPECT_DOUBLE_EQ(math::determinant(Matrix(3, 3, {0, 2, 0, 0, 0, 3, 4, 0, 0})),
                   24.0);
  const RealMatrix a = Matrix(3, 3, {2, -1, 0, -1, 2, -1, 0, -1, 2});
  EXPECT_NEAR(math::determinant(a), 4.0, 1e-12);
  EXPECT_EQ(a(0, 0), 2.0);  // the argument is not factored in place
  EXPECT_EQ(math::determinant(RealMatrix(2, 2, 1.0)), 0.0);
  EXPECT_TRUE(std::isnan(math::determinant(RealMatrix(2, 2, kNaN))));
  EXPECT_EQ(math::determinant(RealMatrix(0, 0)), 1.0);
  EXPECT_THROW(math::determinant(RealMatrix(2, 3, 1.0)), std::logic_error);
}

TEST(NewtonRaphson, NothingToFitOrSaturatedStartLeavesCoefficients) {
  Data empty{RealMatrix(0, 3), CountMatrix(0, 2)};
  RealVector coef(6);
  for (unsigned j = 0; j < 6; ++j) coef(j) = j * 0.5;
  const RealVector start(coef);
  newton_raphson(empty.X, empty.ymat, coef, empty.rows);
  for (unsigned j = 0; j < 6; ++j) EXPECT_EQ(coef(j), start(j));

  // Rows present but a count of 0: still nothing to fit.
  Data d = Simulate(30, 1, 1.0, false);
  d.rows = 0;
  newton_raphson(d.X, d.ymat, coef, d.rows);
  for (unsigned j = 0; j < 6; ++j) EXPECT_EQ(coef(j), start(j));

  // Intercepts so large that every probability is saturated: the first
  // Hessian is rejected.
  RealVector saturated(6, 0.0);
  saturated(0) = 1000.0;
  d.rows = 30;
  newton_raphson(d.X, d.ymat, saturated, d.rows);
  EXPECT_EQ(saturated(0), 1000.0);
  for (unsigned j = 1; j < 6; ++j) EXPECT_EQ(saturated(j), 0.0);
}

TEST(NewtonRaphson, StepCountsFollowToleranceLimitAndDeterminant) {
  // Weak signal: the first step is already short, so it is the only one.
  {
    Data d = Simulate(600, 21, 0.05, false, 0.0);
    const ReferenceFit ref = Iterate(d, 2);
    double first = 0.0;
    for (double v : ref.iterates[1]) first += v * v;
    ASSERT_LE(first, 0.18);
    const RealVector coef = Fit(d);
    EXPECT_LT(MaxRelativeGap(coef, ref.iterates[1]), 1e-10);
    EXPECT_GT(MaxRelativeGap(coef, ref.iterates[2]), 1e-6);
  }
  // Separable classes and many rows: the steps stay long and the Hessian
  // regular, so the fit ends after exactly 11 steps.
  {
    Data d = Simulate(300, 7, 0.0, true);
    const ReferenceFit ref = Iterate(d, 12);
    for (int s = 0; s <= 11; ++s) ASSERT_GE(ref.dets[s], 1e-14);
    const RealVector coef = Fit(d);
    EXPECT_LT(MaxRelativeGap(coef, ref.iterates[11]), 1e-6);
    EXPECT_GT(MaxRelativeGap(coef, ref.iterates[10]), 0.1);
    EXPECT_GT(MaxRelativeGap(coef, ref.iterates[12]), 0.1);
  }
  // Separable classes and few rows: the Hessian collapses first; the fit
  // returns the iterate at which it was rejected.
  {
    Data d = Simulate(30, 7, 0.0, true);
    const ReferenceFit ref = Iterate(d, 11);
    int rejected = 0;
    while (ref.dets[rejected] >= 1e-15) ++rejected;
    ASSERT_GE(rejected, 2);
    ASSERT_LE(rejected, 10);
    ASSERT_LT(ref.dets[rejected], 0.99e-15);
    ASSERT_GT(ref.dets[rejected - 1], 1.01e-15);
    const RealVector coef = Fit(d);
    EXPECT_LT(MaxRelativeGap(coef, ref.iterates[rejected]), 1e-6);
  }
}

}  // namespace
