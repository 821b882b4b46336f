// The command line of zirk-corr.
#ifndef ZIRK_CORR_OPTIONS_H_
#define ZIRK_CORR_OPTIONS_H_

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "class_correlation.h"
#include "error_line.h"

namespace zirk_corr {

// A user-facing failure: what() is the cause, printed after "Error: ".
class CorrError : public zirk_formats::Failure {
 public:
  explicit CorrError(const std::string& cause) : zirk_formats::Failure(cause) {}
};

struct Options {
  std::string genotype, expression, allele;  // resolved from --data too
  std::string data;     // the import's folder, for IDs and positions
  std::string out;      // the rows, "-": standard output; empty: none
  std::string summary;  // the summary of every row tested; empty: none
  // Rows are written when their printed trend or het log10 p-value is at
  // most this (in millionths; the largest value: every row).
  std::int64_t max_p_key = std::numeric_limits<std::int64_t>::max();
  std::uint64_t max_hits = 100000;  // candidate rows the summary keeps
  std::uint64_t snp_offset = 0;     // added to every SNP index
  std::optional<std::uint64_t> cis_window;  // --cis-window
  std::string anchors;                      // --anchors
  // One group per individual (strata_file.h); from --data too when the
  // folder has one; empty: no strata.
  std::string strata;
  int threads = 1;
  int min_class_size = kDefaultMinClassSize;
  Variance variance = Variance::kEmpirical;
  bool help = false;
};

// The help text.
const char* usage_text();

// Parses argv; throws CorrError naming the option at fault. With --help the
// rest is not checked.
Options parse_options(int argc, char** argv);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_OPTIONS_H_
