// The summary keys of a batch of values against summary_key, which the
// in-process summary and zirk-report's reading of the rows share.
#include "summary_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace zirk_corr {
namespace {

// Values whose key the product gives and those that need the text: exact
// halves of a millionth, values that print as -0.000000, -inf, values below
// the histogram's range and beyond 2^52 millionths, NaN, positive values
// (p above 1 by rounding), a batch of three (no whole vector).
TEST(SummaryKeys, EqualOneValueAtATime) {
  std::mt19937_64 random(5);
  std::exponential_distribution<double> spread(0.5);
  std::vector<double> values;
  for (int i = 0; i < 5000; ++i) values.push_back(-spread(random));
  for (const double v :
       {0.0, -0.0, 1e-9, 2.5, -0.0000005, -0.0000015, -0.0000004, -0.0000006,
        -1.0, -400.0, -400.0000005, -401.0, -1e10, -1e300,
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -0x1p52 / 1e6,
        -0x1p53 / 1e6}) {
    values.push_back(v);
  }
  std::shuffle(values.begin(), values.end(), random);
  for (const std::size_t size : {values.size(), std::size_t{3}}) {
    std::vector<std::int64_t> keys(size);
    summary_keys(std::span(values.data(), size), keys.data());
    for (std::size_t i = 0; i < size; ++i) {
      const std::int64_t expected =
          std::isnan(values[i]) ? std::numeric_limits<std::int64_t>::max()
                                : summary_key(values[i]);
      EXPECT_EQ(keys[i], expected) << "value " << values[i];
    }
  }
}

// A gene's keys scanned against a summary's bound, against the plain loop
// over them: NAs, keys at the bound and around it, the bound of a summary
// that admits everything (the largest int64: an NA is no candidate even
// then) and of one that admits nothing, batches of 1 to 9 keys (no whole
// vector, and a tail after them).
TEST(ScanKeys, EqualThePlainLoop) {
  constexpr std::int64_t kNa = std::numeric_limits<std::int64_t>::max();
  std::mt19937_64 random(9);
  std::uniform_int_distribution<std::int64_t> spread(-40, 0);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::int64_t> keys(1 + round % 9);
    for (std::int64_t& key : keys) {
      key = spread(random);
      if (key > -4) key = kNa;
    }
    for (const std::int64_t admitted :
         {std::int64_t{-20}, std::int64_t{-41}, std::int64_t{0}, kNa,
          std::numeric_limits<std::int64_t>::min()}) {
      std::vector<std::uint32_t> candidates(keys.size());
      const KeyScan scan = scan_keys(keys, admitted, candidates.data());
      std::uint64_t na = 0;
      std::int64_t turnedAway = kNa;
      std::vector<std::uint32_t> expected;
      for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == kNa) {
          ++na;
        } else if (keys[i] > admitted) {
          turnedAway = std::min(turnedAway, keys[i]);
        } else {
          expected.push_back(static_cast<std::uint32_t>(i));
        }
      }
      EXPECT_EQ(scan.na, na);
      EXPECT_EQ(scan.turned_away, turnedAway) << "bound " << admitted;
      candidates.resize(scan.candidates);
      EXPECT_EQ(candidates, expected) << "bound " << admitted;
    }
  }
}

}  // namespace
}  // namespace zirk_corr
