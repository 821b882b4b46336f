#include "options.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <string_view>

#include "import_error.h"

namespace zirk_import {

namespace {

enum LongOnly {
  kSnps = 1000,
  kGenes,
  kMaf,
  kPassOnly,
  kMinClassSize,
  kMaxMissing,
  kMinGp,
  kMinR2,
  kR2Field,
  kHwe,
  kValues,
  kPseudocount,
  kNormalise,
  kMinExpressed,
  kStrata,
  kStrataCovariate,
  kPermute,
  kSeed,
  kThreads,
  kForce,
};

template <class T>
T parse_number(const char* option, std::string_view text, T low, T high,
               const char* range) {
  T value{};
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() ||
      !(value >= low && value <= high)) {
    throw ImportError(std::string(option) + ": '" + std::string(text) +
                      "' is not " + range);
  }
  return value;
}

}  // namespace

const char* usage_text() {
  return R"(Usage: zirk-import --vcf FILE --expression FILE --out DIR [options]

Turns genotypes (VCF/BCF) and an expression table (phenotype BED or a
gene-by-sample table; plain, gzip or bgzip) into a ZIRK input folder.

  -v, --vcf FILE           genotypes, VCF or BCF ('-': standard input)
  -e, --expression FILE    expression: BED (#chr start end id [2 more] samples...)
                           or a table with a header row of sample IDs
  -o, --out DIR            output folder (must not exist, see --force)
  -r, --region CHR:BEG-END only variants in this region (needs an index)
      --snps FILE          only variants with these IDs (one per line)
      --genes FILE         only genes with these IDs
  -S, --samples FILE       only samples with these IDs
      --maf X              skip variants with minor allele frequency below X
      --pass-only          skip variants whose FILTER is not PASS
      --min-class-size K   skip variants with a genotype class of fewer than
                           K individuals [3]
      --max-missing F      keep variants with at most a fraction F of the
                           individuals without a usable call, each given the
                           class nearest the variant's mean dosage [0]
      --min-gp P           a call whose largest genotype probability (GP, GL
                           or PL) is below P counts as missing [0]
      --min-r2 R           skip variants whose imputation quality is below R
      --r2-field NAME      the INFO field of --min-r2 [the first of R2, DR2,
                           INFO that the header defines]
      --hwe P              skip variants whose INFO/HWE (the Hardy-Weinberg
                           p-value of bcftools +fill-tags) is below P
      --values SCALE       raw (positive values) or log10, ln, log2 [raw]
      --pseudocount C      add C to every raw value
      --min-expressed F    skip genes whose value in the file is above zero
                           in fewer than a fraction F of the samples [0]
  -c, --covariates FILE    replace each gene's log10 values by their residuals
                           on an intercept and these covariates (a header of
                           a first word and sample IDs, then one line per
                           covariate: name and values; NA imputed by the mean;
                           non-numeric covariates become indicators)
      --normalise METHOD   none or inverse-normal: rank-based transform of
                           each gene, after the residuals [none]
      --strata FILE        write DIR/strata.txt for zirk-corr's stratified
                           scores: FILE has one line per sample, its ID and
                           its group name (ancestry, batch, site)
      --strata-covariate NAME
                           the groups of categorical covariate NAME of
                           --covariates instead
      --permute K          also write K permuted expression files [0]
                           (within each group with strata)
      --seed S             seed of the permutations [1]
      --threads N          extra decompression threads [0]
      --force              replace DIR when the import succeeds
  -q, --quiet              no summary on standard error
  -h, --help               this text
)";
}

