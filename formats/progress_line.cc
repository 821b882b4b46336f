#include "progress_line.h"

#include <unistd.h>

#include <cstdarg>

namespace zirk_formats {

ProgressLine::ProgressLine(std::FILE* stream, bool enabled)
    : stream_(enabled && stream != nullptr && isatty(fileno(stream)) == 1
                  ? stream
                  : nullptr),
      last_(std::chrono::steady_clock::now()) {}

bool ProgressLine::due(std::chrono::steady_clock::duration interval) const {
  return stream_ != nullptr &&
         std::chrono::steady_clock::now() - last_ >= interval;
}

void ProgressLine::show(const char* format, ...) {
  if (stream_ == nullptr) return;
  std::fputc('\r', stream_);
  va_list args;
  va_start(args, format);
  std::vfprintf(stream_, format, args);
  va_end(args);
  // Erase what a longer earlier text left to the right.
  std::fputs("\033[K", stream_);
  std::fflush(stream_);
  shown_ = true;
  last_ = std::chrono::steady_clock::now();
}

void ProgressLine::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  shown_ = false;
}

}  // namespace zirk_formats
