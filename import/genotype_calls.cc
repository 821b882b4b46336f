#include "genotype_calls.h"

#include <cstring>

namespace zirk_import {

namespace {

bool is_base(const char* allele) {
  return allele[0] != '\0' && allele[1] == '\0' &&
         std::strchr("ACGTacgt", allele[0]) != nullptr;
}

bool is_symbolic(const char* allele) {
  return allele[0] == '<' || allele[0] == '*' ||
         std::strpbrk(allele, "[]") != nullptr;
}

}  // namespace

AlleleVerdict classify_alleles(const bcf1_t* record) {
  if (record->n_allele > 2) return AlleleVerdict::kMultiallelic;
  const char* ref = record->d.allele[0];
  if (record->n_allele < 2 || std::strcmp(record->d.allele[1], ".") == 0) {
    return AlleleVerdict::kNoAlt;
  }
  const char* alt = record->d.allele[1];
  if (is_symbolic(alt)) return AlleleVerdict::kSymbolic;
  if (std::strlen(ref) != std::strlen(alt)) return AlleleVerdict::kIndel;
  if (is_base(ref) && is_base(alt)) return AlleleVerdict::kSnv;
  return AlleleVerdict::kOther;
}

CallVerdict genotype_codes(const std::int32_t* gt, int ploidy,
                           const std::vector<int>& kept, std::uint8_t* codes) {
  if (ploidy < 2) {
    // A record of haploid calls, or of missing calls written as a lone '.'.
    for (std::size_t k = 0; k < kept.size(); ++k) {
      if (ploidy == 1 && !bcf_gt_is_missing(gt[kept[k]])) {
        return CallVerdict::kHaploid;
      }
      codes[k] = kNoCall;
    }
    return CallVerdict::kOk;
  }
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const std::int32_t* call = gt + static_cast<std::size_t>(kept[k]) * ploidy;
    const std::int32_t a = call[0], b = call[1];
    codes[k] = kNoCall;
    if (a == bcf_int32_vector_end || bcf_gt_is_missing(a)) continue;
    if (b == bcf_int32_vector_end) return CallVerdict::kHaploid;
    if (bcf_gt_is_missing(b)) continue;
    if (ploidy > 2 && call[2] != bcf_int32_vector_end) {
      return CallVerdict::kPolyploid;
    }
    const int ia = bcf_gt_allele(a), ib = bcf_gt_allele(b);
    if (ia > 1 || ib > 1) continue;
    codes[k] = static_cast<std::uint8_t>(ia | (ib << 1));
  }
  return CallVerdict::kOk;
}

std::array<std::size_t, 3> class_sizes(const std::uint8_t* codes,
                                       std::size_t count) {
  std::array<std::size_t, 4> by_code{0, 0, 0, 0};
  for (std::size_t k = 0; k < count; ++k) {
    if (codes[k] != kNoCall) ++by_code[codes[k]];
  }
  return {by_code[0], by_code[1] + by_code[2], by_code[3]};
}

}  // namespace zirk_import
