// Stopping a long run: Ctrl-C, kill and a closed terminal set a flag that
// the work checks between steps, so that the run ends through its own error
// path, which removes the unfinished output, instead of dying with it
// half-written.
#ifndef ZIRK_FORMATS_STOP_SIGNAL_H_
#define ZIRK_FORMATS_STOP_SIGNAL_H_

#include <csignal>

namespace zirk_formats {

// Set to 1 once SIGINT, SIGTERM or SIGHUP has arrived after
// catch_stop_signals().
extern volatile std::sig_atomic_t stop_requested;

// Routes SIGINT, SIGTERM and SIGHUP to stop_requested.
void catch_stop_signals();

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_STOP_SIGNAL_H_
