#include "pair_rows.h"

#include <cblas.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>

#include "class_correlation.h"
#include "row_format.h"
#include "stratified_tests.h"
#include "summary_key.h"
#include "vector_math.h"

namespace zirk_corr {
namespace {

// Three indices of up to 10 digits, three counts of up to 10, three r's of
// at most 9 characters, two log10 p-values of at most 317 ("%f" of -DBL_MAX)
// and eleven separators.
constexpr std::size_t kMaxRow = 6 * 10 + 3 * 9 + 2 * 317 + 11;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Genes whose index and tab fit in eight bytes.
constexpr std::size_t kLabelledGenes = 10000000;

char* put(char* out, const char* text, std::size_t length) {
  std::memcpy(out, text, length);
  return out + length;
}

// put() for the texts every row of a first gene repeats, which `text` holds
// in at least 16 bytes: one fixed 16-byte copy for the usual short ones
// instead of a call to memcpy.
char* put_short(char* out, const char* text, std::size_t length) {
  if (length > 16) return put(out, text, length);
  std::memcpy(out, text, 16);
  return out + length;
}

char* put_value(char* out, double value) {
  if (std::isnan(value)) return put(out, "NA", 2);
  return format_fixed6(out, value);
}

}  // namespace

void flush_counts(PanelWork& work) {
  if (!work.summary) return;
  for (int f = 0; f < 2; ++f) {
    work.counts[f].flush(work.summary->families[f].values);
  }
}

void anchor_block(std::span<const ClassRanks> strata, std::size_t genes,
                  std::span<const std::uint32_t> anchors, AnchorBlock& block) {
  block.anchors.assign(anchors.begin(), anchors.end());
  block.column.assign(genes, -1);
  for (std::size_t j = 0; j < anchors.size(); ++j) {
    block.column[anchors[j]] = static_cast<std::int32_t>(j);
  }
  const std::size_t count = anchors.size();
  block.gram.resize(3 * strata.size());
  for (std::size_t cell = 0; cell < 3 * strata.size(); ++cell) {
    const ClassRanks& ranks = strata[cell / 3];
    const int k = static_cast<int>(cell % 3);
    if (ranks.x[k].empty() || count == 0) continue;
    const std::size_t size = static_cast<std::size_t>(ranks.n[k]);
    const double* x = ranks.x[k].data();
    block.gathered.resize(size * count);
    for (std::size_t j = 0; j < count; ++j) {
      std::copy_n(x + anchors[j] * size, size, &block.gathered[j * size]);
    }
    block.gram[cell].resize(genes * count);
    cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans,
                static_cast<int>(genes), static_cast<int>(count),
                static_cast<int>(size), 1.0, x, static_cast<int>(size),
                block.gathered.data(), static_cast<int>(size), 0.0,
                block.gram[cell].data(), static_cast<int>(genes));
  }
}

namespace {

// panel_rows of either kind: `stratified` null without strata, when
// `strata` holds the SNP's one set of class ranks.
void rows_of_panel(std::span<const ClassRanks> strata,
                   const StratifiedTests* stratified,
                   std::span<const PairVariance> variance, std::size_t genes,
                   std::size_t snp, std::span<const std::size_t> locals,
                   std::size_t first, std::size_t last,
                   const AnchorBlock* design, const PairOutput& output,
                   PanelWork& work) {
  assert(variance.empty() || variance.size() == strata.size());
  const std::size_t cells = 3 * strata.size();
  const auto x_of = [&](std::size_t cell) -> const std::vector<double>& {
    return strata[cell / 3].x[cell % 3];
  };
  const auto n_of = [&](std::size_t cell) {
    return strata[cell / 3].n[cell % 3];
  };
  for (auto* v : {&work.gram, &work.r, &work.z}) {
    if (v->size() < cells) v->resize(cells);
  }
  // All pairs: gram[cell](q, p), column-major with genes - first rows, is
  // the correlation of genes first + p and first + q in the cell.
  const std::size_t rows = genes - first;
  const std::size_t columns = last - first;
  for (std::size_t cell = 0; cell < cells && design == nullptr; ++cell) {
    if (x_of(cell).empty()) continue;
    work.gram[cell].resize(rows * columns);
    const int size = n_of(cell);
    const double* x = x_of(cell).data() + first * size;
    cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, static_cast<int>(rows),
                static_cast<int>(columns), size, 1.0, x, size, x, size, 0.0,
                work.gram[cell].data(), static_cast<int>(rows));
  }
  // A first gene's anchors after it, under a design: those that pair with it
  // when it is no anchor itself.
  const auto later_anchors = [design](std::size_t g1) {
    const auto& a = design->anchors;
    return static_cast<std::size_t>(a.end() -
                                    std::upper_bound(a.begin(), a.end(), g1));
  };
  const auto partners_of = [&](std::size_t g1) {
    return design == nullptr || design->column[g1] >= 0 ? genes - 1 - g1
                                                        : later_anchors(g1);
  };

