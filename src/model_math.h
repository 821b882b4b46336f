// Dense linear algebra that the model fit needs beyond what uBLAS offers
// directly: the determinant of a square matrix by LU factorisation.
#ifndef ZIRK_MODEL_MATH_H_
#define ZIRK_MODEL_MATH_H_

#include <boost/numeric/ublas/exception.hpp>
#include <boost/numeric/ublas/lu.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <cstddef>

#include "common.h"

namespace math {

// Returns the determinant of the square matrix `m` (left unchanged): the
// product of the pivots of a partial-pivoting LU factorisation of a copy,
// each pivot negated where its row was exchanged. A singular matrix gives 0
// (or a tiny value); NaN and infinities propagate without raising. A matrix
// that is not square throws boost::numeric::ublas::bad_argument (a
// std::logic_error): uBLAS's own checks are compiled out, and the product
// over the diagonal would otherwise read past the factored copy.
template <class MatrixT>
double determinant(const MatrixT& m) {
  namespace ublas = boost::numeric::ublas;
  if (m.size1() != m.size2()) {
    throw ublas::bad_argument("determinant of a matrix that is not square");
  }
  MatrixT lu(m);
  const std::size_t size = lu.size1();
  Permutation pm(size);
  // A zero pivot only makes the product 0, so the singularity flag is moot.
  ublas::lu_factorize(lu, pm);
  double det = 1.0;
  for (std::size_t i = 0; i < size; ++i) {
    if (pm(i) == i) {
      det *= lu(i, i);
    } else {
      det *= -lu(i, i);
    }
  }
  return det;
}

}  // namespace math

#endif  // ZIRK_MODEL_MATH_H_
