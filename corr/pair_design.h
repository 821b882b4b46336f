// Which gene pairs zirk-corr tests at each SNP. Every pair by default; a
// design gives each SNP a set of anchor genes instead, and the SNP's pairs
// are those with at least one anchor, each pair once:
// - cis (--cis-window W): the genes whose start lies within W bp of the SNP
//   on its chromosome, the report's definition of a cis hit;
// - anchors (--anchors FILE): the genes that FILE's lines SNP_ID<TAB>GENE_ID
//   name with the SNP (the lead SNPs of an eQTL scan and their eGenes).
// SNPs are those of the data folder's snps.tsv, genes those of genes.tsv.
#ifndef ZIRK_CORR_PAIR_DESIGN_H_
#define ZIRK_CORR_PAIR_DESIGN_H_

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "data_folder.h"

namespace zirk_corr {

class PairDesign {
 public:
  // Every pair at every SNP.
  PairDesign() = default;

  // The cis design of `data` for `window` bp. Throws CorrError naming the
  // table when no SNP or no gene has a position, or when no SNP has a gene
  // within the window.
  static PairDesign cis(const zirk_report::DataFolder& data,
                        std::uint64_t window);

  // The design of the anchors file `path` over `data`. Lines naming an
  // unknown SNP or gene ID are left out and counted, in a line on
  // `messages` (may be null); repeated lines count once. Throws CorrError
  // naming the file and line on a line that is not two non-empty
  // tab-separated fields, or when no line names a known SNP and gene.
  static PairDesign anchors(const zirk_report::DataFolder& data,
                            const std::string& path, std::FILE* messages);

  bool all_pairs() const { return offsets_.empty(); }

  // The anchor genes of SNP `snp` of the data folder, increasing (only
  // when !all_pairs()).
  std::span<const std::uint32_t> anchors(std::size_t snp) const {
    return std::span<const std::uint32_t>(genes_).subspan(
        offsets_[snp], offsets_[snp + 1] - offsets_[snp]);
  }

  // The pairs tested at a SNP with `anchors` of `genes` genes: those of an
  // anchor with every other gene, once.
  static std::uint64_t pairs(std::uint64_t anchors, std::uint64_t genes) {
    return anchors * (genes - 1) - anchors * (anchors - 1) / 2;
  }

 private:
  // SNP s's anchors are genes_[offsets_[s], offsets_[s + 1]).
  std::vector<std::uint64_t> offsets_;
  std::vector<std::uint32_t> genes_;
};

}  // namespace zirk_corr

#endif  // ZIRK_CORR_PAIR_DESIGN_H_
