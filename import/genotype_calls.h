// What one VCF record contributes to ZIRK's genotype file: whether its
// alleles make a biallelic SNV, and each kept sample's diploid call as a
// two-bit code (bit 0: the first allele is ALT, bit 1: the second is), whose
// number of set bits is the genotype class (0: homozygous REF).
#ifndef ZIRK_IMPORT_GENOTYPE_CALLS_H_
#define ZIRK_IMPORT_GENOTYPE_CALLS_H_

#include <htslib/vcf.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zirk_import {

enum class AlleleVerdict {
  kSnv,           // REF and ALT one each of A, C, G, T (either case)
  kMultiallelic,  // more than one ALT
  kNoAlt,         // ALT is '.'
  kIndel,         // REF and ALT of different lengths
  kSymbolic,      // <DEL>, breakends, '*'
  kOther,         // same length but not a single A/C/G/T each (MNP, N, IUPAC)
};

// Classifies the alleles of `record`, unpacked to at least BCF_UN_STR.
AlleleVerdict classify_alleles(const bcf1_t* record);

// kNoField: the record holds no field to call from.
enum class CallVerdict { kOk, kNoField, kHaploid, kPolyploid };

// The code of an individual without a usable call.
inline constexpr std::uint8_t kNoCall = 0xff;

// Fills codes[k] for the k-th of `kept` (sample columns of `gt`, a
// bcf_get_genotypes array of `ploidy` values per sample), kNoCall where the
// call is missing (either allele, or an allele index beyond ALT). Returns
// kOk, or the verdict of the first kept sample whose call is haploid or of
// higher ploidy.
CallVerdict genotype_codes(const std::int32_t* gt, int ploidy,
                           const std::vector<int>& kept, std::uint8_t* codes);

// The code of an unphased call with `alt_copies` (0, 1 or 2) ALT alleles.
inline std::uint8_t class_code(int alt_copies) {
  return static_cast<std::uint8_t>(alt_copies == 0   ? 0
                                   : alt_copies == 1 ? 2
                                                     : 3);
}

// Sizes of the genotype classes 0, 1, 2 among `count` codes, kNoCall left
// out.
std::array<std::size_t, 3> class_sizes(const std::uint8_t* codes,
                                       std::size_t count);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_GENOTYPE_CALLS_H_
