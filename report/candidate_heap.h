// The candidate hit rows of a family: at most a fixed number of rows, the
// smallest in the family's hit order, kept in a max-heap so that a row
// better than the worst kept one replaces it in logarithmic time. The IT
// summary and the correlation summaries keep theirs this way.
#ifndef ZIRK_REPORT_CANDIDATE_HEAP_H_
#define ZIRK_REPORT_CANDIDATE_HEAP_H_

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace zirk_report {

// Offers `row` to the max-heap `heap` (in `order`) of at most `max` rows:
// kept while there is room, or in place of the worst kept row when it comes
// before that one. `dropped` is called with every row that is not kept, the
// offered one or the one it replaced.
template <typename Row, typename Order, typename Dropped>
void offer_candidate(std::vector<Row>& heap, std::uint64_t max, Row&& row,
                     Order order, Dropped dropped) {
  if (max == 0) {
    dropped(row);
    return;
  }
  if (heap.size() < max) {
    heap.push_back(std::move(row));
    std::push_heap(heap.begin(), heap.end(), order);
    return;
  }
  if (!order(row, heap.front())) {
    dropped(row);
    return;
  }
  std::pop_heap(heap.begin(), heap.end(), order);
  dropped(heap.back());
  heap.back() = std::move(row);
  std::push_heap(heap.begin(), heap.end(), order);
}

// The rows of `heap` in `order`.
template <typename Row, typename Order>
std::vector<Row> sorted_candidates(const std::vector<Row>& heap, Order order) {
  std::vector<Row> rows = heap;
  std::sort(rows.begin(), rows.end(), order);
  return rows;
}

}  // namespace zirk_report

#endif  // ZIRK_REPORT_CANDIDATE_HEAP_H_
