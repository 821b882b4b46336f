#include "options.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <string_view>

#include "strata_file.h"

namespace zirk_corr {

const char* usage_text() {
  return R"(Usage: zirk-corr (-g FILE -e FILE -a FILE | -d DIR) (-o FILE | -s FILE) [options]

Within-class Spearman correlations of every gene pair at every SNP, with a
1-df dosage-trend test and a heterogeneity test across the genotype classes.

  -g, --genotype FILE    genotypes, as zirk reads them
  -e, --expression FILE  expression values, one line per gene
  -a, --allele FILE      reference allele per SNP
  -d, --data DIR         a zirk-import folder: DIR/geno.txt, DIR/expr.txt
                         and DIR/allele.txt where -g, -e, -a are not given,
                         and the IDs and positions of DIR/snps.tsv and
                         DIR/genes.tsv for a design; DIR/strata.txt where
                         --strata is not given and the folder has one
  -o, --out FILE         the rows ('-': standard output)
  -s, --summary FILE     the summary of every pair tested, as zirk-report
                         --summary writes it from the rows ('-': standard
                         output)
  -p, --max-p P          write only the rows whose trend or het p-value is
                         at most P (0 < P <= 1); the summary has them all
      --max-hits N       candidate rows the summary keeps [100000]
      --snp-offset K     add K to every SNP index (a shard of the SNPs of
                         --data that starts at SNP K) [0]
  -w, --cis-window W     test at each SNP only the pairs with a gene whose
                         start lies within W bp of the SNP (needs --data)
  -A, --anchors FILE     test at each SNP only the pairs of the genes that
                         FILE's lines SNP_ID<TAB>GENE_ID pair it with (needs
                         --data)
  -S, --strata FILE      correlations within each stratum: FILE has one
                         group name per line, one line per individual of
                         the genotype file, in its order
  -m, --min-class-size K
                         leave each genotype class of fewer than K
                         individuals (of a stratum, with strata) out of a
                         SNP's correlations (K at least 4) [20]
  -V, --variance MODEL   the variance of each class's Fisher z: empirical
                         (the larger of Bonett and Wright's for a bivariate
                         normal and the pair's own over all individuals) or
                         normal (Bonett and Wright's alone) [empirical]
  -t, --threads N        worker threads [1]
  -h, --help             this text
)";
}

namespace {

std::uint64_t parse_whole(std::string_view arg, const char* option) {
  std::uint64_t v = 0;
  const auto r = std::from_chars(arg.data(), arg.data() + arg.size(), v);
  if (arg.empty() || r.ec != std::errc() || r.ptr != arg.data() + arg.size()) {
    throw CorrError(std::string(option) + ": '" + std::string(arg) +
                    "' is not a whole number");
  }
  return v;
}

// The largest printed log10 p-value, in millionths, of a p-value at most P.
std::int64_t max_p_key(std::string_view arg) {
  double p = 0.0;
  const auto r = std::from_chars(arg.data(), arg.data() + arg.size(), p);
  if (arg.empty() || r.ec != std::errc() || r.ptr != arg.data() + arg.size() ||
      !(p > 0.0 && p <= 1.0)) {
    throw CorrError("--max-p: '" + std::string(arg) +
                    "' is not a number above 0 and at most 1");
  }
  return static_cast<std::int64_t>(std::floor(std::log10(p) * 1e6));
}

}  // namespace

Options parse_options(int argc, char** argv) {
  enum { kMaxHits = 256, kSnpOffset };
  static const option kLong[] = {
      {"genotype", required_argument, nullptr, 'g'},
      {"expression", required_argument, nullptr, 'e'},
      {"allele", required_argument, nullptr, 'a'},
      {"data", required_argument, nullptr, 'd'},
      {"out", required_argument, nullptr, 'o'},
      {"summary", required_argument, nullptr, 's'},
      {"max-p", required_argument, nullptr, 'p'},
      {"max-hits", required_argument, nullptr, kMaxHits},
      {"snp-offset", required_argument, nullptr, kSnpOffset},
      {"cis-window", required_argument, nullptr, 'w'},
      {"anchors", required_argument, nullptr, 'A'},
      {"strata", required_argument, nullptr, 'S'},
      {"min-class-size", required_argument, nullptr, 'm'},
      {"variance", required_argument, nullptr, 'V'},
      {"threads", required_argument, nullptr, 't'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  Options o;
  opterr = 0;
  optind = 1;
  bool maxP = false;
  int c;
  while ((c = getopt_long(argc, argv, ":g:e:a:d:o:s:p:w:A:S:m:V:t:h", kLong,
                          nullptr)) != -1) {
    const std::string_view arg = optarg ? optarg : "";
    switch (c) {
      case 'g':
        o.genotype = arg;
        break;
      case 'e':
        o.expression = arg;
        break;
      case 'a':
        o.allele = arg;
        break;
      case 'd':
        o.data = arg;
        break;
      case 'o':
        o.out = arg;
        break;
      case 's':
        o.summary = arg;
        break;
      case 'p':
        o.max_p_key = max_p_key(arg);
        maxP = true;
        break;
      case kMaxHits:
        o.max_hits = parse_whole(arg, "--max-hits");
        break;
      case kSnpOffset:
        o.snp_offset = parse_whole(arg, "--snp-offset");
        break;
      case 'w':
        o.cis_window = parse_whole(arg, "--cis-window");
        break;
      case 'A':
        o.anchors = arg;
        break;
      case 'S':
        o.strata = arg;
        break;
      case 'm': {
        const auto r = std::from_chars(arg.data(), arg.data() + arg.size(),
                                       o.min_class_size);
        if (r.ec != std::errc() || r.ptr != arg.data() + arg.size() ||
            o.min_class_size < kSmallestClassSize) {
          throw CorrError("--min-class-size: '" + std::string(arg) +
                          "' is not a whole number of at least " +
                          std::to_string(kSmallestClassSize));
        }
        break;
      }
      case 'V':
        if (arg == "empirical") {
          o.variance = Variance::kEmpirical;
        } else if (arg == "normal") {
          o.variance = Variance::kNormal;
        } else {
          throw CorrError("--variance: '" + std::string(arg) +
                          "' is not empirical or normal");
        }
        break;
      case 't': {
        const auto r =
            std::from_chars(arg.data(), arg.data() + arg.size(), o.threads);
        if (r.ec != std::errc() || r.ptr != arg.data() + arg.size() ||
            o.threads < 1 || o.threads > 256) {
          throw CorrError("--threads: '" + std::string(arg) +
                          "' is not a whole number from 1 to 256");
        }
        break;
      }
      case 'h':
        o.help = true;
        return o;
      case ':':
        throw CorrError(std::string(argv[optind - 1]) + " needs a value");
      default:
        throw CorrError("unknown option " + std::string(argv[optind - 1]) +
                        " (see zirk-corr --help)");
    }
  }
  if (optind < argc) {
    throw CorrError("unexpected argument '" + std::string(argv[optind]) +
                    "' (see zirk-corr --help)");
  }
  if (!o.data.empty()) {
    if (o.genotype.empty()) o.genotype = o.data + "/geno.txt";
    if (o.expression.empty()) o.expression = o.data + "/expr.txt";
    if (o.allele.empty()) o.allele = o.data + "/allele.txt";
    const std::string strata =
        o.data + "/" + zirk_formats::kStrataName;
    if (o.strata.empty() && std::filesystem::exists(strata)) o.strata = strata;
  } else if (o.genotype.empty() || o.expression.empty() || o.allele.empty()) {
    throw CorrError("give -g, -e and -a, or --data DIR (see zirk-corr --help)");
  }
  if (o.out.empty() && o.summary.empty()) {
    throw CorrError(
        "give --out or --summary, or both ('-' for standard output)");
  }
  if (o.out == "-" && o.summary == "-") {
    throw CorrError("--out and --summary cannot both be standard output");
  }
  if (maxP && o.out.empty()) throw CorrError("--max-p needs --out");
  if (o.cis_window && !o.anchors.empty()) {
    throw CorrError("--cis-window and --anchors exclude each other");
  }
  if ((o.cis_window || !o.anchors.empty()) && o.data.empty()) {
    throw CorrError(std::string(o.cis_window ? "--cis-window" : "--anchors") +
                    " needs --data DIR for the IDs and positions");
  }
  return o;
}

}  // namespace zirk_corr
