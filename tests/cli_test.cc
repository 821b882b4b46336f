// Black-box tests of both programs, byte for byte: start-up (options,
// messages, exit statuses, the loading lines), whole runs against the golden
// files (tests/golden/README.md), and injected faults: output that cannot be
// created or written, inputs that cannot be read or vanish at the prompt,
// over-long lines, binary garbage, empty files and dimensions too large to
// hold. Every run ends in a correct result or in one "Error: " line with
// exit status 1, and a failing run keeps every byte it had written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli_harness.h"
#include "input.h"

namespace {

namespace fs = std::filesystem;

std::string usage(const std::string& program) {
  return "Usage: " + program +
         " [-h] -g filenameG -e filenameE -a filenameA -o filenameO\n";
}
const std::string kUsage = usage("zirk");
const std::string kPrompt =
    "# of arguments: 0\nthreshold of MC test's pvalue?: ";
const std::string kEcho =
    "check the files...\ngenotype  : g.txt\nexpression: e.txt\n"
    "allele    : a.txt\noutput    : o.txt\n"
    "check the size of the input data...\n";
const std::string kNone = "# of arguments: 0\n";
const std::string kHead =
    "Results of ZIRK:\nthreshold = 0.050000\n" + kColumnHeader;

// The loading lines: the sizes, then individual 0's alleles at SNPs 0 and 1
// and gene 0 in individuals 0 to 2, as far as the data hold them.
std::string loading(int snps, int genes, int n, const std::string& alleles,
                    const std::string& values) {
  return "#SNPs : " + std::to_string(snps) +
         "\n#genes: " + std::to_string(genes) +
         "\nn     : " + std::to_string(n) + "\nread genotypes... " + alleles +
         "...\nread expressions... " + values + "...\nRunning...\n";
}

std::string golden(const std::string& name) {
  const fs::path path = fs::path(ZIRK_SOURCE_DIR) / "tests" / "golden" / name;
  EXPECT_TRUE(fs::exists(path)) << path;
  return read_file(path);
}

std::string repeat(const std::string& text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// The lines of `text`, each with its newline.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

// The first `count` lines of `text`; a negative count drops as many lines
// from its end instead.
std::string head(const std::string& text, long count) {
  const std::vector<std::string> lines = lines_of(text);
  std::string kept;
  if (count < 0) count += static_cast<long>(lines.size());
  for (long i = 0; i < count; ++i) kept += lines[i];
  return kept;
}

// The tab-separated fields of a result row, without its newline.
std::vector<std::string> fields_of(const std::string& row) {
  std::vector<std::string> fields;
  std::istringstream in(row.substr(0, row.find('\n')));
  for (std::string field; std::getline(in, field, '\t');) {
    fields.push_back(field);
  }
  return fields;
}

// The row that the same pair gets when the MC test prunes it: the MC column
// does not depend on the threshold, the two later scores become markers.
std::string as_mc_pruned(const std::string& row) {
  const std::vector<std::string> f = fields_of(row);
  return f[0] + "\t" + f[1] + "\t" + f[2] + "\t0\t" + f[4] + "\t1.0\t1.0\n";
}

// The lines of `text` whose SNP column is below `snps`, head included.
std::string rows_before_snp(const std::string& text, int snps) {
  std::string kept;
  int line = 0;
  for (const std::string& row : lines_of(text)) {
    if (line++ < 3 || std::stoi(row) < snps) kept += row;
  }
  return kept;
}

class CliTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Three individuals, two SNPs, three genes: the smallest data set that
  // every sample line of the loading stage can show in full.
  void SetUp() override {
    scratch_.write("g.txt", "A T G G\nT T G C\nA A C C\n");
    scratch_.write("e.txt", "1 2 3\n4.5 5e1 6\n10 100 1000\n");
    scratch_.write("a.txt", "A T\nG C\n");
  }
  // Six individuals, three SNPs, four genes: 18 result rows.
  void write_fault_inputs() {
    scratch_.write("g.txt",
                   "A T G G C C\nT T G C C A\nA A C C A A\n"
                   "A T G G C A\nT T G C C C\nA A C C A A\n");
    scratch_.write("e.txt",
                   "1.5 2.25 3 4.5 5 6.75\n10 12 9 11 13 8\n"
                   "0.5 0.75 2 0.25 1 3\n100 90 250 120 80 300\n");
    scratch_.write("a.txt", "A\nG\nC\n");
  }
  void write_golden_inputs() {
    scratch_.write("g.txt", golden("genotype.txt"));
    scratch_.write("e.txt", golden("expression.txt"));
    scratch_.write("a.txt", golden("allele.txt"));
  }
  CliResult run(const std::vector<std::string>& args,
                const std::string& input = "0.05\n") {
    return scratch_.run(GetParam(), args, {.input = input});
  }
  // A run on kRunArgs that must not time out.
  CliResult run(const RunOptions& options, const std::string& output = "o.txt",
                const std::vector<std::string>& args = kRunArgs) {
    std::vector<std::string> with_output = args;
    with_output.back() = output;
    const CliResult result = scratch_.run(GetParam(), with_output, options);
    EXPECT_FALSE(result.timed_out);
    return result;
  }
  // Runs and expects the one error line `message` with exit status 1.
  void expect_error(const std::string& message, const RunOptions& options = {},
                    const std::string& output = "o.txt") {
    const CliResult result = run(options, output);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message + "\n");
  }
  CliScratch scratch_;
};

