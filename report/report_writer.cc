#include "report_writer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>

#include "corr_report.h"
#include "data_tables.h"
#include "data_values.h"
#include "error_line.h"
#include "family_stats.h"
#include "genome_context.h"
#include "json_writer.h"
#include "loci.h"
#include "locus_report.h"
#include "output_folder.h"
#include "report_error.h"

namespace zirk_report {

namespace fs = std::filesystem;

namespace {

using zirk_formats::json_quote;

constexpr std::uint64_t kQqTailPoints = 100000;
constexpr std::size_t kManhattanAll = 50000;

// JSON has no NaN or infinity; both print as null (a lambda is infinite when
// most MC p-values are 0, which mc_p_zero_rows shows).
std::string num(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// Chromosomes in their natural order: numbers ascending, then names.
bool chrom_less(const std::string& a, const std::string& b) {
  const auto number = [](const std::string& c) -> long {
    std::string s = c.rfind("chr", 0) == 0 ? c.substr(3) : c;
    if (s.empty() || s.size() > 6 ||
        !std::all_of(s.begin(), s.end(),
                     [](char ch) { return ch >= '0' && ch <= '9'; })) {
      return -1;
    }
    return std::stol(s);
  };
  const long na = number(a), nb = number(b);
  if ((na < 0) != (nb < 0)) return na >= 0;
  if (na >= 0 && na != nb) return na < nb;
  return a < b;
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) throw ReportError(path.string() + ": cannot write");
}

std::string qq_json(const QqPlot& q) {
  std::ostringstream o;
  o << "{\"n\": " << q.n << ", \"zeros\": " << q.zeros << ", \"x\": [";
  for (std::size_t i = 0; i < q.points.size(); ++i) {
    o << (i ? ", " : "") << num(q.points[i].first);
  }
  o << "], \"y\": [";
  for (std::size_t i = 0; i < q.points.size(); ++i) {
    o << (i ? ", " : "") << num(q.points[i].second);
  }
  o << "], \"band_x\": [";
  for (std::size_t i = 0; i < q.band_x.size(); ++i) {
    o << (i ? ", " : "") << num(q.band_x[i]);
  }
  o << "], \"band_lo\": [";
  for (std::size_t i = 0; i < q.band_lo.size(); ++i) {
    o << (i ? ", " : "") << num(q.band_lo[i]);
  }
  o << "], \"band_hi\": [";
  for (std::size_t i = 0; i < q.band_hi.size(); ++i) {
    o << (i ? ", " : "") << num(q.band_hi[i]);
  }
  o << "]}";
  return o.str();
}

std::string qq_set_json(const Bins& real, const std::vector<Bins>& nulls) {
  std::string s =
      "{\"real\": " + qq_json(qq_plot(real, kQqTailPoints)) + ", \"nulls\": [";
  for (std::size_t k = 0; k < nulls.size(); ++k) {
    s += (k ? ", " : "") + qq_json(qq_plot(nulls[k], kQqTailPoints));
  }
  return s + "]}";
}

Bins it_defined(const RunSummary& s) {
  Bins out;
  if (s.it_neg_inf > 0) out.emplace_back(kNegInfKey, s.it_neg_inf);
  for (const auto& b : s.it.bins()) out.push_back(b);
  return out;
}

// A family's best value per SNP (SnpStat's keys) along the genome, or along
// the SNP index without a data folder: every SNP up to kManhattanAll of
// them, beyond that the 20,000 smallest best p-values and an even sample of
// the others.
std::string manhattan_json(const std::vector<std::int32_t>& best,
                           const DataFolder* data) {
  struct Point {
    std::uint64_t snp;
    double y;
  };
  std::vector<Point> seen;
  double top = 0;
  std::uint64_t zeros = 0;
  for (std::uint64_t i = 0; i < best.size(); ++i) {
    const std::int32_t b = best[i];
    if (b == SnpStat::kUnseen) continue;
    if (b == SnpStat::kNegInf) {
      ++zeros;
      continue;
    }
    const double y = b == SnpStat::kNoIt ? 0.0 : -b / 1e6;
    top = std::max(top, y);
    seen.push_back({i, y});
  }
  std::vector<Point> shown;
  if (seen.size() <= kManhattanAll) {
    shown = seen;
  } else {
    std::vector<Point> by_y = seen;
    std::stable_sort(by_y.begin(), by_y.end(),
                     [](const Point& a, const Point& b) { return a.y > b.y; });
    by_y.resize(20000);
    const std::size_t stride = seen.size() / 20000;
    for (std::size_t i = 0; i < seen.size(); i += stride)
      by_y.push_back(seen[i]);
    std::sort(by_y.begin(), by_y.end(),
              [](const Point& a, const Point& b) { return a.snp < b.snp; });
    for (const Point& p : by_y) {
      if (shown.empty() || shown.back().snp != p.snp) shown.push_back(p);
    }
  }
  std::vector<std::string> chroms;
  if (data != nullptr) {
    for (const Point& p : shown) chroms.push_back(data->snps[p.snp].chrom);
    std::sort(chroms.begin(), chroms.end(), chrom_less);
    chroms.erase(std::unique(chroms.begin(), chroms.end()), chroms.end());
  }
  std::ostringstream o;
  o << "{\"by_position\": " << (data ? "true" : "false")
    << ", \"snps\": " << seen.size() + zeros << ", \"shown\": " << shown.size()
    << ", \"zeros\": " << zeros << ", \"chroms\": [";
  for (std::size_t c = 0; c < chroms.size(); ++c) {
    o << (c ? ", " : "") << json_quote(chroms[c]);
  }
  o << "], \"points\": [";
  bool first = true;
  for (const Point& p : shown) {
    std::string chrom = "0", pos = std::to_string(p.snp);
    if (data != nullptr) {
      const SnpInfo& info = data->snps[p.snp];
      if (info.pos == "NA" || info.pos.empty()) continue;
      chrom = std::to_string(std::lower_bound(chroms.begin(), chroms.end(),
                                              info.chrom, chrom_less) -
                             chroms.begin());
      pos = info.pos;
    }
    o << (first ? "" : ", ") << "[" << chrom << ", " << pos << ", " << num(p.y)
      << "]";
    first = false;
  }
  o << "]}";
  return o.str();
}

// The best IT key of every SNP, as manhattan_json takes it.
std::vector<std::int32_t> it_best(const RunSummary& s) {
  std::vector<std::int32_t> best;
  best.reserve(s.snps.size());
  for (const SnpStat& st : s.snps) best.push_back(st.best_it);
  return best;
}

// The Manhattan plots of the correlation families, when there are any.
std::string corr_manhattan_json(const ReportOptions& o) {
  if (o.corr == nullptr) return "";
  std::string t;
  for (int f = 0; f < 2; ++f) {
    t += std::string(",\n\"manhattan_") + kCorrFamilyNames[f] + "\": " +
         manhattan_json(o.corr->families[f].snp_best, o.data);
  }
  return t;
}

void run_script(const ReportOptions& options, const fs::path& dir) {
  const pid_t pid = ::fork();
  if (pid < 0) throw ReportError(options.script + ": cannot start");
  if (pid == 0) {
    // Our stdout may be a pipe the caller reads; the script talks on stderr.
    ::dup2(2, 1);
    ::execl(options.python.c_str(), options.python.c_str(),
            options.script.c_str(), dir.c_str(), static_cast<char*>(nullptr));
    zirk_formats::print_error_line(options.python + ": cannot run (" +
                                   std::strerror(errno) + ")");
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw ReportError(
        options.script +
        ": drawing the figures failed (exit status " +
        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")");
  }
}

std::vector<Bins> null_families(const ReportOptions& o) {
  std::vector<Bins> families;
  for (const RunSummary& n : o.nulls) families.push_back(it_family(n));
  return families;
}

// `locus_of`, when the hits were clumped, holds each hit's locus number.
std::string hits_tsv(const std::vector<Hit>& hits, const ReportOptions& o,
                     const DataValues* values,
                     const std::vector<std::size_t>* locus_of) {
  const bool perm = !o.nulls.empty() || !o.corr_nulls.empty();
  std::string t =
      "snp\tsnp_id\tchrom\tpos\tref\talt\tn0\tn1\tn2\tfilled\tsmall_class\t"
      "gene1\t"
      "gene1_id\tgene1_chrom\tgene1_start\tgene1_end\tgene2\tgene2_id\t"
      "gene2_chrom\tgene2_start\tgene2_end\tlog10_p_mc\tll_lda\tlog10_p_it\t"
      "q_bh";
  t += perm ? "\tempirical_fdr\tsnp_permutation_p" : "";
  t += std::string("\tfamily") + kDiagnosisHeader +
       "\tgene1_distance\tgene2_distance\tcontext\tlocus\n";
  const auto gene = [&o](std::uint32_t g) {
    if (o.data == nullptr) return std::string("NA\tNA\tNA\tNA");
    const GeneInfo& i = o.data->genes[g];
    return i.id + "\t" + i.chrom + "\t" + i.start + "\t" + i.end;
  };
  for (std::size_t k = 0; k < hits.size(); ++k) {
    const Hit& h = hits[k];
    const CandidateRow& r = h.row;
    const std::string locus =
        locus_of ? std::to_string((*locus_of)[k]) : std::string("NA");
    t += std::to_string(r.snp) + "\t";
    if (o.data == nullptr) {
      t += "NA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\t";
    } else {
      const SnpInfo& i = o.data->snps[r.snp];
      t += i.id + "\t" + i.chrom + "\t" + i.pos + "\t" + i.ref + "\t" + i.alt +
           "\t" + std::to_string(i.n[0]) + "\t" + std::to_string(i.n[1]) +
           "\t" + std::to_string(i.n[2]) + "\t" + std::to_string(i.filled) +
           "\t" + (i.small_class() ? "yes" : "no") + "\t";
    }
    const bool corr = !h.corr_columns.empty();
    t += std::to_string(r.gene1) + "\t" + gene(r.gene1) + "\t" +
         std::to_string(r.gene2) + "\t" + gene(r.gene2) + "\t" +
         (corr ? "NA\tNA\tNA" : r.mc + "\t" + r.lda + "\t" + r.it) + "\t" +
         num(h.q);
    // A family without permuted runs of its own has no empirical values.
    if (perm) {
      t += std::isnan(h.efdr) ? "\tNA\tNA"
                              : "\t" + num(h.efdr) + "\t" + num(h.snp_p);
    }
    t += std::string("\t") + h.family + diagnosis_columns(h, values);
    if (o.data == nullptr) {
      t += "\tNA\tNA\tunknown\t" + locus + "\n";
      continue;
    }
    const SnpInfo& snp = o.data->snps[r.snp];
    const GeneInfo &g1 = o.data->genes[r.gene1], &g2 = o.data->genes[r.gene2];
    for (const GeneInfo* g : {&g1, &g2}) {
      const auto d = distance_to_start(snp, *g);
      t += "\t" + (d ? std::to_string(*d) : std::string("NA"));
    }
    t += std::string("\t") +
         context_name(hit_context(snp, g1, g2, o.cis_window)) + "\t" + locus +
         "\n";
  }
  return t;
}

std::string summary_json(const RunSummary& s, const ReportOptions& o,
                         const std::vector<Hit>& hits, std::size_t it_hits,
                         std::uint64_t qualifying, const std::string& more) {
  std::ostringstream j;
  j << "{\n  \"format\": \"zirk-report 1\",\n  \"inputs\": {\"threshold\": "
    << json_quote(s.threshold_line)
    << ", \"data\": " << (o.data ? json_quote(o.data->dir) : "null")
    << ", \"rows\": " << s.rows << "},\n";
  j << "  \"rows_per_flag\": {\"0\": " << s.flag_rows[0]
    << ", \"1\": " << s.flag_rows[1] << ", \"2\": " << s.flag_rows[2] << "},\n";
  j << "  \"family_size\": " << s.rows << ",\n";
  j << "  \"it_undefined_rows\": " << s.it_nan << ",\n";
  j << "  \"mc_p_zero_rows\": " << s.mc_neg_inf << ",\n";
  j << "  \"selection\": ";
  if (o.top > 0) {
    j << "{\"by\": \"top\", \"top\": " << o.top << "}";
  } else {
    j << "{\"by\": \"" << (o.nulls.empty() ? "bh_q" : "empirical_fdr")
      << "\", \"fdr\": " << num(o.fdr) << "}";
  }
  j << ",\n  \"hits\": " << it_hits
    << ",\n  \"hits_qualifying\": " << qualifying << ",\n";
  // The context of the listed hits of every family.
  std::uint64_t by_context[3] = {0, 0, 0};
  for (const Hit& h : hits) {
    const Context c =
        o.data == nullptr
            ? Context::kUnknown
            : hit_context(o.data->snps[h.row.snp], o.data->genes[h.row.gene1],
                          o.data->genes[h.row.gene2], o.cis_window);
    ++by_context[static_cast<int>(c)];
  }
  j << "  \"hit_context\": {\"window\": " << o.cis_window
    << ", \"cis\": " << by_context[0] << ", \"trans\": " << by_context[1]
    << ", \"unknown\": " << by_context[2] << "},\n";
  const Lambda l = mc_lambda(s);
  j << "  \"lambda_mc\": {\"value\": " << num(l.value)
    << ", \"rows\": " << l.rows << ", \"excluded_fixed_p_1\": " << l.fixed_one
    << ", \"excluded_fixed_p_2\": " << l.fixed_two
    << ", \"excluded_undefined\": " << l.undefined << "},\n";
  j << "  \"passed_mc_rows_at_small_class_snps\": ";
  if (o.data == nullptr) {
    j << "null";
  } else {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < s.snps.size(); ++i) {
      if (o.data->snps[i].small_class()) n += s.snps[i].passed_mc;
    }
    j << n;
  }
  std::uint64_t snps = 0;
  for (const SnpStat& st : s.snps) snps += st.best_it != SnpStat::kUnseen;
  j << ",\n  \"snps_with_rows\": " << snps;
  if (!o.nulls.empty()) {
    j << ",\n  \"permutations\": {\"runs\": " << o.nulls.size()
      << ", \"lambda_mc\": [";
    for (std::size_t k = 0; k < o.nulls.size(); ++k) {
      j << (k ? ", " : "") << num(mc_lambda(o.nulls[k]).value);
    }
    j << "], \"best_row_permutation_p\": "
      << num(run_permutation_p(it_family(s), null_families(o))) << "}";
  }
  j << more << "\n}\n";
  return j.str();
}

// Each correlation family's size, rows without a value and with p = 0,
// hits, and with permuted runs the best row's permutation p-value; and
// whether the hits were diagnosed.
std::string corr_json(const ReportOptions& o, const std::size_t hits[2],
                      const std::uint64_t qualifying[2], bool diagnosed) {
  std::ostringstream j;
  j << ",\n  \"diagnosis\": " << (diagnosed ? "true" : "false");
  if (o.corr == nullptr) return j.str();
  j << ",\n  \"families\": {";
  for (int f = 0; f < 2; ++f) {
    const CorrFamily& fam = o.corr->families[f];
    j << (f ? ", " : "") << "\"" << kCorrFamilyNames[f]
      << "\": {\"family_size\": " << o.corr->rows
      << ", \"undefined_rows\": " << fam.na
      << ", \"p_zero_rows\": " << fam.neg_inf << ", \"hits\": " << hits[f]
      << ", \"hits_qualifying\": " << qualifying[f];
    if (!o.corr_nulls.empty()) {
      std::vector<Bins> nulls;
      for (const CorrSummary& n : o.corr_nulls) {
        nulls.push_back(family_bins(n.families[f].values,
                                    n.families[f].neg_inf, n.rows));
      }
      j << ", \"permuted_runs\": " << nulls.size()
        << ", \"best_row_permutation_p\": "
        << num(run_permutation_p(
               family_bins(fam.values, fam.neg_inf, o.corr->rows), nulls));
    }
    j << "}";
  }
  j << "}";
  return j.str();
}

// The QQ plot data of the defined values of each correlation family.
std::string corr_qq_json(const ReportOptions& o) {
  if (o.corr == nullptr) return "";
  std::string t;
  for (int f = 0; f < 2; ++f) {
    const auto defined = [f](const CorrSummary& c) {
      const CorrFamily& fam = c.families[f];
      Bins b;
      if (fam.neg_inf > 0) b.emplace_back(kNegInfKey, fam.neg_inf);
      for (const auto& bin : fam.values.bins()) b.push_back(bin);
      return b;
    };
    std::vector<Bins> nulls;
    for (const CorrSummary& n : o.corr_nulls) nulls.push_back(defined(n));
    t += std::string(",\n\"qq_") + kCorrFamilyNames[f] +
         "\": " + qq_set_json(defined(*o.corr), nulls);
  }
  return t;
}

// The loci of each family and the figures drawn, or null when the hits
// could not be clumped (no data folder with its values).
std::string loci_json(const ReportOptions& o, const std::vector<Hit>& hits,
                      const std::vector<Locus>* loci) {
  if (loci == nullptr) return ",\n  \"loci\": null";
  std::vector<std::string> families = {"it"};
  if (o.corr != nullptr) {
    for (const char* f : kCorrFamilyNames) families.push_back(f);
  }
  std::ostringstream j;
  j << ",\n  \"loci\": {\"clump_kb\": " << o.clump_kb
    << ", \"clump_r2\": " << num(o.clump_r2) << ", \"families\": {";
  std::uint64_t drawn = 0;
  for (std::size_t f = 0; f < families.size(); ++f) {
    const auto n = static_cast<std::uint64_t>(
        std::count_if(loci->begin(), loci->end(), [&](const Locus& l) {
          return families[f] == hits[l.lead()].family;
        }));
    drawn += std::min(n, o.plots);
    j << (f ? ", " : "") << json_quote(families[f]) << ": " << n;
  }
  j << "}, \"figures\": " << drawn << "}";
  return j.str();
}

}  // namespace

