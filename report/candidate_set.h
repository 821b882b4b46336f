// The candidate hit rows of a family: of all the rows offered, the `max`
// first in the family's hit order. Rows go into a buffer of up to twice that
// many, which is cut back to the best `max` (std::nth_element) whenever it
// fills; after a cut, a row that does not come before the worst kept one
// can never be among the best and is turned away at once. Each row costs
// amortised constant time, where a heap of 100,000 rows took a sift through
// memory far larger than the caches for every row it kept. The IT summary
// and the correlation summaries keep theirs this way.
//
// The hit order must be a strict total order, so that the rows kept do not
// depend on the order in which they were offered.
#ifndef ZIRK_REPORT_CANDIDATE_SET_H_
#define ZIRK_REPORT_CANDIDATE_SET_H_

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace zirk_report {

// `Order` compares two rows in hit order; `KeyOf` gives a row's value key,
// the first thing Order compares.
template <typename Row, typename Order, typename KeyOf>
class CandidateSet {
 public:
  explicit CandidateSet(std::uint64_t max) : max_(max) {}

  std::uint64_t max() const { return max_; }

  // Whether offer() would keep `row` now (only what Order compares is read).
  bool admits(const Row& row) const {
    return max_ > 0 && (!bounded_ || Order()(row, bound_));
  }

  // A key above which admits() is false whatever the rest of the row, for
  // callers that offer millions of rows to check first.
  std::int64_t admits_at_most() const {
    if (max_ == 0) return std::numeric_limits<std::int64_t>::min();
    return bounded_ ? KeyOf()(bound_)
                    : std::numeric_limits<std::int64_t>::max();
  }
  // Keeps `row` as a candidate when admits() says so; otherwise counts it
  // as dropped.
  void offer(Row&& row) {
    if (!admits(row)) {
      note_dropped(KeyOf()(row));
      return;
    }
    rows_.push_back(std::move(row));
    if (rows_.size() >= 2 * max_) cut();
  }

  // The smallest key of the rows offered but not kept (the largest key when
  // there were none): every row with a key strictly below it is kept.
  std::int64_t dropped_below() const {
    cut();
    return dropped_below_;
  }

  // The kept rows, at most max(), in no particular order.
  const std::vector<Row>& rows() const {
    cut();
    return rows_;
  }

  // Moves the kept rows out, for a merge into another set; leaves this one
  // empty.
  std::vector<Row> release() {
    cut();
    return std::exchange(rows_, {});
  }

  // The kept rows in hit order.
  std::vector<Row> sorted() const {
    std::vector<Row> sorted = rows();
    std::sort(sorted.begin(), sorted.end(), Order());
    return sorted;
  }

  // Applies `change` to every row; it must keep the rows' order among
  // themselves (as adding the same offset to every SNP does).
  template <typename Change>
  void change_all(Change change) {
    for (Row& row : rows_) change(row);
    if (bounded_) change(bound_);
  }

 private:
  void note_dropped(std::int64_t key) const {
    dropped_below_ = std::min(dropped_below_, key);
  }

  // Keeps the best max_ rows of the buffer. Logically const: the rows kept
  // and dropped stay what they were, only their storage changes.
  void cut() const {
    if (rows_.size() <= max_) return;
    const auto first_out = rows_.begin() + static_cast<std::ptrdiff_t>(max_);
    std::nth_element(rows_.begin(), first_out, rows_.end(), Order());
    // The first row left out has the smallest key of those left out.
    note_dropped(KeyOf()(*first_out));
    rows_.erase(first_out, rows_.end());
    bound_ = *std::max_element(rows_.begin(), rows_.end(), Order());
    bounded_ = max_ > 0;
  }

  std::uint64_t max_;
  mutable std::vector<Row> rows_;
  // After a cut, the worst kept row: no row at or after it can be kept.
  mutable Row bound_{};
  mutable bool bounded_ = false;
  mutable std::int64_t dropped_below_ =
      std::numeric_limits<std::int64_t>::max();
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_CANDIDATE_SET_H_
