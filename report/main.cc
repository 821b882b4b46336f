// zirk-report: results of zirk that people can read.
#include "cli.h"

int main(int argc, char** argv) { return zirk_report::run_cli(argc, argv); }
