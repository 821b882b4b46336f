#include "expression_values.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace zirk_import {

std::optional<ValueScale> parse_scale(std::string_view name) {
  if (name == "raw") return ValueScale::kRaw;
  if (name == "log10") return ValueScale::kLog10;
  if (name == "ln") return ValueScale::kLn;
  if (name == "log2") return ValueScale::kLog2;
  return std::nullopt;
}

const char* scale_name(ValueScale scale) {
  switch (scale) {
    case ValueScale::kRaw:
      return "raw";
    case ValueScale::kLog10:
      return "log10";
    case ValueScale::kLn:
      return "ln";
    case ValueScale::kLog2:
      return "log2";
  }
  return "";
}

GeneVerdict convert_gene_values(std::vector<double>& values, ValueScale scale,
                                double pseudocount, double& bad_value) {
  for (double v : values) {
    if (std::isnan(v)) {
      bad_value = v;
      return GeneVerdict::kNotANumber;
    }
  }
  for (double& v : values) {
    const double input = v;
    switch (scale) {
      case ValueScale::kRaw:
        v = v + pseudocount;
        break;
      case ValueScale::kLog10:
        v = std::pow(10.0, v);
        break;
      case ValueScale::kLn:
        v = std::exp(v);
        break;
      case ValueScale::kLog2:
        v = std::exp2(v);
        break;
    }
    if (scale == ValueScale::kRaw && !(v > 0) && std::isfinite(v)) {
      bad_value = input;
      return GeneVerdict::kNonPositive;
    }
    // A subnormal result has lost digits, so its log10 is no longer v.
    if (!std::isfinite(v) || v < std::numeric_limits<double>::min()) {
      bad_value = input;
      return GeneVerdict::kOutOfRange;
    }
  }
  return GeneVerdict::kKept;
}

void append_value(std::string& out, double value) {
  char buffer[32];
  const std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

}  // namespace zirk_import
