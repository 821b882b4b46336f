// The readers of the three input files: the scan of their sizes, the
// genotype, expression and allele readers, and the engine's allele table.
#include "input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "allele_table.h"

namespace {

namespace fs = std::filesystem;

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "zirk-input-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    n = ngene = ps = 0;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& content) {
    const std::string path = (dir_ / name).string();
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path;
  }
  std::string missing() const { return (dir_ / "missing").string(); }

  // What a lookup ends in: "allele X status 0", or error()'s line and its
  // exit status. Runs `lookup` in a child process, since error() exits.
  std::string outcome(const std::function<char()>& lookup) {
    const std::string log = (dir_ / "stderr.txt").string();
    const pid_t child = fork();
    if (child == 0) {
      if (std::freopen(log.c_str(), "w", stderr) == nullptr) _exit(127);
      std::fprintf(stderr, "allele %c", lookup());
      std::fflush(stderr);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(log, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {}) + " status " +
           std::to_string(WEXITSTATUS(status));
  }
  std::string reference_outcome(const std::string& file, unsigned s) {
    return outcome([&] {
      char allele = ' ';
      getallele(s, allele, file.c_str());
      return allele;
    });
  }
  std::string table_outcome(const std::string& file, std::size_t s) {
    return outcome([&] { return AlleleTable(file.c_str(), 6).lookup(s); });
  }

  void scan(const std::string& genotype) {
    const std::string g = write("genotype.txt", genotype);
    const std::string e = write("expression.txt", "1\n");
    get_parmeters(g.c_str(), e.c_str());
  }

  fs::path dir_;
};

std::string repeat(const std::string& text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

#define EXPECT_ERROR(statement, message)               \
  EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), \
              ::testing::Eq(std::string(message) + "\n"))

// The scan fixes the individuals and SNPs from the layout; where `alleles`
// is given, read_genotype takes them whatever the separators.
TEST_F(InputTest, ScanAndReadGenotypesOfEveryLayout) {
  const std::string longestLine = repeat("A C ", 1000000) + "\n";
  const struct {
    std::string content;
    int individuals, snps;
    std::string alleles = "";
  } cases[] = {
      {"a t g g\nc c t t\n", 2, 2},
      {"A T\n", 1, 1},
      // A last line without newline is not held to the first line's length.
      {"A T G G\nC C A A", 2, 2},
      {"A T G G\nC C A A C", 2, 2},
      // A single line without newline counts as a line of its own length.
      {"A T G G", 1, 2},
      {"A T", 1, 1},
      {"\n", 1, 0},
      {"\n\n", 2, 0},
      {"", 0, 0},
      // 4,000,000 characters, the most the scan reads: a million SNPs with a
      // trailing separator.
      {repeat(longestLine, 2), 2, 1000000},
      {"A\tT\tG\tG\nT\tT\tG\tC\nA\tT\tG\tG\n", 3, 2, "ATGGTTGCATGG"},
      {"A T G G\nT T G C\nA T G G\n", 3, 2, "ATGGTTGCATGG"},
      {"A/T G/G\nT/T G/C\n", 2, 2, "ATGGTTGC"},
      {"A T G G\r\nT T G C\r\n", 2, 2, "ATGGTTGC"},
      {"A T G G \nT T G C \n", 2, 2, "ATGGTTGC"},
      {"A T G G\nT T G C", 2, 2, "ATGGTTGC"},
      // Rows stay aligned with a trailing separator and carriage return.
      {"A T G G \r\nT T G C \r\nC G A A \r\n", 3, 2, "ATGGTTGCCGAA"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 40));
    scan(c.content);
    EXPECT_EQ(n, c.individuals);
    EXPECT_EQ(ps, c.snps);
    if (c.alleles.empty() || n != c.individuals || ps != c.snps) continue;
    GenotypeMatrix gmat(n, 4, '-');
    read_genotype(gmat, (dir_ / "genotype.txt").c_str());
    EXPECT_EQ(std::string(gmat.data().begin(), gmat.data().end()), c.alleles);
  }
  scan("\n\n");
  GenotypeMatrix none(2, 0, '-');
  read_genotype(none, (dir_ / "genotype.txt").c_str());
  EXPECT_EQ(none.size1(), 2u);
  EXPECT_EQ(none.size2(), 0u);

  // Rows past an early end of file stay as they were.
  n = 2;
  ps = 1;
  GenotypeMatrix gmat(2, 2, '-');
  read_genotype(gmat, write("short.txt", "C G\n").c_str());
  EXPECT_EQ(std::string(gmat.data().begin(), gmat.data().end()), "CG--");
  EXPECT_ERROR(read_genotype(gmat, missing().c_str()),
               "Error: Cannot open the genome file.");
}

