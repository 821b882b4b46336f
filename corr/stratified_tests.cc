#include "stratified_tests.h"

#include <algorithm>
#include <boost/math/constants/constants.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cassert>
#include <cmath>
#include <limits>

namespace zirk_corr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Below this the survival function is taken from Boost as it is; a smaller
// value may have lost bits to underflow, and its logarithm comes from the
// asymptotic series instead.
constexpr double kSmallestTail = 1e-280;

}  // namespace

double log10_chi_squared_tail(double q, int df) {
  assert(df >= 1);
  if (std::isnan(q)) return kNaN;
  const double a = df / 2.0, x = q / 2.0;
  if (x <= 0.0) return 0.0;
  const double tail = boost::math::gamma_q(a, x);
  if (tail >= kSmallestTail) return std::log10(tail);
  if (std::isinf(x)) return -std::numeric_limits<double>::infinity();
  // Q(a, x) = x^(a-1) e^-x / Gamma(a) * sum_m (a-1)(a-2)...(a-m) / x^m,
  // whose terms fall fast where the tail is this small (x far above a);
  // for whole a the sum ends by itself.
  double term = 1.0, sum = 1.0;
  for (int m = 1; m <= 40; ++m) {
    term *= (a - m) / x;
    sum += term;
    if (std::fabs(term) < 1e-17 * sum) break;
  }
  const double ln = (a - 1.0) * std::log(x) - x - std::lgamma(a) + std::log(sum);
  return ln / boost::math::constants::ln_ten<double>();
}

StratifiedTests::StratifiedTests(std::span<const std::array<int, 3>> n)
    : strata_(n.size()) {
  for (std::size_t s = 0; s < n.size(); ++s) {
    for (int mask = 0; mask < 8; ++mask) {
      Cells& c = strata_[s][mask];
      double weights = 0.0, weightedK = 0.0;
      for (int k = 0; k < 3; ++k) {
        if ((mask >> k & 1) == 0) continue;
        c.class_[c.classes] = k;
        c.weight[c.classes] = n[s][k] - 3.0;
        weights += c.weight[c.classes];
        weightedK += c.weight[c.classes] * k;
        ++c.classes;
      }
      if (c.classes < 2) {
        c.classes = 0;
        continue;
      }
      const double kBar = weightedK / weights;
      for (int j = 0; j < c.classes; ++j) {
        const double dk = c.class_[j] - kBar;
        c.share[j] = c.weight[j] / weights;
        c.slope[j] = c.weight[j] * dk;
        c.sxx += c.weight[j] * dk * dk;
      }
    }
  }
}

double StratifiedTests::operator()(std::span<const std::array<double, 3>> z,
                                   std::span<const std::uint8_t> masks,
                                   double* log10_p_het,
                                   std::span<const float> caps) const {
  double t = 0.0, sxx = 0.0, q = 0.0;
  int df = 0;
  for (std::size_t s = 0; s < strata_.size(); ++s) {
    const Cells& c = strata_[s][masks[s]];
    if (c.classes == 0 || (!caps.empty() && caps[s] == 0.0f)) continue;
    double zBar = 0.0, cross = 0.0;
    for (int j = 0; j < c.classes; ++j) {
      zBar += c.share[j] * z[s][c.class_[j]];
      cross += c.slope[j] * z[s][c.class_[j]];
    }
    const double pooled = std::tanh(zBar);
    double inverse = 1.0 / (1.0 + pooled * pooled / 2.0);
    if (!caps.empty()) inverse = std::min(inverse, double{caps[s]});
    double squares = 0.0;
    for (int j = 0; j < c.classes; ++j) {
      const double d = z[s][c.class_[j]] - zBar;
      squares += c.weight[j] * d * d;
    }
    t += inverse * cross;
    sxx += inverse * c.sxx;
    q += inverse * squares;
    df += c.classes - 1;
  }
  if (df == 0) {
    *log10_p_het = kNaN;
    return kNaN;
  }
  *log10_p_het = log10_chi_squared_tail(q, df);
  return std::fabs(t) / std::sqrt(2.0 * sxx);
}

}  // namespace zirk_corr
