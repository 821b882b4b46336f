// Fuzzes the expression side of the dimension scan and the expression
// reader. The first input byte picks a fixed genotype file of 0, 1 or 3
// individuals; the rest is the expression file. The fast number scan is also
// checked against the plain fscanf loop on the same bytes, for a count of 1
// to 16 numbers taken from the first byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common.h"
#include "fuzz_support.h"
#include "input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const std::string genotypes[] = {
      write_scratch("genotype0.txt", ""),
      write_scratch("genotype1.txt", "A C\n"),
      write_scratch("genotype3.txt", "A T G G\nT T G C\nA A C C\n"),
  };
  static const std::int32_t individuals[] = {0, 1, 3};
  if (size == 0) return 0;
  const std::size_t pick = data[0] % 3;
  const std::string expression =
      write_scratch("expression.txt", data + 1, size - 1);
  RealMatrix emat;
  const std::string message = run_to_exit([&] {
    get_parmeters(genotypes[pick].c_str(), expression.c_str());
    emat.resize(n, ngene, false);
    read_expression(emat, expression.c_str());
  });
  if (message.empty() && (n != individuals[pick] || ngene < 0)) {
    std::fprintf(stderr, "expression oracle: n = %d, ngene = %d\n", n, ngene);
    std::abort();
  }

  const std::size_t count = data[0] / 3 % 16 + 1;
  double fast[16];
  double slow[16];
  input_detail::File a(std::fopen(expression.c_str(), "r"));
  input_detail::File b(std::fopen(expression.c_str(), "r"));
  if (!a || !b) std::abort();
  const auto outcome = input_detail::scan_numbers(a.get(), fast, count);
  if (outcome !=
      input_detail::scan_numbers_with_fscanf(b.get(), slow, 0, count)) {
    std::fprintf(stderr, "number scan oracle: outcomes differ\n");
    std::abort();
  }
  if (outcome == input_detail::NumberScan::kRead &&
      std::memcmp(fast, slow, count * sizeof(double)) != 0) {
    std::fprintf(stderr, "number scan oracle: values differ\n");
    std::abort();
  }
  return 0;
}
