// Pair data assembly: what every test sees of one SNP and one gene pair, and
// the per-gene moments that are computed once per run.
//
// `xmat` holds the two genes' base-10 log expression values per individual
// (column 0 gene g1, column 1 gene g2). `ymat` holds each individual's
// genotype class at the SNP as two 0/1 indicators against the reference
// allele R: (1, 0) for two copies of R, (0, 1) for one, (0, 0) for none.
// Alleles are compared with R exactly, so case matters.
#ifndef ZIRK_PAIRDATA_H_
#define ZIRK_PAIRDATA_H_

#include <cmath>
#include <cstddef>

#include "common.h"

// Overwrites every cell of `xmat` and `ymat` (both n x 2, created by the
// caller) for SNP s (gmat columns 2s and 2s+1) and genes g1, g2 (emat
// columns). A space in R stands for a missing reference allele and is
// replaced by individual 0's first allele at the SNP; with no individuals
// nothing is read or written. Values without a logarithm pass through as
// -inf or NaN.
// The genotype class of alleles a1, a2 against the reference allele R,
// compared exactly (case matters): 0 when both equal R, 1 when exactly one
// does, 2 when neither does.
inline unsigned genotype_class(char a1, char a2, char R) {
  const bool first = a1 == R;
  const bool second = a2 == R;
  if (first && second) return 0;
  return first != second ? 1 : 2;
}

template <class Real, class Count, class Genotype, class Index, class Char>
void getxmatymat_new(Real& xmat, Count& ymat, Real& emat, Genotype& gmat,
                     Index& s, Index& g1, Index& g2, Char& R) {
  using Indicator = typename Count::value_type;
  const std::size_t rows = static_cast<std::size_t>(n);
  if (rows == 0) return;
  const std::size_t c = 2 * static_cast<std::size_t>(s);
  if (R == ' ') R = gmat(0, c);
  for (std::size_t i = 0; i < rows; ++i) {
    const unsigned cls = genotype_class(gmat(i, c), gmat(i, c + 1), R);
    ymat(i, 0) = Indicator(cls == 0 ? 1 : 0);
    ymat(i, 1) = Indicator(cls == 1 ? 1 : 0);
    xmat(i, 0) = std::log10(emat(i, g1));
    xmat(i, 1) = std::log10(emat(i, g2));
  }
}

// Adds to `mommat` (ngene x 2, created by the caller all zero) the mean over
// the n individuals of each gene's log10 value (column 0) and of its square
// (column 1). Each term is divided by n before it is added, in individual
// order, so the results are reproducible to the bit. A zero value gives
// -inf and +inf, a negative one NaN; nothing is checked.
template <class Real>
void get_mommat(Real& emat, Real& mommat) {
  const double N = static_cast<double>(n);
  const std::size_t rows = static_cast<std::size_t>(n);
  const std::size_t genes = static_cast<std::size_t>(ngene);
  for (std::size_t g = 0; g < genes; ++g) {
    for (std::size_t i = 0; i < rows; ++i) {
      const double l = std::log10(emat(i, g));
      mommat(g, 0) = mommat(g, 0) + l / N;
      mommat(g, 1) = mommat(g, 1) + (l * l) / N;
    }
  }
}

#endif  // ZIRK_PAIRDATA_H_
