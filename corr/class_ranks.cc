#include "class_ranks.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "class_correlation.h"

namespace zirk_corr {
namespace {

// Classes below this size have centred ranks whose squares and every
// partial sum of them are exact doubles: multiples of 1/4 below
// size^3 / 4 < 2^51.
constexpr std::size_t kExactSquares = std::size_t{1} << 17;

// The sum of the squares of `size` centred ranks (multiples of 1/2). Where
// every partial sum is exact, any order gives the same bits, and four sums
// side by side spare the wait for each addition; else in order.
double sum_of_squares(const double* c, std::size_t size) {
  if (size >= kExactSquares) {
    double squares = 0.0;
    for (std::size_t i = 0; i < size; ++i) squares += c[i] * c[i];
    return squares;
  }
  double part[4] = {0.0, 0.0, 0.0, 0.0};
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    for (int j = 0; j < 4; ++j) part[j] += c[i + j] * c[i + j];
  }
  for (; i < size; ++i) part[0] += c[i] * c[i];
  return (part[0] + part[1]) + (part[2] + part[3]);
}

// c[i] *= scale for `size` values, four at a time where the processor has
// AVX2 (one correctly rounded product each, the bits of the scalar loop).
#if defined(__x86_64__)
__attribute__((target("avx2"))) void scale_avx2(double* c, std::size_t size,
                                                double scale) {
  const __m256d factor = _mm256_set1_pd(scale);
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    _mm256_storeu_pd(c + i, _mm256_mul_pd(_mm256_loadu_pd(c + i), factor));
  }
  for (; i < size; ++i) c[i] *= scale;
}
#endif

void scale_each(double* c, std::size_t size, double scale) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    scale_avx2(c, size, scale);
    return;
  }
#endif
  for (std::size_t i = 0; i < size; ++i) c[i] *= scale;
}

}  // namespace

GeneOrders::GeneOrders(const std::vector<double>& values, std::size_t genes,
                       std::size_t individuals)
    : genes_(genes),
      individuals_(individuals),
      order_(genes * individuals),
      sorted_(genes * individuals) {
  for (std::size_t g = 0; g < genes; ++g) {
    const double* v = &values[g * individuals];
    std::uint32_t* o = &order_[g * individuals];
    std::iota(o, o + individuals, 0u);
    std::sort(o, o + individuals, [v](std::uint32_t a, std::uint32_t b) {
      return !std::isnan(v[a]) && (std::isnan(v[b]) || v[a] < v[b]);
    });
    for (std::size_t i = 0; i < individuals; ++i) {
      sorted_[g * individuals + i] = v[o[i]];
    }
  }
}

void prepare_class_ranks(const std::vector<std::uint8_t>& cls,
                         std::size_t genes, int min_class_size,
                         ClassRanks& ranks,
                         std::vector<std::uint32_t>& position) {
  assert(min_class_size >= kSmallestClassSize);
  ranks.n = {0, 0, 0};
  position.resize(cls.size());
  for (std::size_t i = 0; i < cls.size(); ++i) {
    position[i] = static_cast<std::uint32_t>(ranks.n[cls[i]]++);
  }
  for (int k = 0; k < 3; ++k) {
    const bool kept = ranks.n[k] >= min_class_size;
    ranks.x[k].resize(kept ? static_cast<std::size_t>(ranks.n[k]) * genes : 0);
    ranks.usable[k].assign(genes, 0);
  }
}

void rank_genes(const GeneOrders& orders, const std::vector<std::uint8_t>& cls,
                const std::vector<std::uint32_t>& position, std::size_t first,
                std::size_t last, ClassRanks& ranks) {
  const std::size_t individuals = orders.individuals();
  std::array<double, 3> middle{};
  for (int k = 0; k < 3; ++k) middle[k] = (ranks.n[k] + 1.0) / 2.0;
  for (std::size_t g = first; g < last; ++g) {
    const std::uint32_t* order = orders.order(g);
    const double* sorted = orders.sorted(g);
    std::array<double*, 3> column{};
    for (int k = 0; k < 3; ++k) {
      if (!ranks.x[k].empty()) column[k] = &ranks.x[k][g * ranks.n[k]];
    }
    std::array<int, 3> before{0, 0, 0};
    std::array<bool, 3> hasNaN{false, false, false};
    for (std::size_t start = 0; start < individuals;) {
      if (std::isnan(sorted[start])) {
        for (std::size_t j = start; j < individuals; ++j) {
          hasNaN[cls[order[j]]] = true;
        }
        break;
      }
      std::size_t end = start + 1;
      while (end < individuals && sorted[end] == sorted[start]) ++end;
      if (end == start + 1) {
        // Untied, as most values are: rank before + 1, exactly the average
        // below with one tied value.
        const std::uint32_t i = order[start];
        const int k = cls[i];
        ++before[k];
        if (column[k] != nullptr)
          column[k][position[i]] = before[k] - middle[k];
        start = end;
        continue;
      }
      std::array<int, 3> tied{0, 0, 0};
      for (std::size_t j = start; j < end; ++j) ++tied[cls[order[j]]];
      for (std::size_t j = start; j < end; ++j) {
        const std::uint32_t i = order[j];
        const int k = cls[i];
        if (column[k] == nullptr) continue;
        column[k][position[i]] = before[k] + (tied[k] + 1.0) / 2.0 - middle[k];
      }
      for (int k = 0; k < 3; ++k) before[k] += tied[k];
      start = end;
    }
    for (int k = 0; k < 3; ++k) {
      if (column[k] == nullptr) continue;
      double* c = column[k];
      const std::size_t size = static_cast<std::size_t>(ranks.n[k]);
      const double squares = hasNaN[k] ? 0.0 : sum_of_squares(c, size);
      if (squares == 0.0) {
        std::fill(c, c + size, 0.0);
        continue;
      }
      scale_each(c, size, 1.0 / std::sqrt(squares));
      ranks.usable[k][g] = 1;
    }
  }
}

}  // namespace zirk_corr
