#include "result_file.h"

#include <cmath>
#include <cstdio>

#include "common.h"
#include "result_format.h"

namespace {

std::FILE* open_result_file(const char* fileName, const char* mode) {
  std::FILE* file = std::fopen(fileName, mode);
  if (file == nullptr) error("Cannot open the output file.");
  return file;
}

// A full disk or a broken device must not end in a run reported as complete.
void close_result_file(std::FILE* file, bool writeFailed) {
  const bool closeFailed = std::fclose(file) != 0;
  if (writeFailed || closeFailed) error("Cannot write the output file.");
}

}  // namespace

void write_result_head(const char* fileName, double threshold) {
  std::FILE* file = open_result_file(fileName, "w");
  using namespace zirk_formats;
  bool failed = std::fprintf(file, "%s\n", kResultTitle) < 0;
  if (threshold >= std::pow(10.0, -6.0) || threshold == 0) {
    failed |= std::fprintf(file, "%s%lf\n", kThresholdPrefix, threshold) < 0;
  } else {
    failed |= std::fprintf(file, "%s%lf\n", kLog10ThresholdPrefix,
                           std::log10(threshold)) < 0;
  }
  failed |= std::fputs(kResultColumnHeader, file) < 0;
  close_result_file(file, failed);
}

void append_result_row(const char* fileName, unsigned s, unsigned g1,
                       unsigned g2, int flag, double mcPvalue, double ldaValue,
                       double itValue) {
  std::FILE* file = open_result_file(fileName, "a");
  const int snp = static_cast<int>(s);
  const int gene1 = static_cast<int>(g1);
  const int gene2 = static_cast<int>(g2);
  int written;
  if (flag == 0) {
    written = std::fprintf(file, "%d\t%d\t%d\t%d\t%f\t%.1f\t%.1f\n", snp, gene1,
                           gene2, flag, std::log10(mcPvalue), 1.0,
                           std::log10(itValue));
  } else if (flag == 1) {
    written =
        std::fprintf(file, "%d\t%d\t%d\t%d\t%f\t%f\t%f\n", snp, gene1, gene2,
                     flag, std::log10(mcPvalue), ldaValue, std::log10(itValue));
  } else {
    written =
        std::fprintf(file, "%d\t%d\t%d\t%d\t%f\t%f\t%.1f\n", snp, gene1, gene2,
                     flag, std::log10(mcPvalue), ldaValue, std::log10(itValue));
  }
  close_result_file(file, written < 0);
}
