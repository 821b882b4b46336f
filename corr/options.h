// The command line of zirk-corr.
#ifndef ZIRK_CORR_OPTIONS_H_
#define ZIRK_CORR_OPTIONS_H_

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
  std::string out;                           // "-": standard output
  int threads = 1;
  int min_class_size = kDefaultMinClassSize;
  bool help = false;
};

// The help text.
const char* usage_text();

// Parses argv; throws CorrError naming the option at fault. With --help the
// rest is not checked.
Options parse_options(int argc, char** argv);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_OPTIONS_H_
