#include "locus_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>

#include "class_correlation.h"
#include "genome_context.h"
#include "json_writer.h"

namespace zirk_report {

namespace {

// The columns of the lead's hits.tsv row that loci.tsv repeats, when
// hits.tsv has them.
constexpr const char* kLeadColumns[] = {
    "family", "snp", "snp_id", "chrom", "pos", "gene1", "gene1_id", "gene2",
    "gene2_id", "log10_p_mc", "ll_lda", "log10_p_it", "log10_p_trend",
    "log10_p_het", "q_bh", "empirical_fdr", "snp_permutation_p"};

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(sep, start);
    out.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

// The least-squares line of y on x over one class's individuals with both
// values finite; empty with fewer than two such or without spread in x.
struct Line {
  double slope, intercept, x0, x1;
};
std::optional<Line> fit(const std::vector<double>& x,
                        const std::vector<double>& y,
                        const std::vector<int>& cls, int k) {
  double n = 0, mx = 0, my = 0, x0 = INFINITY, x1 = -INFINITY;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (cls[i] != k || !std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
    ++n;
    mx += x[i];
    my += y[i];
    x0 = std::min(x0, x[i]);
    x1 = std::max(x1, x[i]);
  }
  if (n < 2) return std::nullopt;
  mx /= n;
  my /= n;
  double sxy = 0, sxx = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (cls[i] != k || !std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
  }
  if (!(sxx > 0)) return std::nullopt;
  const double slope = sxy / sxx;
  return Line{slope, my - slope * mx, x0, x1};
}

// The pair's correlations within each stratum's classes, as zirk-corr
// takes them, and per class the value its rows report: the tanh of the
// usable cells' Fisher z weighted by n_sk - 3 (NaN where no cell is usable).
struct StratumCells {
  std::vector<zirk_corr::ClassCorrelation> cells;
  std::array<double, 3> pooled;
};
StratumCells stratum_cells(const std::vector<double>& x,
                           const std::vector<double>& y,
                           const std::vector<int>& cls,
                           const zirk_formats::Strata& strata) {
  StratumCells out;
  std::array<double, 3> weighted{}, weights{};
  for (std::uint32_t s = 0; s < strata.names.size(); ++s) {
    std::vector<double> xs, ys;
    std::vector<int> cs;
    for (std::size_t i = 0; i < cls.size(); ++i) {
      if (strata.group[i] != s) continue;
      xs.push_back(x[i]);
      ys.push_back(y[i]);
      cs.push_back(cls[i]);
    }
    out.cells.push_back(zirk_corr::class_correlation(xs, ys, cs));
    const zirk_corr::ClassCorrelation& c = out.cells.back();
    for (int k = 0; k < 3; ++k) {
      if (!c.usable[k]) continue;
      const double limit = zirk_corr::fisher_limit(c.n[k]);
      weighted[k] +=
          (c.n[k] - 3) * std::atanh(std::clamp(c.r[k], -limit, limit));
      weights[k] += c.n[k] - 3;
    }
  }
  for (int k = 0; k < 3; ++k) {
    out.pooled[k] = weights[k] > 0 ? std::tanh(weighted[k] / weights[k]) : NAN;
  }
  return out;
}

void correlation(zirk_formats::JsonWriter& j, bool usable, double r) {
  if (usable) {
    j.number(r);
  } else {
    j.null();
  }
}

}  // namespace

std::string loci_tsv(const std::string& hits_text, const std::vector<Hit>& hits,
                     const std::vector<Locus>& loci, const DataFolder& data) {
  const std::vector<std::string> lines = split(hits_text, '\n');
  const std::vector<std::string> header = split(lines[0], '\t');
  std::vector<std::size_t> columns;
  std::string t = "locus";
  for (const char* name : kLeadColumns) {
    const auto at = std::find(header.begin(), header.end(), name);
    if (at == header.end()) continue;
    columns.push_back(at - header.begin());
    t += std::string("\t") + name;
  }
  t += "\tsnps\tfirst_pos\tlast_pos\n";
  for (std::size_t l = 0; l < loci.size(); ++l) {
    const Locus& locus = loci[l];
    const std::vector<std::string> lead = split(lines[locus.lead() + 1], '\t');
    t += std::to_string(l + 1);
    for (const std::size_t c : columns) t += "\t" + lead[c];
    std::optional<std::int64_t> first, last;
    for (const std::size_t m : locus.members) {
      const auto p = table_position(data.snps[hits[m].row.snp].pos);
      if (!p) continue;
      first = first ? std::min(*first, *p) : *p;
      last = last ? std::max(*last, *p) : *p;
    }
    t += "\t" + std::to_string(locus.members.size()) + "\t" +
         (first ? std::to_string(*first) : "NA") + "\t" +
         (last ? std::to_string(*last) : "NA") + "\n";
  }
  return t;
}

std::string locus_figures_json(const std::vector<Hit>& hits,
                               const std::vector<Locus>& loci,
                               const DataFolder& data, const DataValues& values,
                               std::uint64_t per_family) {
  zirk_formats::JsonWriter j;
  j.begin_array();
  std::map<std::string, std::uint64_t> drawn;
  for (std::size_t l = 0; l < loci.size(); ++l) {
    const Hit& lead = hits[loci[l].lead()];
    if (drawn[lead.family]++ >= per_family) continue;
    const CandidateRow& r = lead.row;
    const SnpInfo& snp = data.snps[r.snp];
    const std::vector<int>& cls = values.classes(r.snp);
    const std::vector<double>& x = values.log_values(r.gene1);
    const std::vector<double>& y = values.log_values(r.gene2);
    const zirk_corr::ClassCorrelation cc =
        zirk_corr::class_correlation(x, y, cls);
    const zirk_formats::Strata* strata = values.strata();
    std::optional<StratumCells> cells;
    if (strata) cells = stratum_cells(x, y, cls, *strata);
    j.begin_object();
    j.key("locus");
    j.integer(static_cast<std::int64_t>(l + 1));
    j.key("family");
    j.string(lead.family);
    j.key("snp_id");
    j.string(snp.id);
    j.key("chrom");
    j.string(snp.chrom);
    j.key("pos");
    j.string(snp.pos);
    j.key("ref");
    j.string(snp.ref);
    j.key("alt");
    j.string(snp.alt);
    j.key("gene1_id");
    j.string(data.genes[r.gene1].id);
    j.key("gene2_id");
    j.string(data.genes[r.gene2].id);
    j.key("log10_p");
    j.string(lead.value);
    j.key("snps");
    j.integer(static_cast<std::int64_t>(loci[l].members.size()));
    j.key("classes");
    j.begin_array();
    for (int k = 0; k < 3; ++k) {
      j.begin_object();
      j.key("n");
      j.integer(cc.n[k]);
      j.key("r");
      if (cells) {
        correlation(j, !std::isnan(cells->pooled[k]), cells->pooled[k]);
      } else {
        correlation(j, cc.usable[k], cc.r[k]);
      }
      j.key("line");
      if (const auto line = fit(x, y, cls, k)) {
        j.begin_array();
        for (const double v : {line->x0, line->x1}) j.number(v);
        for (const double v : {line->x0, line->x1}) {
          j.number(line->intercept + line->slope * v);
        }
        j.end_array();
      } else {
        j.null();
      }
      j.end_object();
    }
    j.end_array();
    if (cells) {
      j.key("strata");
      j.begin_array();
      for (std::size_t s = 0; s < strata->names.size(); ++s) {
        const zirk_corr::ClassCorrelation& c = cells->cells[s];
        j.begin_object();
        j.key("name");
        j.string(strata->names[s]);
        j.key("n");
        j.integer_row(std::vector<std::size_t>(c.n.begin(), c.n.end()));
        j.key("r");
        j.begin_array();
        for (int k = 0; k < 3; ++k) correlation(j, c.usable[k], c.r[k]);
        j.end_array();
        j.end_object();
      }
      j.end_array();
      j.key("stratum");
      j.integer_row(
          std::vector<std::size_t>(strata->group.begin(), strata->group.end()));
    }
    j.key("class");
    j.integer_row(std::vector<std::size_t>(cls.begin(), cls.end()));
    for (const auto& [name, v] : {std::pair{"x", &x}, std::pair{"y", &y}}) {
      j.key(name);
      j.begin_array();
      for (const double value : *v) j.number(value);
      j.end_array();
    }
    j.end_object();
  }
  j.end_array();
  return j.text();
}

}  // namespace zirk_report
