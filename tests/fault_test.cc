// Fault injection against both programs: output that cannot be created or
// written, inputs that cannot be read or vanish while the prompt waits,
// over-long lines, binary garbage, NUL bytes, empty files and dimensions too
// large to hold. Every run must end in a correct result or in one "Error: "
// line with exit status 1, and a failing run keeps every byte of the result
// file that it had written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_harness.h"
#include "input.h"

namespace {

namespace fs = std::filesystem;

const std::string kHead =
    "Results of ZIRK:\nthreshold = 0.050000\n" + kColumnHeader;

std::string repeat(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// The lines of `text` whose SNP column is below `snps`, head included.
std::string rows_before_snp(const std::string& text, int snps) {
  std::string kept;
  std::size_t start = 0;
  int line = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string row = text.substr(start, end + 1 - start);
    if (line++ < 3 || std::stoi(row) < snps) kept += row;
    start = end + 1;
  }
  return kept;
}

class FaultTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { write_inputs(); }

  // Six individuals, three SNPs, four genes: 18 result rows.
  void write_inputs() {
    scratch_.write("g.txt",
                   "A T G G C C\nT T G C C A\nA A C C A A\n"
                   "A T G G C A\nT T G C C C\nA A C C A A\n");
    scratch_.write("e.txt",
                   "1.5 2.25 3 4.5 5 6.75\n"
                   "10 12 9 11 13 8\n"
                   "0.5 0.75 2 0.25 1 3\n"
                   "100 90 250 120 80 300\n");
    scratch_.write("a.txt", "A\nG\nC\n");
  }

  CliResult run(const std::string& output = "o.txt",
                const RunOptions& options = {}) {
    const CliResult result = scratch_.run(
        GetParam(), {"-g", "g.txt", "-e", "e.txt", "-a", "a.txt", "-o", output},
        options);
    EXPECT_FALSE(result.timed_out);
    return result;
  }
  CliResult run(const RunOptions& options) { return run("o.txt", options); }

  // Runs and expects the one error line `message` with exit status 1.
  void expect_error(const std::string& message, const RunOptions& options = {},
                    const std::string& output = "o.txt") {
    const CliResult result = run(output, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message + "\n");
  }

  // The result file of a complete run on the current inputs.
  std::string full_result() {
    const CliResult result = run();
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string text = scratch_.read("o.txt");
    fs::remove(scratch_.path("o.txt"));
    return text;
  }

  CliScratch scratch_;
};

INSTANTIATE_TEST_SUITE_P(Programs, FaultTest, both_programs(), program_name);

TEST_P(FaultTest, OutputThatCannotBeCreatedOrWritten) {
  fs::create_directory(scratch_.path("dir"));
  // The tests run as root, so only paths that no permission can open serve.
  for (const std::string output : {"missing/o.txt", "g.txt/o.txt", "dir"}) {
    SCOPED_TRACE(output);
    expect_error("Error: Cannot open the output file.", {}, output);
  }
  expect_error("Error: Cannot write the output file.", {}, "/dev/full");
}

TEST_P(FaultTest, InputThatOpensButCannotBeRead) {
  fs::create_directory(scratch_.path("dir"));
  // A directory passes the start-up test and every fopen, then fails its
  // first read; /proc/self/mem is a file whose reads fail (address 0).
  for (const std::string unreadable : {"dir", "/proc/self/mem"}) {
    SCOPED_TRACE(unreadable);
    const struct {
      const char* option;
      const char* message;
    } cases[] = {
        {"-g", "Error: Aborted due to input error (genome data)."},
        {"-e", "Error: Aborted due to input error (expression data)."},
        {"-a", "Error: Aborted due to input error (allele data)."},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.option);
      std::vector<std::string> args = kRunArgs;
      for (std::size_t k = 0; k < args.size(); k += 2) {
        if (args[k] == c.option) args[k + 1] = unreadable;
      }
      fs::remove(scratch_.path("o.txt"));
      const CliResult result = scratch_.run(GetParam(), args, RunOptions{});
      EXPECT_FALSE(result.timed_out);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string(c.message) + "\n");
    }
    // The allele file is first read after the head was written.
    EXPECT_EQ(scratch_.read("o.txt"), kHead);
  }
}

TEST_P(FaultTest, InputRemovedWhileThePromptWaits) {
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"g.txt", "Error: Cannot open the genome file."},
      {"e.txt", "Error: Cannot open the expression file."},
      {"a.txt", "Error: Cannot open the allele file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    write_inputs();
    fs::remove(scratch_.path("o.txt"));
    RunOptions options;
    bool removed = false;
    options.at_prompt = [&] { removed = fs::remove(scratch_.path(c.file)); };
    expect_error(c.message, options);
    EXPECT_TRUE(removed);
  }
  // Genotypes and expressions were loaded and the head written before the
  // allele file was looked for.
  EXPECT_EQ(scratch_.read("o.txt"), kHead);
}

