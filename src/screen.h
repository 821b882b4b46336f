// The mean-covariance screen: per-class and whole-sample summaries of one
// (SNP, gene pair) and the likelihood-ratio test that the three genotype
// classes share one bivariate normal distribution of the two genes' log10
// values.
//
// Layouts handed on to the LDA likelihood:
// - nvec[k]: the size of class k, as a double;
// - summat (3 x 4), row k: sums over class k of x0, x1, x0^2, x1^2;
// - covmat (4 x 3), row k < 3 for class k and row 3 for the whole sample:
//   variance of x0, variance of x1, covariance, all with the member count
//   as divisor.
// The class of row i of `ymat` is 0 if ymat(i,0) is non-zero, else 1 if
// ymat(i,1) is non-zero, else 2.
#ifndef ZIRK_SCREEN_H_
#define ZIRK_SCREEN_H_

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>

#include "common.h"

// Adds the summaries of the first `count` rows of `xmat`/`ymat` into
// `nvec`, `summat` and `covmat`, which must be zero on entry, and finishes
// them as described above. The whole-sample variances come from the gene
// moments `mommat` (rows `gene1` and `gene2`: mean of the log10 values, mean
// of their squares); only the whole-sample cross-product is summed here. An
// empty class leaves NaN in its covmat row; nothing is checked or reported.
template <class MatrixT, class CountMatrixT, class IndexT, class VectorT>
void get_covmat_plusone_new(MatrixT& xmat, CountMatrixT& ymat, MatrixT& mommat,
                            MatrixT& covmat, MatrixT& summat, IndexT& count,
                            IndexT& gene1, IndexT& gene2, VectorT& nvec) {
  for (IndexT i = 0; i < count; ++i) {
    const double x0 = xmat(i, 0);
    const double x1 = xmat(i, 1);
    const unsigned k = genotype_class_of_row(ymat, i);
    // Class 2's size follows from the total after the pass.
    if (k != 2) {
      nvec(k) += 1.0;
    }
    summat(k, 0) += x0;
    summat(k, 1) += x1;
    summat(k, 2) += x0 * x0;
    summat(k, 3) += x1 * x1;
    covmat(k, 2) += x0 * x1;
    covmat(3, 2) += x0 * x1;
  }
  const double total = static_cast<double>(count);
  nvec(2) = (total - nvec(0)) - nvec(1);
  for (unsigned k = 0; k < 3; ++k) {
    const double c = nvec(k);
    const double mean0 = summat(k, 0) / c;
    const double mean1 = summat(k, 1) / c;
    covmat(k, 0) = summat(k, 2) / c - mean0 * mean0;
    covmat(k, 1) = summat(k, 3) / c - mean1 * mean1;
    covmat(k, 2) = covmat(k, 2) / c;
    covmat(k, 2) = covmat(k, 2) - ((summat(k, 0) / c) * summat(k, 1)) / c;
  }
  covmat(3, 0) = mommat(gene1, 1) - mommat(gene1, 0) * mommat(gene1, 0);
  covmat(3, 1) = mommat(gene2, 1) - mommat(gene2, 0) * mommat(gene2, 0);
  covmat(3, 2) = covmat(3, 2) / total - mommat(gene1, 0) * mommat(gene2, 0);
}

// The MC p-value of statistic s: the fixed 2.0 when s exceeds 9999.9 (plus
// infinity included), the fixed 1.0 when s is not positive (NaN included),
// and otherwise `tail`(s), the upper tail of chi-squared with 10 degrees of
// freedom, which is therefore only asked for a finite s in (0, 9999.9].
template <class Tail>
double mc_pvalue_of_statistic(double s, Tail tail) {
  if (s > 9999.9) return 2.0;
  if (!(s > 0)) return 1.0;
  return tail(s);
}

// Returns the MC p-value of the pair whose values are in `xmat` and classes
// in `ymat`, over the global `n` individuals, after filling `summat`,
// `covmat` and `nvec` (zero on entry) through get_covmat_plusone_new. The
// statistic s = n ln|S| - sum_k n_k ln|S_k| is left in `mcstat`. Fixed
// results stand in for degenerate data: 2.0 when s exceeds 9999.9 (plus
// infinity included: a class determinant of exactly 0), 1.0 when s is not
// positive (NaN included: an empty class or a negative determinant);
// otherwise the upper tail of chi-squared with 10 degrees of freedom at s.
template <class MatrixT, class CountMatrixT, class VectorT, class StatT,
          class IndexT>
double test_mean_cov(MatrixT& xmat, CountMatrixT& ymat, MatrixT& mommat,
                     MatrixT& summat, MatrixT& covmat, VectorT& nvec,
                     StatT& mcstat, IndexT& gene1, IndexT& gene2) {
  IndexT count = static_cast<IndexT>(n);
  get_covmat_plusone_new(xmat, ymat, mommat, covmat, summat, count, gene1,
                         gene2, nvec);
  const double total = static_cast<double>(count);
  double s =
      std::log(covmat(3, 0) * covmat(3, 1) - covmat(3, 2) * covmat(3, 2)) *
      total;
  mcstat = s;
  for (unsigned k = 0; k < 3; ++k) {
    const double det =
        covmat(k, 0) * covmat(k, 1) - covmat(k, 2) * covmat(k, 2);
    s = s - nvec(k) * std::log(det);
    mcstat = s;
  }
  return mc_pvalue_of_statistic(s, [](double statistic) {
    const boost::math::chi_squared_distribution<double> chi2(10.0);
    return boost::math::cdf(boost::math::complement(chi2, statistic));
  });
}

#endif  // ZIRK_SCREEN_H_
