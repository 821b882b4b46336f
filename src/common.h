// The data types, run-wide dimensions and the fatal-error exit that every
// module of ZIRK shares.
//
// The matrices are dense row-major uBLAS matrices indexed from 0; whoever
// creates one fixes its size and no callee resizes it.
#ifndef ZIRK_COMMON_H_
#define ZIRK_COMMON_H_

#include <cstdint>

#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

// Raw or log10 expression values, class sums, covariances, design matrices.
using RealMatrix = boost::numeric::ublas::matrix<double>;
// Genotype class indicators (ymat): one unsigned 32-bit count per cell.
using CountMatrix = boost::numeric::ublas::matrix<std::uint32_t>;
// Allele characters, two columns per SNP (gmat).
using GenotypeMatrix = boost::numeric::ublas::matrix<char>;
// Class sizes and coefficient vectors.
using RealVector = boost::numeric::ublas::vector<double>;

// Individuals, genes and SNPs of the run. Set once by the dimension scan
// (get_parmeters) and only read afterwards; never negative.
extern std::int32_t n;
extern std::int32_t ngene;
extern std::int32_t ps;

// Writes `message` and a newline to standard error and ends the process with
// exit status 1. The single fatal exit of the program and of its readers.
[[noreturn]] void error(const char* message);

#endif  // ZIRK_COMMON_H_
