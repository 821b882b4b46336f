// fixed_model_bench: interaction tests per second of the general
// interaction_test and of fixed_interaction_test on the same random pairs.
//
// Usage: fixed_model_bench [individuals [pairs [seconds]]] (defaults 200, 500,
// 2, the processor seconds per version). Each pair holds log10 values drawn
// around 2 with spread 0.5 and genotype classes in Hardy-Weinberg proportions
// of a random allele frequency; every tenth pair has classes that depend on the
// two genes. Each version runs over the pairs again and again until the time is
// up; besides the overall rates it prints the median of the rounds' rates,
// which a burst of load on a shared machine moves less. The results of the two
// versions are compared to the bit, and the program exits with status 1 if any
// differs.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "common.h"
#include "fixed_model.h"
#include "scores.h"

namespace {

struct BenchPair {
  std::vector<double> x0;
  std::vector<double> x1;
  std::vector<std::uint8_t> cls;
  RealMatrix xmat;
  CountMatrix ymat;
};

std::vector<BenchPair> MakePairs(std::size_t individuals, std::size_t count) {
  std::mt19937_64 rng(20240611);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<BenchPair> pairs(count);
  for (std::size_t k = 0; k < count; ++k) {
    BenchPair& pair = pairs[k];
    const double q = 0.1 + 0.4 * uniform(rng);
    const bool signal = k % 10 == 0;
    pair.xmat.resize(individuals, 2, false);
    pair.ymat.resize(individuals, 2, false);
    for (std::size_t i = 0; i < individuals; ++i) {
      const double a = 2.0 + 0.5 * normal(rng);
      const double b = 2.0 + 0.5 * normal(rng);
      std::uint8_t c;
      if (signal) {
        const double e0 = std::exp(3.0 * (a - 2.0) * (b - 2.0));
        const double e1 = std::exp(1.5 * (a - 2.0));
        const double u = uniform(rng) * (e0 + e1 + 1.0);
        c = u < e0 ? 0 : (u < e0 + e1 ? 1 : 2);
      } else {
        const double u = uniform(rng);
        c = u < q * q ? 0 : (u < q * q + 2 * q * (1 - q) ? 1 : 2);
      }
      pair.x0.push_back(a);
      pair.x1.push_back(b);
      pair.cls.push_back(c);
      pair.xmat(i, 0) = a;
      pair.xmat(i, 1) = b;
      pair.ymat(i, 0) = c == 0;
      pair.ymat(i, 1) = c == 1;
    }
  }
  return pairs;
}

struct Speed {
  double perCpuSecond;
  double perWallSecond;
  double medianRound;
};

// Runs `one` over all pairs repeatedly for at least `seconds` of processor
// time and returns the tests per second of processor time (what one core
// does, whatever else the machine runs), of wall time, and the median over
// the rounds of tests per second of processor time; `results` receives the
// p-values of the first round.
template <class F>
Speed Rate(std::vector<BenchPair>& pairs, double seconds,
           std::vector<double>& results, F one) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point wallStart = Clock::now();
  const std::clock_t cpuStart = std::clock();
  std::clock_t roundStart = cpuStart;
  std::vector<double> rounds;
  std::size_t tests = 0;
  double cpu = 0.0;
  results.clear();
  do {
    for (BenchPair& pair : pairs) {
      const double p = one(pair);
      if (results.size() < pairs.size()) results.push_back(p);
      ++tests;
    }
    const std::clock_t now = std::clock();
    if (now > roundStart) {
      rounds.push_back(static_cast<double>(pairs.size()) * CLOCKS_PER_SEC /
                       static_cast<double>(now - roundStart));
    }
    roundStart = now;
    cpu = static_cast<double>(now - cpuStart) / CLOCKS_PER_SEC;
  } while (cpu < seconds);
  const double wall =
      std::chrono::duration<double>(Clock::now() - wallStart).count();
  std::sort(rounds.begin(), rounds.end());
  const double median = rounds.empty() ? 0.0 : rounds[rounds.size() / 2];
  return {static_cast<double>(tests) / cpu, static_cast<double>(tests) / wall,
          median};
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t individuals =
      argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  const std::size_t count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 500;
  const double seconds = argc > 3 ? std::strtod(argv[3], nullptr) : 2.0;
  std::vector<BenchPair> pairs = MakePairs(individuals, count);

  std::vector<double> generalResults;
  const Speed general = Rate(pairs, seconds, generalResults, [](BenchPair& p) {
    double llReduced = 0.0;
    double llFull = 0.0;
    double statistic = 0.0;
    return interaction_test(p.xmat, p.ymat, llReduced, llFull, statistic);
  });
  FixedModelWorkspace work;
  std::vector<double> fixedResults;
  const Speed fixed = Rate(pairs, seconds, fixedResults, [&work](BenchPair& p) {
    const PairColumns columns{p.x0.data(), p.x1.data(), p.cls.data(),
                              p.cls.size()};
    return fixed_interaction_test(columns, work);
  });

  std::size_t differing = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (std::memcmp(&generalResults[k], &fixedResults[k], sizeof(double)) !=
        0) {
      ++differing;
    }
  }
  std::printf("individuals %zu, pairs %zu\n", individuals, count);
  std::printf(
      "tests per second of processor time (of wall time; median round)\n");
  std::printf("general interaction_test: %8.0f (%8.0f; %8.0f)\n",
              general.perCpuSecond, general.perWallSecond, general.medianRound);
  std::printf(
      "fixed_interaction_test:   %8.0f (%8.0f; %8.0f), %.1f times faster\n",
      fixed.perCpuSecond, fixed.perWallSecond, fixed.medianRound,
      fixed.perCpuSecond / general.perCpuSecond);
  std::printf("p-values differing: %zu\n", differing);
  return differing == 0 ? 0 : 1;
}