INSTANTIATE_TEST_SUITE_P(Programs, CliTest, both_programs(), program_name);

TEST_P(CliTest, RunsEndingAtStartUp) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
    std::string input = "0.05\n";
    std::string genotypes = "";    // replaces g.txt when not empty
    std::string program = "zirk";  // argv[0]
  };
  const std::string done =
      loading(2, 3, 3, "ATGG", "1 2 3") + "#pairs: 6\n#prunings: 6\n";
  const std::string input_error = "Error: Aborted due to input error.\n";
  const std::string arguments = "Error: Wrong number of arguments.\n" + kUsage;
  const auto specify = [](char option) {
    return std::string("Error: Specify \"-") + option + " filename" +
           static_cast<char>(std::toupper(option)) + "\"\n" + kUsage;
  };
  const auto not_found = [](const std::string& file) {
    return "Error: File \"" + file + "\" not found.\n";
  };
  const std::vector<Case> cases = {
      {{}, 1, kNone, specify('g')},
      {{"-h"}, 0, "", "HELP\n" + kUsage},
      {{"-h", "-x"}, 0, "", "HELP\n" + kUsage},
      // The usage line names the program as invoked.
      {{"-h"}, 0, "", "HELP\n" + usage("bin/z"), "", "", "bin/z"},
      {{"-g", "g.txt", "-h", "-q"}, 0, "", "HELP\n" + kUsage},
      {{"-x", "-h"}, 1, "", "zirk: invalid option -- 'x'\n" + kUsage},
      {{"-g"}, 1, "", "zirk: option requires an argument -- 'g'\n" + kUsage},
      {{"-g", "g", "-e", "e", "-a", "a", "-o", "o", "extra"}, 1, "", arguments},
      // Parsing stops at the first operand: the -h after it is an operand.
      {{"extra", "-h"}, 1, "", arguments},
      {{"-g", "g.txt", "--", "-h"}, 1, "", arguments},
      // A missing option is reported before any file is opened, in a fixed
      // order; a repeated option overwrites the earlier value, also with "".
      {{"-a", "a", "-o", "o"}, 1, kNone, specify('g')},
      {{"-g", "g", "-a", "a", "-o", "o"}, 1, kNone, specify('e')},
      {{"-g", "g", "-e", "e", "-o", "o"}, 1, kNone, specify('a')},
      {{"-g", "g", "-e", "e", "-a", "a"}, 1, kNone, specify('o')},
      {{"-g", "", "-e", "e", "-a", "a", "-o", "o"}, 1, kNone, specify('g')},
      {{"-g", "g", "-g", "", "-e", "e", "-o", "o"}, 1, kNone, specify('g')},
      // Input files are looked for in a fixed order.
      {{"-g", "nog", "-e", "noe", "-a", "noa", "-o", "m/o"},
       1,
       kNone,
       not_found("nog")},
      {{"-g", "g.txt", "-e", "noe", "-a", "noa", "-o", "m/o"},
       1,
       kNone,
       not_found("noe")},
      {{"-g", "g.txt", "-e", "e.txt", "-a", "d/noa", "-o", "o"},
       1,
       kNone,
       not_found("d/noa")},
      {kRunArgs, 1, kPrompt, input_error, ""},
      {kRunArgs, 1, kPrompt, input_error, "   \n"},
      {kRunArgs, 1, kPrompt, input_error, "abc\n"},
      {kRunArgs, 1, kPrompt, input_error, ".\n"},
      {kRunArgs, 0, kPrompt + kEcho + done, "", "1e-300\n"},
      // Scan faults end the run after the echo.
      {kRunArgs, 1, kPrompt + kEcho, "Error: Invalid format in genome data.\n",
       "0.05\n", "A  T\n"},
      {kRunArgs, 1, kPrompt + kEcho, "Error: Invalid format in genome data\n",
       "0.05\n", "A T\nA T \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + c.input + c.genotypes);
    if (!c.genotypes.empty()) scratch_.write("g.txt", c.genotypes);
    const CliResult result = scratch_.run(
        GetParam(), c.args, RunOptions{.input = c.input, .program = c.program});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    if (!c.genotypes.empty()) SetUp();
  }
}

