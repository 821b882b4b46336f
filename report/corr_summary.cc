#include "corr_summary.h"

#include <algorithm>
#include <cstdio>

#include "output_folder.h"
#include "report_error.h"
#include "score_text.h"
#include "summary_lines.h"

namespace zirk_report {

std::pmr::memory_resource* corr_columns_pool() {
  static std::pmr::synchronized_pool_resource pool;
  return &pool;
}

void CorrFamily::offer(CorrRow&& row) { candidates_.offer(std::move(row)); }

std::vector<CorrRow> CorrFamily::sorted_candidates() const {
  return candidates_.sorted();
}

void CorrFamily::shift_snps(std::uint64_t offset) {
  if (offset == 0) return;
  if (!snp_best.empty()) {
    snp_best.insert(snp_best.begin(), offset, SnpStat::kUnseen);
  }
  // The same shift for every row keeps their order.
  candidates_.change_all([offset](CorrRow& row) { row.snp += offset; });
}

void CorrFamily::merge(CorrFamily&& other) {
  values.merge(other.values);
  neg_inf += other.neg_inf;
  na += other.na;
  for (std::size_t s = 0; s < other.snp_best.size(); ++s) {
    const std::int32_t o = other.snp_best[s];
    if (o == SnpStat::kUnseen) continue;
    std::int32_t& mine = best(s);
    if (o != SnpStat::kNoIt && (mine == SnpStat::kNoIt || o < mine)) mine = o;
  }
  note_dropped(other.complete_below());
  for (CorrRow& row : other.candidates_.release()) offer(std::move(row));
}

namespace {

std::string key_text(std::int64_t key) {
  return key == kNegInfKey ? "-inf" : std::to_string(key);
}

std::string best_text(std::int32_t b) {
  return b == SnpStat::kNoIt     ? "NA"
         : b == SnpStat::kNegInf ? "-inf"
                                 : std::to_string(b);
}

}  // namespace

// Layout: the magic, "rows N", then per family "family NAME NEG_INF NA
// MAX_CANDIDATES COMPLETE_BELOW|all" followed by its "V key count" bins,
// "S snp best" lines and "H snp gene1 gene2 columns..." candidates, then
// "end".
void write_corr_summary_file(const CorrSummary& s, const std::string& path) {
  std::string t = std::string(kCorrSummaryMagic) + "\nrows\t" +
                  std::to_string(s.rows) + "\n";
  for (int f = 0; f < 2; ++f) {
    const CorrFamily& fam = s.families[f];
    const bool all =
        fam.complete_below() == std::numeric_limits<std::int64_t>::max();
    t += std::string("family\t") + kCorrFamilyNames[f] + "\t" +
         std::to_string(fam.neg_inf) + "\t" + std::to_string(fam.na) + "\t" +
         std::to_string(fam.max_candidates()) + "\t" +
         (all ? "all" : key_text(fam.complete_below())) + "\n";
    fam.values.visit([&t](std::int64_t key, std::uint64_t count) {
      t += "V\t" + std::to_string(key) + "\t" + std::to_string(count) + "\n";
      return true;
    });
    for (std::size_t i = 0; i < fam.snp_best.size(); ++i) {
      if (fam.snp_best[i] == SnpStat::kUnseen) continue;
      t += "S\t" + std::to_string(i) + "\t" + best_text(fam.snp_best[i]) + "\n";
    }
    for (const CorrRow& r : fam.sorted_candidates()) {
      t += "H\t" + std::to_string(r.snp) + "\t" + std::to_string(r.gene1) +
           "\t" + std::to_string(r.gene2) + "\t";
      t += r.columns;
      t += '\n';
    }
  }
  t += "end\n";

  if (path == "-") {
    if (std::fwrite(t.data(), 1, t.size(), stdout) != t.size() ||
        std::fflush(stdout) != 0) {
      throw ReportError("standard output: cannot write the summary");
    }
    return;
  }
  try {
    zirk_formats::OutputFile file(path);
    std::fwrite(t.data(), 1, t.size(), file.stream());
    file.commit();
  } catch (const zirk_formats::Failure&) {
    throw ReportError(path + ": cannot write the summary file");
  }
}

CorrSummary parse_corr_summary(const std::string& text, const std::string& name,
                               std::uint64_t max_candidates) {
  CorrSummary s(max_candidates);
  SummaryReader in(text, name);
  if (!in.next_line() || in.fields().size() != 1 ||
      in.fields()[0] != kCorrSummaryMagic) {
    in.fail("unknown summary version");
  }
  if (!in.next_line() || in.fields().size() != 2 || in.fields()[0] != "rows") {
    in.fail("expected the rows line");
  }
  s.rows = in.u64(1);
  int family = -1;
  bool ended = false;
  while (in.next_line()) {
    const auto& f = in.fields();
    if (f[0] == "end" && f.size() == 1) {
      ended = true;
      if (in.next_line()) in.fail("text after the end line");
      break;
    }
    if (f[0] == "family") {
      in.expect(6);
      if (f[1] != kCorrFamilyNames[family + 1]) in.fail("malformed line");
      CorrFamily& fam = s.families[++family];
      fam.neg_inf = in.u64(2);
      fam.na = in.u64(3);
      // The rows this summary dropped stay dropped in every merge.
      if (f[5] != "all") fam.note_dropped(in.key(5));
      continue;
    }
    if (family < 0) in.fail("malformed line");
    CorrFamily& fam = s.families[family];
    if (f[0] == "V") {
      in.expect(3);
      fam.values.add(in.hist_key(1), in.u64(2));
    } else if (f[0] == "S") {
      in.expect(3);
      std::int32_t& b = fam.best(in.u64(1));
      b = f[2] == "NA"     ? SnpStat::kNoIt
          : f[2] == "-inf" ? SnpStat::kNegInf
                           : static_cast<std::int32_t>(in.hist_key(2));
    } else if (f[0] == "H") {
      in.expect(12);
      // The family's own value is column 10 (trend) or 11 (het) of the row.
      const std::string_view v = f[10 + family];
      const Score sc = parse_score(v.data(), v.data() + v.size());
      if (sc.kind != ScoreKind::kFinite && sc.kind != ScoreKind::kNegInf) {
        in.fail("malformed line");
      }
      const std::int64_t key = corr_key(sc);
      std::pmr::string columns(f[4], corr_columns_pool());
      for (std::size_t i = 5; i < 12; ++i) {
        columns += '\t';
        columns += f[i];
      }
      fam.offer(CorrRow{key, in.u64(1), static_cast<std::uint32_t>(in.u64(2)),
                        static_cast<std::uint32_t>(in.u64(3)),
                        std::move(columns)});
    } else {
      in.fail("malformed line");
    }
  }
  if (!ended) in.fail("missing end line (truncated file?)");
  if (family != 1) in.fail("expected the family lines");
  return s;
}

}  // namespace zirk_report
