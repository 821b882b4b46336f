#include "cli.h"

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "byte_source.h"
#include "corr_summary.h"
#include "data_folder.h"
#include "error_line.h"
#include "input_reader.h"
#include "json_writer.h"
#include "report_error.h"
#include "report_writer.h"

#ifndef ZIRK_REPORT_DATADIR
#define ZIRK_REPORT_DATADIR "/usr/local/share/zirk"
#endif
#ifndef ZIRK_REPORT_PYTHON
#define ZIRK_REPORT_PYTHON "/usr/bin/python3"
#endif

namespace zirk_report {

namespace {

using zirk_formats::json_quote;

constexpr char kScript[] = "zirk_report.py";

constexpr char kUsage[] =
    "usage: zirk-report [options] --out DIR INPUT...\n"
    "       zirk-report [options] --summary FILE INPUT...\n"
    "INPUT is a result file of zirk, a row file of zirk-corr or a summary of\n"
    "either, plain, gzip or zstd; '-' reads standard input. zirk-corr's rows\n"
    "add the trend and het families to the report.\n"
    "  -o, --out DIR         write the report folder DIR\n"
    "  -s, --summary FILE    write a mergeable summary FILE ('-': standard\n"
    "                        output) instead\n"
    "  -d, --data DIR        folder of zirk-import (snps.tsv, genes.tsv)\n"
    "      --snp-offset K    add K to the SNP index of the inputs after it\n"
    "  -f, --fdr X           report the rows with q-value at most X (0.05);\n"
    "                        with --null, the empirical FDR once the best\n"
    "                        row's permutation p-value is at most X too\n"
    "  -n, --top N           report the N smallest p-values of each family\n"
    "                        instead\n"
    "      --max-hits N      rows kept as possible hits, at most listed by\n"
    "                        --fdr (100000; the strongest when more qualify)\n"
    "  -w, --cis-window BP   a hit is cis when its SNP lies within BP of\n"
    "                        either gene's start (1000000)\n"
    "      --null SUMMARY    summary of a permuted run, of zirk or zirk-corr\n"
    "                        (repeat for each run)\n"
    "      --clump-kb KB     a hit joins the locus of a stronger hit of its\n"
    "                        family and pair on its chromosome within KB\n"
    "                        kilobases (1000) ...\n"
    "      --clump-r2 X      ... when their SNPs' r^2 is at least X (0.2)\n"
    "  -p, --plots K         draw the K best loci of each family (10)\n"
    "  -h, --help            show this help\n";

std::uint64_t parse_count(const char* text, const char* option) {
  std::uint64_t v = 0;
  const char* end = text + std::strlen(text);
  const auto r = std::from_chars(text, end, v);
  if (r.ec != std::errc() || r.ptr != end) {
    throw ReportError(std::string(option) +
                      ": not a whole number: " + text);
  }
  return v;
}

// The figure script: next to the program in the build tree, in
// ../share/zirk after installation, else the configured data folder.
std::string find_script() {
  if (const char* env = std::getenv("ZIRK_REPORT_SCRIPT")) return env;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const auto& candidate :
         {exe.parent_path() / kScript,
          exe.parent_path().parent_path() / "share" / "zirk" / kScript}) {
      if (std::filesystem::exists(candidate)) return candidate.string();
    }
  }
  return std::string(ZIRK_REPORT_DATADIR) + "/" + kScript;
}

struct Input {
  std::string path;
  std::uint64_t snp_offset;
};

