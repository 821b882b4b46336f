// zirk-report's readers: compressed streams, the row scanner's checks and
// block boundaries, the summary file's round trip and the data folder.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "corr_summary.h"
#include "data_folder.h"
#include "family_stats.h"
#include "input_reader.h"
#include "report_error.h"
#include "run_summary.h"

namespace zirk_report {
namespace {

namespace fs = std::filesystem;

const char kHead[] =
    "Results of ZIRK:\nthreshold = 0.050000\n"
    "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t "
    "p-value(IT)\n";

std::string scratch(const std::string& name) {
  // Per process: ctest runs the tests of this file side by side.
  const fs::path dir = fs::temp_directory_path() /
                       ("report_input_test-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return (dir / name).string();
}

std::string write(const std::string& name, const std::string& bytes) {
  const std::string path = scratch(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string gzip(const std::string& text) {
  const std::string path = scratch("gzip");
  gzFile file = gzopen(path.c_str(), "wb");
  gzwrite(file, text.data(), static_cast<unsigned>(text.size()));
  gzclose(file);
  return slurp(path);
}

std::string zstd(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(
      ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

std::string read_all(ByteSource& source) {
  std::string text;
  char buf[4096];
  for (std::size_t got; (got = source.read(buf, sizeof buf)) > 0;)
    text.append(buf, got);
  return text;
}

std::string read_all(const std::string& path) {
  ByteSource source(path);
  return read_all(source);
}

// The same bytes decoded from memory, named `name` in messages.
std::string read_bytes(const std::string& bytes, const std::string& name) {
  ByteSource source(bytes.data(), bytes.size(), name);
  return read_all(source);
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const ReportError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ByteSource, DecodesEveryFormatAndNoticesTruncation) {
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += std::to_string(i * 7919 % 100003) + "\n";
  EXPECT_EQ(read_all(write("plain", text)), text);
  EXPECT_EQ(read_all(write("one.gz", gzip(text))), text);
  // Concatenated members, as `cat a.gz b.gz` makes them.
  EXPECT_EQ(read_all(write("two.gz", gzip(text) + gzip("tail\n"))),
            text + "tail\n");
  EXPECT_EQ(read_all(write("two.zst", zstd(text) + zstd("tail\n"))),
            text + "tail\n");
  EXPECT_EQ(read_all(write("empty", "")), "");

  const std::string gz = gzip(text), zs = zstd(text);
  std::string bad = gz;
  for (std::size_t i = 20; i < 60; ++i)
    bad[i] = static_cast<char>(0xff - bad[i]);
  const std::string cut_gz = write("cut.gz", gz.substr(0, gz.size() / 2));
  const std::string cut_zst = write("cut.zst", zs.substr(0, zs.size() / 2));
  const std::string bad_gz = write("bad.gz", bad);
  EXPECT_EQ(error_of([&] { read_all(cut_gz); }),
            cut_gz + ": compressed stream ends early");
  EXPECT_EQ(error_of([&] { read_all(cut_zst); }),
            cut_zst + ": compressed stream ends early");
  EXPECT_EQ(error_of([&] { read_all(bad_gz); }),
            bad_gz + ": corrupt gzip data");

  // Bytes in memory decode as the file of those bytes does.
  for (const std::string& bytes :
       {text, gzip(text) + gzip("tail\n"), zstd(text) + zstd("tail\n"),
        std::string(), std::string("\x1f")}) {
    EXPECT_EQ(read_bytes(bytes, "mem"), read_all(write("same", bytes)));
  }
  EXPECT_EQ(error_of([&] { read_bytes(gz.substr(0, gz.size() / 2), "m"); }),
            "m: compressed stream ends early");
  EXPECT_EQ(error_of([&] { read_bytes(zs.substr(0, zs.size() / 2), "m"); }),
            "m: compressed stream ends early");
  EXPECT_EQ(error_of([&] { read_bytes(bad, "m"); }), "m: corrupt gzip data");
}

RunSummary scan(const std::string& text) {
  RunSummary s(1000);
  InputOptions o;
  o.max_candidates = 1000;
  read_input(write("rows.txt", text), o, s);
  return s;
}

// Every malformed row is reported with its line; the forms the engine
// prints are accepted in the columns where it prints them.
TEST(RowScanner, ChecksEveryRow) {
  const std::string ok = "0\t0\t1\t0\t-0.500000\t1.0\t1.0\n";
  // Each row and its error; nullptr: accepted.
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"0\t1\t2\t1\t-inf\t-12.500000\t-nan\n", nullptr},
      {"0\t1\t2\t1\tnan\t-inf\t-inf\n", nullptr},
      {"0\t1\t2\t2\t-0.000000\t-9999.000000\t1.0\n", nullptr},
      {"0\t1\t2\t1\t0.301030\t123456789012.000000\t0.000000\n", nullptr},
      {"0\t1\t2\t0\t-0.5\t1.0\t1.0\n", "malformed row"},
      {"0\t1\t2\t0\t-0.500000\t1.0\n", "malformed row"},
      {"0\t1\t2\t0\t-0.500000\t1.0\t1.0\t\n", "malformed row"},
      {"0\t1\t2\t3\t-0.500000\t1.0\t1.0\n", "malformed row"},
      {"0\t2\t2\t0\t-0.500000\t1.0\t1.0\n", "malformed row"},
      {"0\t1\t2\t0\t-0.500000\t-3.000000\t1.0\n", "malformed row"},
      {"0\t1\t2\t2\t-0.500000\t-3.000000\t-2.000000\n", "malformed row"},
      {"0\t1\t2\t1\t-0.500000\t-3.000000\t1.0\n", "malformed row"},
      {"0\t1\t2\t1\t-0.500000\t1.0\t-2.000000\n", "malformed row"},
      {"0\t1\t2\t0\t1.0\t1.0\t1.0\n", "malformed row"},
      {"0\t1\t2\t0\t-0.500000\t1.0\t1.0\r\n", "malformed row"},
      {"\n", "malformed row"},
      {"x\t1\t2\t0\t-0.500000\t1.0\t1.0\n", "malformed row"},
      {"0\t1\t2\t0\t-500.000000\t1.0\t1.0\n", "MC value out of range"},
      // Whole parts past 10^12 saturate instead of overflowing.
      {"0\t1\t2\t0\t-9800000000000.000000\t1.0\t1.0\n",
       "MC value out of range"},
      {"0\t1\t2\t1\t-1.000000\t-3.000000\t-99999999999999.000000\n",
       "IT value out of range"},
  };
  const std::string path = scratch("rows.txt");
  // Named locals rather than a structured binding, which clang 14's
  // lambdas cannot capture.
  for (const auto& entry : cases) {
    const char* const row = entry.first;
    const char* const error = entry.second;
    EXPECT_EQ(error_of([&] { scan(kHead + ok + row + ok); }),
              error ? path + ": line 5: " + error : "no error")
        << row;
  }
  EXPECT_EQ(error_of([&] { scan(std::string(kHead) + ok + "0\t1\t2\t0"); }),
            path + ": line 5: torn row at the end of the file");
  EXPECT_EQ(
      error_of([&] { scan("Results of ZIRK:\nthreshold = 0.050000\n"); }),
      path + ": line 3: missing the head of a ZIRK result file");
  EXPECT_EQ(
      error_of([&] { scan("Results of ZIRK:\nthreshold = 0.05\nSNP\n"); }),
      path + ": line 3: unexpected column header");
  EXPECT_EQ(error_of([&] { scan(""); }),
            path + ": empty input, not a ZIRK result file");
}

// A row of zirk-corr has exactly eleven fields wherever its tabs fall
// within the eight-byte words the scanner searches; each bad row is named by
// its line.
TEST(CorrRowScanner, SplitsElevenFieldsExactly) {
  const std::string head = std::string(kCorrHeader) + "\n";
  const std::string ok = "0\t0\t1\t4\t5\t6\t0.100000\tNA\t-1.000000\tNA\tNA\n";
  // Each row and its error; nullptr: accepted.
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"0\t1\t2\t4\t5\t6\t0.100000\t-0.200000\t1.000000\t-0.500000\t"
       "-1.250000\n",
       nullptr},
      {"12345\t1234567\t1234568\t100\t200\t300\tNA\tNA\tNA\t"
       "-123456.000000\t-inf\n",
       nullptr},
      {"0\t1\t2\t4\t5\t6\tNA\tNA\tNA\tNA\n", "malformed row"},
      {"0\t1\t2\t4\t5\t6\tNA\tNA\tNA\tNA\tNA\tNA\n", "malformed row"},
      {"0\t1\t2\t4\t5\t6\tNA\tNA\tNA\tNA\tNA\t\n", "malformed row"},
      {"0\t1\t2\t4\t5\t6\tNA\t\tNA\tNA\tNA\n", "malformed row"},
      {"0\t1\t2\t4\t5\t6 NA\tNA\tNA\tNA\tNA\n", "malformed row"},
      {"\t\t\t\t\t\t\t\t\t\t\n", "malformed row"},
      {"\n", "malformed row"},
  };
  const std::string path = scratch("corr.tsv");
  // Named locals, as above.
  for (const auto& entry : cases) {
    const char* const row = entry.first;
    const char* const error = entry.second;
    RunSummary runs(10);
    CorrSummary corr(10);
    InputOptions o;
    o.max_candidates = 10;
    const std::string outcome = error_of([&] {
      read_any_input(write("corr.tsv", head + ok + row + ok), o, runs, corr);
    });
    EXPECT_EQ(outcome, error ? path + ": line 3: " + error : "no error") << row;
    if (error == nullptr) {
      EXPECT_EQ(corr.rows, 3u) << row;
    }
  }
}

// Rows across the scanner's 4 MiB blocks are counted once each: the
// summary of a large file equals the merged summaries of its halves.
TEST(RowScanner, BlockBoundariesLoseNoRow) {
  std::mt19937 rng(3);
  std::string first = kHead, second = kHead;
  std::uint64_t it_rows = 0;
  const auto draw = [&rng](unsigned m) {
    return static_cast<unsigned>(rng() % m);
  };
  for (unsigned s = 0; s < 120; ++s) {
    for (unsigned g = 1; g < 2500; ++g) {
      char row[96];
      const bool it = rng() % 9 == 0;
      std::snprintf(row, sizeof row,
                    it ? "%u\t0\t%u\t1\t-%u.%06u\t-7.250000\t-%u.%06u\n"
                       : "%u\t0\t%u\t0\t-%u.%06u\t1.0\t1.0\n",
                    s, g, draw(5), draw(1000000), draw(9), draw(1000000));
      (s < 60 ? first : second) += row;
      it_rows += it;
    }
  }
  ASSERT_GT(first.size() + second.size(), std::size_t{8} << 20);
  std::string whole = first + second.substr(std::strlen(kHead));
  const RunSummary all = scan(whole);
  RunSummary halves = scan(first);
  halves.merge(scan(second));
  EXPECT_EQ(all.rows, 120u * 2499);
  EXPECT_EQ(all.it.total(), it_rows);
  EXPECT_EQ(all.mc.bins(), halves.mc.bins());
  EXPECT_EQ(all.it.bins(), halves.it.bins());
  EXPECT_EQ(all.snps.size(), 120u);
  EXPECT_EQ(mc_lambda(all).value, mc_lambda(halves).value);
}

// A summary written and read back is the summary: every count, bin, SNP
// and candidate, and the limit below which the candidates are complete.
TEST(SummaryFile, RoundTripAndDamage) {
  const std::string text = std::string(kHead) +
                           "0\t0\t1\t1\t-inf\t-3.000000\t-2.500000\n"
                           "0\t0\t2\t1\tnan\t-3.000000\t-inf\n"
                           "0\t1\t2\t1\t0.000000\t-3.000000\tnan\n"
                           "2\t0\t1\t2\t0.301030\t-3.000000\t1.0\n"
                           "2\t0\t2\t1\t-1.000000\t-3.000000\t-0.700000\n"
                           "2\t1\t2\t1\t-1.000000\t-3.000000\t-0.600000\n";
  RunSummary s(1000);
  InputOptions o;
  o.max_candidates = 2;
  RunSummary capped(2);
  read_input(write("rt.txt", text), o, capped);
  const std::string path = scratch("rt.sum");
  write_summary_file(capped, path);
  RunSummary back(1000);
  o.max_candidates = 1000;
  EXPECT_TRUE(read_input(path, o, back));
  EXPECT_EQ(back.threshold_line, "threshold = 0.050000");
  // Rows, flag 1 rows, MC -inf, NaN and p = 1 rows, IT -inf and NaN rows.
  EXPECT_EQ((std::vector<std::uint64_t>{
                back.rows, back.flag_rows[1], back.mc_neg_inf, back.mc_nan,
                back.mc_fixed_one, back.it_neg_inf, back.it_nan}),
            (std::vector<std::uint64_t>{6, 5, 1, 1, 1, 1, 1}));
  EXPECT_EQ(back.mc.bins(), capped.mc.bins());
  EXPECT_EQ(back.it.bins(), capped.it.bins());
  ASSERT_EQ(back.snps.size(), 3u);
  EXPECT_EQ((std::vector{back.snps[0].best_it, back.snps[1].best_it,
                         back.snps[2].best_it}),
            (std::vector{SnpStat::kNegInf, SnpStat::kUnseen, -700000}));
  EXPECT_EQ(back.snps[2].passed_mc, 3u);
  EXPECT_EQ(back.complete_below(), -700000);
  const auto rows = back.sorted_candidates();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].it, "-inf");
  EXPECT_EQ(rows[1].mc, "-inf");
  EXPECT_EQ(rows[1].lda, "-3.000000");

