// zirk-corr's own work per row, without input and without the kernel's
// share of writing: the rows of one SNP (1000 genes, 358 individuals in
// classes of about a quarter, a half and a quarter) made panel by panel
// into memory, as one thread of the program makes them. Prints the fastest
// and the median of many short rounds in nanoseconds per row: on a shared
// virtual machine a whole program's time may vary by half from run to run,
// and the fastest of many short rounds is what a change of the code moves.
// Usage: panel_rows_bench [ROUNDS]
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

int main(int argc, char** argv) {
  constexpr std::size_t kGenes = 1000, kIndividuals = 358;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
  std::mt19937_64 random(7);
  std::normal_distribution<double> normal;
  std::vector<double> values(kGenes * kIndividuals);
  for (double& v : values) v = normal(random);
  std::vector<std::uint8_t> cls(kIndividuals);
  std::discrete_distribution<int> genotype({1, 2, 1});
  for (std::uint8_t& c : cls) c = static_cast<std::uint8_t>(genotype(random));

  const zirk_corr::GeneOrders orders(values, kGenes, kIndividuals);
  zirk_corr::ClassRanks ranks;
  std::vector<std::uint32_t> position;
  zirk_corr::prepare_class_ranks(cls, kGenes, zirk_corr::kDefaultMinClassSize,
                                 ranks, position);
  zirk_corr::rank_genes(orders, cls, position, 0, kGenes, ranks);
  const zirk_corr::PairVariance variance(values, kGenes, kIndividuals, 1);
  openblas_set_num_threads(1);

  zirk_corr::PanelWork work;
  std::vector<double> seconds;
  std::size_t bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t first = 0; first < kGenes;
         first += zirk_corr::kPanelGenes) {
      const std::size_t snp = 0;
      zirk_corr::panel_rows(ranks, &variance, kGenes, snp, std::span(&snp, 1),
                            first,
                            std::min(kGenes, first + zirk_corr::kPanelGenes),
                            nullptr, zirk_corr::PairOutput(), work);
      bytes += work.length;
    }
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(seconds.begin(), seconds.end());
  const double rows = kGenes * (kGenes - 1) / 2.0;
  std::printf(
      "panel_rows: %.1f ns per row fastest, %.1f median (%d rounds of %.0f "
      "rows, %.1f bytes per row)\n",
      seconds.front() / rows * 1e9, seconds[seconds.size() / 2] / rows * 1e9,
      rounds, rows, static_cast<double>(bytes) / rows);
}
