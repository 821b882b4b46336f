// Least-squares residuals of expression on an intercept and covariates,
// through QR with column pivoting (Eigen's ColPivHouseholderQR): the design
// is factored once and every gene reuses the factors.
#ifndef ZIRK_IMPORT_RESIDUALS_H_
#define ZIRK_IMPORT_RESIDUALS_H_

#include <Eigen/QR>
#include <cstddef>
#include <vector>

namespace zirk_import {

class Residualiser {
 public:
  // Factors the design of an intercept plus `columns`, each holding one
  // value for each of `samples` samples (more than columns.size() + 1; of
  // full rank, as build_design leaves them).
  Residualiser(const std::vector<std::vector<double>>& columns,
               std::size_t samples);

  // Replaces `values` (one per sample) by y - X b with b minimising
  // |y - X b|.
  void apply(std::vector<double>& values) const;

 private:
  Eigen::MatrixXd design_;
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr_;
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_RESIDUALS_H_
