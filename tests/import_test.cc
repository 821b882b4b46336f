// zirk-import end to end on small files written here: the folder it writes,
// every skip reason, the expression layouts and scales, the filters, the
// permutations and every input error or interruption, plus the permutation
// generator's uniformity.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "covariates.h"
#include "data_tables.h"
#include "expression_table.h"
#include "genotype_matrix.h"
#include "import_error.h"
#include "permutation.h"
#include "text_lines.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    parts.push_back(part);
  }
  return parts;
}

// A VCF with the given sample columns and records, both written with spaces
// for tabs; `gt` false leaves the GT field out of the header.
std::string vcf(const std::string& samples, const std::string& records,
                bool gt = true) {
  return std::regex_replace(
      std::string("##fileformat=VCFv4.2\n##contig=<ID=chr1>\n") +
          "##contig=<ID=chr2>\n##contig=<ID=c>\n"
          "##FILTER=<ID=PASS,Description=\"ok\">\n"
          "##FILTER=<ID=q10,Description=\"low\">\n" +
          (gt ? "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"g\">\n"
              : "") +
          "##FORMAT=<ID=DP,Number=1,Type=Integer,Description=\"depth\">\n"
          "#CHROM POS ID REF ALT QUAL FILTER INFO FORMAT " +
          samples + "\n" + records,
      std::regex(" "), "\t");
}

// Nine samples S1..S9 shared with the expression files, X1 only here; a
// missing call written ./. (rs6) and as a missing second allele (rs14).
const std::string kVcf = vcf(
    "S1 S2 S3 S4 S5 S6 S7 S8 S9 X1",
    "chr1 100 rs1 A G . PASS . GT 0/0 0/0 0/0 0/1 1|0 0/1 1/1 1/1 1/1 ./.\n"
    "chr1 200 . C T . PASS . GT 1|1 0|1 0|0 1|1 0|1 0|0 1|1 0|1 0|0 0|0\n"
    "chr1 300 rs3 A C,G . PASS . GT 0/0 0/0 0/0 0/1 0/1 0/1 1/1 1/1 1/2 0/0\n"
    "chr1 400 rs4 AT A . PASS . GT 0/0 0/0 0/0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr1 500 rs5 A <DEL> . PASS . GT 0/0 0/0 0/0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr1 600 rs6 A G . PASS . GT 0/0 ./. 0/0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr1 650 rs14 A G . PASS . GT 0/0 0/. 0/0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr1 700 rs7 A G . PASS . GT 0/0 0/0 0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr1 800 rs8 G A . q10 . GT 0/0 0/0 0/0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr1 900 rs9 T C . PASS . GT 0/0 0/0 0/0 0/0 0/1 0/0 0/0 0/0 0/0 0/0\n"
    "chr1 1000 rs10 g a . PASS . GT 1/1 1/1 1/1 0/1 0/1 0/1 0/0 0/0 0/0 0/0\n"
    "chr1 1100 rs11 A . . PASS . GT 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0\n"
    "chr1 1200 rs12 AC GT . PASS . GT 0/0 0/0 0/0 0/1 0/1 0/1 1/1 1/1 1/1 0/0\n"
    "chr2 100 rs13 T G . PASS . DP 1 1 1 1 1 1 1 1 1 1\n");

// The expected folder for kVcf and bed(true) with the defaults.
const char* const kGeno =
    "A A T T G G A A\nA A C T G G A A\nA A C C G G A A\n"
    "A G T T G A G A\nG A C T G A G A\nA G C C G A G A\n"
    "G G T T A A G G\nG G C T A A G G\nG G C C A A G G\n";
const char* const kAlleles = "A G\nC T\nG A\nG A\n";
const char* const kSnps =
    "index\tid\tchrom\tpos\tref\talt\tn0\tn1\tn2\tfilled\n"
    "0\trs1\tchr1\t100\tA\tG\t3\t3\t3\t0\n"
    "1\tchr1:200:C:T\tchr1\t200\tC\tT\t3\t3\t3\t0\n"
    "2\trs8\tchr1\t800\tG\tA\t3\t3\t3\t0\n"
    "3\trs10\tchr1\t1000\tG\tA\t3\t3\t3\t0\n";
const char* const kGenesBed =
    "index\tid\tchrom\tstart\tend\n0\tg1\tchr1\t10\t11\n1\tg4\tchr1\t40\t41\n";

// E1 only here; samples in reverse order. g2 has a 0 in S5, g3 an NA in S2,
// g4 a 0 only in E1.
const char* const kValues[] = {
    "g1\t0\t1\t0.5\t1.5\t2e3\t3\t0.25\t7\t8\t9",
    "g2\t1\t1\t1\t1\t1\t0\t1\t1\t1\t1",
    "g3\t1\t1\t1\t1\t1\t1\t1\t1\tNA\t1",
    "g4\t0\t9\t8\t7\t6\t5\t4\t3\t2\t1",
};
const char* const kSampleHeader = "E1\tS9\tS8\tS7\tS6\tS5\tS4\tS3\tS2\tS1";
const char* const kExpr = "9 8 7 0.25 3 2000 1.5 0.5 1\n1 2 3 4 5 6 7 8 9\n";

// Gene gN at chr1:N0-N1.
std::string bed(bool six) {
  std::string text = std::string("#chr\tstart\tend\tgene\t") +
                     (six ? "length\tstrand\t" : "") + kSampleHeader + "\n";
  for (const std::string v : kValues) {
    const std::string id = v.substr(0, v.find('\t')), n = id.substr(1);
    text += "chr1\t" + n + "0\t" + n + "1\t" + id + (six ? "\t100\t+" : "") +
            v.substr(id.size()) + "\n";
  }
  return text;
}

std::string table(bool named_id_column) {
  std::string text = std::string(named_id_column ? "id " : "") + kSampleHeader;
  for (const char* values : kValues) text += std::string("\n") + values;
  for (char& c : text) c = c == '\t' ? ' ' : c;
  return text + "\n";
}

struct Outcome {
  int status;
  std::string err;
};