int run(int argc, char** argv) {
  std::string out, summary_path, data_dir;
  std::vector<Input> inputs;
  std::vector<std::string> null_paths;
  std::uint64_t snp_offset = 0;
  ReportOptions options;
  bool fdr_given = false, offset_unused = false;
  static const option kLong[] = {
      {"out", required_argument, nullptr, 'o'},
      {"summary", required_argument, nullptr, 's'},
      {"data", required_argument, nullptr, 'd'},
      {"snp-offset", required_argument, nullptr, 'k'},
      {"fdr", required_argument, nullptr, 'f'},
      {"top", required_argument, nullptr, 'n'},
      {"max-hits", required_argument, nullptr, 'm'},
      {"cis-window", required_argument, nullptr, 'w'},
      {"null", required_argument, nullptr, 'N'},
      {"clump-kb", required_argument, nullptr, 'K'},
      {"clump-r2", required_argument, nullptr, 'R'},
      {"plots", required_argument, nullptr, 'p'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "-o:s:d:f:n:w:p:h", kLong, nullptr)) !=
         -1) {
    switch (c) {
      case 1:  // an input, in order, with the offset given before it
        inputs.push_back({optarg, snp_offset});
        offset_unused = false;
        break;
      case 'o':
        out = optarg;
        break;
      case 's':
        summary_path = optarg;
        break;
      case 'd':
        data_dir = optarg;
        break;
      case 'k':
        snp_offset = parse_count(optarg, "--snp-offset");
        offset_unused = true;
        break;
      case 'f': {
        char* end = nullptr;
        options.fdr = std::strtod(optarg, &end);
        if (end == optarg || *end != '\0' || !(options.fdr >= 0) ||
            options.fdr > 1) {
          throw ReportError(
              std::string("--fdr: not a number in [0, 1]: ") + optarg);
        }
        fdr_given = true;
        break;
      }
      case 'n':
        options.top = parse_count(optarg, "--top");
        if (options.top == 0)
          throw ReportError("--top: must be at least 1");
        break;
      case 'm':
        options.max_hits = parse_count(optarg, "--max-hits");
        break;
      case 'w':
        options.cis_window = parse_count(optarg, "--cis-window");
        break;
      case 'N':
        null_paths.push_back(optarg);
        break;
      case 'K':
        options.clump_kb = parse_count(optarg, "--clump-kb");
        break;
      case 'R': {
        char* end = nullptr;
        options.clump_r2 = std::strtod(optarg, &end);
        if (end == optarg || *end != '\0' || !(options.clump_r2 >= 0) ||
            options.clump_r2 > 1) {
          throw ReportError(
              std::string("--clump-r2: not a number in [0, 1]: ") + optarg);
        }
        break;
      }
      case 'p':
        options.plots = parse_count(optarg, "--plots");
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      default:
        throw ReportError("unknown or incomplete option " +
                          std::string(argv[optind - 1]) + " (see --help)");
    }
  }
  if (out.empty() == summary_path.empty()) {
    throw ReportError("give exactly one of --out and --summary");
  }
  if (inputs.empty()) throw ReportError("no input (see --help)");
  if (offset_unused) {
    throw ReportError(
        "--snp-offset follows the last input; give it before the "
        "inputs it applies to");
  }
  if (fdr_given && options.top > 0) {
    throw ReportError("--fdr and --top exclude each other");
  }
  if (!summary_path.empty() && !null_paths.empty()) {
    throw ReportError("--null belongs to a report (--out)");
  }

  std::optional<DataFolder> data;
  while (data_dir.size() > 1 && data_dir.back() == '/') data_dir.pop_back();
  if (!data_dir.empty()) data = read_data_folder(data_dir);
  InputOptions in_opts;
  in_opts.data = data ? &*data : nullptr;
  in_opts.max_candidates = std::max(options.max_hits, options.top);
  in_opts.progress = ::isatty(2) != 0;
  RunSummary summary(in_opts.max_candidates);
  CorrSummary corr(in_opts.max_candidates);
  bool any_it = false, any_corr = false;
  std::string provenance = "{\n  \"inputs\": [";
  std::vector<char> buffer;  // one read buffer for all the inputs
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    in_opts.snp_offset = inputs[i].snp_offset;
    ByteSource source(inputs[i].path);
    const InputKind kind =
        read_any_input(source, in_opts, summary, corr, buffer);
    const bool is_corr =
        kind == InputKind::kCorrRows || kind == InputKind::kCorrSummary;
    (is_corr ? any_corr : any_it) = true;
    const char* kinds[] = {"result", "summary", "corr_rows", "corr_summary"};
    provenance += std::string(i ? ", " : "") +
                  "{\"path\": " + json_quote(inputs[i].path) +
                  ", \"kind\": \"" + kinds[static_cast<int>(kind)] +
                  "\", \"snp_offset\": " +
                  std::to_string(inputs[i].snp_offset) + "}";
  }
  if (!summary_path.empty()) {
    if (any_it && any_corr) {
      throw ReportError(
          "--summary: the rows of zirk and of zirk-corr go to "
          "summaries of their own");
    }
    if (any_corr) {
      write_corr_summary_file(corr, summary_path);
    } else {
      write_summary_file(summary, summary_path);
    }
    return 0;
  }
  provenance += "],\n  \"nulls\": [";
  InputOptions null_opts = in_opts;
  null_opts.snp_offset = 0;
  null_opts.max_candidates = 0;
  for (std::size_t k = 0; k < null_paths.size(); ++k) {
    RunSummary n(0);
    CorrSummary c(0);
    const InputKind kind = read_any_input(null_paths[k], null_opts, n, c);
    if (kind == InputKind::kResult || kind == InputKind::kCorrRows) {
      throw ReportError(null_paths[k] +
                        ": --null needs a summary file, not a result file");
    }
    if (kind == InputKind::kCorrSummary) {
      if (!any_corr) {
        throw ReportError(null_paths[k] +
                          ": a permuted run of zirk-corr without its real "
                          "run among the inputs");
      }
      options.corr_nulls.push_back(std::move(c));
    } else {
      options.nulls.push_back(std::move(n));
    }
    provenance += std::string(k ? ", " : "") + json_quote(null_paths[k]);
  }
  if (any_corr) options.corr = &corr;
  // The smallest run-level permutation p-value is 1 / (K + 1); below
  // that level no row can be selected, which a user should hear about.
  const std::size_t runs = std::max(options.nulls.size(),
                                    options.corr_nulls.size());
  if (runs > 0 && options.top == 0 && options.fdr > 0 &&
      1.0 / static_cast<double>(runs + 1) > options.fdr) {
    std::size_t needed = runs;
    while (1.0 / static_cast<double>(needed + 1) > options.fdr &&
           needed < 1000000) {
      ++needed;
    }
    std::fprintf(stderr,
                 "Warning: %zu permuted runs cannot select hits at --fdr %g; "
                 "it takes at least %zu\n",
                 runs, options.fdr, needed);
  }
  provenance += "],\n  \"command\": [";
  for (int i = 0; i < argc; ++i) {
    provenance += std::string(i ? ", " : "") + json_quote(argv[i]);
  }
  provenance += "]\n}\n";
  options.out_dir = out;
  options.data = in_opts.data;
  options.provenance_json = provenance;
  options.script = find_script();
  const char* python = std::getenv("ZIRK_REPORT_PYTHON");
  options.python = python ? python : ZIRK_REPORT_PYTHON;
  write_report(summary, options);
  return 0;
}

}  // namespace

int run_cli(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const zirk_formats::Failure& e) {
    zirk_formats::print_error_line(e.what());
  } catch (const std::bad_alloc&) {
    zirk_formats::print_error_line("out of memory");
  }
  return 1;
}

}  // namespace zirk_report
