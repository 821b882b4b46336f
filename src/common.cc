#include "common.h"

#include <cstdio>
#include <cstdlib>

std::int32_t n = 0;
std::int32_t ngene = 0;
std::int32_t ps = 0;

void error(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::exit(1);
}
