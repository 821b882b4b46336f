#include "fixed_model.h"

#include "scores.h"

namespace fixed_model {

double log_likelihood_from_pimat(const std::uint8_t* cls, std::size_t count,
                                 const double* pimat) {
  const double zeroTerm = log_of_zero_probability();
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    sum += class_log_term(cls[i], pimat[2 * i], pimat[2 * i + 1], zeroTerm);
  }
  return sum;
}

}  // namespace fixed_model

const fixed_model::DesignRow* FixedModelWorkspace::load(
    const PairColumns& columns) {
  if (rows_.size() < columns.rows) {
    rows_.resize(columns.rows);
    pimat_.resize(2 * columns.rows);
  }
  for (std::size_t i = 0; i < columns.rows; ++i) {
    rows_[i] = fixed_model::make_design_row(columns.x0[i], columns.x1[i],
                                            columns.cls[i]);
  }
  return rows_.data();
}

namespace {

// Fits the model of P design columns from zero and returns its
// log-likelihood, reusing the fit's last class probabilities when they
// belong to the fitted coefficients.
template <std::size_t P>
double fitted_log_likelihood(const fixed_model::DesignRow* rows,
                             const std::uint8_t* cls, std::size_t count,
                             double* pimat) {
  fixed_model::Vector<2 * P> coef;
  coef.fill(0.0);
  if (!fixed_model::newton_raphson<P>(rows, count, coef, pimat)) {
    fixed_model::fill_probabilities<P>(rows, count, coef, pimat);
  }
  return fixed_model::log_likelihood_from_pimat(cls, count, pimat);
}

}  // namespace

InteractionScores fixed_interaction_scores(const PairColumns& columns,
                                           FixedModelWorkspace& work) {
  const fixed_model::DesignRow* rows = work.load(columns);
  const std::size_t count = columns.rows;
  InteractionScores scores;
  scores.llReduced =
      fitted_log_likelihood<3>(rows, columns.cls, count, work.pimat());
  scores.llFull =
      fitted_log_likelihood<4>(rows, columns.cls, count, work.pimat());
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