class ImportTest : public testing::Test {
 protected:
  void SetUp() override {
    // A folder of its own: other runs of this test may share the machine.
    std::string pattern = testing::TempDir() + "zirk_import_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "in");
    spit(dir_ / "in/a.vcf", kVcf);
    spit(dir_ / "in/e.bed", bed(true));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // `text` with each '@' standing for the input folder and a slash.
  std::string in(const std::string& text) const {
    return std::regex_replace(text, std::regex("@"), (dir_ / "in/").string());
  }
  std::string out() const { return (dir_ / "out").string(); }
  std::string file(const std::string& name) const {
    return slurp(dir_ / "out" / name);
  }
  // What the folder around the inputs holds.
  std::set<std::string> left() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.insert(entry.path().filename());
    return names;
  }

  void shell(const std::string& command) const {
    const std::string line =
        "cd '" + (dir_ / "in").string() + "' && " + command;
    ASSERT_EQ(std::system(line.c_str()), 0) << command;
  }

  // Runs zirk-import with `args` ('@' as in in()), then `--out out` unless
  // args hold one, with the output of the shell command `feed` on standard
  // input when given.
  Outcome run(const std::string& args, const std::string& feed = "") const {
    const std::string command =
        (feed.empty() ? "" : in(feed) + " | ") + ZIRK_IMPORT_BINARY + " " +
        in(args) +
        (args.find(" -o ") == std::string::npos ? " -o '" + out() + "'" : "") +
        " -q 2>'" + (dir_ / "err").string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_ / "err")};
  }
  Outcome run_default(const std::string& extra = "") const {
    return run("-v @a.vcf -e @e.bed " + extra);
  }

  // The count of `reason` under `group` in import.json.
  int skipped(const std::string& group, const std::string& reason) const {
    const std::string json = file("import.json");
    const std::size_t g = json.find("\"" + group + "\": {");
    const std::size_t r = json.find("\"" + reason + "\": {", g);
    const std::size_t c = json.find("\"count\": ", r);
    if (g == std::string::npos || r == std::string::npos) return -1;
    return std::atoi(json.c_str() + c + 9);
  }

  // The IDs of snps.tsv, separated by spaces.
  std::string kept_ids() const {
    std::string ids;
    for (const std::string& line : split(file("snps.tsv"), '\n')) {
      ids += (ids.empty() ? "" : " ") + split(line, '\t')[1];
    }
    return ids.substr(std::min<std::size_t>(ids.size(), 3));  // past "id "
  }

  fs::path dir_;
};

// Each way of writing the same genotypes (VCF, bgzip, BCF, threads) and the
// same expression values (BED6, BED4, tables; gzip, bgzip; CRLF, empty lines
// and an empty field for g3's NA) gives the same folder and skip counts.
TEST_F(ImportTest, EveryInputFormatGivesTheSameFolderAndCountsEverySkip) {
  shell("bgzip -c a.vcf > a.vcf.gz && bcftools view -Ob -o a.bcf a.vcf");
  spit(dir_ / "in/e4.bed", bed(false));
  spit(dir_ / "in/t.txt", table(true));
  spit(dir_ / "in/t0.txt", table(false));
  std::string crlf = "id\t" + std::string(kSampleHeader) + "\r\n\r\n";
  for (const char* values : kValues) crlf += std::string(values) + "\r\n\n";
  spit(dir_ / "in/crlf.txt", crlf.replace(crlf.find("NA"), 2, ""));
  shell("gzip -c e4.bed > e4.bed.gz && bgzip -c t.txt > t.txt.gz");
  const std::string genes_table =
      "index\tid\tchrom\tstart\tend\n0\tg1\tNA\tNA\tNA\n1\tg4\tNA\tNA\tNA\n";
  const std::map<std::string, int> variants = {
      {"multiallelic", 1}, {"no_alt", 1},        {"indel", 1},
      {"symbolic", 1},     {"other_alleles", 1}, {"no_gt", 1},
      {"missing_call", 2}, {"haploid_call", 1},  {"class_below_min_size", 1},
      {"not_pass", 0},     {"maf_below", 0}};
  const struct {
    std::string vcf, expression, layout;
  } cases[] = {
      {"a.vcf", "e.bed", "bed6"},   {"a.vcf.gz", "e.bed", "bed6"},
      {"a.bcf", "e.bed", "bed6"},   {"a.bcf --threads 2", "e.bed", "bed6"},
      {"a.vcf", "e4.bed", "bed4"},  {"a.vcf", "e4.bed.gz", "bed4"},
      {"a.vcf", "t.txt", "table"},  {"a.vcf", "t.txt.gz", "table"},
      {"a.vcf", "t0.txt", "table"}, {"a.vcf", "crlf.txt", "table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vcf + " " + c.expression);
    fs::remove_all(out());
    const Outcome r = run("-v @" + c.vcf + " -e @" + c.expression);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file("geno.txt"), kGeno);
    EXPECT_EQ(file("allele.txt"), kAlleles);
    EXPECT_EQ(file("snps.tsv"), kSnps);
    EXPECT_EQ(file("samples.txt"), "S1\nS2\nS3\nS4\nS5\nS6\nS7\nS8\nS9\n");
    EXPECT_EQ(file("expr.txt"), kExpr);
    EXPECT_EQ(file("genes.tsv"), c.layout == "table" ? genes_table : kGenesBed);
    for (const auto& [reason, count] : variants) {
      EXPECT_EQ(skipped("variants", reason), count) << reason;
    }
    EXPECT_EQ(skipped("genes", "non_positive"), 1);
    EXPECT_EQ(skipped("genes", "not_a_number"), 1);
    EXPECT_EQ(skipped("samples", "vcf_only"), 1);
    EXPECT_EQ(skipped("samples", "expression_only"), 1);
    const std::string json = file("import.json");
    EXPECT_NE(
        json.find("\"first\": [\n          \"rs6\",\n          \"rs14\"\n"),
        std::string::npos);
    EXPECT_NE(json.find("\"expression_layout\": \"" + c.layout + "\""),
              std::string::npos);
  }
}

