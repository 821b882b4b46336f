// The cross-product sums of the production engine: for every gene pair of a
// chunk, the sums of the two genes' log-value products over the whole sample
// and over each genotype class, many pairs side by side in SIMD lanes, each
// lane summing in the individual order of the straightforward loop so that
// every sum is bit-identical to it.
#ifndef ZIRK_ENGINE_CROSS_H_
#define ZIRK_ENGINE_CROSS_H_

#include <cstddef>
#include <vector>

#include "engine_tables.h"

namespace engine_detail {

// The four cross-product sums (whole sample, classes 0, 1, 2) of every pair
// of a chunk. Only the second genes from the chunk's first block on are
// held, so the tail chunks, which span many first genes with few pairs
// each, stay small.
class ChunkSums {
 public:
  void reset(std::size_t firstGene, std::size_t endGene, std::size_t stride) {
    firstGene_ = firstGene;
    base_ = (firstGene + 1) / kBlock * kBlock;
    width_ = stride - base_;
    sums_.resize((endGene - firstGene) * 4 * width_);
  }
  std::size_t base() const { return base_; }
  // Scratch for the first genes' columns.
  std::vector<double>& left() { return left_; }
  // The sum `part` of the pair (g1, g2), g2 >= base(); kBlock values from
  // there on belong to the following second genes.
  double* at(std::size_t g1, std::size_t part, std::size_t g2) {
    return &sums_[((g1 - firstGene_) * 4 + part) * width_ + (g2 - base_)];
  }

 private:
  std::size_t firstGene_ = 0;
  std::size_t base_ = 0;
  std::size_t width_ = 0;
  std::vector<double> sums_;
  std::vector<double> left_;
};

// Sums the cross-products of the pairs (g1, g2), g1 in [firstGene,
// endGene), g2 > g1, into `out`; the whole-sample sums only while `cache`
// does not hold the whole-sample terms yet.
void sum_chunk(const RunData& data, const SnpSummary& snp,
               const WholeSampleCache& cache, std::size_t firstGene,
               std::size_t endGene, ChunkSums& out);

}  // namespace engine_detail

#endif  // ZIRK_ENGINE_CROSS_H_
