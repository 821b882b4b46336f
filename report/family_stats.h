// The statistics of a family of rows computed from exact histograms: the
// Benjamini-Hochberg q-values and the empirical FDR of every distinct IT
// value, the genomic-control lambda of the MC statistic, the per-SNP and
// per-run permutation p-values and the points of a QQ plot.
#ifndef ZIRK_REPORT_FAMILY_STATS_H_
#define ZIRK_REPORT_FAMILY_STATS_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "run_summary.h"

namespace zirk_report {

// (key, count) with keys ascending; kNegInfKey is p = 0.
using Bins = std::vector<std::pair<std::int64_t, std::uint64_t>>;

// The family of `rows` rows of which `neg_inf` have p = 0 and those counted
// in `values` the value of their key (keys at or above 0 as p = 1); every
// other row (no value, or an undefined one) counts as p = 1 (key 0).
Bins family_bins(const Histogram& values, std::uint64_t neg_inf,
                 std::uint64_t rows);

// The IT values of the whole family of summary.rows rows: a row that did not
// reach the IT test, or whose IT value is undefined, counts as p = 1 (key 0).
Bins it_family(const RunSummary& summary);

// The Benjamini-Hochberg q-value of each bin of `family` (m = the total
// count): min over bins at or above it of min(1, p * m / rank), rank the
// number of rows at or below that bin.
std::vector<double> bh_qvalues(const Bins& family);

// The empirical FDR of each bin of `family` given the families of K >= 1
// permuted runs: min(1, mean over runs of the permuted rows at or below the
// bin's value / the real rows at or below it), then a running minimum from
// the largest value downwards.
std::vector<double> empirical_fdr(const Bins& family,
                                  const std::vector<Bins>& nulls);

// The permutation p-value of the run's smallest IT value: (1 + the permuted
// runs whose smallest value is at or below the real run's) / (K + 1), each
// taken from a family as it_family gives it (an empty family counts as p = 1).
// With no real effect anywhere it is at most alpha with probability at most
// alpha, whatever the dependence between rows; the empirical FDR alone is not.
double run_permutation_p(const Bins& family, const std::vector<Bins>& nulls);

// The rows of `family` reported at level `fdr`: without permuted runs those
// with a BH q-value at most `fdr`; with them, those with an empirical FDR at
// most `fdr`, and only when the run as a whole beats its permuted copies
// (run_permutation_p at most `fdr`). Without that gate one chance finding,
// repeated at SNPs in linkage disequilibrium, passes the empirical FDR in
// about one run of K + 1.
struct FamilySelection {
  std::vector<double> q, efdr;  // aligned with the family; efdr with nulls
  double run_p = 1.0;           // run_permutation_p, with nulls
  bool any = false;             // some row is selected
  std::int64_t cutoff = 0;      // when any: the largest selected key
};
FamilySelection select_family(const Bins& family,
                              const std::vector<Bins>& nulls, double fdr);

// Sets `key` to the largest key whose value in `q` (aligned with `family`)
// is at most `alpha`; returns false when no bin qualifies.
bool largest_key_at_most(const Bins& family, const std::vector<double>& q,
                         double alpha, std::int64_t& key);

// The value of `q` at `key`, which must be a key of `family`.
double value_at(const Bins& family, const std::vector<double>& q,
                std::int64_t key);

// Genomic control of the MC statistic: the median chi-squared(10) statistic
// of the rows with a defined MC p-value other than the fixed 1.0 and 2.0,
// divided by the median of chi-squared(10). Even counts take the mean of the
// two middle statistics.
struct Lambda {
  double value;  // NaN when no row enters
  std::uint64_t rows, fixed_one, fixed_two, undefined;
};
Lambda mc_lambda(const RunSummary& summary);

// The MC values that enter the lambda and the MC QQ plot, ascending.
Bins mc_lambda_bins(const RunSummary& summary);

// (1 + the runs whose best IT key at the SNP is at or below `real`) / (K + 1);
// a run without an IT value at the SNP has p = 1 there.
double snp_permutation_p(std::int32_t real,
                         const std::vector<std::int32_t>& null_best);

// Points of a QQ plot of `bins` against the uniform distribution, in
// -log10 units: every row with p < 10^-3 (at most `tail_points` of them,
// the smallest) and 400 evenly spaced ranks for the rest, with the pointwise
// 95 % band of the uniform order statistics at 200 ranks. Rows with p = 0
// have no finite point and are counted in `zeros`.
struct QqPlot {
  std::vector<std::pair<double, double>> points;  // (expected, observed)
  std::vector<double> band_x, band_lo, band_hi;
  std::uint64_t n = 0, zeros = 0;
};
QqPlot qq_plot(const Bins& bins, std::uint64_t tail_points);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_FAMILY_STATS_H_
