// One import: the VCF/BCF genotypes and the expression table of the same
// individuals turned into a ZIRK input folder (geno.txt, expr.txt,
// allele.txt) with the IDs beside it (snps.tsv, genes.tsv, samples.txt) and
// an account of everything left out (import.json).
#ifndef ZIRK_IMPORT_IMPORTER_H_
#define ZIRK_IMPORT_IMPORTER_H_

#include <csignal>
#include <cstddef>
#include <cstdio>

#include "options.h"

namespace zirk_import {

// ZIRK reads genotype lines of at most 4,000,001 characters: 4 per SNP.
inline constexpr std::size_t kMaxSnps = 1000000;

// Runs the import that `options` describe and writes the folder
// options.out. A summary goes to `log` unless options.quiet; a progress line
// too while `log` is a terminal. Throws ImportError (the output folder left
// untouched, no temporary folder left behind) on bad input, and when `stop`
// becomes non-zero (a signal handler's flag) before the folder is complete.
void run_import(const Options& options, std::FILE* log,
                const volatile std::sig_atomic_t& stop);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_IMPORTER_H_
