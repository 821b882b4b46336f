#include "fixed_model.h"

#include <boost/math/distributions/chi_squared.hpp>

namespace fixed_model {

double log_smallest() {
  static const double value = [] {
    volatile double smallest = 1e-15;
    return std::log(smallest);
  }();
  return value;
}

double log_likelihood_from_pimat(const std::uint8_t* cls, std::size_t count,
                                 const double* pimat) {
  const double smallest = log_smallest();
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    sum += class_log_term(cls[i], pimat[2 * i], pimat[2 * i + 1], smallest);
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
  scores.pValue = 1.0;
  if (scores.statistic > 0) {
    const boost::math::chi_squared_distribution<double> chi2(2.0);
    scores.pValue =
        boost::math::cdf(boost::math::complement(chi2, scores.statistic));
  }
  return scores;
}

double fixed_interaction_test(const PairColumns& columns,
                              FixedModelWorkspace& work) {
  return fixed_interaction_scores(columns, work).pValue;
}

double fixed_llvalue_lda(const PairColumns& columns, std::int32_t individuals,
                         const double summat[3][4], const double covmat[4][3],
                         const double nvec[3]) {
  const std::int32_t freedom = individuals - 3;
  const double d = static_cast<double>(freedom);
  const double s00 = (nvec[0] * covmat[0][0] + nvec[1] * covmat[1][0] +
                      nvec[2] * covmat[2][0]) /
                     d;
  const double s01 = (nvec[0] * covmat[0][2] + nvec[1] * covmat[1][2] +
                      nvec[2] * covmat[2][2]) /
                     d;
  const double s11 = (nvec[0] * covmat[0][1] + nvec[1] * covmat[1][1] +
                      nvec[2] * covmat[2][1]) /
                     d;
  const double s10 = s01;
  const double det = s00 * s11 - s01 * s10;
  if (det == 0.0) {
    return -9999.0;
  }
  const double p00 = s11 / det;
  const double p11 = s00 / det;
  const double p01 = (-s01) / det;
  double m[3][2];
  for (std::size_t k = 0; k < 3; ++k) {
    m[k][0] = summat[k][0] / nvec[k];
    m[k][1] = summat[k][1] / nvec[k];
  }
  fixed_model::Vector<6> b;
  for (std::size_t k = 0; k < 2; ++k) {
    const std::size_t a = k * 3;
    const double twoP01 = p01 + p01;
    b[a] = -0.5 * ((m[k][1] * m[k][1] - m[2][1] * m[2][1]) * p11 +
                   (twoP01 * (m[k][0] * m[k][1] - m[2][0] * m[2][1]) +
                    (m[k][0] * m[k][0] - m[2][0] * m[2][0]) * p00));
    b[a + 1] = (m[k][0] - m[2][0]) * p00 + (m[k][1] - m[2][1]) * p01;
    b[a + 2] = (m[k][0] - m[2][0]) * p01 + (m[k][1] - m[2][1]) * p11;
  }
  const std::size_t rows =
      individuals > 0
          ? std::min(static_cast<std::size_t>(individuals), columns.rows)
          : 0;
  const double smallest = fixed_model::log_smallest();
  double sum = 0.0;
  for (std::size_t i = 0; i < rows; ++i) {
    const double x[3] = {1.0, columns.x0[i], columns.x1[i]};
    double pa;
    double pb;
    fixed_model::class_probabilities<3>(x, b, pa, pb);
    sum += fixed_model::class_log_term(columns.cls[i], pa, pb, smallest);
  }
  return sum;
}