TEST_F(ImportTest, FiltersKeepWhatTheyShouldAndCountTheRest) {
  shell(
      "bgzip -c a.vcf > a.vcf.gz && tabix -p vcf a.vcf.gz && "
      "bcftools view -Ob -o a.bcf a.vcf && bcftools index a.bcf");
  spit(dir_ / "in/snps.txt", "rs1\nchr1:200:C:T\nrs9\n");
  spit(dir_ / "in/genes.txt", "g4\n");
  spit(dir_ / "in/samples.txt", "S1\nS2\nS3\nS4\nS5\nS6\nS7\nS8\n");
  const struct {
    std::string args, kept, reason;
    int count;
  } cases[] = {
      {"-v @a.vcf.gz -r chr1:150-1000", "chr1:200:C:T rs8 rs10",
       "class_below_min_size", 1},
      {"-v @a.bcf -r chr1:150-1000", "chr1:200:C:T rs8 rs10",
       "class_below_min_size", 1},
      {"--snps @snps.txt", "rs1 chr1:200:C:T", "not_in_snp_list", 11},
      {"--pass-only", "rs1 chr1:200:C:T rs10", "not_pass", 1},
      {"--maf 0.06 --min-class-size 0", "rs1 chr1:200:C:T rs8 rs10",
       "maf_below", 1},
      {"--min-class-size 0", "rs1 chr1:200:C:T rs8 rs9 rs10",
       "class_below_min_size", 0},
      {"--min-class-size 4", "", "class_below_min_size", 5},
      {"-S @samples.txt --min-class-size 2", "rs1 chr1:200:C:T rs8 rs10",
       "missing_call", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    fs::remove_all(out());
    const std::string vcf = c.args.find("-v ") == 0 ? "" : "-v @a.vcf ";
    const Outcome r = run(vcf + "-e @e.bed " + c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kept_ids(), c.kept);
    EXPECT_EQ(skipped("variants", c.reason), c.count);
  }
  fs::remove_all(out());
  ASSERT_EQ(run_default("--genes @genes.txt -S @samples.txt").status, 0);
  EXPECT_EQ(file("expr.txt"), "1 2 3 4 5 6 7 8\n");
  EXPECT_EQ(skipped("genes", "not_in_gene_list"), 3);
  EXPECT_EQ(skipped("samples", "not_in_sample_list"), 3);  // S9, X1, E1
  EXPECT_EQ(file("samples.txt"), "S1\nS2\nS3\nS4\nS5\nS6\nS7\nS8\n");
  // g2's zero in S5 is a ninth of the kept samples: g2 passes 8/9, not 0.9.
  for (const auto& [fraction, genes] :
       {std::pair{"0.88", "g1 g2 g4"}, std::pair{"0.9", "g1 g4"}}) {
    fs::remove_all(out());
    ASSERT_EQ(
        run_default(std::string("--pseudocount 1 --min-expressed ") + fraction)
            .status,
        0);
    std::string kept;
    for (const std::string& line : split(file("genes.tsv"), '\n')) {
      if (line.find("index") != 0)
        kept += (kept.empty() ? "" : " ") + split(line, '\t')[1];
    }
    EXPECT_EQ(kept, genes) << fraction;
    EXPECT_EQ(skipped("genes", "below_min_expressed"),
              std::string(fraction) == "0.9" ? 1 : 0);
  }
}

TEST_F(ImportTest, ValuesReadBackExactlyOnEveryScale) {
  ASSERT_EQ(run_default("--pseudocount 0.5").status, 0);
  EXPECT_EQ(file("expr.txt"),
            "9.5 8.5 7.5 0.75 3.5 2000.5 2 1 1.5\n1.5 1.5 1.5 1.5 0.5 1.5 1.5 "
            "1.5 1.5\n"
            "1.5 2.5 3.5 4.5 5.5 6.5 7.5 8.5 9.5\n");
  EXPECT_EQ(skipped("genes", "non_positive"), 0);
  // Log-scale values, negatives included: ZIRK's log10 of each written value
  // must give the value times log10 of the base.
  const std::string values = "-3.25 0 1e-3 2.5 -0.1 7 0.333333333333 -12 300";
  spit(dir_ / "in/log.txt",
       "id S1 S2 S3 S4 S5 S6 S7 S8 S9\na " + values + "\n");
  std::vector<double> input;
  for (const std::string& v : split(values, ' ')) input.push_back(std::stod(v));
  for (const auto& [scale, factor] :
       std::map<std::string, double>{{"log10", 1.0},
                                     {"ln", 1 / std::log(10.0)},
                                     {"log2", std::log10(2.0)}}) {
    SCOPED_TRACE(scale);
    fs::remove_all(out());
    ASSERT_EQ(run("-v @a.vcf -e @log.txt --values " + scale).status, 0);
    const std::string text = file("expr.txt");
    std::vector<std::string> fields =
        split(text.substr(0, text.size() - 1), ' ');
    ASSERT_EQ(fields.size(), input.size());
    for (std::size_t k = 0; k < input.size(); ++k) {
      EXPECT_NEAR(std::log10(std::strtod(fields[k].c_str(), nullptr)),
                  input[k] * factor,
                  4e-16 * std::max(1.0, std::fabs(input[k] * factor)))
          << fields[k];
    }
  }
}

TEST_F(ImportTest, PermutationsAreSeededPermutationsOfTheColumns) {
  ASSERT_EQ(run_default("--permute 3 --seed 7").status, 0);
  const std::string json = file("import.json");
  const std::vector<std::string> rows = split(file("expr.txt"), '\n');
  std::vector<std::string> first_run;
  for (int k = 1; k <= 3; ++k) {
    first_run.push_back(file("expr.perm" + std::to_string(k) + ".txt"));
    // The k-th row of "permutations" in import.json.
    std::size_t at = json.find("\"permutations\": [");
    for (int j = 0; j < k; ++j) at = json.find("\n    [", at + 1);
    const std::string list = json.substr(at + 6, json.find(']', at) - at - 6);
    std::vector<std::size_t> order;
    for (const std::string& v : split(list, ','))
      order.push_back(std::stoul(v));
    ASSERT_EQ(std::set<std::size_t>(order.begin(), order.end()).size(), 9u);
    ASSERT_EQ(*std::max_element(order.begin(), order.end()), 8u);
    const std::vector<std::string> permuted = split(first_run.back(), '\n');
    ASSERT_EQ(permuted.size(), rows.size());
    for (std::size_t g = 0; g < rows.size(); ++g) {
      const std::vector<std::string> original = split(rows[g], ' ');
      const std::vector<std::string> shuffled = split(permuted[g], ' ');
      for (std::size_t j = 0; j < 9; ++j)
        EXPECT_EQ(shuffled[j], original[order[j]]);
    }
  }
  EXPECT_NE(first_run[0], first_run[1]);
  fs::remove_all(out());
  ASSERT_EQ(run_default("--permute 3 --seed 7").status, 0);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(file("expr.perm" + std::to_string(k) + ".txt"), first_run[k - 1]);
  }
  fs::remove_all(out());
  ASSERT_EQ(run_default("--permute 1 --seed 8").status, 0);
  EXPECT_NE(file("expr.perm1.txt"), first_run[0]);
  EXPECT_FALSE(fs::exists(dir_ / "out/expr.perm2.txt"));
}

