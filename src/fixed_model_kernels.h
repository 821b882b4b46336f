// The kernels of the fixed-size pair scores (fixed_model.h): a pair's design
// laid out for vector lanes, the class probabilities, the gradient and
// Hessian of one pass over the individuals, the Newton-Raphson fit and the
// log-likelihood, and the workspace that holds them between pairs. Each
// repeats the general code's arithmetic as fixed_model.h states.
#ifndef ZIRK_FIXED_MODEL_KERNELS_H_
#define ZIRK_FIXED_MODEL_KERNELS_H_

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "fixed_lu.h"
#include "model.h"

// One pair's data as the engine holds it: per individual i, the two genes'
// log10 values x0[i], x1[i] and the genotype class cls[i].
struct PairColumns {
  const double* x0;
  const double* x1;
  const std::uint8_t* cls;
  std::size_t rows;
};

namespace fixed_model {

template <std::size_t P>
inline constexpr std::size_t kTriangle = P*(P + 1) / 2;

// Position of product x[r] * x[c] (r <= c) of a design row x in the upper
// triangle stored column by column ((0,0), (0,1), (1,1), (0,2), ...), so that
// the first kTriangle<3> entries are those of the three-column design.
constexpr std::size_t triangle_index(std::size_t r, std::size_t c) {
  return c * (c + 1) / 2 + r;
}

// Rows are processed four at a time, one per lane of a 256-bit vector; the
// row arrays below are padded to a multiple of kLanes.
inline constexpr std::size_t kLanes = 4;

// Doubles per row in Design::products: the 10 products x[r] * x[c] (r <= c,
// triangle_index order) of the row x = (1, x0, x1, x0 * x1), two zeros that
// fill the third group of four, then x itself.
inline constexpr std::size_t kProductStride = 16;
inline constexpr std::size_t kRowOffset = 12;

// What the fit reads of a pair's individuals, none of which changes between
// Newton-Raphson steps. The design columns 1 to 3 (x0, x1 and x0 * x1; column
// 0 is the constant 1.0) and the class indicators y0 (1.0 for class 0, else
// 0.0) and y1 (1.0 for class 1) are held column by column so that four rows
// fill a vector; the products sit row by row so that one row's entries fill
// vectors. Arrays hold `padded` rows (32-byte aligned); the rows from
// `count` on are those of an individual with both values 0.0 and class 2,
// and no sum ever reads them. `finite` tells whether every value of columns
// 1 to 3 is finite, so that every linear predictor at coefficients of zero
// is +0.0.
struct Design {
  std::size_t count;
  std::size_t padded;
  bool finite;
  const double* col1;
  const double* col2;
  const double* col3;
  const double* y0;
  const double* y1;
  const double* products;
};

// Per-row values of one evaluation, `padded` rows each (32-byte aligned):
// the class 0 and 1 probabilities a and b (first the linear predictors and
// their exponentials), the Hessian weights w00 = (a - 1) a, w01 = a b and
// w11 = (b - 1) b, and the residuals r0 = y0 - a and r1 = y1 - b. `b`
// follows `a` directly in memory.
struct FitScratch {
  double* a;
  double* b;
  double* w00;
  double* w01;
  double* w11;
  double* r0;
  double* r1;
};

// The class 0 and 1 probabilities of one design row x (P entries) at
// coefficients coef (class 0's block, then class 1's), as the general
// get_pimat forms them: each linear predictor summed in column order from 0.0
// and capped at kExponentCap (a NaN predictor takes the cap), e0 and e1 their
// exponentials (fast_exp's, equal to std::exp's to the bit), then
// a = e0 / ((e0 + 1.0) + e1) and b = e1 / ((e0 + 1.0) + e1). The predictors
// are capped, so both are finite.

// Fills scratch.a and scratch.b with the class 0 and 1 probabilities of all
// padded rows of `design` at `coef` (P = 3 or 4 design columns), each value
// formed as above. Four rows share each vector
// operation, one row per lane, so every lane performs the scalar sequence.
template <std::size_t P>
void fill_probabilities(const Design& design, const Vector<2 * P>& coef,
                        const FitScratch& scratch);

// What one pass over the individuals yields at fixed coefficients: the
// gradient of the log-likelihood (class 0's block, then class 1's) and the
// upper triangles (triangle_index layout) of the Hessian's three distinct
// P x P blocks: (0,0), (0,1) and (1,1). Each block is a weighted sum of
// symmetric outer products and so symmetric itself; block (1,0) is the
// transpose of block (0,1).
template <std::size_t P>
struct ModelPass {
  Vector<2 * P> gradient;
  std::array<double, kTriangle<P>> h00;
  std::array<double, kTriangle<P>> h01;
  std::array<double, kTriangle<P>> h11;
};

// Fills `scratch` (probabilities, weights, residuals) at `coef` (P = 3 or 4)
// and returns the gradient and Hessian blocks over the design's rows, each
// entry summed in row order from 0.0 with the weights of the general
// version: the gradient x[j] (y - p), the blocks w x[r] x[c].
template <std::size_t P>
ModelPass<P> evaluate_model(const Design& design, const Vector<2 * P>& coef,
                            const FitScratch& scratch);

// evaluate_model<4> at coefficients of zero for a design with `finite` set:
// every predictor is +0.0 and its exponential 1.0, so the probabilities are
// 1/3 without a call to the exponential.
ModelPass<4> zero_start_pass(const Design& design, const FitScratch& scratch);

// The pass of the three-column model at the same probabilities as `full`: its
// sums are the first entries of the four-column ones, formed alike.
ModelPass<3> reduced_pass(const ModelPass<4>& full);

// Returns the full 2P x 2P Hessian from the blocks of a pass. Entries below a
// block's diagonal mirror those above it: the general version forms them as
// x[c] * x[r] instead of x[r] * x[c], which gives the same value (two NaN
// operands aside, where the whole fit ends at the determinant test anyway).
template <std::size_t P>
Square<2 * P> assemble_hessian(const ModelPass<P>& pass) {
  Square<2 * P> h;
  for (std::size_t r = 0; r < P; ++r) {
    for (std::size_t c = 0; c < P; ++c) {
      const std::size_t k =
          r <= c ? triangle_index(r, c) : triangle_index(c, r);
      h[r][c] = pass.h00[k];
      h[r][P + c] = pass.h01[k];
      h[P + r][c] = pass.h01[k];
      h[P + r][P + c] = pass.h11[k];
    }
  }
  return h;
}

// Fits `coef` (the starting point on entry) to the design's rows by
// undamped Newton-Raphson steps, exactly as the general newton_raphson: it
// stops after a step whose squared length is at most 0.06 P, after 11 steps,
// or, keeping the coefficients at which it was evaluated, at a Hessian whose
// determinant is not at least 1e-15 or that meets a zero pivot. A given
// `first` is the pass at the starting point and takes the place of its
// evaluation. Returns true when scratch.a and scratch.b hold the class
// probabilities at the returned coefficients (the fit stopped at a Hessian
// it evaluated), false when they must be computed afresh.
template <std::size_t P>
bool newton_raphson(const Design& design, Vector<2 * P>& coef,
                    const FitScratch& scratch,
                    const ModelPass<P>* first = nullptr) {
  constexpr std::size_t Q = 2 * P;
  Vector<Q> current = coef;
  Vector<Q> previous;
  unsigned steps = 0;
  const double tolerance = kStepTolerancePerColumn * static_cast<double>(P);
  bool probabilitiesCurrent = false;
  while (true) {
    previous = current;
    const bool evaluated = first == nullptr;
    const ModelPass<P> pass =
        evaluated ? evaluate_model<P>(design, previous, scratch) : *first;
    first = nullptr;
    Square<Q> lu = assemble_hessian<P>(pass);
    Permutation<Q> pm;
    std::iota(pm.begin(), pm.end(), std::size_t{0});
    // One factorisation serves both the determinant and the solve: the
    // general version factorises two copies of the same matrix identically.
    const std::size_t singular = lu_factorize<Q>(lu, pm);
    if (!(lu_determinant<Q>(lu, pm) >= kDeterminantFloor) || singular != 0) {
      probabilitiesCurrent = evaluated;
      break;
    }
    Vector<Q> step = pass.gradient;
    lu_solve<Q>(lu, pm, step);
    for (std::size_t j = 0; j < Q; ++j) {
      current[j] = previous[j] - step[j];
    }
    ++steps;
    double length = 0.0;
    for (std::size_t j = 0; j < Q; ++j) {
      const double delta = current[j] - previous[j];
      length += delta * delta;
    }
    if (!(length > tolerance && steps <= kStepLimit)) {
      break;
    }
  }
  coef = current;
  return probabilitiesCurrent;
}

// Returns the log-likelihood of the first `count` rows' classes `cls` from
// their class 0 and 1 probabilities a[i] and b[i], summed in row order from
// 0.0.
double log_likelihood(const std::uint8_t* cls, std::size_t count,
                      const double* a, const double* b);

// The LDA value's sum over the first `rows` rows of `columns` at coefficients
// `coef`, kLogChunk rows at a time: the capped predictors four rows per
// vector, one exponential call for the chunk, the quotients as
// fill_probabilities forms them, then the terms in row order.
double lda_sum(const PairColumns& columns, std::size_t rows,
               const double* coef);

}  // namespace fixed_model

// Reusable scratch memory for the fixed-size scores: one pair's design and
// the per-row values of its fits, in one buffer that grows to the largest
// row count seen and never allocates again below it. Not shared between
// threads.
class FixedModelWorkspace {
 public:
  // Fills the design of `columns` (growing the storage if needed) and
  // returns it; scratch() then holds room for its rows.
  fixed_model::Design load(const PairColumns& columns);
  const fixed_model::FitScratch& scratch() const { return scratch_; }

 private:
  std::vector<double> storage_;
  fixed_model::FitScratch scratch_{};
};

#endif  // ZIRK_FIXED_MODEL_KERNELS_H_
