// Reading one input into a run summary: a result file (its head checked,
// every row parsed and checked) or a summary file, told apart by the first
// line, each plain, gzip or zstd.
#ifndef ZIRK_REPORT_INPUT_READER_H_
#define ZIRK_REPORT_INPUT_READER_H_

#include <cstdint>
#include <string>

#include "data_folder.h"
#include "run_summary.h"

namespace zirk_report {

struct InputOptions {
  std::uint64_t snp_offset = 0;      // added to the SNP of every row
  const DataFolder* data = nullptr;  // when given, indices are checked
  std::uint64_t max_candidates = 0;
  bool progress = false;  // a rows-read line on standard error
};

// Reads `path` ("-": standard input) and merges it into `into`. Throws
// ReportError naming the input (and line) on any malformed head or row, a
// torn last row, an index beyond the data folder's tables, or a threshold
// line other than that of the inputs merged before. Returns true when the
// input was a summary file.
bool read_input(const std::string& path, const InputOptions& options,
                RunSummary& into);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_INPUT_READER_H_