TEST_F(ImportTest, StrataAreWrittenAndPermutationsStayWithinThem) {
  // Groups of 4, 3 and 2 of the kept samples S1..S9, given in another order
  // than the VCF's and with X1 (VCF only) and E1 (expression only) listed.
  spit(dir_ / "in/groups.txt",
       "S9 a\nS1 a\nS2 a\nS3 bb\nS4 bb\nS5 bb\nX1 c\nS6 a\nS7 c\nS8 c\n"
       "E1 a\n");
  spit(dir_ / "in/c.txt",
       "id S1 S2 S3 S4 S5 S6 S7 S8 S9\nbatch a a bb bb bb a c c a\n");
  const std::string want = "a\na\nbb\nbb\nbb\na\nc\nc\na\n";
  const std::vector<std::string> group = split(want, '\n');
  std::vector<std::string> copies, orders;
  for (const std::string source :
       {"--strata @groups.txt", "--strata-covariate batch -c @c.txt",
        "--strata @groups.txt"}) {
    SCOPED_TRACE(source);
    fs::remove_all(out());
    ASSERT_EQ(run_default(source + " --permute 4 --seed 7").status, 0);
    EXPECT_EQ(file("strata.txt"), want);
    const std::vector<std::string> rows = split(file("expr.txt"), '\n');
    std::string these;
    for (int k = 1; k <= 4; ++k) {
      const std::string text = file("expr.perm" + std::to_string(k) + ".txt");
      these += text;
      // Each permuted value comes from an individual of the same group, and
      // every individual's value is used once.
      const std::vector<std::string> permuted = split(text, '\n');
      ASSERT_EQ(permuted.size(), rows.size());
      const std::vector<std::string> original = split(rows[1], ' ');
      const std::vector<std::string> shuffled = split(permuted[1], ' ');
      ASSERT_EQ(shuffled.size(), 9u);
      std::multiset<std::string> used;
      for (std::size_t j = 0; j < 9; ++j) {
        const auto from = std::find(original.begin(), original.end(),
                                    shuffled[j]);
        ASSERT_NE(from, original.end());
        EXPECT_EQ(group[from - original.begin()], group[j]) << j;
        used.insert(shuffled[j]);
      }
      EXPECT_EQ(used, std::multiset<std::string>(original.begin(),
                                                 original.end()));
    }
    copies.push_back(these);
    const std::string json = file("import.json");
    const std::size_t at = json.find("\"permutations\": [");
    orders.push_back(json.substr(at, json.find("]\n  ]", at) - at));
  }
  // The same groups and seed give the same copies, whichever the source
  // (the covariate's residuals change the values, not the orders).
  EXPECT_EQ(copies[0], copies[2]);
  EXPECT_EQ(orders[0], orders[1]);
  // Without strata the copies cross the groups.
  fs::remove_all(out());
  ASSERT_EQ(run_default("--permute 4 --seed 7").status, 0);
  EXPECT_FALSE(fs::exists(dir_ / "out/strata.txt"));
  EXPECT_NE(slurp(dir_ / "out/expr.perm1.txt") +
                slurp(dir_ / "out/expr.perm2.txt") +
                slurp(dir_ / "out/expr.perm3.txt") +
                slurp(dir_ / "out/expr.perm4.txt"),
            copies[0]);
}

TEST(PermutationTest, EveryOrderIsEquallyLikely) {
  // 60,000 shuffles of 4 items: each of the 24 orders about 2,500 times; a
  // biased shuffle (say, swapping with any position) fails the chi-squared
  // bound (23 degrees of freedom, p = 1e-6 at about 61).
  std::mt19937_64 generator(42);
  std::map<std::vector<std::size_t>, int> counts;
  constexpr int kDraws = 60000;
  for (int i = 0; i < kDraws; ++i) {
    ++counts[zirk_import::random_permutation(generator, 4)];
  }
  ASSERT_EQ(counts.size(), 24u);
  double chi2 = 0;
  for (const auto& [order, count] : counts) {
    const double expected = kDraws / 24.0;
    chi2 += (count - expected) * (count - expected) / expected;
  }
  EXPECT_LT(chi2, 61.0);
  // A bound that is not a power of two exercises the rejection.
  for (int i = 0; i < 1000; ++i) {
    EXPECT_LT(zirk_import::bounded_draw(generator, 3), 3u);
  }
}