TEST_P(FaultTest, RowsWrittenBeforeAFailureStayInTheResultFile) {
  const std::string full = full_result();
  ASSERT_EQ(rows_before_snp(full, 3), full);
  ASSERT_GT(full.size(), kHead.size() + 18 * 20);

  // A file size limit fails the write that crosses it, as a full disk does:
  // in the head, in the first row, in the last row. The file keeps a prefix
  // of the complete result: the head once it fitted, every row of the SNPs
  // before the one whose row crossed the limit, and nothing past the limit.
  // Whether the crossing row (or more rows of its SNP) is kept torn, whole
  // or cut back to a row boundary differs between the two programs.
  for (const std::size_t limit :
       {std::size_t{40}, kHead.size() + 10, full.size() - 5}) {
    SCOPED_TRACE(limit);
    fs::remove(scratch_.path("o.txt"));
    RunOptions options;
    options.file_size_limit = static_cast<long>(limit);
    expect_error("Error: Cannot write the output file.", options);
    const std::string kept = scratch_.read("o.txt");
    EXPECT_LE(kept.size(), limit);
    EXPECT_EQ(kept, full.substr(0, kept.size()));
    EXPECT_TRUE(kept.size() == limit || kept.empty() || kept.back() == '\n');
    const std::size_t crossing_row = full.rfind('\n', limit - 1) + 1;
    const std::string done =
        limit < kHead.size()
            ? std::string()
            : rows_before_snp(full, std::stoi(full.substr(crossing_row)));
    EXPECT_GE(kept.size(), done.size());
  }
}

// Broken, over-long and empty inputs, on disk and on standard input.
TEST_P(FaultTest, BadInputsEndInOneErrorLine) {
  std::string garbage;
  for (int k = 0; k < 4 * 256; ++k) garbage += static_cast<char>(k % 256);
  const struct {
    std::string file;  // "" for standard input
    std::string text;
    std::string message;  // "" for a complete run
    bool headWritten;     // the result file holds the head alone
  } cases[] = {
      // A later genotype line of five million characters.
      {"g.txt", "A T G G C C\n" + repeat("A ", 2500000) + "\n",
       "Error: Invalid format in genome data", false},
      // The scan counts a line of more than 31 characters per individual as
      // several genes, for which the reader then finds too few values.
      {"e.txt", "1 2 3 4 5 6" + std::string(1000000, ' ') + "\n",
       "Error: Invalid format in expression data.", false},
      {"a.txt", std::string(1000000, 'A') + "\nG\nC\n",
       "Error: Invalid format in allele data.", true},
      {"", std::string(1000000, '9') + "\n",
       "Error: Aborted due to input error.", false},
      {"", "0.05" + std::string(1000000, 'x'), "", false},
      // The first line starts with a NUL byte: no newline is found in it.
      {"g.txt", garbage, "Error: Absorted due to input error (genome data).",
       false},
      {"g.txt", std::string("A T G G C C\nT T G\0C C A\n", 24),
       "Error: Invalid format in genome data", false},
      {"e.txt", garbage, "Error: Invalid data in expressions", false},
      {"e.txt", std::string("1.5 2.25 3\0 4.5 5 6.75\n", 23),
       "Error: Invalid data in expressions", false},
      {"a.txt", garbage, "Error: Invalid format in allele data.", false},
      {"a.txt", std::string("A\0\nG\nC\n", 7),
       "Error: Invalid format in allele data.", false},
      {"", garbage, "Error: Aborted due to input error.", false},
      // No individuals or no genes: nothing to screen, a complete result.
      {"g.txt", "", "", true},
      {"e.txt", "", "", true},
      {"a.txt", "", "Error: Invalid format in allele data.", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + ": " + ::testing::PrintToString(c.text.size()));
    write_inputs();
    fs::remove(scratch_.path("o.txt"));
    RunOptions options;
    if (c.file.empty()) {
      options.input = c.text;
    } else {
      scratch_.write(c.file, c.text);
    }
    const CliResult result = run(options);
    EXPECT_EQ(result.status, c.message.empty() ? 0 : 1);
    EXPECT_EQ(result.err, c.message.empty() ? "" : c.message + "\n");
    if (c.message.empty() && c.headWritten) {
      EXPECT_NE(result.out.find("#pairs: 0\n#prunings: 0\n"),
                std::string::npos);
    }
    if (c.headWritten) EXPECT_EQ(scratch_.read("o.txt"), kHead);
  }
}

// A million individuals and a million genes fit in 3 MB of input but imply
// an 8 TB expression matrix: the failed allocation ends the run with a
// message, not an abort.
TEST_P(FaultTest, MatrixTooLargeToHoldEndsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's allocator aborts on a failed allocation "
                  "instead of throwing std::bad_alloc";
#endif
  scratch_.write("g.txt", repeat("A\n", 1000000));
  scratch_.write("e.txt", std::string(1000000, '\n'));
  expect_error("Error: Aborted due to allocation error.");
}

// The scan counts genotype lines and expression pieces in 32-bit signed
// integers. An empty genotype file and a sparse expression file of 2^31 + 16
// zero bytes (one piece per byte) used to wrap ngene to -2147483632 and then
// spin through ~2^64 empty gene columns; the count now stops at its limit.
// The file takes a minute to scan, so the guard is checked on its own.
TEST(LineCountTest, StopsAtTheLargestCountInsteadOfOverflowing) {
  std::int32_t count = INT32_MAX - 1;
  input_detail::count_line(count, "Error: unused");
  EXPECT_EQ(count, INT32_MAX);
  EXPECT_EXIT(
      input_detail::count_line(
          count, "Error: Aborted due to input error (expression data)."),
      ::testing::ExitedWithCode(1),
      ::testing::Eq(std::string(
          "Error: Aborted due to input error (expression data).\n")));
}

}  // namespace
