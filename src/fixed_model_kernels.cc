#include "fixed_model_kernels.h"

#include <cstring>
#include <limits>

#include "fast_exp.h"
#include "scores.h"

namespace fixed_model {

namespace {

// Four doubles, one row (or one entry of a sum) per lane. Every operation on
// it is the IEEE operation of the scalar code, performed lane by lane, so a
// lane's result is that of the scalar code to the bit, whether the compiler
// emits one 256-bit instruction or two 128-bit ones.
using Lanes = double __attribute__((vector_size(32)));

// Helpers take and give Lanes by reference only, never by value: a vector
// passed by value between the AVX2 and the baseline clones would cross a
// calling convention that differs between them.

[[gnu::always_inline]] inline void load(Lanes& v, const double* p) {
  std::memcpy(&v, p, sizeof v);
}

[[gnu::always_inline]] inline void store(double* p, const Lanes& v) {
  std::memcpy(p, &v, sizeof v);
}

// Sets `capped` to the capped linear predictors of four rows (design
// columns 1 to P-1 in `columns`) at one class's coefficient block `coef`:
// the predictors' sum in column order from 0.0, lane by lane.
template <std::size_t P>
[[gnu::always_inline]] inline void capped_predictor_lanes(const Lanes* columns,
                                                          const double* coef,
                                                          Lanes& capped) {
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  Lanes eta = Lanes{} + one * Lanes{coef[0], coef[0], coef[0], coef[0]};
  for (std::size_t j = 1; j < P; ++j) {
    eta = eta + columns[j - 1] * Lanes{coef[j], coef[j], coef[j], coef[j]};
  }
  const Lanes cap = {kExponentCap, kExponentCap, kExponentCap, kExponentCap};
  capped = eta < cap ? eta : cap;
}

// fill_probabilities, and with kWeights also the Hessian weights and the
// residuals of the same rows. Three sweeps (predictors, exponentials,
// quotients): the exponentials of all rows go through one vector call that
// returns exactly std::exp's values.
template <std::size_t P, bool kWeights>
[[gnu::always_inline]] inline void probabilities_kernel(
    const Design& design, const double* coef, const FitScratch& scratch) {
  // Local copies of the pointers, so that the stores through them are not
  // taken to change the pointers themselves.
  const std::size_t padded = design.padded;
  const double* const col1 = design.col1;
  const double* const col2 = design.col2;
  const double* const col3 = design.col3;
  double* const pa = scratch.a;
  double* const pb = scratch.b;
  for (std::size_t i = 0; i < padded; i += kLanes) {
    Lanes columns[3] = {};
    load(columns[0], col1 + i);
    load(columns[1], col2 + i);
    if constexpr (P == 4) load(columns[2], col3 + i);
    Lanes eta;
    capped_predictor_lanes<P>(columns, coef, eta);
    store(pa + i, eta);
    capped_predictor_lanes<P>(columns, coef + P, eta);
    store(pb + i, eta);
  }
  // b follows a, so one call covers both classes.
  fast_exp::exp_in_place(pa, 2 * padded);
  const double* const y0 = design.y0;
  const double* const y1 = design.y1;
  double* const w00 = scratch.w00;
  double* const w01 = scratch.w01;
  double* const w11 = scratch.w11;
  double* const r0 = scratch.r0;
  double* const r1 = scratch.r1;
  for (std::size_t i = 0; i < padded; i += kLanes) {
    Lanes ea;
    Lanes eb;
    load(ea, pa + i);
    load(eb, pb + i);
    const Lanes denominator = (ea + 1.0) + eb;
    const Lanes a = ea / denominator;
    const Lanes b = eb / denominator;
    store(pa + i, a);
    store(pb + i, b);
    if constexpr (kWeights) {
      store(w00 + i, (a - 1.0) * a);
      store(w01 + i, a * b);
      store(w11 + i, (b - 1.0) * b);
      Lanes observed;
      load(observed, y0 + i);
      store(r0 + i, observed - a);
      load(observed, y1 + i);
      store(r1 + i, observed - b);
    }
  }
}

// The gradient and the three Hessian blocks in one sweep over the rows. The
// lanes run across the entries, each lane its own running sum in row order
// from 0.0, and all sums stay in registers for the whole sweep.
template <std::size_t P>
[[gnu::always_inline]] inline void sweep_kernel(const Design& design,
                                                const FitScratch& scratch,
                                                ModelPass<P>& pass) {
  constexpr std::size_t kGroups = (kTriangle<P> + kLanes - 1) / kLanes;
  Lanes h00[kGroups] = {};
  Lanes h01[kGroups] = {};
  Lanes h11[kGroups] = {};
  Lanes g0 = {};
  Lanes g1 = {};
  for (std::size_t i = 0; i < design.count; ++i) {
    const double* row = design.products + i * kProductStride;
    // Spelled out rather than in a helper: a helper's vector constructor is
    // lowered for the baseline target before it is inlined, and then costs
    // two instructions per broadcast in the AVX2 clone too.
    const double u00 = scratch.w00[i];
    const double u01 = scratch.w01[i];
    const double u11 = scratch.w11[i];
    const Lanes w00 = {u00, u00, u00, u00};
    const Lanes w01 = {u01, u01, u01, u01};
    const Lanes w11 = {u11, u11, u11, u11};
#pragma GCC unroll 3
    for (std::size_t v = 0; v < kGroups; ++v) {
      Lanes m;
      load(m, row + kLanes * v);
      h00[v] += w00 * m;
      h01[v] += w01 * m;
      h11[v] += w11 * m;
    }
    Lanes x;
    load(x, row + kRowOffset);
    const double r0 = scratch.r0[i];
    const double r1 = scratch.r1[i];
    g0 += x * Lanes{r0, r0, r0, r0};
    g1 += x * Lanes{r1, r1, r1, r1};
  }
  for (std::size_t k = 0; k < kTriangle<P>; ++k) {
    pass.h00[k] = h00[k / kLanes][k % kLanes];
    pass.h01[k] = h01[k / kLanes][k % kLanes];
    pass.h11[k] = h11[k / kLanes][k % kLanes];
  }
  for (std::size_t j = 0; j < P; ++j) {
    pass.gradient[j] = g0[j];
    pass.gradient[P + j] = g1[j];
  }
}

// The entry points, compiled twice: with AVX2 (four lanes per instruction)
// and for the baseline (two instructions of two lanes), chosen at load time.
// Both compute the same bits.
__attribute__((target_clones("avx2", "default"))) void fill3(
    const Design& design, const double* coef, const FitScratch& scratch) {
  probabilities_kernel<3, false>(design, coef, scratch);
}

__attribute__((target_clones("avx2", "default"))) void fill4(
    const Design& design, const double* coef, const FitScratch& scratch) {
  probabilities_kernel<4, false>(design, coef, scratch);
}

__attribute__((target_clones("avx2", "default"))) void evaluate3(
    const Design& design, const double* coef, const FitScratch& scratch,
    ModelPass<3>& pass) {
  probabilities_kernel<3, true>(design, coef, scratch);
  sweep_kernel<3>(design, scratch, pass);
}

__attribute__((target_clones("avx2", "default"))) void evaluate4(
    const Design& design, const double* coef, const FitScratch& scratch,
    ModelPass<4>& pass) {
  probabilities_kernel<4, true>(design, coef, scratch);
  sweep_kernel<4>(design, scratch, pass);
}

// Rows per call of log_arguments.
constexpr std::size_t kLogChunk = 64;

// Writes, for each of the `rows` (at most kLogChunk) rows, the argument whose
// logarithm class_log_term takes, or NaN where it gives the zero term
// instead; an argument it takes is never NaN. Selected four rows at a time
// without a branch: the classes follow no pattern a branch predictor could
// learn.
__attribute__((target_clones("avx2", "default"))) void log_arguments(
    const std::uint8_t* cls, std::size_t rows, const double* a, const double* b,
    double* out) {
  using Classes = long long __attribute__((vector_size(32)));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Lanes none = {nan, nan, nan, nan};
  const std::size_t whole = rows / kLanes * kLanes;
  for (std::size_t i = 0; i < whole; i += kLanes) {
    const Classes c = {cls[i], cls[i + 1], cls[i + 2], cls[i + 3]};
    Lanes pa;
    Lanes pb;
    load(pa, a + i);
    load(pb, b + i);
    const Lanes rest = (1.0 - pa) - pb;
    const Lanes taken = c == 0 ? (pa > 0.0 ? pa : none)
                               : (c == 1 ? (pb > 0.0 ? pb : none)
                                         : (pa + pb < 1.0 ? rest : none));
    store(out + i, taken);
  }
  for (std::size_t i = whole; i < rows; ++i) {
    if (cls[i] == 0) {
      out[i] = a[i] > 0 ? a[i] : nan;
    } else if (cls[i] == 1) {
      out[i] = b[i] > 0 ? b[i] : nan;
    } else {
      out[i] = a[i] + b[i] < 1.0 ? (1.0 - a[i]) - b[i] : nan;
    }
  }
}

// Adds to `sum`, in row order, the log-likelihood terms of `rows` rows from
// their log_arguments: the logarithm, or `zeroTerm` where that is NaN.
[[gnu::always_inline]] inline void add_log_terms(const double* arguments,
                                                 std::size_t rows,
                                                 double zeroTerm, double& sum) {
  for (std::size_t k = 0; k < rows; ++k) {
    const double x = arguments[k];
    sum += x == x ? std::log(x) : zeroTerm;
  }
}

// Stores four vectors of four rows each (a, b, c, d) as the four doubles
// at row + stride * k for rows k = 0..3: (a[k], b[k], c[k], d[k]).
[[gnu::always_inline]] inline void store_transposed(
    double* row, std::size_t stride, const Lanes& a, const Lanes& b,
    const Lanes& c, const Lanes& d) {
  const Lanes ab02 = __builtin_shufflevector(a, b, 0, 4, 2, 6);
  const Lanes ab13 = __builtin_shufflevector(a, b, 1, 5, 3, 7);
  const Lanes cd02 = __builtin_shufflevector(c, d, 0, 4, 2, 6);
  const Lanes cd13 = __builtin_shufflevector(c, d, 1, 5, 3, 7);
  store(row, __builtin_shufflevector(ab02, cd02, 0, 1, 4, 5));
  store(row + stride, __builtin_shufflevector(ab13, cd13, 0, 1, 4, 5));
  store(row + 2 * stride, __builtin_shufflevector(ab02, cd02, 2, 3, 6, 7));
  store(row + 3 * stride, __builtin_shufflevector(ab13, cd13, 2, 3, 6, 7));
}

// The arrays of a Design, writable, while they are being filled.
struct DesignArrays {
  std::size_t padded;
  double* col1;
  double* col2;
  double* col3;
  double* y0;
  double* y1;
  double* products;
};

// Writes rows i..i+3 of the design columns and products from the values x0,
// x1 of four individuals, one per lane.
[[gnu::always_inline]] inline void write_design_rows(std::size_t i,
                                                     const Lanes& x0,
                                                     const Lanes& x1,
                                                     const DesignArrays& out) {
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  const Lanes x01 = x0 * x1;
  store(out.col1 + i, x0);
  store(out.col2 + i, x1);
  store(out.col3 + i, x01);
  // The products x[r] * x[c] of the row x = (1, x0, x1, x01), r <= c, in
  // triangle_index order, then x itself.
  static_assert(triangle_index(1, 1) == 2 && triangle_index(1, 2) == 4 &&
                triangle_index(0, 3) == 6 && triangle_index(3, 3) == 9);
  double* const row = out.products + kProductStride * i;
  store_transposed(row, kProductStride, one * one, one * x0, x0 * x0, one * x1);
  store_transposed(row + 4, kProductStride, x0 * x1, x1 * x1, one * x01,
                   x0 * x01);
  store_transposed(row + 8, kProductStride, x1 * x01, x01 * x01, Lanes{},
                   Lanes{});
  store_transposed(row + kRowOffset, kProductStride, one, x0, x1, x01);
}

// Fills the arrays of the design of `columns` (see Design), the rows from
// columns.rows on with zeros and class 2, and returns whether every value of
// columns 1 to 3 is finite.
[[gnu::always_inline]] inline bool fill_design_kernel(
    const PairColumns& columns, const DesignArrays& out) {
  const std::size_t count = columns.rows;
  // Looked up rather than chosen by a branch: the classes follow no pattern
  // a branch predictor could learn.
  static constexpr double kIndicator[2] = {0.0, 1.0};
  for (std::size_t i = 0; i < count; ++i) {
    out.y0[i] = kIndicator[columns.cls[i] == 0];
    out.y1[i] = kIndicator[columns.cls[i] == 1];
  }
  for (std::size_t i = count; i < out.padded; ++i) {
    out.y0[i] = 0.0;
    out.y1[i] = 0.0;
  }
  const std::size_t whole = count / kLanes * kLanes;
  Lanes x0;
  Lanes x1;
  for (std::size_t i = 0; i < whole; i += kLanes) {
    load(x0, columns.x0 + i);
    load(x1, columns.x1 + i);
    write_design_rows(i, x0, x1, out);
  }
  if (whole < count) {
    double last0[kLanes] = {};
    double last1[kLanes] = {};
    for (std::size_t k = 0; whole + k < count; ++k) {
      last0[k] = columns.x0[whole + k];
      last1[k] = columns.x1[whole + k];
    }
    load(x0, last0);
    load(x1, last1);
    write_design_rows(whole, x0, x1, out);
  }
  // v - v is 0.0 for a finite v and NaN otherwise, and a NaN stays in the sum.
  Lanes excess = {};
  for (std::size_t i = 0; i < out.padded; i += kLanes) {
    Lanes c1;
    Lanes c2;
    Lanes c3;
    load(c1, out.col1 + i);
    load(c2, out.col2 + i);
    load(c3, out.col3 + i);
    excess += ((c1 - c1) + (c2 - c2)) + (c3 - c3);
  }
  return excess[0] == 0.0 && excess[1] == 0.0 && excess[2] == 0.0 &&
         excess[3] == 0.0;
}

__attribute__((target_clones("avx2", "default"))) bool fill_design(
    const PairColumns& columns, const DesignArrays& out) {
  return fill_design_kernel(columns, out);
}

// The probabilities, weights and residuals at predictors of +0.0, as
// probabilities_kernel computes them from exponentials of 1.0, and the sweep.
__attribute__((target_clones("avx2", "default"))) void zero_start(
    const Design& design, const FitScratch& scratch, ModelPass<4>& pass) {
  const double one = 1.0;
  const double p = one / ((one + 1.0) + one);
  const Lanes a = {p, p, p, p};
  const Lanes w00 = (a - 1.0) * a;
  const Lanes w01 = a * a;
  for (std::size_t i = 0; i < design.padded; i += kLanes) {
    store(scratch.a + i, a);
    store(scratch.b + i, a);
    store(scratch.w00 + i, w00);
    store(scratch.w01 + i, w01);
    store(scratch.w11 + i, w00);
    Lanes observed;
    load(observed, design.y0 + i);
    store(scratch.r0 + i, observed - a);
    load(observed, design.y1 + i);
    store(scratch.r1 + i, observed - a);
  }
  sweep_kernel<4>(design, scratch, pass);
}

// lda_sum's clones, declared only here like every cloned function of this
// file: clang 14 does not clone a function whose earlier declaration (the
// header's) lacks the attribute, and builds a single AVX2 version instead,
// which faults on a processor without AVX.
__attribute__((target_clones("avx2", "default"))) double lda_sum_clones(
    const PairColumns& columns, std::size_t rows, const double* coef) {
  const double zeroTerm = log_of_zero_probability();
  double exps[2 * kLogChunk];
  double pa[kLogChunk];
  double pb[kLogChunk];
  double arguments[kLogChunk];
  double sum = 0.0;
  for (std::size_t start = 0; start < rows; start += kLogChunk) {
    const std::size_t count = std::min(kLogChunk, rows - start);
    const std::size_t padded = (count + kLanes - 1) / kLanes * kLanes;
    for (std::size_t i = 0; i < padded; i += kLanes) {
      double x0[kLanes] = {};
      double x1[kLanes] = {};
      for (std::size_t k = 0; k < kLanes && i + k < count; ++k) {
        x0[k] = columns.x0[start + i + k];
        x1[k] = columns.x1[start + i + k];
      }
      Lanes design[3] = {};
      load(design[0], x0);
      load(design[1], x1);
      Lanes eta;
      capped_predictor_lanes<3>(design, coef, eta);
      store(exps + i, eta);
      capped_predictor_lanes<3>(design, coef + 3, eta);
      store(exps + padded + i, eta);
    }
    fast_exp::exp_in_place(exps, 2 * padded);
    for (std::size_t i = 0; i < padded; i += kLanes) {
      Lanes ea;
      Lanes eb;
      load(ea, exps + i);
      load(eb, exps + padded + i);
      const Lanes denominator = (ea + 1.0) + eb;
      store(pa + i, ea / denominator);
      store(pb + i, eb / denominator);
    }
    log_arguments(columns.cls + start, count, pa, pb, arguments);
    add_log_terms(arguments, count, zeroTerm, sum);
  }
  return sum;
}

}  // namespace

double lda_sum(const PairColumns& columns, std::size_t rows,
               const double* coef) {
  return lda_sum_clones(columns, rows, coef);
}

template <std::size_t P>
void fill_probabilities(const Design& design, const Vector<2 * P>& coef,
                        const FitScratch& scratch) {
  static_assert(P == 3 || P == 4);
  if constexpr (P == 3) {
    fill3(design, coef.data(), scratch);
  } else {
    fill4(design, coef.data(), scratch);
  }
}

template <std::size_t P>
ModelPass<P> evaluate_model(const Design& design, const Vector<2 * P>& coef,
                            const FitScratch& scratch) {
  static_assert(P == 3 || P == 4);
  ModelPass<P> pass;
  if constexpr (P == 3) {
    evaluate3(design, coef.data(), scratch, pass);
  } else {
    evaluate4(design, coef.data(), scratch, pass);
  }
  return pass;
}

ModelPass<4> zero_start_pass(const Design& design, const FitScratch& scratch) {
  ModelPass<4> pass;
  zero_start(design, scratch, pass);
  return pass;
}

ModelPass<3> reduced_pass(const ModelPass<4>& full) {
  ModelPass<3> pass;
  for (std::size_t j = 0; j < 3; ++j) {
    pass.gradient[j] = full.gradient[j];
    pass.gradient[3 + j] = full.gradient[4 + j];
  }
  for (std::size_t k = 0; k < kTriangle<3>; ++k) {
    pass.h00[k] = full.h00[k];
    pass.h01[k] = full.h01[k];
    pass.h11[k] = full.h11[k];
  }
  return pass;
}

template void fill_probabilities<3>(const Design&, const Vector<6>&,
                                    const FitScratch&);
template void fill_probabilities<4>(const Design&, const Vector<8>&,
                                    const FitScratch&);
template ModelPass<3> evaluate_model<3>(const Design&, const Vector<6>&,
                                        const FitScratch&);
template ModelPass<4> evaluate_model<4>(const Design&, const Vector<8>&,
                                        const FitScratch&);

double log_likelihood(const std::uint8_t* cls, std::size_t count,
                      const double* a, const double* b) {
  const double zeroTerm = log_of_zero_probability();
  double sum = 0.0;
  double arguments[kLogChunk];
  for (std::size_t start = 0; start < count; start += kLogChunk) {
    const std::size_t rows = std::min(kLogChunk, count - start);
    log_arguments(cls + start, rows, a + start, b + start, arguments);
    add_log_terms(arguments, rows, zeroTerm, sum);
  }
  return sum;
}

}  // namespace fixed_model

