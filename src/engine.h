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
// - the LDA value and the interaction test use allocation-free fixed-size
//   model code that repeats the general code's arithmetic;
// - rows are formatted into large buffers and written in loop order;
// - the pairs of a SNP are spread over the CPUs the process may use
//   (OpenMP; OMP_NUM_THREADS is honoured).
// While standard error is a terminal a progress line is shown there and
// erased at the end; otherwise nothing is added.
//
// Peak memory, beyond the genotype matrix (2 n ps bytes): about
// 24 n ngene + 100 ngene bytes for the logarithms and the per-SNP class
// summaries, plus per thread one chunk of rows (at most
// max(ngene, 4096) rows of up to 60 bytes) and the model workspace
// (about 100 n bytes).
#ifndef ZIRK_ENGINE_H_
#define ZIRK_ENGINE_H_

// The whole run with the production engine. Returns the exit status.
int run_engine(int argc, char** argv);

#endif  // ZIRK_ENGINE_H_
