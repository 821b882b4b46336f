// The report's share of the loci: loci.tsv, a row per locus that repeats
// its lead's columns of hits.tsv and adds the locus' extent, and the data of
// the figure of each family's best loci (the two genes' log10 values of
// every individual with the SNP's class, and per class its size, rank
// correlation and least-squares line), which zirk_report.py draws. With
// strata each figure also has every individual's stratum and each
// stratum's class sizes and correlations, and a class's correlation is the
// pooled one zirk-corr's rows report.
#ifndef ZIRK_REPORT_LOCUS_REPORT_H_
#define ZIRK_REPORT_LOCUS_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data_folder.h"
#include "data_values.h"
#include "loci.h"
#include "report_writer.h"

namespace zirk_report {

// loci.tsv from the text of hits.tsv (a header line, then a line per hit in
// the order of `hits`, which the loci index): per locus its number (from 1,
// in the order of `loci`), the lead's family, SNP, pair, scores, q-value
// (and empirical values when hits.tsv has them), then the number of SNPs
// and the first and last position among them (NA for a lead without one).
std::string loci_tsv(const std::string& hits_text, const std::vector<Hit>& hits,
                     const std::vector<Locus>& loci, const DataFolder& data);

// The JSON array of figure data for the first `per_family` loci of each
// family, in the order of `loci`; with `values.strata()`, per figure also
// "strata" (per stratum its name, "n" and "r" of classes 0, 1, 2, null
// where the cell is not usable) and "stratum" (per individual).
std::string locus_figures_json(const std::vector<Hit>& hits,
                               const std::vector<Locus>& loci,
                               const DataFolder& data, const DataValues& values,
                               std::uint64_t per_family);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_LOCUS_REPORT_H_
