#include "histogram.h"

namespace zirk_report {

std::uint32_t* Histogram::allocate(std::uint64_t page) {
  if (blocks_.empty()) {
    blocks_.resize(static_cast<std::size_t>(
        ((kMaxKey - kMinKey) >> (kPageBits + kBlockBits)) + 1));
  }
  std::unique_ptr<Block>& block = blocks_[page >> kBlockBits];
  if (!block) block = std::make_unique<Block>();
  auto& counters = block->pages[page & (kBlockSize - 1)];
  counters = std::make_unique<std::uint32_t[]>(kPageSize);  // zeroed
  return counters.get();
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
  std::uint64_t n = blocks_.size() * sizeof(blocks_[0]);
  for (const auto& block : blocks_) {
    if (!block) continue;
    n += sizeof(Block);
    for (const auto& page : block->pages) {
      if (page) n += kPageSize * sizeof(std::uint32_t);
    }
  }
  return n + carry_.size() * 48;
}

}  // namespace zirk_report
