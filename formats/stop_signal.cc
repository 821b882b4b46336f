#include "stop_signal.h"

#include <signal.h>

#include <initializer_list>

namespace zirk_formats {

volatile std::sig_atomic_t stop_requested = 0;

namespace {

void request_stop(int) { stop_requested = 1; }

}  // namespace

void catch_stop_signals() {
  struct sigaction action = {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace zirk_formats