fixed_model::Design FixedModelWorkspace::load(const PairColumns& columns) {
  using fixed_model::kLanes;
  using fixed_model::kProductStride;
  const std::size_t count = columns.rows;
  const std::size_t padded = (count + kLanes - 1) / kLanes * kLanes;
  // Five design columns and seven scratch columns, then the products; the
  // kLanes spare doubles let the start move to a 32-byte boundary.
  constexpr std::size_t kColumns = 12;
  const std::size_t size = (kColumns + kProductStride) * padded + kLanes;
  if (storage_.size() < size) {
    storage_.resize(size);
  }
  const std::uintptr_t address =
      reinterpret_cast<std::uintptr_t>(storage_.data());
  double* next = storage_.data() + ((32 - address % 32) % 32) / sizeof(double);
  const auto take = [&next](std::size_t doubles) {
    double* start = next;
    next += doubles;
    return start;
  };
  fixed_model::DesignArrays out;
  out.padded = padded;
  // scratch_.b must follow scratch_.a directly: one exp sweep covers both.
  for (double** column :
       {&out.col1, &out.col2, &out.col3, &out.y0, &out.y1, &scratch_.a,
        &scratch_.b, &scratch_.w00, &scratch_.w01, &scratch_.w11, &scratch_.r0,
        &scratch_.r1}) {
    *column = take(padded);
  }
  out.products = take(kProductStride * padded);
  const bool finite = fixed_model::fill_design(columns, out);
  return {count,    padded, finite, out.col1,    out.col2,
          out.col3, out.y0, out.y1, out.products};
}
