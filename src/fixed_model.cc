#include "fixed_model.h"

#include <cstring>

#include "fast_exp.h"
#include "scores.h"

namespace fixed_model {

namespace {

// Four doubles, one row (or one entry of a sum) per lane. Every operation on
// it is the IEEE operation of the scalar code, performed lane by lane, so a
// lane's result is that of the scalar code to the bit, whether the compiler
// emits one 256-bit instruction or two 128-bit ones.
using Lanes = double __attribute__((vector_size(32)));

// Helpers that take or return Lanes are always inlined, so no call ever
// passes a vector by the convention that differs between the AVX2 and the
// baseline clones; the compiler's warning about that convention is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

[[gnu::always_inline]] inline Lanes load(const double* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

[[gnu::always_inline]] inline void store(double* p, Lanes v) {
  std::memcpy(p, &v, sizeof v);
}

// The capped linear predictors of four rows (design columns 1 to P-1 in
// `columns`) at one class's coefficient block `coef`: capped_predictors'
// sum in column order from 0.0, lane by lane.
template <std::size_t P>
[[gnu::always_inline]] inline Lanes capped_predictor_lanes(const Lanes* columns,
                                                           const double* coef) {
  const Lanes one = {1.0, 1.0, 1.0, 1.0};
  Lanes eta = Lanes{} + one * Lanes{coef[0], coef[0], coef[0], coef[0]};
  for (std::size_t j = 1; j < P; ++j) {
    eta = eta + columns[j - 1] * Lanes{coef[j], coef[j], coef[j], coef[j]};
  }
  const Lanes cap = {kExponentCap, kExponentCap, kExponentCap, kExponentCap};
  return eta < cap ? eta : cap;
}

// fill_probabilities, and with kWeights also the Hessian weights and the
// residuals of the same rows. Three sweeps (predictors, exponentials,
// quotients): the exponentials of all rows go through one vector call that
// returns exactly exact_exp's values.
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
    const Lanes columns[3] = {load(col1 + i), load(col2 + i),
                              P == 4 ? load(col3 + i) : Lanes{}};
    store(pa + i, capped_predictor_lanes<P>(columns, coef));
    store(pb + i, capped_predictor_lanes<P>(columns, coef + P));
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
    const Lanes ea = load(pa + i);
    const Lanes eb = load(pb + i);
    const Lanes denominator = (ea + 1.0) + eb;
    const Lanes a = ea / denominator;
    const Lanes b = eb / denominator;
    store(pa + i, a);
    store(pb + i, b);
    if constexpr (kWeights) {
      store(w00 + i, (a - 1.0) * a);
      store(w01 + i, a * b);
      store(w11 + i, (b - 1.0) * b);
      store(r0 + i, load(y0 + i) - a);
      store(r1 + i, load(y1 + i) - b);
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
      const Lanes m = load(row + kLanes * v);
      h00[v] += w00 * m;
      h01[v] += w01 * m;
      h11[v] += w11 * m;
    }
    const Lanes x = load(row + kRowOffset);
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

// Stores four vectors of four rows each (a, b, c, d) as the four doubles
// at row + stride * k for rows k = 0..3: (a[k], b[k], c[k], d[k]).
[[gnu::always_inline]] inline void store_transposed(double* row,
                                                    std::size_t stride, Lanes a,
                                                    Lanes b, Lanes c, Lanes d) {
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
[[gnu::always_inline]] inline void write_design_rows(std::size_t i, Lanes x0,
                                                     Lanes x1,
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
// columns.rows on with zeros and class 2.
[[gnu::always_inline]] inline void fill_design_kernel(
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
  for (std::size_t i = 0; i < whole; i += kLanes) {
    write_design_rows(i, load(columns.x0 + i), load(columns.x1 + i), out);
  }
  if (whole < count) {
    double x0[kLanes] = {};
    double x1[kLanes] = {};
    for (std::size_t k = 0; whole + k < count; ++k) {
      x0[k] = columns.x0[whole + k];
      x1[k] = columns.x1[whole + k];
    }
    write_design_rows(whole, load(x0), load(x1), out);
  }
}

__attribute__((target_clones("avx2", "default"))) void fill_design(
    const PairColumns& columns, const DesignArrays& out) {
  fill_design_kernel(columns, out);
}

}  // namespace

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
  for (std::size_t i = 0; i < count; ++i) {
    sum += class_log_term(cls[i], a[i], b[i], zeroTerm);
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
  fixed_model::fill_design(columns, out);
  return {count,    padded, out.col1, out.col2,
          out.col3, out.y0, out.y1,   out.products};
}

namespace {

// Fits the model of P design columns from zero and returns its
// log-likelihood, reusing the fit's last class probabilities when they
// belong to the fitted coefficients.
template <std::size_t P>
double fitted_log_likelihood(const fixed_model::Design& design,
                             const std::uint8_t* cls,
                             const fixed_model::FitScratch& scratch) {
  fixed_model::Vector<2 * P> coef;
  coef.fill(0.0);
  if (!fixed_model::newton_raphson<P>(design, coef, scratch)) {
    fixed_model::fill_probabilities<P>(design, coef, scratch);
  }
  return fixed_model::log_likelihood(cls, design.count, scratch.a, scratch.b);
}

}  // namespace

InteractionScores fixed_interaction_scores(const PairColumns& columns,
                                           FixedModelWorkspace& work) {
  const fixed_model::Design design = work.load(columns);
  InteractionScores scores;
  scores.llReduced =
      fitted_log_likelihood<3>(design, columns.cls, work.scratch());
  scores.llFull = fitted_log_likelihood<4>(design, columns.cls, work.scratch());
  const double d = scores.llFull - scores.llReduced;
  scores.statistic = d + d;
  scores.pValue = interaction_pvalue(scores.statistic);
  return scores;
}

double fixed_interaction_test(const PairColumns& columns,
                              FixedModelWorkspace& work) {
  return fixed_interaction_scores(columns, work).pValue;
}

double fixed_llvalue_lda(const PairColumns& columns, std::int32_t individuals,
                         const double summat[3][4], const double covmat[4][3],
                         const double nvec[3]) {
  fixed_model::Vector<6> b;
  const auto sums = [&](unsigned k, unsigned j) { return summat[k][j]; };
  const auto covariances = [&](unsigned k, unsigned j) { return covmat[k][j]; };
  const auto sizes = [&](unsigned k) { return nvec[k]; };
  if (!lda_coefficients(sums, covariances, sizes, individuals, b.data())) {
    return -9999.0;
  }
  const std::size_t rows =
      individuals > 0
          ? std::min(static_cast<std::size_t>(individuals), columns.rows)
          : 0;
  const double zeroTerm = log_of_zero_probability();
  double sum = 0.0;
  for (std::size_t i = 0; i < rows; ++i) {
    const double x[3] = {1.0, columns.x0[i], columns.x1[i]};
    double pa;
    double pb;
    fixed_model::class_probabilities<3>(x, b, pa, pb);
    sum += class_log_term(columns.cls[i], pa, pb, zeroTerm);
  }
  return sum;
}
