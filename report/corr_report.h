// The report's share of zirk-corr's families and of the hits' diagnosis:
// which trend and het rows are hits, and the diagnosis columns that every
// hit of hits.tsv ends with.
#ifndef ZIRK_REPORT_CORR_REPORT_H_
#define ZIRK_REPORT_CORR_REPORT_H_

#include <string>
#include <vector>

#include "corr_summary.h"
#include "data_values.h"
#include "report_writer.h"

namespace zirk_report {

// The hits of family `family` (kTrend or kHet) of `corr`, as select_hits
// selects the IT's: the same --fdr or --top, and with options.corr_nulls
// the empirical FDR behind the run-level gate, at most options.max_hits
// rows by FDR, the strongest; `qualifying` (when given) receives how many
// rows qualified before that cap. Throws ReportError when the rows to list
// go beyond the candidates kept.
std::vector<Hit> select_corr_hits(const CorrSummary& corr, CorrFamilyId family,
                                  const ReportOptions& options,
                                  std::uint64_t* qualifying = nullptr);

// The names of the diagnosis columns, each after a tab.
inline constexpr char kDiagnosisHeader[] =
    "\tlog10_p_trend\tlog10_p_het\tr0\tr1\tr2\tgene1_log10_p_mean\t"
    "gene1_log10_p_var\tgene2_log10_p_mean\tgene2_log10_p_var\t"
    "single_gene_stronger";

// The diagnosis columns of `hit`, each after a tab: the pair's tests and
// class correlations (zirk-corr's row for its own hits, computed from
// `values` otherwise), each gene's mean and variance tests and the
// single-gene verdict; NA where `values` is null (no data folder values).
std::string diagnosis_columns(const Hit& hit, const DataValues* values);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_CORR_REPORT_H_
