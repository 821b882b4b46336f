// exp_sweep: compares the vector exponential with std::exp to the bit on
// billions of arguments, the offline proof behind the start-up sample.
//
// Usage: exp_sweep [kernel [stride_bits [randoms]]]
//   kernel       rule (default: the C library's own choice), fused, unfused
//   stride_bits  every 2^stride_bits-th double, in bit-pattern order, of
//                [-746, 500] (default 32: about 2.2 billion arguments)
//   randoms      further arguments drawn uniformly, half over [-746, 500]
//                and half over [-40, 40] (default 1 billion)
// Prints the count compared and each differing argument (the first ten),
// and exits with status 1 on any difference. To prove a kernel that the
// library would not choose here, make the library choose it too, e.g.
// GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA for the unfused one.
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fast_exp.h"

namespace {

struct Tally {
  fast_exp::Kernel kernel;
  std::uint64_t compared = 0;
  std::uint64_t differing = 0;
  std::vector<double> batch;
};

void check_batch(Tally& tally) {
  std::vector<double> values = tally.batch;
  fast_exp::exp_with(tally.kernel, values.data(), values.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double expected = std::exp(tally.batch[k]);
    if (std::memcmp(&expected, &values[k], sizeof expected) != 0) {
      if (++tally.differing <= 10) {
        std::printf("differs: exp(%a) = %a, kernel %a\n", tally.batch[k],
                    expected, values[k]);
      }
    }
  }
  tally.compared += values.size();
  tally.batch.clear();
}

void add(Tally& tally, double x) {
  tally.batch.push_back(x);
  if (tally.batch.size() == 4096) check_batch(tally);
}

// Every `stride`-th bit pattern from that of `from` (+0.0 or -0.0) up to
// that of `to`, which has the same sign.
void sweep(Tally& tally, double from, double to, std::uint64_t stride,
           bool progress) {
  const std::uint64_t first = std::bit_cast<std::uint64_t>(from);
  const std::uint64_t last = std::bit_cast<std::uint64_t>(to);
  for (std::uint64_t bits = first; bits <= last; bits += stride) {
    add(tally, std::bit_cast<double>(bits));
    if (progress && (bits - first) / stride % (1u << 26) == 0) {
      std::fprintf(stderr, "\r%a...", std::bit_cast<double>(bits));
    }
    if (last - bits < stride) break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = argc > 1 ? argv[1] : "rule";
  Tally tally;
  if (name == "rule") {
    tally.kernel = fast_exp::rule_kernel();
  } else if (name == "fused") {
    tally.kernel = fast_exp::Kernel::kFused;
  } else if (name == "unfused") {
    tally.kernel = fast_exp::Kernel::kUnfused;
  } else {
    std::fprintf(stderr, "Error: unknown kernel '%s'\n", name.c_str());
    return 1;
  }
  const unsigned strideBits = argc > 2 ? std::atoi(argv[2]) : 32;
  const std::uint64_t randoms =
      argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1000000000u;
  const bool progress = isatty(STDERR_FILENO);
  const std::uint64_t stride = std::uint64_t{1} << strideBits;
  sweep(tally, 0.0, 500.0, stride, progress);
  sweep(tally, -0.0, -746.0, stride, progress);
  const std::uint64_t swept = tally.compared + tally.batch.size();
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> wide(-746.0, 500.0);
  std::uniform_real_distribution<double> near(-40.0, 40.0);
  for (std::uint64_t k = 0; k < randoms; ++k) {
    add(tally, k % 2 == 0 ? wide(rng) : near(rng));
  }
  check_batch(tally);
  if (progress) std::fprintf(stderr, "\r");
  const char* kernels[] = {"fused", "unfused", "library"};
  std::printf(
      "kernel %s: %llu arguments (%llu swept at stride 2^%u, %llu random), "
      "%llu differing\n",
      kernels[static_cast<int>(tally.kernel)],
      static_cast<unsigned long long>(tally.compared),
      static_cast<unsigned long long>(swept), strideBits,
      static_cast<unsigned long long>(randoms),
      static_cast<unsigned long long>(tally.differing));
  return tally.differing == 0 ? 0 : 1;
}
