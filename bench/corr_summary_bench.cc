// zirk-corr's summary of one SNP against its floor, side by side in one
// run: simulated values of GENES genes (default 1000) and n = 358
// individuals in classes of about a quarter, a half and a quarter, one
// thread. Each round times, back to back,
// - the floor: the three class Gram matrices X_k' X_k by OpenBLAS's dsyrk,
//   which carry all the information of every pair's scores;
// - the summary: the SNP's class ranks and every pair counted into a
//   correlation summary (panel_rows without rows), what zirk-corr --summary
//   does per SNP after reading its input.
// Prints the fastest and the median of ROUNDS rounds of each (short rounds:
// a shared virtual machine's slow spells move the fastest far less than
// whole runs), and the median of the rounds' ratios.
// Usage: corr_summary_bench [GENES] [ROUNDS]
#include <cblas.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "class_correlation.h"
#include "class_ranks.h"
#include "pair_rows.h"

namespace {

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t genes =
      argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  constexpr std::size_t kIndividuals = 358;
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  std::vector<double> values(genes * kIndividuals);
  for (double& v : values) v = normal(random);
  std::vector<std::uint8_t> cls(kIndividuals);
  std::discrete_distribution<int> genotype({1, 2, 1});
  for (std::uint8_t& c : cls) c = static_cast<std::uint8_t>(genotype(random));
  openblas_set_num_threads(1);

  const zirk_corr::GeneOrders orders(values, genes, kIndividuals);
  // The pairs' variance caps: once per run, timed on their own.
  auto capsStart = std::chrono::steady_clock::now();
  const zirk_corr::PairVariance variance(values, genes, kIndividuals, 1);
  const double capsSeconds = since(capsStart);
  zirk_corr::ClassRanks ranks;
  std::vector<std::uint32_t> position;
  zirk_corr::prepare_class_ranks(cls, genes, zirk_corr::kDefaultMinClassSize,
                                 ranks, position);
  zirk_corr::rank_genes(orders, cls, position, 0, genes, ranks);
  std::array<std::vector<double>, 3> gram;
  for (auto& g : gram) g.resize(genes * genes);

  zirk_corr::PairOutput output;
  output.rows = false;
  output.summary = true;
  zirk_corr::PanelWork work;
  // One summary for all the rounds, as for a run's SNPs: after the first
  // few, nearly every pair is turned away from the candidates on sight.
  work.summary.emplace(100000);
  std::vector<double> floor, summary, ratio;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < 3; ++k) {
      cblas_dsyrk(CblasColMajor, CblasLower, CblasTrans,
                  static_cast<int>(genes), ranks.n[k], 1.0, ranks.x[k].data(),
                  ranks.n[k], 0.0, gram[k].data(), static_cast<int>(genes));
    }
    floor.push_back(since(start));
    start = std::chrono::steady_clock::now();
    zirk_corr::prepare_class_ranks(cls, genes, zirk_corr::kDefaultMinClassSize,
                                   ranks, position);
    zirk_corr::rank_genes(orders, cls, position, 0, genes, ranks);
    for (std::size_t first = 0; first < genes;
         first += zirk_corr::kPanelGenes) {
      // Each round a SNP of its own, as in a run.
      const auto snp = static_cast<std::size_t>(round);
      zirk_corr::panel_rows(ranks, &variance, genes, snp, std::span(&snp, 1),
                            first,
                            std::min(genes, first + zirk_corr::kPanelGenes),
                            nullptr, output, work);
    }
    summary.push_back(since(start));
    ratio.push_back(summary.back() / floor.back());
  }
  // Once per run, as zirk-corr does before it writes the summary.
  zirk_corr::flush_counts(work);
  const double pairs = genes * (genes - 1) / 2.0;
  std::printf("genes %zu, n %zu (classes %d %d %d), %d rounds, one thread\n",
              genes, kIndividuals, ranks.n[0], ranks.n[1], ranks.n[2], rounds);
  std::printf(
      "floor (3 x dsyrk): %.4f s fastest, %.4f median (%.1f ns per pair)\n",
      *std::min_element(floor.begin(), floor.end()), median(floor),
      median(floor) / pairs * 1e9);
  std::printf(
      "summary per SNP:   %.4f s fastest, %.4f median (%.1f ns per pair)\n",
      *std::min_element(summary.begin(), summary.end()), median(summary),
      median(summary) / pairs * 1e9);
  std::printf("ratio summary / floor: median %.2f\n", median(ratio));
  std::printf("pair variance caps, once per run: %.4f s (%.1f ns per pair)\n",
              capsSeconds, capsSeconds / pairs * 1e9);
}
