// Reading one input into a run summary: a result file (its head checked,
// every row parsed and checked) or a summary file, told apart by the first
// line, each plain, gzip or zstd; zirk-corr's rows and their summaries go
// into a correlation summary instead.
#ifndef ZIRK_REPORT_INPUT_READER_H_
#define ZIRK_REPORT_INPUT_READER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data_folder.h"
#include "run_summary.h"

namespace zirk_report {

class ByteSource;
struct CorrSummary;

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

// The same from `source`, with `buffer` as the read buffer: a caller that
// reads many inputs sets it up once (it is resized to the reader's block on
// first use and its content does not matter).
bool read_input(ByteSource& source, const InputOptions& options,
                RunSummary& into, std::vector<char>& buffer);

enum class InputKind { kResult, kSummary, kCorrRows, kCorrSummary };

// Reads `path` as read_input does, and also a row file of zirk-corr or a
// summary of one, which is merged into `corr` (its SNP indices checked
// against the data folder as for result files). Returns what it read.
InputKind read_any_input(const std::string& path, const InputOptions& options,
                         RunSummary& into, CorrSummary& corr);
// The same from `source`, with `buffer` as for read_input.
InputKind read_any_input(ByteSource& source, const InputOptions& options,
                         RunSummary& into, CorrSummary& corr,
                         std::vector<char>& buffer);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_INPUT_READER_H_
