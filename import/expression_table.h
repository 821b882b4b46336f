// The expression input: a phenotype BED (a '#' header of chrom, start, end
// and ID, optionally two more fixed columns, then one column per sample) or
// a plain gene-by-sample table with a header row of sample IDs; plain, gzip
// or bgzip text, read through htslib's BGZF layer.
#ifndef ZIRK_IMPORT_EXPRESSION_TABLE_H_
#define ZIRK_IMPORT_EXPRESSION_TABLE_H_

#include <string>
#include <string_view>
#include <vector>

namespace zirk_import {

class LineReader;

enum class ExpressionLayout { kBed4, kBed6, kTable };

// "bed4", "bed6" or "table".
const char* layout_name(ExpressionLayout layout);

struct ExpressionGene {
  std::string id;
  // As written in the BED file; "NA" for a plain table.
  std::string chrom, start, end;
  // One value per sample of the header; NaN where the text is not a number
  // (NA, empty, "nan", "inf", trailing garbage).
  std::vector<double> values;
};

struct ExpressionTable {
  ExpressionLayout layout = ExpressionLayout::kTable;
  std::vector<std::string> samples;
  std::vector<ExpressionGene> genes;
};

// Reads the whole table from `path` ("-" is standard input). The layout is
// told by the first line: a '#' header is a BED file, whose sixth column is
// a fixed strand column when the first data row holds +, - or . there (and
// then every row must); any other first line is the header of a plain
// table, whose data rows may have one field more than the header (a header
// without a name for the ID column). Fields are tab-separated when the
// header holds a tab, otherwise separated by runs of blanks. Throws
// ImportError naming `path` when the file cannot be read, has no header, a
// row's field count differs from the header's or it lacks its strand, a
// sample or gene ID repeats, or a value is out of the range of a double.
ExpressionTable read_expression_table(const std::string& path);
// The same from the lines of `reader`, the messages naming reader.name().
ExpressionTable read_expression_table(LineReader& reader);

// Parses one value field: the number it holds, NaN when it is not wholly a
// finite decimal number. Sets `out_of_range` for a number beyond a double.
double parse_value(std::string_view text, bool& out_of_range);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_EXPRESSION_TABLE_H_
