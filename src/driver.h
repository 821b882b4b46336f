// The run driver: one pass from the command line to the trailer counts.
//
// A run has three stages that the two programs built from this code share:
// start-up (options, input-file tests, the threshold prompt, the echo and the
// dimension scan), loading (the genotype and expression matrices and the
// gene moments), and the screening loop over every SNP and gene pair.
// Progress text goes to standard output, errors to standard error; every
// line is flushed as it is written.
#ifndef ZIRK_DRIVER_H_
#define ZIRK_DRIVER_H_

#include <iosfwd>
#include <new>
#include <string>

#include "common.h"

// What start-up fixes for the rest of the run.
struct RunSettings {
  std::string genotypeFile;
  std::string expressionFile;
  std::string alleleFile;
  std::string outputFile;
  double threshold = 0.0;  // the MC p-value threshold, as read
};

// Parses the command line, tests that the three input files open, asks for
// the threshold on standard input, echoes the file names and sets n, ngene
// and ps through the dimension scan. Returns -1 when the run goes on, or
// the exit status (0 after -h, 1 on a usage or file error) when it must end
// now; faults found while reading end the process through error().
int start_up(int argc, char** argv, RunSettings& settings);

// The threshold prompt: shows it on standard output and reads the threshold
// from `in` (standard input in a run) into settings.threshold. Ends the run
// through error() with "Aborted due to input error." when `in` holds no
// number there.
void read_threshold(std::istream& in, RunSettings& settings);

// Creates gmat (n x 2ps) and emat (n x ngene) and fills them from the input
// files, printing the two loading lines with a sample of each matrix, then
// fills mommat (ngene x 2) with the gene moments. Reader faults end the
// process through error().
void load_inputs(const RunSettings& settings, GenotypeMatrix& gmat,
                 RealMatrix& emat, RealMatrix& mommat);

// Everything before the screening loop: start_up(), load_inputs(), the head
// of the result file and "Running...". Returns -1 when the loop is to
// follow, or the exit status when the run ends now.
int open_run(int argc, char** argv, RunSettings& settings, GenotypeMatrix& gmat,
             RealMatrix& emat, RealMatrix& mommat);

// The LDA bound: a pair goes on to the interaction test only when its LDA
// value lies below it. It equals ln(1e-10).
double lda_bound();

// Calls `step` and returns what it returns; a failed allocation inside it
// (input dimensions too large to hold) ends the run through error() with
// the cause "Aborted due to allocation error." instead of an abort.
template <class Step>
auto guard_allocation(Step&& step) -> decltype(step()) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    error("Aborted due to allocation error.");
  }
}

// The whole run with the straightforward screening loop: every pair built,
// tested and appended to the result file one at a time. Returns the exit
// status.
int run_zirk(int argc, char** argv);

#endif  // ZIRK_DRIVER_H_
