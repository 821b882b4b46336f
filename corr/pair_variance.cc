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

// The caps of gene a with genes b[0], ..., b[K - 1] (all complete). Each
// pair's sums are taken in variance_cap's order, so its cap has the same
// bits however many pairs share the pass; K pairs at once keep K
// independent chains of additions in flight instead of one.
struct CapKernel {
  template <std::size_t K>
  static void caps(const GeneRank& a, const GeneRank* const* b, float* out,
                   std::vector<double>& scratch) {
    const std::size_t m = a.u_.size();
    const double size = static_cast<double>(m);
    scratch.resize(3 * K * m);
    // above[j][t]: the sum of b[j]'s u over a's individuals from sorted
    // position t on; swapped[j] the same with the genes' roles swapped.
    double* above[K];
    double* swapped[K];
    double* h[K];
    for (std::size_t j = 0; j < K; ++j) {
      above[j] = scratch.data() + 3 * j * m;
      swapped[j] = above[j] + m;
      h[j] = swapped[j] + m;
    }
    double sumA[K] = {}, sumB[K] = {};
    for (std::size_t t = m; t-- > 0;) {
      for (std::size_t j = 0; j < K; ++j) {
        sumA[j] += b[j]->u_[a.order_[t]];
        above[j][t] = sumA[j];
        sumB[j] += a.u_[b[j]->order_[t]];
        swapped[j][t] = sumB[j];
      }
    }
    // Average ranks sum to m (m + 1) / 2 whatever the ties: both means are
    // (m + 1) / (2 m).
    const double middle = (size + 1.0) / (2.0 * size);
    double hSum[K] = {}, uv[K] = {}, uu[K] = {}, vv[K] = {};
    for (std::size_t i = 0; i < m; ++i) {
      const double u = a.u_[i];
      const double du = u - middle;
      for (std::size_t j = 0; j < K; ++j) {
        const double v = b[j]->u_[i];
        h[j][i] = u * v +
                  (above[j][a.block_[i]] + swapped[j][b[j]->block_[i]]) / size;
        hSum[j] += h[j][i];
        const double dv = v - middle;
        uv[j] += du * dv;
        uu[j] += du * du;
        vv[j] += dv * dv;
      }
    }
    double hMean[K], squares[K] = {};
    for (std::size_t j = 0; j < K; ++j) hMean[j] = hSum[j] / size;
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < K; ++j) {
        const double d = h[j][i] - hMean[j];
        squares[j] += d * d;
      }
    }
    for (std::size_t j = 0; j < K; ++j) {
      const double rho = uv[j] / std::sqrt(uu[j] * vv[j]);
      const double spread = 1.0 - rho * rho;
      if (!(spread > 0.0)) {
        out[j] = 0.0f;
        continue;
      }
      const double f = 144.0 * (squares[j] / size) / (spread * spread);
      out[j] = f > 1.0 ? static_cast<float>(1.0 / f) : kNoCap;
    }
  }
};

float variance_cap(const GeneRank& a, const GeneRank& b,
                   std::vector<double>& scratch) {
  if (!a.complete_ || !b.complete_) return kNoCap;
  const GeneRank* partner = &b;
  float cap;
  CapKernel::caps<1>(a, &partner, &cap, scratch);
  return cap;
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
    // The complete partners of a row, four at a time.
    std::vector<std::size_t> complete;
    // Rows shrink with g1: dynamic, one row at a time.
#pragma omp for schedule(dynamic, 1)
    for (std::size_t g1 = 0; g1 < genes; ++g1) {
      float* row = caps_.data() + g1 * (2 * genes - g1 - 1) / 2;
      complete.clear();
      for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
        if (ranks[g1].complete() && ranks[g2].complete()) {
          complete.push_back(g2);
        } else {
          row[g2 - g1 - 1] = kNoCap;
        }
      }
      std::size_t k = 0;
      for (; k + 4 <= complete.size(); k += 4) {
        const GeneRank* partners[4];
        float caps[4];
        for (std::size_t j = 0; j < 4; ++j)
          partners[j] = &ranks[complete[k + j]];
        CapKernel::caps<4>(ranks[g1], partners, caps, scratch);
        for (std::size_t j = 0; j < 4; ++j) {
          row[complete[k + j] - g1 - 1] = caps[j];
        }
      }
      for (; k < complete.size(); ++k) {
        row[complete[k] - g1 - 1] =
            variance_cap(ranks[g1], ranks[complete[k]], scratch);
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
