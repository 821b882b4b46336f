// Loci: the hits of one gene pair that lie near a stronger hit of the same
// pair and in linkage disequilibrium with it are one signal, not many. Hits
// are clumped greedily from the smallest p-value down: the strongest hit
// not yet in a locus leads a new one, and takes every hit of its family and
// gene pair not yet in a locus whose SNP lies on the same chromosome within
// the window of the lead's position and whose allele dosages among the
// data's individuals have r^2 with the lead's of at least the threshold.
// A hit whose SNP has no position, or whose r^2 with the lead is undefined
// (a SNP without variation), joins no other hit's locus.
#ifndef ZIRK_REPORT_LOCI_H_
#define ZIRK_REPORT_LOCI_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "data_folder.h"
#include "data_values.h"
#include "report_writer.h"

namespace zirk_report {

struct ClumpOptions {
  std::uint64_t window_bp = 1000000;
  double min_r2 = 0.2;
};

// One locus: indices into the hits, its lead first and then its other
// members in the order of the hits.
struct Locus {
  std::vector<std::size_t> members;
  std::size_t lead() const { return members.front(); }
};

// The squared Pearson correlation of two SNPs' genotype classes (the allele
// dosage up to sign and shift) over the individuals; NaN when either SNP has
// one class only. The two vectors have the same length.
double dosage_r2(const std::vector<int>& a, const std::vector<int>& b);

// The loci of `hits`, which hold each family's hits from the smallest
// p-value down (equal p-values in the order given, so the first of them
// leads), as select_hits and select_corr_hits return them. Every hit is in
// exactly one locus; loci come in the order of their leads. `data` holds the
// SNPs' positions and `values` the classes of every hit's SNP.
std::vector<Locus> clump(const std::vector<Hit>& hits, const DataFolder& data,
                         const DataValues& values, const ClumpOptions& options);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_LOCI_H_
