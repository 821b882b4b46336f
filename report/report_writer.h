// The report folder: hits.tsv (with each hit's genomic context and locus),
// loci.tsv, summary.json, the QQ and per-SNP figures and a figure of each
// family's best loci (drawn by the matplotlib script), report.html and
// provenance.json, built under a temporary name and renamed into place only
// when all is written. Hits come from the IT family and, with zirk-corr's
// rows, from the trend and het families; each hit is diagnosed, and the hits
// are clumped into loci, from the data folder's values.
#ifndef ZIRK_REPORT_REPORT_WRITER_H_
#define ZIRK_REPORT_REPORT_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "corr_summary.h"
#include "data_folder.h"
#include "run_summary.h"

namespace zirk_report {

struct ReportOptions {
  std::string out_dir;
  double fdr = 0.05;
  std::uint64_t top = 0;  // > 0: the `top` smallest IT p-values instead
  std::uint64_t max_hits = 100000;
  std::uint64_t cis_window = 1000000;  // bp of a hit's context column
  std::uint64_t clump_kb = 1000;       // window of a locus around its lead
  double clump_r2 = 0.2;               // r^2 of a member with the lead
  std::uint64_t plots = 10;            // loci drawn per family
  const DataFolder* data = nullptr;
  std::vector<RunSummary> nulls;  // permuted runs
  const CorrSummary* corr = nullptr;    // zirk-corr's rows, when given
  std::vector<CorrSummary> corr_nulls;  // and those of the permuted runs
  std::string python;             // interpreter for the figure script
  std::string script;             // the figure and page script
  std::string provenance_json;    // written as provenance.json
};

// Writes the report of `real` into options.out_dir, replacing what was
// there. Throws ReportError (leaving nothing behind) when the rows to list
// go beyond the candidates kept, an index lies beyond the data folder's tables,
// a permuted run does not match the real one, the data folder's values
// cannot be read, or a file cannot be written.
void write_report(const RunSummary& real, const ReportOptions& options);

// The hit rows of `real` under the options' selection, with the q-value (and
// empirical FDR and per-SNP permutation p-value with permuted runs) of each.
// By FDR, at most options.max_hits rows, the strongest; `qualifying` (when
// given) receives how many rows the selection took before that cap. Throws
// ReportError when the rows to list go beyond the exact candidates kept.
// A hit of the trend or het family carries zirk-corr's row as printed; its
// `row` holds only the SNP and genes.
struct Hit {
  CandidateRow row;
  double q, efdr, snp_p;
  const char* family = "it";
  std::string value;         // the family's log10 p-value as printed
  std::string corr_columns;  // n0 to log10_p_het, trend and het hits only
};
std::vector<Hit> select_hits(const RunSummary& real,
                             const ReportOptions& options,
                             std::uint64_t* qualifying = nullptr);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_REPORT_WRITER_H_
