#include "importer.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "call_reader.h"
#include "covariates.h"
#include "data_tables.h"
#include "expression_table.h"
#include "expression_values.h"
#include "genotype_calls.h"
#include "genotype_matrix.h"
#include "id_list.h"
#include "import_error.h"
#include "info_number.h"
#include "inverse_normal.h"
#include "json_writer.h"
#include "output_folder.h"
#include "permutation.h"
#include "strata.h"
#include "strata_file.h"
#include "progress_line.h"
#include "residuals.h"
#include "skip_log.h"
#include "variant_source.h"

namespace zirk_import {

using zirk_formats::JsonWriter;
using zirk_formats::OutputFolder;
using zirk_formats::ProgressLine;

namespace {

constexpr std::size_t kIdsListed = 5;

using IdSet = std::unordered_set<std::string>;

struct Samples {
  std::vector<std::string> ids;      // kept, in VCF order
  std::vector<int> vcf_columns;      // their VCF sample indices
  std::vector<std::size_t> columns;  // their expression columns
};

Samples match_samples(const std::vector<std::string>& vcf_ids,
                      const std::vector<std::string>& expression_ids,
                      const IdSet* list, SkipLog& log) {
  std::unordered_map<std::string, std::size_t> expression_column;
  for (std::size_t j = 0; j < expression_ids.size(); ++j) {
    expression_column.emplace(expression_ids[j], j);
  }
  const IdSet vcf_set(vcf_ids.begin(), vcf_ids.end());
  Samples kept;
  for (std::size_t i = 0; i < vcf_ids.size(); ++i) {
    const std::string& id = vcf_ids[i];
    const auto column = expression_column.find(id);
    if (list && !list->count(id)) {
      log.add("not_in_sample_list", id);
    } else if (column == expression_column.end()) {
      log.add("vcf_only", id);
    } else {
      kept.ids.push_back(id);
      kept.vcf_columns.push_back(static_cast<int>(i));
      kept.columns.push_back(column->second);
    }
  }
  for (const std::string& id : expression_ids) {
    if (vcf_set.count(id)) continue;
    log.add(list && !list->count(id) ? "not_in_sample_list" : "expression_only",
            id);
  }
  return kept;
}

struct KeptGene {
  const ExpressionGene* gene;
  std::vector<double> values;  // as written, kept samples in order
};

std::vector<KeptGene> select_genes(const ExpressionTable& table,
                                   const Options& o, const Samples& samples,
                                   const IdSet* list, SkipLog& log) {
  std::vector<KeptGene> kept;
  for (const ExpressionGene& gene : table.genes) {
    if (list && !list->count(gene.id)) {
      log.add("not_in_gene_list", gene.id);
      continue;
    }
    std::vector<double> values;
    values.reserve(samples.columns.size());
    std::size_t expressed = 0;
    for (std::size_t column : samples.columns) {
      values.push_back(gene.values[column]);
      if (values.back() > 0) ++expressed;
    }
    double bad = 0;
    switch (convert_gene_values(values, o.scale, o.pseudocount, bad)) {
      case GeneVerdict::kKept:
        if (static_cast<double>(expressed) <
            o.min_expressed * static_cast<double>(values.size())) {
          log.add("below_min_expressed", gene.id);
        } else {
          kept.push_back({&gene, std::move(values)});
        }
        break;
      case GeneVerdict::kNotANumber:
        log.add("not_a_number", gene.id);
        break;
      case GeneVerdict::kNonPositive:
        log.add("non_positive", gene.id);
        break;
      case GeneVerdict::kOutOfRange: {
        std::string text;
        append_value(text, bad);
        throw ImportError(o.expression + ": gene " + gene.id + ": value " +
                          text +
                          " overflows a double once converted (--values " +
                          scale_name(o.scale) + ")");
      }
    }
  }
  return kept;
}

// Replaces every gene's values by 10^v, with v its log10 values after the
// covariate residuals and the inverse-normal transform that `o` asks for, so
// that ZIRK's log10 reads v.
void transform_genes(std::vector<KeptGene>& genes, const Options& o,
                     const CovariateDesign* design, std::size_t samples) {
  std::optional<Residualiser> residuals;
  if (design) residuals.emplace(design->columns, samples);
  for (KeptGene& gene : genes) {
    for (double& v : gene.values) v = std::log10(v);
    if (residuals) residuals->apply(gene.values);
    if (o.inverse_normal) inverse_normal_transform(gene.values);
    for (double& v : gene.values) {
      const double written = std::pow(10.0, v);
      if (!std::isfinite(written) ||
          written < std::numeric_limits<double>::min()) {
        std::string text;
        append_value(text, v);
        throw ImportError(o.expression + ": gene " + gene.gene->id +
                          ": the transformed log10 value " + text +
                          " is out of the range of a double once written "
                          "as 10^v");
      }
      v = written;
    }
  }
}

std::string expression_text(const std::vector<KeptGene>& genes,
                            const std::vector<std::size_t>* order) {
  std::string text;
  for (const KeptGene& gene : genes) {
    const std::size_t n = gene.values.size();
    for (std::size_t j = 0; j < n; ++j) {
      if (j > 0) text += ' ';
      append_value(text, gene.values[order ? (*order)[j] : j]);
    }
    text += '\n';
  }
  return text;
}

const char* allele_reason(AlleleVerdict verdict) {
  switch (verdict) {
    case AlleleVerdict::kMultiallelic:
      return "multiallelic";
    case AlleleVerdict::kNoAlt:
      return "no_alt";
    case AlleleVerdict::kIndel:
      return "indel";
    case AlleleVerdict::kSymbolic:
      return "symbolic";
    default:
      return "other_alleles";
  }
}

const char* call_reason(CallVerdict verdict) {
  switch (verdict) {
    case CallVerdict::kNoField:
      return "no_gt";
    case CallVerdict::kHaploid:
      return "haploid_call";
    default:
      return "polyploid_call";
  }
}

struct VariantCounts {
  std::size_t read = 0;
  std::size_t kept = 0;
  // Over the kept SNPs: the calls given a class, those of them that were
  // missing in the file and those below --min-gp, and the SNPs with any.
  std::size_t filled = 0, missing = 0, uncertain = 0, filled_snps = 0;
  // Kept SNPs by the field their calls and their certainties came from.
  std::size_t call_from[6] = {}, certainty_from[6] = {};
  std::string r2_field;  // of --min-r2
};

// Gives every kNoCall among `codes` the class nearest the mean number of ALT
// copies over the others (a half rounds up), as an unphased call.
void fill_calls(std::uint8_t* codes, std::size_t n,
                const std::array<std::size_t, 3>& called) {
  const double count = static_cast<double>(called[0] + called[1] + called[2]);
  const double mean = static_cast<double>(called[1] + 2 * called[2]) / count;
  const std::uint8_t code =
      class_code(static_cast<int>(std::floor(mean + 0.5)));
  for (std::size_t k = 0; k < n; ++k) {
    if (codes[k] == kNoCall) codes[k] = code;
  }
}

// Streams the variants into `matrix`, writing snps.tsv and allele.txt.
VariantCounts stream_variants(VariantSource& source, const Options& o,
                              const Samples& samples, const IdSet* list,
                              GenotypeMatrix& matrix, std::FILE* snps_tsv,
                              std::FILE* allele_txt, SkipLog& log,
                              ProgressLine& progress,
                              const volatile std::sig_atomic_t& stop) {
  bcf_hdr_t* header = source.header();
  const int pass = bcf_hdr_id2int(header, BCF_DT_ID, "PASS");
  const std::size_t n = samples.ids.size();
  CallReader calls_of(header, o.min_gp, o.vcf);
  std::optional<InfoNumber> r2, hwe;
  if (o.min_r2) {
    const std::string name =
        o.r2_field.empty() ? default_r2_field(header) : o.r2_field;
    if (name.empty()) {
      throw ImportError(o.vcf +
                        ": --min-r2 needs an imputation quality, and the "
                        "header defines none of INFO/R2, DR2, INFO (name "
                        "another with --r2-field)");
    }
    r2.emplace(header, name, o.vcf, "--min-r2");
  }
  if (o.hwe) hwe.emplace(header, "HWE", o.vcf, "--hwe");
  VariantCounts counts;
  if (r2) counts.r2_field = r2->name();
  std::string id;
  while (true) {
    bool more;
    try {
      more = source.next();
    } catch (const ImportError&) {
      // A signal can cut a read short; report the signal, not the read.
      if (stop) throw ImportError("interrupted by a signal; nothing written");
      throw;
    }
    if (stop) throw ImportError("interrupted by a signal; nothing written");
    if (!more) break;
    bcf1_t* record = source.record();
    ++counts.read;
    if ((counts.read & 0xffff) == 0) {
      progress.show("zirk-import: %zu variants read, %zu kept", counts.read,
                    counts.kept);
    }
    const char* chrom = bcf_seqname_safe(header, record);
    if (std::strcmp(record->d.id, ".") == 0) {
      id = std::string(chrom) + ":" + std::to_string(record->pos + 1);
      for (int a = 0; a < record->n_allele; ++a) {
        id += ':';
        id += record->d.allele[a];
      }
    } else {
      id = record->d.id;
    }
    if (list && !list->count(id)) {
      log.add("not_in_snp_list", id);
      continue;
    }
    if (o.pass_only) {
      bcf_unpack(record, BCF_UN_FLT);
      if (!(record->d.n_flt == 1 && record->d.flt[0] == pass)) {
        log.add("not_pass", id);
        continue;
      }
    }
    const AlleleVerdict alleles = classify_alleles(record);
    if (alleles != AlleleVerdict::kSnv) {
      log.add(allele_reason(alleles), id);
      continue;
    }
    if (r2) {
      const std::optional<float> quality = r2->read(record);
      if (!quality) {
        throw ImportError(o.vcf + ": variant " + id + ": INFO/" + r2->name() +
                          " is not a number");
      }
      if (below(*quality, *o.min_r2)) {
        log.add("r2_below", id);
        continue;
      }
    }
    if (hwe) {
      // bcftools writes no p-value where a record has no GT.
      const std::optional<float> p = hwe->read(record);
      if (!p || below(*p, *o.hwe)) {
        log.add(p ? "hwe_below" : "no_hwe", id);
        continue;
      }
    }
    bcf_unpack(record, BCF_UN_FMT);
    std::uint8_t* codes = matrix.next_row();
    const CallReader::Calls calls =
        calls_of.read(record, samples.vcf_columns, id, codes);
    if (calls.verdict != CallVerdict::kOk) {
      log.add(call_reason(calls.verdict), id);
      continue;
    }
    const std::size_t unusable = calls.missing + calls.uncertain;
    if (unusable == n || static_cast<double>(unusable) >
                             o.max_missing * static_cast<double>(n)) {
      log.add("missing_call", id);
      continue;
    }
    std::array<std::size_t, 3> sizes = class_sizes(codes, n);
    const double alt_frequency = static_cast<double>(sizes[1] + 2 * sizes[2]) /
                                 (2.0 * static_cast<double>(n - unusable));
    if (std::min(alt_frequency, 1 - alt_frequency) < o.maf) {
      log.add("maf_below", id);
      continue;
    }
    if (unusable > 0) {
      fill_calls(codes, n, sizes);
      sizes = class_sizes(codes, n);
    }
    if (*std::min_element(sizes.begin(), sizes.end()) <
        static_cast<std::size_t>(o.min_class_size)) {
      log.add("class_below_min_size", id);
      continue;
    }
    if (matrix.snps() == kMaxSnps) {
      throw ImportError(
          o.vcf +
          ": more than 1000000 SNPs pass the filters, the most a "
          "ZIRK genotype line holds (4,000,000 characters); narrow "
          "them with --region, --snps or --maf");
    }
    const char ref = static_cast<char>(std::toupper(record->d.allele[0][0]));
    const char alt = static_cast<char>(std::toupper(record->d.allele[1][0]));
    std::fprintf(snps_tsv, "%zu\t%s\t%s\t%lld\t%c\t%c\t%zu\t%zu\t%zu\t%zu\n",
                 matrix.snps(), id.c_str(), chrom,
                 static_cast<long long>(record->pos + 1), ref, alt, sizes[0],
                 sizes[1], sizes[2], unusable);
    std::fprintf(allele_txt, "%c %c\n", ref, alt);
    matrix.keep(ref, alt);
    ++counts.kept;
    counts.filled += unusable;
    counts.missing += calls.missing;
    counts.uncertain += calls.uncertain;
    counts.filled_snps += unusable > 0;
    ++counts.call_from[static_cast<int>(calls.call_from)];
    ++counts.certainty_from[static_cast<int>(calls.certainty_from)];
  }
  progress.clear();
  return counts;
}

void write_skips(JsonWriter& json, const char* name, const SkipLog& log) {
  json.key(name);
  json.begin_object();
  for (const SkipLog::Reason& r : log.reasons()) {
    json.key(r.name);
    json.begin_object();
    json.key("count");
    json.integer(static_cast<std::int64_t>(r.count));
    json.key("first");
    json.begin_array();
    for (const std::string& id : r.first_ids) json.string(id);
    json.end_array();
    json.end_object();
  }
  json.end_object();
}

void optional_string(JsonWriter& json, const char* key, const std::string& v) {
  json.key(key);
  if (v.empty()) {
    json.null();
  } else {
    json.string(v);
  }
}

void optional_number(JsonWriter& json, const char* key,
                     const std::optional<double>& v) {
  json.key(key);
  if (v) {
    json.number(*v);
  } else {
    json.null();
  }
}

// Where the kept SNPs' calls came from and how many were filled.
void write_calls(JsonWriter& json, const VariantCounts& counts) {
  json.key("calls");
  json.begin_object();
  for (const auto& [key, count] :
       {std::pair{"filled", counts.filled},
        std::pair{"missing_in_file", counts.missing},
        std::pair{"below_min_gp", counts.uncertain},
        std::pair{"snps_with_filled", counts.filled_snps}}) {
    json.key(key);
    json.integer(static_cast<std::int64_t>(count));
  }
  // Per kept SNP, the field its calls were read from (GT, GP, GL, PL, DS)
  // and the field their certainty was read from (GP, GL, PL, or none).
  for (const auto& [key, by_field] :
       {std::pair{"call_field", counts.call_from},
        std::pair{"certainty_field", counts.certainty_from}}) {
    json.key(key);
    json.begin_object();
    for (int f = 0; f < 6; ++f) {
      if (by_field[f] == 0) continue;
      json.key(field_name(static_cast<CallField>(f)));
      json.integer(static_cast<std::int64_t>(by_field[f]));
    }
    json.end_object();
  }
  json.end_object();
}

void write_covariates(JsonWriter& json, const CovariateDesign* design) {
  json.key("covariates");
  if (!design) {
    json.null();
    return;
  }
  json.begin_object();
  json.key("used");
  json.begin_array();
  for (const std::string& name : design->names) json.string(name);
  json.end_array();
  json.key("imputed");
  json.begin_object();
  for (const auto& [name, count] : design->imputed) {
    json.key(name);
    json.integer(static_cast<std::int64_t>(count));
  }
  json.end_object();
  json.key("expanded");
  json.begin_object();
  for (const auto& [name, indicators] : design->expanded) {
    json.key(name);
    json.begin_array();
    for (const std::string& indicator : indicators) json.string(indicator);
    json.end_array();
  }
  json.end_object();
  json.key("dropped");
  json.begin_array();
  for (const DroppedColumn& d : design->dropped) {
    json.begin_object();
    json.key("name");
    json.string(d.name);
    json.key("reason");
    json.string(d.reason);
    json.end_object();
  }
  json.end_array();
  json.end_object();
}

// What happened to the values between the file and expr.txt.
void write_transform(JsonWriter& json, const Options& o, bool residuals) {
  json.key("transform");
  json.begin_object();
  json.key("log10_residuals");
  json.boolean(residuals);
  json.key("normalise");
  json.string(o.inverse_normal ? "inverse-normal" : "none");
  for (const auto& [key, offset] :
       {std::pair{"rank_offset", kBlomRankOffset},
        std::pair{"count_offset", kBlomCountOffset}}) {
    json.key(key);
    if (o.inverse_normal) {
      json.number(offset);
    } else {
      json.null();
    }
  }
  json.key("written_as");
  json.string(residuals || o.inverse_normal ? "10^v" : "values");
  json.end_object();
}

void print_skips(std::FILE* log, const char* what, const SkipLog& skips) {
  if (skips.total() == 0) return;
  std::fprintf(log, "  %s left out:", what);
  const char* separator = " ";
  for (const SkipLog::Reason& r : skips.reasons()) {
    if (r.count == 0) continue;
    std::fprintf(log, "%s%zu %s", separator, r.count, r.name.c_str());
    separator = ", ";
  }
  std::fputc('\n', log);
}

}  // namespace

void run_import(const Options& o, std::FILE* log,
                const volatile std::sig_atomic_t& stop) {
  OutputFolder folder(o.out, o.force);
  VariantSource source(o.vcf, o.threads);
  if (!o.region.empty()) source.set_region(o.region);
  const ExpressionTable table = read_expression_table(o.expression);
  std::optional<CovariateFile> covariate_file;
  if (!o.covariates.empty()) {
    covariate_file = read_covariate_file(o.covariates);
  }

  IdSet snp_list, gene_list, sample_list;
  if (!o.snps.empty()) snp_list = read_id_list(o.snps);
  if (!o.genes.empty()) gene_list = read_id_list(o.genes);
  if (!o.samples.empty()) sample_list = read_id_list(o.samples);

  SkipLog sample_skips({"vcf_only", "expression_only", "not_in_sample_list"},
                       kIdsListed);
  const std::vector<std::string> vcf_samples = source.samples();
  const Samples samples =
      match_samples(vcf_samples, table.samples,
                    o.samples.empty() ? nullptr : &sample_list, sample_skips);
  if (samples.ids.size() < 3) {
    throw ImportError("only " + std::to_string(samples.ids.size()) +
                      " samples are in both " + o.vcf + " and " + o.expression +
                      " (at least 3 needed)");
  }

  // The strata, checked before anything is written.
  std::vector<std::uint32_t> strata;
  std::string strata_txt;
  if (!o.strata.empty() || !o.strata_covariate.empty()) {
    const std::vector<std::string> groups =
        o.strata.empty()
            ? covariate_groups(*covariate_file, o.strata_covariate,
                               samples.ids, o.covariates)
            : strata_from_file(o.strata, samples.ids, vcf_samples,
                               table.samples);
    strata = group_indices(groups, o.strata.empty() ? o.covariates : o.strata);
    for (const std::string& g : groups) strata_txt += g + "\n";
  }

  std::optional<CovariateDesign> design;
  if (covariate_file) {
    design = build_design(*covariate_file, samples.ids, o.covariates);
    if (!o.quiet) {
      for (const std::string& w : design->warnings) {
        std::fprintf(log, "zirk-import: warning: %s\n", w.c_str());
      }
    }
  }

  SkipLog gene_skips({"not_in_gene_list", "not_a_number", "non_positive",
                      "below_min_expressed"},
                     kIdsListed);
  std::vector<KeptGene> genes = select_genes(
      table, o, samples, o.genes.empty() ? nullptr : &gene_list, gene_skips);
  if (design || o.inverse_normal) {
    transform_genes(genes, o, design ? &*design : nullptr, samples.ids.size());
  }

  std::string genes_tsv = std::string(zirk_formats::kGeneTableHeader) + "\n";
  for (std::size_t g = 0; g < genes.size(); ++g) {
    const ExpressionGene& gene = *genes[g].gene;
    genes_tsv += std::to_string(g) + "\t" + gene.id + "\t" + gene.chrom + "\t" +
                 gene.start + "\t" + gene.end + "\n";
  }
  folder.write(zirk_formats::kGeneTableName, genes_tsv);
  folder.write("expr.txt", expression_text(genes, nullptr));
  std::string samples_txt;
  for (const std::string& id : samples.ids) samples_txt += id + "\n";
  folder.write("samples.txt", samples_txt);
  if (!strata.empty()) folder.write(zirk_formats::kStrataName, strata_txt);
  const auto orders =
      strata.empty() ? permutations(o.seed, o.permute, samples.ids.size())
                     : permutations_within(o.seed, o.permute, strata);
  for (std::size_t k = 0; k < orders.size(); ++k) {
    folder.write("expr.perm" + std::to_string(k + 1) + ".txt",
                 expression_text(genes, &orders[k]));
  }

  SkipLog variant_skips(
      {"not_in_snp_list", "not_pass", "multiallelic", "no_alt", "indel",
       "symbolic", "other_alleles", "r2_below", "hwe_below", "no_hwe", "no_gt",
       "missing_call", "haploid_call", "polyploid_call", "maf_below",
       "class_below_min_size"},
      kIdsListed);
  GenotypeMatrix matrix(samples.ids.size());
  std::FILE* snps_tsv = folder.open(zirk_formats::kSnpTableName);
  std::FILE* allele_txt = folder.open("allele.txt");
  std::fprintf(snps_tsv, "%s\n", zirk_formats::kSnpTableHeader);
  ProgressLine progress(log, !o.quiet);
  VariantCounts counts;
  try {
    counts = stream_variants(
        source, o, samples, o.snps.empty() ? nullptr : &snp_list, matrix,
        snps_tsv, allele_txt, variant_skips, progress, stop);
  } catch (...) {
    std::fclose(snps_tsv);
    std::fclose(allele_txt);
    progress.clear();
    throw;
  }
  folder.close(snps_tsv, zirk_formats::kSnpTableName);
  folder.close(allele_txt, "allele.txt");
  std::FILE* geno = folder.open("geno.txt");
  matrix.write(geno);
  folder.close(geno, "geno.txt");

  JsonWriter json;
  json.begin_object();
  json.key("program");
  json.string("zirk-import");
  json.key("inputs");
  json.begin_object();
  json.key("vcf");
  json.string(o.vcf);
  json.key("expression");
  json.string(o.expression);
  json.key("expression_layout");
  json.string(layout_name(table.layout));
  json.key("vcf_samples");
  json.integer(static_cast<std::int64_t>(vcf_samples.size()));
  json.key("expression_samples");
  json.integer(static_cast<std::int64_t>(table.samples.size()));
  json.key("variants_read");
  json.integer(static_cast<std::int64_t>(counts.read));
  json.key("genes_read");
  json.integer(static_cast<std::int64_t>(table.genes.size()));
  json.end_object();
  json.key("options");
  json.begin_object();
  optional_string(json, "region", o.region);
  optional_string(json, "snps", o.snps);
  optional_string(json, "genes", o.genes);
  optional_string(json, "samples", o.samples);
  json.key("maf");
  json.number(o.maf);
  json.key("pass_only");
  json.boolean(o.pass_only);
  json.key("min_class_size");
  json.integer(o.min_class_size);
  json.key("max_missing");
  json.number(o.max_missing);
  json.key("min_gp");
  json.number(o.min_gp);
  optional_number(json, "min_r2", o.min_r2);
  optional_string(json, "r2_field", counts.r2_field);
  optional_number(json, "hwe", o.hwe);
  json.key("values");
  json.string(scale_name(o.scale));
  json.key("pseudocount");
  json.number(o.pseudocount);
  json.key("min_expressed");
  json.number(o.min_expressed);
  optional_string(json, "covariates", o.covariates);
  optional_string(json, "strata", o.strata);
  optional_string(json, "strata_covariate", o.strata_covariate);
  json.key("normalise");
  json.string(o.inverse_normal ? "inverse-normal" : "none");
  json.key("permute");
  json.integer(o.permute);
  json.key("seed");
  json.string(std::to_string(o.seed));  // beyond 2^53 a JSON number loses it
  json.key("threads");
  json.integer(o.threads);
  json.end_object();
  json.key("snps");
  json.integer(static_cast<std::int64_t>(counts.kept));
  json.key("genes");
  json.integer(static_cast<std::int64_t>(genes.size()));
  json.key("samples");
  json.integer(static_cast<std::int64_t>(samples.ids.size()));
  write_calls(json, counts);
  write_covariates(json, design ? &*design : nullptr);
  write_transform(json, o, design.has_value());
  json.key("skipped");
  json.begin_object();
  write_skips(json, "variants", variant_skips);
  write_skips(json, "genes", gene_skips);
  write_skips(json, "samples", sample_skips);
  json.end_object();
  // Column j of expr.permK.txt holds the values of individual orders[K-1][j]
  // (a 0-based line of samples.txt).
  json.key("permutations");
  json.begin_array();
  for (const auto& order : orders) json.integer_row(order);
  json.end_array();
  json.end_object();
  folder.write("import.json", json.text());
  if (stop) throw ImportError("interrupted by a signal; nothing written");
  folder.commit();

  if (o.quiet) return;
  std::fprintf(log,
               "zirk-import: %zu SNPs (of %zu variants), %zu genes (of %zu), "
               "%zu samples written to %s\n",
               counts.kept, counts.read, genes.size(), table.genes.size(),
               samples.ids.size(), o.out.c_str());
  if (design || o.inverse_normal) {
    std::fprintf(log, "  expression: log10");
    if (design) {
      std::size_t imputed = 0;
      for (const auto& entry : design->imputed) imputed += entry.second;
      std::fprintf(log,
                   " residuals on %zu covariate columns (%zu NA imputed, %zu "
                   "categorical expanded, %zu dropped)",
                   design->names.size(), imputed, design->expanded.size(),
                   design->dropped.size());
    }
    if (o.inverse_normal) {
      std::fprintf(log, "%s inverse-normal (Blom, (r-3/8)/(n+1/4))",
                   design ? ", then" : "");
    }
    std::fputc('\n', log);
  }
  if (counts.filled > 0) {
    std::fprintf(log,
                 "  calls: %zu filled in %zu SNPs (%zu missing, %zu below "
                 "--min-gp)\n",
                 counts.filled, counts.filled_snps, counts.missing,
                 counts.uncertain);
  }
  print_skips(log, "variants", variant_skips);
  print_skips(log, "genes", gene_skips);
  print_skips(log, "samples", sample_skips);
  if (counts.kept == 0 || genes.size() < 2) {
    std::fprintf(log, "  warning: zirk needs at least one SNP and two genes\n");
  }
  std::fprintf(log, "  details: %s/import.json\n", o.out.c_str());
}

}  // namespace zirk_import