// Classes of 3 / 3 / 1 at the only SNP: the lone member of class 2 gives
// the pair the fixed MC p-value 2.0 (log10 0.301030). Letters after the
// number, zero and values above one are accepted as they stand.
TEST_P(CliTest, ThresholdLineForms) {
  scratch_.write("g.txt", "A A\nA A\nA A\nA T\nT A\nA T\nT T\n");
  scratch_.write("e.txt", "1 10 100 2 20 200 5\n10 1 100 30 3 7 4\n");
  scratch_.write("a.txt", "A\n");
  // glibc prints the NaN that log10 returns for a negative number as "nan".
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0.05\n", "threshold = 0.050000\n"},
      {"0.05abc", "threshold = 0.050000\n"},
      {"1e-6\n", "threshold = 0.000001\n"},
      {"0.000001\n", "threshold = 0.000001\n"},
      {"9.9999e-7\n", "log10(threshold) = -6.000004\n"},
      {"1e-8\n", "log10(threshold) = -8.000000\n"},
      {"1e-300\n", "log10(threshold) = -300.000000\n"},
      {"0\n", "threshold = 0.000000\n"},
      {"\n\t 0", "threshold = 0.000000\n"},
      {"-0.5\n", "log10(threshold) = nan\n"},
      {"-1e-300\n", "log10(threshold) = nan\n"},
      {"1.5", "threshold = 1.500000\n"},
  };
  for (const auto& [threshold, line] : cases) {
    SCOPED_TRACE(threshold);
    const CliResult result = run(kRunArgs, threshold);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.substr(0, kPrompt.size() + kEcho.size()),
              kPrompt + kEcho);
    EXPECT_EQ(scratch_.read("o.txt"), "Results of ZIRK:\n" + line +
                                          kColumnHeader +
                                          "0\t0\t1\t0\t0.301030\t1.0\t1.0\n");
  }
}

