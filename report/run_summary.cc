#include "run_summary.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "output_folder.h"
#include "report_error.h"
#include "score_text.h"
#include "summary_lines.h"

namespace zirk_report {

RunSummary::RunSummary(std::uint64_t max_candidates)
    : candidates_(max_candidates) {}

void RunSummary::offer(CandidateRow&& row) {
  candidates_.offer(std::move(row));
}

std::vector<CandidateRow> RunSummary::sorted_candidates() const {
  return candidates_.sorted();
}

void RunSummary::merge(RunSummary&& other) {
  if (threshold_line.empty()) threshold_line = other.threshold_line;
  rows += other.rows;
  for (int f = 0; f < 3; ++f) flag_rows[f] += other.flag_rows[f];
  mc.merge(other.mc);
  mc_neg_inf += other.mc_neg_inf;
  mc_nan += other.mc_nan;
  mc_fixed_one += other.mc_fixed_one;
  it.merge(other.it);
  it_neg_inf += other.it_neg_inf;
  it_nan += other.it_nan;
  if (other.snps.size() > snps.size()) snps.resize(other.snps.size());
  for (std::size_t s = 0; s < other.snps.size(); ++s) {
    const SnpStat& o = other.snps[s];
    if (o.best_it == SnpStat::kUnseen) continue;
    SnpStat& mine = snps[s];
    if (mine.best_it == SnpStat::kUnseen || o.best_it < mine.best_it) {
      mine.best_it = o.best_it;
    }
    mine.passed_mc += o.passed_mc;
  }
  note_dropped(other.complete_below());
  note_exact(other.exact_);
  for (CandidateRow& row : other.candidates_.release()) offer(std::move(row));
}

void RunSummary::shift_snps(std::uint64_t offset) {
  if (offset == 0) return;
  if (!snps.empty()) snps.insert(snps.begin(), offset, SnpStat());
  // The same shift for every row keeps their order.
  candidates_.change_all([offset](CandidateRow& row) { row.snp += offset; });
}

namespace {

std::string key_text(std::int64_t key) {
  return key == kNegInfKey ? "-inf" : std::to_string(key);
}

}  // namespace

void write_summary_file(const RunSummary& s, const std::string& path) {
  const bool to_stdout = path == "-";
  std::optional<zirk_formats::OutputFile> file;
  if (!to_stdout) {
    try {
      file.emplace(path);
    } catch (const zirk_formats::Failure&) {
      throw ReportError(path + ": cannot create the summary file");
    }
  }
  std::FILE* f = to_stdout ? stdout : file->stream();
  write_summary(s, f);
  const bool failed = std::ferror(f) != 0;
  if (to_stdout) {
    if (std::fflush(f) != 0 || failed) {
      throw ReportError("standard output: cannot write the summary");
    }
    return;
  }
  try {
    file->commit();
  } catch (const zirk_formats::Failure&) {
    throw ReportError(path + ": cannot write the summary file");
  }
}

void write_summary(const RunSummary& s, std::FILE* f) {
  // The threshold line as the result file had it, whatever bytes it holds.
  std::fprintf(f, "%s\nthreshold\t", kSummaryMagic);
  std::fwrite(s.threshold_line.data(), 1, s.threshold_line.size(), f);
  std::fputc('\n', f);
  std::fprintf(f, "rows\t%llu\t%llu\t%llu\t%llu\n",
               static_cast<unsigned long long>(s.rows),
               static_cast<unsigned long long>(s.flag_rows[0]),
               static_cast<unsigned long long>(s.flag_rows[1]),
               static_cast<unsigned long long>(s.flag_rows[2]));
  std::fprintf(f, "mc\t%llu\t%llu\t%llu\nit\t%llu\t%llu\n",
               static_cast<unsigned long long>(s.mc_neg_inf),
               static_cast<unsigned long long>(s.mc_nan),
               static_cast<unsigned long long>(s.mc_fixed_one),
               static_cast<unsigned long long>(s.it_neg_inf),
               static_cast<unsigned long long>(s.it_nan));
  const bool all =
      s.complete_below() == std::numeric_limits<std::int64_t>::max();
  // With rows dropped, a reader may trust no more leading candidates than
  // were exact here; an input with fewer kept candidates lowers that count.
  std::fprintf(f, "candidates\t%llu\t%s\n",
               static_cast<unsigned long long>(
                   all ? s.max_candidates()
                       : std::min(s.max_candidates(), s.exact_candidates())),
               all ? "all" : key_text(s.complete_below()).c_str());
  const auto bins = [f](char tag, const Histogram& h) {
    h.visit([f, tag](std::int64_t key, std::uint64_t count) {
      std::fprintf(f, "%c\t%lld\t%llu\n", tag, static_cast<long long>(key),
                   static_cast<unsigned long long>(count));
      return true;
    });
  };
  bins('M', s.mc);
  bins('I', s.it);
  for (std::size_t i = 0; i < s.snps.size(); ++i) {
    const SnpStat& st = s.snps[i];
    if (st.best_it == SnpStat::kUnseen) continue;
    const std::string best = st.best_it == SnpStat::kNoIt ? "NA"
                             : st.best_it == SnpStat::kNegInf
                                 ? "-inf"
                                 : std::to_string(st.best_it);
    std::fprintf(f, "S\t%zu\t%s\t%llu\n", i, best.c_str(),
                 static_cast<unsigned long long>(st.passed_mc));
  }
  for (const CandidateRow& r : s.sorted_candidates()) {
    std::fprintf(f, "H\t%llu\t%u\t%u\t%s\t%s\t%s\n",
                 static_cast<unsigned long long>(r.snp), r.gene1, r.gene2,
                 r.mc.c_str(), r.lda.c_str(), r.it.c_str());
  }
  std::fputs("end\n", f);
}

RunSummary parse_summary(const std::string& text, const std::string& name,
                         std::uint64_t max_candidates) {
  RunSummary s(max_candidates);
  SummaryReader in(text, name);
  if (!in.next_line() || in.fields().size() != 1 ||
      in.fields()[0] != kSummaryMagic) {
    in.fail("unknown summary version");
  }
  const auto header = [&in](const char* tag, std::size_t n) {
    if (!in.next_line() || in.fields().size() != n || in.fields()[0] != tag) {
      in.fail(std::string("expected the ") + tag + " line");
    }
  };
  // The threshold line is the rest of the line, tabs and all: a result
  // file's head is taken as it is.
  if (!in.next_line() || in.fields().size() < 2 ||
      in.fields()[0] != "threshold") {
    in.fail("expected the threshold line");
  }
  const std::string_view first = in.fields()[1], last = in.fields().back();
  s.threshold_line.assign(first.data(),
                          last.data() + last.size() - first.data());
  header("rows", 5);
  s.rows = in.u64(1);
  for (int f = 0; f < 3; ++f) s.flag_rows[f] = in.u64(2 + f);
  header("mc", 4);
  s.mc_neg_inf = in.u64(1);
  s.mc_nan = in.u64(2);
  s.mc_fixed_one = in.u64(3);
  header("it", 3);
  s.it_neg_inf = in.u64(1);
  s.it_nan = in.u64(2);
  header("candidates", 3);
  if (in.fields()[2] != "all") {
    // The rows this summary dropped stay dropped in every merge, and only
    // its first candidates are known to be the strongest rows.
    s.note_dropped(in.key(2));
    s.note_exact(in.u64(1));
  }
  bool ended = false;
  while (in.next_line()) {
    const auto& f = in.fields();
    if (f[0] == "end" && f.size() == 1) {
      ended = true;
      if (in.next_line()) in.fail("text after the end line");
      break;
    }
    if (f[0] == "M" || f[0] == "I") {
      in.expect(3);
      (f[0] == "M" ? s.mc : s.it).add(in.hist_key(1), in.u64(2));
    } else if (f[0] == "S") {
      in.expect(4);
      SnpStat& st = s.snp(in.u64(1));
      st.best_it = f[2] == "NA"     ? SnpStat::kNoIt
                   : f[2] == "-inf" ? SnpStat::kNegInf
                                    : static_cast<std::int32_t>(in.hist_key(2));
      st.passed_mc = in.u64(3);
    } else if (f[0] == "H") {
      in.expect(7);
      const Score it = parse_score(f[6].data(), f[6].data() + f[6].size());
      if (it.kind != ScoreKind::kFinite && it.kind != ScoreKind::kNegInf) {
        in.fail("malformed line");
      }
      s.offer(CandidateRow{it.kind == ScoreKind::kNegInf
                               ? kNegInfKey
                               : std::min<std::int64_t>(it.millionths, 0),
                           in.u64(1), static_cast<std::uint32_t>(in.u64(2)),
                           static_cast<std::uint32_t>(in.u64(3)),
                           std::string(f[4]), std::string(f[5]),
                           std::string(f[6])});
    } else {
      in.fail("malformed line");
    }
  }
  if (!ended) in.fail("missing end line (truncated file?)");
  return s;
}

}  // namespace zirk_report
