#include "hit_diagnosis.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "single_gene_tests.h"

namespace zirk_report {

Diagnosis diagnose(const DataValues& data, std::uint64_t snp,
                   std::uint32_t gene1, std::uint32_t gene2) {
  const std::vector<int>& cls = data.classes(snp);
  const std::vector<double>& a = data.log_values(gene1);
  const std::vector<double>& b = data.log_values(gene2);
  Diagnosis d;
  d.pair = zirk_corr::class_correlation(a, b, cls);
  d.mean[0] = anova_log10_p(a, cls);
  d.mean[1] = anova_log10_p(b, cls);
  d.variance[0] = brown_forsythe_log10_p(a, cls);
  d.variance[1] = brown_forsythe_log10_p(b, cls);
  return d;
}

namespace {

// A log10 p-value as it reads once printed with six decimals, so that the
// verdict agrees with the columns beside it.
double printed(double v) {
  if (std::isinf(v)) return v;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return std::strtod(buf, nullptr);
}

}  // namespace

std::string single_gene_stronger(const Diagnosis& d, double pair_log10_p) {
  const double tests[4] = {d.mean[0], d.variance[0], d.mean[1], d.variance[1]};
  const char* names[4] = {"gene1 mean", "gene1 variance", "gene2 mean",
                          "gene2 variance"};
  int best = -1;
  for (int t = 0; t < 4; ++t) {
    if (std::isnan(tests[t])) continue;
    if (best < 0 || printed(tests[t]) < printed(tests[best])) best = t;
  }
  if (best < 0) return "NA";
  return printed(tests[best]) < printed(pair_log10_p)
             ? std::string("yes (") + names[best] + ")"
             : "no";
}

}  // namespace zirk_report
