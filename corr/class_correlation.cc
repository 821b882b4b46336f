#include "class_correlation.h"

#include <algorithm>
#include <boost/math/constants/constants.hpp>
#include <cassert>
#include <cmath>
#include <limits>
#include <utility>

#include "libmvec.h"
#include "pair_variance.h"
#include "vector_math.h"

namespace zirk_corr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Below this argument erfc stays above the smallest normal double, and its
// logarithm is taken of the C library's vector erfc; above it, from the
// asymptotic series, whose seventh term is below 1e-17 there.
constexpr double kErfcSeriesFrom = 26.0;

// log10 erfc(x) for x >= kErfcSeriesFrom, where erfc(x) may underflow.
double log10_erfc_series(double x) {
  if (std::isinf(x)) return -std::numeric_limits<double>::infinity();
  // erfc(x) = exp(-x^2) / (x sqrt(pi)) * sum_m (-1)^m (2m-1)!! / (2x^2)^m.
  const double inverse = 1.0 / (2.0 * x * x);
  double term = 1.0;
  double sum = 1.0;
  for (int m = 1; m <= 6; ++m) {
    term *= -(2.0 * m - 1.0) * inverse;
    sum += term;
  }
  const double ln = -x * x -
                    std::log(x * boost::math::constants::root_pi<double>()) +
                    std::log(sum);
  return ln / boost::math::constants::ln_ten<double>();
}

// The inverse of the weights' common factor 1 + rbar^2 / 2 (the variance
// of z times n_k - 3) from e = exp(2 zbar0): with rbar = tanh(zbar0) =
// (e - 1) / (e + 1) it is 2 (e + 1)^2 / (3 e^2 + 2 e + 3), one division.
// e stays below 1e18 for any class size a double can count.
inline double inverse_factor(double e) {
  const double plus = e + 1.0;
  return 2.0 * plus * plus / ((3.0 * e + 2.0) * e + 3.0);
}

// A pair without a test (a cap of 0, pair_variance.h).
constexpr double kNotTested = std::numeric_limits<double>::quiet_NaN();

// log10 p of het with 2 df is -q / (2 ln 10): q times this.
constexpr double kHetScale = -0.5 / boost::math::constants::ln_ten<double>();

// TrendHet::apply's loops over kClasses usable classes, z[j] the Fisher z
// of the j-th: the constants by value and whole groups of four, so that the
// vector code needs no scalar tail. The arithmetic is TrendHet::operator()'s,
// in its order: the first loop writes 2 zbar to `het`, exp_each takes its
// exponential, and the second loop, from the same zbar again, the rest.
template <int kClasses>
void pooled(std::array<double, 3> share, std::array<const double*, 3> z,
            std::size_t groups, double* __restrict twice) {
  for (std::size_t group = 0; group < groups; ++group) {
    for (std::size_t lane = 0; lane < 4; ++lane) {
      const std::size_t i = 4 * group + lane;
      double zBar = 0.0;
      for (int j = 0; j < kClasses; ++j) zBar += share[j] * z[j][i];
      twice[i] = 2.0 * zBar;
    }
  }
}

// With kCapped, each pair's inverse factor is clipped to its cap
// (pair_variance.h); without, no cap is below the factor. With two classes
// het has one degree of freedom, and the loop writes sqrt(q / 2), whose
// log10 erfc the caller takes, as TrendHet::operator() does.
template <int kClasses, bool kCapped>
void tests(std::array<double, 3> share, std::array<double, 3> slope,
           std::array<double, 3> weight, std::array<const double*, 3> z,
           const float* __restrict cap, std::size_t groups,
           double* __restrict trend, double* __restrict het) {
  for (std::size_t group = 0; group < groups; ++group) {
    for (std::size_t lane = 0; lane < 4; ++lane) {
      const std::size_t i = 4 * group + lane;
      double zBar = 0.0, t = 0.0;
      for (int j = 0; j < kClasses; ++j) {
        zBar += share[j] * z[j][i];
        t += slope[j] * z[j][i];
      }
      double inverse = inverse_factor(het[i]);
      if constexpr (kCapped) inverse = std::min(inverse, double{cap[i]});
      double q = 0.0;
      for (int j = 0; j < kClasses; ++j) {
        const double d = z[j][i] - zBar;
        q += weight[j] * d * d;
      }
      q *= inverse;
      het[i] = kClasses == 3 ? q * kHetScale : std::sqrt(q / 2.0);
      trend[i] = std::fabs(t) * std::sqrt(inverse / 2.0);
      if constexpr (kCapped) {
        if (cap[i] == 0.0f) het[i] = trend[i] = kNotTested;
      }
    }
  }
}

