// The production engine's tables: the run's log10 values laid out for the
// cross-product kernel, everything about the current SNP that does not
// depend on the gene pair, and the whole-sample terms kept across SNPs.
#ifndef ZIRK_ENGINE_TABLES_H_
#define ZIRK_ENGINE_TABLES_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common.h"
#include "mc_tail.h"
#include "mc_tile.h"

namespace engine_detail {

// Gene pairs whose cross-products one kernel call sums side by side.
constexpr std::size_t kBlock = 32;

// Everything about the current SNP that does not depend on the gene pair.
struct SnpSummary {
  std::vector<std::uint8_t> cls;  // genotype class per individual
  double nvec[3] = {0.0, 0.0, 0.0};
  std::size_t classEnd[3] = {0, 0, 0};  // row ranges of `byClass`
  // The log table (block-major, as RunData::byBlock) with its rows grouped
  // by class, each class's rows in individual order, so that a class's
  // cross-products are a sum over consecutive rows.
  std::vector<double> byClass;
  std::vector<std::size_t> source;  // the individual of each row of byClass
  // Per class k and gene g (index k * genes + g): the sum and the sum of
  // squares of the log values over the class, and the class variance.
  std::vector<double> sum;
  std::vector<double> sumSquares;
  std::vector<double> mean;
  std::vector<double> variance;
  // An empty class makes every pair's MC statistic NaN and its p-value the
  // fixed 1.0; unless the threshold exceeds 1, every pair is then pruned.
  bool everyPairPruned = false;
};

struct RunData {
  std::size_t individuals = 0;
  std::size_t genes = 0;
  std::size_t stride = 0;  // genes rounded up to whole blocks, plus one
  // log10 values, block-major: the kBlock genes of each block, individual by
  // individual (individual i, gene g at block_index(g) + i * kBlock), so that
  // a block's rows are consecutive. Padded with zeros.
  std::vector<double> byBlock;
  std::vector<double> byGene;    // log10 values, gene-major
  std::vector<double> mean;      // mommat(g,0)
  std::vector<double> variance;  // whole-sample variance of gene g
  double total = 0.0;            // n as a double
  double threshold = 0.0;
  McJudge judge{0.0};
  double ldaBound = 0.0;

  // Where individual 0's value of gene g is in a block-major table.
  std::size_t block_index(std::size_t g) const {
    return g / kBlock * individuals * kBlock + g % kBlock;
  }
};

// The whole-sample terms kept across SNPs (see kWholeCacheBytes): computed
// at the first SNP that needs them and read back at the others.
class WholeSampleCache {
 public:
  WholeSampleCache(std::size_t genes, std::size_t limitBytes) : genes_(genes) {
    const std::size_t pairs = genes < 2 ? 0 : genes * (genes - 1) / 2;
    // Padded so that the last pair's terms can be read kMcLanes at a time.
    if (pairs * sizeof(double) <= limitBytes) {
      sums_.resize(pairs + kMcLanes);
    }
  }
  bool enabled() const { return !sums_.empty(); }
  // True once every pair's sum is held.
  bool ready() const { return ready_; }
  void mark_ready() { ready_ = enabled(); }
  double& at(std::size_t g1, std::size_t g2) {
    return sums_[g1 * genes_ - g1 * (g1 + 1) / 2 + (g2 - g1 - 1)];
  }

 private:
  std::size_t genes_;
  std::vector<double> sums_;
  bool ready_ = false;
};

// The class of every individual at SNP s against the reference allele R.
void class_individuals(const GenotypeMatrix& gmat, std::size_t s, char R,
                       std::vector<std::uint8_t>& cls);

// Fills `snp` (sized for the run) from the classes in snp.cls: class sizes
// and row ranges, the log table grouped by class, and each gene's class
// sums, means and variances; sets everyPairPruned when a class is empty and
// the threshold cannot exceed the fixed p-value.
void summarise_snp(const RunData& data, SnpSummary& snp);

// The whole sample's term of a pair's MC statistic, n ln|S|, from the sum
// of the two genes' log products over all individuals. It is the same at
// every SNP.
inline double whole_sample_term(const RunData& data, std::size_t g1, std::size_t g2,
                         double wholeCross) {
  const double c32 = wholeCross / data.total - data.mean[g1] * data.mean[g2];
  return std::log(data.variance[g1] * data.variance[g2] - c32 * c32) *
         data.total;
}

// The run's tables from the expression matrix and its moments (mommat).
RunData prepare_run(const RealMatrix& emat, const RealMatrix& mommat,
                    double threshold);

}  // namespace engine_detail

#endif  // ZIRK_ENGINE_TABLES_H_
