// Black-box tests of the zirk program: start-up, messages, exit statuses and
// the result file, compared byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_harness.h"

namespace {

const std::string kUsage =
    "Usage: zirk [-h] -g filenameG -e filenameE -a filenameA -o filenameO\n";

// Three individuals, two SNPs, three genes: the smallest data set that every
// sample line of the loading stage can show in full.
void write_small_inputs(const CliScratch& scratch) {
  scratch.write("g.txt", "A T G G\nT T G C\nA A C C\n");
  scratch.write("e.txt", "1 2 3\n4.5 5e1 6\n10 100 1000\n");
  scratch.write("a.txt", "A T\nG C\n");
}

const std::vector<std::string> kAllOptions = {"-g", "g.txt", "-e", "e.txt",
                                              "-a", "a.txt", "-o", "o.txt"};

const std::string kEcho =
    "check the files...\n"
    "genotype  : g.txt\n"
    "expression: e.txt\n"
    "allele    : a.txt\n"
    "output    : o.txt\n"
    "check the size of the input data...\n";

// Every case runs against both programs: the production engine and the
// straightforward reference must not differ by a byte.
class CliTest : public ::testing::TestWithParam<const char*> {
 protected:
  CliResult run(const std::vector<std::string>& args,
                const std::string& input = "0.05\n") {
    return scratch_.run(GetParam(), args, input);
  }
  CliScratch scratch_;
};

INSTANTIATE_TEST_SUITE_P(Programs, CliTest, both_programs(), program_name);

TEST_P(CliTest, OptionTable) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{},
       1,
       "# of arguments: 0\n",
       "Error: Specify \"-g filenameG\"\n" + kUsage},
      {{"-h"}, 0, "", "HELP\n" + kUsage},
      {{"-h", "-x"}, 0, "", "HELP\n" + kUsage},
      {{"-g", "g.txt", "-h", "-q"}, 0, "", "HELP\n" + kUsage},
      {{"-x", "-h"}, 1, "", "zirk: invalid option -- 'x'\n" + kUsage},
      {{"-g"}, 1, "", "zirk: option requires an argument -- 'g'\n" + kUsage},
      {{"-g", "g.txt", "-e", "e.txt", "-a", "a.txt", "-o", "o.txt", "extra"},
       1,
       "",
       "Error: Wrong number of arguments.\n" + kUsage},
      // Parsing stops at the first operand: the -h after it is an operand.
      {{"extra", "-h"}, 1, "", "Error: Wrong number of arguments.\n" + kUsage},
      {{"-g", "g.txt", "--", "-h"},
       1,
       "",
       "Error: Wrong number of arguments.\n" + kUsage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CliResult result = run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
}