// Entries whose erfc may underflow, with their argument, for the series.
using FarValues = std::vector<std::pair<std::size_t, double>>;

#if defined(__x86_64__)
// log10_erfc(span) of the four lanes of x, entries i to i + 3: a lane at or
// above kErfcSeriesFrom takes the vector calls as 0 and is noted in `far`
// for the series.
__attribute__((target("avx2"))) __m256d log10_erfc4(__m256d x, std::size_t i,
                                                    FarValues& far) {
  const __m256d series =
      _mm256_cmp_pd(x, _mm256_set1_pd(kErfcSeriesFrom), _CMP_GE_OQ);
  const int lanes = _mm256_movemask_pd(series);
  if (lanes != 0) {
    alignas(32) double value[4];
    _mm256_store_pd(value, x);
    for (int lane = 0; lane < 4; ++lane) {
      if ((lanes >> lane & 1) != 0) far.emplace_back(i + lane, value[lane]);
    }
    x = _mm256_andnot_pd(series, x);
  }
  return _ZGVdN4v_log10(_ZGVdN4v_erfc(x));
}

// pooled(), exp_each and tests() four pairs at a time where the processor
// has AVX2, and the tails that follow them (log10_erfc of the trend, and of
// het with two classes), all in one loop: the same operations in the same
// order, and every one of them (add, multiply, divide, square root, min,
// conversion of the cap) is correctly rounded at any width and the vector
// functions' lanes are independent, so each pair's values have the bits of
// the scalar loops. The entries whose tails need the series are noted in
// trendFar and hetFar. Each pass of its own over the pairs' arrays cost
// more than the arithmetic between the vector calls.
template <int kClasses, bool kCapped>
__attribute__((target("avx2"))) void tests_avx2(
    std::array<double, 3> share, std::array<double, 3> slope,
    std::array<double, 3> weight, std::array<const double*, 3> z,
    const float* __restrict cap, std::size_t groups, double* __restrict trend,
    double* __restrict het, FarValues& trendFar, FarValues& hetFar) {
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d three = _mm256_set1_pd(3.0);
  const __m256d magnitude =
      _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
  for (std::size_t group = 0; group < groups; ++group) {
    const std::size_t i = 4 * group;
    __m256d zj[kClasses];
    __m256d zBar = zero, t = zero;
    for (int j = 0; j < kClasses; ++j) {
      zj[j] = _mm256_loadu_pd(z[j] + i);
      zBar =
          _mm256_add_pd(zBar, _mm256_mul_pd(_mm256_set1_pd(share[j]), zj[j]));
      t = _mm256_add_pd(t, _mm256_mul_pd(_mm256_set1_pd(slope[j]), zj[j]));
    }
    // inverse_factor(exp(2 zbar)).
    const __m256d e = _ZGVdN4v_exp(_mm256_mul_pd(two, zBar));
    const __m256d plus = _mm256_add_pd(e, one);
    __m256d inverse = _mm256_div_pd(
        _mm256_mul_pd(_mm256_mul_pd(two, plus), plus),
        _mm256_add_pd(
            _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(three, e), two), e),
            three));
    __m256d capped = zero;
    if constexpr (kCapped) {
      capped = _mm256_cvtps_pd(_mm_loadu_ps(cap + i));
      // std::min(inverse, cap): the cap where it is below.
      inverse = _mm256_min_pd(capped, inverse);
    }
    __m256d q = zero;
    for (int j = 0; j < kClasses; ++j) {
      const __m256d d = _mm256_sub_pd(zj[j], zBar);
      q = _mm256_add_pd(
          q, _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(weight[j]), d), d));
    }
    q = _mm256_mul_pd(q, inverse);
    __m256d h = kClasses == 3 ? _mm256_mul_pd(q, _mm256_set1_pd(kHetScale))
                              : _mm256_sqrt_pd(_mm256_div_pd(q, two));
    __m256d tr = _mm256_mul_pd(_mm256_and_pd(t, magnitude),
                               _mm256_sqrt_pd(_mm256_div_pd(inverse, two)));
    if constexpr (kCapped) {
      const __m256d untested = _mm256_cmp_pd(capped, zero, _CMP_EQ_OQ);
      const __m256d nan = _mm256_set1_pd(kNotTested);
      h = _mm256_blendv_pd(h, nan, untested);
      tr = _mm256_blendv_pd(tr, nan, untested);
    }
    if constexpr (kClasses == 2) h = log10_erfc4(h, i, hetFar);
    _mm256_storeu_pd(het + i, h);
    _mm256_storeu_pd(trend + i, log10_erfc4(tr, i, trendFar));
  }
}
#endif

