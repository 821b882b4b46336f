// The strata of the kept samples (ancestry groups, sequencing batches,
// sites): one group name per sample, from a two-column file (--strata) or a
// categorical covariate (--strata-covariate, covariates.h), written into the data folder
// as strata.txt (formats/strata_file.h) in the kept samples' order, for
// zirk-corr and for the permuted copies, which permute within each group.
#ifndef ZIRK_IMPORT_STRATA_H_
#define ZIRK_IMPORT_STRATA_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zirk_import {

// The group of each of `kept` from the file at `path` (plain or
// compressed): one line per sample, its ID and its group name, separated by
// a tab or blanks; empty lines are ignored. Throws ImportError naming
// `path` for a line without exactly two fields, a sample that repeats, a
// sample in neither `vcf_samples` nor `expression_samples` (unknown: most
// often a typo or the wrong file), or a kept sample without a line.
std::vector<std::string> strata_from_file(
    const std::string& path, const std::vector<std::string>& kept,
    const std::vector<std::string>& vcf_samples,
    const std::vector<std::string>& expression_samples);

// Each sample's group as its index among the group names in the order of
// first appearance. Throws ImportError naming `path` when all the samples
// are in one group (a stratified score needs two).
std::vector<std::uint32_t> group_indices(const std::vector<std::string>& groups,
                                         const std::string& path);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_STRATA_H_
