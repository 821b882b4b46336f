// zirk-import: VCF/BCF genotypes and an expression table to a ZIRK input
// folder. The work is in importer.cc; see zirk-import.1.
#include <htslib/hts_log.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "error_line.h"
#include "importer.h"
#include "options.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C and kill end the run through the importer's own error path, which
  // removes the unfinished folder.
  struct sigaction action = {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
  // htslib's own messages would add lines to the one-line error contract.
  hts_set_log_level(HTS_LOG_OFF);
  try {
    const zirk_import::Options options = zirk_import::parse_options(argc, argv);
    if (options.help) {
      std::fputs(zirk_import::usage_text(), stdout);
      return 0;
    }
    zirk_import::run_import(options, stderr, stop_requested);
  } catch (const std::exception& e) {
    zirk_formats::print_error_line(e.what());
    return 1;
  }
  return 0;
}
