#include "input_reader.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "byte_source.h"
#include "corr_input.h"
#include "corr_summary.h"
#include "progress_line.h"
#include "report_error.h"
#include "result_format.h"
#include "score_text.h"

namespace zirk_report {

namespace {

using zirk_formats::kResultHeadLines;

constexpr std::size_t kBuffer = 4 << 20;
// The column header without its newline, as a line of the buffer reads.
constexpr std::string_view kColumns(zirk_formats::kResultColumnHeader,
                                    sizeof zirk_formats::kResultColumnHeader -
                                        2);

// Parses the rows of one result file into a summary. Lines are handled in
// place in a large buffer; a partial last line moves to the buffer's start.
class RowScanner {
 public:
  RowScanner(ByteSource& source, const InputOptions& options, RunSummary& s)
      : source_(source), options_(options), s_(s) {}

  void run(std::vector<char>& buf, std::size_t filled) {
    bool eof = false;
    for (;;) {
      const char* p = buf.data();
      const char* end = p + filled;
      while (line_ < kResultHeadLines) {
        const char* nl =
            static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (nl == nullptr) break;
        ++line_;
        head(p, nl);
        p = nl + 1;
      }
      if (line_ >= kResultHeadLines && p < end) {
        // Rows end at the last newline: every scan in row() stops at one.
        const char* last = static_cast<const char*>(memrchr(p, '\n', end - p));
        if (last != nullptr) {
          while (p <= last) p = row(p);
        }
      }
      const std::size_t rest = static_cast<std::size_t>(end - p);
      if (eof) {
        if (rest != 0) fail(line_ + 1, "torn row at the end of the file");
        break;
      }
      std::memmove(buf.data(), p, rest);
      if (rest == buf.size()) fail(line_ + 1, "line too long");
      const std::size_t got =
          source_.read(buf.data() + rest, buf.size() - rest);
      if (got == 0) eof = true;
      filled = rest + got;
      show_progress(eof);
    }
    if (line_ < kResultHeadLines) {
      fail(line_ + 1, "missing the head of a ZIRK result file");
    }
    mc_counts_.flush();
  }

 private:
  void show_progress(bool done) {
    if (done) {
      progress_.clear();
    } else if (progress_.due(std::chrono::seconds(1))) {
      progress_.show(
          "%s: %llu rows read", source_.name().c_str(),
          static_cast<unsigned long long>(
              line_ > kResultHeadLines ? line_ - kResultHeadLines : 0));
    }
  }

  [[noreturn]] void fail(std::uint64_t line, const std::string& cause) const {
    throw ReportError(source_.name() + ": line " + std::to_string(line) + ": " +
                      cause);
  }

  void head(const char* p, const char* nl) {
    const std::string text(p, nl);
    if (line_ == 1 && text != zirk_formats::kResultTitle) {
      fail(1, std::string("not a ZIRK result file (no \"") +
                  zirk_formats::kResultTitle + "\" line)");
    }
    if (line_ == 2) {
      if (text.rfind(zirk_formats::kThresholdPrefix, 0) != 0 &&
          text.rfind(zirk_formats::kLog10ThresholdPrefix, 0) != 0) {
        fail(2, "no threshold line");
      }
      threshold_ = text;
    }
    if (line_ == kResultHeadLines && text != kColumns) {
      fail(3, "unexpected column header");
    }
    if (line_ == kResultHeadLines) {
      if (s_.threshold_line.empty()) s_.threshold_line = threshold_;
      if (s_.threshold_line != threshold_) {
        fail(2, "threshold line \"" + threshold_ + "\" differs from \"" +
                    s_.threshold_line + "\" of the inputs before it");
      }
    }
  }

  // Reads decimal digits and the tab after them.
  static bool index(const char*& p, std::uint64_t& out) {
    const char* start = p;
    std::uint64_t v = 0;
    while (static_cast<unsigned>(*p - '0') <= 9) {
      v = v * 10 + static_cast<unsigned>(*p - '0');
      ++p;
    }
    if (p == start || p - start > 10 || *p != '\t') return false;
    ++p;
    out = v;
    return true;
  }

  // The end of the field at p: the next tab or newline.
  static const char* field_end(const char* p) {
    while (*p != '\t' && *p != '\n') ++p;
    return p;
  }

  // Reads the score at p and moves p to the tab or newline after it; the
  // common "-d.dddddd" form is read directly, the rest by parse_score.
  static Score score(const char*& p) {
    const char* q = p;
    const bool minus = *q == '-';
    q += minus;
    // Unsigned: a long run of digits wraps harmlessly before it is refused.
    std::uint64_t u = 0;
    const char* digits = q;
    while (static_cast<unsigned>(*q - '0') <= 9) u = u * 10 + (*q++ - '0');
    if (q != digits && q - digits <= 9 && *q == '.') {
      ++q;
      int n = 0;
      while (n < 6 && static_cast<unsigned>(q[n] - '0') <= 9) {
        u = u * 10 + (q[n] - '0');
        ++n;
      }
      if (n == 6 && (q[6] == '\t' || q[6] == '\n')) {
        p = q + 6;
        const auto v = static_cast<std::int64_t>(u);
        return Score{ScoreKind::kFinite, minus ? -v : v, minus};
      }
    }
    const char* end = field_end(p);
    const Score s = parse_score(p, end);
    p = end;
    return s;
  }