TEST_F(InputTest, ScanRejectsBadGenotypeLayout) {
  EXPECT_ERROR(
      get_parmeters(missing().c_str(), write("expression.txt", "1\n").c_str()),
      "Error: Cannot open the genome file.");
  const std::string longest = repeat("A C ", 1000000);
  const std::string format = "Error: Invalid format in genome data";
  const std::string data = "Error: Invalid data or format in genome data";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"A  T\n", format + "."},
      {"A T GG\n", format + "."},
      {"AT\n", data},  // its second allele position holds the newline
      {"A T N G\n", data},
      {"A T G G\nA T G 0\n", data},
      {"A T G G\nA T G\n", format},
      {"A T G G\nA T G GG\n", format},
      {"A T G G\n\n", format},
      // A last line without newline must still reach the last allele.
      {"A T G G\nA T G ", format},
      {"A T G G\r\nA T", format},
      {"AT", format},
      // A first line longer than the scan reads.
      {longest + "A\n", "Error: Absorted due to input error (genome data)."},
      // Equal neighbours are found before the missing newline is.
      {"AA" + longest + "\n", format + "."},
  };
  for (const auto& [content, message] : cases) {
    EXPECT_ERROR(scan(content), message) << content.substr(0, 40);
  }
}

TEST_F(InputTest, ScanCountsExpressionPieces) {
  const std::string three = write("three.txt", repeat("A T\n", 3));
  const std::vector<std::pair<std::string, int>> cases = {
      {"1 2 3\n4 5 6\n7 8 9\n1 1 1\n", 4},
      {"1 2 3\n4 5 6\n7 8 9\n1 1 1", 4},
      {"1 2 3\n4 5 6\n7 8 9\n1 1 1\n\n", 5},
      {"", 0},
      // 31·3 = 93 characters fit a piece with their newline; 94 do not.
      {std::string(93, '1') + "\n", 1},
      {std::string(94, '1') + "\n", 2},
  };
  for (const auto& [content, genes] : cases) {
    SCOPED_TRACE(content);
    const std::string e = write("expression.txt", content);
    get_parmeters(three.c_str(), e.c_str());
    EXPECT_EQ(n, 3);
    EXPECT_EQ(ngene, genes);
  }
  // Without individuals every character is a piece of its own.
  const std::string empty = write("empty.txt", "");
  const std::string e = write("expression.txt", "1\n");
  get_parmeters(empty.c_str(), e.c_str());
  EXPECT_EQ(ngene, 2);

  EXPECT_ERROR(get_parmeters(three.c_str(), missing().c_str()),
               "Error: Cannot open the expression file.");
}

TEST_F(InputTest, SizesDoNotOverflowThirtyTwoBits) {
  const std::int32_t big = INT32_MAX;
  EXPECT_EQ(input_detail::expression_scan_buffer_size(big),
            std::size_t{66571993059});
  EXPECT_EQ(input_detail::genotype_buffer_size(big), std::size_t{8589934591});
  EXPECT_EQ(input_detail::expression_value_count(big, big),
            std::size_t{4611686014132420609});
}

TEST_F(InputTest, ReadExpressionFillsGeneColumnsFromOneStream) {
  n = 3;
  ngene = 2;
  for (const std::string& content :
       {std::string("1 2 3\n4.5 5e1 6\n"), std::string("1 2\n3 4.5 5e1 6\n"),
        std::string("1\t2 3  \n 4.5\n5e1 6   \n\n\n")}) {
    SCOPED_TRACE(content);
    RealMatrix emat(3, 2, -1.0);
    read_expression(emat, write("expression.txt", content).c_str());
    // Row by row: individual i's values of genes 0 and 1.
    EXPECT_EQ(std::vector<double>(emat.data().begin(), emat.data().end()),
              (std::vector<double>{1.0, 4.5, 2.0, 50.0, 3.0, 6.0}));
  }
}

