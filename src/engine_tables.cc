#include "engine_tables.h"

#include "driver.h"
#include "pairdata.h"
#include "screen.h"

namespace engine_detail {

void class_individuals(const GenotypeMatrix& gmat, std::size_t s, char R,
                       std::vector<std::uint8_t>& cls) {
  const std::size_t c = 2 * s;
  for (std::size_t i = 0; i < cls.size(); ++i) {
    cls[i] = static_cast<std::uint8_t>(
        genotype_class(gmat(i, c), gmat(i, c + 1), R));
  }
}

void summarise_snp(const RunData& data, SnpSummary& snp) {
  // Class sizes and row ranges come first; when an empty class settles
  // every pair, the sums are not needed.
  const std::size_t n = data.individuals;
  const std::size_t genes = data.genes;
  const std::size_t stride = data.stride;
  std::size_t count[3] = {0, 0, 0};
  for (std::uint8_t k : snp.cls) ++count[k];
  // Class sizes as the accumulation pass forms them: classes 0 and 1 counted
  // in steps of 1.0, class 2 as the remainder.
  snp.nvec[0] = static_cast<double>(count[0]);
  snp.nvec[1] = static_cast<double>(count[1]);
  snp.nvec[2] = (data.total - snp.nvec[0]) - snp.nvec[1];
  snp.classEnd[0] = count[0];
  snp.classEnd[1] = count[0] + count[1];
  snp.classEnd[2] = n;
  snp.everyPairPruned =
      (snp.nvec[0] == 0 || snp.nvec[1] == 0 || snp.nvec[2] == 0) &&
      !(data.threshold > 1.0);
  if (snp.everyPairPruned) return;

  std::size_t order[3] = {0, snp.classEnd[0], snp.classEnd[1]};
  std::vector<std::size_t>& source = snp.source;
  for (std::size_t i = 0; i < n; ++i) source[order[snp.cls[i]]++] = i;
  // Block by block, on every thread: the class-ordered copy of the block's
  // rows, then each gene's class sums, in row order, and moments.
  const std::ptrdiff_t blocks = static_cast<std::ptrdiff_t>(stride / kBlock);
#pragma omp parallel for schedule(static)
  for (std::ptrdiff_t block = 0; block < blocks; ++block) {
    const std::size_t b = static_cast<std::size_t>(block) * kBlock;
    const double* from = &data.byBlock[data.block_index(b)];
    double* to = &snp.byClass[data.block_index(b)];
    for (std::size_t row = 0; row < n; ++row) {
      std::memcpy(to + row * kBlock, from + source[row] * kBlock,
                  kBlock * sizeof(double));
    }
    if (b >= genes) continue;  // the padding block
    const std::size_t width = std::min(kBlock, genes - b);
    std::size_t begin = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      double* sum = &snp.sum[k * genes + b];
      double* squares = &snp.sumSquares[k * genes + b];
      std::fill(sum, sum + width, 0.0);
      std::fill(squares, squares + width, 0.0);
      for (std::size_t row = begin; row < snp.classEnd[k]; ++row) {
        const double* x = to + row * kBlock;
        for (std::size_t l = 0; l < width; ++l) {
          sum[l] += x[l];
          squares[l] += x[l] * x[l];
        }
      }
      const double c = snp.nvec[k];
      double* mean = &snp.mean[k * genes + b];
      double* variance = &snp.variance[k * genes + b];
      for (std::size_t l = 0; l < width; ++l) {
        mean[l] = sum[l] / c;
        variance[l] = squares[l] / c - mean[l] * mean[l];
      }
      begin = snp.classEnd[k];
    }
  }
}

RunData prepare_run(const RealMatrix& emat, const RealMatrix& mommat,
                    double threshold) {
  RunData data;
  data.individuals = static_cast<std::size_t>(n);
  data.genes = static_cast<std::size_t>(ngene);
  data.stride = (data.genes + kBlock - 1) / kBlock * kBlock + kBlock;
  data.byBlock.assign(data.individuals * data.stride, 0.0);
  data.byGene.resize(data.individuals * data.genes);
  for (std::size_t g = 0; g < data.genes; ++g) {
    for (std::size_t i = 0; i < data.individuals; ++i) {
      const double x = std::log10(emat(i, g));
      data.byBlock[data.block_index(g) + i * kBlock] = x;
      data.byGene[g * data.individuals + i] = x;
    }
  }
  data.mean.resize(data.genes);
  data.variance.resize(data.genes);
  for (std::size_t g = 0; g < data.genes; ++g) {
    data.mean[g] = mommat(g, 0);
    data.variance[g] = mommat(g, 1) - mommat(g, 0) * mommat(g, 0);
  }
  data.total = static_cast<double>(static_cast<unsigned>(n));
  data.threshold = threshold;
  data.judge = McJudge(threshold);
  data.ldaBound = lda_bound();
  return data;
}

}  // namespace engine_detail
