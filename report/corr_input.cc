#include "corr_input.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "report_error.h"
#include "score_text.h"

namespace zirk_report {

namespace {

// Bit 7 of each byte of the result is set where that byte of `word` is a
// tab, every other bit clear. Per byte b of x: (b & 0x7f) + 0x7f sets bit 7
// unless b & 0x7f is zero and never carries into the next byte, so the OR
// with b has bit 7 set exactly where b is not zero.
std::uint64_t tab_bytes(std::uint64_t word) {
  constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7f;
  const std::uint64_t x = word ^ 0x0909090909090909;  // tabs become zeros
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The fields of a row.
constexpr int kFields = 11;

// Splits the line [p, end) at its tabs into `fields` and returns how many
// it has, or kFields + 1 if more than kFields. Eight bytes are searched at
// a time: a test of every byte mispredicts at each field's end.
int split_fields(const char* p, const char* end,
                 std::string_view (&fields)[kFields]) {
  int n = 0;
  const char* start = p;
  // Ends the field at `tab`; false when there are too many.
  const auto field_ends = [&](const char* tab) {
    if (n == kFields) return false;
    fields[n++] =
        std::string_view(start, static_cast<std::size_t>(tab - start));
    start = tab + 1;
    return true;
  };
  const char* q = p;
  for (; end - q >= 8; q += 8) {
    std::uint64_t word;
    std::memcpy(&word, q, 8);
    if constexpr (std::endian::native == std::endian::big) {
      word = __builtin_bswap64(word);
    }
    for (std::uint64_t tabs = tab_bytes(word); tabs != 0; tabs &= tabs - 1) {
      if (!field_ends(q + std::countr_zero(tabs) / 8)) return kFields + 1;
    }
  }
  for (; q < end; ++q) {
    if (*q == '\t' && !field_ends(q)) return kFields + 1;
  }
  return field_ends(end) ? n : kFields + 1;
}

class CorrScanner {
 public:
  CorrScanner(const std::string& name, const InputOptions& options,
              CorrSummary& s)
      : name_(name), options_(options), s_(s) {}

  void line(const char* p, const char* end) {
    ++line_;
    if (line_ == 1) {
      if (std::string_view(p, end - p) != kCorrHeader) {
        fail("not a row file of zirk-corr (unexpected header)");
      }
      return;
    }
    std::string_view f[kFields];
    if (split_fields(p, end, f) != kFields) fail("malformed row");
    std::uint64_t snp = 0, g1 = 0, g2 = 0, count = 0;
    if (!whole(f[0], snp) || !whole(f[1], g1) || !whole(f[2], g2) || g1 >= g2 ||
        g2 > 0xffffffffu || !whole(f[3], count) || !whole(f[4], count) ||
        !whole(f[5], count)) {
      fail("malformed row");
    }
    for (int k = 6; k < 9; ++k) {
      if (f[k] != "NA" && value(f[k]).kind != ScoreKind::kFinite) {
        fail("malformed row");
      }
    }
    Score v[2];
    for (int k = 0; k < 2; ++k) {
      v[k] =
          f[9 + k] == "NA" ? Score{ScoreKind::kNaN, 0, false} : value(f[9 + k]);
      if (v[k].kind != ScoreKind::kFinite && v[k].kind != ScoreKind::kNegInf &&
          v[k].kind != ScoreKind::kNaN) {
        fail("malformed row");
      }
    }
    snp += options_.snp_offset;
    if (options_.data != nullptr) {
      const DataFolder& d = *options_.data;
      if (snp >= d.snps.size()) {
        fail("SNP index " + std::to_string(snp) + " beyond the " +
             std::to_string(d.snps.size()) + " SNPs of " + d.dir + "/snps.tsv");
      }
      if (g2 >= d.genes.size()) {
        fail("gene index " + std::to_string(g2) + " beyond the " +
             std::to_string(d.genes.size()) + " genes of " + d.dir +
             "/genes.tsv");
      }
    } else if (snp >= (std::uint64_t{1} << 31)) {
      fail("malformed row");
    }
    ++s_.rows;
    for (int k = 0; k < 2; ++k) {
      CorrFamily& fam = s_.families[k];
      if (v[k].kind == ScoreKind::kNaN) {
        fam.add_na(snp);
        continue;
      }
      const std::int64_t key = corr_key(v[k]);
      if (key != kNegInfKey) counts_.add(fam.values, key);
      fam.add(key, snp, static_cast<std::uint32_t>(g1),
              static_cast<std::uint32_t>(g2), [&] {
                return std::pmr::string(f[3].data(), end - f[3].data(),
                                        corr_columns_pool());
              });
    }
  }

  void finish() {
    if (line_ == 0) fail("not a row file of zirk-corr (unexpected header)");
    counts_.flush();
  }
  [[noreturn]] void fail_at(std::uint64_t line,
                            const std::string& cause) const {
    throw ReportError(name_ + ": line " + std::to_string(line) + ": " + cause);
  }
  std::uint64_t line() const { return line_; }

 private:
  [[noreturn]] void fail(const std::string& cause) const {
    fail_at(line_ == 0 ? 1 : line_, cause);
  }
  static bool whole(std::string_view t, std::uint64_t& out) {
    const auto r = std::from_chars(t.data(), t.data() + t.size(), out);
    return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size() &&
           t.size() <= 10;
  }
  static Score value(std::string_view t) {
    return parse_score(t.data(), t.data() + t.size());
  }

  const std::string& name_;
  const InputOptions& options_;
  CorrSummary& s_;
  std::uint64_t line_ = 0;
  // The values spread over megabytes of counters.
  PipelinedCounts counts_;
};

}  // namespace

void scan_corr_rows(ByteSource& source, std::vector<char>& buf,
                    std::size_t filled, const InputOptions& options,
                    CorrSummary& into) {
  CorrScanner scanner(source.name(), options, into);
  for (;;) {
    const char* p = buf.data();
    const char* end = p + filled;
    for (;;) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (nl == nullptr) break;
      scanner.line(p, nl);
      p = nl + 1;
    }
    const std::size_t rest = static_cast<std::size_t>(end - p);
    std::memmove(buf.data(), p, rest);
    if (rest == buf.size())
      scanner.fail_at(scanner.line() + 1, "line too long");
    const std::size_t got = source.read(buf.data() + rest, buf.size() - rest);
    if (got == 0) {
      if (rest != 0) {
        scanner.fail_at(scanner.line() + 1, "torn row at the end of the file");
      }
      break;
    }
    filled = rest + got;
  }
  scanner.finish();
}

}  // namespace zirk_report
