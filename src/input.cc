#include "input.h"

namespace input_detail {

LineRead read_line(char* buffer, std::size_t size, std::FILE* file) {
  return read_line_in_chunks(buffer, size, file, INT_MAX);
}

LineRead read_line_in_chunks(char* buffer, std::size_t size, std::FILE* file,
                             int chunk) {
  // fgets counts in int; a larger read continues chunk after chunk until a
  // newline, the end of the file or the full size ends it, as one read would.
  std::size_t used = 0;
  for (;;) {
    const std::size_t room = size - used;
    const bool last_chunk = room <= static_cast<std::size_t>(chunk);
    const int count = last_chunk ? static_cast<int>(room) : chunk;
    if (std::fgets(buffer + used, count, file) == nullptr) {
      if (used == 0) {
        if (std::feof(file)) return LineRead::kEnd;
        if (std::ferror(file)) return LineRead::kError;
        return LineRead::kNone;
      }
      // The earlier chunks hold the piece; fgets left their terminator.
      return std::ferror(file) ? LineRead::kError : LineRead::kLine;
    }
    const std::size_t got = std::strlen(buffer + used);
    used += got;
    if (last_chunk || got + 1 < static_cast<std::size_t>(count) ||
        (got > 0 && buffer[used - 1] == '\n')) {
      return LineRead::kLine;
    }
  }
}

}  // namespace input_detail
