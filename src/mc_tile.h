// The MC test of four gene pairs side by side: the engine's kernel for the
// pairs (g1, g2 + l), l < 4, of one SNP.
//
// The class covariances come out exactly as the mean-covariance test forms
// them: each lane repeats the scalar operations in their order, and no
// multiply-add is fused. The statistic s = n ln|S| - sum_k n_k ln|S_k| and
// ln p are then taken with vector logarithms (on processors with AVX2) that
// are good to a few units in the last place but not equal to std::log, so
// the kernel returns s with a bound on its distance from the exact
// statistic, for McJudge::settle. Pairs that the bound does not settle are
// judged again from mc_exact_statistic.
#ifndef ZIRK_MC_TILE_H_
#define ZIRK_MC_TILE_H_

#include <cstddef>

inline constexpr std::size_t kMcLanes = 4;

// What the kernel reads. Pointers address kMcLanes values, one per pair.
struct McTileInput {
  const double* classCross[3];     // sum over class k of x(i,g1) x(i,g2+l)
  const double* classSum[3];       // class k's sum of gene g2 + l
  const double* classVariance[3];  // class k's variance of gene g2 + l
  const double* wholeTerm;         // n ln|S| of each pair
  double mean1[3];                 // class k's mean of gene g1
  double variance1[3];             // class k's variance of gene g1
  double nvec[3];                  // class sizes
};

struct McTileOutput {
  double c2[3][kMcLanes];      // class k's covariance of the two genes, exact
  double s[kMcLanes];          // the statistic, within `bound` of the exact one
  double bound[kMcLanes];      // infinite where a determinant is not a positive
                               // normal double
  double logPvalue[kMcLanes];  // ln(tail_polynomial(s / 2)) - s / 2
};

// Fills `out` from `in` for kMcLanes pairs.
void mc_tile(const McTileInput& in, McTileOutput& out);

// The exact statistic of lane l of a tile, as the mean-covariance test
// computes it: s = wholeTerm, then s - nvec[k] ln(v0 v1 - c2^2) for k = 0,
// 1, 2.
double mc_exact_statistic(const McTileInput& in, const McTileOutput& out,
                          std::size_t l);

#endif  // ZIRK_MC_TILE_H_
