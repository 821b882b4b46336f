#include "class_ranks.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>

#include "class_correlation.h"

namespace zirk_corr {

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
      double squares = 0.0;
      if (!hasNaN[k]) {
        for (std::size_t i = 0; i < size; ++i) squares += c[i] * c[i];
      }
      if (squares == 0.0) {
        std::fill(c, c + size, 0.0);
        continue;
      }
      const double scale = 1.0 / std::sqrt(squares);
      for (std::size_t i = 0; i < size; ++i) c[i] *= scale;
      ranks.usable[k][g] = 1;
    }
  }
}

}  // namespace zirk_corr
