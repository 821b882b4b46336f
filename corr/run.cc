#include "run.h"

#include <cblas.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "allele_table.h"
#include "class_ranks.h"
#include "common.h"
#include "corr_summary.h"
#include "data_folder.h"
#include "input.h"
#include "output_folder.h"
#include "pair_design.h"
#include "pair_rows.h"
#include "pair_variance.h"
#include "pairdata.h"
#include "progress_line.h"
#include "snp_copies.h"
#include "strata_file.h"
#include "stratified_tests.h"

namespace zirk_corr {
namespace {

// The rows' destination: standard output, or the file published at the end
// (a failed or stopped run leaves nothing under its name).
class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {
    if (path == "-") {
      stream_ = stdout;
      return;
    }
    try {
      file_.emplace(path);
    } catch (const zirk_formats::Failure& e) {
      throw CorrError(e.what());
    }
    stream_ = file_->stream();
  }

  // Returns 0, or the errno of a failed write.
  int write(const char* text, std::size_t length) {
    if (length > 0 && std::fwrite(text, 1, length, stream_) != length) {
      return errno != 0 ? errno : EIO;
    }
    return 0;
  }

  [[noreturn]] void fail(int error) {
    throw CorrError(path_ + ": cannot write: " + std::strerror(error));
  }

  void commit() {
    if (!file_) {
      if (std::fflush(stdout) != 0) fail(errno);
      return;
    }
    try {
      file_->commit();
    } catch (const zirk_formats::Failure& e) {
      throw CorrError(e.what());
    }
  }

 private:
  std::string path_;
  std::optional<zirk_formats::OutputFile> file_;
  std::FILE* stream_ = nullptr;
};

void check_readable(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    throw CorrError(path + ": cannot open: " + std::strerror(errno));
  }
  std::fclose(file);
}

// The design of `options`, checked against the run's SNPs and genes.
PairDesign read_design(const Options& options, std::size_t snps,
                       std::size_t genes, std::FILE* messages) {
  if (!options.cis_window && options.anchors.empty()) return PairDesign();
  zirk_report::DataFolder data;
  try {
    data = zirk_report::read_data_folder(options.data);
  } catch (const zirk_formats::Failure& e) {
    throw CorrError(e.what());
  }
  if (data.genes.size() != genes) {
    throw CorrError(
        options.data + "/genes.tsv: " + std::to_string(data.genes.size()) +
        " genes, but " + options.expression + " has " + std::to_string(genes));
  }
  if (data.snps.size() < options.snp_offset + snps) {
    throw CorrError(
        options.data + "/snps.tsv: " + std::to_string(data.snps.size()) +
        " SNPs, fewer than " + std::to_string(options.snp_offset) + " + the " +
        std::to_string(snps) + " of " + options.genotype);
  }
  return options.cis_window
             ? PairDesign::cis(data, *options.cis_window)
             : PairDesign::anchors(data, options.anchors, messages);
}

}  // namespace

