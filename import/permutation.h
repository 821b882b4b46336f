// Permutations of the individuals for permutation tests, reproducible from
// a seed on every platform: std::mt19937_64's output is fixed by its
// definition, and the bounded draw and the shuffle are our own (the standard
// library's distributions and std::shuffle differ between implementations).
#ifndef ZIRK_IMPORT_PERMUTATION_H_
#define ZIRK_IMPORT_PERMUTATION_H_

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace zirk_import {

// A uniform draw from [0, bound) (bound > 0): rejects the generator outputs
// below 2^64 mod bound, so every remainder is equally likely.
std::uint64_t bounded_draw(std::mt19937_64& generator, std::uint64_t bound);

// A uniform random permutation of 0 .. size-1 by Fisher–Yates, from the last
// position down, drawing with bounded_draw.
std::vector<std::size_t> random_permutation(std::mt19937_64& generator,
                                            std::size_t size);

// `count` successive permutations of 0 .. size-1 from one generator seeded
// with `seed`.
std::vector<std::vector<std::size_t>> permutations(std::uint64_t seed,
                                                   std::size_t count,
                                                   std::size_t size);

// `count` successive permutations of 0 .. size-1 (size = group.size()) that
// keep every position within its group: position i gets a position j with
// group[j] == group[i]. One generator seeded with `seed`; each permutation
// shuffles the groups in the order of their indices, each group's positions
// by random_permutation.
std::vector<std::vector<std::size_t>> permutations_within(
    std::uint64_t seed, std::size_t count,
    const std::vector<std::uint32_t>& group);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_PERMUTATION_H_
