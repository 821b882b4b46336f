// An exact histogram of printed log10 values keyed by integer millionths.
//
// The engine prints every score with six decimals, so a value is an integer
// number of millionths and counting by that integer loses nothing: ranks,
// medians and q-values taken from the histogram are those of the rows. Counts
// live in pages of 4096 32-bit counters allocated on first touch (16 KiB per
// page), with the rare counter that wraps carried into a side table, so the
// memory follows the spread of the values, never the number of rows. The
// pages' table is itself in blocks of 512 pages allocated on first touch: a
// flat table for the whole key range would take 1.5 MiB per histogram before
// its first value, which a run over a small input would spend its time on.
#ifndef ZIRK_REPORT_HISTOGRAM_H_
#define ZIRK_REPORT_HISTOGRAM_H_

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace zirk_report {

// The keys a histogram holds: log10 values in [-400, 400].
inline constexpr std::int64_t kMinKey = -400'000'000;
inline constexpr std::int64_t kMaxKey = 400'000'000;

class Histogram {
 public:
  Histogram() = default;
  Histogram(Histogram&&) = default;
  Histogram& operator=(Histogram&&) = default;

  // Counts `count` more values at `key`, which must lie in [kMinKey, kMaxKey].
  void add(std::int64_t key, std::uint64_t count = 1) {
    std::uint32_t& slot = *counter(key);
    if (count == 1) {
      if (++slot == 0) carry_[key] += std::uint64_t{1} << 32;
    } else {
      const std::uint64_t sum = slot + count;
      slot = static_cast<std::uint32_t>(sum);
      if (sum >> 32) carry_[key] += sum & ~std::uint64_t{0xffffffff};
    }
    total_ += count;
  }

  // The counter of `key` (in [kMinKey, kMaxKey]), its page allocated on
  // first use; with bump() it splits add() so that a caller can prefetch the
  // counter and count it a few values later.
  std::uint32_t* counter(std::int64_t key) {
    const std::uint64_t index = static_cast<std::uint64_t>(key - kMinKey);
    const std::uint64_t page = index >> kPageBits;
    const Block* block = (page >> kBlockBits) < blocks_.size()
                             ? blocks_[page >> kBlockBits].get()
                             : nullptr;
    std::uint32_t* counters =
        block == nullptr ? nullptr : block->pages[page & (kBlockSize - 1)];
    if (counters == nullptr) counters = allocate(page);
    return counters + (index & (kPageSize - 1));
  }
  // Counts one value at `key` through its counter().
  void bump(std::uint32_t* counter, std::int64_t key) {
    if (++*counter == 0) carry_[key] += std::uint64_t{1} << 32;
    ++total_;
  }

  // Counts one value at each of `keys` that lies in [kMinKey, kMaxKey] and
  // skips the others: a batch of values finds all its counters before it
  // counts the first, so that their misses overlap.
  void add_each(std::span<const std::int64_t> keys);

  // Adds every count of `other`.
  void merge(const Histogram& other);

  std::uint64_t total() const { return total_; }

  // The (key, count) pairs with a count above zero, keys ascending.
  std::vector<std::pair<std::int64_t, std::uint64_t>> bins() const;

  // Calls f(key, count) for every bin with a count above zero, keys
  // ascending; stops early when f returns false.
  template <typename F>
  void visit(F f) const;

  // Memory held by the counters, in bytes.
  std::uint64_t bytes() const;

 private:
  static constexpr int kPageBits = 12;
  static constexpr std::uint64_t kPageSize = std::uint64_t{1} << kPageBits;
  static constexpr int kBlockBits = 9;
  static constexpr std::uint64_t kBlockSize = std::uint64_t{1} << kBlockBits;
  // A block's counters, kBlockSize pages, reserved at once and zeroed by
  // the kernel as they are first touched; `pages` marks the touched ones.
  struct Block {
    Block();
    ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    std::uint32_t* counters;
    std::uint32_t* pages[kBlockSize] = {};
  };
  // Allocates page `page` (and its block, and the table of blocks, when
  // there are none yet), zeroed.
  std::uint32_t* allocate(std::uint64_t page);

  // Empty until the first value; then a block for every 2^21 keys.
  std::vector<std::unique_ptr<Block>> blocks_;
  std::map<std::int64_t, std::uint64_t> carry_;
  std::uint64_t total_ = 0;
};

// Counts values into histograms kDepth values late, prefetching each
// counter as its value arrives: values spread over megabytes of counters
// would otherwise each wait for memory. The counts are those of add() once
// flush() has run.
class PipelinedCounts {
 public:
  // Counts one value at `key` (in [kMinKey, kMaxKey]) into `histogram`.
  void add(Histogram& histogram, std::int64_t key) {
    std::uint32_t* counter = histogram.counter(key);
    __builtin_prefetch(counter, 1);
    Pending& slot = pending_[next_];
    next_ = (next_ + 1) % kDepth;
    if (size_ == kDepth) {
      slot.histogram->bump(slot.counter, slot.key);
    } else {
      ++size_;
    }
    slot = {&histogram, counter, key};
  }

  // Counts every value still pending.
  void flush() {
    for (unsigned i = 0; i < size_; ++i) {
      pending_[i].histogram->bump(pending_[i].counter, pending_[i].key);
    }
    size_ = next_ = 0;
  }

 private:
  static constexpr unsigned kDepth = 16;
  struct Pending {
    Histogram* histogram;
    std::uint32_t* counter;
    std::int64_t key;
  };
  Pending pending_[kDepth];
  unsigned size_ = 0, next_ = 0;
};

// Counts values into a histogram through one-byte counters for the keys
// just below 0, where nearly all of a run's log10 p-values lie when few
// pairs have an effect: the 2^kNearBits keys above -2^kNearBits (p above
// 0.008 for 21 bits, 99 values in 100 under no effect) take two megabytes.
// Counted as they come, nearly every value would miss the caches; instead
// each waits in the queue of its region of 2^kRegionBits counters until
// kQueue have come, and a region's queue is counted at once, sixteen values
// to each of the region's cache lines. A byte that wraps carries 256 into the
// histogram. The counts are those of Histogram::add once flush() has run.
class NearZeroCounts {
 public:
  // Counts `count` values at each of `keys` that lies in [kMinKey, kMaxKey]
  // into `histogram` and skips the others, as Histogram::add_each does one.
  // The histogram must be the same at every call until flush().
  void add_each(Histogram& histogram, std::span<const std::int64_t> keys,
                std::uint64_t count = 1);
  // Moves the counts held here into `histogram`.
  void flush(Histogram& histogram);

 private:
  static constexpr int kNearBits = 21;
  static constexpr std::int64_t kNear = std::int64_t{1} << kNearBits;
  static constexpr int kRegionBits = 13;
  static constexpr std::size_t kRegions = std::size_t{1}
                                          << (kNearBits - kRegionBits);
  static constexpr std::size_t kQueue = 2048;  // values a region waits for
  // add_each for a count above 1, straight into the counters: a queue's
  // entry is one value.
  void add_weighted(Histogram& histogram, std::span<const std::int64_t> keys,
                    std::uint64_t count);
  // Counts region `region`'s queue and empties it.
  void count_region(Histogram& histogram, std::size_t region);

  std::unique_ptr<std::uint8_t[]> counts_;  // of key -i at i
  // Region r's queue at r * kQueue: the keys' offsets in the region.
  std::unique_ptr<std::uint16_t[]> queue_;
  std::unique_ptr<std::uint16_t[]> queued_;  // per region: its queue's size
  std::vector<std::int64_t> far_;            // scratch: the other keys
};

template <typename F>
void Histogram::visit(F f) const {
  // Every carried key lies in an allocated page and the pages are visited
  // in key order, so the carries are met in order too; a counter that
  // wrapped to exactly 0 still has its carry.
  // No key of a page reaches the largest int64, which marks "no more".
  constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
  auto carry = carry_.begin();
  std::int64_t next_carry = carry == carry_.end() ? kNone : carry->first;
  for (std::uint64_t p = 0; p < blocks_.size() * kBlockSize; ++p) {
    const Block* block = blocks_[p >> kBlockBits].get();
    if (block == nullptr) {
      p |= kBlockSize - 1;  // on to the next block
      continue;
    }
    const std::uint32_t* page = block->pages[p & (kBlockSize - 1)];
    if (page == nullptr) continue;
    const std::int64_t base =
        kMinKey + static_cast<std::int64_t>(p * kPageSize);
    for (std::uint64_t i = 0; i < kPageSize; ++i) {
      const std::int64_t key = base + static_cast<std::int64_t>(i);
      if (page[i] == 0 && key != next_carry) continue;
      std::uint64_t count = page[i];
      if (key == next_carry) {
        count += carry->second;
        ++carry;
        next_carry = carry == carry_.end() ? kNone : carry->first;
      }
      if (!f(key, count)) return;
    }
  }
}

}  // namespace zirk_report

#endif  // ZIRK_REPORT_HISTOGRAM_H_
