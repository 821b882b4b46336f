#include "inverse_normal.h"

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <cstddef>
#include <numeric>

namespace zirk_import {

void inverse_normal_transform(std::vector<double>& values) {
  const std::size_t n = values.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(
      order.begin(), order.end(),
      [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  const boost::math::normal standard;
  const double denominator = static_cast<double>(n) + kBlomCountOffset;
  std::vector<double> scores(n);
  for (std::size_t begin = 0; begin < n;) {
    std::size_t end = begin + 1;
    while (end < n && values[order[end]] == values[order[begin]]) ++end;
    // 1-based ranks begin+1 .. end share their mean.
    const double rank = (static_cast<double>(begin + 1 + end)) / 2.0;
    const double score =
        boost::math::quantile(standard, (rank - kBlomRankOffset) / denominator);
    for (std::size_t k = begin; k < end; ++k) scores[order[k]] = score;
    begin = end;
  }
  values.swap(scores);
}

}  // namespace zirk_import
