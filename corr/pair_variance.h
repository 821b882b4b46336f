// The variance of Fisher's z of a gene pair's Spearman correlation as the
// pair's own values give it, for pairs whose joint distribution is far from
// a bivariate normal's.
//
// The weights of class_correlation.h take Bonett and Wright's variance
// (1 + rbar^2 / 2) / (n_k - 3), right for bivariate normal classes. Pairs
// of nearly identical genes (read-through transcripts, paralogues sharing
// reads) and pairs whose correlation comes from a few individuals have a
// much larger variance: under no SNP effect the classes are random subsets
// of the sample, and for such pairs random subsets differ in correlation far
// more than a normal's would (on the example's permuted copies, pairs with
// |r| >= 0.9 gave het p < 1e-3 at 18 times nominal, one of them at 100).
//
// For each pair the variance is estimated once per run over all the
// individuals (of a stratum, with strata) from the influence function of
// Spearman's rho: with m individuals, u_i and v_i the two genes' average
// ranks divided by m,
//   h_i = u_i v_i + (1/m) sum_j v_j [u_j >= u_i] + (1/m) sum_j u_j [v_j >=
//   v_i],
// m Var(r) tends to 144 Var(h), and the variance of z times m is
//   f = 144 Var(h) / (1 - rho^2)^2,
// rho the pair's Spearman correlation over the m individuals and Var(h) the
// mean squared deviation of the h_i. (Under independence f is 1, as for
// Bonett and Wright's at rho = 0.) The tests then use the larger of the two
// variances, (n_k - 3) / max(1 + rbar^2 / 2, f) as class k's weight: a pair
// that is near normal keeps its Bonett and Wright weights bit for bit, and
// noise in f can only make a test more conservative.
//
// The pair's cap is what the weights' inverse factor 1 / (1 + rbar^2 / 2) is
// clipped to: 1 / f where f > 1 (a float), kNoCap (infinity) otherwise,
// since no inverse factor exceeds 1. A gene with a NaN value or without two
// distinct values among the m individuals leaves its pairs at kNoCap.
// A pair whose ranks agree or are reversed exactly (|rho| = 1) gets cap 0:
// its within-class correlations differ only by the clip of |r| = 1, which
// carries no evidence, so the pair has no tests (NA; with strata, the
// stratum contributes nothing).
#ifndef ZIRK_CORR_PAIR_VARIANCE_H_
#define ZIRK_CORR_PAIR_VARIANCE_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace zirk_corr {

inline constexpr float kNoCap = std::numeric_limits<float>::infinity();

// Which variance of z the tests use.
enum class Variance {
  kEmpirical,  // the larger of Bonett and Wright's and the pair's own
  kNormal,     // Bonett and Wright's alone
};

// One gene's ranks over the run's individuals, as the caps need them.
class GeneRank {
 public:
  // `values` of `size` individuals (stride 1).
  GeneRank(const double* values, std::size_t size);

  // False with a NaN value or fewer than two distinct values.
  bool complete() const { return complete_; }

 private:
  friend struct CapKernel;
  friend float variance_cap(const GeneRank& a, const GeneRank& b,
                            std::vector<double>& scratch);
  bool complete_ = false;
  std::vector<std::uint32_t> order_;  // individuals by increasing value
  std::vector<double> u_;             // average rank / m, per individual
  // Per individual: the position in order_ where its tie block starts, so
  // that the individuals at and after it are those with u_j >= u_i.
  std::vector<std::uint32_t> block_;
};

// The cap of genes a and b (see above). `scratch` is reused between calls.
float variance_cap(const GeneRank& a, const GeneRank& b,
                   std::vector<double>& scratch);

// Every pair's cap among `genes` genes.
class PairVariance {
 public:
  PairVariance() = default;  // no caps: Bonett and Wright's weights alone

  // `values`: genes x individuals, gene-major. Runs on `threads` threads;
  // the caps do not depend on their number.
  PairVariance(const std::vector<double>& values, std::size_t genes,
               std::size_t individuals, int threads);

  bool empty() const { return caps_.empty(); }

  // Writes the caps of (g1, partner[i]) to out[i]; every partner > g1.
  void gather(std::size_t g1, std::span<const std::uint32_t> partners,
              float* out) const;

 private:
  std::size_t genes_ = 0;
  // The pairs (g1, g2), g1 < g2, row by row: (g1, g1 + 1), (g1, g1 + 2), ...
  std::vector<float> caps_;
};

}  // namespace zirk_corr

#endif  // ZIRK_CORR_PAIR_VARIANCE_H_
