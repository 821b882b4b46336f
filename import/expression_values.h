// The expression values ZIRK reads: ZIRK takes log10 of every value, so raw
// values must be positive, and values already on a log scale are written as
// the raw values they stand for. Values are printed as the shortest text
// that reads back to the same double.
#ifndef ZIRK_IMPORT_EXPRESSION_VALUES_H_
#define ZIRK_IMPORT_EXPRESSION_VALUES_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zirk_import {

enum class ValueScale { kRaw, kLog10, kLn, kLog2 };

// Parses "raw", "log10", "ln" or "log2".
std::optional<ValueScale> parse_scale(std::string_view name);
const char* scale_name(ValueScale scale);

enum class GeneVerdict {
  kKept,
  kNotANumber,   // a NaN value: the file held NA, an empty field or text
  kNonPositive,  // a raw value (plus pseudocount) of 0 or less
  kOutOfRange,   // the written value would overflow or underflow a double
};

// Turns one gene's values in place into the values written for ZIRK: raw
// values plus `pseudocount`, or for a log scale the raw value b^v (so that
// ZIRK's log10 gives v times log10 of the base). On any verdict but kKept the
// values are unspecified and `bad_value` holds the first offending input.
GeneVerdict convert_gene_values(std::vector<double>& values, ValueScale scale,
                                double pseudocount, double& bad_value);

// Appends the shortest decimal text of `value` that reads back to the same
// double (std::to_chars without a format).
void append_value(std::string& out, double value);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_EXPRESSION_VALUES_H_