// apply for kClasses usable classes: the loops in AVX2 where the processor
// has it, else pooled(), exp_each, tests() and the tails one after another.
template <int kClasses>
void apply_loops(std::array<double, 3> share, std::array<double, 3> slope,
                 std::array<double, 3> weight, std::array<const double*, 3> z,
                 const float* cap, std::size_t size, double* trend,
                 double* het) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    FarValues trendFar, hetFar;
    if (cap != nullptr) {
      tests_avx2<kClasses, true>(share, slope, weight, z, cap, size / 4, trend,
                                 het, trendFar, hetFar);
    } else {
      tests_avx2<kClasses, false>(share, slope, weight, z, cap, size / 4, trend,
                                  het, trendFar, hetFar);
    }
    for (const auto& [i, x] : trendFar) trend[i] = log10_erfc_series(x);
    for (const auto& [i, x] : hetFar) het[i] = log10_erfc_series(x);
    return;
  }
#endif
  pooled<kClasses>(share, z, size / 4, het);
  exp_each(std::span<double>(het, size));
  if (cap != nullptr) {
    tests<kClasses, true>(share, slope, weight, z, cap, size / 4, trend, het);
  } else {
    tests<kClasses, false>(share, slope, weight, z, cap, size / 4, trend, het);
  }
  log10_erfc(std::span<double>(trend, size));
  if (kClasses == 2) log10_erfc(std::span<double>(het, size));
}

}  // namespace

void log10_erfc(std::span<double> values) {
  // Entries whose erfc may underflow, with their argument: rare, so the
  // common call allocates nothing. They pass the vector loops as 0.
  FarValues far;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double x = values[i];
    if (x >= kErfcSeriesFrom) {
      far.emplace_back(i, x);
      values[i] = 0.0;
    }
  }
  erfc_each(values);
  log10_each(values);
  for (const auto& [i, x] : far) values[i] = log10_erfc_series(x);
}

double log10_erfc(double x) {
  std::array<double, kLanes> value{x};
  log10_erfc(value);
  return value[0];
}

double centred_ranks(std::span<const double> values, std::span<double> out,
                     std::vector<std::size_t>& order) {
  const std::size_t size = values.size();
  order.resize(size);
  for (std::size_t i = 0; i < size; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return values[x] < values[y];
  });
  const double middle = (static_cast<double>(size) + 1.0) / 2.0;
  for (std::size_t start = 0; start < size;) {
    std::size_t end = start + 1;
    while (end < size && values[order[end]] == values[order[start]]) ++end;
    // Ranks start + 1 .. end, averaged.
    const double rank = (static_cast<double>(start + end) + 1.0) / 2.0;
    for (std::size_t k = start; k < end; ++k) out[order[k]] = rank - middle;
    start = end;
  }
  double squares = 0.0;
  for (std::size_t i = 0; i < size; ++i) squares += out[i] * out[i];
  return squares;
}

