#include "genome_context.h"

#include <charconv>

namespace zirk_report {

std::optional<std::int64_t> table_position(const std::string& text) {
  std::int64_t v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
    return std::nullopt;
  return v;
}

const char* context_name(Context c) {
  switch (c) {
    case Context::kCis:
      return "cis";
    case Context::kTrans:
      return "trans";
    case Context::kUnknown:
      break;
  }
  return "unknown";
}

std::optional<std::int64_t> distance_to_start(const SnpInfo& snp,
                                              const GeneInfo& gene) {
  const auto pos = table_position(snp.pos), start = table_position(gene.start);
  if (!pos || !start || snp.chrom != gene.chrom) return std::nullopt;
  return *pos - *start;
}

Context hit_context(const SnpInfo& snp, const GeneInfo& gene1,
                    const GeneInfo& gene2, std::uint64_t window) {
  if (!table_position(snp.pos)) return Context::kUnknown;
  bool placed = true;
  for (const GeneInfo* gene : {&gene1, &gene2}) {
    if (!table_position(gene->start) || gene->chrom.empty() ||
        gene->chrom == "NA") {
      placed = false;
      continue;
    }
    const auto d = distance_to_start(snp, *gene);
    if (!d) continue;
    const std::uint64_t apart = *d < 0 ? 0 - static_cast<std::uint64_t>(*d)
                                       : static_cast<std::uint64_t>(*d);
    if (apart <= window) return Context::kCis;
  }
  return placed ? Context::kTrans : Context::kUnknown;
}

}  // namespace zirk_report
