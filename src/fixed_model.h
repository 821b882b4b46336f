// Allocation-free, fixed-size versions of the pair scores that dominate the
// screening engine's run time: the interaction test (two Newton-Raphson fits
// of the three-class multinomial logistic model, with 3 and 4 design columns)
// and the LDA value.
//
// Every function here repeats the arithmetic of the general matrix versions
// in model.h and scores.h operation for operation: the same products with the
// same operand order, the same summation order (each sum starting from 0.0),
// the same partial-pivoting LU factorisation with its pivot choice, the same
// std::exp and std::log calls. The results are therefore equal to theirs to
// the bit for every input, infinities and signed zeros included; a NaN is
// matched by a NaN, whose sign and payload neither version controls (the
// compiler may swap the operands of a commutative operation or move a
// negation). The scores themselves are never NaN. Only the storage differs:
// fixed-size arrays on the stack and one reusable workspace per thread
// instead of matrices allocated on every call.
//
// A pair's data is read in place from the engine's columns (PairColumns).
// Genotype class c of an individual stands for the indicator row (1, 0) when
// c is 0, (0, 1) when c is 1 and (0, 0) otherwise (class 2).
#ifndef ZIRK_FIXED_MODEL_H_
#define ZIRK_FIXED_MODEL_H_

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

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

template <std::size_t N>
using Vector = std::array<double, N>;
template <std::size_t N>
using Square = std::array<std::array<double, N>, N>;
// Entry i: the row exchanged with row i at elimination step i (i if none).
template <std::size_t N>
using Permutation = std::array<std::size_t, N>;

// LU-factorises `a` in place with partial pivoting and returns 0, or i + 1 for
// the first elimination step i that met a zero pivot. `pm` must hold the
// identity on entry and receives the row exchanges. The pivot of column i is
// the first entry of largest magnitude at or below the diagonal (a NaN is
// never chosen; if none exceeds 0 the diagonal entry itself is taken); the
// column below the pivot is scaled by the pivot's reciprocal and the trailing
// block updated even after a zero pivot, so that the factors are the same as
// those of the general factorisation for every input.
template <std::size_t N>
std::size_t lu_factorize(Square<N>& a, Permutation<N>& pm) {
  std::size_t singular = 0;
  for (std::size_t i = 0; i < N; ++i) {
    std::size_t pivot = i;
    double largest = 0.0;
    for (std::size_t r = i; r < N; ++r) {
      const double magnitude = std::abs(a[r][i]);
      if (magnitude > largest) {
        pivot = r;
        largest = magnitude;
      }
    }
    if (a[pivot][i] != 0.0) {
      if (pivot != i) {
        pm[i] = pivot;
        std::swap(a[pivot], a[i]);
      }
      const double inverse = 1.0 / a[i][i];
      for (std::size_t r = i + 1; r < N; ++r) {
        a[r][i] *= inverse;
      }
    } else if (singular == 0) {
      singular = i + 1;
    }
    for (std::size_t r = i + 1; r < N; ++r) {
      for (std::size_t c = i + 1; c < N; ++c) {
        a[r][c] -= a[r][i] * a[i][c];
      }
    }
  }
  return singular;
}

// Returns the determinant from the factors of lu_factorize: the product, from
// 1.0 in pivot order, of the diagonal entries, each negated where its row was
// exchanged. A zero pivot makes it 0 (or NaN beside an infinite pivot).
template <std::size_t N>
double lu_determinant(const Square<N>& lu, const Permutation<N>& pm) {
  double det = 1.0;
  for (std::size_t i = 0; i < N; ++i) {
    if (pm[i] == i) {
      det *= lu[i][i];
    } else {
      det *= -lu[i][i];
    }
  }
  return det;
}

