// The two later scores of a (SNP, gene pair): the interaction test, which
// asks whether the product of the two genes' log10 values adds to a
// multinomial logistic model of the genotype class, and the LDA value, the
// log-likelihood of the observed classes under the closed-form linear
// discriminant built from the mean-covariance screen's summaries.
#ifndef ZIRK_SCORES_H_
#define ZIRK_SCORES_H_

#include <boost/math/distributions/chi_squared.hpp>
#include <cstddef>
#include <cstdint>

#include "common.h"
#include "model.h"

// The tail of the interaction test's statistic under chi-squared with 2
// degrees of freedom, or exactly 1.0 when the statistic is not positive (NaN
// included). The log-likelihoods are finite, so a positive statistic is too.
inline double interaction_pvalue(double statistic) {
  if (!(statistic > 0)) return 1.0;
  const boost::math::chi_squared_distribution<double> chi2(2.0);
  return boost::math::cdf(boost::math::complement(chi2, statistic));
}

// Fits the reduced model (intercept, x0, x1) and, independently and also
// from zero, the full model (plus x0 * x1) to all rows of `xmat`/`ymat`;
// stores both log-likelihoods, the statistic 2 (llFull - llReduced) in
// `statistic`, and returns its upper tail under chi-squared with 2 degrees
// of freedom, or exactly 1.0 when the statistic is not positive (NaN
// included). With no rows both log-likelihoods are 0.0 and the result 1.0.
template <class MatrixT, class CountMatrixT, class StatT>
double interaction_test(MatrixT& xmat, CountMatrixT& ymat, StatT& llReduced,
                        StatT& llFull, StatT& statistic) {
  unsigned rows = static_cast<unsigned>(xmat.size1());
  MatrixT full(rows, 4);
  for (unsigned i = 0; i < rows; ++i) {
    full(i, 0) = 1.0;
    full(i, 1) = xmat(i, 0);
    full(i, 2) = xmat(i, 1);
  }
  for (unsigned i = 0; i < rows; ++i) {
    full(i, 3) = xmat(i, 0) * xmat(i, 1);
  }
  MatrixT reduced(rows, 3);
  for (unsigned i = 0; i < rows; ++i) {
    for (unsigned j = 0; j < 3; ++j) {
      reduced(i, j) = full(i, j);
    }
  }
  RealVector reducedCoef(6, 0.0);
  RealVector fullCoef(8, 0.0);
  newton_raphson(reduced, ymat, reducedCoef, rows);
  newton_raphson(full, ymat, fullCoef, rows);
  llReduced = loglikelihood(reduced, ymat, reducedCoef, rows);
  llFull = loglikelihood(full, ymat, fullCoef, rows);
  const double d = llFull - llReduced;
  statistic = d + d;
  return interaction_pvalue(statistic);
}

// Writes the LDA coefficients of a pair into `b` (class 0's intercept,
// first-gene and second-gene coefficients, then class 1's, class 2 being the
// reference) and returns true; returns false, `b` untouched, when the pooled
// covariance's determinant is exactly 0. `summat(k, j)` (j = 0, 1) are class
// k's sums of the two genes' values, `covmat(k, j)` its variances (j = 0, 1)
// and covariance (j = 2) with the class size as divisor, `nvec(k)` its size;
// the pooled covariance divides by individuals - 3. The coefficients follow
// from the class means and the inverse of the pooled covariance, with equal
// class priors. Anything else (empty classes, individuals <= 3) follows IEEE
// arithmetic into NaN or infinite coefficients.
template <class Summat, class Covmat, class Sizes>
bool lda_coefficients(const Summat& summat, const Covmat& covmat,
                      const Sizes& nvec, std::int32_t individuals,
                      double b[6]) {
  const std::int32_t freedom = individuals - 3;
  const double d = static_cast<double>(freedom);
  const double s00 = (nvec(0) * covmat(0, 0) + nvec(1) * covmat(1, 0) +
                      nvec(2) * covmat(2, 0)) /
                     d;
  const double s01 = (nvec(0) * covmat(0, 2) + nvec(1) * covmat(1, 2) +
                      nvec(2) * covmat(2, 2)) /
                     d;
  const double s11 = (nvec(0) * covmat(0, 1) + nvec(1) * covmat(1, 1) +
                      nvec(2) * covmat(2, 1)) /
                     d;
  const double s10 = s01;
  const double det = s00 * s11 - s01 * s10;
  if (det == 0.0) {
    return false;
  }
  const double p00 = s11 / det;
  const double p11 = s00 / det;
  const double p01 = (-s01) / det;
  double m[3][2];
  for (unsigned k = 0; k < 3; ++k) {
    m[k][0] = summat(k, 0) / nvec(k);
    m[k][1] = summat(k, 1) / nvec(k);
  }
  for (unsigned k = 0; k < 2; ++k) {
    const unsigned a = k * 3;
    const double twoP01 = p01 + p01;
    b[a] = -0.5 * ((m[k][1] * m[k][1] - m[2][1] * m[2][1]) * p11 +
                   (twoP01 * (m[k][0] * m[k][1] - m[2][0] * m[2][1]) +
                    (m[k][0] * m[k][0] - m[2][0] * m[2][0]) * p00));
    b[a + 1] = (m[k][0] - m[2][0]) * p00 + (m[k][1] - m[2][1]) * p01;
    b[a + 2] = (m[k][0] - m[2][0]) * p01 + (m[k][1] - m[2][1]) * p11;
  }
  return true;
}

// Returns the LDA value of the pair: the log-likelihood, over the global `n`
// individuals, of their observed classes under the multinomial logistic
// model with lda_coefficients() from `summat`, `covmat` and `nvec`; -9999.0
// when the pooled covariance's determinant is exactly 0. A NaN determinant
// (n = 3, empty class) is carried on into the coefficients and capped by the
// model.
template <class MatrixT, class CountMatrixT, class VectorT>
double llvalue_lda(MatrixT& xmat, CountMatrixT& ymat, MatrixT& summat,
                   MatrixT& covmat, VectorT& nvec) {
  double coefficients[6];
  if (!lda_coefficients(summat, covmat, nvec, n, coefficients)) {
    return -9999.0;
  }
  VectorT b(6);
  for (unsigned j = 0; j < 6; ++j) b(j) = coefficients[j];
  const std::size_t rows = n > 0 ? static_cast<std::size_t>(n) : 0;
  MatrixT X(rows, 3);
  for (std::size_t i = 0; i < rows; ++i) {
    X(i, 0) = 1.0;
    X(i, 1) = xmat(i, 0);
    X(i, 2) = xmat(i, 1);
  }
  return loglikelihood(X, ymat, b, n);
}

#endif  // ZIRK_SCORES_H_
