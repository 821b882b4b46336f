// Black-box tests of start-up: options, messages, exit statuses and the
// loading lines, byte for byte, for both programs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cli_harness.h"

namespace {

const std::string kUsage =
    "Usage: zirk [-h] -g filenameG -e filenameE -a filenameA -o filenameO\n";
const std::string kPrompt =
    "# of arguments: 0\nthreshold of MC test's pvalue?: ";
const std::string kEcho =
    "check the files...\ngenotype  : g.txt\nexpression: e.txt\n"
    "allele    : a.txt\noutput    : o.txt\n"
    "check the size of the input data...\n";
const std::string kNone = "# of arguments: 0\n";

class CliTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Three individuals, two SNPs, three genes: the smallest data set that
  // every sample line of the loading stage can show in full.
  void SetUp() override {
    scratch_.write("g.txt", "A T G G\nT T G C\nA A C C\n");
    scratch_.write("e.txt", "1 2 3\n4.5 5e1 6\n10 100 1000\n");
    scratch_.write("a.txt", "A T\nG C\n");
    scratch_.write("present", "x\n");
  }
  CliResult run(const std::vector<std::string>& args,
                const std::string& input = "0.05\n") {
    return scratch_.run(GetParam(), args, input);
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
    std::string genotypes = "";  // replaces g.txt when not empty
  };
  const std::string done =
      "#SNPs : 2\n#genes: 3\nn     : 3\nread genotypes... ATGG...\n"
      "read expressions... 1 2 3...\nRunning...\n#pairs: 6\n#prunings: 6\n";
  const std::vector<Case> cases = {
      {{}, 1, kNone, "Error: Specify \"-g filenameG\"\n" + kUsage},
      {{"-h"}, 0, "", "HELP\n" + kUsage},
      {{"-h", "-x"}, 0, "", "HELP\n" + kUsage},
      {{"-g", "g.txt", "-h", "-q"}, 0, "", "HELP\n" + kUsage},
      {{"-x", "-h"}, 1, "", "zirk: invalid option -- 'x'\n" + kUsage},
      {{"-g"}, 1, "", "zirk: option requires an argument -- 'g'\n" + kUsage},
      {{"-g", "g", "-e", "e", "-a", "a", "-o", "o", "extra"},
       1,
       "",
       "Error: Wrong number of arguments.\n" + kUsage},
      // Parsing stops at the first operand: the -h after it is an operand.
      {{"extra", "-h"}, 1, "", "Error: Wrong number of arguments.\n" + kUsage},
      {{"-g", "g.txt", "--", "-h"},
       1,
       "",
       "Error: Wrong number of arguments.\n" + kUsage},
      // A missing option is reported before any file is opened, in a fixed
      // order; a repeated option overwrites the earlier value, also with "".
      {{"-a", "a", "-o", "o"},
       1,
       kNone,
       "Error: Specify \"-g filenameG\"\n" + kUsage},
      {{"-g", "g", "-a", "a", "-o", "o"},
       1,
       kNone,
       "Error: Specify \"-e filenameE\"\n" + kUsage},
      {{"-g", "g", "-e", "e", "-o", "o"},
       1,
       kNone,
       "Error: Specify \"-a filenameA\"\n" + kUsage},
      {{"-g", "g", "-e", "e", "-a", "a"},
       1,
       kNone,
       "Error: Specify \"-o filenameO\"\n" + kUsage},
      {{"-g", "", "-e", "e", "-a", "a", "-o", "o"},
       1,
       kNone,
       "Error: Specify \"-g filenameG\"\n" + kUsage},
      {{"-g", "g", "-g", "", "-e", "e", "-a", "a", "-o", "o"},
       1,
       kNone,
       "Error: Specify \"-g filenameG\"\n" + kUsage},
      // Input files are looked for in a fixed order.
      {{"-g", "nog", "-e", "noe", "-a", "noa", "-o", "missing/out"},
       1,
       kNone,
       "Error: File \"nog\" not found.\n"},
      {{"-g", "present", "-e", "noe", "-a", "noa", "-o", "missing/out"},
       1,
       kNone,
       "Error: File \"noe\" not found.\n"},
      {{"-g", "present", "-e", "present", "-a", "dir/noa", "-o", "o"},
       1,
       kNone,
       "Error: File \"dir/noa\" not found.\n"},
      {kRunArgs, 1, kPrompt, "Error: Aborted due to input error.\n", ""},
      {kRunArgs, 1, kPrompt, "Error: Aborted due to input error.\n", "   \n"},
      {kRunArgs, 1, kPrompt, "Error: Aborted due to input error.\n", "abc\n"},
      {kRunArgs, 1, kPrompt, "Error: Aborted due to input error.\n", ".\n"},
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
    const CliResult result = run(c.args, c.input);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    if (!c.genotypes.empty()) SetUp();
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

// Letters after the number, zero and values above one are accepted as they
// stand; the head of the result file shows the value that was read.
TEST_P(CliTest, ThresholdAcceptedAsItStands) {
  for (const auto& [input, headLine] :
       std::vector<std::pair<std::string, std::string>>{
           {"0.05abc", "threshold = 0.050000\n"},
           {"\n\t 0", "threshold = 0.000000\n"},
           {"1.5", "threshold = 1.500000\n"}}) {
    SCOPED_TRACE(input);
    const CliResult result = run(kRunArgs, input);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, kPrompt.size() + kEcho.size()),
              kPrompt + kEcho);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(scratch_.read("o.txt").substr(0, 17 + headLine.size()),
              "Results of ZIRK:\n" + headLine);
  }
}

// The loading lines show individual 0's alleles at SNPs 0 and 1 and gene 0
// in individuals 0 to 2, as far as the data hold them, and nothing in the
// place of what is missing.
TEST_P(CliTest, LoadingSamplesShowOnlyWhatExists) {
  const std::vector<std::vector<std::string>> cases = {
      {"A T\nG C\n", "5 7\n",
       "#SNPs : 1\n#genes: 1\nn     : 2\nread genotypes... AT...\n"
       "read expressions... 5 7...\nRunning...\n#pairs: 0\n#prunings: 0\n"},
      {"", "\n", "n     : 0\nread genotypes... ...\nread expressions... ...\n"},
  };
  for (const auto& c : cases) {
    scratch_.write("g.txt", c[0]);
    scratch_.write("e.txt", c[1]);
    scratch_.write("a.txt", "A\n");
    const CliResult result = run(kRunArgs);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(c[2]), std::string::npos) << result.out;
  }
}

}  // namespace