// Fewer than two genes write the head only.
TEST_P(CliTest, LoadingLinesAndRunsWithoutPairs) {
  const std::string three = "A A C C G T\nA T C G T T\nT T G G G G\n";
  const struct {
    std::string genotypes, expression, alleles, loading;
  } cases[] = {
      {"A T\nG C\n", "5 7\n", "A\n", loading(1, 1, 2, "AT", "5 7")},
      {"", "\n", "A\n", loading(0, 1, 0, "", "")},
      {three, "1 2 3\n", "A\nC\nG\n", loading(3, 1, 3, "AACC", "1 2 3")},
      {three, "", "A\nC\nG\n", loading(3, 0, 3, "AACC", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.genotypes + "|" + c.expression);
    scratch_.write("g.txt", c.genotypes);
    scratch_.write("e.txt", c.expression);
    scratch_.write("a.txt", c.alleles);
    CliResult result = run(kRunArgs);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              kPrompt + kEcho + c.loading + "#pairs: 0\n#prunings: 0\n");
    EXPECT_EQ(scratch_.read("o.txt"), kHead);
    if (c.genotypes != three) continue;
    // No pair is examined, yet every SNP's allele line is still read.
    for (const auto& [alleles, message] :
         std::vector<std::pair<std::string, std::string>>{
             {"A\nC\nN\n", "Error: Invalid data in allele data.\n"},
             {"A\nC\nG T T\n", "Error: Invalid format in allele data.\n"}}) {
      SCOPED_TRACE(alleles);
      scratch_.write("a.txt", alleles);
      result = run(kRunArgs);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, message);
      EXPECT_EQ(result.out, kPrompt + kEcho + c.loading);
      EXPECT_EQ(scratch_.read("o.txt"), kHead);
    }
  }
}