// Random expression files built from numbers in every form fscanf accepts
// and from near-numbers whose split fscanf decides: the fast scan must end
// as the fscanf loop ends, with the same values to the bit.
TEST_F(InputTest, FastNumberScanMatchesFscanf) {
  std::vector<std::string> tokens = {
      "1",     "-2.5", ".5",      "5.",        "-.25e-3", "1e5",
      "1E+05", "+7",   "0x1p3",   "-0X1.8P-2", "inf",     "-Infinity",
      "nan",   "-nan", "nan(12)", "1e400",     "-1e-400", "4.9e-324",
      "00012", "-0",   "3.25",    "1e",        "5e+",     "-",
      ".",     "x",    "1.5-2",   "2e5e5",     "1..2",    "0x",
      "infin", "nan(", "1,5",     "NA",        "--1",     "nan()",
      "0x.p1", "0x1.", "+0x1p-3", "iNfInItY",  "0x1e5",   "1e+"};
  tokens.push_back(std::string("1\0002", 3));
  const std::vector<std::string> spaces = {" ", "\t", "\n", "  \r\n", "\v\f"};
  std::mt19937_64 random(23);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[random() % from.size()];
  };
  for (int trial = 0; trial < 3000; ++trial) {
    // Mostly clean numbers, so that the odd token comes at any position;
    // some files long enough to cross the scanner's 64 KiB blocks, and some
    // with a token longer than it holds.
    const bool longFile = trial % 50 == 0;
    const std::size_t tokenCount = longFile ? 20000 : random() % 12;
    // A long file holds one odd token at most, late, in every other case.
    const std::size_t oddAt = trial % 100 == 0 ? 18000 + random() % 1000 : -1;
    std::string content = random() % 3 == 0 ? pick(spaces) : "";
    for (std::size_t k = 0; k < tokenCount; ++k) {
      if (longFile ? k == oddAt : random() % 8 == 0) {
        content += pick(tokens);
      } else {
        content += std::to_string(static_cast<double>(random() % 100000) /
                                  static_cast<double>(1 + random() % 997));
      }
      if (trial % 97 == 0 && k == tokenCount / 2) {
        content += std::string(5000, '7');
      }
      content += pick(spaces);
    }
    if (random() % 4 == 0) content += pick(tokens);
    const std::string name = write("numbers.txt", content);
    const std::size_t count =
        tokenCount == 0 ? 1 : tokenCount - 1 + random() % 3;
    std::vector<double> fast(count, -1.0);
    std::vector<double> slow(count, -1.0);
    input_detail::File a(std::fopen(name.c_str(), "r"));
    input_detail::File b(std::fopen(name.c_str(), "r"));
    const auto outcome =
        input_detail::scan_numbers(a.get(), fast.data(), count);
    ASSERT_EQ(outcome, input_detail::scan_numbers_with_fscanf(
                           b.get(), slow.data(), 0, count))
        << content;
    if (outcome == input_detail::NumberScan::kRead) {
      for (std::size_t k = 0; k < count; ++k) {
        ASSERT_EQ(std::memcmp(&fast[k], &slow[k], sizeof(double)), 0)
            << k << " in " << content;
      }
    }
    // From a pipe, which cannot seek back to an odd token.
    if (trial % 10 == 0) {
      std::FILE* pipe = popen(("cat " + name).c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      std::vector<double> piped(count, -1.0);
      const auto pipedOutcome =
          input_detail::scan_numbers(pipe, piped.data(), count);
      pclose(pipe);
      ASSERT_EQ(pipedOutcome, outcome);
    }
  }
}

