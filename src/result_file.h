// Writing the result file: a three-line head (formats/result_format.h) and
// one tab-separated row per examined (SNP, gene pair).
//
// Each call opens the file by name, writes, and closes it again, so every row
// is complete on disk before the next pair is examined and a run that stops
// keeps every row written so far.
#ifndef ZIRK_RESULT_FILE_H_
#define ZIRK_RESULT_FILE_H_

// Creates or truncates `fileName` and writes the title, the threshold line
// and the column header. The threshold line shows `threshold` itself when it
// is at least 10^-6 or exactly 0, and its log10 otherwise (also for negative
// values and NaN). Ends the run through error() with "Error: Cannot open the
// output file." when the file cannot be created, and with "Error: Cannot
// write the output file." when a write or the close fails.
void write_result_head(const char* fileName, double threshold);

// Appends the row of one pair in the format of its flag (0: pruned by the MC
// test; 1: all three scores; 2: pruned by the LDA bound). The MC p-value and
// the IT value are printed as their log10; a pruned pair's IT value is 10.0
// and the LDA value of a flag-0 row is not printed. Same failures as
// write_result_head().
void append_result_row(const char* fileName, unsigned s, unsigned g1,
                       unsigned g2, int flag, double mcPvalue, double ldaValue,
                       double itValue);

#endif  // ZIRK_RESULT_FILE_H_