Options parse_options(int argc, char** argv) {
  static const option kLong[] = {
      {"vcf", required_argument, nullptr, 'v'},
      {"expression", required_argument, nullptr, 'e'},
      {"out", required_argument, nullptr, 'o'},
      {"region", required_argument, nullptr, 'r'},
      {"samples", required_argument, nullptr, 'S'},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"snps", required_argument, nullptr, kSnps},
      {"genes", required_argument, nullptr, kGenes},
      {"maf", required_argument, nullptr, kMaf},
      {"pass-only", no_argument, nullptr, kPassOnly},
      {"min-class-size", required_argument, nullptr, kMinClassSize},
      {"max-missing", required_argument, nullptr, kMaxMissing},
      {"min-gp", required_argument, nullptr, kMinGp},
      {"min-r2", required_argument, nullptr, kMinR2},
      {"r2-field", required_argument, nullptr, kR2Field},
      {"hwe", required_argument, nullptr, kHwe},
      {"values", required_argument, nullptr, kValues},
      {"pseudocount", required_argument, nullptr, kPseudocount},
      {"covariates", required_argument, nullptr, 'c'},
      {"normalise", required_argument, nullptr, kNormalise},
      {"min-expressed", required_argument, nullptr, kMinExpressed},
      {"strata", required_argument, nullptr, kStrata},
      {"strata-covariate", required_argument, nullptr, kStrataCovariate},
      {"permute", required_argument, nullptr, kPermute},
      {"seed", required_argument, nullptr, kSeed},
      {"threads", required_argument, nullptr, kThreads},
      {"force", no_argument, nullptr, kForce},
      {nullptr, 0, nullptr, 0}};
  Options o;
  opterr = 0;
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, ":v:e:o:r:S:c:qh", kLong, nullptr)) !=
         -1) {
    const std::string_view arg = optarg ? optarg : "";
    switch (c) {
      case 'v':
        o.vcf = arg;
        break;
      case 'e':
        o.expression = arg;
        break;
      case 'o':
        o.out = arg;
        break;
      case 'r':
        o.region = arg;
        break;
      case 'S':
        o.samples = arg;
        break;
      case 'c':
        o.covariates = arg;
        break;
      case 'q':
        o.quiet = true;
        break;
      case 'h':
        o.help = true;
        return o;
      case kSnps:
        o.snps = arg;
        break;
      case kGenes:
        o.genes = arg;
        break;
      case kMaf:
        o.maf = parse_number<double>("--maf", arg, 0.0, 0.5,
                                     "a number from 0 to 0.5");
        break;
      case kPassOnly:
        o.pass_only = true;
        break;
      case kMinClassSize:
        o.min_class_size = parse_number<int>("--min-class-size", arg, 0,
                                             1000000, "a whole number from 0");
        break;
      case kMaxMissing:
        o.max_missing = parse_number<double>("--max-missing", arg, 0.0, 1.0,
                                             "a number from 0 to 1");
        break;
      case kMinGp:
        o.min_gp = parse_number<double>("--min-gp", arg, 0.0, 1.0,
                                        "a number from 0 to 1");
        break;
      case kMinR2:
        o.min_r2 = parse_number<double>("--min-r2", arg, 0.0, 1.0,
                                        "a number from 0 to 1");
        break;
      case kR2Field:
        o.r2_field = arg;
        break;
      case kHwe:
        o.hwe = parse_number<double>("--hwe", arg, 0.0, 1.0,
                                     "a number from 0 to 1");
        break;
      case kValues: {
        const auto scale = parse_scale(arg);
        if (!scale) {
          throw ImportError("--values: '" + std::string(arg) +
                            "' is not one of raw, log10, ln, log2");
        }
        o.scale = *scale;
        break;
      }
      case kPseudocount:
        o.pseudocount = parse_number<double>("--pseudocount", arg, 0.0, 1e300,
                                             "a number of 0 or more");
        break;
      case kNormalise:
        if (arg != "none" && arg != "inverse-normal") {
          throw ImportError("--normalise: '" + std::string(arg) +
                            "' is not one of none, inverse-normal");
        }
        o.inverse_normal = arg == "inverse-normal";
        break;
      case kMinExpressed:
        o.min_expressed = parse_number<double>("--min-expressed", arg, 0.0, 1.0,
                                               "a number from 0 to 1");
        break;
      case kStrata:
        o.strata = arg;
        break;
      case kStrataCovariate:
        o.strata_covariate = arg;
        break;
      case kPermute:
        o.permute = parse_number<int>("--permute", arg, 0, 100000,
                                      "a whole number from 0 to 100000");
        break;
      case kSeed:
        o.seed = parse_number<std::uint64_t>("--seed", arg, 0, UINT64_MAX,
                                             "a whole number of 0 or more");
        break;
      case kThreads:
        o.threads = parse_number<int>("--threads", arg, 0, 256,
                                      "a whole number from 0 to 256");
        break;
      case kForce:
        o.force = true;
        break;
      case ':':
        throw ImportError(std::string(argv[optind - 1]) + " needs a value");
      default:
        throw ImportError("unknown option " + std::string(argv[optind - 1]) +
                          " (see zirk-import --help)");
    }
  }
  if (optind < argc) {
    throw ImportError("unexpected argument '" + std::string(argv[optind]) +
                      "' (see zirk-import --help)");
  }
  for (const auto& [value, name] :
       {std::pair{&o.vcf, "--vcf"}, std::pair{&o.expression, "--expression"},
        std::pair{&o.out, "--out"}}) {
    if (value->empty()) {
      throw ImportError(std::string(name) +
                        " is required (see zirk-import --help)");
    }
  }
  if (!o.r2_field.empty() && !o.min_r2) {
    throw ImportError("--r2-field applies only with --min-r2");
  }
  if (!o.strata.empty() && !o.strata_covariate.empty()) {
    throw ImportError("--strata and --strata-covariate exclude each other");
  }
  if (!o.strata_covariate.empty() && o.covariates.empty()) {
    throw ImportError("--strata-covariate needs --covariates FILE");
  }
  if (o.pseudocount != 0 && o.scale != ValueScale::kRaw) {
    throw ImportError("--pseudocount applies only to --values raw");
  }
  return o;
}

}  // namespace zirk_import
