#include "engine.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "allele_table.h"
#include "common.h"
#include "driver.h"
#include "engine_cross.h"
#include "engine_output.h"
#include "engine_tables.h"
#include "fixed_model.h"
#include "mc_tail.h"
#include "mc_tile.h"
#include "row_format.h"

namespace {

using namespace engine_detail;

// Pairs per unit of parallel work: at most kChunkPairs, so that a chunk of
// rows stays a few hundred KiB, and fewer when a SNP has few pairs, so that
// every thread gets kChunksPerThread chunks of each SNP and no thread waits
// long for the last one; but at least kMinChunkPairs, to keep the hand-over
// rare.
constexpr std::size_t kChunkPairs = 2048;
constexpr std::size_t kMinChunkPairs = 256;
constexpr std::size_t kChunksPerThread = 16;

// Screens the pairs (g1, g2) with g1 in [firstGene, endGene) and appends
// their rows to `rows`, in loop order.
void screen_chunk(const RunData& data, const SnpSummary& snp, std::size_t s,
                  std::size_t firstGene, std::size_t endGene,
                  WholeSampleCache& cache, FixedModelWorkspace& work,
                  ChunkSums& chunk, RowBuffer& rows, ChunkTotals& totals) {
  const std::size_t genes = data.genes;
  const std::size_t n = data.individuals;
  char prefix[kMaxRowPrefixLength];
  if (snp.everyPairPruned) {
    // Every p-value is the fixed 1.0, whose log10 is 0.
    for (std::size_t g1 = firstGene; g1 < endGene; ++g1) {
      const std::size_t prefixLength = static_cast<std::size_t>(
          format_row_prefix(prefix, static_cast<unsigned>(s),
                            static_cast<unsigned>(g1)) -
          prefix);
      for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
        rows.append(prefix, prefixLength);
        rows.extend(format_row_rest(rows.room(kMaxRowLength),
                                    static_cast<unsigned>(g2), 0, 0.0, 0.0,
                                    10.0));
        ++totals.pairs;
        ++totals.prunings;
      }
    }
    return;
  }
  sum_chunk(data, snp, cache, firstGene, endGene, chunk);
  McTileInput in;
  McTileOutput out;
  double wholeTerms[kMcLanes];
  for (std::size_t k = 0; k < 3; ++k) in.nvec[k] = snp.nvec[k];
  for (std::size_t g1 = firstGene; g1 < endGene; ++g1) {
    const std::size_t prefixLength = static_cast<std::size_t>(
        format_row_prefix(prefix, static_cast<unsigned>(s),
                          static_cast<unsigned>(g1)) -
        prefix);
    for (std::size_t k = 0; k < 3; ++k) {
      in.mean1[k] = snp.mean[k * genes + g1];
      in.variance1[k] = snp.variance[k * genes + g1];
    }
    // kMcLanes pairs at a time; the lanes past the last gene read padding
    // and are not used.
    for (std::size_t g2 = g1 + 1; g2 < genes; g2 += kMcLanes) {
      const std::size_t lanes = std::min(kMcLanes, genes - g2);
      for (std::size_t k = 0; k < 3; ++k) {
        in.classCross[k] = chunk.at(g1, 1 + k, g2);
        in.classSum[k] = &snp.sum[k * genes + g2];
        in.classVariance[k] = &snp.variance[k * genes + g2];
      }
      if (cache.ready()) {
        in.wholeTerm = &cache.at(g1, g2);
      } else {
        for (std::size_t l = 0; l < kMcLanes; ++l) {
          wholeTerms[l] = l < lanes
                              ? whole_sample_term(data, g1, g2 + l,
                                                  *chunk.at(g1, 0, g2 + l))
                              : 0.0;
          if (l < lanes && cache.enabled()) {
            cache.at(g1, g2 + l) = wholeTerms[l];
          }
        }
        in.wholeTerm = wholeTerms;
      }
      mc_tile(in, out);
      for (std::size_t l = 0; l < lanes; ++l) {
        McOutcome mc;
        if (!data.judge.settle(out.s[l], out.bound[l], out.logPvalue[l], mc)) {
          mc = data.judge.judge(mc_exact_statistic(in, out, l));
        }
        double lda = 0.0;
        double it = 10.0;
        int flag = 0;
        if (mc.belowThreshold) {
          const std::size_t g = g2 + l;
          // Row 3, the whole sample's, is not needed past the MC statistic.
          double covmat[4][3] = {};
          double summat[3][4];
          for (std::size_t k = 0; k < 3; ++k) {
            covmat[k][0] = in.variance1[k];
            covmat[k][1] = in.classVariance[k][l];
            covmat[k][2] = out.c2[k][l];
            summat[k][0] = snp.sum[k * genes + g1];
            summat[k][1] = snp.sum[k * genes + g];
            summat[k][2] = snp.sumSquares[k * genes + g1];
            summat[k][3] = snp.sumSquares[k * genes + g];
          }
          const PairColumns columns{&data.byGene[g1 * n], &data.byGene[g * n],
                                    snp.cls.data(), n};
          lda = fixed_llvalue_lda(columns, static_cast<std::int32_t>(n), summat,
                                  covmat, snp.nvec);
          if (data.ldaBound > lda) {
            it = fixed_interaction_test(columns, work);
            flag = 1;
          } else {
            flag = 2;
          }
        }
        if (flag != 1) ++totals.prunings;
        ++totals.pairs;
        rows.append(prefix, prefixLength);
        rows.extend(format_row_rest(rows.room(kMaxRowLength),
                                    static_cast<unsigned>(g2 + l), flag,
                                    mc.log10Pvalue, lda, it));
      }
    }
  }
}

