// The ID tables of a data folder written by zirk-import and read by
// zirk-report: snps.tsv and genes.tsv, tab-separated, a header line, then one
// line per SNP or gene in the index order of the result rows, the index in
// the first column.
#ifndef ZIRK_FORMATS_DATA_TABLES_H_
#define ZIRK_FORMATS_DATA_TABLES_H_

namespace zirk_formats {

// The SNP table: index, ID, chromosome, position, reference and alternative
// allele, the individuals with 0, 1, 2 copies of the reference allele, and
// how many of them had no usable call and were given a class by the import.
inline constexpr char kSnpTableName[] = "snps.tsv";
inline constexpr char kSnpTableHeader[] =
    "index\tid\tchrom\tpos\tref\talt\tn0\tn1\tn2\tfilled";

// The gene table: index, ID, chromosome, start and end.
inline constexpr char kGeneTableName[] = "genes.tsv";
inline constexpr char kGeneTableHeader[] = "index\tid\tchrom\tstart\tend";

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_DATA_TABLES_H_
