// zirk-import: VCF/BCF genotypes and an expression table to a ZIRK input
// folder. The work is in importer.cc; see zirk-import.1.
#include <htslib/hts_log.h>

#include <cstdio>
#include <exception>

#include "error_line.h"
#include "importer.h"
#include "options.h"
#include "stop_signal.h"

int main(int argc, char** argv) {
  zirk_formats::catch_stop_signals();
  // htslib's own messages would add lines to the one-line error contract.
  hts_set_log_level(HTS_LOG_OFF);
  try {
    const zirk_import::Options options = zirk_import::parse_options(argc, argv);
    if (options.help) {
      std::fputs(zirk_import::usage_text(), stdout);
      return 0;
    }
    zirk_import::run_import(options, stderr, zirk_formats::stop_requested);
  } catch (const std::exception& e) {
    zirk_formats::print_error_line(e.what());
    return 1;
  }
  return 0;
}
