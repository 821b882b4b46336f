#include "pair_design.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "data_tables.h"
#include "genome_context.h"
#include "options.h"

namespace zirk_corr {

namespace {

// A gene table's placed genes of one chromosome, by start.
using Starts = std::vector<std::pair<std::int64_t, std::uint32_t>>;

}  // namespace

PairDesign PairDesign::cis(const zirk_report::DataFolder& data,
                           std::uint64_t window) {
  const std::string genes = data.dir + "/" + zirk_formats::kGeneTableName;
  const std::string snps = data.dir + "/" + zirk_formats::kSnpTableName;
  std::map<std::string, Starts> chromosomes;
  for (std::size_t g = 0; g < data.genes.size(); ++g) {
    const zirk_report::GeneInfo& gene = data.genes[g];
    const auto start = zirk_report::table_position(gene.start);
    if (!start) continue;
    chromosomes[gene.chrom].emplace_back(*start, static_cast<std::uint32_t>(g));
  }
  if (chromosomes.empty()) {
    throw CorrError(genes + ": no gene has a start; --cis-window needs them");
  }
  for (auto& [chrom, starts] : chromosomes) std::sort(starts.begin(), starts.end());
  // Within the window: |position - start| <= window, as the report's cis.
  const auto w = static_cast<std::int64_t>(
      std::min<std::uint64_t>(window, std::uint64_t{1} << 62));
  PairDesign d;
  d.offsets_.assign(1, 0);
  bool placed = false;
  for (const zirk_report::SnpInfo& snp : data.snps) {
    const auto pos = zirk_report::table_position(snp.pos);
    const auto chrom = chromosomes.find(snp.chrom);
    if (pos) placed = true;
    if (pos && chrom != chromosomes.end()) {
      const Starts& starts = chrom->second;
      const auto lo = std::lower_bound(
          starts.begin(), starts.end(),
          std::pair<std::int64_t, std::uint32_t>(*pos - w, 0));
      const std::size_t from = d.genes_.size();
      for (auto it = lo; it != starts.end() && it->first <= *pos + w; ++it) {
        d.genes_.push_back(it->second);
      }
      std::sort(d.genes_.begin() + static_cast<std::ptrdiff_t>(from),
                d.genes_.end());
    }
    d.offsets_.push_back(d.genes_.size());
  }
  if (!placed) {
    throw CorrError(snps + ": no SNP has a position; --cis-window needs them");
  }
  if (d.genes_.empty()) {
    throw CorrError(snps + ": no SNP lies within " + std::to_string(window) +
                    " bp of a gene's start in " + genes +
                    "; the design tests no pair");
  }
  return d;
}

PairDesign PairDesign::anchors(const zirk_report::DataFolder& data,
                               const std::string& path, std::FILE* messages) {
  std::ifstream in(path);
  if (!in) throw CorrError(path + ": cannot open");
  std::unordered_map<std::string, std::vector<std::uint32_t>> snpIndex;
  std::unordered_map<std::string, std::vector<std::uint32_t>> geneIndex;
  for (std::size_t s = 0; s < data.snps.size(); ++s) {
    snpIndex[data.snps[s].id].push_back(static_cast<std::uint32_t>(s));
  }
  for (std::size_t g = 0; g < data.genes.size(); ++g) {
    geneIndex[data.genes[g].id].push_back(static_cast<std::uint32_t>(g));
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> anchored;
  std::uint64_t line = 0, unknownSnp = 0, unknownGene = 0;
  std::string text, firstUnknown;
  while (std::getline(in, text)) {
    ++line;
    const std::size_t tab = text.find('\t');
    if (tab == 0 || tab == std::string::npos || tab + 1 == text.size() ||
        text.find('\t', tab + 1) != std::string::npos) {
      throw CorrError(path + ": line " + std::to_string(line) +
                      ": expected SNP_ID<TAB>GENE_ID");
    }
    const auto snp = snpIndex.find(text.substr(0, tab));
    const auto gene = geneIndex.find(text.substr(tab + 1));
    if (snp == snpIndex.end() || gene == geneIndex.end()) {
      if (firstUnknown.empty()) {
        firstUnknown = "line " + std::to_string(line) + ": unknown " +
                       (snp == snpIndex.end() ? "SNP ID '" + text.substr(0, tab)
                                              : "gene ID '" + text.substr(tab + 1)) +
                       "'";
      }
      ++(snp == snpIndex.end() ? unknownSnp : unknownGene);
      continue;
    }
    for (std::uint32_t s : snp->second) {
      for (std::uint32_t g : gene->second) anchored.emplace_back(s, g);
    }
  }
  if (in.bad()) throw CorrError(path + ": cannot read");
  if (line == 0) throw CorrError(path + ": no lines; the design tests no pair");
  if (anchored.empty()) {
    throw CorrError(path + ": " + firstUnknown +
                    " (no line names a known SNP and gene of " + data.dir +
                    "; the design tests no pair)");
  }
  if ((unknownSnp != 0 || unknownGene != 0) && messages != nullptr) {
    std::fprintf(messages,
                 "zirk-corr: %s: %llu of %llu lines left out: %llu name an "
                 "unknown SNP ID, %llu an unknown gene ID (first: %s)\n",
                 path.c_str(),
                 static_cast<unsigned long long>(unknownSnp + unknownGene),
                 static_cast<unsigned long long>(line),
                 static_cast<unsigned long long>(unknownSnp),
                 static_cast<unsigned long long>(unknownGene),
                 firstUnknown.c_str());
  }
  std::sort(anchored.begin(), anchored.end());
  anchored.erase(std::unique(anchored.begin(), anchored.end()), anchored.end());
  PairDesign d;
  d.offsets_.assign(data.snps.size() + 1, 0);
  for (const auto& [s, g] : anchored) {
    ++d.offsets_[s + 1];
    d.genes_.push_back(g);
  }
  for (std::size_t s = 0; s < data.snps.size(); ++s) {
    d.offsets_[s + 1] += d.offsets_[s];
  }
  return d;
}

}  // namespace zirk_corr
