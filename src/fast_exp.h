// The exponential of many arguments at once, equal to the bit to what the C
// library's exp returns for each on the running machine.
//
// The C library (glibc 2.36 on x86-64) evaluates exp(x) as 2^(k/128) exp(r)
// with x = k ln2/128 + r: a table of 2^(i/128) split into a leading double
// and a relative tail, a degree-5 polynomial in r, and a final scale. It
// ships that one algorithm in builds that differ only in which operations
// the compiler fused into multiply-adds, and picks one at load time: the
// fused build when FMA and AVX2 are usable, a build for FMA4 when that is,
// and an unfused one otherwise. The vector kernels here repeat the fused and
// the unfused builds' arithmetic lane by lane (same constants, same
// operations in the same order), follow the same choice, and leave the rare
// arguments that take the library's special paths (|x| < 2^-54, |x| >= 512,
// NaN) to the library itself. Before first use the chosen kernel is compared
// with std::exp on a sample across the range of arguments; on any
// difference, or where no kernel matches the library's choice (FMA4), every
// value goes to std::exp instead.
#ifndef ZIRK_FAST_EXP_H_
#define ZIRK_FAST_EXP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fast_exp {

enum class Kernel {
  kFused,    // four lanes with AVX2 and fused multiply-adds
  kUnfused,  // no fused operation; SSE2 or AVX lanes
  kLibrary,  // std::exp value by value
};

// Returns the kernel that matches the C library's own choice of exp on this
// processor, by the library's rule and the features it counts as active.
Kernel rule_kernel();

// Replaces each of the `count` values at `v` by its exponential with kernel
// `kernel`, which the processor must support (kFused needs AVX2 and FMA).
// Arguments below -746 give +0.0 and +-0.0 gives 1.0 without a call, as
// std::exp would give them.
void exp_with(Kernel kernel, double* v, std::size_t count);

// The arguments of the start-up comparison: evenly spaced and scattered
// values over [-746, 500], the range the model fits use, denser near zero.
const std::vector<double>& check_sample();

// Returns `preferred` if exp_with(preferred) equals `reference` to the bit
// on every value of check_sample(), and kLibrary otherwise.
using ReferenceExp = double (*)(double);
Kernel checked_kernel(Kernel preferred, ReferenceExp reference);

// The kernel exp_in_place uses: checked_kernel(rule_kernel(), std::exp),
// decided once per process.
Kernel active_kernel();

// exp_with(active_kernel(), v, count).
void exp_in_place(double* v, std::size_t count);

// Entry i of the table (i < 128): the bits of the tail T, then the bits of
// the leading double H of 2^(i/128) = H (1 + T), less i << 45, so that adding
// k << 45 for k = i (mod 128) gives the bits of H 2^((k - i)/128).
const std::uint64_t* exp_table();

}  // namespace fast_exp

#endif  // ZIRK_FAST_EXP_H_
