// What the report needs from zirk-corr's rows, gathered in one pass and
// mergeable like the IT summary: for each of the two families (trend and
// het) an exact histogram of the log10 p-values, the rows without a value,
// the best value of every SNP and the candidate hit rows with their columns
// as printed. Summaries of SNP shards merge into the summary of their union.
#ifndef ZIRK_REPORT_CORR_SUMMARY_H_
#define ZIRK_REPORT_CORR_SUMMARY_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <string>
#include <vector>

#include "candidate_set.h"
#include "histogram.h"
#include "run_summary.h"
#include "score_text.h"

namespace zirk_report {

// The first line of zirk-corr's row files.
inline constexpr char kCorrHeader[] =
    "snp\tgene1\tgene2\tn0\tn1\tn2\tr0\tr1\tr2\tlog10_p_trend\tlog10_p_het";
// The first line of a summary of such rows.
inline constexpr char kCorrSummaryMagic[] = "ZIRK-CORR-SUMMARY 1";

// The two families, in the order of their columns in a row.
enum CorrFamilyId { kTrend = 0, kHet = 1 };
inline constexpr const char* kCorrFamilyNames[2] = {"trend", "het"};

// The key of a finite or -inf family value. A p-value above 1 can only be
// rounding and counts as p = 1; zirk-corr's log-space tails can go below
// the histogram's 10^-400, and such values count as 10^-400 (the rows keep
// their printed text; only their order among themselves is lost).
inline std::int64_t corr_key(const Score& s) {
  if (s.kind == ScoreKind::kNegInf) return kNegInfKey;
  return std::clamp<std::int64_t>(s.millionths, kMinKey, 0);
}

// Where the columns of candidate rows live: a summary makes and drops
// hundreds of thousands of these short strings as its candidates are cut
// back, which a pool of equal-sized blocks serves several times faster than
// the general allocator. One pool for the process (thread-safe), so that
// rows can move between summaries.
std::pmr::memory_resource* corr_columns_pool();

// A row kept as a possible hit of one family: its key (the family's value in
// millionths of a log10 unit, kNegInfKey for p = 0) and its columns n0 to
// log10_p_het as printed, tab-separated, in corr_columns_pool().
struct CorrRow {
  std::int64_t key;
  std::uint64_t snp;
  std::uint32_t gene1, gene2;
  std::pmr::string columns;
};

// Smallest value first, ties by SNP, gene1, gene2 (as the IT's hit order).
// An object, not a function pointer, so that the heap's sifts inline it.
struct CorrHitOrder {
  bool operator()(const CorrRow& a, const CorrRow& b) const {
    if (a.key != b.key) return a.key < b.key;
    if (a.snp != b.snp) return a.snp < b.snp;
    if (a.gene1 != b.gene1) return a.gene1 < b.gene1;
    return a.gene2 < b.gene2;
  }
};
inline constexpr CorrHitOrder corr_hit_order{};

struct CorrRowKey {
  std::int64_t operator()(const CorrRow& row) const { return row.key; }
};

// One family's values, per-SNP best values and at most max_candidates
// candidate rows (the smallest values).
class CorrFamily {
 public:
  explicit CorrFamily(std::uint64_t max_candidates)
      : candidates_(max_candidates) {}
  CorrFamily(CorrFamily&&) = default;
  CorrFamily& operator=(CorrFamily&&) = default;