// One row per message, word for word; '@' is the input folder.
TEST_F(ImportTest, BadInputIsOneErrorLineAndLeavesNoFolder) {
  const std::map<std::string, std::string> files = {
      {"text.vcf", "hello\nworld\n"},
      {"nogt.vcf", vcf("S1", "", false)},
      {"dup.vcf", vcf("S1 S2 S1", "")},
      {"head.vcf", vcf("S1 S2 S3", "")},
      {"three.txt", "id S1 S2 S3\ng1 1 2 3\ng2 3 1 2\n"},
      {"strand.bed",
       "#chr\tstart\tend\tid\tA\tB\nc\t1\t2\tg1\t.\t.\nc\t3\t4\tg2\t1\t2\n"},
      {"blank.txt", "  \ng 1 2 3\n"},
      {"nohead.bed", "chr1\t10\t11\tg1\t1\t2\t3\n"},
      {"dupsample.txt", "id S1 S2 S1\ng 1 2 3\n"},
      {"dupgene.txt", table(true) + "g1 1 1 1 1 1 1 1 1 1 1\n"},
      {"short.txt", table(true) + "g5 1 1\n"},
      {"huge.txt", "id S1 S2 S3\ng7 1 1e999 1\n"},
      {"big.txt", "id S1 S2 S3 S4 S5 S6 S7 S8 S9\ng8 1 1 1 1 1 1 1 1 400\n"},
      {"few.txt", "id S1 S2 Z3\ng 1 2 3\n"},
      {"empty.cov", ""},
      {"miss.cov", "id S1 S2 S3 S5 S6 S7 S8 S9\nage 1 2 3 4 5 6 7 8\n"},
      {"short.cov", "id S1 S2 S3 S4 S5 S6 S7 S8 S9\nage 1 2 3\n"},
      {"dup.cov",
       "id S1 S2 S3 S4 S5 S6 S7 S8 S9\nage 1 2 3 4 5 6 7 8 9\n"
       "age 9 8 7 6 5 4 3 2 1\n"},
      {"groups.cov",
       "id S1 S2 S3 S4 S5 S6 S7 S8 S9\nage 1 2 NA 4 5 6 7 8 9\n"
       "site x y x y NA x y x y\n"},
      {"unknown.strata", "S1 a\nS2\tb\nS3 b\nZZ b\n"},
      {"three.strata", "S1 a x\n"},
      {"few.strata", "S1 a\nS2 b\n"},
      {"twice.strata", "S1 a\nS1 b\n"},
      {"one.strata", "S1 a\nS2 a\nS3 a\nS4 a\nS5 a\nS6 a\nS7 a\nS8 a\nS9 a\n"},
  };
  for (const auto& [name, text] : files) spit(dir_ / "in" / name, text);
  shell("bgzip -c a.vcf > a.vcf.gz");
  // `n` usable SNPs streamed from standard input, then the command `then`.
  const auto stream = [](int n, const std::string& then) {
    return "(cat @head.vcf; awk 'BEGIN {for (i = 1; i <= " + std::to_string(n) +
           "; ++i) print \"c\\t\" i "
           "\"\\t.\\tA\\tG\\t.\\t.\\t.\\tGT\\t0/0\\t0/1\\t1/1\"}'" +
           then + ")";
  };
  const struct {
    std::string args, message, feed = "";
  } cases[] = {
      {"-v @none.vcf -e @e.bed",
       "@none.vcf: cannot open: No such file or directory"},
      {"-v @text.vcf -e @e.bed", "@text.vcf: not a VCF or BCF file"},
      {"-v @nogt.vcf -e @e.bed",
       "@nogt.vcf: no GT, GP, GL, PL or DS field in the header (genotypes "
       "needed)"},
      {"-v @dup.vcf -e @e.bed",
       "@dup.vcf: cannot read the VCF header (malformed, or a sample ID "
       "repeated)"},
      {"-v @a.vcf -e @strand.bed",
       "@strand.bed: line 3 has no strand (+, -, .) in column 6, unlike the "
       "first row"},
      {"-v @a.vcf -e @blank.txt", "@blank.txt: the header line is empty"},
      {"-v @a.vcf -e @nohead.bed",
       "@nohead.bed: no header line (a BED file starts with '#chr start end "
       "id' and the sample IDs)"},
      {"-v @a.vcf -e @e.bed -r chr1:1-500",
       "@a.vcf: --region needs a bgzip-compressed, indexed file"},
      {"-v @a.vcf.gz -e @e.bed -r chr1:1-500",
       "@a.vcf.gz: --region needs an index (@a.vcf.gz.tbi or .csi; make one "
       "with 'bcftools index')"},
      {"-v @a.vcf -e @dupsample.txt",
       "@dupsample.txt: sample ID 'S1' appears twice in the header"},
      {"-v @a.vcf -e @dupgene.txt", "@dupgene.txt: gene ID 'g1' appears twice"},
      {"-v @a.vcf -e @short.txt",
       "@short.txt: line 6 has 3 fields where the header has 11"},
      {"-v @a.vcf -e @huge.txt",
       "@huge.txt: gene g7: value '1e999' is out of the range of a double"},
      {"-v @a.vcf -e @big.txt --values log10",
       "@big.txt: gene g8: value 400 overflows a double once converted "
       "(--values log10)"},
      {"-v @a.vcf -e @few.txt",
       "only 2 samples are in both @a.vcf and @few.txt (at least 3 needed)"},
      {"-v @a.vcf -e @e.bed -c @empty.cov",
       "@empty.cov: empty file, no header line"},
      {"-v @a.vcf -e @e.bed -c @miss.cov",
       "@miss.cov: sample 'S4' (in the VCF and the expression) has no column"},
      {"-v @a.vcf -e @e.bed -c @short.cov",
       "@short.cov: line 2 has 4 fields where the header has 10"},
      {"-v @a.vcf -e @e.bed -c @dup.cov",
       "@dup.cov: covariate 'age' appears twice"},
      {"-v @a.vcf -e @e.bed --strata @unknown.strata",
       "@unknown.strata: line 4: sample 'ZZ' is in neither the VCF nor the "
       "expression file"},
      {"-v @a.vcf -e @e.bed --strata @three.strata",
       "@three.strata: line 1: 3 fields, not a sample ID and a group name"},
      {"-v @a.vcf -e @e.bed --strata @few.strata",
       "@few.strata: kept sample 'S3' has no group"},
      {"-v @a.vcf -e @e.bed --strata @twice.strata",
       "@twice.strata: line 2: sample 'S1' repeats"},
      {"-v @a.vcf -e @e.bed --strata @one.strata",
       "@one.strata: all 9 kept samples are in one group 'a'; strata need at "
       "least two"},
      {"-v @a.vcf -e @e.bed --strata @none.strata",
       "@none.strata: cannot open: No such file or directory"},
      {"-v @a.vcf -e @e.bed -c @groups.cov --strata-covariate age",
       "@groups.cov: covariate 'age' is numeric; strata need group names"},
      {"-v @a.vcf -e @e.bed -c @groups.cov --strata-covariate site",
       "@groups.cov: covariate 'site' is NA for kept sample 'S5', which then "
       "has no group"},
      {"-v @a.vcf -e @e.bed -c @groups.cov --strata-covariate sex",
       "@groups.cov: no covariate 'sex' for the strata"},
      {"-v @a.vcf -e @e.bed --strata-covariate site",
       "--strata-covariate needs --covariates FILE"},
      {"-v @a.vcf -e @e.bed --strata @few.strata -c @groups.cov "
       "--strata-covariate site",
       "--strata and --strata-covariate exclude each other"},
      {"-v @a.vcf -e @e.bed --normalise rank",
       "--normalise: 'rank' is not one of none, inverse-normal"},
      {"-v @a.vcf -e @e.bed --min-expressed 2",
       "--min-expressed: '2' is not a number from 0 to 1"},
      {"-v @a.vcf -e @e.bed --maf 0.7",
       "--maf: '0.7' is not a number from 0 to 0.5"},
      {"-v @a.vcf -e @e.bed --values log7",
       "--values: 'log7' is not one of raw, log10, ln, log2"},
      {"-v @a.vcf -e @e.bed --values ln --pseudocount 1",
       "--pseudocount applies only to --values raw"},
      {"-e @e.bed", "--vcf is required (see zirk-import --help)"},
      {"-v - -e @three.txt --min-class-size 1",
       "-: more than 1000000 SNPs pass the filters, the most a ZIRK genotype "
       "line holds (4,000,000 characters); narrow them with --region, --snps "
       "or --maf",
       stream(1000001, "")},
      // 200,000 records are more than the pipe holds, so the importer is
      // streaming when SIGINT comes, and the input's end comes after it.
      {"-v - -e @three.txt --min-class-size 1",
       "interrupted by a signal; nothing written",
       stream(200000, "; pkill -INT -x -P $$ zirk-import")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome r = run(c.args, c.feed);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: " + in(c.message) + "\n");
    EXPECT_FALSE(fs::exists(out()));
  }
  // Nothing but the inputs and the captured error beside the folder.
  EXPECT_EQ(left(), (std::set<std::string>{"in", "err"}));
}

// Imputed records of S1..S9: a header with the INFO and FORMAT lines
// given, written with spaces for tabs.
std::string imputed(const std::string& lines, const std::string& records) {
  return std::regex_replace(
      "##fileformat=VCFv4.2\n##contig=<ID=chr1>\n" + lines +
          "#CHROM POS ID REF ALT QUAL FILTER INFO FORMAT S1 S2 S3 S4 S5 S6 "
          "S7 S8 S9\n" +
          records,
      std::regex(" "), "\t");
}

const std::string kGtLine =
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"g\">\n";
const std::string kGpLine =
    "##FORMAT=<ID=GP,Number=G,Type=Float,Description=\"p\">\n";
const std::string kR2Line =
    "##INFO=<ID=R2,Number=1,Type=Float,Description=\"r2\">\n";

// GL and PL become probabilities (flat prior) that call a record without GT
// and are held to --min-gp; each SNP's missing calls take the class nearest
// its mean dosage.
TEST_F(ImportTest, LikelihoodsCallAndFilledCallsTakeTheMeanClass) {
  spit(dir_ / "in/l.vcf",
       imputed("##FORMAT=<ID=GL,Number=G,Type=Float,Description=\"l\">\n"
               "##FORMAT=<ID=PL,Number=G,Type=Integer,Description=\"p\">\n",
               // S4's GL: 0.51/0.49 for the classes 0 and 1, below 0.9.
               "chr1 1 gl A G . . . GL 0,-3,-5 0,-3,-5 0,-3,-5 0,-0.0175,-5 "
               "-3,0,-3 -3,0,-3 -5,-3,0 -5,-3,0 -5,-3,0\n"
               // S9's PL missing.
               "chr1 2 pl A G . . . PL 0,40,50 0,40,50 0,40,50 40,0,40 40,0,40 "
               "40,0,40 50,40,0 50,40,0 .\n"));
  const Outcome r =
      run("-v @l.vcf -e @e.bed --max-missing 0.12 "
          "--min-gp 0.9 --min-class-size 2");
  ASSERT_EQ(r.status, 0) << r.err;
  // gl: S4 filled with the class of mean 8/8 = 1; pl: S9 with 7/8 -> 1.
  EXPECT_EQ(file("snps.tsv"), std::string(zirk_formats::kSnpTableHeader) +
                                  "\n0\tgl\tchr1\t1\tA\tG\t3\t3\t3\t1\n"
                                  "1\tpl\tchr1\t2\tA\tG\t3\t4\t2\t1\n");
  EXPECT_EQ(split(file("geno.txt"), '\n')[3], "A G A G");
  EXPECT_EQ(split(file("geno.txt"), '\n')[8], "G G A G");
  EXPECT_NE(file("import.json")
                .find("\"call_field\": {\n      \"GL\": 1,\n"
                      "      \"PL\": 1\n"),
            std::string::npos);
}

TEST_F(ImportTest, BadProbabilitiesAndQualitiesNameTheVariant) {
  const std::string gt_gp = kGtLine + kGpLine + kR2Line;
  const std::string ok =
      " 0/0:1,0,0 0/0:1,0,0 0/0:1,0,0 0/1:0,1,0 0/1:0,1,0 "
      "0/1:0,1,0 1/1:0,0,1 1/1:0,0,1";
  const std::map<std::string, std::string> files = {
      {"sum.vcf", imputed(gt_gp, "chr1 1 rs1 A G . . R2=1 GT:GP" + ok +
                                     " 1/1:0.5,0.3,0.1\n")},
      {"len.vcf",
       imputed(gt_gp, "chr1 1 rs2 A G . . R2=1 GT:GP" + ok + " 1/1:0.5,0.5\n")},
      {"range.vcf", imputed(gt_gp, "chr1 1 rs3 A G . . R2=1 GT:GP" + ok +
                                       " 1/1:1.5,-0.5,0\n")},
      {"r2.vcf",
       imputed(gt_gp, "chr1 1 rs4 A G . . R2=abc GT:GP" + ok + " 1/1:0,0,1\n")},
      {"r2text.vcf",
       imputed(kGtLine + "##INFO=<ID=R2,Number=1,Type=String,Description="
                         "\"r\">\n",
               "")},
      {"gt.vcf", imputed(kGtLine, "")},
      {"ds.vcf",
       imputed("##FORMAT=<ID=DS,Number=1,Type=Float,Description=\"d\">\n",
               "chr1 1 rs5 A G . . . DS 0 0 0 1 1 1 2 2 2.5\n")},
  };
  for (const auto& [name, text] : files) spit(dir_ / "in" / name, text);
  const struct {
    std::string args, message;
  } cases[] = {
      {"-v @sum.vcf --min-gp 0.9",
       "@sum.vcf: variant rs1: GP of S9 sums to 0.9, not 1"},
      {"-v @len.vcf --min-gp 0.9",
       "@len.vcf: variant rs2: GP of S9 is not three numbers"},
      {"-v @range.vcf --min-gp 0.9",
       "@range.vcf: variant rs3: GP of S9 holds 1.5, not a probability"},
      {"-v @r2.vcf --min-r2 0.3",
       "@r2.vcf: variant rs4: INFO/R2 is not a number"},
      {"-v @r2text.vcf --min-r2 0.3",
       "@r2text.vcf: --min-r2: the header declares INFO/R2 other than "
       "Type=Float"},
      {"-v @gt.vcf --min-gp 0.9",
       "@gt.vcf: --min-gp needs genotype probabilities or dosages, and the "
       "header defines none of FORMAT/GP, GL, PL, DS"},
      {"-v @gt.vcf --min-r2 0.3",
       "@gt.vcf: --min-r2 needs an imputation quality, and the header "
       "defines none of INFO/R2, DR2, INFO (name another with --r2-field)"},
      {"-v @sum.vcf --min-r2 0.3 --r2-field DR2",
       "@sum.vcf: --min-r2 needs INFO/DR2, which the header does not define"},
      {"-v @gt.vcf --hwe 1e-6",
       "@gt.vcf: --hwe needs INFO/HWE, which the header does not define"},
      {"-v @ds.vcf",
       "@ds.vcf: variant rs5: DS of S9 is 2.5, not a dosage from 0 to 2"},
      {"-v @gt.vcf --max-missing 1.5",
       "--max-missing: '1.5' is not a number from 0 to 1"},
      {"-v @gt.vcf --r2-field DR2", "--r2-field applies only with --min-r2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome r = run(c.args + " -e @e.bed");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: " + in(c.message) + "\n");
    EXPECT_FALSE(fs::exists(out()));
  }
}

// A covariate file with an NA, a categorical column (with an NA and a level
// only a left-out sample has), a duplicated column and a column constant
// over the kept samples: the design is the one built here by hand, and the
// user hears of every drop.
TEST_F(ImportTest, CovariatesMakeTheDesignBuiltByHand) {
  spit(dir_ / "in/c.txt",
       "id Z S9 S8 S7 S6 S5 S4 S3 S2 S1\n"
       "age 1 NA 30 40 50 60 70 80 90 20\n"
       "batch x b a c a b NA c a b\n"
       "age_again 1 NA 30 40 50 60 70 80 90 20\n"
       "site 5 7 7 7 7 7 7 7 7 7\n");
  shell("gzip -c c.txt > c.txt.gz");
  const std::string path = (dir_ / "in/c.txt.gz").string();
  const zirk_import::CovariateDesign design = zirk_import::build_design(
      zirk_import::read_covariate_file(path),
      {"S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8", "S9"}, path);
  // Kept order S1..S9; age's NA is the mean of the other eight (55); batch
  // levels a, b, c over the kept samples, S4's NA the level shares.
  const std::vector<std::vector<double>> columns = {
      {20, 90, 80, 70, 60, 50, 40, 30, 55},
      {1, 0, 0, 0.375, 1, 0, 0, 0, 1},
      {0, 0, 1, 0.25, 0, 0, 1, 0, 0}};
  EXPECT_EQ(design.names,
            (std::vector<std::string>{"age", "batch=b", "batch=c"}));
  EXPECT_EQ(design.columns, columns);
  EXPECT_EQ(design.imputed, (std::vector<std::pair<std::string, std::size_t>>{
                                {"age", 1}, {"batch", 1}, {"age_again", 1}}));
  ASSERT_EQ(design.expanded.size(), 1u);
  EXPECT_EQ(design.expanded[0].second,
            (std::vector<std::string>{"batch=b", "batch=c"}));
  ASSERT_EQ(design.dropped.size(), 2u);
  EXPECT_EQ(design.dropped[0].name + " " + design.dropped[0].reason,
            "age_again linearly_dependent");
  EXPECT_EQ(design.dropped[1].name + " " + design.dropped[1].reason,
            "site constant");

  const std::string command = std::string(ZIRK_IMPORT_BINARY) + " -v " +
                              in("@a.vcf -e @e.bed -c @c.txt.gz") +
                              " --normalise inverse-normal -o '" + out() +
                              "' 2>'" + (dir_ / "err").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << slurp(dir_ / "err");
  const std::vector<std::string> lines = split(slurp(dir_ / "err"), '\n');
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "zirk-import: warning: covariate age_again is a linear "
            "combination of the intercept and the covariates before it; "
            "dropped");
  EXPECT_EQ(lines[1],
            "zirk-import: warning: covariate site is constant over the kept "
            "samples; dropped");
  EXPECT_EQ(lines[3],
            "  expression: log10 residuals on 3 covariate columns (3 NA "
            "imputed, 1 categorical expanded, 2 dropped), then inverse-normal "
            "(Blom, (r-3/8)/(n+1/4))");
  const std::string json = file("import.json");
  for (const char* entry :
       {"\"used\": [\n      \"age\",\n      \"batch=b\",\n      "
        "\"batch=c\"\n    ]",
        "\"imputed\": {\n      \"age\": 1,\n      \"batch\": 1,\n      "
        "\"age_again\": 1\n    }",
        "\"name\": \"site\",\n        \"reason\": \"constant\"",
        "\"rank_offset\": 0.375", "\"count_offset\": 0.25"}) {
    EXPECT_NE(json.find(entry), std::string::npos) << entry;
  }

  // Beyond 50 levels a categorical covariate is an error; so is a design
  // that leaves no residual.
  std::string ids, levels, many;
  for (int i = 0; i < 52; ++i) {
    ids += " P" + std::to_string(i);
    levels += " L" + std::to_string(i);
    many += "\nx" + std::to_string(i) + " " + std::to_string(i);
  }
  spit(dir_ / "in/levels.txt", "id" + ids + "\nplate" + levels + "\n");
  const std::vector<std::string> all = split(ids.substr(1), ' ');
  EXPECT_THROW(
      try {
        zirk_import::build_design(
            zirk_import::read_covariate_file((dir_ / "in/levels.txt").string()),
            all, "levels.txt");
      } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(),
                     "levels.txt: covariate 'plate' has 52 distinct "
                     "non-numeric values among the kept samples (at most 50 "
                     "for a categorical covariate)");
        throw;
      },
      std::exception);
  std::string squares = "id S1 S2 S3 S4";
  for (int k = 1; k <= 3; ++k) {
    squares += "\np" + std::to_string(k);
    for (int x = 1; x <= 4; ++x)
      squares += " " + std::to_string(std::pow(x, k));
  }
  spit(dir_ / "in/squares.txt", squares + "\n");
  EXPECT_THROW(
      try {
        zirk_import::build_design(zirk_import::read_covariate_file(
                                      (dir_ / "in/squares.txt").string()),
                                  {"S1", "S2", "S3", "S4"}, "squares.txt");
      } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(),
                     "squares.txt: 3 covariate columns and the intercept leave "
                     "no residual for 4 samples");
        throw;
      },
      std::exception);
}

