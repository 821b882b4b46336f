// The output rows of zirk-corr: every gene pair of one SNP, a panel of first
// genes at a time, with the class correlations taken from the Gram matrices
// of the standardised class ranks (BLAS) instead of a loop over individuals.
//
// Row format (tab-separated, one line each):
//   snp gene1 gene2 n0 n1 n2 r0 r1 r2 log10_p_trend log10_p_het
// indices 0-based, gene1 < gene2; r_k "%.6f" or NA where class k is not
// usable for the pair; the log10 p-values "%.6f" (-inf where the p-value is
// 0) or NA with fewer than two usable classes.
#ifndef ZIRK_CORR_PAIR_ROWS_H_
#define ZIRK_CORR_PAIR_ROWS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "class_ranks.h"

namespace zirk_corr {

inline constexpr char kHeader[] =
    "snp\tgene1\tgene2\tn0\tn1\tn2\tr0\tr1\tr2\tlog10_p_trend\tlog10_p_het\n";

// First genes per panel. The panel's Gram blocks take 24 * kPanelGenes bytes
// per gene, and the split never depends on the thread count, so neither do
// the BLAS calls nor their rounding.
inline constexpr std::size_t kPanelGenes = 64;

// Scratch space of one thread, reused across panels.
struct PanelWork {
  std::array<std::vector<double>, 3> gram;
  // One first gene's pairs: each class's Fisher z, the trend's log10
  // p-value, het's, and which classes are usable.
  std::array<std::vector<double>, 3> z;
  std::vector<double> trend;
  std::vector<double> het;
  std::vector<std::uint8_t> mask;
  std::vector<std::uint8_t> classes;  // per gene: bit k if usable in class k
  // "g\t" of each gene g below kLabelledGenes at 8 * g, padded, and its
  // length: the second gene of a row is copied instead of converted.
  std::vector<char> labels;
  std::vector<std::uint8_t> labelLength;
  std::vector<char> text;  // the rows: the first `length` characters
  std::size_t length = 0;
};

// Formats the rows of SNP `snp` whose first gene lies in [first, last) (and
// second gene in (first gene, genes)), in order, into work.text and sets
// work.length. `ranks` holds the SNP's class ranks for `genes` genes.
// BLAS must run single-threaded in the calling thread.
void panel_rows(const ClassRanks& ranks, std::size_t genes, std::size_t snp,
                std::size_t first, std::size_t last, PanelWork& work);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_PAIR_ROWS_H_
