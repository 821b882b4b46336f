// The tested pairs of one SNP, a panel of first genes at a time, with the
// class correlations taken from the Gram matrices of the standardised class
// ranks (BLAS) instead of a loop over individuals, written as rows, counted
// into a summary, or both.
//
// Row format (tab-separated, one line each):
//   snp gene1 gene2 n0 n1 n2 r0 r1 r2 log10_p_trend log10_p_het
// indices 0-based, gene1 < gene2; r_k "%.6f" or NA where class k is not
// usable for the pair; the log10 p-values "%.6f" (-inf where the p-value is
// 0) or NA with fewer than two usable classes. Rows come in the order of
// gene1, then gene2, whatever the design: a design's rows are those of all
// pairs with the untested ones left out.
//
// With strata (stratified_tests.h) the correlations are those of each
// (stratum, class) cell, from each cell's own Gram matrix; n_k is class k's
// size over all strata, r_k the tanh of the cells' Fisher z of class k
// weighted by n_sk - 3 over the strata where the cell is usable for the
// pair (NA where none is), and the two tests are the stratified ones.
//
// With a PairVariance (one per stratum with strata) each pair's weights take
// the larger of Bonett and Wright's variance and the pair's own
// (pair_variance.h); without, Bonett and Wright's alone.
#ifndef ZIRK_CORR_PAIR_ROWS_H_
#define ZIRK_CORR_PAIR_ROWS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "class_ranks.h"
#include "corr_summary.h"
#include "histogram.h"
#include "pair_variance.h"
#include "stratified_tests.h"

namespace zirk_corr {

inline constexpr char kHeader[] =
    "snp\tgene1\tgene2\tn0\tn1\tn2\tr0\tr1\tr2\tlog10_p_trend\tlog10_p_het\n";

// First genes per panel. The panel's Gram blocks take 24 * kPanelGenes bytes
// per gene, and the split never depends on the thread count, so neither do
// the BLAS calls nor their rounding.
inline constexpr std::size_t kPanelGenes = 64;

// What becomes of a SNP's pairs.
struct PairOutput {
  bool rows = true;  // formatted into PanelWork::text
  // Only the rows whose trend or het key (summary_key) is at most this.
  std::int64_t max_p_key = std::numeric_limits<std::int64_t>::max();
  bool summary = false;  // counted into PanelWork::summary
};

// A design's correlations at one SNP: every gene against each anchor.
struct AnchorBlock {
  std::vector<std::uint32_t> anchors;  // increasing
  std::vector<std::int32_t> column;    // per gene: its anchor number, or -1
  // gram[3 s + k]: genes x anchors, column-major, the correlations of
  // class k in stratum s (s = 0 without strata).
  std::vector<std::vector<double>> gram;
  std::vector<double> gathered;  // scratch: the anchors' columns of X_k
};

// Fills `block` for the SNP of `strata` (each stratum's class ranks; one
// entry without strata) and its `anchors` (increasing) among `genes` genes.
// BLAS must run single-threaded in the calling thread.
void anchor_block(std::span<const ClassRanks> strata, std::size_t genes,
                  std::span<const std::uint32_t> anchors, AnchorBlock& block);

// Scratch space and results of one thread, reused across panels.
struct PanelWork {
  // Entry 3 s + k of gram, r and z: class k of stratum s (s = 0 without
  // strata).
  std::vector<std::vector<double>> gram;
  // One first gene's pairs: its partners, each cell's correlation (gathered
  // where the Gram block does not hold them in a row) and Fisher z, the
  // trend's log10 p-value, het's, and which classes are usable.
  std::vector<std::uint32_t> partner;
  std::vector<std::vector<double>> r;
  std::vector<std::vector<double>> z;
  std::array<std::vector<double>, 3> pooled;  // with strata: the rows' r_k
  std::vector<std::vector<float>> cap;        // per stratum: the pairs' caps
  std::vector<double> trend;
  std::vector<double> het;
  std::vector<std::uint8_t> mask;
  // The trend's and het's summary keys (summary_key.h; the largest int64 for
  // NA).
  std::array<std::vector<std::int64_t>, 2> keys;
  std::vector<std::uint32_t> candidates;  // the pairs a family may keep
  // Per stratum and gene (s * genes + g): bit k if usable in class k.
  std::vector<std::uint8_t> classes;
  // "g\t" of each gene g below kLabelledGenes at 8 * g, padded, and its
  // length: the second gene of a row is copied instead of converted.
  std::vector<char> labels;
  std::vector<std::uint8_t> labelLength;
  std::vector<char> text;  // the rows: the first `length` characters
  std::size_t length = 0;
  // The summary of this thread's pairs, SNPs numbered as `locals` below.
  std::optional<zirk_report::CorrSummary> summary;
  // Into the histograms of summary's two families.
  std::array<zirk_report::NearZeroCounts, 2> counts;
};

// Moves the counts work.counts still holds into work.summary, which holds
// every pair panel_rows counted once this has run.
void flush_counts(PanelWork& work);

// Takes the pairs of SNP `snp` (its index in the rows) whose first gene
// lies in [first, last), in order: all pairs with a second gene in (first
// gene, genes) when `design` is null, else those with an anchor of the
// design's block. Formats their rows into work.text and sets work.length,
// and counts them into work.summary, as `output` says: once for each of
// `locals`, the numbers in the summary of the SNPs whose pairs these are
// (snp_copies.h; one SNP, whose rows they are, when rows are written).
// `ranks` holds the SNP's class ranks for `genes` genes; `variance` the
// pairs' caps, or null for Bonett and Wright's weights alone. BLAS must run
// single-threaded in the calling thread.
void panel_rows(const ClassRanks& ranks, const PairVariance* variance,
                std::size_t genes, std::size_t snp,
                std::span<const std::size_t> locals, std::size_t first,
                std::size_t last, const AnchorBlock* design,
                const PairOutput& output, PanelWork& work);

// panel_rows with strata: `strata` holds each stratum's class ranks and
// `tests` was constructed from their class sizes (in the same order);
// `variance` each stratum's caps, or is empty.
void panel_rows(std::span<const ClassRanks> strata,
                const StratifiedTests& tests,
                std::span<const PairVariance> variance, std::size_t genes,
                std::size_t snp, std::span<const std::size_t> locals,
                std::size_t first, std::size_t last, const AnchorBlock* design,
                const PairOutput& output, PanelWork& work);

}  // namespace zirk_corr

#endif  // ZIRK_CORR_PAIR_ROWS_H_
