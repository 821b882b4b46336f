#!/usr/bin/env bash
# The whole path on real data: 1000 Genomes chr22 genotypes and
# lymphoblastoid expression of the same people (Debian's qtltools-example),
# imported, screened in SNP shards by the workflow on this machine together
# with ten permuted copies of the expression, and reported. Prints the top
# hits with SNP and gene IDs and the path of the report page.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk zirk-import zirk-report >/dev/null

out=out/demo
data=out/example-data
tools/example-data.sh "$data" >/dev/null
mkdir -p "$out"
# A region of chr22 against the first genes of the expression table keeps
# the demo to a minute or two on two cores.
zcat "$data/genes.50percent.chr22.bed.gz" |
  awk 'NR > 1 && NR <= 61 { print $4 }' >"$out/genes.txt"

start=$(date +%s)
snakemake -s workflow/Snakefile --profile workflow/profiles/local --quiet \
  --config vcf="$data/genotypes.chr22.vcf.gz" \
  expression="$data/genes.50percent.chr22.bed.gz" \
  region=chr22:20000000-20200000 genes="$out/genes.txt" pseudocount=0.01 \
  threshold=0.05 shard_snps=25 permutations=10 outdir="$out"
echo
echo "Workflow finished in $(($(date +%s) - start)) s."
echo "Top hits (hits.tsv), smallest IT p-value first:"
awk -F'\t' 'NR <= 11' "$out/report/hits.tsv" | cut -f1-12 | column -t -s $'\t'
echo
echo "Report: $PWD/$out/report/report.html"
