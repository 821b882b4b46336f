// End-to-end tests of the screening loop and the result file: whole runs of
// both programs, compared byte for byte with expected result files and
// standard output.
// The golden case and how it was made: tests/golden/README.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace {

const std::filesystem::path kGoldenDir =
    std::filesystem::path(ZIRK_SOURCE_DIR) / "tests" / "golden";

std::string golden(const std::string& name) {
  const std::filesystem::path path = kGoldenDir / name;
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  return read_file(path);
}

// The lines of `text`, each with its newline.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
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

int count_prunings(const std::vector<std::string>& rows) {
  int count = 0;
  for (const std::string& row : rows) {
    const std::string flag = fields_of(row)[3];
    if (flag == "0" || flag == "2") ++count;
  }
  return count;
}

std::string drop_last_lines(const std::string& text, std::size_t count) {
  std::vector<std::string> lines = lines_of(text);
  lines.resize(lines.size() - count);
  return join(lines);
}

class E2eTest : public ::testing::TestWithParam<const char*> {
 protected:
  void write_golden_inputs() {
    scratch_.write("g.txt", golden("genotype.txt"));
    scratch_.write("e.txt", golden("expression.txt"));
    scratch_.write("a.txt", golden("allele.txt"));
  }
  CliResult run(const std::string& threshold,
                const std::vector<std::string>& args = kRunArgs) {
    return scratch_.run(GetParam(), args, threshold + "\n");
  }
  CliScratch scratch_;
};

INSTANTIATE_TEST_SUITE_P(Programs, E2eTest, both_programs(), program_name);

