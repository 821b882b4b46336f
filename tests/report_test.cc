// zirk-report's statistics against direct computation on small tables: the
// exact histograms, BH q-values, lambda, the empirical FDR, the per-SNP
// permutation p-value, the bounded set of candidate hits, and a locus
// figure's cells per stratum.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "data_values.h"
#include "family_stats.h"
#include "input_reader.h"
#include "locus_report.h"
#include "report_error.h"
#include "report_writer.h"
#include "run_summary.h"

namespace zirk_report {
namespace {

struct Row {
  unsigned snp, g1, g2, flag;
  std::string mc, lda, it;
};

// A result file of random rows whose IT and MC values repeat often (ties),
// with p = 1 rows, NaN and -inf among them.
std::vector<Row> random_rows(unsigned seed, unsigned snps, unsigned genes) {
  std::mt19937 rng(seed);
  std::vector<Row> rows;
  const std::vector<std::string> mc_special = {"0.000000", "0.301030",
                                               "-0.000000", "-inf", "nan"};
  for (unsigned s = 0; s < snps; ++s) {
    for (unsigned a = 0; a < genes; ++a) {
      for (unsigned b = a + 1; b < genes; ++b) {
        Row r{s, a, b, 0, "", "1.0", "1.0"};
        r.mc = rng() % 10 == 0
                   ? mc_special[rng() % mc_special.size()]
                   : std::to_string(-static_cast<double>(rng() % 40) / 8.0);
        r.flag = rng() % 3;
        if (r.flag != 0)
          r.lda = std::to_string(-static_cast<double>(rng() % 1000) / 7.0);
        if (r.flag == 1) {
          const unsigned k = rng() % 20;
          r.it = k == 0 ? "nan"
                 : k == 1
                     ? "-inf"
                     : std::to_string(-static_cast<double>(rng() % 12) / 2.0);
        }
        rows.push_back(r);
      }
    }
  }
  return rows;
}

std::string scratch(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("report_test_" + name + "-" + std::to_string(::getpid())))
      .string();
}

RunSummary summarize(const std::vector<Row>& rows, const std::string& name,
                     std::uint64_t max_candidates = 1000000) {
  const std::string path = scratch(name);
  std::ofstream out(path);
  out << "Results of ZIRK:\nthreshold = 0.050000\n"
      << "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t "
         "p-value(IT)\n";
  for (const Row& r : rows) {
    out << r.snp << '\t' << r.g1 << '\t' << r.g2 << '\t' << r.flag << '\t'
        << r.mc << '\t' << r.lda << '\t' << r.it << '\n';
  }
  out.close();
  RunSummary s(max_candidates);
  InputOptions options;
  options.max_candidates = max_candidates;
  read_input(path, options, s);
  return s;
}

TEST(Histogram, CountsPastThirtyTwoBitsAndMerges) {
  Histogram a, b;
  EXPECT_EQ(a.bins(), Bins{});
  a.add(-5, 0xffffffffull);
  a.add(-5);
  a.add(-5, 3);
  // A counter that wraps to exactly 0, its count all carried; a key far from
  // the others, in a block of its own.
  a.add(-9, 0xffffffffull);
  a.add(-9);
  a.add(-300'000'000);
  b.add(-5, 0xfffffffeull);
  b.add(kMinKey);
  b.add(kMaxKey, 2);
  a.merge(b);
  EXPECT_EQ(a.bins(), (Bins{{kMinKey, 1},
                            {-300'000'000, 1},
                            {-9, 0x100000000ull},
                            {-5, 0xffffffffull + 4 + 0xfffffffeull},
                            {kMaxKey, 2}}));
  EXPECT_EQ(a.total(),
            0xffffffffull + 4 + 0xfffffffeull + 3 + 0x100000000ull + 1);
}

// The batch counters against add() one value at a time: keys near 0 (the
// one-byte counters, one of them wrapping many times), far from it, at the
// range's ends, and the keys outside it that stand for NA and -inf, which
// are skipped.
TEST(Histogram, BatchCountsEqualOneByOne) {
  std::mt19937_64 random(3);
  std::vector<std::int64_t> keys;
  std::geometric_distribution<std::int64_t> spread(2e-6);
  for (int i = 0; i < 200000; ++i) keys.push_back(-spread(random));
  keys.insert(keys.end(), 1000, -7);
  keys.insert(keys.end(), 300, 0);
  for (const std::int64_t key :
       {kMinKey, kMaxKey, std::int64_t{-2097152}, std::int64_t{-2097151},
        std::int64_t{-8191}, std::int64_t{-8192}, std::int64_t{1},
        std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::int64_t>::min()}) {
    keys.push_back(key);
  }
  std::shuffle(keys.begin(), keys.end(), random);
  Histogram one, each, near;
  for (const std::int64_t key : keys) {
    if (key >= kMinKey && key <= kMaxKey) one.add(key);
  }
  NearZeroCounts counts;
  for (std::size_t from = 0; from < keys.size(); from += 777) {
    const std::span<const std::int64_t> batch(
        keys.data() + from, std::min<std::size_t>(777, keys.size() - from));
    each.add_each(batch);
    counts.add_each(near, batch);
  }
  counts.flush(near);
  EXPECT_EQ(each.bins(), one.bins());
  EXPECT_EQ(near.bins(), one.bins());
  EXPECT_EQ(each.total(), one.total());
  EXPECT_EQ(near.total(), one.total());

  // Batches counted several times over (a SNP's copies), mixed with single
  // ones into the same counters: counts of 2 and of 300, which carries.
  Histogram weighted, expected;
  NearZeroCounts several;
  for (std::size_t from = 0; from < keys.size(); from += 777) {
    const std::span<const std::int64_t> batch(
        keys.data() + from, std::min<std::size_t>(777, keys.size() - from));
    const std::uint64_t count =
        std::array<std::uint64_t, 3>{1, 2, 300}[from / 777 % 3];
    several.add_each(weighted, batch, count);
    for (const std::int64_t key : batch) {
      if (key >= kMinKey && key <= kMaxKey) expected.add(key, count);
    }
  }
  several.flush(weighted);
  EXPECT_EQ(weighted.bins(), expected.bins());
  EXPECT_EQ(weighted.total(), expected.total());
}

// q-values of every flag 1 row against a plain Benjamini-Hochberg over all
// rows in memory, the rows without an IT value counting as p = 1.
TEST(Statistics, QValuesMatchPlainBenjaminiHochberg) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const std::vector<Row> rows = random_rows(seed, 6, 9);
    const RunSummary s = summarize(rows, "bh");
    const auto has_it = [](const Row& r) {
      return r.flag == 1 && r.it != "nan";
    };
    std::vector<double> p;
    for (const Row& r : rows) {
      p.push_back(has_it(r)
                      ? std::min(1.0, std::pow(10.0, std::strtod(r.it.c_str(),
                                                                 nullptr)))
                      : 1.0);
    }
    const std::size_t m = p.size();
    std::vector<std::size_t> order(m);
    for (std::size_t i = 0; i < m; ++i) order[i] = i;
    std::stable_sort(
        order.begin(), order.end(),
        [&p](std::size_t a, std::size_t b) { return p[a] < p[b]; });
    std::map<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>, double> q;
    double low = 1.0;
    for (std::size_t k = m; k-- > 0;) {
      // The rank of a tied value is the last position of its tie.
      std::size_t rank = k + 1;
      while (rank < m && p[order[rank]] == p[order[k]]) ++rank;
      low = std::min(low, p[order[k]] * static_cast<double>(m) / rank);
      const Row& r = rows[order[k]];
      q[{r.snp, r.g1, r.g2}] = low;
    }
    ReportOptions o;
    o.top = m;
    const std::vector<Hit> hits = select_hits(s, o);
    ASSERT_EQ(hits.size(), std::count_if(rows.begin(), rows.end(), has_it));
    for (const Hit& h : hits) {
      EXPECT_DOUBLE_EQ(h.q, q.at({h.row.snp, h.row.gene1, h.row.gene2}))
          << "seed " << seed << " SNP " << h.row.snp;
    }
    // --fdr picks exactly the rows with q at or below it.
    o.top = 0;
    o.fdr = 0.2;
    const std::size_t at_most = std::count_if(
        hits.begin(), hits.end(), [](const Hit& h) { return h.q <= 0.2; });
    EXPECT_GT(at_most, 0u);
    EXPECT_EQ(select_hits(s, o).size(), at_most);
  }
}

