// Within-class rank correlations of one gene pair at one SNP, and the two
// tests of whether the SNP changes them: a 1-df trend over the dosage and a
// heterogeneity test over the classes.
//
// Class k holds the individuals with genotype class k (0: two copies of the
// reference allele, 1: one copy, 2: none). Within a class each gene's values
// are ranked (ties get their average rank) and r_k is the Pearson correlation
// of the ranks (Spearman). Working within each class leaves the tests blind
// to a SNP's effect on either gene's mean or spread; ranks leave them blind
// to the scale of the values.
//
// A class is usable when it holds at least the minimum class size of
// individuals (kDefaultMinClassSize unless the caller sets another, never
// below kSmallestClassSize) and both genes take more than one value in it
// (and no value is NaN). Over the usable classes, with z_k = atanh r_k and
// w_k = (n_k - 3) / (1 + rbar^2 / 2), the inverse of Bonett and Wright's
// (2000) variance of Fisher's z of a Spearman correlation, rbar =
// tanh(zbar0) the classes' pooled correlation and zbar0 their mean z
// weighted by n_k - 3:
// - het: Q = sum w_k (z_k - zbar)^2, zbar the weighted mean (= zbar0),
//   against chi-squared with (usable - 1) degrees of freedom;
// - trend: T = sum w_k (k - kbar) z_k / sqrt(sum w_k (k - kbar)^2), the
//   weighted regression slope of z_k on k divided by its standard error,
//   against the standard normal, two-sided.
// The variance of z grows with the correlation (by 30 % at 0.9): with the
// constant 1.06 / (n_k - 3), right near 0, both tests were up to three
// times too liberal for strongly co-expressed pairs. In classes of fewer
// than about 20 individuals z's tails are heavier than a normal's whatever
// the variance, hence the default minimum: docs/scores.md has the
// simulation behind both.
// Both need two usable classes; with fewer they are NaN.
//
// By default the weights' factor is the larger of 1 + rbar^2 / 2 and the
// pair's own variance of z over all its individuals (pair_variance.h), for
// pairs whose joint distribution is far from a bivariate normal's.
//
// |r_k| = 1 would make z_k infinite. Among n untied values the largest rank
// correlation below 1 is 1 - 12 / (n^3 - n), so a correlation is clipped to
// +-(1 - 6 / (n^3 - n)) before atanh: halfway between 1 and the nearest
// attainable value, which keeps the order of the classes' evidence and the
// p-values finite. Only z uses the clipped value; r_k is reported as is.
//
// z, the pooled correlation and the trend's p-value come from the vector
// functions of vector_math.h, which the rows of a whole SNP need millions
// of times; every pair, alone or in a panel of pairs, takes the same vector
// path, so its p-values have the same bits whichever way they were computed.
#ifndef ZIRK_CORR_CLASS_CORRELATION_H_
#define ZIRK_CORR_CLASS_CORRELATION_H_

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "pair_variance.h"

