// One zirk-corr run: the inputs read with zirk's own readers, the rows of
// every SNP and gene pair written in zirk's order.
//
// Genotype classes and values are exactly zirk's: class 0 two copies of the
// reference allele, 1 one copy, 2 neither (any other allele counts as not the
// reference); values are the base-10 logarithms of the expression values,
// so a zero is -inf (the lowest rank) and a negative value NaN, which makes
// every class holding it unusable for that gene.
//
// Work per SNP: the class ranks of the genes (split over the threads), then
// panels of kPanelGenes first genes handed to the threads in order, each
// computing its Gram blocks with single-threaded BLAS and formatting its
// rows; the panels are written in order, so the output is the same for any
// thread count. The output goes to a temporary file beside the target,
// renamed when complete; a failure or a signal removes it. A summary
// without rows is the same for any order of the pairs, so there the threads
// take whole SNPs instead, each with its own class ranks, and none waits
// for another's panels at every SNP. A summary of all pairs without rows
// computes each group of SNPs with the same classes once and counts its
// pairs for each of them (snp_copies.h); the summary is the same byte for
// byte.
//
// With strata (--strata, or the data folder's strata.txt) each stratum's
// genes are sorted on their own, every SNP gets class ranks per stratum,
// and each panel one Gram block per (stratum, class) cell
// (stratified_tests.h has the tests).
//
// Peak memory, n individuals, G genes, P SNPs, T threads: about 20 n G
// bytes (each gene's values in sorted order and that order, 12 n G; the
// class ranks, 8 n G, per thread for a summary without rows), 2 n P for
// the genotypes (3 n P for a summary without rows), and per thread about
// 7 KiB G (the panel's Gram blocks, 24 kPanelGenes G, and its rows), S
// times that with S strata; while the expression file is read, 16 n G
// more, and with strata 8 n_s G (n_s: the largest stratum) while their
// genes are sorted.
#ifndef ZIRK_CORR_RUN_H_
#define ZIRK_CORR_RUN_H_

#include <csignal>
#include <cstdio>

#include "options.h"

namespace zirk_corr {

// Runs with `options`, showing progress on `progress` when it is a terminal
// (may be null). Throws CorrError on failure, or when `stop` becomes
// non-zero, after removing the unfinished output; the readers' own format
// errors end the process through zirk's error(), before any output exists.
void run(const Options& options, std::FILE* progress,
         const volatile std::sig_atomic_t& stop);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_RUN_H_
