// Differential tests: the production engine (zirk) against the
// straightforward reference (zirk-reference) on many simulated data sets,
// thresholds and thread counts. Status, standard output, standard error and
// the result file must agree byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <omp.h>

#include "cli_harness.h"
#include "engine.h"

namespace {

const std::vector<std::string> kRun = {
    "-g", "data/genotype.txt", "-e", "data/expression.txt",
    "-a", "data/allele.txt",   "-o", "result.txt"};

// Writes the data set that zirk-simulate makes from `options` (words
// separated by spaces) into the scratch directory's data/.
void simulate(const CliScratch& scratch, const std::string& options) {
  std::istringstream words(options + " --out data");
  std::vector<std::string> args;
  for (std::string word; words >> word;) args.push_back(word);
  const CliResult made = scratch.run(ZIRK_SIMULATE_BINARY, args);
  ASSERT_EQ(made.status, 0) << options << ": " << made.err;
}

// Runs both programs on the scratch directory's data and expects the same
// bytes everywhere, at `threads` threads for the engine.
void expect_same_run(const CliScratch& scratch, const std::string& threshold,
                     const std::string& threads, const std::string& label) {
  SCOPED_TRACE(label + " threshold " + threshold + " threads " + threads);
  const CliResult reference =
      scratch.run(ZIRK_REFERENCE_BINARY, kRun, {.input = threshold + "\n"});
  const std::string expected = scratch.read("result.txt");
  ::setenv("OMP_NUM_THREADS", threads.c_str(), 1);
  const CliResult engine =
      scratch.run(ZIRK_BINARY, kRun, {.input = threshold + "\n"});
  ::unsetenv("OMP_NUM_THREADS");
  EXPECT_EQ(engine.status, reference.status);
  EXPECT_EQ(engine.out, reference.out);
  EXPECT_EQ(engine.err, reference.err);
  // Compare without printing hundreds of rows on a mismatch.
  const std::string actual = scratch.read("result.txt");
  EXPECT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(actual == expected) << "result files differ";
}

// Ordinary, large, degenerate and tiny data sets at every kind of threshold
// and at one and three threads.
TEST(EngineTest, MatchesTheReferenceOnSimulatedData) {
  const std::vector<std::string> sets = {
      "--seed 11 --individuals 60 --snps 5 --genes 24 --plant 2",
      "--seed 12 --individuals 200 --snps 2 --genes 40 --plant 1",
      "--seed 13 --individuals 40 --snps 8 --genes 20 --rare 3 "
      "--constant-genes 2 --zeros 3 --negatives 3 --lowercase-alleles 3 "
      "--mixed-case",
      "--seed 14 --individuals 25 --snps 6 --genes 17 --rare 4 --sep tab "
      "--crlf",
      "--seed 15 --individuals 3 --snps 3 --genes 6",
      "--seed 16 --individuals 2 --snps 2 --genes 5",
      "--seed 17 --individuals 1 --snps 2 --genes 4",
      "--seed 18 --individuals 0 --snps 2 --genes 3",
      "--seed 19 --individuals 30 --snps 4 --genes 1",
      "--seed 20 --individuals 30 --snps 4 --genes 2",
  };
  for (const std::string& set : sets) {
    CliScratch scratch;
    simulate(scratch, set);
    for (const std::string threshold : {"0", "1e-8", "0.05", "1", "1.5"}) {
      for (const std::string threads : {"1", "3"}) {
        expect_same_run(scratch, threshold, threads, set);
      }
    }
  }
}

// The engine in a child process with its whole-sample cache limited to
// `cacheBytes`, on the scratch directory's data; result.txt is its file.
CliResult run_engine_limited(const CliScratch& scratch,
                             const std::string& threshold, int threads,
                             std::size_t cacheBytes) {
  scratch.write("threshold", threshold + "\n");
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(scratch.dir().c_str()) != 0 ||
        !freopen("threshold", "r", stdin) || !freopen("out", "w", stdout) ||
        !freopen("err", "w", stderr)) {
      _exit(127);
    }
    // libgomp read OMP_NUM_THREADS when the test started.
    omp_set_num_threads(threads);
    std::vector<std::string> args = {"zirk"};
    args.insert(args.end(), kRun.begin(), kRun.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status =
        run_engine(static_cast<int>(args.size()), argv.data(), cacheBytes);
    std::fflush(nullptr);
    _exit(status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, scratch.read("out"),
          scratch.read("err")};
}

// Past about 8,192 genes the whole-sample terms are computed again at every
// SNP instead of being kept: that path, reached here by lowering the limit
// (to nothing, and to just below what the data set needs), against the
// reference at every kind of threshold.
TEST(EngineTest, MatchesTheReferenceWithoutTheWholeSampleCache) {
  const std::vector<std::string> sets = {
      "--seed 31 --individuals 60 --snps 5 --genes 23 --plant 2",
      "--seed 32 --individuals 40 --snps 6 --genes 20 --rare 3 "
      "--constant-genes 2 --zeros 3 --negatives 3",
      "--seed 33 --individuals 3 --snps 3 --genes 6",
  };
  for (const std::string& set : sets) {
    CliScratch scratch;
    simulate(scratch, set);
    const std::size_t genes = std::stoul(set.substr(set.find("--genes") + 8));
    const std::size_t needed = genes * (genes - 1) / 2 * sizeof(double);
    for (const std::string threshold : {"0", "0.05", "1", "1.5"}) {
      const CliResult reference =
          scratch.run(ZIRK_REFERENCE_BINARY, kRun, {.input = threshold + "\n"});
      const std::string expected = scratch.read("result.txt");
      for (const std::size_t limit : {std::size_t{0}, needed - 1}) {
        for (const int threads : {1, 3}) {
          SCOPED_TRACE(set + " threshold " + threshold + " limit " +
                       std::to_string(limit) + " threads " +
                       std::to_string(threads));
          std::filesystem::remove(scratch.dir() / "result.txt");
          const CliResult engine =
              run_engine_limited(scratch, threshold, threads, limit);
          EXPECT_EQ(engine.status, reference.status);
          EXPECT_EQ(engine.out, reference.out);
          EXPECT_EQ(engine.err, reference.err);
          EXPECT_TRUE(scratch.read("result.txt") == expected)
              << "result files differ";
        }
      }
    }
  }
}

TEST(EngineTest, ManySeedsAtTheUsualThresholds) {
  for (int seed = 100; seed < 130; ++seed) {
    CliScratch scratch;
    const std::string set = "--seed " + std::to_string(seed) +
                            " --individuals " + std::to_string(4 + seed % 37) +
                            " --snps 3 --genes 12 --rare 1 " + "--zeros " +
                            std::to_string(seed % 3);
    simulate(scratch, set);
    expect_same_run(scratch, seed % 2 ? "0.05" : "1.5", "2", set);
  }
}

// A run stopped by a signal leaves a result file of whole rows in loop
// order: the head, then (s, g1, g2) counting up without a gap. Stopped at
// several points, since a torn row needs the signal to meet a write.
TEST(EngineTest, StoppedRunLeavesWholeRows) {
  CliScratch scratch;
  simulate(scratch, "--seed 22 --individuals 200 --snps 40 --genes 600");
  scratch.write("threshold", "0.05\n");
  for (std::size_t stopAt : {20000, 100000, 400000, 1500000, 4000000}) {
    SCOPED_TRACE(stopAt);
    std::filesystem::remove(scratch.dir() / "result.txt");
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(scratch.dir().c_str()) != 0) _exit(127);
      if (!freopen("threshold", "r", stdin) ||
          !freopen("/dev/null", "w", stdout)) {
        _exit(127);
      }
      execl(ZIRK_BINARY, "zirk", "-g", "data/genotype.txt", "-e",
            "data/expression.txt", "-a", "data/allele.txt", "-o", "result.txt",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // Stop it once that much is out, well before the 7 million pairs end.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (scratch.read("result.txt").size() < stopAt &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was stopped";

    const std::string text = scratch.read("result.txt");
    ASSERT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    std::string line;
    for (int k = 0; k < 3; ++k) std::getline(lines, line);
    EXPECT_EQ(line + "\n", kColumnHeader);
    unsigned s = 0, g1 = 0, g2 = 0, rows = 0;
    const unsigned genes = 600;
    while (std::getline(lines, line)) {
      unsigned rs, r1, r2, flag;
      char tail[256];
      ASSERT_EQ(std::sscanf(line.c_str(), "%u\t%u\t%u\t%u\t%255s", &rs, &r1,
                            &r2, &flag, tail),
                5)
          << line;
      ASSERT_EQ(std::count(line.begin(), line.end(), '\t'), 6) << line;
      if (rows == 0) {
        s = 0, g1 = 0, g2 = 1;
      } else if (++g2 == genes) {
        if (++g1 == genes - 1) ++s, g1 = 0;
        g2 = g1 + 1;
      }
      ASSERT_EQ(rs, s);
      ASSERT_EQ(r1, g1);
      ASSERT_EQ(r2, g2);
      ++rows;
    }
    EXPECT_GT(rows, 0u);
  }
}

}  // namespace