TEST_F(InputTest, ReadExpressionRejectsBadData) {
  n = 3;
  ngene = 2;
  RealMatrix emat(3, 2, -1.0);
  EXPECT_ERROR(read_expression(emat, missing().c_str()),
               "Error: Cannot open the expression file.");
  const std::string data = "Error: Invalid data in expressions";
  const std::string format = "Error: Invalid format in expression data.";
  for (const auto& [content, message] :
       std::vector<std::pair<std::string, std::string>>{
           {"s1 s2 s3\n1 2 3\n4 5 6\n", data},
           {"1 NA 3\n4 5 6\n", data},
           {"1 2 3\n4 5\n", format},
           {"1 2 3\n4 5 6\n7\n", format},
           {"1 2 3\n4 5 6 x\n", format}}) {
    const std::string e = write("expression.txt", content);
    EXPECT_ERROR(read_expression(emat, e.c_str()), message) << content;
  }
  // Scanned together: a trailing empty line is a gene without values, and
  // six numbers on one line are one gene with three values too many.
  const std::string g = write("genotype.txt", repeat("A T\n", 3));
  for (const auto& [content, genes] : std::vector<std::pair<std::string, int>>{
           {"1 2 3\n4 5 6\n\n", 3}, {"1 2 3 4.5 5e1 6\n", 1}}) {
    const std::string e = write("expression.txt", content);
    get_parmeters(g.c_str(), e.c_str());
    ASSERT_EQ(ngene, genes);
    RealMatrix values(3, genes, -1.0);
    EXPECT_ERROR(read_expression(values, e.c_str()), format);
  }
}

// The allele of SNP s, or the error its line ends in; the engine's table,
// which reads the file once, gives the same allele or error as getallele(),
// which reads it afresh, for each of six SNPs.
TEST_F(InputTest, AlleleReadersGiveTheSnpsOwnLine) {
  const std::string data = "Error: Invalid data in allele data.";
  const std::string format = "Error: Invalid format in allele data.";
  // Each file's outcomes for its first SNPs: the allele, or the message.
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"G\nA T\nc\n", {"G", "A", "c", format}},
      // A last line of up to 4 characters may lack its newline.
      {"G\nT", {"G", "T", format}},
      {"G\nT AC", {"G", "T"}},
      {"G\nA T\nc", {"G", "A", "c"}},
      // A five-character line is read as two, shifting later SNPs by one;
      // the piece after it is its newline alone.
      {"GATTA\nC\nT\n", {format, data, "C", "T", format}},
      {"GATTA\nC\n", {format, data}},
      {"A\nGATTACA\nC\nT\n", {"A", format, "C"}},
      {" G\n", {data}},
      {"1\n", {data}},
      {"N\n", {data}},
      {"\n", {data}},
      {"G\n G\nC\n", {"G", data, "C"}},
      {"G\n1\nC\n", {"G", data}},
      {"G\nN\nC\n", {"G", data}},
      {"G\n\nT\n", {"G", data, "T"}},
      {"G\n T\n5\nN\n", {"G", data, data, data}},
      // Carriage returns count as characters; a zero byte hides the newline.
      {"A\r\nC\r\n", {"A", "C"}},
      {std::string("A\n\0\nC", 5), {"A", format, "C"}},
      {"G\nT ACG", {"G", format}},
      // SNPs without a line of their own.
      {"G\nA\n", {"G", "A", format}},
      {"G\nA", {"G", "A", format}},
      {"", {format}},
  };
  const auto expected = [](const std::string& outcome) {
    return outcome.size() == 1 ? "allele " + outcome + " status 0"
                               : outcome + "\n status 1";
  };
  for (const auto& [content, outcomes] : cases) {
    SCOPED_TRACE(::testing::PrintToString(content));
    const std::string file = write("allele.txt", content);
    for (unsigned s = 0; s < 6; ++s) {
      const std::string reference = reference_outcome(file, s);
      EXPECT_EQ(table_outcome(file, s), reference) << s;
      if (s < outcomes.size()) {
        EXPECT_EQ(reference, expected(outcomes[s])) << s;
      }
    }
  }
  const std::string cannot = expected("Error: Cannot open the allele file.");
  EXPECT_EQ(reference_outcome(missing(), 0), cannot);
  EXPECT_EQ(table_outcome("/nonexistent/allele.txt", 0), cannot);
}

}  // namespace
