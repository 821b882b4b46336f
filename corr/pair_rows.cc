#include "pair_rows.h"

#include <cblas.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>

#include "class_correlation.h"
#include "row_format.h"
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

void panel_rows(const ClassRanks& ranks, std::size_t genes, std::size_t snp,
                std::size_t first, std::size_t last, PanelWork& work) {
  // gram[k](q, p), column-major with genes - first rows, is the correlation
  // of genes first + p and first + q in class k.
  const std::size_t rows = genes - first;
  const std::size_t columns = last - first;
  for (int k = 0; k < 3; ++k) {
    if (ranks.x[k].empty()) continue;
    work.gram[k].resize(rows * columns);
    const int size = ranks.n[k];
    const double* x = ranks.x[k].data() + first * size;
    cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, static_cast<int>(rows),
                static_cast<int>(columns), size, 1.0, x, size, x, size, 0.0,
                work.gram[k].data(), static_cast<int>(rows));
  }

  // Typical rows take about 70 characters; the buffer grows whenever less
  // than the longest possible row is left.
  std::size_t pairs = 0;
  for (std::size_t g1 = first; g1 < last; ++g1) pairs += genes - 1 - g1;
  work.text.resize(std::max(work.text.size(), pairs * 80 + kMaxRow));
  const std::size_t labelled = std::min(genes, kLabelledGenes);
  if (work.labelLength.size() < labelled) {
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
    end = std::to_chars(end, end + 11, ranks.n[k]).ptr;
    *end++ = '\t';
  }
  const std::size_t countsLength = static_cast<std::size_t>(end - counts);

  // One set of test constants per combination of usable classes.
  std::array<TrendHet, 8> tests;
  std::array<double, 3> limit{};
  for (int mask = 0; mask < 8; ++mask) {
    std::array<bool, 3> usable{};
    for (int k = 0; k < 3; ++k) usable[k] = (mask >> k & 1) != 0;
    tests[mask] = TrendHet(ranks.n, usable);
  }
  for (int k = 0; k < 3; ++k) {
    if (!ranks.x[k].empty()) limit[k] = fisher_limit(ranks.n[k]);
  }
  // Each gene's usable classes; a pair's are those both genes have.
  work.classes.resize(std::max(work.classes.size(), genes));
  for (std::size_t g = first; g < genes; ++g) {
    int bits = 0;
    for (int k = 0; k < 3; ++k) {
      if (!ranks.x[k].empty() && ranks.usable[k][g]) bits |= 1 << k;
    }
    work.classes[g] = static_cast<std::uint8_t>(bits);
  }
  // Pairs usable in all three classes, nearly all of them when the SNP has
  // the three, take the tests' vector loop; the others one by one.
  const TrendHet& allClasses = tests[7];
  const bool threeClasses =
      !ranks.x[0].empty() && !ranks.x[1].empty() && !ranks.x[2].empty();
  for (std::size_t g1 = first; g1 < last; ++g1) {
    const std::size_t p = g1 - first;
    // Pair i of g1 is (g1, g1 + 1 + i). Its tests come in vector loops over
    // all the pairs of g1, padded to whole vectors with zeros.
    const std::size_t partners = genes - 1 - g1;
    if (partners == 0) break;
    const std::size_t padded = padded_size(partners);
    // Where pair 0 of g1 sits in each class's Gram block.
    const std::size_t offset = p * rows + p + 1;
    for (std::vector<double>* v :
         {&work.z[0], &work.z[1], &work.z[2], &work.trend, &work.het}) {
      v->resize(std::max(v->size(), padded));
      std::fill(v->begin() + partners, v->begin() + padded, 0.0);
    }
    work.mask.resize(std::max(work.mask.size(), partners));
    for (int k = 0; k < 3; ++k) {
      if (ranks.x[k].empty()) continue;
      const double* column = work.gram[k].data() + offset;
      double* zk = work.z[k].data();
      for (std::size_t i = 0; i < partners; ++i) {
        zk[i] = std::clamp(column[i], -limit[k], limit[k]);
      }
      atanh_each(std::span<double>(zk, padded));
    }
    const std::uint8_t own = work.classes[g1];
    for (std::size_t i = 0; i < partners; ++i) {
      work.mask[i] = own & work.classes[g1 + 1 + i];
    }
    if (threeClasses) {
      allClasses.apply(work.z[0].data(), work.z[1].data(), work.z[2].data(),
                       padded, work.trend.data(), work.het.data());
    }
    for (std::size_t i = 0; i < partners; ++i) {
      const int mask = work.mask[i];
      if (mask == 7) continue;
      std::array<double, 3> z;
      for (int k = 0; k < 3; ++k) {
        z[k] = (mask >> k & 1) != 0 ? work.z[k][i] : 0.0;
      }
      work.trend[i] = tests[mask](z, &work.het[i]);
    }
    log10_erfc(std::span<double>(work.trend.data(), padded));

    char prefix[24] = {};
    char* prefixEnd = format_index(prefix, static_cast<unsigned>(snp));
    *prefixEnd++ = '\t';
    prefixEnd = format_index(prefixEnd, static_cast<unsigned>(g1));
    *prefixEnd++ = '\t';
    const std::size_t prefixLength =
        static_cast<std::size_t>(prefixEnd - prefix);
    for (std::size_t i = 0; i < partners; ++i) {
      if (static_cast<std::size_t>(work.text.data() + work.text.size() - out) <
          kMaxRow) {
        const std::size_t used =
            static_cast<std::size_t>(out - work.text.data());
        work.text.resize(2 * work.text.size());
        out = work.text.data() + used;
      }
      out = put_short(out, prefix, prefixLength);
      const std::size_t g2 = g1 + 1 + i;
      if (g2 < labelled) {
        std::memcpy(out, &work.labels[8 * g2], 8);
        out += work.labelLength[g2];
      } else {
        out = format_index(out, static_cast<unsigned>(g2));
        *out++ = '\t';
      }
      out = put_short(out, counts, countsLength);
      // The five values; `all` is std::true_type where the pair is usable in
      // all three classes, nearly every pair, and then they are numbers and
      // need no NA checks.
      const int mask = work.mask[i];
      const auto values = [&](auto all) {
        const auto write = [&](double value) {
          out = decltype(all)::value ? format_fixed6(out, value)
                                     : put_value(out, value);
        };
        for (int k = 0; k < 3; ++k) {
          // Rounding can carry a correlation of +-1 just past it.
          write(decltype(all)::value || (mask >> k & 1) != 0
                    ? std::min(std::max(work.gram[k][offset + i], -1.0), 1.0)
                    : kNaN);
          *out++ = '\t';
        }
        write(work.trend[i]);
        *out++ = '\t';
        write(work.het[i]);
      };
      if (mask == 7) {
        values(std::true_type());
      } else {
        values(std::false_type());
      }
      *out++ = '\n';
    }
  }
  work.length = static_cast<std::size_t>(out - work.text.data());
}

}  // namespace zirk_corr
