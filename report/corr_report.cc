#include "corr_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "family_stats.h"
#include "hit_diagnosis.h"
#include "report_error.h"

namespace zirk_report {

namespace {

// A value as zirk-corr prints it: "%.6f", "-inf", or NA for NaN.
std::string fixed6(double v) {
  if (std::isnan(v)) return "NA";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

// The family value that made the hit, as a number.
double hit_value(const Hit& h) {
  if (h.value == "-inf") return -std::numeric_limits<double>::infinity();
  return std::strtod(h.value.c_str(), nullptr);
}

std::vector<std::string> split_tabs(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = text.find('\t', start);
    out.push_back(text.substr(start, tab - start));
    if (tab == std::string::npos) return out;
    start = tab + 1;
  }
}

}  // namespace

std::vector<Hit> select_corr_hits(const CorrSummary& corr, CorrFamilyId id,
                                  const ReportOptions& o,
                                  std::uint64_t* qualifying) {
  const CorrFamily& real = corr.families[id];
  const Bins family = family_bins(real.values, real.neg_inf, corr.rows);
  std::vector<Bins> nulls;
  for (const CorrSummary& n : o.corr_nulls) {
    const CorrFamily& f = n.families[id];
    nulls.push_back(family_bins(f.values, f.neg_inf, n.rows));
  }
  const FamilySelection sel = select_family(family, nulls, o.fdr);
  const std::vector<CorrRow> candidates = real.sorted_candidates();
  const std::string name = kCorrFamilyNames[id];

  std::uint64_t wanted = 0;
  if (o.top > 0) {
    wanted = std::min(o.top, real.values.total() + real.neg_inf);
    if (wanted > 0 && (candidates.size() < wanted ||
                       candidates[wanted - 1].key >= real.complete_below())) {
      throw ReportError("--top " + std::to_string(o.top) + " asks for more " +
                        name + " rows than the " +
                        std::to_string(real.max_candidates()) +
                        " candidates kept; raise --max-hits");
    }
  } else if (sel.any) {
    wanted = real.neg_inf;
    real.values.visit([&](std::int64_t key, std::uint64_t count) {
      if (key > sel.cutoff) return false;
      wanted += count;
      return true;
    });
  }
  if (qualifying != nullptr) *qualifying = wanted;
  // As for the IT: too many qualifying rows list the strongest --max-hits.
  // The first `wanted` candidates are those rows when the last of them lies
  // below every row a summary dropped.
  if (o.top == 0 && wanted > o.max_hits) wanted = o.max_hits;
  if (o.top == 0 && wanted > 0 &&
      (candidates.size() < wanted ||
       candidates[wanted - 1].key >= real.complete_below())) {
    throw ReportError(std::to_string(wanted) + " " + name +
                      " rows are to be listed, but the summaries kept only "
                      "the best " +
                      std::to_string(candidates.size()) +
                      "; summarise the shards with --max-hits " +
                      std::to_string(wanted) + " or more");
  }
  std::vector<Hit> hits;
  for (std::uint64_t i = 0; i < wanted; ++i) {
    const CorrRow& r = candidates[i];
    const std::string columns(r.columns);
    Hit h{CandidateRow{r.key, r.snp, r.gene1, r.gene2, {}, {}, {}},
          value_at(family, sel.q, r.key),
          std::nan(""),
          std::nan(""),
          kCorrFamilyNames[id],
          split_tabs(columns)[6 + id],
          columns};
    if (!nulls.empty()) {
      h.efdr = value_at(family, sel.efdr, r.key);
      std::vector<std::int32_t> best;
      for (const CorrSummary& n : o.corr_nulls) {
        const auto& b = n.families[id].snp_best;
        best.push_back(r.snp < b.size() ? b[r.snp] : SnpStat::kUnseen);
      }
      h.snp_p = snp_permutation_p(real.snp_best[r.snp], best);
    }
    hits.push_back(std::move(h));
  }
  return hits;
}

std::string diagnosis_columns(const Hit& h, const DataValues* values) {
  std::string t;
  if (!h.corr_columns.empty()) {
    // n0 n1 n2 r0 r1 r2 log10_p_trend log10_p_het
    const std::vector<std::string> c = split_tabs(h.corr_columns);
    t = "\t" + c[6] + "\t" + c[7] + "\t" + c[3] + "\t" + c[4] + "\t" + c[5];
  }
  if (values == nullptr) {
    if (h.corr_columns.empty()) t += "\tNA\tNA\tNA\tNA\tNA";
    return t + "\tNA\tNA\tNA\tNA\tNA";
  }
  const Diagnosis d = diagnose(*values, h.row.snp, h.row.gene1, h.row.gene2);
  if (h.corr_columns.empty()) {
    t +=
        "\t" + fixed6(d.pair.log10_p_trend) + "\t" + fixed6(d.pair.log10_p_het);
    for (int k = 0; k < 3; ++k) {
      t += "\t" + (d.pair.usable[k] ? fixed6(d.pair.r[k]) : "NA");
    }
  }
  for (int g = 0; g < 2; ++g) {
    t += "\t" + fixed6(d.mean[g]) + "\t" + fixed6(d.variance[g]);
  }
  return t + "\t" + single_gene_stronger(d, hit_value(h));
}

}  // namespace zirk_report
