// Counts of why variants, genes or samples were left out, with the first
// few IDs of each reason, so that no item disappears silently.
#ifndef ZIRK_IMPORT_SKIP_LOG_H_
#define ZIRK_IMPORT_SKIP_LOG_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zirk_import {

class SkipLog {
 public:
  struct Reason {
    std::string name;
    std::size_t count = 0;
    std::vector<std::string> first_ids;
  };

  // `reasons` fixes the reasons and their order (every one is reported,
  // even with a count of 0); up to `ids_kept` IDs are kept per reason.
  SkipLog(const std::vector<std::string>& reasons, std::size_t ids_kept);

  // Counts one item with `id` under `reason`, which must be one of the
  // constructor's reasons.
  void add(std::string_view reason, std::string_view id);

  const std::vector<Reason>& reasons() const { return reasons_; }
  std::size_t total() const;

 private:
  std::vector<Reason> reasons_;
  std::size_t ids_kept_;
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_SKIP_LOG_H_