// Replaces `x` (the right-hand side b on entry) by the solution of A x = b,
// given the factors of A from a lu_factorize that met no zero pivot: row
// exchanges first, then forward substitution with the unit lower triangle
// and back substitution with the upper one.
template <std::size_t N>
void lu_solve(const Square<N>& lu, const Permutation<N>& pm, Vector<N>& x) {
  for (std::size_t i = 0; i < N; ++i) {
    if (i != pm[i]) {
      std::swap(x[i], x[pm[i]]);
    }
  }
  // The unit diagonal's division by 1.0 is exact and therefore left out.
  for (std::size_t r = 0; r < N; ++r) {
    double t = x[r];
    for (std::size_t c = 0; c < r; ++c) {
      t -= lu[r][c] * x[c];
    }
    x[r] = t;
  }
  for (std::size_t r = N; r-- > 0;) {
    double t = x[r];
    for (std::size_t c = r + 1; c < N; ++c) {
      t -= lu[r][c] * x[c];
    }
    x[r] = t / lu[r][r];
  }
}

// What the fit reads of one individual, none of which changes between
// Newton-Raphson steps: the design row x = (1, x0, x1, x0 * x1), the
// products x[r] * x[c] (r <= c) of its outer product, and the class
// indicators y (y[0] = 1.0 for class 0, y[1] = 1.0 for class 1, else 0.0).
// The products are stored column by column of the upper triangle ((0,0),
// (0,1), (1,1), (0,2), ...), so that the first kTriangle<3> of them are
// those of the three-column design.
struct DesignRow {
  std::array<double, 4> x;
  std::array<double, 10> m;
  std::array<double, 2> y;
};

template <std::size_t P>
inline constexpr std::size_t kTriangle = P*(P + 1) / 2;

// Position of product x[r] * x[c] (r <= c) in DesignRow::m.
constexpr std::size_t triangle_index(std::size_t r, std::size_t c) {
  return c * (c + 1) / 2 + r;
}

// Returns the row of an individual with log10 values x0, x1 and class `cls`.
inline DesignRow make_design_row(double x0, double x1, std::uint8_t cls) {
  DesignRow row;
  row.x = {1.0, x0, x1, x0 * x1};
  for (std::size_t c = 0; c < 4; ++c) {
    for (std::size_t r = 0; r <= c; ++r) {
      row.m[triangle_index(r, c)] = row.x[r] * row.x[c];
    }
  }
  row.y = {cls == 0 ? 1.0 : 0.0, cls == 1 ? 1.0 : 0.0};
  return row;
}

// std::exp(x), which is exactly +0.0 for every x below -746 (the smallest
// subnormal is e^-744.4); fits of separated classes drive many predictors
// far below that, and the library's underflow path is slow.
inline double exp_or_zero(double x) { return x < -746.0 ? 0.0 : std::exp(x); }

// Writes the linear predictors of classes 0 and 1 of one design row `x` (P
// entries) at coefficients `coef` (class 0's block, then class 1's), each
// summed in column order from 0.0 and capped at kExponentCap (a NaN
// predictor takes the cap), into `e0` and `e1`.
template <std::size_t P>
void capped_predictors(const double* x, const Vector<2 * P>& coef, double& e0,
                       double& e1) {
  double eta0 = 0.0;
  double eta1 = 0.0;
  for (std::size_t j = 0; j < P; ++j) {
    eta0 += x[j] * coef[j];
  }
  for (std::size_t j = 0; j < P; ++j) {
    eta1 += x[j] * coef[P + j];
  }
  e0 = capped_predictor(eta0);
  e1 = capped_predictor(eta1);
}

// Writes the probabilities of classes 0 and 1 of one design row `x` into `a`
// and `b`. The predictors are capped, so both are finite.
template <std::size_t P>
void class_probabilities(const double* x, const Vector<2 * P>& coef, double& a,
                         double& b) {
  double e0;
  double e1;
  capped_predictors<P>(x, coef, e0, e1);
  const double x0 = exp_or_zero(e0);
  const double x1 = exp_or_zero(e1);
  const double denominator = (x0 + 1.0) + x1;
  a = x0 / denominator;
  b = x1 / denominator;
}

