#include "skip_log.h"

#include <cstdlib>

namespace zirk_import {

SkipLog::SkipLog(const std::vector<std::string>& reasons, std::size_t ids_kept)
    : ids_kept_(ids_kept) {
  for (const std::string& name : reasons) reasons_.push_back({name, 0, {}});
}

void SkipLog::add(std::string_view reason, std::string_view id) {
  for (Reason& r : reasons_) {
    if (r.name == reason) {
      ++r.count;
      if (r.first_ids.size() < ids_kept_) r.first_ids.emplace_back(id);
      return;
    }
  }
  std::abort();  // a reason the caller did not declare is a programming error
}

std::size_t SkipLog::total() const {
  std::size_t sum = 0;
  for (const Reason& r : reasons_) sum += r.count;
  return sum;
}

}  // namespace zirk_import
