// Runs zirk_corr::class_correlation on the cases given on standard input,
// for the numpy/scipy oracle (corr_oracle.py), with the minimum class size
// of the first argument (the default without one). Each case is a count m,
// then m values of gene a, m of gene b and m classes; each answer a line of
// n0 n1 n2 r0 r1 r2 log10_p_trend log10_p_het at full precision.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "class_correlation.h"

int main(int argc, char** argv) {
  const int minClassSize =
      argc > 1 ? std::atoi(argv[1]) : zirk_corr::kDefaultMinClassSize;
  int m;
  while (std::scanf("%d", &m) == 1) {
    std::vector<double> a(m), b(m);
    std::vector<int> cls(m);
    for (double& v : a) std::scanf("%lf", &v);
    for (double& v : b) std::scanf("%lf", &v);
    for (int& v : cls) std::scanf("%d", &v);
    const zirk_corr::ClassCorrelation c =
        zirk_corr::class_correlation(a, b, cls, minClassSize);
    std::printf("%d %d %d %.17g %.17g %.17g %.17g %.17g\n", c.n[0], c.n[1],
                c.n[2], c.r[0], c.r[1], c.r[2], c.log10_p_trend, c.log10_p_het);
  }
  return 0;
}
