// Covariates of the expression: a file in the layout QTL tools share (a
// header of a first word and the sample IDs, then one covariate per line:
// its name and one value per sample), turned into the columns of a
// least-squares design over the kept samples. Missing values are imputed,
// categorical covariates become indicators, and columns that add nothing to
// the intercept and the columns before them are dropped.
#ifndef ZIRK_IMPORT_COVARIATES_H_
#define ZIRK_IMPORT_COVARIATES_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace zirk_import {

// A categorical covariate with more levels than this is an error: it is
// almost always an ID column or a numeric column with a typo.
inline constexpr std::size_t kMaxLevels = 50;

struct CovariateFile {
  std::vector<std::string> samples;
  struct Covariate {
    std::string name;
    std::vector<std::string> fields;  // one per sample of the header
  };
  std::vector<Covariate> covariates;
};

// Reads `path` (plain, gzip or bgzip; "-" is standard input), fields
// separated by tabs when the header holds one, otherwise by blanks. Throws
// ImportError naming `path` for an unreadable or empty file, a header
// without samples, no covariate line, a line whose field count differs from
// the header's, or a sample ID or covariate name that repeats.
CovariateFile read_covariate_file(const std::string& path);

struct DroppedColumn {
  std::string name;
  std::string reason;  // "constant" or "linearly_dependent"
};

struct CovariateDesign {
  // The kept columns, without the intercept, each with one value per kept
  // sample in the order given to build_design. An indicator is named
  // COVARIATE=LEVEL.
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;
  // Covariates with NA (or empty) values among the kept samples, and how
  // many each had, in file order.
  std::vector<std::pair<std::string, std::size_t>> imputed;
  // Categorical covariates and their indicator columns (every level but the
  // first in byte order), in file order.
  std::vector<std::pair<std::string, std::vector<std::string>>> expanded;
  std::vector<DroppedColumn> dropped;
  // One sentence per dropped column, for the user.
  std::vector<std::string> warnings;
};

// The design over `samples` (the kept samples, in their output order).
// A covariate is numeric when every kept sample's value is a number or NA;
// NA becomes the mean of the others. Any other covariate is categorical:
// one 0/1 column per level but the first, NA becoming the level shares. A
// column is dropped when it is constant, or when QR with column pivoting
// finds it linearly dependent on the intercept and the kept columns before
// it. Throws ImportError naming `path` when a sample is missing from the
// file, a numeric covariate is NA for every kept sample, a categorical one
// has more than kMaxLevels levels, or the kept columns leave fewer than one
// residual degree of freedom.
CovariateDesign build_design(const CovariateFile& file,
                             const std::vector<std::string>& samples,
                             const std::string& path);

// The group of each of `samples` (the kept samples) for strata: its value
// of covariate `name`. Throws ImportError naming `path` when there is no
// such covariate, a sample is missing from the file, the covariate is
// numeric (every kept value a number or NA: a measurement, not groups), or
// a kept sample's value is NA.
std::vector<std::string> covariate_groups(const CovariateFile& file,
                                          const std::string& name,
                                          const std::vector<std::string>& samples,
                                          const std::string& path);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_COVARIATES_H_
