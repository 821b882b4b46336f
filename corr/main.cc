// zirk-corr: within-class correlations of every gene pair at every SNP and
// the dosage-trend and heterogeneity tests. The work is in run.cc; see
// zirk-corr.1.
#include <cstdio>
#include <exception>

#include "error_line.h"
#include "options.h"
#include "run.h"
#include "stop_signal.h"

int main(int argc, char** argv) {
  zirk_formats::catch_stop_signals();
  try {
    const zirk_corr::Options options = zirk_corr::parse_options(argc, argv);
    if (options.help) {
      std::fputs(zirk_corr::usage_text(), stdout);
      return 0;
    }
    zirk_corr::run(options, stderr, zirk_formats::stop_requested);
  } catch (const std::exception& e) {
    zirk_formats::print_error_line(e.what());
    return 1;
  }
  return 0;
}
