// The three-class multinomial logistic model of an individual's genotype
// class given one row of a design matrix, and its Newton-Raphson fit.
//
// Class 2 is the reference class: its linear predictor is fixed at 0. A
// coefficient vector of a design with p columns has 2p entries, class 0's
// block (entries 0..p-1) before class 1's (p..2p-1); entry j of a block
// multiplies design column j. `pimat` holds one row per individual with the
// probabilities of classes 0 and 1; class 2's is 1 minus both.
//
// The genotype class of row i of `ymat` is 0 if ymat(i,0) is non-zero, else 1
// if ymat(i,1) is non-zero, else 2.
//
// Every function takes its arguments by reference and allocates its own
// working storage per call. Numerical trouble (NaN, infinities, singular
// Hessians) never raises: it is capped, substituted or ends the fit quietly.
#ifndef ZIRK_MODEL_H_
#define ZIRK_MODEL_H_

#include <algorithm>
#include <boost/numeric/ublas/lu.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/matrix_proxy.hpp>
#include <boost/numeric/ublas/vector.hpp>
#include <boost/numeric/ublas/vector_proxy.hpp>
#include <cmath>
#include <cstddef>

#include "common.h"
#include "model_math.h"

// Upper cap on a linear predictor, so that exp never overflows: with it the
// denominator of the class probabilities stays finite.
inline constexpr double kExponentCap = 500.0;

// The Newton-Raphson fit stops at a Hessian whose determinant is not at least
// kDeterminantFloor, after a step whose squared length is at most
// kStepTolerancePerColumn times the design's column count, and after
// kStepLimit + 1 steps.
inline constexpr double kDeterminantFloor = 1e-15;
inline constexpr double kStepTolerancePerColumn = 0.06;
inline constexpr unsigned kStepLimit = 10;

// A linear predictor capped from above at kExponentCap; a NaN predictor fails
// the comparison and takes the cap too. There is no lower cap.
inline double capped_predictor(double eta) {
  return eta < kExponentCap ? eta : kExponentCap;
}

// ln(1e-15), the log-likelihood term that stands in for the logarithm of a
// probability of zero; taken from the library's log at run time, not folded
// by the compiler.
inline double log_of_zero_probability() {
  static const double value = [] {
    volatile double smallest = 1e-15;
    return std::log(smallest);
  }();
  return value;
}

// One individual's log-likelihood term: the natural logarithm of the
// probability of its class `cls` given the class 0 and 1 probabilities a and
// b, or `zeroTerm` (ln 1e-15) where that probability is zero or NaN. For
// class 2 the test is made on a + b, the logarithm taken of (1 - a) - b.
inline double class_log_term(unsigned cls, double a, double b,
                             double zeroTerm) {
  if (cls == 0) return a > 0 ? std::log(a) : zeroTerm;
  if (cls == 1) return b > 0 ? std::log(b) : zeroTerm;
  return a + b < 1.0 ? std::log((1.0 - a) - b) : zeroTerm;
}

// Fills rows 0..rowCount-1 of `pimat` (both columns) with the class 0 and
// class 1 probabilities at coefficient vector `coef`, using the first p
// columns of `X`. Each linear predictor is capped at 500 from above (a NaN
// predictor becomes 500), so every probability is a finite number in [0, 1].
// Requires coef to hold 2p entries and X and pimat at least rowCount rows;
// `ymat` is not read. A row count of 0 or less leaves pimat untouched.
template <class MatrixT, class CountMatrixT, class VectorT, class RowCountT,
          class IndexT>
