// The progress line of long work: one line on a terminal, redrawn in place
// and erased at the end; nothing at all when the stream is not a terminal,
// so that scripts and logs never see it.
#ifndef ZIRK_FORMATS_PROGRESS_LINE_H_
#define ZIRK_FORMATS_PROGRESS_LINE_H_

#include <chrono>
#include <cstdio>

namespace zirk_formats {

class ProgressLine {
 public:
  // Shows the line on `stream` only when it is a terminal; never when
  // `stream` is null or `enabled` is false.
  explicit ProgressLine(std::FILE* stream, bool enabled = true);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool enabled() const { return stream_ != nullptr; }

  // True when the line is enabled and `interval` has passed since it was
  // last drawn (or since it was made): callers skip the work of a new text
  // otherwise.
  bool due(std::chrono::steady_clock::duration interval) const;

  // Redraws the line with the printf-formatted text.
  [[gnu::format(printf, 2, 3)]] void show(const char* format, ...);

  // Erases the line if it was ever drawn.
  void clear();

 private:
  std::FILE* stream_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_PROGRESS_LINE_H_
