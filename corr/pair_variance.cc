#include "pair_variance.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zirk_corr {

GeneRank::GeneRank(const double* values, std::size_t size)
    : order_(size), u_(size), block_(size) {
  if (std::any_of(values, values + size,
                  [](double v) { return std::isnan(v); })) {
    return;
  }
  std::iota(order_.begin(), order_.end(), 0u);
  std::sort(order_.begin(), order_.end(),
            [values](std::uint32_t x, std::uint32_t y) {
              return values[x] < values[y];
            });
  const double m = static_cast<double>(size);
  for (std::size_t start = 0; start < size;) {
    std::size_t end = start + 1;
    while (end < size && values[order_[end]] == values[order_[start]]) ++end;
    // Ranks start + 1 .. end, averaged.
    const double rank = (static_cast<double>(start + end) + 1.0) / 2.0;
    for (std::size_t t = start; t < end; ++t) {
      u_[order_[t]] = rank / m;
      block_[order_[t]] = static_cast<std::uint32_t>(start);
    }
    complete_ = complete_ || (start > 0);
    start = end;
  }
}

float variance_cap(const GeneRank& a, const GeneRank& b,
                   std::vector<double>& scratch) {
  if (!a.complete_ || !b.complete_) return kNoCap;
  const std::size_t m = a.u_.size();
  const double size = static_cast<double>(m);
  scratch.resize(3 * m);
  // above[t]: the sum of b's u over a's individuals from sorted position t
  // on, and below the same with the genes' roles swapped.
  double* above = scratch.data();
  double* swapped = above + m;
  double* h = swapped + m;
  double sumA = 0.0, sumB = 0.0;
  for (std::size_t t = m; t-- > 0;) {
    sumA += b.u_[a.order_[t]];
    above[t] = sumA;
    sumB += a.u_[b.order_[t]];
    swapped[t] = sumB;
  }
  // Average ranks sum to m (m + 1) / 2 whatever the ties: both means are
  // (m + 1) / (2 m).
  const double middle = (size + 1.0) / (2.0 * size);
  double hSum = 0.0, uv = 0.0, uu = 0.0, vv = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    const double u = a.u_[i], v = b.u_[i];
    h[i] = u * v + (above[a.block_[i]] + swapped[b.block_[i]]) / size;
    hSum += h[i];
    const double du = u - middle, dv = v - middle;
    uv += du * dv;
    uu += du * du;
    vv += dv * dv;
  }
  const double hMean = hSum / size;
  double squares = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    const double d = h[i] - hMean;
    squares += d * d;
  }
  const double rho = uv / std::sqrt(uu * vv);
  const double spread = 1.0 - rho * rho;
  if (!(spread > 0.0)) return 0.0f;
  const double f = 144.0 * (squares / size) / (spread * spread);
  return f > 1.0 ? static_cast<float>(1.0 / f) : kNoCap;
}

PairVariance::PairVariance(const std::vector<double>& values, std::size_t genes,
                           std::size_t individuals, int threads)
    : genes_(genes), caps_(genes * (genes - (genes > 0)) / 2) {
  std::vector<GeneRank> ranks;
  ranks.reserve(genes);
  for (std::size_t g = 0; g < genes; ++g) {
    ranks.emplace_back(&values[g * individuals], individuals);
  }
#pragma omp parallel num_threads(threads)
  {
    std::vector<double> scratch;
    // Rows shrink with g1: dynamic, one row at a time.
#pragma omp for schedule(dynamic, 1)
    for (std::size_t g1 = 0; g1 < genes; ++g1) {
      float* row = caps_.data() + g1 * (2 * genes - g1 - 1) / 2;
      for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
        row[g2 - g1 - 1] = variance_cap(ranks[g1], ranks[g2], scratch);
      }
    }
  }
}

void PairVariance::gather(std::size_t g1,
                          std::span<const std::uint32_t> partners,
                          float* out) const {
  const float* row = caps_.data() + g1 * (2 * genes_ - g1 - 1) / 2;
  for (std::size_t i = 0; i < partners.size(); ++i) {
    out[i] = row[partners[i] - g1 - 1];
  }
}

}  // namespace zirk_corr
