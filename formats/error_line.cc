#include "error_line.h"

#include <cstdio>

namespace zirk_formats {

void print_error_line(std::string_view cause) {
  // One write of the whole line, so that lines of parallel jobs sharing a
  // log never interleave within a line.
  std::string line = "Error: ";
  line.append(cause);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace zirk_formats
