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
//
// McJudge goes one step further for the engine. A row shows the p-value p
// only as log10(p) printed with six decimals, and the cascade asks only
// whether the threshold exceeds p; neither needs p's last bits. McJudge takes
// ln Q(5, x) = ln(1 + x + x^2/2 + x^3/6 + x^4/24) - x in double precision,
// one std::log in place of a long double exponential, a log10 and Boost's
// series. That value lies within 1e-12 of ln p, and log10 of it within 1e-12
// of the log10(p) a row prints (all terms are positive, so the polynomial is
// good to a few units in the last place; std::log, log10 and Boost's p to
// about one). McJudge uses it only where an error a thousand times larger
// could not change the answer: the printed log10 at least 1e-9 from the
// nearest rounding point of the sixth decimal and from zero (where "-0.000000"
// turns into "0.000000"), ln p at least 1e-9 from the threshold's log, and p
// at least e^-700, far from double's subnormal range. Otherwise, about one
// statistic in 500, it takes p exactly as above.
#ifndef ZIRK_MC_TAIL_H_
#define ZIRK_MC_TAIL_H_

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <limits>

#include "screen.h"

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

// What a row needs of an MC p-value p: log10(p), whose six-decimal text it
// prints, and whether the threshold exceeds p.
struct McOutcome {
  double log10Pvalue;
  bool belowThreshold;
};

// Sets `p` to 1 + x + x^2/2 + x^3/6 + x^4/24, the factor of e^-x in
// Q(5, x), for a double or a vector of doubles; one template, so that both
// round alike. Its terms are positive, so the result is within a few units
// in the last place of the exact value. By reference: a vector passed by
// value would cross a calling convention that differs with and without AVX.
template <class T>
void tail_polynomial(const T& x, T& p) {
  p = (((x * (1.0 / 24) + 1.0 / 6) * x + 0.5) * x + 1.0) * x + 1.0;
}

// tail_polynomial at a double.
inline double tail_polynomial(double x) {
  double p;
  tail_polynomial(x, p);
  return p;
}

// Decides McOutcome from the MC statistic for one run's threshold.
class McJudge {
 public:
  explicit McJudge(double threshold)
      : threshold_(threshold), logThreshold_(std::log(threshold)) {}

  // Returns the outcome of statistic s whose p-value is
  // mc_pvalue_of_statistic(s, mc_upper_tail): `log10Pvalue` prints with "%f"
  // exactly as log10 of that p-value does (it is that value itself where the
  // shortcut does not apply), and `belowThreshold` is exactly
  // threshold > p. Any s is accepted, NaN and infinities included.
  McOutcome judge(double s) const {
    McOutcome outcome;
    const double x = s * 0.5;
    if (settle(s, 0.0, std::log(tail_polynomial(x)) - x, outcome)) {
      return outcome;
    }
    const double p = mc_pvalue_of_statistic(s, mc_upper_tail);
    return {std::log10(p), threshold_ > p};
  }

  // The shortcut of judge() for a statistic s known only to within `bound`
  // of the exact one (NaN or infinite bounds allowed), with `logPvalue` the
  // value ln(tail_polynomial(s / 2)) - s / 2 of a logarithm good to a few
  // units in the last place. Returns true and sets `outcome` as judge() would
  // for the exact statistic when the margins settle it; false otherwise.
  bool settle(double s, double bound, double logPvalue,
              McOutcome& outcome) const {
    if (!(s - bound > 0 && s + bound <= kShortcutLimit)) return false;
    // |d ln Q(5, x) / dx| <= 1, so ln p moves by at most bound / 2.
    const double logMargin = kLogMargin + bound * 0.5;
    const double log10Pvalue = logPvalue * kInverseLn10;
    // In millionths, where the sixth decimal rounds at every half.
    const double millionths = -log10Pvalue * 1e6;
    const double millionthsMargin =
        kMillionthsMargin + logMargin * (kInverseLn10 * 1e6);
    const double fraction = millionths - std::floor(millionths);
    if (!(millionths > millionthsMargin &&
          std::fabs(fraction - 0.5) > millionthsMargin)) {
      return false;
    }
    // p lies in (0, 1].
    if (!(threshold_ > 0)) {
      outcome = {log10Pvalue, false};
    } else if (threshold_ > 1) {
      outcome = {log10Pvalue, true};
    } else {
      const double gap = logThreshold_ - logPvalue;
      if (!(std::fabs(gap) > logMargin)) return false;
      outcome = {log10Pvalue, gap > 0};
    }
    return true;
  }

 private:
  // Up to s = 1400, p >= e^-700 is a normal double.
  static constexpr double kShortcutLimit = 1400.0;
  static constexpr double kInverseLn10 = 0.43429448190325182765;
  static constexpr double kMillionthsMargin = 1e-3;
  static constexpr double kLogMargin = 1e-9;
  double threshold_;
  double logThreshold_;
};

#endif  // ZIRK_MC_TAIL_H_
