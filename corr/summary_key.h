// The summary's key of a trend or het value as zirk-corr prints it: the
// printed "%f" text in integer millionths of a log10 unit, clamped as the
// summary clamps (corr_key), computed from the double without the text, so
// that zirk-corr's own summary counts exactly what zirk-report counts when it
// reads the rows.
#ifndef ZIRK_CORR_SUMMARY_KEY_H_
#define ZIRK_CORR_SUMMARY_KEY_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

#include "corr_summary.h"
#include "row_format.h"
#include "score_text.h"

namespace zirk_corr {

// The key of `value` (a log10 p-value, not NaN): kNegInfKey for -inf, 0 for
// every value that prints without a minus or as -0.000000, else minus the
// printed millionths, at least kMinKey. The product |value| * 10^6 is
// rounded as format_fixed6 rounds it (see there); its exact halves and
// values beyond 2^52 millionths take the text itself.
inline std::int64_t summary_key(double value) {
  if (!(value < 0.0)) return 0;
  const double millionths = -value * 1e6;
  if (millionths < 0x1p52) {
    const double shifted = millionths + 0x1p52;
    if (std::fabs((shifted - 0x1p52) - millionths) != 0.5) {
      std::uint64_t bits;
      std::memcpy(&bits, &shifted, sizeof bits);
      const auto rounded =
          static_cast<std::int64_t>(bits & ((std::uint64_t{1} << 52) - 1));
      return std::max(-rounded, zirk_report::kMinKey);
    }
  }
  char text[330];
  const char* end = format_fixed6(text, value);
  return zirk_report::corr_key(zirk_report::parse_score(text, end));
}

// summary_key of each of `values` into `keys`, the largest int64 for NaN
// (NA): four values at a time where the processor has AVX2, each with the
// key summary_key gives it; the values that need the text take it one by
// one.
void summary_keys(std::span<const double> values, std::int64_t* keys);

// What a family's summary takes from one gene's keys besides their counts,
// in one pass: a summary that admits no key above `admitted` turns the
// others away unseen and needs only the least of them.
struct KeyScan {
  std::uint64_t na = 0;  // keys that are NA (the largest int64)
  // The least key above `admitted`, the largest int64 where there is none.
  std::int64_t turned_away = std::numeric_limits<std::int64_t>::max();
  std::size_t candidates = 0;  // indices written to `candidates`
};

// Scans `keys` (summary_keys' values) against `admitted`: counts the NAs,
// finds the least key above `admitted`, and writes to `candidates`, in
// increasing order, the indices of the keys at most `admitted` that are not
// NA (room for keys.size() of them), four keys at a time where the
// processor has AVX2.
KeyScan scan_keys(std::span<const std::int64_t> keys, std::int64_t admitted,
                  std::uint32_t* candidates);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_SUMMARY_KEY_H_
