#!/usr/bin/env bash
# Times zirk-import on the whole real example (85,485 SNVs x 358 people and
# the 608-gene expression BED, one thread), as it is and with the example's
# 53 covariates and the inverse-normal transform, against `bcftools query`
# printing every genotype of the same VCF, in interleaved rounds of one run,
# and prints the medians and their ratios (the goal: at most 2). Then the
# same VCF with 1 % of the calls missing and a GP field added to every call
# (as tests/import_cohort_check.py makes them: 2.5 % below 0.9), imported
# with --max-missing 0.05 --min-gp 0.9 against `bcftools query` over it.
#
# Usage: bench/import_bench.sh [rounds, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}

tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk-import >/dev/null
data=build/example-data
tools/example-data.sh "$data"
vcf=$data/genotypes.chr22.vcf.gz
bed=$data/genes.50percent.chr22.bed.gz
covariates=$data/genes.covariates.pc50.txt.gz
out=$(mktemp -d /tmp/import-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

# Prints "wall cpu" seconds of the command (bash's own timer; CPU is user +
# system, steadier than the wall clock on a loaded machine).
seconds() {
  local TIMEFORMAT='%R %U %S' t
  t=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  awk '{printf "%s %.3f\n", $1, $2 + $3}' <<<"$t"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

query=() import=() prepared=()
for ((r = 1; r <= rounds; ++r)); do
  query+=("$(seconds bcftools query -f '[%GT ]\n' "$vcf")")
  import+=("$(seconds build/import/zirk-import -v "$vcf" -e "$bed" \
    -o "$out/folder" --force -q)")
  prepared+=("$(seconds build/import/zirk-import -v "$vcf" -e "$bed" \
    -o "$out/folder" --force -q --pseudocount 0.01 -c "$covariates" \
    --normalise inverse-normal)")
done
for column in 1 2; do
  q=$(printf '%s\n' "${query[@]}" | cut -d' ' -f$column | median)
  i=$(printf '%s\n' "${import[@]}" | cut -d' ' -f$column | median)
  p=$(printf '%s\n' "${prepared[@]}" | cut -d' ' -f$column | median)
  kind=$([[ $column == 1 ]] && echo "wall-clock" || echo "CPU")
  echo "$kind seconds, median of $rounds rounds:"
  printf '  bcftools query [%%GT ]:            %.3f s\n' "$q"
  printf '  zirk-import:                      %.3f s\n' "$i"
  printf '  with covariates, inverse-normal:  %.3f s\n' "$p"
  awk -v i="$i" -v p="$p" -v q="$q" 'BEGIN {
    printf "  ratios:                           %.2f, %.2f (goal: at most 2)\n",
      i / q, p / q }'
done
echo "folder: $(($(wc -l <"$out/folder/snps.tsv") - 1)) SNPs"

gp=$data/genotypes.chr22.gp.vcf.gz
if [[ ! -s $gp ]]; then
  bcftools view "$vcf" | awk -F'\t' -v OFS='\t' 'BEGIN { srand(32) }
    /^##/ { print; next }
    /^#/ { print "##FORMAT=<ID=GP,Number=G,Type=Float,Description=\"probabilities\">"
           print; next }
    { $9 = "GT:GP"
      for (i = 10; i <= NF; ++i) {
        if (rand() < 0.01) { $i = "./.:."; continue }
        g = gsub(/1/, "1", $i)
        top = rand() < 0.025 ? 500 + int(rand() * 400) : 900 + int(rand() * 101)
        a = int(rand() * (1001 - top)); b = 1000 - top - a
        p0 = g == 0 ? top : a; p1 = g == 1 ? top : g == 0 ? a : b
        p2 = g == 2 ? top : b
        $i = sprintf("%s:%.3f,%.3f,%.3f", $i, p0 / 1000, p1 / 1000, p2 / 1000) }
      print }' | bgzip >"$gp.tmp"
  mv "$gp.tmp" "$gp"
fi
gp_query=() gp_import=()
for ((r = 1; r <= rounds; ++r)); do
  gp_query+=("$(seconds bcftools query -f '[%GT ]\n' "$gp")")
  gp_import+=("$(seconds build/import/zirk-import -v "$gp" -e "$bed" \
    -o "$out/gp" --force -q --max-missing 0.05 --min-gp 0.9)")
done
for column in 1 2; do
  q=$(printf '%s\n' "${gp_query[@]}" | cut -d' ' -f$column | median)
  i=$(printf '%s\n' "${gp_import[@]}" | cut -d' ' -f$column | median)
  kind=$([[ $column == 1 ]] && echo "wall-clock" || echo "CPU")
  echo "GP file, $kind seconds, median of $rounds rounds:"
  printf '  bcftools query [%%GT ]:            %.3f s\n' "$q"
  printf '  zirk-import --max-missing 0.05 --min-gp 0.9: %.3f s\n' "$i"
  awk -v i="$i" -v q="$q" 'BEGIN {
    printf "  ratio:                            %.2f (goal: at most 2)\n", i / q }'
done
echo "GP folder: $(($(wc -l <"$out/gp/snps.tsv") - 1)) SNPs," \
  "$(grep -m1 '"filled"' "$out/gp/import.json" | tr -dc 0-9) calls filled"
if [[ -x /usr/bin/time ]]; then
  /usr/bin/time -f 'peak memory of one more run: %M KiB' build/import/zirk-import \
    -v "$vcf" -e "$bed" -o "$out/folder" --force -q 2>&1 >/dev/null | tail -1
fi