std::vector<Hit> select_hits(const RunSummary& real, const ReportOptions& o,
                             std::uint64_t* qualifying) {
  const Bins family = it_family(real);
  const std::vector<Bins> nulls = null_families(o);
  const FamilySelection sel = select_family(family, nulls, o.fdr);
  const std::vector<double>& q = sel.q;
  const std::vector<double>& efdr = sel.efdr;
  const std::vector<CandidateRow> candidates = real.sorted_candidates();
  const std::uint64_t it_rows = real.it.total() + real.it_neg_inf;

  std::uint64_t wanted = 0;
  if (o.top > 0) {
    wanted = std::min(o.top, it_rows);
    if (wanted > real.exact_candidates()) {
      throw ReportError("--top " + std::to_string(o.top) +
                        " asks for more rows than the " +
                        std::to_string(real.exact_candidates()) +
                        " candidates kept; raise --max-hits");
    }
  } else if (sel.any) {
    wanted = real.it_neg_inf;
    real.it.visit([&](std::int64_t key, std::uint64_t count) {
      if (key > sel.cutoff) return false;
      wanted += count;
      return true;
    });
  }
  if (qualifying != nullptr) *qualifying = wanted;
  // A genome-wide run must not fail at its last step for having found too
  // much: the strongest --max-hits rows are listed and the caller says so.
  if (o.top == 0 && wanted > o.max_hits) wanted = o.max_hits;
  if (o.top == 0 && wanted > real.exact_candidates()) {
    throw ReportError(std::to_string(wanted) +
        " rows are to be listed, but the summaries kept only the best " +
        std::to_string(real.exact_candidates()) +
        "; summarise the shards with --max-hits " + std::to_string(wanted) +
        " or more");
  }
  std::vector<Hit> hits;
  for (std::uint64_t i = 0; i < wanted; ++i) {
    const CandidateRow& r = candidates[i];
    Hit h{r,  value_at(family, q, r.it_key), std::nan(""), std::nan(""),
          "it", r.it, {}};
    if (!o.nulls.empty()) {
      h.efdr = value_at(family, efdr, r.it_key);
      std::vector<std::int32_t> best;
      for (const RunSummary& n : o.nulls) {
        best.push_back(r.snp < n.snps.size() ? n.snps[r.snp].best_it
                                             : SnpStat::kUnseen);
      }
      h.snp_p = snp_permutation_p(real.snps[r.snp].best_it, best);
    }
    hits.push_back(std::move(h));
  }
  return hits;
}

