#include "options.h"

#include <getopt.h>

#include <charconv>
#include <string_view>

namespace zirk_corr {

const char* usage_text() {
  return R"(Usage: zirk-corr (-g FILE -e FILE -a FILE | -d DIR) -o FILE [options]

Within-class Spearman correlations of every gene pair at every SNP, with a
1-df dosage-trend test and a heterogeneity test across the genotype classes.

  -g, --genotype FILE    genotypes, as zirk reads them
  -e, --expression FILE  expression values, one line per gene
  -a, --allele FILE      reference allele per SNP
  -d, --data DIR         a zirk-import folder (DIR/geno.txt, DIR/expr.txt,
                         DIR/allele.txt) instead of -g, -e, -a
  -o, --out FILE         the rows ('-': standard output)
  -m, --min-class-size K
                         leave each genotype class of fewer than K
                         individuals out of a SNP's correlations (K at
                         least 4) [20]
  -t, --threads N        worker threads [1]
  -h, --help             this text
)";
}

Options parse_options(int argc, char** argv) {
  static const option kLong[] = {
      {"genotype", required_argument, nullptr, 'g'},
      {"expression", required_argument, nullptr, 'e'},
      {"allele", required_argument, nullptr, 'a'},
      {"data", required_argument, nullptr, 'd'},
      {"out", required_argument, nullptr, 'o'},
      {"min-class-size", required_argument, nullptr, 'm'},
      {"threads", required_argument, nullptr, 't'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  Options o;
  std::string data;
  opterr = 0;
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, ":g:e:a:d:o:m:t:h", kLong, nullptr)) !=
         -1) {
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
        data = arg;
        break;
      case 'o':
        o.out = arg;
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
  const bool anyFile =
      !o.genotype.empty() || !o.expression.empty() || !o.allele.empty();
  if (!data.empty()) {
    if (anyFile) {
      throw CorrError("--data cannot be combined with -g, -e or -a");
    }
    o.genotype = data + "/geno.txt";
    o.expression = data + "/expr.txt";
    o.allele = data + "/allele.txt";
  } else if (o.genotype.empty() || o.expression.empty() || o.allele.empty()) {
    throw CorrError("give -g, -e and -a, or --data DIR (see zirk-corr --help)");
  }
  if (o.out.empty()) {
    throw CorrError("--out is required ('-' for standard output)");
  }
  return o;
}

}  // namespace zirk_corr
