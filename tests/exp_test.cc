#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fast_exp.h"

namespace {

using fast_exp::Kernel;

// Non-negative integers of any size, little-endian 32-bit words: just what
// an exact comparison of x^128 with a power of two needs.
using Big = std::vector<std::uint32_t>;

Big from_u128(unsigned __int128 v) {
  Big b;
  for (; v != 0; v >>= 32) b.push_back(static_cast<std::uint32_t>(v));
  return b;
}

Big multiply(const Big& a, const Big& b) {
  Big out(a.size() + b.size(), 0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.size(); ++j) {
      const std::uint64_t t =
          static_cast<std::uint64_t>(a[i]) * b[j] + out[i + j] + carry;
      out[i + j] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    out[i + b.size()] = static_cast<std::uint32_t>(carry);
  }
  while (!out.empty() && out.back() == 0) out.pop_back();
  return out;
}

// Compares (m 2^-e)^128 with 2^i: -1, 0 or 1.
int compare_power(const Big& m, int e, int i) {
  Big x = m;
  for (int k = 0; k < 7; ++k) x = multiply(x, x);
  const long long bits =
      32 * static_cast<long long>(x.size() - 1) + std::bit_width(x.back());
  const long long target = i + 128LL * e;
  if (bits != target + 1) return bits <= target ? -1 : 1;
  for (std::size_t k = 0; k + 1 < x.size(); ++k) {
    if (x[k] != 0) return 1;
  }
  return std::has_single_bit(x.back()) ? 0 : 1;
}

// Each entry's lead H and tail T are 2^(i/128) and (2^(i/128) - H) / H
// rounded to nearest: 2^(i/128) lies strictly between H -+ half an ulp and
// strictly between H (1 + T -+ half an ulp of T).
TEST(ExpTable, EveryEntryIsCorrectlyRounded) {
  const std::uint64_t* table = fast_exp::exp_table();
  for (int i = 0; i < 128; ++i) {
    const double tail = std::bit_cast<double>(table[2 * i]);
    const double lead = std::bit_cast<double>(
        table[2 * i + 1] + (static_cast<std::uint64_t>(i) << 45));
    ASSERT_TRUE(lead >= 1.0 && lead < 2.0) << i;
    const auto mh = static_cast<unsigned __int128>(lead * 0x1p52);
    EXPECT_EQ(compare_power(from_u128(2 * mh - 1), 53, i), -1) << i;
    EXPECT_EQ(compare_power(from_u128(2 * mh + 1), 53, i), 1) << i;
    if (i == 0) {
      EXPECT_EQ(tail, 0.0);
      continue;
    }
    int exponent;
    const double fraction = std::frexp(tail, &exponent);
    const auto mt = static_cast<__int128>(fraction * 0x1p53);
    const int et = exponent - 53;  // T = mt 2^et
    ASSERT_LT(et, -60) << i;
    // H (1 + T -+ 2^(et-1)) = mh (2^(1-et) + 2 mt -+ 1) 2^(et - 53).
    const auto one = static_cast<__int128>(1) << (1 - et);
    for (int side : {-1, 1}) {
      const auto factor = static_cast<unsigned __int128>(one + 2 * mt + side);
      EXPECT_EQ(
          compare_power(multiply(from_u128(mh), from_u128(factor)), 53 - et, i),
          side)
          << i;
    }
  }
}

// Every kernel this processor runs, on arguments of every path: the main
// one, each special one the library takes itself, and the shortcuts; array
// lengths that are and are not a multiple of the four lanes.
TEST(ExpKernels, EqualStdExpOnEveryPath) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> arguments = {
      0.0,     -0.0,         1.0,       -1.0,       0x1p-54,
      0x1p-55, -0x1p-60,     1e-300,    4.9e-324,   511.99999999999994,
      512.0,   -512.0,       -700.5,    -745.1,     -745.2,
      -746.5,  -1e300,       709.7,     710.0,      inf,
      -inf,    std::nan(""), 0x1.45p-5, -0x1.e8p+8, -36.04365338911715,
      13.8,    -2.0e-3};
  for (Kernel kernel : {Kernel::kLibrary, fast_exp::rule_kernel()}) {
    for (std::size_t length : {arguments.size(), std::size_t{3}}) {
      std::vector<double> values(arguments.begin(), arguments.begin() + length);
      fast_exp::exp_with(kernel, values.data(), values.size());
      for (std::size_t k = 0; k < length; ++k) {
        const double expected = std::exp(arguments[k]);
        if (std::isnan(expected)) {
          EXPECT_TRUE(std::isnan(values[k]));
        } else {
          EXPECT_EQ(std::bit_cast<std::uint64_t>(values[k]),
                    std::bit_cast<std::uint64_t>(expected))
              << "kernel " << static_cast<int>(kernel) << " at "
              << std::hexfloat << arguments[k];
        }
      }
    }
    EXPECT_EQ(fast_exp::checked_kernel(kernel, std::exp), kernel);
  }
}

// The fused and unfused builds differ on the sample's build-sensitive
// arguments, so the start-up check cannot take one for the other; the
// wrong one for this machine's library is rejected.
TEST(ExpKernels, SampleTellsTheBuildsApart) {
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) {
    GTEST_SKIP() << "no AVX2 and FMA";
  }
  const std::vector<double>& sample = fast_exp::check_sample();
  std::vector<double> fused(sample.begin(), sample.begin() + 12);
  std::vector<double> unfused = fused;
  fast_exp::exp_with(Kernel::kFused, fused.data(), fused.size());
  fast_exp::exp_with(Kernel::kUnfused, unfused.data(), unfused.size());
  for (std::size_t k = 0; k < 10; ++k) {
    EXPECT_NE(fused[k], unfused[k]) << std::hexfloat << sample[k];
  }
  const Kernel other = fast_exp::rule_kernel() == Kernel::kFused
                           ? Kernel::kUnfused
                           : Kernel::kFused;
  EXPECT_EQ(fast_exp::checked_kernel(other, std::exp), Kernel::kLibrary);
}

double g_changed = 0.0;

// std::exp except one ulp up at g_changed.
double nudged_exp(double x) {
  const double y = std::exp(x);
  return x == g_changed ? std::nextafter(y, 1e300) : y;
}

// A single differing value anywhere in the sample makes the check fall
// back to the library, and the fallback gives the library's values.
TEST(ExpKernels, AnyDifferenceFallsBackToTheLibrary) {
  const std::vector<double>& sample = fast_exp::check_sample();
  for (std::size_t k : {std::size_t{0}, sample.size() / 2, sample.size() - 1}) {
    g_changed = sample[k];
    EXPECT_EQ(fast_exp::checked_kernel(fast_exp::rule_kernel(), nudged_exp),
              Kernel::kLibrary)
        << k;
  }
  EXPECT_EQ(fast_exp::active_kernel(), fast_exp::rule_kernel());
}

}  // namespace
