#include "genotype_matrix.h"

#include <algorithm>

namespace zirk_import {

GenotypeMatrix::GenotypeMatrix(std::size_t individuals)
    : individuals_(individuals) {}

std::uint8_t* GenotypeMatrix::next_row() {
  if (snps_ / kChunkSnps == chunks_.size()) {
    chunks_.emplace_back(new std::uint8_t[kChunkSnps * individuals_]);
  }
  return chunks_[snps_ / kChunkSnps].get() +
         (snps_ % kChunkSnps) * individuals_;
}

void GenotypeMatrix::keep(char ref, char alt) {
  alleles_.push_back(ref);
  alleles_.push_back(alt);
  ++snps_;
}

void GenotypeMatrix::write(std::FILE* out) const {
  if (snps_ == 0) {
    for (std::size_t i = 0; i < individuals_; ++i) std::fputc('\n', out);
    return;
  }
  // A block of individuals at a time, so that each SNP's row is read in
  // cache-line pieces rather than one byte per line written.
  constexpr std::size_t kBlock = 8;
  const std::size_t width = 4 * snps_;
  std::vector<char> lines(kBlock * width);
  for (std::size_t first = 0; first < individuals_; first += kBlock) {
    const std::size_t block = std::min(kBlock, individuals_ - first);
    for (std::size_t s = 0; s < snps_; ++s) {
      const std::uint8_t* codes = row(s) + first;
      const char ref = alleles_[2 * s], alt = alleles_[2 * s + 1];
      for (std::size_t b = 0; b < block; ++b) {
        char* cell = lines.data() + b * width + 4 * s;
        cell[0] = (codes[b] & 1) ? alt : ref;
        cell[1] = ' ';
        cell[2] = (codes[b] & 2) ? alt : ref;
        cell[3] = ' ';
      }
    }
    for (std::size_t b = 0; b < block; ++b) {
      lines[b * width + width - 1] = '\n';
      std::fwrite(lines.data() + b * width, 1, width, out);
    }
  }
}

}  // namespace zirk_import