void run(const Options& options, std::FILE* progress,
         const volatile std::sig_atomic_t& stop) {
  for (const std::string* path :
       {&options.genotype, &options.expression, &options.allele}) {
    check_readable(*path);
  }
  get_parmeters(options.genotype.c_str(), options.expression.c_str());
  const std::size_t individuals = static_cast<std::size_t>(n);
  const std::size_t genes = static_cast<std::size_t>(ngene);
  const std::size_t snps = static_cast<std::size_t>(ps);
  GenotypeMatrix gmat(individuals, 2 * snps);
  read_genotype(gmat, options.genotype.c_str());
  std::vector<double> values(genes * individuals);
  {
    RealMatrix emat(individuals, genes);
    read_expression(emat, options.expression.c_str());
    for (std::size_t g = 0; g < genes; ++g) {
      for (std::size_t i = 0; i < individuals; ++i) {
        values[g * individuals + i] = std::log10(emat(i, g));
      }
    }
  }
  // Every SNP's allele is settled before the output exists, so that an
  // allele file fault (which ends the process) leaves nothing behind.
  std::vector<char> reference(snps);
  {
    AlleleTable alleles(options.allele.c_str(), snps);
    for (std::size_t s = 0; s < snps; ++s) reference[s] = alleles.lookup(s);
  }
  const PairDesign design = read_design(options, snps, genes, progress);
  // members[s]: the individuals of stratum s, in order; one stratum of all
  // without strata. Each stratum's genes are sorted once, on their own.
  std::vector<std::vector<std::uint32_t>> members;
  const bool stratified = !options.strata.empty();
  if (stratified) {
    zirk_formats::Strata strata;
    try {
      strata = zirk_formats::read_strata(options.strata, individuals,
                                         options.genotype);
    } catch (const zirk_formats::Failure& e) {
      throw CorrError(e.what());
    }
    members.resize(strata.names.size());
    for (std::size_t i = 0; i < individuals; ++i) {
      members[strata.group[i]].push_back(static_cast<std::uint32_t>(i));
    }
  } else {
    members.emplace_back(individuals);
    for (std::size_t i = 0; i < individuals; ++i) {
      members[0][i] = static_cast<std::uint32_t>(i);
    }
  }
  const std::size_t strata = members.size();
  // And each stratum's pair caps, from the same individuals.
  std::vector<GeneOrders> orders;
  std::vector<PairVariance> variance;
  const bool empirical = options.variance == Variance::kEmpirical;
  if (!stratified) {
    orders.emplace_back(values, genes, individuals);
    if (empirical) {
      variance.emplace_back(values, genes, individuals, options.threads);
    }
  } else {
    std::vector<double> own;
    for (const std::vector<std::uint32_t>& m : members) {
      own.resize(genes * m.size());
      for (std::size_t g = 0; g < genes; ++g) {
        for (std::size_t j = 0; j < m.size(); ++j) {
          own[g * m.size() + j] = values[g * individuals + m[j]];
        }
      }
      orders.emplace_back(own, genes, m.size());
      if (empirical) {
        variance.emplace_back(own, genes, m.size(), options.threads);
      }
    }
  }
  values = std::vector<double>();

  // Each worker calls BLAS for its own panel; BLAS threads of its own would
  // compete with them and could change the rounding with the thread count.
  openblas_set_num_threads(1);
  const int threads = options.threads;
  std::vector<PanelWork> work(static_cast<std::size_t>(threads));
  PairOutput pairOutput;
  pairOutput.rows = !options.out.empty();
  pairOutput.max_p_key = options.max_p_key;
  pairOutput.summary = !options.summary.empty();
  if (pairOutput.summary) {
    for (PanelWork& w : work) w.summary.emplace(options.max_hits);
  }
  // One SNP's class ranks: per stratum, its individuals' classes, their
  // rows within their class and the class ranks; the stratified tests and
  // a design's correlations.
  struct SnpWork {
    std::vector<std::vector<std::uint8_t>> cls;
    std::vector<std::vector<std::uint32_t>> position;
    std::vector<ClassRanks> ranks;
    std::vector<std::array<int, 3>> cellSizes;
    StratifiedTests tests;
    AnchorBlock block;
  };
  const auto snp_work = [&] {
    SnpWork w;
    w.cls.resize(strata);
    for (std::size_t t = 0; t < strata; ++t) w.cls[t].resize(members[t].size());
    w.position.resize(strata);
    w.ranks.resize(strata);
    w.cellSizes.resize(strata);
    return w;
  };
  // The classes of SNP s and what follows from them alone.
  const auto classes = [&](std::size_t s, SnpWork& w) {
    for (std::size_t t = 0; t < strata; ++t) {
      for (std::size_t j = 0; j < members[t].size(); ++j) {
        const std::size_t i = members[t][j];
        w.cls[t][j] = static_cast<std::uint8_t>(
            genotype_class(gmat(i, 2 * s), gmat(i, 2 * s + 1), reference[s]));
      }
      prepare_class_ranks(w.cls[t], genes, options.min_class_size, w.ranks[t],
                          w.position[t]);
      w.cellSizes[t] = w.ranks[t].n;
    }
    if (stratified) w.tests = StratifiedTests(w.cellSizes);
  };
  const std::size_t panels = (genes + kPanelGenes - 1) / kPanelGenes;
  // Panel p of SNP `index` into `mine`, its pairs counted for `locals`.
  const auto panel = [&](const SnpWork& w, std::size_t index,
                         std::span<const std::size_t> locals, std::size_t p,
                         PanelWork& mine) {
    const std::size_t from = p * kPanelGenes;
    const std::size_t to = std::min(genes, (p + 1) * kPanelGenes);
    const AnchorBlock* panelDesign = design.all_pairs() ? nullptr : &w.block;
    if (stratified) {
      panel_rows(w.ranks, w.tests, variance, genes, index, locals, from, to,
                 panelDesign, pairOutput, mine);
    } else {
      panel_rows(w.ranks[0], empirical ? &variance[0] : nullptr, genes, index,
                 locals, from, to, panelDesign, pairOutput, mine);
    }
  };

  std::optional<Output> output;
  if (pairOutput.rows) {
    output.emplace(options.out);
    if (int error = output->write(kHeader, sizeof kHeader - 1)) {
      output->fail(error);
    }
  }
  // A summary of all pairs without rows computes each group of SNPs with
  // the same classes once (the rows of a design's SNP are its own).
  std::vector<std::vector<std::size_t>> copies;
  if (pairOutput.summary && !pairOutput.rows && design.all_pairs()) {
    copies = snp_copies(gmat, reference);
  }
  zirk_formats::ProgressLine line(progress);
  if (!output && genes >= 2) {
    // A summary alone: the threads take whole SNPs, each counting into its
    // own summary, whose merge does not depend on which thread took which
    // SNP; no thread waits for another's panels at every SNP.
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stopped{false};
#pragma omp parallel num_threads(threads)
    {
      const int thread = omp_get_thread_num();
      PanelWork& mine = work[static_cast<std::size_t>(thread)];
      SnpWork w = snp_work();
#pragma omp for schedule(dynamic, 1)
      for (std::size_t s = 0; s < snps; ++s) {
        if (stopped || stop) {
          stopped = true;
          continue;
        }
        const std::size_t seen = ++done;
        if (thread == 0 && line.due(std::chrono::milliseconds(200))) {
          line.show("zirk-corr: SNP %zu of %zu", seen, snps);
        }
        if (!copies.empty() && copies[s].empty()) continue;
        const std::size_t index = options.snp_offset + s;
        if (!design.all_pairs() && design.anchors(index).empty()) continue;
        classes(s, w);
        for (std::size_t t = 0; t < strata; ++t) {
          rank_genes(orders[t], w.cls[t], w.position[t], 0, genes, w.ranks[t]);
        }
        if (!design.all_pairs()) {
          anchor_block(w.ranks, genes, design.anchors(index), w.block);
        }
        const std::span<const std::size_t> locals =
            copies.empty() ? std::span<const std::size_t>(&s, 1)
                           : std::span<const std::size_t>(copies[s]);
        for (std::size_t p = 0; p < panels; ++p) {
          panel(w, index, locals, p, mine);
        }
      }
    }
    if (stopped) throw CorrError("interrupted by a signal; nothing written");
  }
  // Rows: the threads share each SNP's panels, whose rows are written in
  // order.
  if (output && genes >= 2) {
    SnpWork shared = snp_work();
    for (std::size_t s = 0; s < snps; ++s) {
      if (stop) throw CorrError("interrupted by a signal; nothing written");
      if (line.due(std::chrono::milliseconds(200))) {
        line.show("zirk-corr: SNP %zu of %zu", s + 1, snps);
      }
      const std::size_t index = options.snp_offset + s;
      if (!design.all_pairs() && design.anchors(index).empty()) continue;
      classes(s, shared);
      const std::span<const std::size_t> locals(&s, 1);
      int writeError = 0;
#pragma omp parallel num_threads(threads)
      {
#pragma omp for schedule(static)
        for (std::size_t task = 0; task < strata * panels; ++task) {
          const std::size_t t = task / panels, p = task % panels;
          rank_genes(orders[t], shared.cls[t], shared.position[t],
                     p * kPanelGenes, std::min(genes, (p + 1) * kPanelGenes),
                     shared.ranks[t]);
        }
#pragma omp single
        if (!design.all_pairs()) {
          anchor_block(shared.ranks, genes, design.anchors(index),
                       shared.block);
        }
        PanelWork& mine = work[static_cast<std::size_t>(omp_get_thread_num())];
#pragma omp for schedule(dynamic, 1) ordered
        for (std::size_t p = 0; p < panels; ++p) {
          panel(shared, index, locals, p, mine);
#pragma omp ordered
          if (writeError == 0) {
            writeError = output->write(mine.text.data(), mine.length);
          }
        }
      }
      if (writeError != 0) output->fail(writeError);
    }
  }
  line.clear();
  if (pairOutput.summary) {
    // The threads' summaries hold the SNPs numbered from 0; one shift puts
    // them at their index in the rows.
    zirk_report::CorrSummary& summary = *work[0].summary;
    for (PanelWork& w : work) flush_counts(w);
    for (std::size_t t = 1; t < work.size(); ++t) {
      summary.merge(std::move(*work[t].summary));
    }
    summary.shift_snps(options.snp_offset);
    try {
      zirk_report::write_corr_summary_file(summary, options.summary);
    } catch (const zirk_formats::Failure& e) {
      throw CorrError(e.what());
    }
  }
  if (output) {
    try {
      output->commit();
    } catch (const CorrError&) {
      if (options.summary != "-") std::remove(options.summary.c_str());
      throw;
    }
  }
}

}  // namespace zirk_corr
