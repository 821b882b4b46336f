// The production screening engine.
//
// It prints exactly what the straightforward loop of run_zirk() prints, on
// standard output, standard error and in the result file, for every input,
// but organises the work for speed:
// - the base-10 logarithms of the expression values are taken once per run;
// - every individual's genotype class, and every gene's class sizes, sums
//   and sums of squares, once per SNP;
// - the class and whole-sample cross-products of many gene pairs run side by
//   side in SIMD lanes, each lane summing in the individual order of the
//   straightforward loop, so every sum is bit-identical;
// - the MC statistics of four pairs are formed side by side (mc_tile.h), and
//   the printed log10 of the p-value and the threshold test are settled from
//   one logarithm wherever a bounded error cannot change them, from the
//   exact p-value elsewhere (McJudge in mc_tail.h);
// - the LDA value and the interaction test use allocation-free fixed-size
//   model code that repeats the general code's arithmetic;
// - rows are formatted without printf into large buffers and written in loop
//   order;
// - the pairs of a SNP are spread over the CPUs the process may use
//   (OpenMP; OMP_NUM_THREADS is honoured).
// While standard error is a terminal a progress line is shown there and
// erased at the end; otherwise nothing is added.
//
// Peak memory in bytes, for n individuals, ngene genes, ps SNPs and T
// threads: about 24 n ngene (the log values by individual and by gene, and
// the current SNP's copy grouped by class) + min(4 ngene^2, 256 MiB) (the
// whole-sample sums kept across SNPs) + 2 n ps (the genotypes) + T (1.5 MiB
// + 1.5 KiB n) (rows waiting to be written, chunk sums, the columns of a
// chunk's first genes, model workspace), on top of the program's own 8 MiB
// or so.
#ifndef ZIRK_ENGINE_H_
#define ZIRK_ENGINE_H_

#include <cstddef>

// The whole-sample term of a gene pair's MC statistic is the same at every
// SNP: while the terms of all pairs fit in this many bytes (up to about 8,192
// genes) they are computed at the first SNP and read back at the others;
// beyond it they are computed again at every SNP.
inline constexpr std::size_t kWholeCacheBytes = std::size_t{256} << 20;

// The whole run with the production engine. Returns the exit status.
// `wholeCacheBytes` bounds the kept whole-sample terms as above; the program
// uses kWholeCacheBytes, and a test lowers it to reach the path without them
// on small data.
int run_engine(int argc, char** argv,
               std::size_t wholeCacheBytes = kWholeCacheBytes);

#endif  // ZIRK_ENGINE_H_