  // Parses the row at p (which ends at a newline) and returns the start of
  // the next.
  const char* row(const char* p) {
    ++line_;
    std::uint64_t snp, g1, g2;
    if (!index(p, snp) || !index(p, g1) || !index(p, g2) ||
        static_cast<unsigned>(p[0] - '0') > 2 || p[1] != '\t' || g1 >= g2 ||
        g2 > 0xffffffffu) {
      fail(line_, "malformed row");
    }
    const int flag = p[0] - '0';
    p += 2;
    const char* mc_text = p;
    const Score mc = score(p);
    const char* mc_end = p;
    if (*p != '\t') fail(line_, "malformed row");
    ++p;
    const char *lda = p, *lda_end = p, *it = p;
    Score is{ScoreKind::kMarker, 0, false};
    if (flag == 0) {
      if (!(p[0] == '1' && p[1] == '.' && p[2] == '0' && p[3] == '\t' &&
            p[4] == '1' && p[5] == '.' && p[6] == '0' && p[7] == '\n')) {
        fail(line_, "malformed row");
      }
      p += 7;
    } else {
      const Score ld = score(p);
      lda_end = p;
      if (*p != '\t' || ld.kind == ScoreKind::kMarker ||
          ld.kind == ScoreKind::kBad) {
        fail(line_, "malformed row");
      }
      it = ++p;
      is = score(p);
      if (*p != '\n') fail(line_, "malformed row");
      const bool it_ok = flag == 1 ? is.kind == ScoreKind::kFinite ||
                                         is.kind == ScoreKind::kNegInf ||
                                         is.kind == ScoreKind::kNaN
                                   : is.kind == ScoreKind::kMarker;
      if (!it_ok) fail(line_, "malformed row");
    }
    const char* nl = p++;

    snp += options_.snp_offset;
    if (options_.data != nullptr) {
      const DataFolder& d = *options_.data;
      if (snp >= d.snps.size()) {
        fail(line_, "SNP index " + std::to_string(snp) + " beyond the " +
                        std::to_string(d.snps.size()) + " SNPs of " + d.dir +
                        "/snps.tsv");
      }
      if (g2 >= d.genes.size()) {
        fail(line_, "gene index " + std::to_string(g2) + " beyond the " +
                        std::to_string(d.genes.size()) + " genes of " + d.dir +
                        "/genes.tsv");
      }
    } else if (snp >= (std::uint64_t{1} << 31)) {
      fail(line_, "malformed row");
    }

    switch (mc.kind) {
      case ScoreKind::kFinite:
        if (mc.millionths < kMinKey || mc.millionths > kMaxKey) {
          fail(line_, "MC value out of range");
        }
        mc_counts_.add(s_.mc, mc.millionths);
        if (mc.millionths == 0 && !mc.minus) ++s_.mc_fixed_one;
        break;
      case ScoreKind::kNegInf:
        ++s_.mc_neg_inf;
        break;
      case ScoreKind::kNaN:
        ++s_.mc_nan;
        break;
      default:
        fail(line_, "malformed row");
    }
    ++s_.rows;
    ++s_.flag_rows[flag];
    if (snp != current_snp_ || current_ == nullptr) {
      current_ = &s_.snp(snp);
      current_snp_ = snp;
      if (current_->best_it == SnpStat::kUnseen)
        current_->best_it = SnpStat::kNoIt;
    }
    SnpStat& st = *current_;
    if (flag == 0) return p;
    ++st.passed_mc;
    if (flag != 1) return p;

    std::int64_t key;
    if (is.kind == ScoreKind::kNaN) {
      ++s_.it_nan;
      return p;
    }
    if (is.kind == ScoreKind::kNegInf) {
      ++s_.it_neg_inf;
      key = kNegInfKey;
      st.best_it = SnpStat::kNegInf;
    } else {
      if (is.millionths < kMinKey) fail(line_, "IT value out of range");
      // An IT p-value above 1 can only be rounding; it counts as p = 1.
      key = std::min<std::int64_t>(is.millionths, 0);
      s_.it.add(key);
      if (key < st.best_it) st.best_it = static_cast<std::int32_t>(key);
    }
    CandidateRow row{key,
                     snp,
                     static_cast<std::uint32_t>(g1),
                     static_cast<std::uint32_t>(g2),
                     {},
                     {},
                     {}};
    if (!s_.accepts(row)) {
      s_.note_dropped(key);
      return p;
    }
    row.mc.assign(mc_text, mc_end);
    row.lda.assign(lda, lda_end);
    row.it.assign(it, nl);
    s_.offer(std::move(row));
    return p;
  }

