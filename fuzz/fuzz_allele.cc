// Fuzzes the allele lookup with the fuzz input as the allele file: getallele
// for SNPs 0 to 7, each call on its own, and the engine's AlleleTable, which
// must reach the same allele or the same error message for every SNP.
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
  const std::string path = write_scratch("allele.txt", data, size);
  Outcome expected[kSnps];
  for (unsigned s = 0; s < kSnps; ++s) {
    expected[s].message =
        run_to_exit([&] { getallele(s, expected[s].allele, path.c_str()); });
    if (expected[s].message.empty() &&
        !input_detail::is_allele(expected[s].allele)) {
      std::fprintf(stderr, "allele oracle: SNP %u accepted %d\n", s,
                   expected[s].allele);
      std::abort();
    }
  }

  std::unique_ptr<AlleleTable> table;
  const std::string opened = run_to_exit(
      [&] { table = std::make_unique<AlleleTable>(path.c_str(), kSnps); });
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