TEST_P(E2eTest, GoldenRunsMatchTheExpectedFiles) {
  write_golden_inputs();
  // A longer file in the way: one not truncated would keep its tail.
  scratch_.write("o.txt", std::string(5000, 'x') + "\n");
  for (const std::string threshold : {"0.05", "2.5"}) {
    SCOPED_TRACE(threshold);
    const CliResult result = run(threshold);
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
TEST_P(E2eTest, ThresholdComparisonIsStrict) {
  write_golden_inputs();
  const std::vector<std::string> all = lines_of(golden("result_2.5.txt"));
  const std::vector<std::string> rows(all.begin() + 3, all.end());
  struct Case {
    std::string threshold;
    std::string head_line;
    std::vector<std::string> pruned_snps;  // rows of these SNPs get flag 0
    bool prune_all;
  };
  const std::vector<Case> cases = {
      {"2", "threshold = 2.000000\n", {"2"}, false},
      {"1.5", "threshold = 1.500000\n", {"2"}, false},
      {"1", "threshold = 1.000000\n", {"1", "2"}, false},
      {"0", "threshold = 0.000000\n", {}, true},
      {"-0.5", "log10(threshold) = nan\n", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.threshold);
    std::vector<std::string> expected_rows;
    for (const std::string& row : rows) {
      const std::string snp = fields_of(row)[0];
      const bool pruned =
          c.prune_all || std::find(c.pruned_snps.begin(), c.pruned_snps.end(),
                                   snp) != c.pruned_snps.end();
      expected_rows.push_back(pruned ? as_mc_pruned(row) : row);
    }
    const CliResult result = run(c.threshold);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(scratch_.read("o.txt"), "Results of ZIRK:\n" + c.head_line +
                                          kColumnHeader + join(expected_rows));
    EXPECT_EQ(result.out,
              drop_last_lines(golden("stdout_2.5.txt"), 1) + "#prunings: " +
                  std::to_string(count_prunings(expected_rows)) + "\n");
  }
  // Threshold 0 meets the p-value 0 of this pair.
  EXPECT_EQ(as_mc_pruned(all[3 + 37]), "3\t2\t3\t0\t-inf\t1.0\t1.0\n");
}

TEST_P(E2eTest, RunStoppedByAnAlleleFaultKeepsTheEarlierRows) {
  write_golden_inputs();
  const std::vector<std::string> expected = lines_of(golden("result_0.05.txt"));
  const std::string out_before_trailer =
      drop_last_lines(golden("stdout_0.05.txt"), 2);
  struct Case {
    std::string allele_file;
    std::size_t rows_kept;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"A G\nC\nN A\ng c\n", 20, "Error: Invalid data in allele data.\n"},
      {"A G\nC\nT A\ng c c\n", 30, "Error: Invalid format in allele data.\n"},
      {" A\nC\nT A\ng c\n", 0, "Error: Invalid data in allele data.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.allele_file);
    scratch_.write("a.txt", c.allele_file);
    const CliResult result = run("0.05");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(result.out, out_before_trailer);
    EXPECT_EQ(scratch_.read("o.txt"),
              join({expected.begin(), expected.begin() + 3 + c.rows_kept}));
  }
}

TEST_P(E2eTest, FewerThanTwoGenesWriteTheHeadOnly) {
  scratch_.write("g.txt", "A A C C G T\nA T C G T T\nT T G G G G\n");
  const std::string head =
      "Results of ZIRK:\nthreshold = 0.050000\n" + kColumnHeader;
  const std::string out_before_loop =
      "# of arguments: 0\n"
      "threshold of MC test's pvalue?: check the files...\n"
      "genotype  : g.txt\nexpression: e.txt\nallele    : a.txt\n"
      "output    : o.txt\ncheck the size of the input data...\n"
      "#SNPs : 3\n";
  struct Case {
    std::string expression;
    std::string loading;
  };
  const std::vector<Case> cases = {
      {"1 2 3\n",
       "#genes: 1\nn     : 3\nread genotypes... AACC...\n"
       "read expressions... 1 2 3...\nRunning...\n"},
      {"",
       "#genes: 0\nn     : 3\nread genotypes... AACC...\n"
       "read expressions... ...\nRunning...\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    scratch_.write("e.txt", c.expression);
    scratch_.write("a.txt", "A\nC\nG\n");
    CliResult result = run("0.05");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              out_before_loop + c.loading + "#pairs: 0\n#prunings: 0\n");
    EXPECT_EQ(scratch_.read("o.txt"), head);

    // No pair is examined, yet every SNP's allele line is still read.
    for (const auto& [alleles, message] :
         std::vector<std::pair<std::string, std::string>>{
             {"A\nC\nN\n", "Error: Invalid data in allele data.\n"},
             {"A\nC\nG T T\n", "Error: Invalid format in allele data.\n"}}) {
      SCOPED_TRACE(alleles);
      scratch_.write("a.txt", alleles);
      result = run("0.05");
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, message);
      EXPECT_EQ(result.out, out_before_loop + c.loading);
      EXPECT_EQ(scratch_.read("o.txt"), head);
    }
  }
}

// Classes of 3 / 3 / 1 at the only SNP: the lone member of class 2 gives
// the pair the fixed MC p-value 2.0 (log10 0.301030).
TEST_P(E2eTest, ThresholdLineForms) {
  scratch_.write("g.txt", "A A\nA A\nA A\nA T\nT A\nA T\nT T\n");
  scratch_.write("e.txt", "1 10 100 2 20 200 5\n10 1 100 30 3 7 4\n");
  scratch_.write("a.txt", "A\n");
  // glibc prints the NaN that log10 returns for a negative number as "nan".
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0.05", "threshold = 0.050000\n"},
      {"1e-6", "threshold = 0.000001\n"},
      {"0.000001", "threshold = 0.000001\n"},
      {"9.9999e-7", "log10(threshold) = -6.000004\n"},
      {"1e-8", "log10(threshold) = -8.000000\n"},
      {"1e-300", "log10(threshold) = -300.000000\n"},
      {"0", "threshold = 0.000000\n"},
      {"-0.5", "log10(threshold) = nan\n"},
      {"-1e-300", "log10(threshold) = nan\n"},
      {"1.5", "threshold = 1.500000\n"},
  };
  for (const auto& [threshold, line] : cases) {
    SCOPED_TRACE(threshold);
    const CliResult result = run(threshold);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(scratch_.read("o.txt"), "Results of ZIRK:\n" + line +
                                          kColumnHeader +
                                          "0\t0\t1\t0\t0.301030\t1.0\t1.0\n");
  }
}

}  // namespace
