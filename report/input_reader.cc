#include "input_reader.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "byte_source.h"
#include "report_error.h"
#include "score_text.h"

namespace zirk_report {

namespace {

constexpr std::size_t kBuffer = 4 << 20;
constexpr char kTitle[] = "Results of ZIRK:";
constexpr char kColumns[] =
    "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t "
    "p-value(IT)";

// Parses the rows of one result file into a summary. Lines are handled in
// place in a large buffer; a partial last line moves to the buffer's start.
class RowScanner {
 public:
  RowScanner(ByteSource& source, const InputOptions& options, RunSummary& s)
      : source_(source), options_(options), s_(s) {}

  void run(std::vector<char>& buf, std::size_t filled) {
    std::size_t begin = 0;
    bool eof = false;
    for (;;) {
      const char* data = buf.data();
      const char* end = data + filled;
      const char* p = data + begin;
      for (;;) {
        const char* nl =
            static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (nl == nullptr) break;
        ++line_;
        if (line_ > 3) {
          row(p, nl);
        } else {
          head(p, nl);
        }
        p = nl + 1;
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
      if (options_.progress) show_progress(eof);
      begin = 0;
    }
    if (line_ < 3) {
      fail(line_ + 1, "missing the head of a ZIRK result file");
    }
  }

 private:
  void show_progress(bool done) {
    const auto now = std::chrono::steady_clock::now();
    if (!done && now - shown_ < std::chrono::seconds(1)) return;
    shown_ = now;
    if (done) {
      std::fputs("\r\033[K", stderr);
    } else {
      std::fprintf(stderr, "\r%s: %llu rows read\033[K", source_.name().c_str(),
                   static_cast<unsigned long long>(line_ > 3 ? line_ - 3 : 0));
    }
  }

  [[noreturn]] void fail(std::uint64_t line, const std::string& cause) const {
    throw ReportError("Error: " + source_.name() + ": line " +
                      std::to_string(line) + ": " + cause);
  }

  void head(const char* p, const char* nl) {
    const std::string text(p, nl);
    if (line_ == 1 && text != kTitle) {
      fail(1, "not a ZIRK result file (no \"Results of ZIRK:\" line)");
    }
    if (line_ == 2) {
      if (text.rfind("threshold = ", 0) != 0 &&
          text.rfind("log10(threshold) = ", 0) != 0) {
        fail(2, "no threshold line");
      }
      threshold_ = text;
    }
    if (line_ == 3 && text != kColumns) fail(3, "unexpected column header");
    if (line_ == 3) {
      if (s_.threshold_line.empty()) s_.threshold_line = threshold_;
      if (s_.threshold_line != threshold_) {
        fail(2, "threshold line \"" + threshold_ + "\" differs from \"" +
                    s_.threshold_line + "\" of the inputs before it");
      }
    }
  }

  static bool index(const char*& p, const char* end, std::uint64_t& out) {
    const char* start = p;
    std::uint64_t v = 0;
    while (p < end && static_cast<unsigned>(*p - '0') <= 9) {
      v = v * 10 + static_cast<unsigned>(*p - '0');
      ++p;
    }
    if (p == start || p - start > 10 || p == end || *p != '\t') return false;
    ++p;
    out = v;
    return true;
  }

  static const char* field_end(const char* p, const char* end) {
    while (p < end && *p != '\t') ++p;
    return p;
  }

  void row(const char* p, const char* nl) {
    std::uint64_t snp, g1, g2;
    if (!index(p, nl, snp) || !index(p, nl, g1) || !index(p, nl, g2) ||
        nl - p < 2 || static_cast<unsigned>(p[0] - '0') > 2 || p[1] != '\t' ||
        g1 >= g2 || g2 > 0xffffffffu) {
      fail(line_, "malformed row");
    }
    const int flag = p[0] - '0';
    p += 2;
    const char* mc_end = field_end(p, nl);
    if (mc_end == nl) fail(line_, "malformed row");
    const char* lda = mc_end + 1;
    const char* lda_end = field_end(lda, nl);
    if (lda_end == nl) fail(line_, "malformed row");
    const char* it = lda_end + 1;
    if (field_end(it, nl) != nl) fail(line_, "malformed row");

    const Score mc = parse_score(p, mc_end);
    const Score ld = parse_score(lda, lda_end);
    const Score is = parse_score(it, nl);
    const bool lda_ok =
        flag == 0 ? ld.kind == ScoreKind::kMarker
                  : ld.kind != ScoreKind::kMarker && ld.kind != ScoreKind::kBad;
    const bool it_ok = flag == 1 ? is.kind == ScoreKind::kFinite ||
                                       is.kind == ScoreKind::kNegInf ||
                                       is.kind == ScoreKind::kNaN
                                 : is.kind == ScoreKind::kMarker;
    if (!lda_ok || !it_ok) fail(line_, "malformed row");

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
        s_.mc.add(mc.millionths);
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
    SnpStat& st = s_.snp(snp);
    if (st.best_it == SnpStat::kUnseen) st.best_it = SnpStat::kNoIt;
    if (flag == 0) return;
    ++st.passed_mc;
    if (flag != 1) return;

    std::int64_t key;
    if (is.kind == ScoreKind::kNaN) {
      ++s_.it_nan;
      return;
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
      return;
    }
    row.mc.assign(p, mc_end);
    row.lda.assign(lda, lda_end);
    row.it.assign(it, nl);
    s_.offer(std::move(row));
  }

  ByteSource& source_;
  const InputOptions& options_;
  RunSummary& s_;
  std::uint64_t line_ = 0;
  std::string threshold_;
  std::chrono::steady_clock::time_point shown_ =
      std::chrono::steady_clock::now();
};

}  // namespace

bool read_input(const std::string& path, const InputOptions& options,
                RunSummary& into) {
  ByteSource source(path);
  std::vector<char> buf(kBuffer);
  std::size_t filled = 0;
  // Enough bytes to tell a summary from a result file.
  const std::size_t magic = std::strlen(kSummaryMagic);
  while (filled <= magic) {
    const std::size_t got =
        source.read(buf.data() + filled, buf.size() - filled);
    if (got == 0) break;
    filled += got;
  }
  if (filled == 0) {
    throw ReportError("Error: " + source.name() +
                      ": empty input, not a ZIRK result file");
  }
  if (filled > magic && std::memcmp(buf.data(), kSummaryMagic, magic) == 0 &&
      buf[magic] == '\n') {
    std::string text(buf.data(), filled);
    for (;;) {
      const std::size_t got = source.read(buf.data(), buf.size());
      if (got == 0) break;
      text.append(buf.data(), got);
    }
    RunSummary s = parse_summary(text, source.name(), options.max_candidates);
    if (options.data != nullptr) {
      if (s.snps.size() > options.data->snps.size()) {
        throw ReportError("Error: " + source.name() + ": SNP index " +
                          std::to_string(s.snps.size() - 1) + " beyond the " +
                          std::to_string(options.data->snps.size()) +
                          " SNPs of " + options.data->dir + "/snps.tsv");
      }
    }
    if (!into.threshold_line.empty() &&
        into.threshold_line != s.threshold_line) {
      throw ReportError("Error: " + source.name() + ": threshold line \"" +
                        s.threshold_line + "\" differs from \"" +
                        into.threshold_line + "\" of the inputs before it");
    }
    into.merge(std::move(s));
    return true;
  }
  RowScanner scanner(source, options, into);
  scanner.run(buf, filled);
  return false;
}

}  // namespace zirk_report
