// The line reader of the summary files: tab-separated fields, whole
// numbers and histogram keys, every complaint naming the file and the line.
#ifndef ZIRK_REPORT_SUMMARY_LINES_H_
#define ZIRK_REPORT_SUMMARY_LINES_H_

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "histogram.h"
#include "report_error.h"
#include "run_summary.h"

namespace zirk_report {

// Splits `text` into lines and fields. next_line() moves to the next line
// (false at the end; a last line without a newline is torn); u64, key
// ("-inf" or a whole number) and hist_key (a key within the histogram's
// range) read field i or throw through fail().
class SummaryReader {
 public:
  SummaryReader(const std::string& text, const std::string& name)
      : text_(text), name_(name) {}

  bool next_line() {
    fields_.clear();
    if (pos_ >= text_.size()) return false;
    const std::size_t nl = text_.find('\n', pos_);
    if (nl == std::string::npos) fail("torn line");
    std::string_view line(text_.data() + pos_, nl - pos_);
    pos_ = nl + 1;
    ++line_;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      fields_.push_back(line.substr(start, tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    return true;
  }
  const std::vector<std::string_view>& fields() const { return fields_; }
  void expect(std::size_t n) const {
    if (fields_.size() != n) fail("malformed line");
  }
  std::uint64_t u64(std::size_t i) const {
    std::uint64_t v = 0;
    const auto f = fields_.at(i);
    const auto r = std::from_chars(f.data(), f.data() + f.size(), v);
    if (r.ec != std::errc() || r.ptr != f.data() + f.size())
      fail("malformed line");
    return v;
  }
  std::int64_t key(std::size_t i) const {
    if (fields_.at(i) == "-inf") return kNegInfKey;
    std::int64_t v = 0;
    const auto f = fields_.at(i);
    const auto r = std::from_chars(f.data(), f.data() + f.size(), v);
    if (r.ec != std::errc() || r.ptr != f.data() + f.size())
      fail("malformed line");
    return v;
  }
  std::int64_t hist_key(std::size_t i) const {
    const std::int64_t v = key(i);
    if (v < kMinKey || v > kMaxKey) fail("malformed line");
    return v;
  }
  [[noreturn]] void fail(const std::string& cause) const {
    throw ReportError(name_ + ": line " + std::to_string(line_) +
                      ": " + cause + " in the summary");
  }

 private:
  const std::string& text_;
  const std::string& name_;
  std::size_t pos_ = 0;
  std::uint64_t line_ = 0;
  std::vector<std::string_view> fields_;
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_SUMMARY_LINES_H_
