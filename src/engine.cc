#include "engine.h"

#include <fcntl.h>
#include <omp.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "allele_table.h"
#include "common.h"
#include "driver.h"
#include "fixed_model.h"
#include "mc_tail.h"
#include "mc_tile.h"
#include "pairdata.h"
#include "progress_line.h"
#include "row_format.h"
#include "screen.h"

namespace {

// Gene pairs whose cross-products one kernel call sums side by side.
constexpr std::size_t kBlock = 32;
// Pairs per unit of parallel work: at most kChunkPairs, so that a chunk of
// rows stays a few hundred KiB, and fewer when a SNP has few pairs, so that
// every thread gets kChunksPerThread chunks of each SNP and no thread waits
// long for the last one; but at least kMinChunkPairs, to keep the hand-over
// rare.
constexpr std::size_t kChunkPairs = 2048;
constexpr std::size_t kMinChunkPairs = 256;
constexpr std::size_t kChunksPerThread = 16;

using Vec4 = double __attribute__((vector_size(32)));
constexpr std::size_t kVectors = kBlock / 4;

// For the pairs (g1, b + l), l < kBlock, sums left[i] * block[i * kBlock + l]
// over the `rows` rows, in row order and starting from 0.0, each lane on its
// own: out[l] is then bit-identical to the running sum of the straightforward
// loop. No multiply-add is fused. `left` holds gene g1's values and `block`
// the block's, both packed so that the loop reads memory in order.
__attribute__((target_clones("avx2", "default"))) void cross_sums(
    const double* left, const double* block, std::size_t rows, double* out) {
  Vec4 sums[kVectors] = {};
  for (std::size_t i = 0; i < rows; ++i) {
    const Vec4 broadcast = {left[i], left[i], left[i], left[i]};
#pragma GCC unroll 8
    for (std::size_t v = 0; v < kVectors; ++v) {
      Vec4 right;
      std::memcpy(&right, block + i * kBlock + 4 * v, sizeof right);
      sums[v] += broadcast * right;
    }
  }
  std::memcpy(out, sums, sizeof sums);
}

// The text of a chunk's rows, formatted in place.
class RowBuffer {
 public:
  // Returns room for `bytes` more characters at the end; extend() then
  // takes what was written there.
  char* room(std::size_t bytes) {
    if (text_.size() - size_ < bytes) {
      text_.resize(std::max(2 * text_.size(), size_ + bytes));
    }
    return text_.data() + size_;
  }
  void extend(const char* end) {
    size_ = static_cast<std::size_t>(end - text_.data());
  }
  void append(const char* text, std::size_t bytes) {
    std::memcpy(room(bytes), text, bytes);
    size_ += bytes;
  }
  const char* data() const { return text_.data(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  void swap(RowBuffer& other) {
    text_.swap(other.text_);
    std::swap(size_, other.size_);
  }

 private:
  std::vector<char> text_;
  std::size_t size_ = 0;
};

// The signals that stop a run (Ctrl-C, kill, a closed terminal, Ctrl-\\).
// While the rows are computed and written they are held back in every
// thread, and let through only between whole chunks of rows, so that a
// stopped run leaves whole rows: a signal that any other thread could take
// would end the process in the middle of a write.
class StopSignals {
 public:
  // Holds the stop signals back in the calling thread and in the threads it
  // starts from now on; those that were held back already stay so.
  StopSignals() {
    sigset_t all;
    sigemptyset(&all);
    for (int signal : kSignals) sigaddset(&all, signal);
    pthread_sigmask(SIG_BLOCK, &all, &previous_);
    sigemptyset(&stops_);
    for (int signal : kSignals) {
      if (!sigismember(&previous_, signal)) sigaddset(&stops_, signal);
    }
  }
  ~StopSignals() { release(); }

  // Lets a stop signal that has arrived take effect in the calling thread
  // (ending the process); returns if none has.
  void deliver_pending() const {
    sigset_t pending;
    if (sigpending(&pending) != 0) return;
    for (int signal : kSignals) {
      if (sigismember(&stops_, signal) && sigismember(&pending, signal)) {
        pthread_sigmask(SIG_UNBLOCK, &stops_, nullptr);
        pthread_sigmask(SIG_BLOCK, &stops_, nullptr);
        return;
      }
    }
  }

  // Restores the calling thread's signal mask; a signal that arrived
  // meanwhile takes effect now.
  void release() {
    if (released_) return;
    released_ = true;
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  sigset_t previous_;
  sigset_t stops_;
  bool released_ = false;
};

// The result file after its head: rows are appended in whole chunks, and a
// stop signal takes effect only between them. A write that fails part-way
// is cut back to the last whole chunk before the run ends with an error.
class RowWriter {
 public:
  RowWriter(const char* fileName, const StopSignals& stops)
      : fileName_(fileName), stops_(stops) {}
  ~RowWriter() {
    if (fd_ >= 0) ::close(fd_);
  }

  void write(const RowBuffer& rows) {
    if (rows.empty()) return;
    if (fd_ < 0) open_file();
    std::size_t done = 0;
    while (done < rows.size()) {
      const ssize_t wrote =
          ::write(fd_, rows.data() + done, rows.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        // Cut a torn tail back to the last whole chunk (best effort: the
        // run ends with the same error either way).
        if (done > 0 && ::ftruncate(fd_, committed_) != 0) {
          error("Cannot write the output file.");
        }
        error("Cannot write the output file.");
      }
      done += static_cast<std::size_t>(wrote);
    }
    committed_ += static_cast<off_t>(done);
    stops_.deliver_pending();
  }

  void close_file() {
    if (fd_ >= 0 && ::close(fd_) != 0) {
      fd_ = -1;
      error("Cannot write the output file.");
    }
    fd_ = -1;
  }

 private:
  void open_file() {
    fd_ = ::open(fileName_, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) error("Cannot open the output file.");
    committed_ = ::lseek(fd_, 0, SEEK_END);
  }

  const char* fileName_;
  const StopSignals& stops_;
  int fd_ = -1;
  off_t committed_ = 0;
};

// The progress line on standard error, only while it is a terminal.
class Progress {
 public:
  Progress(std::size_t snps, std::uint64_t pairsPerSnp)
      : line_(stderr, snps > 0),
        snps_(snps),
        total_(static_cast<double>(pairsPerSnp) * static_cast<double>(snps)),
        start_(std::chrono::steady_clock::now()) {}

  void update(std::size_t snp, std::uint64_t pairsDone) {
    if (!line_.due(std::chrono::milliseconds(500))) return;
    const double seconds = std::chrono::duration<double>(
                               std::chrono::steady_clock::now() - start_)
                               .count();
    const double rate = static_cast<double>(pairsDone) / seconds;
    const double left = rate > 0 ? (total_ - pairsDone) / rate : 0.0;
    line_.show("SNP %zu of %zu, %.3g pairs/s, %.0f s left", snp + 1, snps_,
               rate, left);
  }

  void finish() { line_.clear(); }

 private:
  zirk_formats::ProgressLine line_;
  std::size_t snps_;
  double total_;
  std::chrono::steady_clock::time_point start_;
};

// Everything about the current SNP that does not depend on the gene pair.
struct SnpSummary {
  std::vector<std::uint8_t> cls;  // genotype class per individual
  double nvec[3] = {0.0, 0.0, 0.0};
  std::size_t classEnd[3] = {0, 0, 0};  // row ranges of `byClass`
  // The log table (block-major, as RunData::byBlock) with its rows grouped
  // by class, each class's rows in individual order, so that a class's
  // cross-products are a sum over consecutive rows.
  std::vector<double> byClass;
  std::vector<std::size_t> source;  // the individual of each row of byClass
  // Per class k and gene g (index k * genes + g): the sum and the sum of
  // squares of the log values over the class, and the class variance.
  std::vector<double> sum;
  std::vector<double> sumSquares;
  std::vector<double> mean;
  std::vector<double> variance;
  // An empty class makes every pair's MC statistic NaN and its p-value the
  // fixed 1.0; unless the threshold exceeds 1, every pair is then pruned.
  bool everyPairPruned = false;
};

struct RunData {
  std::size_t individuals = 0;
  std::size_t genes = 0;
  std::size_t stride = 0;  // genes rounded up to whole blocks, plus one
  // log10 values, block-major: the kBlock genes of each block, individual by
  // individual (individual i, gene g at block_index(g) + i * kBlock), so that
  // a block's rows are consecutive. Padded with zeros.
  std::vector<double> byBlock;
  std::vector<double> byGene;    // log10 values, gene-major
  std::vector<double> mean;      // mommat(g,0)
  std::vector<double> variance;  // whole-sample variance of gene g
  double total = 0.0;            // n as a double
  double threshold = 0.0;
  McJudge judge{0.0};
  double ldaBound = 0.0;

  // Where individual 0's value of gene g is in a block-major table.
  std::size_t block_index(std::size_t g) const {
    return g / kBlock * individuals * kBlock + g % kBlock;
  }
};

// The whole-sample terms kept across SNPs (see kWholeCacheBytes): computed
// at the first SNP that needs them and read back at the others.
class WholeSampleCache {
 public:
  WholeSampleCache(std::size_t genes, std::size_t limitBytes) : genes_(genes) {
    const std::size_t pairs = genes < 2 ? 0 : genes * (genes - 1) / 2;
    // Padded so that the last pair's terms can be read kMcLanes at a time.
    if (pairs * sizeof(double) <= limitBytes) {
      sums_.resize(pairs + kMcLanes);
    }
  }
  bool enabled() const { return !sums_.empty(); }
  // True once every pair's sum is held.
  bool ready() const { return ready_; }
  void mark_ready() { ready_ = enabled(); }
  double& at(std::size_t g1, std::size_t g2) {
    return sums_[g1 * genes_ - g1 * (g1 + 1) / 2 + (g2 - g1 - 1)];
  }

 private:
  std::size_t genes_;
  std::vector<double> sums_;
  bool ready_ = false;
};

// The class of every individual at SNP s against the reference allele R.
void class_individuals(const GenotypeMatrix& gmat, std::size_t s, char R,
                       std::vector<std::uint8_t>& cls) {
  const std::size_t c = 2 * s;
  for (std::size_t i = 0; i < cls.size(); ++i) {
    cls[i] = static_cast<std::uint8_t>(
        genotype_class(gmat(i, c), gmat(i, c + 1), R));
  }
}

void summarise_snp(const RunData& data, SnpSummary& snp) {
  // Class sizes and row ranges come first; when an empty class settles
  // every pair, the sums are not needed.
  const std::size_t n = data.individuals;
  const std::size_t genes = data.genes;
  const std::size_t stride = data.stride;
  std::size_t count[3] = {0, 0, 0};
  for (std::uint8_t k : snp.cls) ++count[k];
  // Class sizes as the accumulation pass forms them: classes 0 and 1 counted
  // in steps of 1.0, class 2 as the remainder.
  snp.nvec[0] = static_cast<double>(count[0]);
  snp.nvec[1] = static_cast<double>(count[1]);
  snp.nvec[2] = (data.total - snp.nvec[0]) - snp.nvec[1];
  snp.classEnd[0] = count[0];
  snp.classEnd[1] = count[0] + count[1];
  snp.classEnd[2] = n;
  snp.everyPairPruned =
      (snp.nvec[0] == 0 || snp.nvec[1] == 0 || snp.nvec[2] == 0) &&
      !(data.threshold > 1.0);
  if (snp.everyPairPruned) return;

  std::size_t order[3] = {0, snp.classEnd[0], snp.classEnd[1]};
  std::vector<std::size_t>& source = snp.source;
  for (std::size_t i = 0; i < n; ++i) source[order[snp.cls[i]]++] = i;
  // Block by block, on every thread: the class-ordered copy of the block's
  // rows, then each gene's class sums, in row order, and moments.
  const std::ptrdiff_t blocks = static_cast<std::ptrdiff_t>(stride / kBlock);
#pragma omp parallel for schedule(static)
  for (std::ptrdiff_t block = 0; block < blocks; ++block) {
    const std::size_t b = static_cast<std::size_t>(block) * kBlock;
    const double* from = &data.byBlock[data.block_index(b)];
    double* to = &snp.byClass[data.block_index(b)];
    for (std::size_t row = 0; row < n; ++row) {
      std::memcpy(to + row * kBlock, from + source[row] * kBlock,
                  kBlock * sizeof(double));
    }
    if (b >= genes) continue;  // the padding block
    const std::size_t width = std::min(kBlock, genes - b);
    std::size_t begin = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      double* sum = &snp.sum[k * genes + b];
      double* squares = &snp.sumSquares[k * genes + b];
      std::fill(sum, sum + width, 0.0);
      std::fill(squares, squares + width, 0.0);
      for (std::size_t row = begin; row < snp.classEnd[k]; ++row) {
        const double* x = to + row * kBlock;
        for (std::size_t l = 0; l < width; ++l) {
          sum[l] += x[l];
          squares[l] += x[l] * x[l];
        }
      }
      const double c = snp.nvec[k];
      double* mean = &snp.mean[k * genes + b];
      double* variance = &snp.variance[k * genes + b];
      for (std::size_t l = 0; l < width; ++l) {
        mean[l] = sum[l] / c;
        variance[l] = squares[l] / c - mean[l] * mean[l];
      }
      begin = snp.classEnd[k];
    }
  }
}

// The whole sample's term of a pair's MC statistic, n ln|S|, from the sum
// of the two genes' log products over all individuals. It is the same at
// every SNP.
double whole_sample_term(const RunData& data, std::size_t g1, std::size_t g2,
                         double wholeCross) {
  const double c32 = wholeCross / data.total - data.mean[g1] * data.mean[g2];
  return std::log(data.variance[g1] * data.variance[g2] - c32 * c32) *
         data.total;
}

struct ChunkTotals {
  std::uint64_t pairs = 0;
  std::uint64_t prunings = 0;
};

// The rows of chunks that threads finish in any order, written in chunk
// order. A thread may run ahead of the oldest unwritten chunk by at most
// `window` chunks, which bounds the rows held in memory.
class OrderedRows {
 public:
  OrderedRows(RowWriter& writer, Progress& progress, std::size_t window)
      : writer_(writer), progress_(progress), slots_(window) {}

  // Starts a SNP whose chunks are numbered from 0.
  void start_snp(std::size_t s) {
    snp_ = s;
    next_ = 0;
    written_.store(0, std::memory_order_release);
  }

  // Waits until chunk c may be held: chunk c - window has been written.
  void wait_for_room(std::size_t c) const {
    while (c >= written_.load(std::memory_order_acquire) + slots_.size()) {
      std::this_thread::yield();
    }
  }

  // Takes over chunk c's rows (leaving `rows` empty). Unless another thread
  // is writing, the calling thread then writes every chunk that is next in
  // order, outside the lock, so that threads handing over chunks meanwhile
  // need not wait for the file.
  void finish(std::size_t c, RowBuffer& rows, const ChunkTotals& totals) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[c % slots_.size()];
    slot.rows.swap(rows);
    rows.clear();
    slot.totals = totals;
    slot.ready = true;
    if (writing_) return;
    writing_ = true;
    for (Slot* next = &slots_[next_ % slots_.size()]; next->ready;
         next = &slots_[next_ % slots_.size()]) {
      // No other thread touches this slot until written_ passes it.
      lock.unlock();
      writer_.write(next->rows);
      lock.lock();
      run_.pairs += next->totals.pairs;
      run_.prunings += next->totals.prunings;
      progress_.update(snp_, run_.pairs);
      next->ready = false;
      written_.store(++next_, std::memory_order_release);
    }
    writing_ = false;
  }

  const ChunkTotals& run() const { return run_; }

 private:
  struct Slot {
    RowBuffer rows;
    ChunkTotals totals;
    bool ready = false;
  };
  RowWriter& writer_;
  Progress& progress_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::size_t snp_ = 0;
  std::size_t next_ = 0;  // the oldest chunk not yet written
  bool writing_ = false;  // a thread is writing chunks from next_ on
  std::atomic<std::size_t> written_{0};
  ChunkTotals run_;
};

// The four cross-product sums (whole sample, classes 0, 1, 2) of every pair
// of a chunk. Only the second genes from the chunk's first block on are
// held, so the tail chunks, which span many first genes with few pairs
// each, stay small.
class ChunkSums {
 public:
  void reset(std::size_t firstGene, std::size_t endGene, std::size_t stride) {
    firstGene_ = firstGene;
    base_ = (firstGene + 1) / kBlock * kBlock;
    width_ = stride - base_;
    sums_.resize((endGene - firstGene) * 4 * width_);
  }
  std::size_t base() const { return base_; }
  // Scratch for the first genes' columns.
  std::vector<double>& left() { return left_; }
  // The sum `part` of the pair (g1, g2), g2 >= base(); kBlock values from
  // there on belong to the following second genes.
  double* at(std::size_t g1, std::size_t part, std::size_t g2) {
    return &sums_[((g1 - firstGene_) * 4 + part) * width_ + (g2 - base_)];
  }

