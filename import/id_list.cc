#include "id_list.h"

#include <htslib/bgzf.h>
#include <htslib/kstring.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "import_error.h"

namespace zirk_import {

std::unordered_set<std::string> read_id_list(const std::string& path) {
  errno = 0;
  BGZF* fp = bgzf_open(path.c_str(), "r");
  if (!fp) {
    throw ImportError(path + ": cannot open: " +
                      (errno ? std::strerror(errno) : "unknown error"));
  }
  std::unordered_set<std::string> ids;
  kstring_t line = {0, 0, nullptr};
  int r;
  while ((r = bgzf_getline(fp, '\n', &line)) >= 0) {
    std::size_t begin = 0;
    while (begin < line.l && std::strchr(" \t\r", line.s[begin])) ++begin;
    std::size_t end = begin;
    while (end < line.l && !std::strchr(" \t\r", line.s[end])) ++end;
    if (end > begin) ids.emplace(line.s + begin, end - begin);
  }
  std::free(line.s);
  bgzf_close(fp);
  if (r < -1) throw ImportError(path + ": read error");
  if (ids.empty()) throw ImportError(path + ": no IDs in the list");
  return ids;
}

}  // namespace zirk_import