namespace zirk_corr {

// The within-class Spearman correlations of one gene pair and the two tests.
struct ClassCorrelation {
  std::array<int, 3> n;               // individuals per class
  std::array<bool, 3> usable;         // large enough, both genes vary
  std::array<double, 3> r;            // NaN where not usable
  double log10_p_trend, log10_p_het;  // NaN with fewer than two usable classes
};

// Fewest individuals a class needs to be usable: by default, and the least
// that may be set (n_k - 3 must be positive).
inline constexpr int kDefaultMinClassSize = 20;
inline constexpr int kSmallestClassSize = 4;

// `a`, `b`: the two genes' values; `cls`: 0, 1, 2 per individual, anything
// else = no class. The three spans have the same length. `min_class_size`
// is at least kSmallestClassSize. With Variance::kEmpirical the pair's cap
// comes from all of a and b, the individuals without a class included.
ClassCorrelation class_correlation(std::span<const double> a,
                                   std::span<const double> b,
                                   std::span<const int> cls,
                                   int min_class_size = kDefaultMinClassSize,
                                   Variance variance = Variance::kEmpirical);

// The two tests from given class correlations (used by the fast path too).
// Classes with usable[k] false are left out whatever r[k] and n[k] hold.
// Writes log10 of the two-sided p-values, NaN with fewer than two usable
// classes; -inf only if a p-value is 0 in exact arithmetic, which clipping
// rules out. `cap` bounds the weights' inverse factor (pair_variance.h).
void trend_het(const std::array<double, 3>& r, const std::array<int, 3>& n,
               const std::array<bool, 3>& usable, double* log10_p_trend,
               double* log10_p_het, double cap = kNoCap);

// log10 of erfc(x) for x >= 0, finite wherever erfc(x) is positive in exact
// arithmetic, including where it underflows double; NaN for NaN.
double log10_erfc(double x);

// log10_erfc of every entry of `values`, in place, in vector loops; the size
// must be a multiple of kLanes. Each entry gets the bits log10_erfc gives it.
void log10_erfc(std::span<double> values);

// The clip of |r_k| before atanh for a class of n individuals.
inline double fisher_limit(int n) {
  const double size = n;
  return 1.0 - 6.0 / (size * size * size - size);
}

// The two tests with the class sizes and usable classes fixed: the weights
// and the regression's constants are computed once for all the pairs that
// share them (every pair of a SNP whose genes vary in the same classes).
// trend_het is this class constructed and applied once, and its tails come
// from the same functions, so both give the same bits.
class TrendHet {
 public:
  TrendHet() = default;  // no usable class
  TrendHet(const std::array<int, 3>& n, const std::array<bool, 3>& usable);

  // From the classes' Fisher z (z[k] of class k being atanh_each of r_k
  // clipped to fisher_limit(n_k); entries of unusable classes ignored):
  // returns the trend's |T| / sqrt(2), whose two-sided p-value is erfc of
  // it, and writes log10 of het's p-value. Both NaN with fewer than two
  // usable classes, or with `cap` 0. The weights' inverse factor is clipped
  // to `cap`.
  double operator()(const std::array<double, 3>& z, double* log10_p_het,
                    double cap = kNoCap) const;

  // operator() of `size` pairs at once (a multiple of 4), pair i's Fisher z
  // being z0[i], z1[i], z2[i], for a test with at least two usable classes
  // (the array of an unusable class is not read and may be null), and the
  // trend's tail: writes the trend's log10 p-value, log10_erfc of what
  // operator() returns, to trend[i] and het's to het[i], each with the bits
  // operator() and log10_erfc give it with cap[i] (none where `cap` is
  // null), in vector loops.
  void apply(const double* z0, const double* z1, const double* z2,
             const float* cap, std::size_t size, double* trend,
             double* het) const;

 private:
  static constexpr double kNotComputed =
      std::numeric_limits<double>::quiet_NaN();

  // The weights' common factor 1 + rbar^2 / 2 is the pair's own; the
  // constants below hold the weights n_k - 3, which the factor scales:
  // zbar and kbar stay, Q is divided by the factor and T by its root.
  int classes_ = 0;                 // usable classes
  std::array<int, 3> class_{};      // their numbers, increasing
  std::array<double, 3> weight_{};  // n_k - 3
  std::array<double, 3> share_{};   // (n_k - 3) / sum (n_j - 3)
  std::array<double, 3> slope_{};   // (n_k - 3) (k - kbar) / sqrt(Sxx)
};

// Writes to `out` the average ranks of `values` (1 for the smallest, ties
// share the mean of their ranks) minus their mean, (size + 1) / 2, and
// returns the sum of their squares: 0 exactly when all values are equal.
// `order` is scratch space. NaN values must have been excluded by the
// caller.
double centred_ranks(std::span<const double> values, std::span<double> out,
                     std::vector<std::size_t>& order);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_CLASS_CORRELATION_H_
