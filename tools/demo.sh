#!/usr/bin/env bash
# The whole path on real data: 1000 Genomes chr22 genotypes and
# lymphoblastoid expression of the same people (Debian's qtltools-example),
# imported with the example's covariates (3 genotype and 50 expression
# principal components) regressed out and each gene inverse-normal
# transformed (the workflow's default), screened in SNP shards by the
# workflow on this machine together with ten permuted copies of the
# expression, by zirk and zirk-corr, and reported. Prints the top hits of
# each family with SNP and gene IDs and their diagnosis, and the path of the
# report page.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk zirk-import zirk-report zirk-corr >/dev/null

out=out/demo
data=out/example-data
tools/example-data.sh "$data" >/dev/null
mkdir -p "$out"
# Two regions of chr22 against the first genes of the expression table keep
# the demo to a few minutes on two cores. They run as a genome-wide run, one
# import each and one report: the first lies within a megabase of some of
# the genes (cis hits), the second far from all of them (trans).
zcat "$data/genes.50percent.chr22.bed.gz" |
  awk 'NR > 1 && NR <= 41 { print $4 }' >"$out/genes.txt"
printf 'chr22\t20100000\t20200000\nchr22\t35000000\t35050000\n' >"$out/regions.bed"

start=$(date +%s)
# Snakemake's own log goes to a file; the terminal shows its progress lines
# and any error.
status=0
snakemake -s workflow/Snakefile --profile workflow/profiles/local \
  --config vcf="$data/genotypes.chr22.vcf.gz" \
  expression="$data/genes.50percent.chr22.bed.gz" \
  covariates="$data/genes.covariates.pc50.txt.gz" \
  region="$out/regions.bed" genes="$out/genes.txt" pseudocount=0.01 \
  threshold=0.05 shard_snps=50 permutations=10 top=10 outdir="$out" \
  >"$out/workflow.log" 2>&1 &
runner=$!
tail -n +1 -f --pid="$runner" "$out/workflow.log" |
  grep --line-buffered -E 'steps \(|Error' || true
wait "$runner" || status=$?
if ((status != 0)); then
  echo "The workflow failed; its log: $out/workflow.log" >&2
  exit 1
fi
echo "Workflow finished in $(($(date +%s) - start)) s."
echo
echo "The ten smallest p-values of each family, IT, trend and het (of" \
  "$(($(wc -l <"$out/data/snps.tsv") - 1)) SNPs x $(($(wc -l <"$out/data/genes.tsv") - 1))" \
  "genes), with BH q-values, the"
echo "empirical FDR from ten permutations and whether one gene's own effect is stronger:"
awk -F'\t' -v OFS='\t' '
  NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i }
  { print $column["family"], $column["snp_id"], $column["gene1_id"],
      $column["gene2_id"], $column["log10_p_it"], $column["log10_p_trend"],
      $column["log10_p_het"], $column["q_bh"], $column["empirical_fdr"],
      $column["context"], $column["single_gene_stronger"] }' "$out/report/hits.tsv" |
  column -t -s $'\t'
echo
echo "Report: $PWD/$out/report/report.html"