TEST_P(CliTest, GoldenRunsMatchTheExpectedFiles) {
  write_golden_inputs();
  // A longer file in the way: one not truncated would keep its tail.
  scratch_.write("o.txt", std::string(5000, 'x') + "\n");
  for (const std::string threshold : {"0.05", "2.5"}) {
    SCOPED_TRACE(threshold);
    const CliResult result = run(kRunArgs, threshold + "\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, golden("stdout_" + threshold + ".txt"));
    EXPECT_EQ(scratch_.read("o.txt"), golden("result_" + threshold + ".txt"));
  }
  // What the 0.05 case stands for: 4 SNPs x 10 pairs with every flag, the
  // fixed MC p-values 1.0 and 2.0, and a p-value that underflowed to 0.
  const std::vector<std::string> lines = lines_of(golden("result_0.05.txt"));
  ASSERT_EQ(lines.size(), 3u + 40u);
  EXPECT_EQ(lines[2], kColumnHeader);
  int flagged[3] = {0, 0, 0};
  for (std::size_t i = 3; i < lines.size(); ++i) {
    ++flagged[std::stoi(fields_of(lines[i])[3])];
  }
  for (int flag : flagged) EXPECT_GT(flag, 0);
  EXPECT_EQ(lines[3 + 10], "1\t0\t1\t0\t0.000000\t1.0\t1.0\n");
  EXPECT_EQ(lines[3 + 20], "2\t0\t1\t0\t0.301030\t1.0\t1.0\n");
  EXPECT_EQ(lines[3 + 37].substr(0, 13), "3\t2\t3\t2\t-inf\t");
}

// A pair goes on only when the threshold is strictly greater than its MC
// p-value. The fixed results 1.0 (empty class, SNP 1) and 2.0 (class of one,
// SNP 2) and the underflowed 0 (SNP 3, genes 2 and 3) are exact p-values, so
// thresholds equal to them test the strict comparison. Expected files are
// derived from the 2.5 golden file, where every pair passes the MC test.
TEST_P(CliTest, ThresholdComparisonIsStrict) {
  write_golden_inputs();
  const std::vector<std::string> all = lines_of(golden("result_2.5.txt"));
  const struct {
    std::string threshold, head_line;
    std::string pruned_snps;  // rows of these SNPs get flag 0
  } cases[] = {
      {"2", "threshold = 2.000000\n", "2"},
      {"1.5", "threshold = 1.500000\n", "2"},
      {"1", "threshold = 1.000000\n", "12"},
      {"0", "threshold = 0.000000\n", "0123"},
      {"-0.5", "log10(threshold) = nan\n", "0123"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.threshold);
    std::string expected = "Results of ZIRK:\n" + c.head_line + kColumnHeader;
    int prunings = 0;
    for (auto row = all.begin() + 3; row != all.end(); ++row) {
      const bool pruned = c.pruned_snps.find((*row)[0]) != std::string::npos;
      const std::string kept = pruned ? as_mc_pruned(*row) : *row;
      const std::string flag = fields_of(kept)[3];
      prunings += flag == "0" || flag == "2";
      expected += kept;
    }
    const CliResult result = run(kRunArgs, c.threshold + "\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(scratch_.read("o.txt"), expected);
    EXPECT_EQ(result.out, head(golden("stdout_2.5.txt"), -1) +
                              "#prunings: " + std::to_string(prunings) + "\n");
  }
  // Threshold 0 meets the p-value 0 of this pair.
  EXPECT_EQ(as_mc_pruned(all[3 + 37]), "3\t2\t3\t0\t-inf\t1.0\t1.0\n");
}

TEST_P(CliTest, RunStoppedByAnAlleleFaultKeepsTheEarlierRows) {
  write_golden_inputs();
  const std::string expected = golden("result_0.05.txt");
  const std::string out_before_trailer = head(golden("stdout_0.05.txt"), -2);
  const struct {
    std::string allele_file;
    long rows_kept;
    std::string message;
  } cases[] = {
      {"A G\nC\nN A\ng c\n", 20, "Error: Invalid data in allele data.\n"},
      {"A G\nC\nT A\ng c c\n", 30, "Error: Invalid format in allele data.\n"},
      {" A\nC\nT A\ng c\n", 0, "Error: Invalid data in allele data.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.allele_file);
    scratch_.write("a.txt", c.allele_file);
    const CliResult result = run(kRunArgs);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(result.out, out_before_trailer);
    EXPECT_EQ(scratch_.read("o.txt"), head(expected, 3 + c.rows_kept));
  }
}

TEST_P(CliTest, OutputThatCannotBeCreatedOrWritten) {
  write_fault_inputs();
  fs::create_directory(scratch_.path("dir"));
  // The tests run as root, so only paths that no permission can open serve.
  for (const std::string output : {"missing/o.txt", "g.txt/o.txt", "dir"}) {
    SCOPED_TRACE(output);
    expect_error("Error: Cannot open the output file.", {}, output);
  }
  expect_error("Error: Cannot write the output file.", {}, "/dev/full");
}

// Inputs that pass the start-up test, then cannot be read (a directory, and
// /proc/self/mem, whose reads fail at address 0) or are removed while the
// prompt waits.
TEST_P(CliTest, InputThatCannotBeRead) {
  fs::create_directory(scratch_.path("dir"));
  const struct {
    std::string option, file, read_error, open_error;
  } cases[] = {
      {"-g", "g.txt", "Error: Aborted due to input error (genome data).",
       "Error: Cannot open the genome file."},
      {"-e", "e.txt", "Error: Aborted due to input error (expression data).",
       "Error: Cannot open the expression file."},
      {"-a", "a.txt", "Error: Aborted due to input error (allele data).",
       "Error: Cannot open the allele file."},
  };
  for (const std::string unreadable : {"dir", "/proc/self/mem"}) {
    SCOPED_TRACE(unreadable);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.option);
      write_fault_inputs();
      std::vector<std::string> args = kRunArgs;
      *(std::find(args.begin(), args.end(), c.option) + 1) = unreadable;
      fs::remove(scratch_.path("o.txt"));
      const CliResult result = run(RunOptions{}, "o.txt", args);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, c.read_error + "\n");
    }
    // The allele file is first read after the head was written.
    EXPECT_EQ(scratch_.read("o.txt"), kHead);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    write_fault_inputs();
    fs::remove(scratch_.path("o.txt"));
    RunOptions options;
    bool removed = false;
    options.at_prompt = [&] { removed = fs::remove(scratch_.path(c.file)); };
    expect_error(c.open_error, options);
    EXPECT_TRUE(removed);
  }
  // Genotypes and expressions were loaded and the head written before the
  // allele file was looked for.
  EXPECT_EQ(scratch_.read("o.txt"), kHead);
}

