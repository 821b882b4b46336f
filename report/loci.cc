#include "loci.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "genome_context.h"

namespace zirk_report {

double dosage_r2(const std::vector<int>& a, const std::vector<int>& b) {
  const std::size_t n = a.size();
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ma += a[i];
    mb += b[i];
  }
  ma /= static_cast<double>(n);
  mb /= static_cast<double>(n);
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double da = a[i] - ma, db = b[i] - mb;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  if (!(saa > 0) || !(sbb > 0)) return std::numeric_limits<double>::quiet_NaN();
  return sab / saa * (sab / sbb);
}

std::vector<Locus> clump(const std::vector<Hit>& hits, const DataFolder& data,
                         const DataValues& values,
                         const ClumpOptions& options) {
  // The placed hits of each family, pair and chromosome, by position.
  using Group =
      std::tuple<std::string, std::uint32_t, std::uint32_t, std::string>;
  std::map<Group, std::vector<std::pair<std::int64_t, std::size_t>>> groups;
  std::vector<std::optional<std::int64_t>> pos(hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const SnpInfo& snp = data.snps[hits[i].row.snp];
    pos[i] = table_position(snp.pos);
    if (!pos[i]) continue;
    groups[{hits[i].family, hits[i].row.gene1, hits[i].row.gene2, snp.chrom}]
        .emplace_back(*pos[i], i);
  }
  for (auto& [key, members] : groups) std::sort(members.begin(), members.end());

  const auto window = static_cast<std::int64_t>(std::min<std::uint64_t>(
      options.window_bp, std::numeric_limits<std::int64_t>::max() / 4));
  std::vector<bool> taken(hits.size(), false);
  std::vector<Locus> loci;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    if (taken[i]) continue;
    taken[i] = true;
    Locus locus{{i}};
    if (pos[i]) {
      const Hit& lead = hits[i];
      const auto& group =
          groups.at({lead.family, lead.row.gene1, lead.row.gene2,
                     data.snps[lead.row.snp].chrom});
      const std::vector<int>& lead_classes = values.classes(lead.row.snp);
      auto it =
          std::lower_bound(group.begin(), group.end(),
                           std::make_pair(*pos[i] - window, std::size_t{0}));
      for (; it != group.end() && it->first <= *pos[i] + window; ++it) {
        const std::size_t j = it->second;
        if (taken[j]) continue;
        const double r2 =
            dosage_r2(lead_classes, values.classes(hits[j].row.snp));
        if (r2 >= options.min_r2) {
          taken[j] = true;
          locus.members.push_back(j);
        }
      }
      std::sort(locus.members.begin() + 1, locus.members.end());
    }
    loci.push_back(std::move(locus));
  }
  return loci;
}

}  // namespace zirk_report