  // Typical rows take about 70 characters; the buffer grows whenever less
  // than the longest possible row is left.
  std::size_t pairs = 0;
  for (std::size_t g1 = first; g1 < last; ++g1) pairs += partners_of(g1);
  if (output.rows) {
    work.text.resize(std::max(work.text.size(), pairs * 80 + kMaxRow));
  }
  const std::size_t labelled = std::min(genes, kLabelledGenes);
  if (output.rows && work.labelLength.size() < labelled) {
    work.labels.assign(8 * labelled, '\0');
    work.labelLength.resize(labelled);
    for (std::size_t g = 0; g < labelled; ++g) {
      char* label = &work.labels[8 * g];
      char* end = format_index(label, static_cast<unsigned>(g));
      *end++ = '\t';
      work.labelLength[g] = static_cast<std::uint8_t>(end - label);
    }
  }
  char* out = work.text.data();
  // "n0\tn1\tn2\t" is the same on every row of the SNP.
  char counts[40] = {};
  char* end = counts;
  for (int k = 0; k < 3; ++k) {
    int total = 0;
    for (const ClassRanks& ranks : strata) total += ranks.n[k];
    end = std::to_chars(end, end + 11, total).ptr;
    *end++ = '\t';
  }
  const std::size_t countsLength = static_cast<std::size_t>(end - counts);

