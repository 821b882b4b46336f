// The genotype classes and log10 expression values of a data folder, read
// for the SNPs and genes of the hits only: DIR/geno.txt (a line per
// individual, four characters per SNP: allele, separator, allele,
// separator), DIR/allele.txt (a line per SNP, its reference allele first)
// and DIR/expr.txt (a line per gene of raw values, one per individual).
// Classes and logarithms are taken as zirk takes them: class 0 for two
// copies of the reference allele, 1 for one, 2 for none; log10 of the raw
// value. DIR/strata.txt, when the folder has one, gives each individual's
// stratum, within which zirk-corr computed its correlations.
#ifndef ZIRK_REPORT_DATA_VALUES_H_
#define ZIRK_REPORT_DATA_VALUES_H_

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "strata_file.h"

namespace zirk_report {

class DataValues {
 public:
  // Whether `dir` holds any of the three value files.
  static bool any_present(const std::string& dir);

  // Reads the classes of `snps` and the log10 values of `genes`. Throws
  // ReportError naming the file (and line) when a file is missing, a
  // genotype line is too short for a SNP, an allele line is missing, a gene
  // line is missing or holds another number of values than there are
  // individuals, or a value is not a number; strata.txt's own errors as
  // read_strata throws them.
  DataValues(const std::string& dir, const std::set<std::uint64_t>& snps,
             const std::set<std::uint32_t>& genes);

  // The class of every individual at `snp`, which must be one of `snps`.
  const std::vector<int>& classes(std::uint64_t snp) const {
    return classes_.at(snp);
  }
  // The log10 value of every individual of `gene`, one of `genes`.
  const std::vector<double>& log_values(std::uint32_t gene) const {
    return values_.at(gene);
  }
  // The folder's strata, or null when it has no strata.txt.
  const zirk_formats::Strata* strata() const {
    return strata_ ? &*strata_ : nullptr;
  }

 private:
  std::map<std::uint64_t, std::vector<int>> classes_;
  std::map<std::uint32_t, std::vector<double>> values_;
  std::optional<zirk_formats::Strata> strata_;
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_DATA_VALUES_H_
