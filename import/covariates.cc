#include "covariates.h"

#include <Eigen/QR>
#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "expression_table.h"
#include "import_error.h"
#include "text_lines.h"

namespace zirk_import {

namespace {

// A centred unit-norm column whose part outside the span of the columns
// before it is shorter than this is dependent on them: beyond that its
// coefficient only amplifies rounding noise.
constexpr double kRankTolerance = 1e-8;

bool is_missing(std::string_view field) {
  return field.empty() || field == "NA";
}

// The covariate's kept values as numbers (NaN for NA); false when one is
// neither a number nor NA.
bool numeric_values(const std::vector<std::string>& fields,
                    const std::vector<std::size_t>& columns,
                    std::vector<double>& values) {
  values.clear();
  for (std::size_t c : columns) {
    if (is_missing(fields[c])) {
      values.push_back(std::nan(""));
      continue;
    }
    bool out_of_range = false;
    const double v = parse_value(fields[c], out_of_range);
    if (std::isnan(v)) return false;
    values.push_back(v);
  }
  return true;
}

// Replaces NaN by the mean of the other values; returns how many there were
// (all of them when none is a number).
std::size_t impute_mean(std::vector<double>& values) {
  double sum = 0;
  std::size_t present = 0;
  for (double v : values) {
    if (!std::isnan(v)) {
      sum += v;
      ++present;
    }
  }
  if (present == 0) return values.size();
  const double mean = sum / static_cast<double>(present);
  for (double& v : values) {
    if (std::isnan(v)) v = mean;
  }
  return values.size() - present;
}

// Keeps the design's columns centred and scaled, with the intercept, so that
// a candidate's rank test sees its shape, not its units.
class RankTracker {
 public:
  explicit RankTracker(std::size_t n) : basis_(n, 1) {
    basis_.setConstant(1.0 / std::sqrt(static_cast<double>(n)));
  }

  // Adds `column` and returns true when it raises the rank.
  bool add(const std::vector<double>& column) {
    const Eigen::Index n = basis_.rows();
    Eigen::VectorXd c = Eigen::Map<const Eigen::VectorXd>(column.data(), n);
    c.array() -= c.mean();
    const double norm = c.norm();
    if (norm == 0) return false;
    Eigen::MatrixXd candidate(n, basis_.cols() + 1);
    candidate << basis_, c / norm;
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(candidate);
    qr.setThreshold(kRankTolerance);
    if (qr.rank() < candidate.cols()) return false;
    basis_.swap(candidate);
    return true;
  }