ClassCorrelation class_correlation(std::span<const double> a,
                                   std::span<const double> b,
                                   std::span<const int> cls, int min_class_size,
                                   Variance variance) {
  assert(min_class_size >= kSmallestClassSize);
  ClassCorrelation result{};
  std::array<std::vector<double>, 3> classA, classB;
  for (std::size_t i = 0; i < cls.size(); ++i) {
    const int k = cls[i];
    if (k < 0 || k > 2) continue;
    classA[k].push_back(a[i]);
    classB[k].push_back(b[i]);
  }
  std::vector<std::size_t> order;
  std::vector<double> ranksA, ranksB;
  for (int k = 0; k < 3; ++k) {
    const std::size_t size = classA[k].size();
    result.n[k] = static_cast<int>(size);
    result.usable[k] = false;
    result.r[k] = kNaN;
    const auto isNaN = [](double v) { return std::isnan(v); };
    if (result.n[k] < min_class_size ||
        std::any_of(classA[k].begin(), classA[k].end(), isNaN) ||
        std::any_of(classB[k].begin(), classB[k].end(), isNaN)) {
      continue;
    }
    ranksA.resize(size);
    ranksB.resize(size);
    const double squaresA = centred_ranks(classA[k], ranksA, order);
    const double squaresB = centred_ranks(classB[k], ranksB, order);
    if (squaresA == 0.0 || squaresB == 0.0) continue;
    double products = 0.0;
    for (std::size_t i = 0; i < size; ++i) products += ranksA[i] * ranksB[i];
    result.usable[k] = true;
    result.r[k] =
        std::clamp(products / std::sqrt(squaresA * squaresB), -1.0, 1.0);
  }
  double cap = kNoCap;
  if (variance == Variance::kEmpirical) {
    std::vector<double> scratch;
    cap = variance_cap(GeneRank(a.data(), a.size()),
                       GeneRank(b.data(), b.size()), scratch);
  }
  trend_het(result.r, result.n, result.usable, &result.log10_p_trend,
            &result.log10_p_het, cap);
  return result;
}

TrendHet::TrendHet(const std::array<int, 3>& n,
                   const std::array<bool, 3>& usable) {
  double weights = 0.0, weightedK = 0.0;
  for (int k = 0; k < 3; ++k) {
    if (!usable[k]) continue;
    const double size = n[k];
    class_[classes_] = k;
    weight_[classes_] = size - 3.0;
    weights += weight_[classes_];
    weightedK += weight_[classes_] * k;
    ++classes_;
  }
  if (classes_ < 2) return;
  const double kBar = weightedK / weights;
  double sxx = 0.0;
  for (int j = 0; j < classes_; ++j) {
    const double dk = class_[j] - kBar;
    sxx += weight_[j] * dk * dk;
  }
  const double root = std::sqrt(sxx);
  for (int j = 0; j < classes_; ++j) {
    share_[j] = weight_[j] / weights;
    slope_[j] = weight_[j] * (class_[j] - kBar) / root;
  }
}

double TrendHet::operator()(const std::array<double, 3>& z, double* log10_p_het,
                            double cap) const {
  if (classes_ < 2 || cap == 0.0) {
    *log10_p_het = kNotComputed;
    return kNotComputed;
  }
  double zBar = 0.0, t = 0.0;
  for (int j = 0; j < classes_; ++j) {
    zBar += share_[j] * z[class_[j]];
    t += slope_[j] * z[class_[j]];
  }
  std::array<double, kLanes> e{2.0 * zBar};
  exp_each(e);
  const double inverse = std::min(inverse_factor(e[0]), cap);
  double q = 0.0;
  for (int j = 0; j < classes_; ++j) {
    const double d = z[class_[j]] - zBar;
    q += weight_[j] * d * d;
  }
  q *= inverse;
  // Chi-squared survival: erfc(sqrt(q / 2)) with 1 df, exp(-q / 2) with 2.
  *log10_p_het = classes_ == 2 ? log10_erfc(std::sqrt(q / 2.0)) : q * kHetScale;
  return std::fabs(t) * std::sqrt(inverse / 2.0);
}

void TrendHet::apply(const double* z0, const double* z1, const double* z2,
                     const float* cap, std::size_t size, double* trend,
                     double* het) const {
  assert(classes_ >= 2 && size % 4 == 0);
  const std::array<const double*, 3> all{z0, z1, z2};
  if (classes_ == 2) {
    apply_loops<2>(share_, slope_, weight_,
                   {all[class_[0]], all[class_[1]], nullptr}, cap, size, trend,
                   het);
  } else {
    apply_loops<3>(share_, slope_, weight_, all, cap, size, trend, het);
  }
}

void trend_het(const std::array<double, 3>& r, const std::array<int, 3>& n,
               const std::array<bool, 3>& usable, double* log10_p_trend,
               double* log10_p_het, double cap) {
  // Padded with zeros to whole vectors.
  std::array<double, kLanes> z{};
  for (int k = 0; k < 3; ++k) {
    if (usable[k]) {
      const double limit = fisher_limit(n[k]);
      z[k] = std::clamp(r[k], -limit, limit);
    }
  }
  atanh_each(z);
  *log10_p_trend =
      log10_erfc(TrendHet(n, usable)({z[0], z[1], z[2]}, log10_p_het, cap));
}

}  // namespace zirk_corr