TEST(Statistics, LambdaIsTheDirectMedianStatistic) {
  const boost::math::chi_squared chi2(10);
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const std::vector<Row> rows = random_rows(seed, 4 + seed % 2, 7);
    std::vector<double> stats;
    for (const Row& r : rows) {
      if (r.mc == "0.000000" || r.mc == "0.301030" || r.mc == "nan") continue;
      const double p = r.mc == "-inf"
                           ? 0
                           : std::pow(10.0, std::strtod(r.mc.c_str(), nullptr));
      stats.push_back(
          p == 0   ? INFINITY
          : p >= 1 ? 0
                   : boost::math::quantile(boost::math::complement(chi2, p)));
    }
    std::sort(stats.begin(), stats.end());
    const std::size_t n = stats.size();
    const double median = (stats[(n - 1) / 2] + stats[n / 2]) / 2;
    const Lambda l = mc_lambda(summarize(rows, "lambda"));
    EXPECT_EQ(l.rows, n);
    EXPECT_NEAR(l.value, median / boost::math::median(chi2), 1e-12);
  }
}

// Families as (log10 p in millionths, count); the last bin holds p = 1.
TEST(Statistics, EmpiricalFdrMatchesDirectCount) {
  const Bins real = {
      {-5000000, 1}, {-3000000, 2}, {-2000000, 1}, {-1000000, 3}, {0, 13}};
  const std::vector<Bins> nulls = {{{-4000000, 1}, {-2000000, 4}, {0, 15}},
                                   {{-3000000, 3}, {-1500000, 1}, {0, 16}}};
  const std::vector<double> got = empirical_fdr(real, nulls);
  const auto at_or_below = [](const Bins& bins, std::int64_t key) {
    double n = 0;
    for (const auto& [k, count] : bins) n += k <= key ? count : 0;
    return n;
  };
  std::vector<double> direct(real.size());
  for (std::size_t i = 0; i < real.size(); ++i) {
    double null_mean = 0;
    for (const Bins& n : nulls) null_mean += at_or_below(n, real[i].first);
    null_mean /= nulls.size();
    direct[i] = std::min(1.0, null_mean / at_or_below(real, real[i].first));
  }
  for (std::size_t i = real.size() - 1; i-- > 0;)
    direct[i] = std::min(direct[i], direct[i + 1]);
  ASSERT_EQ(got.size(), direct.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_DOUBLE_EQ(got[i], direct[i]) << i;
  // By hand: at 10^-2 the ratio is 4 / 4, but at 10^-1 it is 4.5 / 7, and
  // the running minimum carries that down.
  EXPECT_DOUBLE_EQ(got[2], 4.5 / 7);
  EXPECT_DOUBLE_EQ(got[0], 0.0);
}

TEST(Statistics, PermutationPValues) {
  struct Case {
    std::int32_t real;
    std::vector<std::int32_t> nulls;
    double p;
  };
  const std::vector<Case> cases = {
      {-4000000, {-3000000, -5000000, -4000000, SnpStat::kNoIt}, 3.0 / 5},
      {-4000000, {-1000000, SnpStat::kUnseen}, 1.0 / 3},
      {0, {SnpStat::kNoIt}, 1.0},
      {SnpStat::kNegInf, {SnpStat::kNegInf, -9000000}, 2.0 / 3},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(snp_permutation_p(c.real, c.nulls), c.p);
  // Over a whole run: a tie counts against the data, an empty run is p = 1.
  const Bins real = {{-5000000, 2}, {0, 8}};
  const std::vector<Bins> nulls = {
      {{-6000000, 1}, {0, 9}}, {{-5000000, 1}, {0, 9}}, {{-4000000, 3}}, {}};
  EXPECT_DOUBLE_EQ(run_permutation_p(real, nulls), 3.0 / 5);
  EXPECT_DOUBLE_EQ(run_permutation_p({}, nulls), 1.0);
}

// Capped candidate sets, offered in any order and merged, keep exactly the
// smallest rows, and know below which value they are complete.
TEST(Candidates, CappedMergesKeepTheSmallestRows) {
  std::mt19937 rng(7);
  std::vector<CandidateRow> all;
  for (unsigned i = 0; i < 300; ++i) {
    all.push_back({-static_cast<std::int64_t>(rng() % 40) * 1000, rng() % 9u, i,
                   i + 1, "", "", ""});
  }
  RunSummary a(25), b(25);
  for (std::size_t i = 0; i < all.size(); ++i)
    (i % 3 ? a : b).offer(CandidateRow(all[i]));
  a.merge(std::move(b));
  std::sort(all.begin(), all.end(), hit_order);
  const std::vector<CandidateRow> kept = a.sorted_candidates();
  ASSERT_EQ(kept.size(), 25u);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].it_key, all[i].it_key);
    EXPECT_EQ(kept[i].gene1, all[i].gene1);
  }
  for (const CandidateRow& r : all) {
    if (r.it_key < a.complete_below()) {
      EXPECT_TRUE(std::any_of(
          kept.begin(), kept.end(),
          [&r](const CandidateRow& k) { return k.gene1 == r.gene1; }));
    }
  }
  // The 26th row is the first left out, whichever way it went.
  EXPECT_EQ(a.complete_below(), all[25].it_key);
}