TEST_P(CliTest, RowsWrittenBeforeAFailureStayInTheResultFile) {
  write_fault_inputs();
  const CliResult complete = run(RunOptions{});
  ASSERT_EQ(complete.status, 0) << complete.err;
  const std::string full = scratch_.read("o.txt");
  ASSERT_EQ(rows_before_snp(full, 3), full);
  ASSERT_GT(full.size(), kHead.size() + 18 * 20);

  // A file size limit fails the write that crosses it, as a full disk does:
  // in the head, in the first row, in the last row. The file keeps a prefix
  // of the complete result: the head once it fitted, every row of the SNPs
  // before the one whose row crossed the limit, and nothing past the limit.
  // Whether the crossing row (or more rows of its SNP) is kept torn, whole
  // or cut back to a row boundary differs between the two programs; the
  // engine never leaves a torn row.
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
    // The engine cuts a torn row back to the last whole chunk.
    if (GetParam() == std::string(ZIRK_BINARY) && limit > kHead.size()) {
      EXPECT_EQ(kept.back(), '\n');
    }
    const std::size_t crossing_row = full.rfind('\n', limit - 1) + 1;
    const std::string done =
        limit < kHead.size()
            ? std::string()
            : rows_before_snp(full, std::stoi(full.substr(crossing_row)));
    EXPECT_GE(kept.size(), done.size());
  }
}

// Broken, over-long and empty inputs, on disk and on standard input.
TEST_P(CliTest, BadInputsEndInOneErrorLine) {
  std::string garbage;
  for (int k = 0; k < 4 * 256; ++k) garbage += static_cast<char>(k % 256);
  const std::string genome = "Error: Invalid format in genome data";
  const std::string expressions = "Error: Invalid data in expressions";
  const std::string alleles = "Error: Invalid format in allele data.";
  const std::string aborted = "Error: Aborted due to input error.";
  const struct {
    std::string file;  // "" for standard input
    std::string text;
    std::string message;  // "" for a complete run
    bool headWritten;     // the result file holds the head alone
  } cases[] = {
      // A later genotype line of five million characters.
      {"g.txt", "A T G G C C\n" + repeat("A ", 2500000) + "\n", genome, false},
      // The scan counts a line of more than 31 characters per individual as
      // several genes, for which the reader then finds too few values.
      {"e.txt", "1 2 3 4 5 6" + std::string(1000000, ' ') + "\n",
       "Error: Invalid format in expression data.", false},
      {"a.txt", std::string(1000000, 'A') + "\nG\nC\n", alleles, true},
      {"", std::string(1000000, '9') + "\n", aborted, false},
      {"", "0.05" + std::string(1000000, 'x'), "", false},
      // The first line starts with a NUL byte: no newline is found in it.
      {"g.txt", garbage, "Error: Absorted due to input error (genome data).",
       false},
      {"g.txt", std::string("A T G G C C\nT T G\0C C A\n", 24), genome, false},
      {"e.txt", garbage, expressions, false},
      {"e.txt", std::string("1.5 2.25 3\0 4.5 5 6.75\n", 23), expressions,
       false},
      {"a.txt", garbage, alleles, false},
      {"a.txt", std::string("A\0\nG\nC\n", 7), alleles, false},
      {"", garbage, aborted, false},
      // No individuals or no genes: nothing to screen, a complete result.
      {"g.txt", "", "", true},
      {"e.txt", "", "", true},
      {"a.txt", "", alleles, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + ": " + ::testing::PrintToString(c.text.size()));
    write_fault_inputs();
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
    if (c.headWritten) {
      EXPECT_EQ(scratch_.read("o.txt"), kHead);
    }
  }
}

// A million individuals and a million genes fit in 3 MB of input but imply
// an 8 TB expression matrix: the failed allocation ends the run with a
// message, not an abort.
TEST_P(CliTest, MatrixTooLargeToHoldEndsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's allocator aborts on a failed allocation "
                  "instead of throwing std::bad_alloc";
#endif
  write_fault_inputs();
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
  input_detail::count_line(count, "unused");
  EXPECT_EQ(count, INT32_MAX);
  EXPECT_EXIT(
      input_detail::count_line(
          count, "Aborted due to input error (expression data)."),
      ::testing::ExitedWithCode(1),
      ::testing::Eq(std::string(
          "Error: Aborted due to input error (expression data).\n")));
}

}  // namespace
