// Allocation-free, fixed-size versions of the pair scores that dominate the
// screening engine's run time: the interaction test (two Newton-Raphson fits
// of the three-class multinomial logistic model, with 3 and 4 design columns)
// and the LDA value.
//
// Every function here repeats the arithmetic of the general matrix versions
// in model.h and scores.h operation for operation: the same products with the
// same operand order, the same summation order (each sum starting from 0.0),
// the same partial-pivoting LU factorisation with its pivot choice, the same
// std::log calls and exponentials equal to std::exp's (fast_exp.h). The results
// are therefore equal to theirs to the bit for every input, infinities and
// signed zeros included; a NaN is matched by a NaN, whose sign and payload
// neither version controls (the compiler may swap the operands of a commutative
// operation or move a negation). The scores themselves are never NaN. Only the
// storage and the schedule differ: fixed-size arrays on the stack and one
// reusable workspace per thread instead of matrices allocated on every call,
// and vector lanes that compute four rows, or four entries of the sums, side by
// side, each lane performing exactly the scalar sequence of operations.
//
// A pair's data is read in place from the engine's columns (PairColumns).
// Genotype class c of an individual stands for the indicator row (1, 0) when
// c is 0, (0, 1) when c is 1 and (0, 0) otherwise (class 2).
#ifndef ZIRK_FIXED_MODEL_H_
#define ZIRK_FIXED_MODEL_H_

#include <cstdint>

#include "fixed_model_kernels.h"

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
