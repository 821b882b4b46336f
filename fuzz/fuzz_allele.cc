// Fuzzes the allele lookup on the fuzz input in memory as the allele file:
// getallele's reader for SNPs 0 to 7, each from the stream's start as if
// just opened, and the engine's AlleleTable, which must reach the same
// allele or the same error message for every SNP.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "allele_table.h"
#include "common.h"
#include "fuzz_support.h"
#include "input.h"

namespace {

constexpr unsigned kSnps = 8;

struct Outcome {
  char allele = ' ';
  std::string message;  // empty when the allele was found
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // One stream for every read: rewind() leaves it as a fresh open would
  // (at the start, no end-of-file or error indicator, nothing buffered), and
  // opening a stream per SNP would cost more than the reads themselves.
  const MemoryFile file(data, size);
  Outcome expected[kSnps];
  for (unsigned s = 0; s < kSnps; ++s) {
    std::rewind(file.get());
    expected[s].message = run_to_exit([&] {
      expected[s].allele = input_detail::allele_of_snp(s, file.get());
    });
    if (expected[s].message.empty() &&
        !input_detail::is_allele(expected[s].allele)) {
      std::fprintf(stderr, "allele oracle: SNP %u accepted %d\n", s,
                   expected[s].allele);
      std::abort();
    }
  }

  std::unique_ptr<AlleleTable> table;
  std::rewind(file.get());
  const std::string opened = run_to_exit(
      [&] { table = std::make_unique<AlleleTable>(file.get(), kSnps); });
  if (!opened.empty()) {
    std::fprintf(stderr, "allele oracle: table failed: %s\n", opened.c_str());
    std::abort();
  }
  for (unsigned s = 0; s < kSnps; ++s) {
    Outcome got;
    got.message = run_to_exit([&] { got.allele = table->lookup(s); });
    if (got.message != expected[s].message ||
        (got.message.empty() && got.allele != expected[s].allele)) {
      std::fprintf(stderr,
                   "allele oracle: SNP %u: getallele gave '%c' \"%s\", "
                   "the table '%c' \"%s\"\n",
                   s, expected[s].allele, expected[s].message.c_str(),
                   got.allele, got.message.c_str());
      std::abort();
    }
  }
  return 0;
}