TEST_F(ImportTest, AnExistingFolderIsReplacedOnlyWithForceAndOnlyOnSuccess) {
  fs::create_directories(out());
  spit(dir_ / "out/keep", "old");
  Outcome r = run_default();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: " + out() +
                       ": already exists (use --force to replace it)\n");
  r = run("-v @none.vcf -e @e.bed --force");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(file("keep"), "old");
  r = run_default("--force");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "out/keep"));
  EXPECT_EQ(file("geno.txt"), kGeno);
  EXPECT_EQ(left().size(), 3u);
}

TEST(ExpressionValueTest, OnlyWholeFiniteDecimalsAreNumbers) {
  const struct {
    const char* text;
    double value;  // NaN: not a number
    bool out_of_range;
  } cases[] = {
      {"1.5", 1.5, false},  {"+2", 2, false},     {"-0.25", -0.25, false},
      {".5", 0.5, false},   {"3.", 3, false},     {"1e-5", 1e-5, false},
      {"2E3", 2000, false}, {"NA", NAN, false},   {"", NAN, false},
      {"nan", NAN, false},  {"inf", NAN, false},  {"-inf", NAN, false},
      {"1,5", NAN, false},  {"0x10", NAN, false}, {"1.5x", NAN, false},
      {"1e", NAN, false},   {"1e999", NAN, true}, {"-1e999", NAN, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    bool out_of_range = false;
    const double v = zirk_import::parse_value(c.text, out_of_range);
    EXPECT_EQ(out_of_range, c.out_of_range);
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(v)) << v;
    } else {
      EXPECT_EQ(v, c.value);
    }
  }
}

