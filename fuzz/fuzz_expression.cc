// Fuzzes the expression side of the dimension scan and the expression
// reader on the fuzz input in memory. The first input byte picks the number
// of individuals (0, 1 or 3, as a genotype scan would have set it) and
// whether the stream can seek like a file or not like a pipe; the rest is
// the expression file. The fast number scan is also checked against the
// plain fscanf loop on the same bytes, for a count of 1 to 16 numbers taken
// from the first byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "fuzz_support.h"
#include "input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const std::int32_t individuals[] = {0, 1, 3};
  if (size == 0) return 0;
  const std::int32_t picked = individuals[data[0] % 3];
  const std::size_t count = data[0] / 3 % 16 + 1;
  const bool seekable = data[0] / 48 % 2 == 0;
  const std::uint8_t* text = data + 1;
  const std::size_t length = size - 1;

  RealMatrix emat;
  const std::string message = run_to_exit([&] {
    n = picked;
    std::vector<char> piece(input_detail::expression_scan_buffer_size(n));
    input_detail::count_expression_pieces(
        MemoryFile(text, length, seekable).get(), piece.data());
    emat.resize(n, ngene, false);
    std::vector<double> values(input_detail::expression_value_count(n, ngene));
    input_detail::read_expression_values(
        emat, MemoryFile(text, length, seekable).get(), values.data());
  });
  if (message.empty() && (n != picked || ngene < 0)) {
    std::fprintf(stderr, "expression oracle: n = %d, ngene = %d\n", n, ngene);
    std::abort();
  }

  double fast[16];
  double slow[16];
  const MemoryFile a(text, length, seekable);
  const MemoryFile b(text, length);
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