// Shard summaries that kept 10 candidates each, written to files and merged
// into a summary that holds more: only its first 10 candidates are known to
// be the strongest rows, ties in IT value included. A report capped at 10
// lists exactly the rows --top 10 lists over the whole run; asked for 11 it
// must refuse rather than list a row that may not be the 11th.
TEST(Candidates, NarrowShardSummariesBoundTheExactLead) {
  const std::vector<Row> rows = random_rows(5, 6, 9);
  const RunSummary whole = summarize(rows, "exact-whole");
  RunSummary merged(40);
  InputOptions options;
  options.max_candidates = 40;
  for (unsigned shard = 0; shard < 3; ++shard) {
    std::vector<Row> part;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(part),
                 [shard](const Row& r) { return r.snp / 2 == shard; });
    const std::string name = "exact-" + std::to_string(shard);
    write_summary_file(summarize(part, name, 10), scratch(name + ".sum"));
    ASSERT_TRUE(read_input(scratch(name + ".sum"), options, merged));
  }
  EXPECT_GT(merged.sorted_candidates().size(), 10u);
  EXPECT_EQ(merged.exact_candidates(), 10u);

  ReportOptions top;
  top.top = 10;
  const std::vector<Hit> strongest = select_hits(whole, top);
  ReportOptions capped;
  capped.fdr = 1;
  capped.max_hits = 10;
  std::uint64_t qualifying = 0;
  const std::vector<Hit> listed = select_hits(merged, capped, &qualifying);
  ASSERT_EQ(listed.size(), 10u);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(
        std::tie(listed[i].row.snp, listed[i].row.gene1, listed[i].row.gene2,
                 listed[i].row.it, listed[i].q),
        std::tie(strongest[i].row.snp, strongest[i].row.gene1,
                 strongest[i].row.gene2, strongest[i].row.it, strongest[i].q))
        << i;
  }
  EXPECT_EQ(qualifying,
            std::count_if(rows.begin(), rows.end(), [](const Row& r) {
              return r.flag == 1 && r.it != "nan";
            }));
  capped.max_hits = 11;
  EXPECT_THROW(select_hits(merged, capped), ReportError);
}

