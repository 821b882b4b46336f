#include "fixed_model.h"

#include "scores.h"

namespace {

// Fits the model of P design columns from zero and returns its
// log-likelihood, reusing the fit's last class probabilities when they
// belong to the fitted coefficients.
template <std::size_t P>
double fitted_log_likelihood(const fixed_model::Design& design,
                             const std::uint8_t* cls,
                             const fixed_model::FitScratch& scratch,
                             const fixed_model::ModelPass<P>* first) {
  fixed_model::Vector<2 * P> coef;
  coef.fill(0.0);
  if (!fixed_model::newton_raphson<P>(design, coef, scratch, first)) {
    fixed_model::fill_probabilities<P>(design, coef, scratch);
  }
  return fixed_model::log_likelihood(cls, design.count, scratch.a, scratch.b);
}

}  // namespace

InteractionScores fixed_interaction_scores(const PairColumns& columns,
                                           FixedModelWorkspace& work) {
  const fixed_model::Design design = work.load(columns);
  InteractionScores scores;
  // Both fits start at zero; with finite values they share their first pass.
  if (design.finite) {
    const fixed_model::ModelPass<4> full =
        fixed_model::zero_start_pass(design, work.scratch());
    const fixed_model::ModelPass<3> reduced = fixed_model::reduced_pass(full);
    scores.llReduced =
        fitted_log_likelihood<3>(design, columns.cls, work.scratch(), &reduced);
    scores.llFull =
        fitted_log_likelihood<4>(design, columns.cls, work.scratch(), &full);
  } else {
    scores.llReduced =
        fitted_log_likelihood<3>(design, columns.cls, work.scratch(), nullptr);
    scores.llFull =
        fitted_log_likelihood<4>(design, columns.cls, work.scratch(), nullptr);
  }
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
  return fixed_model::lda_sum(columns, rows, b.data());
}

