// The output side of the production engine: rows formatted into buffers by
// chunk, written to the result file in loop order whatever order the
// threads finish their chunks in, with stop signals let through only between
// whole chunks, and the progress line.
#ifndef ZIRK_ENGINE_OUTPUT_H_
#define ZIRK_ENGINE_OUTPUT_H_

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "common.h"
#include "progress_line.h"

namespace engine_detail {

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

}  // namespace engine_detail

#endif  // ZIRK_ENGINE_OUTPUT_H_
