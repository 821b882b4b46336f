#include "engine_cross.h"

#include <cstring>

namespace engine_detail {

namespace {

using Vec4 = double __attribute__((vector_size(32)));
constexpr std::size_t kVectors = kBlock / 4;

// For the pairs (g1, b + l), l < kBlock, sums left[i] * block[i * kBlock + l]
// over the `rows` rows, in row order and starting from 0.0, each lane on its
// own: out[l] is then bit-identical to the running sum of the straightforward
// loop. No multiply-add is fused. `left` holds gene g1's values and `block`
// the block's, both packed so that the loop reads memory in order.
__attribute__((target_clones("avx2", "default"))) void cross_sums(
    const double* left, const double* block, std::size_t rows, double* out) {
  Vec4 sums[kVectors] = {};
  for (std::size_t i = 0; i < rows; ++i) {
    const Vec4 broadcast = {left[i], left[i], left[i], left[i]};
#pragma GCC unroll 8
    for (std::size_t v = 0; v < kVectors; ++v) {
      Vec4 right;
      std::memcpy(&right, block + i * kBlock + 4 * v, sizeof right);
      sums[v] += broadcast * right;
    }
  }
  std::memcpy(out, sums, sizeof sums);
}

}  // namespace

// Sums the cross-products of the pairs (g1, g2), g1 in [firstGene,
// endGene), g2 > g1. Blocks of kBlock second genes are taken in the outer
// loop so that a block's rows stay in cache while every first gene of the
// chunk is paired with it.
void sum_chunk(const RunData& data, const SnpSummary& snp,
               const WholeSampleCache& cache, std::size_t firstGene,
               std::size_t endGene, ChunkSums& out) {
  const std::size_t n = data.individuals;
  out.reset(firstGene, endGene, data.stride);
  // The chunk's first genes as columns: by individual for the whole sample,
  // then in class order.
  std::vector<double>& left = out.left();
  left.resize((endGene - firstGene) * 2 * n);
  for (std::size_t g1 = firstGene; g1 < endGene; ++g1) {
    double* column = &left[(g1 - firstGene) * 2 * n];
    const std::size_t at = data.block_index(g1);
    for (std::size_t i = 0; i < n; ++i) {
      column[i] = data.byBlock[at + i * kBlock];
      column[n + i] = snp.byClass[at + i * kBlock];
    }
  }
  for (std::size_t b = out.base(); b < data.genes; b += kBlock) {
    const std::size_t at = data.block_index(b);
    for (std::size_t g1 = firstGene; g1 < endGene && g1 + 1 < b + kBlock;
         ++g1) {
      const double* column = &left[(g1 - firstGene) * 2 * n];
      if (!cache.ready()) {
        cross_sums(column, &data.byBlock[at], n, out.at(g1, 0, b));
      }
      std::size_t begin = 0;
      for (std::size_t k = 0; k < 3; ++k) {
        cross_sums(column + n + begin, &snp.byClass[at + begin * kBlock],
                   snp.classEnd[k] - begin, out.at(g1, 1 + k, b));
        begin = snp.classEnd[k];
      }
    }
  }
}

}  // namespace engine_detail