void write_report(const RunSummary& real, const ReportOptions& o) {
  for (const RunSummary& n : o.nulls) {
    if (n.threshold_line != real.threshold_line || n.rows != real.rows) {
      throw ReportError(
          "--null: a permuted run must have the threshold and the "
          "number of rows of the real run");
    }
  }
  if (o.data != nullptr) {
    for (const CandidateRow& r : real.sorted_candidates()) {
      if (r.gene2 >= o.data->genes.size()) {
        throw ReportError("gene index " + std::to_string(r.gene2) +
                          " beyond the " +
                          std::to_string(o.data->genes.size()) + " genes of " +
                          o.data->dir + "/" + zirk_formats::kGeneTableName);
      }
    }
  }
  std::uint64_t qualifying = 0;
  std::vector<Hit> hits = select_hits(real, o, &qualifying);
  const std::size_t it_hits = hits.size();
  std::size_t corr_hits[2] = {0, 0};
  std::uint64_t corr_qualifying[2] = {0, 0};
  if (o.corr != nullptr) {
    for (const CorrSummary& n : o.corr_nulls) {
      if (n.rows != o.corr->rows) {
        throw ReportError(
            "--null: a permuted run of zirk-corr must have the number "
            "of rows of the real run");
      }
    }
    for (const CorrFamilyId f : {kTrend, kHet}) {
      std::vector<Hit> more = select_corr_hits(*o.corr, f, o, &corr_qualifying[f]);
      corr_hits[f] = more.size();
      for (Hit& h : more) hits.push_back(std::move(h));
    }
  }
  // The diagnosis reads the data folder's values, for the hits only.
  std::optional<DataValues> values;
  if (o.data != nullptr) {
    for (const Hit& h : hits) {
      if (h.row.gene2 >= o.data->genes.size()) {
        throw ReportError("gene index " + std::to_string(h.row.gene2) +
                          " beyond the " +
                          std::to_string(o.data->genes.size()) + " genes of " +
                          o.data->dir + "/genes.tsv");
      }
    }
    if (DataValues::any_present(o.data->dir)) {
      std::set<std::uint64_t> snps;
      std::set<std::uint32_t> genes;
      for (const Hit& h : hits) {
        snps.insert(h.row.snp);
        genes.insert(h.row.gene1);
        genes.insert(h.row.gene2);
      }
      values.emplace(o.data->dir, snps, genes);
    }
  }

  // Loci need the SNPs' genotypes; without them none are formed, and
  // summary.json says so.
  std::optional<std::vector<Locus>> loci;
  std::vector<std::size_t> locus_of(hits.size());
  if (values) {
    ClumpOptions clumping;
    clumping.window_bp =
        o.clump_kb > std::numeric_limits<std::uint64_t>::max() / 1000
            ? std::numeric_limits<std::uint64_t>::max()
            : o.clump_kb * 1000;
    clumping.min_r2 = o.clump_r2;
    loci = clump(hits, *o.data, *values, clumping);
    for (std::size_t l = 0; l < loci->size(); ++l) {
      for (const std::size_t m : (*loci)[l].members) locus_of[m] = l + 1;
    }
  }

  std::string out = o.out_dir;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  const fs::path final_dir(out);
  std::error_code ec;
  // Only an earlier report is replaced, never a folder of other files.
  if (fs::exists(final_dir) && !(fs::is_directory(final_dir) &&
                                 (fs::is_empty(final_dir, ec) ||
                                  fs::exists(final_dir / "provenance.json")))) {
    throw ReportError(
        out + ": exists and is not a zirk-report folder; not replacing it");
  }
  std::optional<zirk_formats::OutputFolder> folder;
  try {
    if (final_dir.has_parent_path()) {
      fs::create_directories(final_dir.parent_path());
    }
    folder.emplace(out, true);
  } catch (const std::exception&) {
    throw ReportError(out + ": cannot create the report folder");
  }
  const fs::path tmp(folder->path());
  try {
    const std::string hits_text = hits_tsv(
        hits, o, values ? &*values : nullptr, loci ? &locus_of : nullptr);
    write_file(tmp / "hits.tsv", hits_text);
    if (loci) {
      write_file(tmp / "loci.tsv", loci_tsv(hits_text, hits, *loci, *o.data));
    }
    write_file(tmp / "summary.json",
               summary_json(real, o, hits, it_hits, qualifying,
                            corr_json(o, corr_hits, corr_qualifying,
                                      values.has_value()) +
                                loci_json(o, hits, loci ? &*loci : nullptr)));
    std::vector<Bins> null_mc, null_it;
    for (const RunSummary& n : o.nulls) {
      null_mc.push_back(mc_lambda_bins(n));
      null_it.push_back(it_defined(n));
    }
    write_file(tmp / "plot-data.json",
               "{\"qq_mc\": " + qq_set_json(mc_lambda_bins(real), null_mc) +
                   ",\n\"qq_it\": " + qq_set_json(it_defined(real), null_it) +
                   corr_qq_json(o) +
                   ",\n\"manhattan\": " + manhattan_json(it_best(real), o.data) +
                   corr_manhattan_json(o) + ",\n\"loci\": " +
                   (loci ? locus_figures_json(hits, *loci, *o.data, *values,
                                              o.plots)
                         : std::string("[]")) +
                   "}\n");
    run_script(o, tmp);
    fs::remove(tmp / "plot-data.json");
    write_file(tmp / "provenance.json", o.provenance_json);
    folder->commit();
    if (qualifying > it_hits && o.top == 0) {
      std::fprintf(stderr,
                   "Warning: %llu rows qualify as hits; the report lists the "
                   "strongest %zu (--max-hits)\n",
                   static_cast<unsigned long long>(qualifying), it_hits);
    }
    for (const CorrFamilyId f : {kTrend, kHet}) {
      if (corr_qualifying[f] > corr_hits[f] && o.top == 0) {
        std::fprintf(stderr,
                     "Warning: %llu %s rows qualify as hits; the report lists "
                     "the strongest %zu (--max-hits)\n",
                     static_cast<unsigned long long>(corr_qualifying[f]),
                     kCorrFamilyNames[f], corr_hits[f]);
      }
    }
  } catch (const fs::filesystem_error& e) {
    throw ReportError(out + ": cannot write the report (" +
                      e.code().message() + ")");
  } catch (const ReportError&) {
    throw;
  } catch (const zirk_formats::Failure& e) {
    throw ReportError(out + ": cannot write the report (" + e.what() + ")");
  }
}

}  // namespace zirk_report