  // Without strata, one set of test constants per combination of usable
  // classes.
  const ClassRanks& ranks = strata[0];
  std::array<TrendHet, 8> tests;
  if (stratified == nullptr) {
    for (int mask = 0; mask < 8; ++mask) {
      std::array<bool, 3> usable{};
      for (int k = 0; k < 3; ++k) usable[k] = (mask >> k & 1) != 0;
      tests[mask] = TrendHet(ranks.n, usable);
    }
  }
  std::vector<double> limit(cells);
  for (std::size_t cell = 0; cell < cells; ++cell) {
    if (!x_of(cell).empty()) limit[cell] = fisher_limit(n_of(cell));
  }
  // Each gene's usable classes in each stratum; a pair's are those both
  // genes have.
  work.classes.resize(std::max(work.classes.size(), strata.size() * genes));
  for (std::size_t s = 0; s < strata.size(); ++s) {
    for (std::size_t g = first; g < genes; ++g) {
      int bits = 0;
      for (int k = 0; k < 3; ++k) {
        if (!strata[s].x[k].empty() && strata[s].usable[k][g]) bits |= 1 << k;
      }
      work.classes[s * genes + g] = static_cast<std::uint8_t>(bits);
    }
  }
  // Pairs usable in every class the SNP has, nearly all of them when it has
  // two or three, take the tests' vector loop; the others one by one.
  int snpClasses = 0;
  for (int k = 0; k < 3; ++k) {
    if (!ranks.x[k].empty()) snpClasses |= 1 << k;
  }
  const TrendHet& allClasses = tests[snpClasses];
  // Without strata, the last gene not usable in every class the SNP has
  // (`first` where there is none): the pairs of a first gene at or after it
  // are all usable in every class when the first gene is.
  std::size_t lastPartial = first;
  if (stratified == nullptr) {
    for (std::size_t g = first; g < genes; ++g) {
      if (work.classes[g] != snpClasses) lastPartial = g;
    }
  }
  const bool vectorTests =
      stratified == nullptr &&
      std::popcount(static_cast<unsigned>(snpClasses)) >= 2;
  // With strata: each stratum's z, usable classes and cap of one pair.
  std::vector<std::array<double, 3>> cellZ(strata.size());
  std::vector<std::uint8_t> cellMask(strata.size());
  std::vector<float> cellCap(variance.size());
  if (work.cap.size() < variance.size()) work.cap.resize(variance.size());
  // cellR[cell][i]: pair i's correlation in the cell.
  std::vector<const double*> cellR(cells);
  const bool keyed =
      output.summary ||
      output.max_p_key != std::numeric_limits<std::int64_t>::max();
  // A candidate's columns, n0 to log10_p_het.
  char candidate[kMaxRow + 32];
  for (std::size_t g1 = first; g1 < last; ++g1) {
    // Pair i of g1 is (g1, partner[i]); r[k][i] its correlation in class k.
    // Its tests come in vector loops over all the pairs of g1, padded to
    // whole vectors with zeros.
    const std::size_t partners = partners_of(g1);
    if (partners == 0) continue;
    const std::size_t padded = padded_size(partners);
    work.partner.resize(std::max(work.partner.size(), partners));
    std::fill(cellR.begin(), cellR.end(), nullptr);
    if (design == nullptr || design->column[g1] >= 0) {
      for (std::size_t i = 0; i < partners; ++i) {
        work.partner[i] = static_cast<std::uint32_t>(g1 + 1 + i);
      }
      for (std::size_t cell = 0; cell < cells; ++cell) {
        if (x_of(cell).empty()) continue;
        const std::size_t p = g1 - first;
        cellR[cell] =
            design == nullptr
                ? work.gram[cell].data() + p * rows + p + 1
                : design->gram[cell].data() +
                      static_cast<std::size_t>(design->column[g1]) * genes +
                      g1 + 1;
      }
    } else {
      const std::size_t from = design->anchors.size() - partners;
      std::copy_n(design->anchors.begin() + static_cast<std::ptrdiff_t>(from),
                  partners, work.partner.begin());
      for (std::size_t cell = 0; cell < cells; ++cell) {
        if (x_of(cell).empty()) continue;
        work.r[cell].resize(std::max(work.r[cell].size(), partners));
        for (std::size_t i = 0; i < partners; ++i) {
          work.r[cell][i] = design->gram[cell][(from + i) * genes + g1];
        }
        cellR[cell] = work.r[cell].data();
      }
    }
    for (std::vector<double>* v : {&work.trend, &work.het}) {
      v->resize(std::max(v->size(), padded));
      std::fill(v->begin() + partners, v->begin() + padded, 0.0);
    }
    // clamped_atanh pads a cell's z with zeros; the z of a cell without
    // ranks is never read.
    for (std::size_t cell = 0; cell < cells; ++cell) {
      std::vector<double>& v = work.z[cell];
      v.resize(std::max(v.size(), padded));
    }
    work.mask.resize(std::max(work.mask.size(), partners));
    for (std::size_t s = 0; s < variance.size(); ++s) {
      std::vector<float>& cap = work.cap[s];
      cap.resize(std::max(cap.size(), padded));
      variance[s].gather(g1, std::span(work.partner.data(), partners),
                         cap.data());
      std::fill(cap.begin() + partners, cap.begin() + padded, kNoCap);
    }
    const float* cap0 = variance.empty() ? nullptr : work.cap[0].data();
    for (std::size_t cell = 0; cell < cells; ++cell) {
      if (x_of(cell).empty()) continue;
      double* zk = work.z[cell].data();
      clamped_atanh(std::span(cellR[cell], partners), limit[cell], zk);
    }
    // The rows' correlations: the cells' own without strata.
    std::array<const double*, 3> r{};
    if (stratified == nullptr) {
      for (int k = 0; k < 3; ++k) r[k] = cellR[k];
      const std::uint8_t own = work.classes[g1];
      // The pairs not usable in every class the SNP has: nearly always
      // none, and then the loop one by one is left out.
      std::size_t fewer = 0;
      if (design == nullptr && own == snpClasses && lastPartial <= g1) {
        std::fill_n(work.mask.begin(), partners,
                    static_cast<std::uint8_t>(snpClasses));
      } else {
        for (std::size_t i = 0; i < partners; ++i) {
          const auto mask =
              static_cast<std::uint8_t>(own & work.classes[work.partner[i]]);
          work.mask[i] = mask;
          fewer += mask != snpClasses;
        }
      }
      if (vectorTests) {
        allClasses.apply(work.z[0].data(), work.z[1].data(), work.z[2].data(),
                         cap0, padded, work.trend.data(), work.het.data());
      }
      // The vector loop writes the trend's log10 p-value, and so does the
      // loop one by one beside it.
      const bool oneByOne = !vectorTests || fewer > 0;
      for (std::size_t i = 0; i < partners && oneByOne; ++i) {
        const int mask = work.mask[i];
        if (vectorTests && mask == snpClasses) continue;
        std::array<double, 3> z;
        for (int k = 0; k < 3; ++k) {
          z[k] = (mask >> k & 1) != 0 ? work.z[k][i] : 0.0;
        }
        const double trend =
            tests[mask](z, &work.het[i], cap0 != nullptr ? cap0[i] : kNoCap);
        work.trend[i] = vectorTests ? log10_erfc(trend) : trend;
      }
    } else {
      for (int k = 0; k < 3; ++k) {
        work.pooled[k].resize(std::max(work.pooled[k].size(), partners));
        r[k] = work.pooled[k].data();
      }
      for (std::size_t i = 0; i < partners; ++i) {
        const std::size_t g2 = work.partner[i];
        std::array<double, 3> zSum{}, weights{};
        int bits = 0;
        for (std::size_t s = 0; s < strata.size(); ++s) {
          const int mask =
              work.classes[s * genes + g1] & work.classes[s * genes + g2];
          cellMask[s] = static_cast<std::uint8_t>(mask);
          bits |= mask;
          for (int k = 0; k < 3; ++k) {
            const bool usable = (mask >> k & 1) != 0;
            const double z = usable ? work.z[3 * s + k][i] : 0.0;
            cellZ[s][k] = z;
            if (usable) {
              const double w = strata[s].n[k] - 3.0;
              zSum[k] += w * z;
              weights[k] += w;
            }
          }
        }
        for (int k = 0; k < 3; ++k) {
          work.pooled[k][i] =
              (bits >> k & 1) != 0 ? std::tanh(zSum[k] / weights[k]) : kNaN;
        }
        for (std::size_t s = 0; s < variance.size(); ++s) {
          cellCap[s] = work.cap[s][i];
        }
        work.mask[i] = static_cast<std::uint8_t>(bits);
        work.trend[i] = (*stratified)(cellZ, cellMask, &work.het[i], cellCap);
      }
    }
    if (!vectorTests) log10_erfc(std::span<double>(work.trend.data(), padded));

    // Writes pair i's columns n0 to log10_p_het at `to` and returns their
    // end.
    const auto put_columns = [&](char* to, std::size_t i) {
      to = put_short(to, counts, countsLength);
      // The five values; `all` is std::true_type where the pair is usable in
      // all three classes, nearly every pair, and then they are numbers and
      // need no NA checks.
      const int mask = work.mask[i];
      const auto values = [&](auto all) {
        const auto write = [&](double value) {
          to = decltype(all)::value ? format_fixed6(to, value)
                                    : put_value(to, value);
        };
        for (int k = 0; k < 3; ++k) {
          // Rounding can carry a correlation of +-1 just past it.
          write(decltype(all)::value || (mask >> k & 1) != 0
                    ? std::min(std::max(r[k][i], -1.0), 1.0)
                    : kNaN);
          *to++ = '\t';
        }
        write(work.trend[i]);
        *to++ = '\t';
        write(work.het[i]);
      };
      // With strata, classes with a correlation may still leave the tests
      // without a contributing stratum.
      if (mask == 7 && !std::isnan(work.het[i])) {
        values(std::true_type());
      } else {
        values(std::false_type());
      }
      return to;
    };

    char prefix[24] = {};
    char* prefixEnd = format_index(prefix, static_cast<unsigned>(snp));
    *prefixEnd++ = '\t';
    prefixEnd = format_index(prefixEnd, static_cast<unsigned>(g1));
    *prefixEnd++ = '\t';
    const std::size_t prefixLength =
        static_cast<std::size_t>(prefixEnd - prefix);
    // Each family's keys, NaN (NA) above every threshold.
    const double* value[2] = {work.trend.data(), work.het.data()};
    if (keyed) {
      for (int f = 0; f < 2; ++f) {
        std::vector<std::int64_t>& keys = work.keys[f];
        keys.resize(std::max(keys.size(), partners));
        summary_keys(std::span(value[f], partners), keys.data());
      }
    }
    if (output.summary) {
      zirk_report::CorrSummary& summary = *work.summary;
      summary.rows += partners * locals.size();
      for (int f = 0; f < 2; ++f) {
        zirk_report::CorrFamily& family = summary.families[f];
        const std::int64_t* keys = work.keys[f].data();
        // NA's key and -inf's lie outside the histogram's and are skipped.
        work.counts[f].add_each(family.values, std::span(keys, partners),
                                locals.size());
        // Nearly every pair is counted and turned away from the candidates
        // by its key alone; only the others take add(). The bound only
        // falls as add() keeps rows, so a key above it at the start is
        // turned away whenever it came.
        std::int64_t admitted = family.admits_at_most();
        work.candidates.resize(std::max(work.candidates.size(), partners));
        const KeyScan scan = scan_keys(std::span(keys, partners), admitted,
                                       work.candidates.data());
        // The smallest key turned away: the SNPs' best unless add() saw a
        // smaller one, and the family's first dropped key.
        constexpr std::int64_t kNA = std::numeric_limits<std::int64_t>::max();
        std::int64_t turnedAway = scan.turned_away;
        for (std::size_t c = 0; c < scan.candidates; ++c) {
          const std::uint32_t i = work.candidates[c];
          const std::int64_t key = keys[i];
          if (key > admitted) {
            turnedAway = std::min(turnedAway, key);
            continue;
          }
          for (const std::size_t local : locals) {
            family.add(key, local, static_cast<std::uint32_t>(g1),
                       work.partner[i], [&] {
                         const char* stop = put_columns(candidate, i);
                         return std::pmr::string(
                             candidate,
                             static_cast<std::size_t>(stop - candidate),
                             zirk_report::corr_columns_pool());
                       });
          }
          admitted = family.admits_at_most();
        }
        for (const std::size_t local : locals) {
          if (scan.na > 0) {
            family.na += scan.na;
            family.best(local);
          }
          if (turnedAway != kNA) family.note_best(local, turnedAway);
        }
        if (turnedAway != kNA) family.note_dropped(turnedAway);
      }
    }
    for (std::size_t i = 0; i < partners && output.rows; ++i) {
      const std::size_t g2 = work.partner[i];
      if (keyed && work.keys[0][i] > output.max_p_key &&
          work.keys[1][i] > output.max_p_key) {
        continue;
      }
      if (static_cast<std::size_t>(work.text.data() + work.text.size() - out) <
          kMaxRow) {
        const std::size_t used =
            static_cast<std::size_t>(out - work.text.data());
        work.text.resize(2 * work.text.size());
        out = work.text.data() + used;
      }
      out = put_short(out, prefix, prefixLength);
      if (g2 < labelled) {
        std::memcpy(out, &work.labels[8 * g2], 8);
        out += work.labelLength[g2];
      } else {
        out = format_index(out, static_cast<unsigned>(g2));
        *out++ = '\t';
      }
      out = put_columns(out, i);
      *out++ = '\n';
    }
  }
  work.length = static_cast<std::size_t>(out - work.text.data());
}

}  // namespace

void panel_rows(const ClassRanks& ranks, const PairVariance* variance,
                std::size_t genes, std::size_t snp,
                std::span<const std::size_t> locals, std::size_t first,
                std::size_t last, const AnchorBlock* design,
                const PairOutput& output, PanelWork& work) {
  rows_of_panel(std::span<const ClassRanks>(&ranks, 1), nullptr,
                variance != nullptr ? std::span<const PairVariance>(variance, 1)
                                    : std::span<const PairVariance>(),
                genes, snp, locals, first, last, design, output, work);
}

void panel_rows(std::span<const ClassRanks> strata,
                const StratifiedTests& tests,
                std::span<const PairVariance> variance, std::size_t genes,
                std::size_t snp, std::span<const std::size_t> locals,
                std::size_t first, std::size_t last, const AnchorBlock* design,
                const PairOutput& output, PanelWork& work) {
  rows_of_panel(strata, &tests, variance, genes, snp, locals, first, last,
                design, output, work);
}

}  // namespace zirk_corr