// Text in memory splits into the lines that a file of it gives, plain or
// bgzip, and the expression-table reader gives the same table or the same
// error from either.
TEST(LineReaderTest, TextInMemoryReadsAsItsFile) {
  const fs::path dir = fs::temp_directory_path() /
                       ("line_reader_test-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string plain = (dir / "t.txt").string();
  const std::string packed = (dir / "t.txt.gz").string();
  const auto lines = [](zirk_import::LineReader& reader) {
    std::vector<std::pair<long, std::string>> out;
    for (std::string_view line; reader.next(line);) {
      out.emplace_back(reader.number(), std::string(line));
    }
    return out;
  };
  const auto table = [](zirk_import::LineReader& reader) {
    try {
      const zirk_import::ExpressionTable t =
          zirk_import::read_expression_table(reader);
      std::string text = zirk_import::layout_name(t.layout);
      for (const std::string& sample : t.samples) text += " " + sample;
      for (const zirk_import::ExpressionGene& g : t.genes) {
        text += "\n" + g.chrom + " " + g.start + " " + g.end + " " + g.id;
        for (double v : g.values) text += " " + std::to_string(v);
      }
      return text;
    } catch (const zirk_import::ImportError& e) {
      return std::string(e.what());
    }
  };
  const std::string texts[] = {
      "",
      "a",
      "a\n",
      "\n\n",
      "a\n\nb\r\n\r",
      std::string("x\0y\nz", 5),
      "id\tS1\tS2\r\ng1\t1\t2\r\n\r\ng2\tNA\t-3.5",
      "#chr\tstart\tend\tid\tS1\n1\t5\t6\tg1\t2\n1\t7\t8\tg1\t3\n",
      "S1 S2\ng1 1\n",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    spit(plain, text);
    BGZF* out = bgzf_open(packed.c_str(), "w");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(bgzf_write(out, text.data(), text.size()),
              static_cast<ssize_t>(text.size()));
    ASSERT_EQ(bgzf_close(out), 0);
    zirk_import::LineReader memory(text, plain);
    const auto expected = lines(memory);
    zirk_import::LineReader from_plain(plain), from_packed(packed);
    EXPECT_EQ(lines(from_plain), expected);
    EXPECT_EQ(lines(from_packed), expected);
    zirk_import::LineReader table_memory(text, plain);
    EXPECT_EQ(table(table_memory), [&] {
      zirk_import::LineReader file(plain);
      return table(file);
    }());
  }
  // The split itself: a CR dropped before a newline or at the end.
  zirk_import::LineReader crlf("a\n\nb\r\n\r", "crlf");
  EXPECT_EQ(lines(crlf), (std::vector<std::pair<long, std::string>>{
                             {1, "a"}, {2, ""}, {3, "b"}, {4, ""}}));
  fs::remove_all(dir);
}

TEST(GenotypeMatrixTest, LinesHoldEachIndividualsCallsAcrossChunks) {
  // 11 individuals (a partial block) and 4,100 SNPs (past one chunk).
  constexpr std::size_t kPeople = 11, kSnps = 4100;
  zirk_import::GenotypeMatrix matrix(kPeople);
  std::vector<std::uint8_t> codes;
  std::mt19937_64 generator(3);
  for (std::size_t s = 0; s < kSnps; ++s) {
    std::uint8_t* row = matrix.next_row();
    for (std::size_t i = 0; i < kPeople; ++i) {
      row[i] = static_cast<std::uint8_t>(generator() & 3);
      codes.push_back(row[i]);
    }
    matrix.keep("ACGT"[s % 4], "TGCA"[s % 4]);
  }
  const fs::path path = fs::path(testing::TempDir()) / "zirk_import_geno.txt";
  std::FILE* out = std::fopen(path.c_str(), "w");
  matrix.write(out);
  std::fclose(out);
  const std::vector<std::string> lines = split(slurp(path), '\n');
  fs::remove(path);
  ASSERT_EQ(lines.size(), kPeople);
  for (std::size_t i = 0; i < kPeople; ++i) {
    ASSERT_EQ(lines[i].size(), 4 * kSnps - 1);
    for (std::size_t s = 0; s < kSnps; ++s) {
      const std::uint8_t code = codes[s * kPeople + i];
      const char ref = "ACGT"[s % 4], alt = "TGCA"[s % 4];
      ASSERT_EQ(lines[i][4 * s], code & 1 ? alt : ref) << i << " " << s;
      ASSERT_EQ(lines[i][4 * s + 2], code & 2 ? alt : ref) << i << " " << s;
    }
  }
}

}  // namespace