void get_pimat(MatrixT& X, CountMatrixT& /*ymat*/, MatrixT& pimat,
               VectorT& coef, RowCountT& rowCount, IndexT& p) {
  VectorT b0(p);
  VectorT b1(p);
  for (IndexT j = 0; j < p; ++j) {
    b0(j) = coef(j);
    b1(j) = coef(p + j);
  }
  for (RowCountT i = 0; i < rowCount; ++i) {
    double eta0 = 0.0;
    double eta1 = 0.0;
    for (IndexT j = 0; j < p; ++j) {
      eta0 += X(i, j) * b0(j);
    }
    for (IndexT j = 0; j < p; ++j) {
      eta1 += X(i, j) * b1(j);
    }
    const double x0 = std::exp(capped_predictor(eta0));
    const double x1 = std::exp(capped_predictor(eta1));
    const double denominator = (x0 + 1.0) + x1;
    pimat(i, 0) = x0 / denominator;
    pimat(i, 1) = x1 / denominator;
  }
}

// Returns the log-likelihood of the observed classes of the first rowCount
// rows under coefficient vector `coef`: the sum of the natural logarithms of
// each row's probability of its own class. A probability of zero (for class
// 2: classes 0 and 1 summing to 1 or more, or to NaN) contributes ln(1e-15)
// instead. Requires coef with 2 * X.size2() entries and X and ymat with at
// least rowCount rows; a row count of 0 or less gives 0.0.
template <class MatrixT, class CountMatrixT, class VectorT, class RowCountT>
double loglikelihood(MatrixT& X, CountMatrixT& ymat, VectorT& coef,
                     RowCountT& rowCount) {
  unsigned p = static_cast<unsigned>(X.size2());
  const std::size_t rows =
      rowCount > 0 ? static_cast<std::size_t>(rowCount) : 0;
  MatrixT pimat(rows, 2);
  get_pimat(X, ymat, pimat, coef, rowCount, p);
  const double zeroTerm = log_of_zero_probability();
  double sum = 0.0;
  for (RowCountT i = 0; i < rowCount; ++i) {
    sum += class_log_term(genotype_class_of_row(ymat, i), pimat(i, 0),
                          pimat(i, 1), zeroTerm);
  }
  return sum;
}

// Overwrites the 2p entries of `gradient` with the gradient of the
// log-likelihood: transpose(X) (y_k - pi_k) for k = 0, 1, where y_k is column
// k of `ymat` as double and pi_k column k of `pimat`. The sums run over the
// leading rows that X, ymat and pimat all hold (in the fit they hold the
// same number), so a shorter `pimat` never makes the product read past it.
template <class MatrixT, class CountMatrixT, class VectorT, class IndexT>
void get_gradient(MatrixT& X, CountMatrixT& ymat, MatrixT& pimat,
                  VectorT& gradient, IndexT& p) {
  namespace ublas = boost::numeric::ublas;
  const std::size_t rows = std::min({X.size1(), ymat.size1(), pimat.size1()});
  VectorT y0(rows);
  VectorT y1(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    y0(i) = static_cast<double>(ymat(i, 0));
    y1(i) = static_cast<double>(ymat(i, 1));
  }
  const auto design = ublas::subrange(X, 0, rows, 0, p);
  ublas::matrix_column<MatrixT> pimat0(pimat, 0);
  ublas::matrix_column<MatrixT> pimat1(pimat, 1);
  const auto pi0 = ublas::subrange(pimat0, 0, rows);
  const auto pi1 = ublas::subrange(pimat1, 0, rows);
  ublas::subrange(gradient, 0, p) = ublas::prod(ublas::trans(design), y0 - pi0);
  ublas::subrange(gradient, p, p + p) =
      ublas::prod(ublas::trans(design), y1 - pi1);
}

