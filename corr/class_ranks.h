// The standardised within-class ranks of every gene at one SNP: the factor
// whose Gram matrix holds every gene pair's within-class Spearman correlation.
//
// For class k with at least the minimum class size of members (see
// class_correlation.h), column g of X_k (n_k rows, members in
// individual order) holds gene g's average ranks within the class, centred
// and scaled to unit sum of squares, so that X_k' X_k has r_k of genes g and
// h at (g, h). A gene that is constant or has a NaN value within the class
// gets a zero column and is marked not usable there.
//
// Sorting every gene within every class at every SNP would cost n log n per
// gene and SNP; instead each gene's individuals are sorted once per run, and
// a SNP's class ranks come from one walk along that order (O(n) per gene):
// equal values are neighbours in it, so ties are found there too.
#ifndef ZIRK_CORR_CLASS_RANKS_H_
#define ZIRK_CORR_CLASS_RANKS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zirk_corr {

// Each gene's individuals ordered by value, NaN last.
class GeneOrders {
 public:
  // `values`: genes x individuals, gene-major (gene g's values at
  // g * individuals).
  GeneOrders(const std::vector<double>& values, std::size_t genes,
             std::size_t individuals);

  std::size_t genes() const { return genes_; }
  std::size_t individuals() const { return individuals_; }
  // Gene g's individuals in increasing order of value; the value of each.
  const std::uint32_t* order(std::size_t g) const {
    return &order_[g * individuals_];
  }
  const double* sorted(std::size_t g) const {
    return &sorted_[g * individuals_];
  }

 private:
  std::size_t genes_, individuals_;
  std::vector<std::uint32_t> order_;
  std::vector<double> sorted_;
};

// One SNP's standardised class ranks.
struct ClassRanks {
  std::array<int, 3> n{};  // class sizes
  // X_k, column-major (n_k x genes); empty below the minimum class size.
  std::array<std::vector<double>, 3> x;
  // usable[k][g]: gene g may enter class k's correlations.
  std::array<std::vector<std::uint8_t>, 3> usable;
};

// Sizes `ranks` for the classes `cls` (0, 1 or 2 per individual) and
// `genes` genes, reusing its storage, and sets position[i] to individual i's
// row within its class. Classes of fewer than `min_class_size` (at least
// kSmallestClassSize) individuals are left out.
void prepare_class_ranks(const std::vector<std::uint8_t>& cls,
                         std::size_t genes, int min_class_size,
                         ClassRanks& ranks,
                         std::vector<std::uint32_t>& position);

// Writes the columns and usable flags of genes [first, last) after
// prepare_class_ranks. Touches nothing of other genes, so disjoint ranges
// may run on different threads.
void rank_genes(const GeneOrders& orders, const std::vector<std::uint8_t>& cls,
                const std::vector<std::uint32_t>& position, std::size_t first,
                std::size_t last, ClassRanks& ranks);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_CLASS_RANKS_H_
