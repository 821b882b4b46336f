#include "histogram.h"

namespace zirk_report {

Histogram::Histogram()
    : pages_(static_cast<std::size_t>(((kMaxKey - kMinKey) >> kPageBits) + 1)) {
}

std::uint32_t* Histogram::allocate(std::uint64_t page) {
  pages_[page] = std::make_unique<std::uint32_t[]>(kPageSize);  // zeroed
  return pages_[page].get();
}

void Histogram::merge(const Histogram& other) {
  other.visit([this](std::int64_t key, std::uint64_t count) {
    add(key, count);
    return true;
  });
}

std::vector<std::pair<std::int64_t, std::uint64_t>> Histogram::bins() const {
  std::vector<std::pair<std::int64_t, std::uint64_t>> out;
  visit([&out](std::int64_t key, std::uint64_t count) {
    out.emplace_back(key, count);
    return true;
  });
  return out;
}

std::uint64_t Histogram::bytes() const {
  std::uint64_t n = pages_.size() * sizeof(pages_[0]);
  for (const auto& page : pages_) {
    if (page) n += kPageSize * sizeof(std::uint32_t);
  }
  return n + carry_.size() * 48;
}

}  // namespace zirk_report
