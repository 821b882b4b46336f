#!/usr/bin/env bash
# Times zirk-import on the whole real example (85,485 SNVs x 358 people and
# the 608-gene expression BED, one thread) against `bcftools query` printing
# every genotype of the same VCF, in interleaved rounds of one run, and
# prints the medians and their ratio (the goal: at most 2).
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
out=$(mktemp -d /tmp/import-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

seconds() {  # wall-clock seconds of the command
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f\n", b - a}'
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

query=() import=()
for ((r = 1; r <= rounds; ++r)); do
  query+=("$(seconds bcftools query -f '[%GT ]\n' "$vcf")")
  import+=("$(seconds build/import/zirk-import -v "$vcf" -e "$bed" \
    -o "$out/folder" --force -q)")
done
q=$(printf '%s\n' "${query[@]}" | median)
i=$(printf '%s\n' "${import[@]}" | median)
printf 'bcftools query [%%GT ]: %.3f s (median of %d)\n' "$q" "$rounds"
printf 'zirk-import:           %.3f s (median of %d)\n' "$i" "$rounds"
awk -v i="$i" -v q="$q" 'BEGIN {printf "ratio:                 %.2f (goal: at most 2)\n", i / q}'
echo "folder: $(($(wc -l <"$out/folder/snps.tsv") - 1)) SNPs"
if [[ -x /usr/bin/time ]]; then
  /usr/bin/time -f 'peak memory of one more run: %M KiB' build/import/zirk-import \
    -v "$vcf" -e "$bed" -o "$out/folder" --force -q 2>&1 >/dev/null | tail -1
fi
