// The head of zirk's result file, as the screening programs write it and
// zirk-report reads it: a title line, a threshold line, the column header,
// then one tab-separated row per examined (SNP, gene pair). The workflow's
// merge_rows.sh counts the same three lines.
#ifndef ZIRK_FORMATS_RESULT_FORMAT_H_
#define ZIRK_FORMATS_RESULT_FORMAT_H_

#include <cstddef>

namespace zirk_formats {

// Lines before the first row.
inline constexpr std::size_t kResultHeadLines = 3;

// The first line, without its newline.
inline constexpr char kResultTitle[] = "Results of ZIRK:";

// The second line starts with one of these, followed by the threshold (at
// least 10^-6, or 0) or its log10 (below that) in "%lf".
inline constexpr char kThresholdPrefix[] = "threshold = ";
inline constexpr char kLog10ThresholdPrefix[] = "log10(threshold) = ";

// The exact column header line, newline included (74 bytes).
inline constexpr char kResultColumnHeader[] =
    "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t "
    "p-value(IT)\n";

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_RESULT_FORMAT_H_