TEST_P(CliTest, UsageLineNamesTheProgramAsInvoked) {
  const CliResult result = scratch_.run(
      GetParam(), {"-h"}, RunOptions{.input = "", .program = "./bin/zirk-run"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "HELP\nUsage: ./bin/zirk-run [-h] -g filenameG -e filenameE -a "
            "filenameA -o filenameO\n");
}

TEST_P(CliTest, MissingOptionsAreReportedInFixedOrder) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  // None of these files exist: a missing option is reported before any file
  // is opened.
  const std::vector<Case> cases = {
      {{"-a", "a", "-o", "o"}, "Error: Specify \"-g filenameG\""},
      {{"-g", "g", "-a", "a", "-o", "o"}, "Error: Specify \"-e filenameE\""},
      {{"-g", "g", "-e", "e", "-o", "o"}, "Error: Specify \"-a filenameA\""},
      {{"-g", "g", "-e", "e", "-a", "a"}, "Error: Specify \"-o filenameO\""},
      {{"-g", "", "-e", "e", "-a", "a", "-o", "o"},
       "Error: Specify \"-g filenameG\""},
      // A repeated option overwrites the earlier value, also with "".
      {{"-g", "g", "-g", "", "-e", "e", "-a", "a", "-o", "o"},
       "Error: Specify \"-g filenameG\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const CliResult result = run(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "# of arguments: 0\n");
    EXPECT_EQ(result.err, c.message + "\n" + kUsage);
  }
}

TEST_P(CliTest, InputFilesAreTestedInFixedOrder) {
  scratch_.write("present", "x\n");
  struct Case {
    std::string g, e, a;
    std::string missing;
  };
  const std::vector<Case> cases = {
      {"nog", "noe", "noa", "nog"},
      {"present", "noe", "noa", "noe"},
      {"present", "present", "dir/noa", "dir/noa"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing);
    const CliResult result =
        run({"-g", c.g, "-e", c.e, "-a", c.a, "-o", "missing/out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "# of arguments: 0\n");
    EXPECT_EQ(result.err, "Error: File \"" + c.missing + "\" not found.\n");
  }
}

TEST_P(CliTest, ThresholdRead) {
  write_small_inputs(scratch_);
  const std::string prompt =
      "# of arguments: 0\nthreshold of MC test's pvalue?: ";
  for (const std::string input : {"", "   \n", "abc\n", ".\n"}) {
    SCOPED_TRACE(input);
    const CliResult result = run(kAllOptions, input);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, prompt);
    EXPECT_EQ(result.err, "Error: Aborted due to input error.\n");
  }
  // Letters after the number, zero and values above one are accepted as they
  // stand; the head of the result file shows the value that was read.
  const std::vector<std::pair<std::string, std::string>> accepted = {
      {"0.05abc", "threshold = 0.050000\n"},
      {"\n\t 0", "threshold = 0.000000\n"},
      {"1.5", "threshold = 1.500000\n"},
  };
  for (const auto& [input, headLine] : accepted) {
    SCOPED_TRACE(input);
    const CliResult result = run(kAllOptions, input);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, prompt.size() + kEcho.size()),
              prompt + kEcho);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(scratch_.read("o.txt").substr(0, 17 + headLine.size()),
              "Results of ZIRK:\n" + headLine);
  }
}

TEST_P(CliTest, EchoDimensionsAndLoadingLines) {
  write_small_inputs(scratch_);
  const CliResult result = run(kAllOptions, "1e-300\n");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "# of arguments: 0\n"
            "threshold of MC test's pvalue?: " +
                kEcho +
                "#SNPs : 2\n"
                "#genes: 3\n"
                "n     : 3\n"
                "read genotypes... ATGG...\n"
                "read expressions... 1 2 3...\n"
                "Running...\n"
                "#pairs: 6\n"
                "#prunings: 6\n");
}

// The loading lines show individual 0's alleles at SNPs 0 and 1 and gene 0
// in individuals 0 to 2, as far as the data hold them, and nothing in the
// place of what is missing.
TEST_P(CliTest, LoadingSamplesShowOnlyWhatExists) {
  scratch_.write("g.txt", "A T\nG C\n");
  scratch_.write("e.txt", "5 7\n");
  scratch_.write("a.txt", "A\n");
  CliResult result = run(kAllOptions);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("#SNPs : 1\n#genes: 1\nn     : 2\n"
                            "read genotypes... AT...\n"
                            "read expressions... 5 7...\nRunning...\n"
                            "#pairs: 0\n#prunings: 0\n"),
            std::string::npos)
      << result.out;

  scratch_.write("g.txt", "");
  scratch_.write("e.txt", "\n");
  result = run(kAllOptions);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("n     : 0\nread genotypes... ...\n"
                            "read expressions... ...\n"),
            std::string::npos)
      << result.out;
}

TEST_P(CliTest, ScanFaultsEndTheRunAfterTheEcho) {
  scratch_.write("e.txt", "1 2 3\n");
  scratch_.write("a.txt", "A\n");
  const std::string before =
      "# of arguments: 0\nthreshold of MC test's pvalue?: " + kEcho;
  scratch_.write("g.txt", "A  T\n");
  CliResult result = run(kAllOptions);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, before);
  EXPECT_EQ(result.err, "Error: Invalid format in genome data.\n");

  scratch_.write("g.txt", "A T\nA T \n");
  result = run(kAllOptions);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Invalid format in genome data\n");
}

}  // namespace
