// The report folder: hits.tsv (with each hit's genomic context),
// summary.json, the QQ and per-SNP figures
// (drawn by the matplotlib script), report.html and provenance.json, built
// under a temporary name and renamed into place only when all is written.
#ifndef ZIRK_REPORT_REPORT_WRITER_H_
#define ZIRK_REPORT_REPORT_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data_folder.h"
#include "run_summary.h"

namespace zirk_report {

struct ReportOptions {
  std::string out_dir;
  double fdr = 0.05;
  std::uint64_t top = 0;  // > 0: the `top` smallest IT p-values instead
  std::uint64_t max_hits = 100000;
  std::uint64_t cis_window = 1000000;  // bp of a hit's context column
  const DataFolder* data = nullptr;
  std::vector<RunSummary> nulls;  // permuted runs
  std::string python;             // interpreter for the figure script
  std::string script;             // the figure and page script
  std::string provenance_json;    // written as provenance.json
};

// Writes the report of `real` into options.out_dir, replacing what was
// there. Throws ReportError (leaving nothing behind) when the rows to list
// go beyond the candidates kept, an index lies beyond the data folder's tables,
// a permuted run does not match the real one, or a file cannot be written.
void write_report(const RunSummary& real, const ReportOptions& options);

// The hit rows of `real` under the options' selection, with the q-value (and
// empirical FDR and per-SNP permutation p-value with permuted runs) of each.
// By FDR, at most options.max_hits rows, the strongest; `qualifying` (when
// given) receives how many rows the selection took before that cap. Throws
// ReportError when the rows to list go beyond the exact candidates kept.
struct Hit {
  CandidateRow row;
  double q, efdr, snp_p;
};
std::vector<Hit> select_hits(const RunSummary& real,
                             const ReportOptions& options,
                             std::uint64_t* qualifying = nullptr);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_REPORT_WRITER_H_
