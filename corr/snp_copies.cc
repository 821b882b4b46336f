#include "snp_copies.h"

#include <string>
#include <unordered_map>

#include "pairdata.h"

namespace zirk_corr {

std::vector<std::vector<std::size_t>> snp_copies(
    const GenotypeMatrix& gmat, std::span<const char> reference) {
  const std::size_t individuals = gmat.size1();
  std::vector<std::vector<std::size_t>> copies(reference.size());
  std::unordered_map<std::string, std::size_t> first;
  std::string classes(individuals, '\0');
  for (std::size_t s = 0; s < reference.size(); ++s) {
    for (std::size_t i = 0; i < individuals; ++i) {
      classes[i] = static_cast<char>(
          genotype_class(gmat(i, 2 * s), gmat(i, 2 * s + 1), reference[s]));
    }
    copies[first.try_emplace(classes, s).first->second].push_back(s);
  }
  return copies;
}

}  // namespace zirk_corr
