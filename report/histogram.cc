#include "histogram.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace zirk_report {

Histogram::Block::Block() {
  const std::size_t size = kBlockSize * kPageSize * sizeof(std::uint32_t);
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(p, size, MADV_HUGEPAGE);
#endif
  counters = static_cast<std::uint32_t*>(p);
}

Histogram::Block::~Block() {
  munmap(counters, kBlockSize * kPageSize * sizeof(std::uint32_t));
}

std::uint32_t* Histogram::allocate(std::uint64_t page) {
  if (blocks_.empty()) {
    blocks_.resize(static_cast<std::size_t>(
        ((kMaxKey - kMinKey) >> (kPageBits + kBlockBits)) + 1));
  }
  std::unique_ptr<Block>& block = blocks_[page >> kBlockBits];
  if (!block) block = std::make_unique<Block>();
  std::uint32_t*& counters = block->pages[page & (kBlockSize - 1)];
  counters = block->counters + (page & (kBlockSize - 1)) * kPageSize;
  return counters;
}

void Histogram::add_each(std::span<const std::int64_t> keys) {
  constexpr std::size_t kBatch = 256;
  std::uint32_t* counters[kBatch];
  std::int64_t batchKeys[kBatch];
  for (std::size_t from = 0; from < keys.size(); from += kBatch) {
    const std::size_t to = std::min(keys.size(), from + kBatch);
    std::size_t size = 0;
    for (std::size_t i = from; i < to; ++i) {
      const std::int64_t key = keys[i];
      if (key < kMinKey || key > kMaxKey) continue;
      std::uint32_t* c = counter(key);
      __builtin_prefetch(c, 1);
      counters[size] = c;
      batchKeys[size++] = key;
    }
    for (std::size_t i = 0; i < size; ++i) {
      if (++*counters[i] == 0) carry_[batchKeys[i]] += std::uint64_t{1} << 32;
    }
    total_ += size;
  }
}

void NearZeroCounts::add_each(Histogram& histogram,
                              std::span<const std::int64_t> keys,
                              std::uint64_t count) {
  if (!counts_) {
    counts_ = std::make_unique<std::uint8_t[]>(kNear);
    queue_ = std::make_unique<std::uint16_t[]>(kRegions * kQueue);
    queued_ = std::make_unique<std::uint16_t[]>(kRegions);
  }
  if (count != 1) {
    add_weighted(histogram, keys, count);
    return;
  }
  if (far_.size() < keys.size()) far_.resize(keys.size());
  std::int64_t* const farKeys = far_.data();
  std::size_t far = 0;
  for (const std::int64_t key : keys) {
    // -key as unsigned: at least kNear for every key outside (-kNear, 0].
    const std::uint64_t index = 0 - static_cast<std::uint64_t>(key);
    if (index >= kNear) {
      farKeys[far++] = key;
      continue;
    }
    // The queue's size read once: the queue's stores could alias it.
    const std::size_t region = index >> kRegionBits;
    const std::size_t size = queued_[region];
    queue_[region * kQueue + size] =
        static_cast<std::uint16_t>(index & ((1 << kRegionBits) - 1));
    queued_[region] = static_cast<std::uint16_t>(size + 1);
    if (size + 1 == kQueue) count_region(histogram, region);
  }
  histogram.add_each(std::span(farKeys, far));
}

void NearZeroCounts::add_weighted(Histogram& histogram,
                                  std::span<const std::int64_t> keys,
                                  std::uint64_t count) {
  for (const std::int64_t key : keys) {
    const std::uint64_t index = 0 - static_cast<std::uint64_t>(key);
    if (index >= kNear) {
      if (key >= kMinKey && key <= kMaxKey) histogram.add(key, count);
      continue;
    }
    // What passes 255 is carried, in whole 256s.
    const std::uint64_t sum = counts_[index] + count;
    counts_[index] = static_cast<std::uint8_t>(sum);
    if (sum > 255) histogram.add(key, sum & ~std::uint64_t{255});
  }
}

void NearZeroCounts::count_region(Histogram& histogram, std::size_t region) {
  std::uint8_t* const counts = counts_.get() + (region << kRegionBits);
  const std::uint16_t* const queue = queue_.get() + region * kQueue;
  const std::size_t size = queued_[region];
  // The region's lines all at once, so that their misses overlap.
  for (std::size_t line = 0; line < (std::size_t{1} << kRegionBits);
       line += 64) {
    __builtin_prefetch(counts + line, 1);
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (++counts[queue[i]] == 0) {
      const auto index = static_cast<std::int64_t>(region << kRegionBits) +
                         std::int64_t{queue[i]};
      histogram.add(-index, 256);
    }
  }
  queued_[region] = 0;
}

void NearZeroCounts::flush(Histogram& histogram) {
  if (!counts_) return;
  for (std::size_t region = 0; region < kRegions; ++region) {
    count_region(histogram, region);
  }
  for (std::int64_t i = 0; i < kNear; ++i) {
    if (counts_[i] != 0) histogram.add(-i, counts_[i]);
  }
  counts_.reset();
  queue_.reset();
  queued_.reset();
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