  ByteSource& source_;
  const InputOptions& options_;
  RunSummary& s_;
  std::uint64_t line_ = 0;
  std::string threshold_;
  // The SNP of the row before: rows come grouped by SNP.
  std::uint64_t current_snp_ = 0;
  SnpStat* current_ = nullptr;
  // MC values spread over megabytes of counters.
  PipelinedCounts mc_counts_;
  zirk_formats::ProgressLine progress_{stderr, options_.progress};
};

}  // namespace

namespace {

// Reads the rest of `source` after the `filled` bytes already in `buf`.
std::string whole_text(ByteSource& source, std::vector<char>& buf,
                       std::size_t filled) {
  std::string text(buf.data(), filled);
  for (;;) {
    const std::size_t got = source.read(buf.data(), buf.size());
    if (got == 0) break;
    text.append(buf.data(), got);
  }
  return text;
}

void check_snps(const ByteSource& source, std::size_t snps,
                const InputOptions& options) {
  if (options.data != nullptr && snps > options.data->snps.size()) {
    throw ReportError(source.name() + ": SNP index " +
                      std::to_string(snps - 1) + " beyond the " +
                      std::to_string(options.data->snps.size()) + " SNPs of " +
                      options.data->dir + "/snps.tsv");
  }
}

bool starts_line(const std::vector<char>& buf, std::size_t filled,
                 const char* line) {
  const std::size_t n = std::strlen(line);
  return filled > n && std::memcmp(buf.data(), line, n) == 0 && buf[n] == '\n';
}

InputKind read(ByteSource& source, const InputOptions& options,
               RunSummary& into, CorrSummary* corr, std::vector<char>& buf) {
  // Every block the same size, whoever supplied the buffer: a line longer
  // than it is an error.
  buf.resize(kBuffer);
  std::size_t filled = 0;
  // Enough bytes to tell the kinds apart by their first line.
  const std::size_t magic = std::strlen(kCorrHeader);
  while (filled <= magic) {
    const std::size_t got =
        source.read(buf.data() + filled, buf.size() - filled);
    if (got == 0) break;
    filled += got;
  }
  if (filled == 0) {
    throw ReportError(source.name() + ": empty input, not a ZIRK result file");
  }
  const bool corr_rows = starts_line(buf, filled, kCorrHeader);
  const bool corr_summary = starts_line(buf, filled, kCorrSummaryMagic);
  if ((corr_rows || corr_summary) && corr == nullptr) {
    throw ReportError(source.name() +
                      ": rows of zirk-corr where a result file of zirk is "
                      "expected");
  }
  if (corr_rows) {
    CorrSummary s(options.max_candidates);
    scan_corr_rows(source, buf, filled, options, s);
    corr->merge(std::move(s));
    return InputKind::kCorrRows;
  }
  if (corr_summary) {
    CorrSummary s = parse_corr_summary(whole_text(source, buf, filled),
                                       source.name(), options.max_candidates);
    s.shift_snps(options.snp_offset);
    for (const CorrFamily& f : s.families) {
      check_snps(source, f.snp_best.size(), options);
    }
    corr->merge(std::move(s));
    return InputKind::kCorrSummary;
  }
  if (starts_line(buf, filled, kSummaryMagic)) {
    RunSummary s = parse_summary(whole_text(source, buf, filled), source.name(),
                                 options.max_candidates);
    s.shift_snps(options.snp_offset);
    check_snps(source, s.snps.size(), options);
    if (!into.threshold_line.empty() &&
        into.threshold_line != s.threshold_line) {
      throw ReportError(source.name() + ": threshold line \"" +
                        s.threshold_line + "\" differs from \"" +
                        into.threshold_line + "\" of the inputs before it");
    }
    into.merge(std::move(s));
    return InputKind::kSummary;
  }
  RowScanner scanner(source, options, into);
  scanner.run(buf, filled);
  return InputKind::kResult;
}

}  // namespace

bool read_input(const std::string& path, const InputOptions& options,
                RunSummary& into) {
  ByteSource source(path);
  std::vector<char> buffer;
  return read_input(source, options, into, buffer);
}

bool read_input(ByteSource& source, const InputOptions& options,
                RunSummary& into, std::vector<char>& buffer) {
  return read(source, options, into, nullptr, buffer) == InputKind::kSummary;
}

InputKind read_any_input(const std::string& path, const InputOptions& options,
                         RunSummary& into, CorrSummary& corr) {
  ByteSource source(path);
  std::vector<char> buffer;
  return read_any_input(source, options, into, corr, buffer);
}

InputKind read_any_input(ByteSource& source, const InputOptions& options,
                         RunSummary& into, CorrSummary& corr,
                         std::vector<char>& buffer) {
  return read(source, options, into, &corr, buffer);
}

}  // namespace zirk_report
