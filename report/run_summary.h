// What the report needs from a run, gathered in one pass and mergeable: the
// rows per flag, exact histograms of the MC and IT values, the best IT value
// of every SNP and the candidate hit rows. Summaries of SNP shards or of
// several result files merge into the summary of their union.
#ifndef ZIRK_REPORT_RUN_SUMMARY_H_
#define ZIRK_REPORT_RUN_SUMMARY_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "candidate_set.h"
#include "histogram.h"

namespace zirk_report {

// A score in millionths of a log10 unit; -inf (p = 0) sorts first.
inline constexpr std::int64_t kNegInfKey =
    std::numeric_limits<std::int64_t>::min();

// A flag 1 row kept as a possible hit, with its score columns as printed.
struct CandidateRow {
  std::int64_t it_key;
  std::uint64_t snp;
  std::uint32_t gene1, gene2;
  std::string mc, lda, it;
};

// The order of hits: smallest IT value first, ties by SNP, Gene1, Gene2.
inline bool hit_order(const CandidateRow& a, const CandidateRow& b) {
  if (a.it_key != b.it_key) return a.it_key < b.it_key;
  if (a.snp != b.snp) return a.snp < b.snp;
  if (a.gene1 != b.gene1) return a.gene1 < b.gene1;
  return a.gene2 < b.gene2;
}

struct CandidateKey {
  std::int64_t operator()(const CandidateRow& row) const { return row.it_key; }
};
struct HitOrder {
  bool operator()(const CandidateRow& a, const CandidateRow& b) const {
    return hit_order(a, b);
  }
};

// The best (smallest) IT key of a SNP and the rows that passed its MC test.
struct SnpStat {
  static constexpr std::int32_t kUnseen =
      std::numeric_limits<std::int32_t>::max();
  static constexpr std::int32_t kNoIt = kUnseen - 1;
  static constexpr std::int32_t kNegInf =
      std::numeric_limits<std::int32_t>::min();
  std::int32_t best_it = kUnseen;
  std::uint64_t passed_mc = 0;
};

class RunSummary {
 public:
  // `max_candidates` bounds the candidate rows kept (the smallest IT values).
  explicit RunSummary(std::uint64_t max_candidates);
  RunSummary(RunSummary&&) = default;
  RunSummary& operator=(RunSummary&&) = default;

  // Adds `other`; the threshold lines must agree, which the caller checks.
  void merge(RunSummary&& other);

  // Offers a flag 1 row with a defined IT value as a candidate.
  void offer(CandidateRow&& row);
  // The candidates, in hit order.
  std::vector<CandidateRow> sorted_candidates() const;
  // Every row with an IT key strictly below this is among the candidates.
  std::int64_t complete_below() const {
    return std::min(complete_below_, candidates_.dropped_below());
  }
  // How many leading candidates (in hit order) are exactly the leading rows
  // of everything offered. Ties in IT value are settled by hit order, so
  // this holds across ties, which complete_below() cannot tell.
  std::uint64_t exact_candidates() const {
    return std::min<std::uint64_t>(exact_, candidates_.rows().size());
  }
  // Records that only the first `count` candidates of an input were exact
  // (a summary made with a smaller --max-hits that dropped rows).
  void note_exact(std::uint64_t count) {
    if (count < exact_) exact_ = count;
  }
  // Adds `offset` to the index of every SNP, as if the rows had come with
  // that offset (a summary of SNPs numbered from 0 within their import).
  void shift_snps(std::uint64_t offset);
  std::uint64_t max_candidates() const { return candidates_.max(); }
  // Whether offer() would keep `row` (its strings are not looked at).
  bool accepts(const CandidateRow& row) const {
    return candidates_.admits(row);
  }
  // Records that a row with IT key `key` was not kept.
  void note_dropped(std::int64_t key) {
    if (key < complete_below_) complete_below_ = key;
  }

  SnpStat& snp(std::uint64_t index) {
    if (index >= snps.size()) snps.resize(index + 1);
    return snps[index];
  }

  std::string threshold_line;  // empty until the first input is read
  std::uint64_t rows = 0;
  std::uint64_t flag_rows[3] = {0, 0, 0};
  // MC values of every row; the fixed p = 1 ("0.000000" without a sign) is
  // counted in the 0 bin and also in mc_fixed_one.
  Histogram mc;
  std::uint64_t mc_neg_inf = 0, mc_nan = 0, mc_fixed_one = 0;
  // IT values of the flag 1 rows (positive ones counted as 0, p = 1).
  Histogram it;
  std::uint64_t it_neg_inf = 0, it_nan = 0;
  std::vector<SnpStat> snps;

 private:
  // Rows dropped before they reached the candidates: turned away on sight,
  // or by the summaries this one was read or merged from.
  std::int64_t complete_below_ = std::numeric_limits<std::int64_t>::max();
  std::uint64_t exact_ = std::numeric_limits<std::uint64_t>::max();
  CandidateSet<CandidateRow, HitOrder, CandidateKey> candidates_;
};

// The first line of a summary file.
inline constexpr char kSummaryMagic[] = "ZIRK-REPORT-SUMMARY 1";

// Writes `summary` to `path` (through a temporary name renamed at the end),
// or to standard output when `path` is "-".
// Throws ReportError when the file cannot be written.
void write_summary_file(const RunSummary& summary, const std::string& path);

// Writes the text of the summary file of `summary` to `file`; the caller
// checks the stream for write errors.
void write_summary(const RunSummary& summary, std::FILE* file);

// Reads the rest of a summary file whose first line (the magic) the caller
// consumed; `text` is the whole file. Throws ReportError naming `name` and
// the line on anything malformed.
RunSummary parse_summary(const std::string& text, const std::string& name,
                         std::uint64_t max_candidates);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_RUN_SUMMARY_H_
