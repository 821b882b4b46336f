// A data folder's strata: strata.txt holds one group name per line, one
// line per individual in the order of the genotype file (geno.txt), and
// splits the individuals into groups (ancestry, batch, site) within which
// the correlation scores are computed. zirk-import writes it; zirk-corr
// reads it here.
#ifndef ZIRK_FORMATS_STRATA_FILE_H_
#define ZIRK_FORMATS_STRATA_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zirk_formats {

inline constexpr char kStrataName[] = "strata.txt";

struct Strata {
  std::vector<std::string> names;    // in the order of first appearance
  std::vector<std::uint32_t> group;  // per individual: its index in names
};

// Reads `path` ('-' is not accepted: the rows need a file beside the
// genotypes). Throws Failure naming the file when it cannot be read, a line
// is empty or holds a tab, or it has not `individuals` lines (`genotype`
// names the file they were counted in).
Strata read_strata(const std::string& path, std::size_t individuals,
                   const std::string& genotype);

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_STRATA_FILE_H_
