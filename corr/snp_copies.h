// SNPs in complete linkage disequilibrium within one run. Two SNPs at which
// every individual falls into the same genotype class have the same class
// ranks, so every pair's correlations, tests and printed columns are the
// same at both; only the SNP index differs. A summary without rows needs
// such a group's pairs computed once and counted once for each of its SNPs,
// which spares the work of about two SNPs in five on the example chr22.
//
// SNPs are the same only when their classes are (a SNP whose classes 0 and
// 2 are swapped has the trend's sign and the columns of its classes
// reversed, and is a group of its own).
#ifndef ZIRK_CORR_SNP_COPIES_H_
#define ZIRK_CORR_SNP_COPIES_H_

#include <cstddef>
#include <span>
#include <vector>

#include "common.h"

namespace zirk_corr {

// For each SNP s of `gmat` (columns 2 s and 2 s + 1, reference allele
// reference[s], classed as zirk does): when no earlier SNP has the same
// class for every individual, the SNPs that do, s first and the rest
// increasing; otherwise nothing. Takes n bytes per SNP (n individuals) and
// one pass over the genotypes.
std::vector<std::vector<std::size_t>> snp_copies(
    const GenotypeMatrix& gmat, std::span<const char> reference);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_SNP_COPIES_H_
