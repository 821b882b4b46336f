// The ID tables of a data folder written by zirk-import: snps.tsv (index, id,
// chrom, pos, ref, alt, the three class sizes and the filled calls) and
// genes.tsv (index, id,
// chrom, start, end), whose line order is the index order of the result rows.
#ifndef ZIRK_REPORT_DATA_FOLDER_H_
#define ZIRK_REPORT_DATA_FOLDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zirk_report {

struct SnpInfo {
  std::string id, chrom, pos, ref, alt;
  std::uint64_t n[3];  // individuals with 0, 1, 2 copies of the reference
  // Individuals among n[] whose call was missing or uncertain in the VCF and
  // who were given the class nearest the SNP's mean dosage.
  std::uint64_t filled;
  // A class of fewer than five individuals makes the scores unreliable.
  bool small_class() const { return n[0] < 5 || n[1] < 5 || n[2] < 5; }
};

struct GeneInfo {
  std::string id, chrom, start, end;
};

struct DataFolder {
  std::string dir;  // as given on the command line
  std::vector<SnpInfo> snps;
  std::vector<GeneInfo> genes;
};

// Reads DIR/snps.tsv and DIR/genes.tsv. Throws ReportError naming the file
// (and the line) when one is missing, has another header, or a line has the
// wrong number of fields, an index out of order or a class size or filled
// count that is not a number.
DataFolder read_data_folder(const std::string& dir);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_DATA_FOLDER_H_
