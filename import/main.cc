// zirk-import: VCF/BCF genotypes and an expression table to a ZIRK input
// folder. The work is in importer.cc; see zirk-import.1.
#include <htslib/hts_log.h>

#include <cstdio>
#include <exception>

#include "import_error.h"
#include "importer.h"
#include "options.h"

int main(int argc, char** argv) {
  // htslib's own messages would add lines to the one-line error contract.
  hts_set_log_level(HTS_LOG_OFF);
  try {
    const zirk_import::Options options = zirk_import::parse_options(argc, argv);
    if (options.help) {
      std::fputs(zirk_import::usage_text(), stdout);
      return 0;
    }
    zirk_import::run_import(options, stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