// class_probabilities for rows 0..count-1, written to pimat[2i] (class 0)
// and pimat[2i + 1] (class 1). Done in three sweeps (predictors, then the
// exponentials, then the quotients) so that the exponentials run back to
// back and the quotients pair up; each value is computed as above.
template <std::size_t P>
void fill_probabilities(const DesignRow* rows, std::size_t count,
                        const Vector<2 * P>& coef, double* pimat) {
  for (std::size_t i = 0; i < count; ++i) {
    capped_predictors<P>(rows[i].x.data(), coef, pimat[2 * i],
                         pimat[2 * i + 1]);
  }
  for (std::size_t k = 0; k < 2 * count; ++k) {
    pimat[k] = exp_or_zero(pimat[k]);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const double x0 = pimat[2 * i];
    const double x1 = pimat[2 * i + 1];
    const double denominator = (x0 + 1.0) + x1;
    pimat[2 * i] = x0 / denominator;
    pimat[2 * i + 1] = x1 / denominator;
  }
}

// What one pass over the individuals yields at fixed coefficients: the
// gradient of the log-likelihood (class 0's block, then class 1's) and the
// upper triangles (DesignRow::m layout) of the Hessian's three distinct
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

namespace detail {

// Returns sum over rows i < count of weight(pimat[2i], pimat[2i + 1]) times
// the first kTriangle<P> outer products of row i, each entry summed in row
// order from 0.0. One block per sweep keeps the sums in registers.
template <std::size_t P, class Weight>
std::array<double, kTriangle<P>> hessian_block(const DesignRow* rows,
                                               std::size_t count,
                                               const double* pimat,
                                               Weight weight) {
  std::array<double, kTriangle<P>> h;
  h.fill(0.0);
  for (std::size_t i = 0; i < count; ++i) {
    const double w = weight(pimat[2 * i], pimat[2 * i + 1]);
    // Unrolled so that the sums stay in registers rather than making a
    // round trip through memory for every row.
#pragma GCC unroll 10
    for (std::size_t k = 0; k < kTriangle<P>; ++k) {
      h[k] += w * rows[i].m[k];
    }
  }
  return h;
}

}  // namespace detail

// Fills pimat[2i], pimat[2i + 1] with the class 0 and 1 probabilities of rows
// i < count at `coef` and returns the gradient and Hessian blocks over those
// rows, each entry summed in row order from 0.0 with the weights
// (a - 1) a, a b and (b - 1) b of the general version. Requires `rows` and
// `pimat` (2 * count doubles) to hold count rows.
template <std::size_t P>
ModelPass<P> evaluate_model(const DesignRow* rows, std::size_t count,
                            const Vector<2 * P>& coef, double* pimat) {
  fill_probabilities<P>(rows, count, coef, pimat);
  ModelPass<P> pass;
  Vector<2 * P> gradient;
  gradient.fill(0.0);
  for (std::size_t i = 0; i < count; ++i) {
    const double r0 = rows[i].y[0] - pimat[2 * i];
    const double r1 = rows[i].y[1] - pimat[2 * i + 1];
#pragma GCC unroll 4
    for (std::size_t j = 0; j < P; ++j) {
      gradient[j] += rows[i].x[j] * r0;
    }
#pragma GCC unroll 4
    for (std::size_t j = 0; j < P; ++j) {
      gradient[P + j] += rows[i].x[j] * r1;
    }
  }
  pass.gradient = gradient;
  pass.h00 = detail::hessian_block<P>(
      rows, count, pimat, [](double a, double) { return (a - 1.0) * a; });
  pass.h01 = detail::hessian_block<P>(rows, count, pimat,
                                      [](double a, double b) { return a * b; });
  pass.h11 = detail::hessian_block<P>(
      rows, count, pimat, [](double, double b) { return (b - 1.0) * b; });
  return pass;
}

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