 private:
  Eigen::MatrixXd basis_;
};

bool constant(const std::vector<double>& column) {
  return std::all_of(column.begin(), column.end(),
                     [&](double v) { return v == column.front(); });
}

}  // namespace

CovariateFile read_covariate_file(const std::string& path) {
  LineReader reader(path);
  std::string_view line;
  std::vector<std::string_view> fields;
  const bool tabs = read_header(reader, path, line, fields);
  if (fields.size() < 2) {
    throw ImportError(path + ": the header line names no samples");
  }
  CovariateFile file;
  file.samples.assign(fields.begin() + 1, fields.end());
  std::unordered_set<std::string_view> seen;
  for (const std::string& s : file.samples) {
    if (!seen.insert(s).second) {
      throw ImportError(path + ": sample ID '" + s +
                        "' appears twice in the header");
    }
  }
  std::unordered_set<std::string> names;
  while (reader.next(line)) {
    if (line.empty()) continue;
    split_fields(line, tabs, fields);
    if (fields.size() != file.samples.size() + 1) {
      throw ImportError(path + ": line " + std::to_string(reader.number()) +
                        " has " + std::to_string(fields.size()) +
                        " fields where the header has " +
                        std::to_string(file.samples.size() + 1));
    }
    CovariateFile::Covariate covariate;
    covariate.name = fields[0];
    if (!names.insert(covariate.name).second) {
      throw ImportError(path + ": covariate '" + covariate.name +
                        "' appears twice");
    }
    covariate.fields.assign(fields.begin() + 1, fields.end());
    file.covariates.push_back(std::move(covariate));
  }
  if (file.covariates.empty()) {
    throw ImportError(path + ": no covariate lines after the header");
  }
  return file;
}

namespace {

// The covariate file's column of each of `samples`, in their order; a sample
// without a column is an error naming `path`.
std::vector<std::size_t> sample_columns(const CovariateFile& file,
                                        const std::vector<std::string>& samples,
                                        const std::string& path) {
  std::unordered_map<std::string, std::size_t> column_of;
  for (std::size_t j = 0; j < file.samples.size(); ++j) {
    column_of.emplace(file.samples[j], j);
  }
  std::vector<std::size_t> columns;
  for (const std::string& id : samples) {
    const auto c = column_of.find(id);
    if (c == column_of.end()) {
      throw ImportError(path + ": sample '" + id +
                        "' (in the VCF and the expression) has no column");
    }
    columns.push_back(c->second);
  }
  return columns;
}

}  // namespace

CovariateDesign build_design(const CovariateFile& file,
                             const std::vector<std::string>& samples,
                             const std::string& path) {
  const std::vector<std::size_t> columns = sample_columns(file, samples, path);

  CovariateDesign design;
  RankTracker rank(samples.size());
  // Offers one candidate column to the design.
  auto offer = [&](const std::string& name, std::vector<double> column) {
    if (constant(column)) {
      design.dropped.push_back({name, "constant"});
      design.warnings.push_back("covariate " + name +
                                " is constant over the kept samples; dropped");
    } else if (!rank.add(column)) {
      design.dropped.push_back({name, "linearly_dependent"});
      design.warnings.push_back(
          "covariate " + name +
          " is a linear combination of the intercept and the covariates "
          "before it; dropped");
    } else {
      design.names.push_back(name);
      design.columns.push_back(std::move(column));
    }
  };

  std::vector<double> values;
  for (const CovariateFile::Covariate& covariate : file.covariates) {
    if (numeric_values(covariate.fields, columns, values)) {
      const std::size_t missing = impute_mean(values);
      if (missing == values.size()) {
        throw ImportError(path + ": covariate '" + covariate.name +
                          "' is NA for every kept sample");
      }
      if (missing > 0) design.imputed.emplace_back(covariate.name, missing);
      offer(covariate.name, values);
      continue;
    }
    std::map<std::string, std::size_t> levels;  // byte order
    std::size_t missing = 0;
    for (std::size_t c : columns) {
      if (is_missing(covariate.fields[c])) {
        ++missing;
      } else {
        levels.emplace(covariate.fields[c], 0);
      }
    }
    if (levels.size() > kMaxLevels) {
      throw ImportError(path + ": covariate '" + covariate.name + "' has " +
                        std::to_string(levels.size()) +
                        " distinct non-numeric values among the kept samples "
                        "(at most " +
                        std::to_string(kMaxLevels) +
                        " for a categorical covariate)");
    }
    if (missing > 0) design.imputed.emplace_back(covariate.name, missing);
    if (levels.size() == 1) {
      offer(covariate.name, std::vector<double>(columns.size(), 0.0));
      continue;
    }
    std::vector<std::string> indicators;
    for (auto level = std::next(levels.begin()); level != levels.end();
         ++level) {
      std::vector<double> column;
      for (std::size_t c : columns) {
        const std::string& field = covariate.fields[c];
        column.push_back(is_missing(field)       ? std::nan("")
                         : field == level->first ? 1.0
                                                 : 0.0);
      }
      impute_mean(column);
      const std::string name = covariate.name + "=" + level->first;
      indicators.push_back(name);
      offer(name, std::move(column));
    }
    design.expanded.emplace_back(covariate.name, std::move(indicators));
  }
  if (design.columns.size() + 1 >= samples.size()) {
    throw ImportError(path + ": " + std::to_string(design.columns.size()) +
                      " covariate columns and the intercept leave no residual "
                      "for " +
                      std::to_string(samples.size()) + " samples");
  }
  return design;
}

std::vector<std::string> covariate_groups(
    const CovariateFile& file, const std::string& name,
    const std::vector<std::string>& samples, const std::string& path) {
  const auto covariate = std::find_if(
      file.covariates.begin(), file.covariates.end(),
      [&](const CovariateFile::Covariate& c) { return c.name == name; });
  if (covariate == file.covariates.end()) {
    throw ImportError(path + ": no covariate '" + name + "' for the strata");
  }
  const std::vector<std::size_t> columns = sample_columns(file, samples, path);
  std::vector<double> values;
  if (numeric_values(covariate->fields, columns, values)) {
    throw ImportError(path + ": covariate '" + name +
                      "' is numeric; strata need group names");
  }
  std::vector<std::string> groups;
  for (std::size_t j = 0; j < columns.size(); ++j) {
    const std::string& field = covariate->fields[columns[j]];
    if (is_missing(field)) {
      throw ImportError(path + ": covariate '" + name +
                        "' is NA for kept sample '" + samples[j] +
                        "', which then has no group");
    }
    groups.push_back(field);
  }
  return groups;
}

}  // namespace zirk_import