  // Takes a row with value `key` (kNegInfKey for p = 0) at `snp` and keeps
  // it as a candidate when it is among the smallest; `columns` is called
  // only then, for the row's printed columns. A finite key is counted in
  // `values` by the caller, which can prefetch its counter (PipelinedCounts);
  // kNegInfKey is counted here.
  template <typename Columns>
  void add(std::int64_t key, std::uint64_t snp, std::uint32_t gene1,
           std::uint32_t gene2, Columns columns);
  // Counts a row without a value at `snp`.
  void add_na(std::uint64_t snp) {
    ++na;
    best(snp);
  }
  // A key above which add() keeps no row: a row with such a key may be
  // counted instead by its histogram count, note_best() and note_dropped(),
  // which is what add() would do with it.
  std::int64_t admits_at_most() const { return candidates_.admits_at_most(); }
  // Makes `key` (kNegInfKey for p = 0) the best of SNP `snp` where it is
  // smaller than the best so far.
  void note_best(std::uint64_t snp, std::int64_t key) {
    std::int32_t& b = best(snp);
    const std::int32_t key32 =
        key == kNegInfKey ? SnpStat::kNegInf : static_cast<std::int32_t>(key);
    if (b == SnpStat::kNoIt || key32 < b) b = key32;
  }

  // Adds `other`.
  void merge(CorrFamily&& other);
  // The candidates, in hit order.
  std::vector<CorrRow> sorted_candidates() const;
  // Every row with a key strictly below this is among the candidates.
  std::int64_t complete_below() const {
    return std::min(complete_below_, candidates_.dropped_below());
  }
  std::uint64_t max_candidates() const { return candidates_.max(); }
  void note_dropped(std::int64_t key) {
    if (key < complete_below_) complete_below_ = key;
  }
  void offer(CorrRow&& row);
  // Moves every SNP index up by `offset`, as for a shard's summary read
  // with --snp-offset.
  void shift_snps(std::uint64_t offset);

  // The best key of SNP `index` (SnpStat's kUnseen, kNoIt, kNegInf or a
  // key), growing the table as needed.
  std::int32_t& best(std::uint64_t index) {
    if (index >= snp_best.size()) snp_best.resize(index + 1, SnpStat::kUnseen);
    std::int32_t& b = snp_best[index];
    if (b == SnpStat::kUnseen) b = SnpStat::kNoIt;
    return b;
  }

  Histogram values;  // finite values, positive ones counted as 0 (p = 1)
  std::uint64_t neg_inf = 0, na = 0;
  std::vector<std::int32_t> snp_best;

 private:
  // Rows dropped before they reached the candidates: turned away on sight,
  // or by the summaries this one was read or merged from.
  std::int64_t complete_below_ = std::numeric_limits<std::int64_t>::max();
  CandidateSet<CorrRow, CorrHitOrder, CorrRowKey> candidates_;
};

struct CorrSummary {
  explicit CorrSummary(std::uint64_t max_candidates)
      : families{CorrFamily(max_candidates), CorrFamily(max_candidates)} {}
  void merge(CorrSummary&& other) {
    rows += other.rows;
    for (int f = 0; f < 2; ++f) families[f].merge(std::move(other.families[f]));
  }
  void shift_snps(std::uint64_t offset) {
    for (CorrFamily& f : families) f.shift_snps(offset);
  }
  std::uint64_t rows = 0;
  std::array<CorrFamily, 2> families;
};

// Writes `summary` to `path` (through a temporary name renamed at the end),
// or to standard output when `path` is "-". Throws ReportError when the file
// cannot be written.
void write_corr_summary_file(const CorrSummary& summary,
                             const std::string& path);

// Reads a whole summary file `text` (magic line included). Throws
// ReportError naming `name` and the line on anything malformed.
CorrSummary parse_corr_summary(const std::string& text, const std::string& name,
                               std::uint64_t max_candidates);

template <typename Columns>
void CorrFamily::add(std::int64_t key, std::uint64_t snp, std::uint32_t gene1,
                     std::uint32_t gene2, Columns columns) {
  if (key == kNegInfKey) ++neg_inf;
  note_best(snp, key);
  if (!candidates_.admits(CorrRow{key, snp, gene1, gene2, {}})) {
    note_dropped(key);
    return;
  }
  offer(CorrRow{key, snp, gene1, gene2, columns()});
}

}  // namespace zirk_report

#endif  // ZIRK_REPORT_CORR_SUMMARY_H_
