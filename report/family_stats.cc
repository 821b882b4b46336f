#include "family_stats.h"

#include <algorithm>
#include <boost/math/distributions/beta.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <limits>

namespace zirk_report {

namespace {

double p_of(std::int64_t key) {
  return key == kNegInfKey ? 0.0
                           : std::pow(10.0, static_cast<double>(key) / 1e6);
}

// A running minimum from the last (largest) bin down, capped at 1.
void make_monotone(std::vector<double>& q) {
  double low = 1.0;
  for (std::size_t i = q.size(); i-- > 0;) {
    low = std::min(low, q[i]);
    q[i] = low;
  }
}

double chi2_10_statistic(std::int64_t key) {
  if (key == kNegInfKey) return std::numeric_limits<double>::infinity();
  const double p = p_of(key);
  if (p >= 1.0) return 0.0;
  static const boost::math::chi_squared dist(10);
  return boost::math::quantile(boost::math::complement(dist, p));
}

}  // namespace

Bins family_bins(const Histogram& values, std::uint64_t neg_inf,
                 std::uint64_t rows) {
  Bins out;
  std::uint64_t below_one = 0;
  if (neg_inf > 0) {
    out.emplace_back(kNegInfKey, neg_inf);
    below_one += neg_inf;
  }
  values.visit([&](std::int64_t key, std::uint64_t count) {
    if (key >= 0) return false;
    out.emplace_back(key, count);
    below_one += count;
    return true;
  });
  if (rows > below_one) out.emplace_back(0, rows - below_one);
  return out;
}

Bins it_family(const RunSummary& s) {
  return family_bins(s.it, s.it_neg_inf, s.rows);
}

std::vector<double> bh_qvalues(const Bins& family) {
  std::uint64_t m = 0;
  for (const auto& b : family) m += b.second;
  std::vector<double> q(family.size());
  std::uint64_t rank = 0;
  for (std::size_t i = 0; i < family.size(); ++i) {
    rank += family[i].second;
    q[i] = p_of(family[i].first) * static_cast<double>(m) /
           static_cast<double>(rank);
  }
  make_monotone(q);
  return q;
}

std::vector<double> empirical_fdr(const Bins& family,
                                  const std::vector<Bins>& nulls) {
  std::vector<double> expected(family.size(), 0.0);
  for (const Bins& null : nulls) {
    std::size_t j = 0;
    std::uint64_t at_or_below = 0;
    for (std::size_t i = 0; i < family.size(); ++i) {
      while (j < null.size() && null[j].first <= family[i].first) {
        at_or_below += null[j++].second;
      }
      expected[i] += static_cast<double>(at_or_below);
    }
  }
  std::vector<double> q(family.size());
  std::uint64_t rank = 0;
  for (std::size_t i = 0; i < family.size(); ++i) {
    rank += family[i].second;
    q[i] = std::min(1.0, expected[i] / static_cast<double>(nulls.size()) /
                             static_cast<double>(rank));
  }
  make_monotone(q);
  return q;
}

double run_permutation_p(const Bins& family, const std::vector<Bins>& nulls) {
  const auto best = [](const Bins& f) {
    return f.empty() ? std::int64_t{0} : f.front().first;
  };
  std::uint64_t as_small = 0;
  for (const Bins& null : nulls) as_small += best(null) <= best(family);
  return static_cast<double>(1 + as_small) /
         static_cast<double>(nulls.size() + 1);
}

FamilySelection select_family(const Bins& family,
                              const std::vector<Bins>& nulls, double fdr) {
  FamilySelection s;
  s.q = bh_qvalues(family);
  if (nulls.empty()) {
    s.any = largest_key_at_most(family, s.q, fdr, s.cutoff);
    return s;
  }
  s.efdr = empirical_fdr(family, nulls);
  s.run_p = run_permutation_p(family, nulls);
  s.any = s.run_p <= fdr && largest_key_at_most(family, s.efdr, fdr, s.cutoff);
  return s;
}

bool largest_key_at_most(const Bins& family, const std::vector<double>& q,
                         double alpha, std::int64_t& key) {
  for (std::size_t i = family.size(); i-- > 0;) {
    if (q[i] <= alpha) {
      key = family[i].first;
      return true;
    }
  }
  return false;
}

double value_at(const Bins& family, const std::vector<double>& q,
                std::int64_t key) {
  const auto it = std::lower_bound(
      family.begin(), family.end(), key,
      [](const auto& bin, std::int64_t k) { return bin.first < k; });
  return q[static_cast<std::size_t>(it - family.begin())];
}

Bins mc_lambda_bins(const RunSummary& s) {
  Bins out;
  if (s.mc_neg_inf > 0) out.emplace_back(kNegInfKey, s.mc_neg_inf);
  s.mc.visit([&](std::int64_t key, std::uint64_t count) {
    // 0.301030 is only ever the fixed p = 2.0 of a one-individual class.
    if (key == 301030) return true;
    if (key == 0) count -= s.mc_fixed_one;
    if (count > 0) out.emplace_back(key, count);
    return true;
  });
  return out;
}

Lambda mc_lambda(const RunSummary& s) {
  const Bins bins = mc_lambda_bins(s);
  Lambda l{std::numeric_limits<double>::quiet_NaN(), 0, s.mc_fixed_one, 0,
           s.mc_nan};
  s.mc.visit([&l](std::int64_t key, std::uint64_t count) {
    if (key == 301030) l.fixed_two = count;
    return key < 301030;
  });
  for (const auto& b : bins) l.rows += b.second;
  if (l.rows == 0) return l;
  // Ascending p is descending statistic; the middle ranks are the same.
  const std::uint64_t lo = (l.rows - 1) / 2, hi = l.rows / 2;
  std::int64_t key_lo = 0, key_hi = 0;
  std::uint64_t seen = 0;
  for (const auto& b : bins) {
    if (lo >= seen && lo < seen + b.second) key_lo = b.first;
    if (hi >= seen && hi < seen + b.second) key_hi = b.first;
    seen += b.second;
  }
  const double median =
      (chi2_10_statistic(key_lo) + chi2_10_statistic(key_hi)) / 2.0;
  static const boost::math::chi_squared dist(10);
  l.value = median / boost::math::median(dist);
  return l;
}

double snp_permutation_p(std::int32_t real,
                         const std::vector<std::int32_t>& null_best) {
  std::uint64_t as_small = 0;
  for (std::int32_t b : null_best) {
    const std::int32_t v = b == SnpStat::kNoIt || b == SnpStat::kUnseen ? 0 : b;
    if (v <= real) ++as_small;
  }
  return static_cast<double>(1 + as_small) /
         static_cast<double>(null_best.size() + 1);
}

QqPlot qq_plot(const Bins& bins, std::uint64_t tail_points) {
  QqPlot plot;
  for (const auto& b : bins) {
    plot.n += b.second;
    if (b.first == kNegInfKey) plot.zeros += b.second;
  }
  if (plot.n == 0) return plot;
  const double n1 = static_cast<double>(plot.n) + 1.0;
  const auto expected = [n1](std::uint64_t rank) {
    return -std::log10(static_cast<double>(rank) / n1);
  };
  // Ranks to draw, ascending: the tail one by one, then evenly spaced.
  std::vector<std::uint64_t> ranks;
  std::uint64_t tail_end = plot.zeros;  // last rank with p < 10^-3
  for (const auto& b : bins) {
    if (b.first != kNegInfKey && b.first < -3'000'000) tail_end += b.second;
  }
  const std::uint64_t tail_last = std::min(tail_end, plot.zeros + tail_points);
  for (std::uint64_t r = plot.zeros + 1; r <= tail_last; ++r)
    ranks.push_back(r);
  const std::uint64_t first =
      std::max<std::uint64_t>(tail_last + 1, plot.zeros + 1);
  if (first <= plot.n) {
    const double x0 = expected(first), x1 = expected(plot.n);
    for (int j = 0; j <= 400; ++j) {
      const double x = x0 + (x1 - x0) * j / 400.0;
      auto r =
          static_cast<std::uint64_t>(std::llround(n1 * std::pow(10.0, -x)));
      r = std::clamp(r, first, plot.n);
      if (ranks.empty() || r > ranks.back()) ranks.push_back(r);
    }
  }
  std::size_t next = 0;
  std::uint64_t seen = 0;
  for (const auto& b : bins) {
    seen += b.second;
    while (next < ranks.size() && ranks[next] <= seen) {
      plot.points.emplace_back(expected(ranks[next]),
                               -static_cast<double>(b.first) / 1e6);
      ++next;
    }
  }
  // The band at ranks spread evenly on the -log10 scale.
  const double top = expected(1);
  std::uint64_t last = 0;
  for (int j = 0; j <= 200; ++j) {
    const double x = top * (200 - j) / 200.0;
    auto r = static_cast<std::uint64_t>(std::llround(n1 * std::pow(10.0, -x)));
    r = std::clamp<std::uint64_t>(r, 1, plot.n);
    if (r <= last) continue;
    last = r;
    const boost::math::beta_distribution<> order(
        static_cast<double>(r), static_cast<double>(plot.n - r + 1));
    plot.band_x.push_back(expected(r));
    plot.band_lo.push_back(-std::log10(boost::math::quantile(order, 0.975)));
    plot.band_hi.push_back(-std::log10(boost::math::quantile(order, 0.025)));
  }
  return plot;
}

}  // namespace zirk_report