 private:
  std::size_t firstGene_ = 0;
  std::size_t base_ = 0;
  std::size_t width_ = 0;
  std::vector<double> sums_;
  std::vector<double> left_;
};

// Sums the cross-products of the pairs (g1, g2), g1 in [firstGene,
// endGene), g2 > g1. Blocks of kBlock second genes are taken in the outer
// loop so that a block's rows stay in cache while every first gene of the
// chunk is paired with it.
void sum_chunk(const RunData& data, const SnpSummary& snp,
               const WholeSampleCache& cache, std::size_t firstGene,
               std::size_t endGene, ChunkSums& out) {
  const std::size_t n = data.individuals;
  out.reset(firstGene, endGene, data.stride);
  // The chunk's first genes as columns: by individual for the whole sample,
  // then in class order.
  std::vector<double>& left = out.left();
  left.resize((endGene - firstGene) * 2 * n);
  for (std::size_t g1 = firstGene; g1 < endGene; ++g1) {
    double* column = &left[(g1 - firstGene) * 2 * n];
    const std::size_t at = data.block_index(g1);
    for (std::size_t i = 0; i < n; ++i) {
      column[i] = data.byBlock[at + i * kBlock];
      column[n + i] = snp.byClass[at + i * kBlock];
    }
  }
  for (std::size_t b = out.base(); b < data.genes; b += kBlock) {
    const std::size_t at = data.block_index(b);
    for (std::size_t g1 = firstGene; g1 < endGene && g1 + 1 < b + kBlock;
         ++g1) {
      const double* column = &left[(g1 - firstGene) * 2 * n];
      if (!cache.ready()) {
        cross_sums(column, &data.byBlock[at], n, out.at(g1, 0, b));
      }
      std::size_t begin = 0;
      for (std::size_t k = 0; k < 3; ++k) {
        cross_sums(column + n + begin, &snp.byClass[at + begin * kBlock],
                   snp.classEnd[k] - begin, out.at(g1, 1 + k, b));
        begin = snp.classEnd[k];
      }
    }
  }
}

// Screens the pairs (g1, g2) with g1 in [firstGene, endGene) and appends
// their rows to `rows`, in loop order.
void screen_chunk(const RunData& data, const SnpSummary& snp, std::size_t s,
                  std::size_t firstGene, std::size_t endGene,
                  WholeSampleCache& cache, FixedModelWorkspace& work,
                  ChunkSums& chunk, RowBuffer& rows, ChunkTotals& totals) {
  const std::size_t genes = data.genes;
  const std::size_t n = data.individuals;
  char prefix[kMaxRowPrefixLength];
  if (snp.everyPairPruned) {
    // Every p-value is the fixed 1.0, whose log10 is 0.
    for (std::size_t g1 = firstGene; g1 < endGene; ++g1) {
      const std::size_t prefixLength = static_cast<std::size_t>(
          format_row_prefix(prefix, static_cast<unsigned>(s),
                            static_cast<unsigned>(g1)) -
          prefix);
      for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
        rows.append(prefix, prefixLength);
        rows.extend(format_row_rest(rows.room(kMaxRowLength),
                                    static_cast<unsigned>(g2), 0, 0.0, 0.0,
                                    10.0));
        ++totals.pairs;
        ++totals.prunings;
      }
    }
    return;
  }
  sum_chunk(data, snp, cache, firstGene, endGene, chunk);
  McTileInput in;
  McTileOutput out;
  double wholeTerms[kMcLanes];
  for (std::size_t k = 0; k < 3; ++k) in.nvec[k] = snp.nvec[k];
  for (std::size_t g1 = firstGene; g1 < endGene; ++g1) {
    const std::size_t prefixLength = static_cast<std::size_t>(
        format_row_prefix(prefix, static_cast<unsigned>(s),
                          static_cast<unsigned>(g1)) -
        prefix);
    for (std::size_t k = 0; k < 3; ++k) {
      in.mean1[k] = snp.mean[k * genes + g1];
      in.variance1[k] = snp.variance[k * genes + g1];
    }
    // kMcLanes pairs at a time; the lanes past the last gene read padding
    // and are not used.
    for (std::size_t g2 = g1 + 1; g2 < genes; g2 += kMcLanes) {
      const std::size_t lanes = std::min(kMcLanes, genes - g2);
      for (std::size_t k = 0; k < 3; ++k) {
        in.classCross[k] = chunk.at(g1, 1 + k, g2);
        in.classSum[k] = &snp.sum[k * genes + g2];
        in.classVariance[k] = &snp.variance[k * genes + g2];
      }
      if (cache.ready()) {
        in.wholeTerm = &cache.at(g1, g2);
      } else {
        for (std::size_t l = 0; l < kMcLanes; ++l) {
          wholeTerms[l] = l < lanes
                              ? whole_sample_term(data, g1, g2 + l,
                                                  *chunk.at(g1, 0, g2 + l))
                              : 0.0;
          if (l < lanes && cache.enabled()) {
            cache.at(g1, g2 + l) = wholeTerms[l];
          }
        }
        in.wholeTerm = wholeTerms;
      }
      mc_tile(in, out);
      for (std::size_t l = 0; l < lanes; ++l) {
        McOutcome mc;
        if (!data.judge.settle(out.s[l], out.bound[l], out.logPvalue[l], mc)) {
          mc = data.judge.judge(mc_exact_statistic(in, out, l));
        }
        double lda = 0.0;
        double it = 10.0;
        int flag = 0;
        if (mc.belowThreshold) {
          const std::size_t g = g2 + l;
          // Row 3, the whole sample's, is not needed past the MC statistic.
          double covmat[4][3] = {};
          double summat[3][4];
          for (std::size_t k = 0; k < 3; ++k) {
            covmat[k][0] = in.variance1[k];
            covmat[k][1] = in.classVariance[k][l];
            covmat[k][2] = out.c2[k][l];
            summat[k][0] = snp.sum[k * genes + g1];
            summat[k][1] = snp.sum[k * genes + g];
            summat[k][2] = snp.sumSquares[k * genes + g1];
            summat[k][3] = snp.sumSquares[k * genes + g];
          }
          const PairColumns columns{&data.byGene[g1 * n], &data.byGene[g * n],
                                    snp.cls.data(), n};
          lda = fixed_llvalue_lda(columns, static_cast<std::int32_t>(n), summat,
                                  covmat, snp.nvec);
          if (data.ldaBound > lda) {
            it = fixed_interaction_test(columns, work);
            flag = 1;
          } else {
            flag = 2;
          }
        }
        if (flag != 1) ++totals.prunings;
        ++totals.pairs;
        rows.append(prefix, prefixLength);
        rows.extend(format_row_rest(rows.room(kMaxRowLength),
                                    static_cast<unsigned>(g2 + l), flag,
                                    mc.log10Pvalue, lda, it));
      }
    }
  }
}

// Splits the first genes of the pairs into runs of about the same number of
// pairs, sized as the constants above say for `threads` threads. The last
// 2 * threads runs' worth of pairs go in quarter-size runs, so that the
// threads finish a SNP at nearly the same time.
std::vector<std::size_t> chunk_bounds(std::size_t genes, std::size_t threads) {
  const std::size_t pairsPerSnp = genes < 2 ? 0 : genes * (genes - 1) / 2;
  const std::size_t target = std::clamp(
      pairsPerSnp / (kChunksPerThread * threads), kMinChunkPairs, kChunkPairs);
  const std::size_t tail = 2 * threads * target;
  std::vector<std::size_t> bounds{0};
  std::size_t pairs = 0;
  for (std::size_t g1 = 0; g1 + 1 < genes; ++g1) {
    // The pairs of first genes g1 on.
    const std::size_t left = (genes - g1) * (genes - g1 - 1) / 2;
    pairs += genes - 1 - g1;
    if (pairs >= (left <= tail ? target / 4 : target)) {
      bounds.push_back(g1 + 1);
      pairs = 0;
    }
  }
  if (genes > 0 && bounds.back() != genes) bounds.push_back(genes);
  return bounds;
}

RunData prepare_run(const RealMatrix& emat, const RealMatrix& mommat,
                    double threshold) {
  RunData data;
  data.individuals = static_cast<std::size_t>(n);
  data.genes = static_cast<std::size_t>(ngene);
  data.stride = (data.genes + kBlock - 1) / kBlock * kBlock + kBlock;
  data.byBlock.assign(data.individuals * data.stride, 0.0);
  data.byGene.resize(data.individuals * data.genes);
  for (std::size_t g = 0; g < data.genes; ++g) {
    for (std::size_t i = 0; i < data.individuals; ++i) {
      const double x = std::log10(emat(i, g));
      data.byBlock[data.block_index(g) + i * kBlock] = x;
      data.byGene[g * data.individuals + i] = x;
    }
  }
  data.mean.resize(data.genes);
  data.variance.resize(data.genes);
  for (std::size_t g = 0; g < data.genes; ++g) {
    data.mean[g] = mommat(g, 0);
    data.variance[g] = mommat(g, 1) - mommat(g, 0) * mommat(g, 0);
  }
  data.total = static_cast<double>(static_cast<unsigned>(n));
  data.threshold = threshold;
  data.judge = McJudge(threshold);
  data.ldaBound = lda_bound();
  return data;
}

int screen_with_engine(int argc, char** argv, std::size_t wholeCacheBytes) {
  RunSettings settings;
  GenotypeMatrix gmat;
  RunData data;
  // Held from the end of the prompt, before the first parallel region
  // starts the threads, which inherit it.
  std::optional<StopSignals> stops;
  {
    // The raw values are not needed once their logarithms are taken.
    RealMatrix emat;
    RealMatrix mommat;
    if (const int status = open_run(argc, argv, settings, gmat, emat, mommat);
        status >= 0) {
      return status;
    }
    stops.emplace();
    data = prepare_run(emat, mommat, settings.threshold);
  }

  const std::size_t snps = static_cast<std::size_t>(ps);
  const std::size_t genes = data.genes;
  const std::uint64_t pairsPerSnp =
      genes < 2 ? 0 : static_cast<std::uint64_t>(genes) * (genes - 1) / 2;
  const std::size_t threads = static_cast<std::size_t>(omp_get_max_threads());
  const std::vector<std::size_t> bounds = chunk_bounds(genes, threads);
  const std::size_t chunks = bounds.size() - 1;

  SnpSummary snp;
  snp.cls.resize(data.individuals);
  snp.byClass.resize(data.individuals * data.stride);
  snp.source.resize(data.individuals);
  // Padded so that class 2's last genes can be read kMcLanes at a time.
  snp.sum.resize(3 * genes + kMcLanes);
  snp.sumSquares.resize(3 * genes);
  snp.mean.resize(3 * genes);
  snp.variance.resize(3 * genes + kMcLanes);

  WholeSampleCache cache(genes, wholeCacheBytes);
  RowWriter writer(settings.outputFile.c_str(), *stops);
  Progress progress(snps, pairsPerSnp);
  OrderedRows output(writer, progress, 4 * threads);
  // The allele file is read once, when the straightforward loop would first
  // open it.
  std::unique_ptr<AlleleTable> alleles;
  for (std::size_t s = 0; s < snps; ++s) {
    if (!alleles) {
      alleles =
          std::make_unique<AlleleTable>(settings.alleleFile.c_str(), snps);
    }
    const char allele = alleles->lookup(s);
    if (pairsPerSnp == 0) continue;
    stops->deliver_pending();
    class_individuals(gmat, s, allele, snp.cls);
    summarise_snp(data, snp);
    output.start_snp(s);

#pragma omp parallel
    {
      FixedModelWorkspace work;
      ChunkSums sums;
      RowBuffer rows;
      // Dynamic scheduling hands the chunks out in increasing order, so the
      // oldest unwritten chunk always has a thread working on it.
#pragma omp for schedule(dynamic, 1)
      for (std::size_t c = 0; c < chunks; ++c) {
        output.wait_for_room(c);
        // An exception cannot leave a parallel region: a failed allocation
        // here ends the run as it would anywhere else.
        guard_allocation([&] {
          ChunkTotals totals;
          screen_chunk(data, snp, s, bounds[c], bounds[c + 1], cache, work,
                       sums, rows, totals);
          output.finish(c, rows, totals);
        });
      }
    }
    if (!snp.everyPairPruned) cache.mark_ready();
  }
  writer.close_file();
  progress.finish();
  stops->release();
  std::cout << "#pairs: " << output.run().pairs << std::endl;
  std::cout << "#prunings: " << output.run().prunings << std::endl;
  return 0;
}

}  // namespace

int run_engine(int argc, char** argv, std::size_t wholeCacheBytes) {
  return guard_allocation(
      [&] { return screen_with_engine(argc, argv, wholeCacheBytes); });
}
