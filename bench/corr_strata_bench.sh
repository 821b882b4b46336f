#!/usr/bin/env bash
# What strata cost zirk-corr: the same simulated data (n = 358, 1000 genes,
# 499,500 pairs per SNP) without strata and with 2 and 4 strata of equal
# size (individual i in stratum i mod K), one thread, rows written to a
# file, in ROUNDS rounds (default 5) that run the three back to back in an
# order rotating from round to round, so that a slow spell of a shared
# machine falls on all of them. Reported: each variant's median and best
# wall time, and the median, lowest and highest of the rounds' ratios of
# each variant with strata to the one without.
# Everything is made in SCRATCH (default: a fresh folder under /tmp) and
# removed at the end.
# Usage: bench/corr_strata_bench.sh [SNPS] [SCRATCH]
set -euo pipefail
cd "$(dirname "$0")/.."
snps=${1:-10}
scratch=${2:-$(mktemp -d /tmp/zirk-corr-strata-bench.XXXXXX)}
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
# As in corr_bench.sh: zirk-corr's workers call BLAS single-threaded.
export OPENBLAS_NUM_THREADS=1
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target zirk-corr zirk-simulate >/dev/null

data=$scratch/data
build/zirk-simulate --seed 21 --individuals 358 --snps "$snps" --genes 1000 \
  --out "$data" >/dev/null
rows=$((snps * 499500))
inputs=(-g "$data/genotype.txt" -e "$data/expression.txt" -a "$data/allele.txt")
for k in 2 4; do
  awk -v k="$k" 'BEGIN { for (i = 0; i < 358; i++) print "group" i % k }' \
    >"$scratch/strata$k.txt"
done

echo "n = 358, 1000 genes, $snps SNPs: $rows rows; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
rounds=${ROUNDS:-5}
variants=(none 2 4)
for ((round = 0; round < rounds; ++round)); do
  for ((i = 0; i < 3; ++i)); do
    variant=${variants[(round + i) % 3]}
    extra=()
    [[ $variant == none ]] || extra=(--strata "$scratch/strata$variant.txt")
    rm -f "$scratch/rows.tsv"
    /usr/bin/time -f "$round $variant %e" -a -o "$scratch/rounds" \
      build/corr/zirk-corr "${inputs[@]}" "${extra[@]}" -t 1 \
      -o "$scratch/rows.tsv" >/dev/null
  done
done
# median FILE: the middle of the numbers in FILE (the lower of the two
# middle ones for an even count).
median() { sort -g "$1" | sed -n "$(((rounds + 1) / 2))p"; }
for variant in "${variants[@]}"; do
  awk -v v="$variant" '$2 == v { print $3 }' "$scratch/rounds" >"$scratch/$variant.walls"
  name="$variant strata"
  [[ $variant != none ]] || name="no strata"
  awk -v name="$name" -v r="$rows" -v n="$rounds" -v m="$(median "$scratch/$variant.walls")" \
    -v b="$(sort -g "$scratch/$variant.walls" | head -1)" 'BEGIN {
    printf "%-10s median %6.2f s (%5.2f M rows/s), best %6.2f s (%d rounds)\n",
      name, m, r / m / 1e6, b, n }'
done
for variant in 2 4; do
  awk -v v="$variant" '{ wall[$1, $2] = $3 }
    END { for (r = 0; wall[r, "none"] != ""; ++r) print wall[r, v] / wall[r, "none"] }' \
    "$scratch/rounds" >"$scratch/ratios$variant"
  awk -v v="$variant" -v m="$(median "$scratch/ratios$variant")" \
    -v lo="$(sort -g "$scratch/ratios$variant" | head -1)" \
    -v hi="$(sort -g "$scratch/ratios$variant" | tail -1)" 'BEGIN {
    printf "%s strata / none (wall, paired by round): median %.2f, range %.2f-%.2f\n",
      v, m, lo, hi }'
done