  // The threshold line goes through as the result file has it, tabs too.
  std::string tabbed = text;
  tabbed.replace(tabbed.find("0.050000"), 8, "0.050000\tx\t");
  RunSummary with_tab(1000);
  read_input(write("tab.txt", tabbed), o, with_tab);
  write_summary_file(with_tab, scratch("tab.sum"));
  RunSummary tab_back(1000);
  EXPECT_TRUE(read_input(scratch("tab.sum"), o, tab_back));
  EXPECT_EQ(tab_back.threshold_line, "threshold = 0.050000\tx\t");

  const std::string whole = slurp(path);
  const std::string cut = write("cut.sum", whole.substr(0, whole.rfind("end")));
  const std::string bad =
      write("bad.sum",
            whole.substr(0, whole.find("\nM\t") + 1) + "M\t-1x\t3\n" + "end\n");
  EXPECT_EQ(
      error_of([&] { read_input(cut, o, s); }),
      cut + ": line " +
          std::to_string(std::count(whole.begin(), whole.end(), '\n') - 1) +
          ": missing end line (truncated file?) in the summary");
  EXPECT_EQ(error_of([&] { read_input(bad, o, s); }),
            bad + ": line 7: malformed line in the summary");
}

TEST(DataFolder, ReadsTablesAndNamesBadLines) {
  const std::string dir = scratch("data");
  fs::create_directories(dir);
  write("data/snps.tsv",
        "index\tid\tchrom\tpos\tref\talt\tn0\tn1\tn2\tfilled\n"
        "0\trs1\t1\t100\tA\tG\t10\t4\t6\t0\n"
        "1\trs2\tX\tNA\tC\tT\t10\t10\t10\t7\n");
  write("data/genes.tsv", "index\tid\tchrom\tstart\tend\n0\tG1\tNA\tNA\tNA\n");
  const DataFolder d = read_data_folder(dir);
  ASSERT_EQ(d.snps.size(), 2u);
  EXPECT_TRUE(d.snps[0].small_class());
  EXPECT_FALSE(d.snps[1].small_class());
  EXPECT_EQ(d.snps[1].chrom, "X");
  EXPECT_EQ(d.snps[1].filled, 7u);
  EXPECT_EQ(d.genes[0].id, "G1");

  write("data/genes.tsv",
        "index\tid\tchrom\tstart\tend\n0\tG1\tNA\tNA\tNA\n2\tG2\t1\t1\t2\n");
  EXPECT_EQ(error_of([&] { read_data_folder(dir); }),
            dir + "/genes.tsv: line 3: malformed line");
  write("data/snps.tsv", "index\tid\tchrom\tpos\n");
  EXPECT_EQ(error_of([&] { read_data_folder(dir); }),
            dir +
                "/snps.tsv: line 1: expected the header "
                "\"index\tid\tchrom\tpos\tref\talt\tn0\tn1\tn2\tfilled\"");
  fs::remove(dir + "/snps.tsv");
  EXPECT_EQ(error_of([&] { read_data_folder(dir); }),
            dir + "/snps.tsv: cannot open");
}

// The QQ points are the order statistics of the rows: each drawn rank's
// observed value is the rank-th smallest, every row below 10^-3 is drawn.
TEST(QqPlot, PointsAreOrderStatistics) {
  std::vector<std::int64_t> values;
  std::mt19937 rng(5);
  for (int i = 0; i < 5000; ++i)
    values.push_back(-static_cast<std::int64_t>(rng() % 5000000));
  values.push_back(kNegInfKey);
  std::sort(values.begin(), values.end());
  std::map<std::int64_t, std::uint64_t> counts;
  for (std::int64_t v : values) ++counts[v];
  const Bins bins(counts.begin(), counts.end());
  const QqPlot q = qq_plot(bins, 100000);
  EXPECT_EQ(q.n, values.size());
  EXPECT_EQ(q.zeros, 1u);
  const double n1 = values.size() + 1.0;
  std::size_t tail = 0;
  for (const auto& [x, y] : q.points) {
    const auto rank =
        static_cast<std::size_t>(std::llround(n1 * std::pow(10.0, -x)));
    EXPECT_DOUBLE_EQ(y, -values[rank - 1] / 1e6) << rank;
    tail += y > 3;
  }
  EXPECT_EQ(tail, static_cast<std::size_t>(std::count_if(
                      values.begin() + 1, values.end(),
                      [](std::int64_t v) { return v < -3000000; })));
  ASSERT_FALSE(q.band_x.empty());
  for (std::size_t i = 0; i < q.band_x.size(); ++i) {
    EXPECT_LT(q.band_lo[i], q.band_x[i] + 0.05);
    EXPECT_GT(q.band_hi[i], q.band_x[i] - 0.05);
    EXPECT_LT(q.band_lo[i], q.band_hi[i]);
  }
}

}  // namespace
}  // namespace zirk_report
