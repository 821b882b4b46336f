// The trend and het tests of one gene pair at one SNP with the individuals
// split into strata (ancestry groups, batches, sites): the correlations are
// taken within each (stratum, genotype class) cell, so that groups with
// co-expression of their own and genotype frequencies of their own cannot
// make the classes differ.
//
// A cell is usable under class_correlation.h's rule applied to the cell
// alone: at least the minimum class size of the stratum's individuals in
// the class, and both genes varying (no NaN) among them. A stratum
// contributes when it has at least two usable cells for the pair; a stratum
// with fewer contributes nothing. Within a contributing stratum s, z_sk =
// atanh r_sk (clipped as in class_correlation.h) and w_sk = (n_sk - 3) /
// (1 + rbar_s^2 / 2), rbar_s the tanh of the stratum's classes' mean z
// weighted by n_sk - 3: the pooled correlation within the stratum, which
// under no SNP effect is the correlation each of its classes shares.
// - het: Q = sum_s sum_k w_sk (z_sk - zbar_s)^2, zbar_s the stratum's
//   weighted mean, against chi-squared with sum_s (usable_s - 1) degrees of
//   freedom: the sum of the strata's own heterogeneity statistics.
// - trend: the fixed-effect slope of z on the class number within strata,
//   T = sum_s sum_k w_sk (k - kbar_s) z_sk / sqrt(sum_s sum_k w_sk (k -
//   kbar_s)^2), kbar_s the stratum's weighted mean class, against the
//   standard normal, two-sided: the slope divided by its standard error.
// Both are NaN when no stratum contributes.
#ifndef ZIRK_CORR_STRATIFIED_TESTS_H_
#define ZIRK_CORR_STRATIFIED_TESTS_H_

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zirk_corr {

// The tests with every cell's size fixed (one SNP): the constants of each
// stratum and combination of usable classes are computed once for all the
// pairs of the SNP.
class StratifiedTests {
 public:
  StratifiedTests() = default;  // no stratum
  // n[s][k]: the individuals of stratum s in class k.
  explicit StratifiedTests(std::span<const std::array<int, 3>> n);

  // From the cells' Fisher z (z[s][k], atanh of r_sk clipped to
  // fisher_limit(n_sk); ignored where bit k of masks[s] is clear) and each
  // stratum's usable classes (bit k: class k): returns the trend's |T| /
  // sqrt(2), whose two-sided p-value is erfc of it, and writes log10 of
  // het's p-value. Both NaN when no stratum contributes. caps[s], where
  // given, bounds stratum s's inverse factor 1 / (1 + rbar_s^2 / 2): the
  // pair's cap among the stratum's individuals (pair_variance.h); a
  // stratum whose cap is 0 contributes nothing.
  double operator()(std::span<const std::array<double, 3>> z,
                    std::span<const std::uint8_t> masks, double* log10_p_het,
                    std::span<const float> caps = {}) const;

 private:
  // One stratum's constants for one combination of usable classes; the
  // weights n_sk - 3 before the pair's own factor 1 / (1 + rbar_s^2 / 2).
  struct Cells {
    int classes = 0;                 // usable classes
    std::array<int, 3> class_{};     // their numbers, increasing
    std::array<double, 3> weight{};  // n_sk - 3
    std::array<double, 3> share{};   // (n_sk - 3) / sum_j (n_sj - 3)
    std::array<double, 3> slope{};   // (n_sk - 3) (k - kbar_s)
    double sxx = 0.0;                // sum_k (n_sk - 3) (k - kbar_s)^2
  };
  std::vector<std::array<Cells, 8>> strata_;
};

// log10 of the chi-squared survival function at q with `df` degrees of
// freedom (df >= 1), finite wherever the p-value is positive in exact
// arithmetic, including below the smallest double.
double log10_chi_squared_tail(double q, int df);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_STRATIFIED_TESTS_H_
