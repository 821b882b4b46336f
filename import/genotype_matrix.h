// The kept genotype codes, one byte per (SNP, individual), held in memory
// while the VCF streams by SNP, and written out by individual as ZIRK's
// genotype file.
#ifndef ZIRK_IMPORT_GENOTYPE_MATRIX_H_
#define ZIRK_IMPORT_GENOTYPE_MATRIX_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace zirk_import {

class GenotypeMatrix {
 public:
  explicit GenotypeMatrix(std::size_t individuals);

  // Room for the next SNP's codes (one byte per individual, in order); the SNP
  // counts only after keep().
  std::uint8_t* next_row();
  void keep(char ref, char alt);

  std::size_t snps() const { return snps_; }

  // Writes one line per individual: per SNP the two alleles of its code
  // (bit clear: REF, set: ALT), each followed by a space, except that the
  // last SNP's second allele is followed by the newline.
  void write(std::FILE* out) const;

 private:
  static constexpr std::size_t kChunkSnps = 4096;
  const std::uint8_t* row(std::size_t snp) const {
    return chunks_[snp / kChunkSnps].get() + (snp % kChunkSnps) * individuals_;
  }

  std::size_t individuals_;
  std::size_t snps_ = 0;
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::vector<char> alleles_;  // REF, ALT per SNP
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_GENOTYPE_MATRIX_H_
