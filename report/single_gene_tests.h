// The SNP's effect on one gene alone: a one-way ANOVA of the gene's values
// on the genotype class (its mean) and the Brown-Forsythe test (its
// variance: the same ANOVA of the absolute deviations from each class's
// median), both against the F distribution. The report sets them beside a
// hit's pair score: a single gene's own effect can make a pair look
// co-expressed differently when it is not.
#ifndef ZIRK_REPORT_SINGLE_GENE_TESTS_H_
#define ZIRK_REPORT_SINGLE_GENE_TESTS_H_

#include <span>

namespace zirk_report {

// log10 of the ANOVA p-value of `values` grouped by `cls` (0, 1, 2; other
// entries and NaN values are left out; empty classes do not count). NaN
// when fewer than two classes are present, when no degree of freedom is
// left within the classes, when every class is constant (no variance to
// test against), or when a value is infinite (log10 of 0).
double anova_log10_p(std::span<const double> values, std::span<const int> cls);

// log10 of the Brown-Forsythe p-value: anova_log10_p of |x - median of x's
// class| (the median of an even class the mean of its two middle values).
double brown_forsythe_log10_p(std::span<const double> values,
                              std::span<const int> cls);

}  // namespace zirk_report

#endif  // ZIRK_REPORT_SINGLE_GENE_TESTS_H_
