// Where a hit's SNP lies against its two genes: the signed distance from the
// SNP to each gene's start (as genes.tsv gives it, whatever the strand) and
// whether the pair is cis (the SNP within a window of either gene's start on
// the same chromosome), trans (both genes placed and neither near) or
// unknown (a position missing where it would decide).
#ifndef ZIRK_REPORT_GENOME_CONTEXT_H_
#define ZIRK_REPORT_GENOME_CONTEXT_H_

#include <cstdint>
#include <optional>
#include <string>

#include "data_folder.h"

namespace zirk_report {

inline constexpr std::uint64_t kDefaultCisWindow = 1000000;

enum class Context { kCis, kTrans, kUnknown };

// "cis", "trans" or "unknown", the words of the context column.
const char* context_name(Context c);

// A position of snps.tsv or genes.tsv: a plain whole number; empty for "NA",
// an empty field or anything else.
std::optional<std::int64_t> table_position(const std::string& text);

// SNP position minus the gene's start in base pairs; empty when either is not
// a number or the two lie on different chromosomes.
std::optional<std::int64_t> distance_to_start(const SnpInfo& snp,
                                              const GeneInfo& gene);

// The context of a SNP against the pair (gene1, gene2) for `window` bp.
Context hit_context(const SnpInfo& snp, const GeneInfo& gene1,
                    const GeneInfo& gene2, std::uint64_t window);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_GENOME_CONTEXT_H_
