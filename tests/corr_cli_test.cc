// zirk-corr as a black box: its errors word for word with nothing left
// behind, and the equivalent ways of naming its input and output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;

// Five individuals (classes 0, 1, 1, 2, 0 at SNP 0; all 1 at SNP 1), four
// genes.
const char kGenotype[] = "A A A G\nA G G A\nG A A G\nG G A G\nA A G A\n";
const char kExpression[] = "1 2 3 4 5\n5 3 2 2 1\n7 1 8 2 9\n3 3 3 4 4\n";
const char kAllele[] = "A G\nA G\n";

class CorrCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.write("g.txt", kGenotype);
    scratch_.write("e.txt", kExpression);
    scratch_.write("a.txt", kAllele);
    fs::create_directory(scratch_.path("data"));
    for (const auto& [name, text] :
         {std::pair{"geno.txt", kGenotype}, std::pair{"expr.txt", kExpression},
          std::pair{"allele.txt", kAllele}}) {
      scratch_.write(std::string("data/") + name, text);
    }
  }

  CliResult run(const std::vector<std::string>& args) {
    RunOptions options;
    options.input = "";
    options.program = "zirk-corr";
    return scratch_.run(ZIRK_CORR_BINARY, args, options);
  }

  // Runs `args`, expects `message` as the only text, exit status 1 and no
  // file in the scratch directory but the inputs.
  void expect_error(const std::vector<std::string>& args,
                    const std::string& message) {
    SCOPED_TRACE(message);
    const CliResult result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message + "\n");
    EXPECT_EQ(result.out, "");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(scratch_.dir())) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"a.txt", "data", "e.txt", "g.txt"}));
  }

  CliScratch scratch_;
};

TEST_F(CorrCliTest, ErrorsAreOneLineAndLeaveNoOutput) {
  const std::vector<std::string> files = {"-g",    "g.txt", "-e",
                                          "e.txt", "-a",    "a.txt"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = files;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  expect_error({},
               "Error: give -g, -e and -a, or --data DIR (see zirk-corr "
               "--help)");
  expect_error({"-g", "g.txt", "-e", "e.txt", "-o", "o.tsv"},
               "Error: give -g, -e and -a, or --data DIR (see zirk-corr "
               "--help)");
  expect_error(files,
               "Error: give --out or --summary, or both ('-' for standard "
               "output)");
  expect_error(with({"-o", "-", "-s", "-"}),
               "Error: --out and --summary cannot both be standard output");
  expect_error(with({"-s", "s.txt", "-p", "0.01"}),
               "Error: --max-p needs --out");
  expect_error(with({"-o", "o.tsv", "-p", "0"}),
               "Error: --max-p: '0' is not a number above 0 and at most 1");
  expect_error(with({"-o", "o.tsv", "-w", "1000"}),
               "Error: --cis-window needs --data DIR for the IDs and "
               "positions");
  expect_error({"-d", "data", "-o", "o.tsv", "-w", "1", "-A", "x.tsv"},
               "Error: --cis-window and --anchors exclude each other");
  expect_error(with({"-o", "o.tsv", "--threads", "0"}),
               "Error: --threads: '0' is not a whole number from 1 to 256");
  expect_error(with({"-o", "o.tsv", "-t", "2x"}),
               "Error: --threads: '2x' is not a whole number from 1 to 256");
  expect_error(with({"-o", "o.tsv", "--min-class-size", "3"}),
               "Error: --min-class-size: '3' is not a whole number of at "
               "least 4");
  expect_error(with({"-o", "o.tsv", "-m", "20.5"}),
               "Error: --min-class-size: '20.5' is not a whole number of at "
               "least 4");
  expect_error(with({"-o", "o.tsv", "-V", "Normal"}),
               "Error: --variance: 'Normal' is not empirical or normal");
  expect_error(with({"-x"}), "Error: unknown option -x (see zirk-corr --help)");
  expect_error(with({"-o"}), "Error: -o needs a value");
  expect_error(with({"-o", "o.tsv", "more"}),
               "Error: unexpected argument 'more' (see zirk-corr --help)");
  expect_error(
      {"-g", "missing.txt", "-e", "e.txt", "-a", "a.txt", "-o", "o.tsv"},
      "Error: missing.txt: cannot open: No such file or directory");
  expect_error({"--data", "nowhere", "-o", "o.tsv"},
               "Error: nowhere/geno.txt: cannot open: No such file or "
               "directory");
  expect_error(with({"-o", "nowhere/o.tsv"}),
               "Error: nowhere/o.tsv: cannot create a file beside it: No "
               "such file or directory");

  // Faults inside the files keep zirk's own messages; the last SNP's bad
  // allele stops the run before any row is written.
  scratch_.write("a.txt", "A G\nX\n");
  expect_error(with({"-o", "o.tsv"}), "Error: Invalid data in allele data.");
  scratch_.write("a.txt", kAllele);
  scratch_.write("e.txt", "1 2 3 4 5\n5 3 x 2 1\n");
  expect_error(with({"-o", "o.tsv"}), "Error: Invalid data in expressions");
  scratch_.write("e.txt", kExpression);

  // A write that fails halfway (a full disk) removes the partial file.
  RunOptions limited;
  limited.input = "";
  limited.program = "zirk-corr";
  limited.file_size_limit = 100;
  const CliResult full =
      scratch_.run(ZIRK_CORR_BINARY, with({"-o", "o.tsv"}), limited);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "Error: o.tsv: write error: File too large\n");
  EXPECT_FALSE(fs::exists(scratch_.path("o.tsv")));
}

TEST_F(CorrCliTest, InputAndOutputNamedEitherWayGiveTheSameRows) {
  // Classes of 5 individuals need the smallest minimum class size.
  const CliResult files =
      run({"-g", "g.txt", "-e", "e.txt", "-a", "a.txt", "-o", "-", "-m", "4"});
  ASSERT_EQ(files.status, 0) << files.err;
  EXPECT_EQ(files.err, "");
  const CliResult folder =
      run({"--data", "data", "--out", "o.tsv", "--min-class-size", "4"});
  ASSERT_EQ(folder.status, 0) << folder.err;
  EXPECT_EQ(folder.out, "");
  EXPECT_EQ(scratch_.read("o.tsv"), files.out);
  // The header and one row per SNP and pair. At SNP 1 everyone is in class
  // 1: its correlation (ranks 3 1 4 2 5 against 2 2 2 4.5 4.5: 2.5 /
  // sqrt(10 * 7.5)) but no test.
  EXPECT_EQ(files.out.substr(0, files.out.find('\n') + 1),
            "snp\tgene1\tgene2\tn0\tn1\tn2\tr0\tr1\tr2\tlog10_p_trend\t"
            "log10_p_het\n");
  EXPECT_EQ(std::count(files.out.begin(), files.out.end(), '\n'), 1 + 2 * 6);
  EXPECT_NE(files.out.find("1\t2\t3\t0\t5\t0\tNA\t0.288675\tNA\tNA\tNA\n"),
            std::string::npos);
  // At the default minimum every class here is too small.
  const CliResult byDefault = run({"--data", "data", "-o", "-"});
  ASSERT_EQ(byDefault.status, 0) << byDefault.err;
  EXPECT_NE(byDefault.out.find("1\t2\t3\t0\t5\t0\tNA\tNA\tNA\tNA\tNA\n"),
            std::string::npos);

  const CliResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: zirk-corr", 0), 0u);
}

}  // namespace
