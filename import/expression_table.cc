#include "expression_table.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "import_error.h"
#include "text_lines.h"

namespace zirk_import {

namespace {

bool is_integer(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool is_strand(std::string_view text) {
  return text == "+" || text == "-" || text == ".";
}

}  // namespace

const char* layout_name(ExpressionLayout layout) {
  switch (layout) {
    case ExpressionLayout::kBed4:
      return "bed4";
    case ExpressionLayout::kBed6:
      return "bed6";
    case ExpressionLayout::kTable:
      return "table";
  }
  return "";
}

double parse_value(std::string_view text, bool& out_of_range) {
  out_of_range = false;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return nan;
  // from_chars also takes "inf" and "nan"; only digits make a value here.
  const char last = text.back();
  if (!((last >= '0' && last <= '9') || last == '.')) return nan;
  double value = 0;
  const std::from_chars_result r =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    out_of_range = true;
    return nan;
  }
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return nan;
  return value;
}

ExpressionTable read_expression_table(const std::string& path) {
  LineReader reader(path);
  return read_expression_table(reader);
}

ExpressionTable read_expression_table(LineReader& reader) {
  const std::string& path = reader.name();
  ExpressionTable table;
  std::string_view line;
  std::vector<std::string_view> fields;
  const bool tabs = read_header(reader, path, line, fields);
  if (fields.empty()) throw ImportError(path + ": the header line is empty");
  const bool bed = line[0] == '#';
  if (!bed && fields.size() >= 3 && is_integer(fields[1]) &&
      is_integer(fields[2])) {
    throw ImportError(path +
                      ": no header line (a BED file starts with '#chr start "
                      "end id' and the sample IDs)");
  }
  if (bed && fields.size() < 4) {
    throw ImportError(path + ": the BED header has fewer than 4 columns");
  }
  const std::vector<std::string> header(fields.begin(), fields.end());

  std::size_t fixed = 0;  // leading fields of a data row that are not values
  bool first_row = true;
  std::unordered_set<std::string_view> gene_ids;
  while (reader.next(line)) {
    if (line.empty()) continue;
    split_fields(line, tabs, fields);
    if (first_row) {
      first_row = false;
      if (bed) {
        const bool six =
            header.size() >= 6 && fields.size() >= 6 && is_strand(fields[5]);
        table.layout = six ? ExpressionLayout::kBed6 : ExpressionLayout::kBed4;
        fixed = six ? 6 : 4;
        table.samples.assign(header.begin() + fixed, header.end());
      } else {
        table.layout = ExpressionLayout::kTable;
        fixed = 1;
        // A header without a name for the ID column is one field short.
        const std::size_t skip = fields.size() == header.size() + 1 ? 0 : 1;
        table.samples.assign(header.begin() + skip, header.end());
      }
    }
    if (fields.size() != fixed + table.samples.size()) {
      throw ImportError(path + ": line " + std::to_string(reader.number()) +
                        " has " + std::to_string(fields.size()) +
                        " fields where the header has " +
                        std::to_string(fixed + table.samples.size()));
    }
    if (table.layout == ExpressionLayout::kBed6 && !is_strand(fields[5])) {
      throw ImportError(path + ": line " + std::to_string(reader.number()) +
                        " has no strand (+, -, .) in column 6, unlike the "
                        "first row");
    }
    ExpressionGene gene;
    if (table.layout == ExpressionLayout::kTable) {
      gene.id = fields[0];
      gene.chrom = gene.start = gene.end = "NA";
    } else {
      gene.chrom = fields[0];
      gene.start = fields[1];
      gene.end = fields[2];
      gene.id = fields[3];
    }
    gene.values.reserve(table.samples.size());
    for (std::size_t k = fixed; k < fields.size(); ++k) {
      bool out_of_range = false;
      gene.values.push_back(parse_value(fields[k], out_of_range));
      if (out_of_range) {
        throw ImportError(path + ": gene " + gene.id + ": value '" +
                          std::string(fields[k]) +
                          "' is out of the range of a double");
      }
    }
    table.genes.push_back(std::move(gene));
  }
  if (first_row) {
    // Only a header: its sample columns still follow the layout's rule.
    fixed = bed ? 4 : 1;
    if (header.size() > fixed) {
      table.samples.assign(header.begin() + fixed, header.end());
    }
    table.layout = bed ? ExpressionLayout::kBed4 : ExpressionLayout::kTable;
  }
  std::unordered_set<std::string_view> seen;
  for (const std::string& s : table.samples) {
    if (!seen.insert(s).second) {
      throw ImportError(path + ": sample ID '" + s +
                        "' appears twice in the header");
    }
  }
  for (const ExpressionGene& gene : table.genes) {
    if (!gene_ids.insert(gene.id).second) {
      throw ImportError(path + ": gene ID '" + gene.id + "' appears twice");
    }
  }
  return table;
}

}  // namespace zirk_import
