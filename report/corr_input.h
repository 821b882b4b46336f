// Reading zirk-corr's rows into a correlation summary: the header checked,
// every row parsed and checked, its trend and het values counted.
#ifndef ZIRK_REPORT_CORR_INPUT_H_
#define ZIRK_REPORT_CORR_INPUT_H_

#include <cstddef>
#include <vector>

#include "byte_source.h"
#include "corr_summary.h"
#include "input_reader.h"

namespace zirk_report {

// Reads the rest of `source`, whose first `filled` bytes are already in
// `buf`, as a row file of zirk-corr and merges it into `into` (the SNP of
// every row plus options.snp_offset). Throws ReportError naming the input
// and line on another header, a malformed or torn row, or an index beyond
// the data folder's tables.
void scan_corr_rows(ByteSource& source, std::vector<char>& buf,
                    std::size_t filled, const InputOptions& options,
                    CorrSummary& into);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_CORR_INPUT_H_
