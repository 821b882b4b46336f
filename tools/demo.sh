#!/usr/bin/env bash
# The whole path on real data: 1000 Genomes chr22 genotypes and
# lymphoblastoid expression of the same people (Debian's qtltools-example),
# imported with the example's covariates (3 genotype and 50 expression
# principal components) regressed out and each gene inverse-normal
# transformed (the workflow's default), screened in SNP shards by the
# workflow on this machine together with ten permuted copies of the
# expression, by zirk and zirk-corr, and reported. Prints the top hits of
# each family with SNP and gene IDs and their diagnosis, the loci they form,
# and the path of the report page.
set -euo pipefail
cd "$(dirname "$0")/.."
out=out/demo
data=out/example-data
logs=$out/logs
mkdir -p "$logs"

# One line per stage on the terminal; each stage's own output goes to a log
# that is named, with its last lines, when the stage fails.
stage_failed() {
  echo " failed." >&2
  echo "Error: $1; the details are in $2" >&2
  tail -n 15 "$2" | sed 's/^/  /' >&2
  exit 1
}
minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

tools/setup.sh

printf 'Building zirk, zirk-import, zirk-corr and zirk-report...' >&2
start=$SECONDS
{ cmake -S . -B build -DCMAKE_BUILD_TYPE=Release &&
  cmake --build build -j2 --target zirk zirk-import zirk-report zirk-corr; } \
  >"$logs/build.log" 2>&1 || stage_failed "the build failed" "$logs/build.log"
echo " done in $(minutes $((SECONDS - start)))." >&2

printf 'Unpacking the example data (1000 Genomes chr22, 358 people)...' >&2
tools/example-data.sh "$data" >"$logs/example-data.log" 2>&1 ||
  stage_failed "unpacking the example data failed" "$logs/example-data.log"
echo " done." >&2

# Two regions of chr22 against the first genes of the expression table keep
# the demo to a few minutes on two cores. They run as a genome-wide run, one
# import each and one report: the first lies within a megabase of some of
# the genes (cis hits), the second far from all of them (trans).
zcat "$data/genes.50percent.chr22.bed.gz" |
  awk 'NR > 1 && NR <= 41 { print $4 }' >"$out/genes.txt"
printf 'chr22\t20100000\t20200000\nchr22\t35000000\t35050000\n' >"$out/regions.bed"

start=$SECONDS
# Snakemake's own log goes to a file. On a terminal one line follows its
# progress ("12 of 40 steps (30%) done"), rewritten in place.
snakemake -s workflow/Snakefile --profile workflow/profiles/local \
  --config vcf="$data/genotypes.chr22.vcf.gz" \
  expression="$data/genes.50percent.chr22.bed.gz" \
  covariates="$data/genes.covariates.pc50.txt.gz" \
  region="$out/regions.bed" genes="$out/genes.txt" pseudocount=0.01 \
  threshold=0.05 shard_snps=50 permutations=10 top=10 outdir="$out" \
  >"$logs/workflow.log" 2>&1 &
runner=$!
printf 'Running the workflow: import, screens of the data and ten permuted copies, report...' >&2
if [[ -t 2 ]]; then
  tail -n +1 -f --pid="$runner" "$logs/workflow.log" |
    grep --line-buffered -oE '[0-9]+ of [0-9]+ steps \([0-9]+%\) done' |
    while IFS= read -r progress; do
      printf '\r\033[KRunning the workflow: %s' "$progress" >&2
    done || true
fi
status=0
wait "$runner" || status=$?
((status == 0)) || stage_failed "the workflow failed" "$logs/workflow.log"
[[ -t 2 ]] && printf '\r\033[KRunning the workflow:' >&2
echo " done in $(minutes $((SECONDS - start)))." >&2
echo
echo "The five smallest p-values of each family, IT, trend and het (of" \
  "$(($(wc -l <"$out/data/snps.tsv") - 1)) SNPs x $(($(wc -l <"$out/data/genes.tsv") - 1))" \
  "genes), with BH q-values, the"
echo "empirical FDR from ten permutations and whether one gene's own effect is stronger:"
awk -F'\t' -v OFS='\t' '
  NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i }
  NR == 1 || shown[$column["family"]]++ < 5 { print $column["family"], $column["snp_id"], $column["gene1_id"],
      $column["gene2_id"], $column["log10_p_it"], $column["log10_p_trend"],
      $column["log10_p_het"], $column["q_bh"], $column["empirical_fdr"],
      $column["context"], $column["single_gene_stronger"] }' "$out/report/hits.tsv" |
  column -t -s $'\t'
echo
echo "The three strongest loci of each family (loci.tsv): each lead with the hits"
echo "of its family and pair within 1 Mb whose SNPs have r2 >= 0.2 with its SNP:"
awk -F'\t' -v OFS='\t' '
  NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i }
  NR == 1 || shown[$column["family"]]++ < 3 { print $column["locus"], $column["family"], $column["snp_id"],
      $column["gene1_id"], $column["gene2_id"], $column["snps"],
      $column["first_pos"], $column["last_pos"] }' "$out/report/loci.tsv" |
  column -t -s $'\t'
echo
echo "Report, with a figure of each locus: $PWD/$out/report/report.html"