// Zeroes `hessian` (already 2p x 2p, not resized) and fills it with the
// Hessian of the log-likelihood over rows 0..rowCount-1: with M = x x^T for
// design row x and a, b that row's class 0 and class 1 probabilities, block
// (0,0) gathers ((a - 1) a) M, block (0,1) (a b) M, block (1,1)
// ((b - 1) b) M, and block (1,0) is the transpose of block (0,1). `ymat` is
// not read.
template <class MatrixT, class CountMatrixT, class RowCountT, class IndexT>
void get_hessian(MatrixT& X, CountMatrixT& /*ymat*/, MatrixT& pimat,
                 MatrixT& hessian, RowCountT& rowCount, IndexT& p) {
  namespace ublas = boost::numeric::ublas;
  const std::size_t q = static_cast<std::size_t>(p);
  hessian.clear();
  MatrixT m(q, q);
  for (RowCountT i = 0; i < rowCount; ++i) {
    ublas::matrix_row<MatrixT> row(X, i);
    const auto x = ublas::subrange(row, 0, q);
    m = ublas::outer_prod(x, x);
    const double a = pimat(i, 0);
    const double b = pimat(i, 1);
    const double w00 = (a - 1.0) * a;
    const double w01 = a * b;
    const double w11 = (b - 1.0) * b;
    ublas::subrange(hessian, 0, q, 0, q) += w00 * m;
    ublas::subrange(hessian, 0, q, q, q + q) += w01 * m;
    ublas::subrange(hessian, q, q + q, q, q + q) += w11 * m;
  }
  ublas::subrange(hessian, q, q + q, 0, q) =
      ublas::trans(ublas::subrange(hessian, 0, q, q, q + q));
}

// Solves A x = b by LU factorisation with partial pivoting and returns true
// with the solution in `x` (which may be `b` itself). Returns false, with A,
// b and x unchanged, when A is not square; returns false when the
// factorisation meets a zero pivot, A then holding its partial LU factors and
// x unchanged. Otherwise A is left holding its LU factors.
template <class MatrixT, class VectorT>
bool linear_solve(MatrixT& A, VectorT& b, VectorT& x) {
  namespace ublas = boost::numeric::ublas;
  if (A.size1() != A.size2()) {
    return false;
  }
  Permutation pm(A.size1());
  if (ublas::lu_factorize(A, pm) != 0) {
    return false;
  }
  if (&x != &b) {
    x = b;
  }
  // The row exchanges are applied here once, so the substitution is the
  // two-argument form that does not apply them again. The cast picks the
  // matrix-then-vector overload, which would otherwise be ambiguous.
  ublas::swap_rows(pm, x);
  ublas::lu_substitute(A, static_cast<ublas::vector_expression<VectorT>&>(x));
  return true;
}

// Fits `coef` (2p entries for a design of p columns, the starting point on
// entry) to the first rowCount rows by undamped Newton-Raphson steps and
// writes the fit back into `coef`. The fit stops after a step whose squared
// length is at most 0.06 p, after 11 steps, or, keeping the coefficients at
// which it was evaluated, at a Hessian whose determinant is not at least
// 1e-15 or whose solve meets a zero pivot. Nothing tells the caller which.
// Requires X and ymat with at least rowCount rows.
template <class MatrixT, class CountMatrixT, class VectorT, class RowCountT>
void newton_raphson(MatrixT& X, CountMatrixT& ymat, VectorT& coef,
                    RowCountT& rowCount) {
  unsigned p = static_cast<unsigned>(X.size2());
  const std::size_t q = p;
  VectorT current(coef);
  VectorT previous(coef);
  MatrixT pimat(rowCount, 2);
  VectorT gradient(q + q);
  MatrixT hessian(q + q, q + q);
  unsigned steps = 0;
  const double tolerance = kStepTolerancePerColumn * static_cast<double>(p);
  while (true) {
    previous = current;
    get_pimat(X, ymat, pimat, previous, rowCount, p);
    get_gradient(X, ymat, pimat, gradient, p);
    get_hessian(X, ymat, pimat, hessian, rowCount, p);
    const double det = math::determinant(hessian);
    if (!(det >= kDeterminantFloor)) {
      break;
    }
    if (!linear_solve(hessian, gradient, gradient)) {
      break;
    }
    current = previous - gradient;
    ++steps;
    double length = 0.0;
    for (std::size_t j = 0; j < q + q; ++j) {
      const double delta = current(j) - previous(j);
      length += delta * delta;
    }
    if (!(length > tolerance && steps <= kStepLimit)) {
      break;
    }
  }
  coef = current;
}

#endif  // ZIRK_MODEL_H_
