#!/usr/bin/env bash
# Reading speed and peak memory of zirk-report on a screen-sized result file.
#
# Simulates n = 200 individuals, SNPS SNPs and 1000 genes (499,500 pairs per
# SNP; the default 200 SNPs give 99.9 million rows, about 3 GB of text),
# screens them with zirk at an MC threshold of 1e-4, and times, one after
# the other in the same run: `cat` and `zstd -dc` of the file (what reading
# alone costs), zirk-report --summary on the plain and on the zstd file, and
# the whole report folder. Prints rows per second of wall and of CPU time
# (user + system; the machine may be shared) and the peak resident memory
# from GNU time. Everything is made in SCRATCH (default: a fresh folder
# under /tmp) and removed at the end.
# Usage: bench/report_bench.sh [SNPS] [SCRATCH]
set -euo pipefail
cd "$(dirname "$0")/.."
snps=${1:-200}
scratch=${2:-$(mktemp -d /tmp/zirk-report-bench.XXXXXX)}
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk zirk-simulate zirk-report >/dev/null

build/zirk-simulate --seed 11 --individuals 200 --snps "$snps" --genes 1000 \
  --out "$scratch/data" >/dev/null
echo 0.0001 | build/zirk -g "$scratch/data/genotype.txt" \
  -e "$scratch/data/expression.txt" -a "$scratch/data/allele.txt" \
  -o "$scratch/results.txt" >/dev/null
zstd -q -T2 -3 "$scratch/results.txt" -o "$scratch/results.txt.zst"
rows=$(($(wc -l <"$scratch/results.txt") - 3))
echo "result file: $rows rows, $(du -m "$scratch/results.txt" | cut -f1) MB plain," \
  "$(du -m "$scratch/results.txt.zst" | cut -f1) MB zstd"

# measure NAME COMMAND...: wall and CPU seconds and peak memory of COMMAND.
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$scratch/time" "$@" >/dev/null
  read -r wall user sys kb <"$scratch/time"
  awk -v n="$name" -v r="$rows" -v w="$wall" -v u="$user" -v s="$sys" -v k="$kb" 'BEGIN {
    printf "%-28s %7.2f s wall %7.2f s cpu %6.1f M rows/s wall %6.1f M rows/s cpu %7.0f MiB peak\n",
      n, w, u + s, r / w / 1e6, r / (u + s) / 1e6, k / 1024 }'
}
measure "cat (read only)" cat "$scratch/results.txt"
measure "zstd -dc (decode only)" zstd -dc "$scratch/results.txt.zst"
measure "summary, plain" build/report/zirk-report --summary "$scratch/a.sum" "$scratch/results.txt"
measure "summary, zstd" build/report/zirk-report --summary "$scratch/b.sum" "$scratch/results.txt.zst"
cmp -s "$scratch/a.sum" "$scratch/b.sum" || { echo "plain and zstd summaries differ" >&2; exit 1; }
measure "report folder, plain" build/report/zirk-report --out "$scratch/report" "$scratch/results.txt"
echo "summary file: $(du -k "$scratch/a.sum" | cut -f1) KiB"