// A locus figure over a data folder with strata.txt: the cells of each
// stratum found among interleaved individuals, each class's correlation
// the pooled one of zirk-corr's rows (opposite perfect correlations in two
// strata pool to 0, a class with one usable cell takes its value), and
// cells below the minimum class size null.
TEST(LocusFigure, CellsPerStratum) {
  const std::string dir = scratch("strata");
  std::filesystem::create_directories(dir);
  // Per cell (stratum, class): size and how gene 2 follows gene 1 (+1 in
  // rank order, -1 reversed, 0 neither).
  struct Cell {
    int stratum, cls, n, sign;
  };
  const Cell cells[] = {{0, 0, 25, 1},  {0, 1, 25, 1}, {0, 2, 5, 0},
                        {1, 0, 25, -1}, {1, 1, 10, 0}, {1, 2, 10, 0}};
  // Individuals alternate between strata "north" and "south".
  std::vector<std::pair<int, int>> people;  // cell index, member number
  std::vector<int> left[2];
  for (int c = 0; c < 6; ++c) {
    for (int m = 0; m < cells[c].n; ++m) left[cells[c].stratum].push_back(c);
  }
  std::vector<int> count(6);
  for (std::size_t i = 0; i < left[0].size() || i < left[1].size(); ++i) {
    for (int t = 0; t < 2; ++t) {
      if (i >= left[t].size()) continue;
      const int c = left[t][i];
      people.emplace_back(c, count[c]++);
    }
  }
  const char* calls[] = {"A A", "A G", "G G"};
  std::ofstream geno(dir + "/geno.txt"), strata(dir + "/strata.txt");
  std::string gene1, gene2;
  for (const auto& [c, m] : people) {
    geno << calls[cells[c].cls] << '\n';
    strata << (cells[c].stratum == 0 ? "north" : "south") << '\n';
    const int y = cells[c].sign > 0   ? m + 1
                  : cells[c].sign < 0 ? 100 - m
                                      : (m * 7) % 11 + 1;
    gene1 += std::to_string(m + 1) + ' ';
    gene2 += std::to_string(y) + ' ';
  }
  geno.close();
  strata.close();
  std::ofstream(dir + "/allele.txt") << "A G\n";
  std::ofstream(dir + "/expr.txt") << gene1 << '\n' << gene2 << '\n';

  DataFolder data{dir,
                  {{"rs1", "chr1", "100", "A", "G", {50, 35, 15}, 0}},
                  {{"g1", "chr1", "1", "2"}, {"g2", "chr1", "3", "4"}}};
  const DataValues values(dir, {0}, {0, 1});
  Hit hit{{0, 0, 0, 1, "", "", ""}, 0, 0, 0, "trend", "-1.000000", ""};
  std::string json = locus_figures_json({hit}, {Locus{{0}}}, data, values, 1);
  std::erase_if(json, [](char c) { return c == ' ' || c == '\n'; });
  // Class 1: north's cell alone, r = 1 clipped for 25 before atanh.
  const double limit = 1.0 - 6.0 / (25.0 * 25 * 25 - 25);
  const std::size_t at = json.find("\"classes\":[{\"n\":50,\"r\":0,");
  ASSERT_NE(at, std::string::npos) << json;
  const std::size_t r1 = json.find("{\"n\":35,\"r\":", at);
  ASSERT_NE(r1, std::string::npos) << json;
  EXPECT_NEAR(std::stod(json.substr(r1 + 12, 20)), limit, 1e-12) << json;
  EXPECT_NE(json.find("{\"n\":15,\"r\":null,", at), std::string::npos) << json;
  EXPECT_NE(json.find("\"strata\":[{\"name\":\"north\",\"n\":[25,25,5],"
                      "\"r\":[1,1,null]},{\"name\":\"south\",\"n\":"
                      "[25,10,10],\"r\":[-1,null,null]}],\"stratum\":[0,1,0,"),
            std::string::npos)
      << json;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zirk_report
