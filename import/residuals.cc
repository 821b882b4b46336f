#include "residuals.h"

namespace zirk_import {

namespace {

Eigen::MatrixXd design_matrix(const std::vector<std::vector<double>>& columns,
                              Eigen::Index n) {
  Eigen::MatrixXd x(n, static_cast<Eigen::Index>(columns.size()) + 1);
  x.col(0).setOnes();
  for (std::size_t k = 0; k < columns.size(); ++k) {
    x.col(static_cast<Eigen::Index>(k) + 1) =
        Eigen::Map<const Eigen::VectorXd>(columns[k].data(), n);
  }
  return x;
}

}  // namespace

Residualiser::Residualiser(const std::vector<std::vector<double>>& columns,
                           std::size_t samples)
    : design_(design_matrix(columns, static_cast<Eigen::Index>(samples))),
      qr_(design_) {}

void Residualiser::apply(std::vector<double>& values) const {
  Eigen::Map<Eigen::VectorXd> y(values.data(),
                                static_cast<Eigen::Index>(values.size()));
  const Eigen::VectorXd b = qr_.solve(y);
  y -= design_ * b;
}

}  // namespace zirk_import
