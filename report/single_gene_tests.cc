#include "single_gene_tests.h"

#include <algorithm>
#include <array>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <limits>
#include <vector>

namespace zirk_report {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The values of each class, NaN and unclassed entries left out.
std::array<std::vector<double>, 3> by_class(std::span<const double> values,
                                            std::span<const int> cls) {
  std::array<std::vector<double>, 3> groups;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (cls[i] >= 0 && cls[i] <= 2 && !std::isnan(values[i])) {
      groups[static_cast<std::size_t>(cls[i])].push_back(values[i]);
    }
  }
  return groups;
}

double anova(const std::array<std::vector<double>, 3>& groups) {
  double total = 0;
  std::size_t n = 0, k = 0;
  bool all_constant = true;
  for (const auto& g : groups) {
    if (g.empty()) continue;
    ++k;
    n += g.size();
    for (double v : g) {
      total += v;
      all_constant = all_constant && v == g[0];
    }
  }
  // Every class constant leaves no variance within the classes to test
  // against; decided on the values themselves, since rounding in the means
  // would leave a few units in the last place instead of zero.
  if (k < 2 || n <= k || all_constant) return kNaN;
  const double grand = total / static_cast<double>(n);
  // Two passes: class means first, so that large common offsets (log
  // values near 3, say) do not cancel in the sums of squares.
  double between = 0, within = 0;
  for (const auto& g : groups) {
    if (g.empty()) continue;
    double sum = 0;
    for (double v : g) sum += v;
    const double mean = sum / static_cast<double>(g.size());
    between += static_cast<double>(g.size()) * (mean - grand) * (mean - grand);
    for (double v : g) within += (v - mean) * (v - mean);
  }
  if (!std::isfinite(between + within)) return kNaN;
  const double df1 = static_cast<double>(k - 1);
  const double df2 = static_cast<double>(n - k);
  const double f = (between / df1) / (within / df2);
  const boost::math::fisher_f_distribution<double> dist(df1, df2);
  return std::log10(boost::math::cdf(boost::math::complement(dist, f)));
}

double median(std::vector<double> v) {
  const std::size_t h = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + h, v.end());
  if (v.size() % 2 == 1) return v[h];
  const double upper = v[h];
  const double lower = *std::max_element(v.begin(), v.begin() + h);
  return (lower + upper) / 2;
}

}  // namespace

double anova_log10_p(std::span<const double> values, std::span<const int> cls) {
  return anova(by_class(values, cls));
}

double brown_forsythe_log10_p(std::span<const double> values,
                              std::span<const int> cls) {
  auto groups = by_class(values, cls);
  for (auto& g : groups) {
    if (g.empty()) continue;
    const double m = median(g);
    for (double& v : g) v = std::fabs(v - m);
  }
  return anova(groups);
}

}  // namespace zirk_report
