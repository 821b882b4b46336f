// The command line of zirk-report: options, reading every input into one
// summary, and writing either a summary file or the report folder.
#ifndef ZIRK_REPORT_CLI_H_
#define ZIRK_REPORT_CLI_H_

namespace zirk_report {

// Runs zirk-report with `argv`; returns the exit status. Errors are printed
// to standard error as one line "Error: ...".
int run_cli(int argc, char** argv);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_CLI_H_
