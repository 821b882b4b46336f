// The command line of zirk-import.
#ifndef ZIRK_IMPORT_OPTIONS_H_
#define ZIRK_IMPORT_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "expression_values.h"

namespace zirk_import {

struct Options {
  std::string vcf, expression, out;
  std::string region;                // empty: the whole file
  std::string snps, genes, samples;  // ID list files; empty: none
  double maf = 0;
  bool pass_only = false;
  int min_class_size = 3;
  double max_missing = 0;  // fraction of kept individuals whose call is filled
  double min_gp = 0;       // 0: every call counts, however uncertain
  std::optional<double> min_r2, hwe;
  std::string r2_field;  // empty: the first of R2, DR2, INFO in the header
  ValueScale scale = ValueScale::kRaw;
  double pseudocount = 0;
  std::string covariates;  // empty: no covariates
  bool inverse_normal = false;
  double min_expressed = 0;
  std::string strata;            // --strata; empty: none
  std::string strata_covariate;  // --strata-covariate; empty: none
  int permute = 0;
  std::uint64_t seed = 1;
  int threads = 0;
  bool force = false;
  bool quiet = false;
  bool help = false;
};

// Parses argv; with --help/-h only `help` is meaningful. Throws ImportError
// for an unknown option, a missing required option or a bad value, naming
// the option.
Options parse_options(int argc, char** argv);

// The --help text.
const char* usage_text();

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_OPTIONS_H_
