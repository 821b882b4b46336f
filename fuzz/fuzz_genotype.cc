// Fuzzes the genotype scan and the genotype reader on the fuzz input in
// memory, as the genotype file. A file the scan accepts must load into a matrix whose
// cells are the allele characters at positions 4j and 4j + 2 of each line,
// as a plain split of the file into lines shows them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "fuzz_support.h"
#include "input.h"

namespace {

[[noreturn]] void fail(const char* what, std::size_t row, std::size_t column) {
  std::fprintf(stderr, "genotype oracle: %s at row %zu, column %zu\n", what,
               row, column);
  std::abort();
}

// The lines of the file: text up to each newline, and a last line without
// newline when the file does not end with one.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

void check_loaded(std::string_view text, const GenotypeMatrix& gmat) {
  const std::vector<std::string_view> lines = split_lines(text);
  if (n < 0 || ps < 0) fail("negative dimension", 0, 0);
  if (static_cast<std::size_t>(n) != lines.size()) {
    fail("n differs from the line count", lines.size(), 0);
  }
  for (std::size_t i = 0; i < gmat.size1(); ++i) {
    for (std::size_t c = 0; c < gmat.size2(); ++c) {
      const std::size_t position = 2 * c;  // 4j and 4j + 2
      if (position >= lines[i].size()) fail("allele past line end", i, c);
      if (!input_detail::is_allele(gmat(i, c))) fail("not an allele", i, c);
      if (gmat(i, c) != lines[i][position]) fail("wrong allele", i, c);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The scan's buffer, allocated once: the scan reads only what each line
  // read wrote into it, so what an earlier input left there does not matter.
  static const input_detail::Buffer line =
      input_detail::allocate_buffer(input_detail::kGenotypeScanBufferSize);
  GenotypeMatrix gmat;
  const std::string message = run_to_exit([&] {
    input_detail::scan_genotype(MemoryFile(data, size).get(), line.get());
    gmat.resize(n, 2 * static_cast<std::size_t>(ps), false);
    input_detail::Buffer row =
        input_detail::allocate_buffer(input_detail::genotype_buffer_size(ps));
    input_detail::read_genotype_rows(gmat, MemoryFile(data, size).get(),
                                     row.get());
  });
  if (message.empty()) {
    check_loaded(std::string_view(reinterpret_cast<const char*>(data), size),
                 gmat);
  }
  return 0;
}
