// The per-pair work of the screen that no batching removes: four
// logarithms of determinants, the chi-squared(10) tail, the log10 of the
// p-value and the formatting of a row. Prints its cost per pair, the floor
// under the engine's pairs per second on data where almost every pair stops
// at the MC test; and the same with the engine's McJudge, which gives the
// printed log10 of the p-value from one logarithm.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mc_tail.h"
#include "row_format.h"

int main() {
  constexpr std::size_t kPairs = 2000000;
  // Null statistics follow chi-squared with 10 degrees of freedom.
  std::mt19937_64 random(1);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> spread(0.01, 2.0);
  std::vector<double> statistic(kPairs);
  std::vector<double> determinant(4 * kPairs);
  for (std::size_t k = 0; k < kPairs; ++k) {
    double s = 0.0;
    for (int d = 0; d < 10; ++d) s += normal(random) * normal(random);
    statistic[k] = s;
    for (int j = 0; j < 4; ++j) determinant[4 * k + j] = spread(random);
  }
  // Runs the per-pair work with `log10_pvalue`(s) for the printed value and
  // prints its cost.
  const auto measure = [&](const char* name, auto log10_pvalue) {
    std::string rows;
    rows.reserve(64 * 4096);
    char text[kMaxRowLength];
    double sink = 0.0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < kPairs; ++k) {
      const double* det = &determinant[4 * k];
      // The logarithms only feed the sink: the statistic is drawn above.
      sink += std::log(det[0]) + std::log(det[1]) + std::log(det[2]) +
              std::log(det[3]);
      rows.append(text,
                  format_result_row(text, 7, static_cast<unsigned>(k % 500),
                                    static_cast<unsigned>(k % 499 + 1), 0,
                                    log10_pvalue(statistic[k]), 0.0, 10.0));
      if (rows.size() > 60 * 4096) rows.clear();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    std::printf("%s: %.1f ns per pair, %.3g pairs per second (sink %g)\n", name,
                1e9 * seconds / kPairs, kPairs / seconds, sink);
  };
  measure("floor, exact p-value",
          [](double s) { return std::log10(s > 0 ? mc_upper_tail(s) : 1.0); });
  const McJudge judge(1e-4);
  measure("floor, judged p-value",
          [&](double s) { return judge.judge(s).log10Pvalue; });
}
