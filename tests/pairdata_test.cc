#include "pairdata.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// gmat with one row per entry of `rows`, each entry the row's characters.
GenotypeMatrix genotypes(const std::vector<std::string>& rows) {
  GenotypeMatrix gmat(rows.size(), rows.empty() ? 0 : rows[0].size(), '-');
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows[i].size(); ++j) gmat(i, j) = rows[i][j];
  }
  return gmat;
}

// ymat's rows as indicator pairs, each followed by a space: class 0 is
// "10", class 1 "01", class 2 "00"; anything else is a fault.
std::string indicators(const CountMatrix& ymat) {
  std::string out;
  for (std::size_t i = 0; i < ymat.size1(); ++i) {
    out += std::to_string(ymat(i, 0)) + std::to_string(ymat(i, 1)) + " ";
  }
  return out;
}

struct Pair {
  RealMatrix xmat;
  CountMatrix ymat;
};

Pair build(RealMatrix& emat, GenotypeMatrix& gmat, unsigned s, unsigned g1,
           unsigned g2, char reference) {
  n = static_cast<std::int32_t>(gmat.size1());
  Pair pair{RealMatrix(gmat.size1(), 2, 1.0), CountMatrix(gmat.size1(), 2, 7)};
  getxmatymat_new(pair.xmat, pair.ymat, emat, gmat, s, g1, g2, reference);
  return pair;
}

TEST(PairMatrices, ClassesCountCopiesOfTheReferenceAlleleExactly) {
  // SNP 0 is filler so that SNP 1 (columns 2 and 3) is the one classed.
  GenotypeMatrix gmat = genotypes(
      {"CCAA", "CCAT", "CCTA", "CCTT", "CCGC", "CCaa", "CCaA", "CCAa"});
  RealMatrix emat(8, 2, 10.0);
  EXPECT_EQ(indicators(build(emat, gmat, 1, 0, 1, 'A').ymat),
            "10 01 01 00 00 00 01 01 ");
  EXPECT_EQ(indicators(build(emat, gmat, 1, 0, 1, 'a').ymat),
            "00 00 00 00 00 10 01 01 ");
  EXPECT_EQ(indicators(build(emat, gmat, 0, 0, 1, 'G').ymat),
            "00 00 00 00 00 00 00 00 ");
  EXPECT_EQ(indicators(build(emat, gmat, 0, 0, 1, 'C').ymat),
            "10 10 10 10 10 10 10 10 ");
}

TEST(GeneMoments, AgreeWithThePairMatrixColumns) {
  // Irregular values: the moments must match a plain two-pass mean of the
  // log values the pair matrices hold, up to rounding.
  const std::size_t individuals = 7;
  GenotypeMatrix gmat = genotypes(std::vector<std::string>(individuals, "AT"));
  RealMatrix emat(individuals, 2, 1.0);
  for (std::size_t i = 0; i < individuals; ++i) {
    emat(i, 0) = 0.37 + 13.1 * static_cast<double>(i * i);
    emat(i, 1) = 2.5e3 / static_cast<double>(i + 3);
  }
  const Pair pair = build(emat, gmat, 0, 0, 1, 'A');
  ngene = 2;
  RealMatrix mommat(2, 2, 0.0);
  get_mommat(emat, mommat);
  for (std::size_t g = 0; g < 2; ++g) {
    double sum = 0.0, squares = 0.0;
    for (std::size_t i = 0; i < individuals; ++i) {
      sum += pair.xmat(i, g);
      squares += pair.xmat(i, g) * pair.xmat(i, g);
    }
    EXPECT_NEAR(mommat(g, 0), sum / individuals, 1e-14);
    EXPECT_NEAR(mommat(g, 1), squares / individuals, 1e-13);
  }
}

}  // namespace
