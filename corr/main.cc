// zirk-corr: within-class correlations of every gene pair at every SNP and
// the dosage-trend and heterogeneity tests. The work is in run.cc; see
// zirk-corr.1.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "error_line.h"
#include "options.h"
#include "run.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C and kill end the run through its error path, which removes the
  // unfinished output.
  struct sigaction action = {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
  try {
    const zirk_corr::Options options = zirk_corr::parse_options(argc, argv);
    if (options.help) {
      std::fputs(zirk_corr::usage_text(), stdout);
      return 0;
    }
    zirk_corr::run(options, stderr, stop_requested);
  } catch (const std::exception& e) {
    zirk_formats::print_error_line(e.what());
    return 1;
  }
  return 0;
}
