// Elementwise functions of whole arrays of doubles, for the millions of
// Fisher z values and trend p-values of a SNP's rows.
//
// The logarithm, exp and erfc come from the C library's vector math functions
// (libmvec, at most 4 ulp from the exact value): four lanes at a time where
// the processor has AVX2, two otherwise (which the library runs as scalar
// calls on processors without SSE4.1), the scalar C library elsewhere than
// on x86-64. Lanes are independent, so on one machine a value gets the same
// bits wherever it sits in an array: the rows of a panel and the per-pair
// path of the report's diagnosis agree to the bit. Between processors with
// and without AVX2 the last bits may differ, as they already do for the
// Gram matrices, whose BLAS kernel follows the processor too.
//
// Every array's size must be a multiple of kLanes; pad with a value the
// function takes (0 for all four).
#ifndef ZIRK_CORR_VECTOR_MATH_H_
#define ZIRK_CORR_VECTOR_MATH_H_

#include <cstddef>
#include <span>

namespace zirk_corr {

inline constexpr std::size_t kLanes = 4;

// The smallest multiple of kLanes that is at least `size`.
inline std::size_t padded_size(std::size_t size) {
  return (size + kLanes - 1) / kLanes * kLanes;
}

// Replaces each c (within (-1, 1)) by atanh c = log((1 + c) / (1 - c)) / 2.
void atanh_each(std::span<double> values);

// Writes to z[i] atanh_each's value of std::clamp(r[i], -limit, limit)
// (limit within (0, 1)), the clamp done in the same vectors, and 0 from
// r.size() up to padded_size(r.size()). r's size need not be a multiple of
// kLanes, and z may not overlap it.
void clamped_atanh(std::span<const double> r, double limit, double* z);

// Replaces each x by erfc x.
void erfc_each(std::span<double> values);

// Replaces each x by exp x.
void exp_each(std::span<double> values);

// Replaces each x by log10 x.
void log10_each(std::span<double> values);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_VECTOR_MATH_H_
