#include "permutation.h"

#include <numeric>
#include <utility>

namespace zirk_import {

std::uint64_t bounded_draw(std::mt19937_64& generator, std::uint64_t bound) {
  const std::uint64_t threshold = (0 - bound) % bound;  // 2^64 mod bound
  while (true) {
    const std::uint64_t r = generator();
    if (r >= threshold) return r % bound;
  }
}

std::vector<std::size_t> random_permutation(std::mt19937_64& generator,
                                            std::size_t size) {
  std::vector<std::size_t> order(size);
  std::iota(order.begin(), order.end(), std::size_t{0});
  for (std::size_t i = size; i > 1; --i) {
    const std::size_t j = bounded_draw(generator, i);
    std::swap(order[i - 1], order[j]);
  }
  return order;
}

std::vector<std::vector<std::size_t>> permutations(std::uint64_t seed,
                                                   std::size_t count,
                                                   std::size_t size) {
  std::mt19937_64 generator(seed);
  std::vector<std::vector<std::size_t>> result;
  for (std::size_t k = 0; k < count; ++k) {
    result.push_back(random_permutation(generator, size));
  }
  return result;
}

std::vector<std::vector<std::size_t>> permutations_within(
    std::uint64_t seed, std::size_t count,
    const std::vector<std::uint32_t>& group) {
  std::vector<std::vector<std::size_t>> members;
  for (std::size_t i = 0; i < group.size(); ++i) {
    if (group[i] >= members.size()) members.resize(group[i] + 1);
    members[group[i]].push_back(i);
  }
  std::mt19937_64 generator(seed);
  std::vector<std::vector<std::size_t>> result;
  for (std::size_t k = 0; k < count; ++k) {
    std::vector<std::size_t> order(group.size());
    for (const std::vector<std::size_t>& m : members) {
      const std::vector<std::size_t> local =
          random_permutation(generator, m.size());
      for (std::size_t j = 0; j < m.size(); ++j) order[m[j]] = m[local[j]];
    }
    result.push_back(std::move(order));
  }
  return result;
}

}  // namespace zirk_import
