// The diagnosis of a hit: does the SNP change how the two genes are
// co-expressed, or does it act on one gene alone? For the pair, the
// within-class rank correlations r0, r1, r2 with the trend and het tests
// (zirk-corr's statistics); for each gene alone, the SNP's effect on its
// mean (ANOVA) and on its variance (Brown-Forsythe). A single gene's own
// effect can make any pair score small: a variance QTL of one gene changes
// the IT of all its pairs, and no permutation of individuals catches it.
#ifndef ZIRK_REPORT_HIT_DIAGNOSIS_H_
#define ZIRK_REPORT_HIT_DIAGNOSIS_H_

#include <cstdint>
#include <string>

#include "class_correlation.h"
#include "data_values.h"

namespace zirk_report {

struct Diagnosis {
  zirk_corr::ClassCorrelation pair;
  // log10 p of the SNP's effect on the mean and on the variance of gene1
  // ([0]) and gene2 ([1]); NaN where undefined.
  double mean[2], variance[2];
};

// The diagnosis of the pair (gene1, gene2) at `snp` from the data folder's
// values, which must hold that SNP and both genes.
Diagnosis diagnose(const DataValues& data, std::uint64_t snp,
                   std::uint32_t gene1, std::uint32_t gene2);

// Whether a single gene's own effect is stronger than the pair's: the
// smallest of the four single-gene p-values, as printed (six decimals of
// log10), strictly below the pair's p-value `pair_log10_p` of the family
// that made the hit. "yes (gene1 mean)", "yes (gene2 variance)" and so on
// naming the smallest (the first in the order gene1 mean, gene1 variance,
// gene2 mean, gene2 variance on ties), "no", or "NA" when no single-gene
// p-value is defined.
std::string single_gene_stronger(const Diagnosis& d, double pair_log10_p);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_HIT_DIAGNOSIS_H_
