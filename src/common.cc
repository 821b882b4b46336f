#include "common.h"

#include <cstdlib>

#include "error_line.h"

std::int32_t n = 0;
std::int32_t ngene = 0;
std::int32_t ps = 0;

void error(const char* cause) {
  zirk_formats::print_error_line(cause);
  std::exit(1);
}
