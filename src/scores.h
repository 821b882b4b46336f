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
  if (statistic > 0) {
    // The log-likelihoods are finite, so a positive statistic is finite too.
    const boost::math::chi_squared_distribution<double> chi2(2.0);
    return boost::math::cdf(boost::math::complement(chi2, statistic));
  }
  return 1.0;
}

// Returns the LDA value of the pair: the log-likelihood, over the global `n`
// individuals, of their observed classes under the multinomial logistic
// model whose coefficients (class 2 as reference, equal priors) follow from
// the class means summat(k, 0..1) / nvec[k] and the pooled covariance
// sum_k nvec[k] covmat(k, .) / (n - 3). Returns -9999.0 when the pooled
// covariance's determinant is exactly 0; a NaN determinant (n = 3, empty
// class) is carried on into the coefficients and capped by the model.
template <class MatrixT, class CountMatrixT, class VectorT>
double llvalue_lda(MatrixT& xmat, CountMatrixT& ymat, MatrixT& summat,
                   MatrixT& covmat, VectorT& nvec) {
  const std::int32_t freedom = n - 3;
  const double d = static_cast<double>(freedom);
  MatrixT S(2, 2);
  S(0, 0) = (nvec(0) * covmat(0, 0) + nvec(1) * covmat(1, 0) +
             nvec(2) * covmat(2, 0)) /
            d;
  S(0, 1) = (nvec(0) * covmat(0, 2) + nvec(1) * covmat(1, 2) +
             nvec(2) * covmat(2, 2)) /
            d;
  S(1, 1) = (nvec(0) * covmat(0, 1) + nvec(1) * covmat(1, 1) +
             nvec(2) * covmat(2, 1)) /
            d;
  S(1, 0) = S(0, 1);
  const double det = S(0, 0) * S(1, 1) - S(0, 1) * S(1, 0);
  if (det == 0.0) {
    return -9999.0;
  }
  MatrixT P(2, 2);
  P(0, 0) = S(1, 1) / det;
  P(1, 1) = S(0, 0) / det;
  P(0, 1) = (-S(0, 1)) / det;
  P(1, 0) = P(0, 1);
  MatrixT m(3, 2);
  for (unsigned k = 0; k < 3; ++k) {
    m(k, 0) = summat(k, 0) / nvec(k);
    m(k, 1) = summat(k, 1) / nvec(k);
  }
  VectorT b(6);
  for (unsigned k = 0; k < 2; ++k) {
    const unsigned a = k * 3;
    const double twoP01 = P(0, 1) + P(0, 1);
    b(a) = -0.5 * ((m(k, 1) * m(k, 1) - m(2, 1) * m(2, 1)) * P(1, 1) +
                   (twoP01 * (m(k, 0) * m(k, 1) - m(2, 0) * m(2, 1)) +
                    (m(k, 0) * m(k, 0) - m(2, 0) * m(2, 0)) * P(0, 0)));
    b(a + 1) = (m(k, 0) - m(2, 0)) * P(0, 0) + (m(k, 1) - m(2, 1)) * P(0, 1);
    b(a + 2) = (m(k, 0) - m(2, 0)) * P(0, 1) + (m(k, 1) - m(2, 1)) * P(1, 1);
  }
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