// Fits `coef` (the starting point on entry) to the first `count` rows by
// undamped Newton-Raphson steps, exactly as the general newton_raphson: it
// stops after a step whose squared length is at most 0.06 P, after 11 steps,
// or, keeping the coefficients at which it was evaluated, at a Hessian whose
// determinant is not at least 1e-15 or that meets a zero pivot. `pimat`
// (2 * count doubles) is scratch; returns true when it holds the class
// probabilities at the returned coefficients (the fit stopped at a
// Hessian), false when they must be computed afresh.
template <std::size_t P>
bool newton_raphson(const DesignRow* rows, std::size_t count,
                    Vector<2 * P>& coef, double* pimat) {
  constexpr std::size_t Q = 2 * P;
  Vector<Q> current = coef;
  Vector<Q> previous;
  unsigned steps = 0;
  const double tolerance = kStepTolerancePerColumn * static_cast<double>(P);
  bool pimatCurrent = false;
  while (true) {
    previous = current;
    const ModelPass<P> pass = evaluate_model<P>(rows, count, previous, pimat);
    Square<Q> lu = assemble_hessian<P>(pass);
    Permutation<Q> pm;
    std::iota(pm.begin(), pm.end(), std::size_t{0});
    // One factorisation serves both the determinant and the solve: the
    // general version factorises two copies of the same matrix identically.
    const std::size_t singular = lu_factorize<Q>(lu, pm);
    if (!(lu_determinant<Q>(lu, pm) >= kDeterminantFloor) || singular != 0) {
      pimatCurrent = true;
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
  return pimatCurrent;
}

// Returns the log-likelihood of the first `count` rows' classes `cls` from
// their class probabilities pimat[2i], pimat[2i + 1], summed in row order
// from 0.0.
double log_likelihood_from_pimat(const std::uint8_t* cls, std::size_t count,
                                 const double* pimat);

}  // namespace fixed_model

// Reusable scratch memory for the fixed-size scores: the design rows and
// class probabilities of one pair. It grows to the largest row count seen
// and never allocates again below it. Not shared between threads.
class FixedModelWorkspace {
 public:
  // Fills the design rows of `columns` (growing the storage if needed) and
  // returns them; the class probabilities are then pimat(), 2 per row.
  const fixed_model::DesignRow* load(const PairColumns& columns);
  double* pimat() { return pimat_.data(); }

 private:
  std::vector<fixed_model::DesignRow> rows_;
  std::vector<double> pimat_;
};

// The interaction test's results, as interaction_test stores and returns
// them.
struct InteractionScores {
  double llReduced;
  double llFull;
  double statistic;
  double pValue;
};

// Returns the log-likelihoods of the reduced (1, x0, x1) and full (plus
// x0 * x1) models fitted from zero to all columns.rows individuals, the
// statistic 2 (llFull - llReduced) and its upper tail under chi-squared with
// 2 degrees of freedom, or 1.0 when the statistic is not positive: to the
// bit what interaction_test gives on the same data. No rows give 0.0, 0.0,
// 0.0 and 1.0.
InteractionScores fixed_interaction_scores(const PairColumns& columns,
                                           FixedModelWorkspace& work);

// Returns only the p-value of fixed_interaction_scores.
double fixed_interaction_test(const PairColumns& columns,
                              FixedModelWorkspace& work);

// Returns the LDA value of the pair: to the bit what llvalue_lda gives with
// the global individual count n equal to `individuals`, from the class sums
// `summat`, class covariances `covmat` (rows 0 to 2) and class sizes `nvec`
// of the mean-covariance screen. -9999.0 when the pooled covariance's
// determinant is exactly 0. The sum runs over the first `individuals` rows,
// but never past columns.rows; none when `individuals` is not positive.
double fixed_llvalue_lda(const PairColumns& columns, std::int32_t individuals,
                         const double summat[3][4], const double covmat[4][3],
                         const double nvec[3]);

#endif  // ZIRK_FIXED_MODEL_H_