// Splits the first genes of the pairs into runs of about the same number of
// pairs, sized as the constants above say for `threads` threads. The last
// 2 * threads runs' worth of pairs go in quarter-size runs, so that the
// threads finish a SNP at nearly the same time.
std::vector<std::size_t> chunk_bounds(std::size_t genes, std::size_t threads) {
  const std::size_t pairsPerSnp = genes < 2 ? 0 : genes * (genes - 1) / 2;
  const std::size_t target = std::clamp(
      pairsPerSnp / (kChunksPerThread * threads), kMinChunkPairs, kChunkPairs);
  const std::size_t tail = 2 * threads * target;
  std::vector<std::size_t> bounds{0};
  std::size_t pairs = 0;
  for (std::size_t g1 = 0; g1 + 1 < genes; ++g1) {
    // The pairs of first genes g1 on.
    const std::size_t left = (genes - g1) * (genes - g1 - 1) / 2;
    pairs += genes - 1 - g1;
    if (pairs >= (left <= tail ? target / 4 : target)) {
      bounds.push_back(g1 + 1);
      pairs = 0;
    }
  }
  if (genes > 0 && bounds.back() != genes) bounds.push_back(genes);
  return bounds;
}

int screen_with_engine(int argc, char** argv, std::size_t wholeCacheBytes) {
  RunSettings settings;
  GenotypeMatrix gmat;
  RunData data;
  // Held from the end of the prompt, before the first parallel region
  // starts the threads, which inherit it.
  std::optional<StopSignals> stops;
  {
    // The raw values are not needed once their logarithms are taken.
    RealMatrix emat;
    RealMatrix mommat;
    if (const int status = open_run(argc, argv, settings, gmat, emat, mommat);
        status >= 0) {
      return status;
    }
    stops.emplace();
    data = prepare_run(emat, mommat, settings.threshold);
  }

  const std::size_t snps = static_cast<std::size_t>(ps);
  const std::size_t genes = data.genes;
  const std::uint64_t pairsPerSnp =
      genes < 2 ? 0 : static_cast<std::uint64_t>(genes) * (genes - 1) / 2;
  const std::size_t threads = static_cast<std::size_t>(omp_get_max_threads());
  const std::vector<std::size_t> bounds = chunk_bounds(genes, threads);
  const std::size_t chunks = bounds.size() - 1;

  SnpSummary snp;
  snp.cls.resize(data.individuals);
  snp.byClass.resize(data.individuals * data.stride);
  snp.source.resize(data.individuals);
  // Padded so that class 2's last genes can be read kMcLanes at a time.
  snp.sum.resize(3 * genes + kMcLanes);
  snp.sumSquares.resize(3 * genes);
  snp.mean.resize(3 * genes);
  snp.variance.resize(3 * genes + kMcLanes);

  WholeSampleCache cache(genes, wholeCacheBytes);
  RowWriter writer(settings.outputFile.c_str(), *stops);
  Progress progress(snps, pairsPerSnp);
  OrderedRows output(writer, progress, 4 * threads);
  // The allele file is read once, when the straightforward loop would first
  // open it.
  std::unique_ptr<AlleleTable> alleles;
  for (std::size_t s = 0; s < snps; ++s) {
    if (!alleles) {
      alleles =
          std::make_unique<AlleleTable>(settings.alleleFile.c_str(), snps);
    }
    const char allele = alleles->lookup(s);
    if (pairsPerSnp == 0) continue;
    stops->deliver_pending();
    class_individuals(gmat, s, allele, snp.cls);
    summarise_snp(data, snp);
    output.start_snp(s);

#pragma omp parallel
    {
      FixedModelWorkspace work;
      ChunkSums sums;
      RowBuffer rows;
      // Dynamic scheduling hands the chunks out in increasing order, so the
      // oldest unwritten chunk always has a thread working on it.
#pragma omp for schedule(dynamic, 1)
      for (std::size_t c = 0; c < chunks; ++c) {
        output.wait_for_room(c);
        // An exception cannot leave a parallel region: a failed allocation
        // here ends the run as it would anywhere else.
        guard_allocation([&] {
          ChunkTotals totals;
          screen_chunk(data, snp, s, bounds[c], bounds[c + 1], cache, work,
                       sums, rows, totals);
          output.finish(c, rows, totals);
        });
      }
    }
    if (!snp.everyPairPruned) cache.mark_ready();
  }
  writer.close_file();
  progress.finish();
  stops->release();
  std::cout << "#pairs: " << output.run().pairs << std::endl;
  std::cout << "#prunings: " << output.run().prunings << std::endl;
  return 0;
}

}  // namespace

int run_engine(int argc, char** argv, std::size_t wholeCacheBytes) {
  return guard_allocation(
      [&] { return screen_with_engine(argc, argv, wholeCacheBytes); });
}

