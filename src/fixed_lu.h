// The LU factorisation of small fixed-size matrices, as the fixed-size
// model code (fixed_model_kernels.h) uses it: partial pivoting, the
// determinant and the solve, each repeating the arithmetic of the general
// uBLAS code (model_math.h, model.h) operation for operation, so that the
// factors, the determinant and the solution are the same to the bit.
#ifndef ZIRK_FIXED_LU_H_
#define ZIRK_FIXED_LU_H_

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

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
  // Unrolled whole, so that every inner loop has a known trip count and is
  // unrolled too: the loop control otherwise outweighs the arithmetic.
#pragma GCC unroll 8
  for (std::size_t i = 0; i < N; ++i) {
    std::size_t pivot = i;
    double largest = 0.0;
#pragma GCC unroll 8
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
#pragma GCC unroll 8
      for (std::size_t r = i + 1; r < N; ++r) {
        a[r][i] *= inverse;
      }
    } else if (singular == 0) {
      singular = i + 1;
    }
#pragma GCC unroll 8
    for (std::size_t r = i + 1; r < N; ++r) {
#pragma GCC unroll 8
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

}  // namespace fixed_model

#endif  // ZIRK_FIXED_LU_H_
