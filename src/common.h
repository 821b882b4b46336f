// The data types, run-wide dimensions and the fatal-error exit that every
// module of ZIRK shares.
//
// The matrices are dense row-major uBLAS matrices indexed from 0; whoever
// creates one fixes its size and no callee resizes it.
#ifndef ZIRK_COMMON_H_
#define ZIRK_COMMON_H_

#include <boost/numeric/ublas/lu.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>
#include <cstdint>
#include <memory>
#include <utility>

// uBLAS's storage still calls the allocator's construct() and destroy(),
// which std::allocator no longer has in C++20; this allocator restores them.
// Every uBLAS container of the program (permutation matrices included) is
// built on it.
template <class T>
struct UblasAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UblasAllocator<U>;
  };
  UblasAllocator() noexcept = default;
  template <class U>
  UblasAllocator(const UblasAllocator<U>&) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  void destroy(U* p) {
    p->~U();
  }
};

template <class T>
using UblasStorage =
    boost::numeric::ublas::unbounded_array<T, UblasAllocator<T>>;

// Raw or log10 expression values, class sums, covariances, design matrices.
using RealMatrix =
    boost::numeric::ublas::matrix<double, boost::numeric::ublas::row_major,
                                  UblasStorage<double>>;
// Genotype class indicators (ymat): one unsigned 32-bit count per cell.
using CountMatrix =
    boost::numeric::ublas::matrix<std::uint32_t,
                                  boost::numeric::ublas::row_major,
                                  UblasStorage<std::uint32_t>>;
// Allele characters, two columns per SNP (gmat).
using GenotypeMatrix =
    boost::numeric::ublas::matrix<char, boost::numeric::ublas::row_major,
                                  UblasStorage<char>>;
// Class sizes and coefficient vectors.
using RealVector = boost::numeric::ublas::vector<double, UblasStorage<double>>;
// Row exchanges of an LU factorisation (use this, not the default
// permutation_matrix<std::size_t>, which does not compile in C++20).
using Permutation =
    boost::numeric::ublas::permutation_matrix<std::size_t,
                                              UblasStorage<std::size_t>>;

// Individuals, genes and SNPs of the run. Set once by the dimension scan
// (get_parmeters) and only read afterwards; never negative.
extern std::int32_t n;
extern std::int32_t ngene;
extern std::int32_t ps;

// The genotype class coded in row i of an indicator matrix (ymat): 0 if
// column 0 is set, else 1 if column 1 is set, else 2. A row with both set
// counts as class 0.
template <class CountMatrixT, class IndexT>
unsigned genotype_class_of_row(const CountMatrixT& ymat, IndexT i) {
  if (ymat(i, 0) != 0) return 0;
  return ymat(i, 1) != 0 ? 1 : 2;
}

// Writes the error line "Error: <cause>" (formats/error_line.h) to standard
// error and ends the process with exit status 1. The single fatal exit of
// the program and of its readers.
[[noreturn]] void error(const char* cause);

#endif  // ZIRK_COMMON_H_
