// Fuzzes zirk-import's expression-table reader (phenotype BED or plain
// table) on the fuzz input in memory, as lines of text: the importer hands
// the same parsing code the lines of the file, which htslib's BGZF layer has
// decompressed (that layer parses nothing of ours). Beyond "no crash": an
// accepted table has one value per header sample in every row, unique sample
// and gene IDs, "NA" positions in the plain layout and only finite or NaN
// values, each of which reads back from its written text to the same double; a
// rejected one names the file first.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "expression_table.h"
#include "expression_values.h"
#include "import_error.h"
#include "text_lines.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "expression table oracle: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const std::string path = "expression_table.txt";
  zirk_import::LineReader reader(
      std::string_view(reinterpret_cast<const char*>(data), size), path);
  zirk_import::ExpressionTable table;
  try {
    table = zirk_import::read_expression_table(reader);
  } catch (const zirk_import::ImportError& e) {
    if (std::strncmp(e.what(), (path + ": ").c_str(), path.size() + 2) != 0) {
      fail("an error that does not name the file");
    }
    return 0;
  }
  if (std::set<std::string>(table.samples.begin(), table.samples.end())
          .size() != table.samples.size()) {
    fail("a repeated sample ID accepted");
  }
  std::set<std::string> genes;
  for (const zirk_import::ExpressionGene& gene : table.genes) {
    if (!genes.insert(gene.id).second) fail("a repeated gene ID accepted");
    if (gene.values.size() != table.samples.size()) fail("a ragged row");
    if (table.layout == zirk_import::ExpressionLayout::kTable &&
        gene.chrom != "NA") {
      fail("a position in a plain table");
    }
    for (double v : gene.values) {
      if (std::isinf(v)) fail("an infinite value");
      if (std::isnan(v)) continue;
      std::string text;
      zirk_import::append_value(text, v);
      double back = 0;
      const auto r =
          std::from_chars(text.data(), text.data() + text.size(), back);
      if (r.ec != std::errc() || back != v)
        fail("a value that does not round-trip");
    }
  }
  return 0;
}
