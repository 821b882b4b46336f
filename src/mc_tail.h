// The upper tail of the chi-squared distribution with 10 degrees of freedom,
// as the MC test takes it from Boost.Math, but faster, without changing a
// bit of the result.
//
// Boost evaluates cdf(complement(chi_squared(10), s)) as the regularised
// upper incomplete gamma function Q(5, x), x = s/2, in long double and rounds
// the result to double:
// - for x + 1 >= 5 by the finite sum Q(5, x) = e^-x (1 + x + x^2/2 + x^3/6 +
//   x^4/24), built term by term. mc_upper_tail repeats exactly those long
//   double operations, the final clamp at 1 and the rounding.
// - below that by a series in extended precision that costs about a
//   microsecond (a long double pow and 20 to 40 series terms). There the
//   finite sum is just as accurate: its terms are all positive, so its long
//   double value lies within a few long double units of the true Q, as does
//   Boost's. Both therefore round to the same double unless the true value
//   lies almost exactly between two doubles. mc_upper_tail rounds the finite
//   sum itself when that sum is at least 0.02 of a double unit away from the
//   rounding midpoint (the two long double values were never seen more than
//   0.004 units apart), and asks Boost otherwise (about 4% of the cases).
// The result equals Boost's bit for bit; the tests check it on millions of
// arguments.
#ifndef ZIRK_MC_TAIL_H_
#define ZIRK_MC_TAIL_H_

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <limits>

namespace mc_tail_detail {

// Q(5, x) by the finite sum, in the operation order of Boost's finite sum.
inline long double finite_sum(long double x) {
  const long double e = std::exp(-x);
  long double sum = e;
  if (sum != 0) {
    long double term = sum;
    for (unsigned k = 1; k < 5; ++k) {
      term /= k;
      term *= x;
      sum += term;
    }
  }
  return sum;
}

// True when `value` rounds to double the same way under any perturbation of
// less than 0.02 of a double unit in the last place.
inline bool rounds_clearly(long double value) {
  const double nearest = static_cast<double>(value);
  const long double exact = nearest;
  if (value == exact) return true;
  const double neighbour = std::nextafter(
      nearest, value > exact ? std::numeric_limits<double>::infinity()
                             : -std::numeric_limits<double>::infinity());
  const long double unit = std::fabs(neighbour - exact);
  const long double midpoint = (exact + neighbour) / 2;
  return std::fabs(value - midpoint) >= 0.02L * unit;
}

}  // namespace mc_tail_detail

// Requires a finite s in (0, 9999.9], as the MC test passes.
inline double mc_upper_tail(double s) {
  const long double x = static_cast<long double>(s / 2);
  long double sum = mc_tail_detail::finite_sum(x);
  if (x + 1 >= 5) {
    if (sum > 1) sum = 1;
    return static_cast<double>(sum);
  }
  if (sum <= 1 && mc_tail_detail::rounds_clearly(sum)) {
    return static_cast<double>(sum);
  }
  const boost::math::chi_squared_distribution<double> chi2(10.0);
  return boost::math::cdf(boost::math::complement(chi2, s));
}

#endif  // ZIRK_MC_TAIL_H_
